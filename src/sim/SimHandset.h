#pragma once
// The LX-200 handset's reading of the focus commands in the byte stream: ":F-#", ":F+#",
// ":FQ#", ":FS#" and ":FF#". Bytes outside a ":...#" frame (the keep-alive "5", module
// requests) and frames it does not know are passed over; a ':' always starts a new frame, so
// a broken frame costs only itself.

#include <optional>
#include <string>

namespace morvane::sim {

enum class THandsetCommand {
  DriveUp,    // ":F-#": the direction in which the count rises
  DriveDown,  // ":F+#"
  Stop,       // ":FQ#"
  Slow,       // ":FS#"
  Fast        // ":FF#"
};

class TSimHandset {
 public:
  // Takes one received byte; returns the command it completes, if any.
  std::optional<THandsetCommand> Receive(char c);

 private:
  bool FInFrame = false;
  std::string FFrame;
};

}  // namespace morvane::sim
