#include "sim/SimHandset.h"

namespace morvane::sim {

namespace {
// Longer than any command the handset knows: a frame this long is noise.
constexpr size_t MaxFrame = 16;
}  // namespace

std::optional<THandsetCommand> TSimHandset::Receive(char c) {
  if (c == ':') {
    FInFrame = true;
    FFrame.clear();
    return std::nullopt;
  }
  if (!FInFrame) return std::nullopt;
  if (c != '#') {
    if (FFrame.size() >= MaxFrame) {
      FInFrame = false;
    } else {
      FFrame.push_back(c);
    }
    return std::nullopt;
  }
  FInFrame = false;
  if (FFrame == "F-") return THandsetCommand::DriveUp;
  if (FFrame == "F+") return THandsetCommand::DriveDown;
  if (FFrame == "FQ") return THandsetCommand::Stop;
  if (FFrame == "FS") return THandsetCommand::Slow;
  if (FFrame == "FF") return THandsetCommand::Fast;
  return std::nullopt;
}

}  // namespace morvane::sim
