#pragma once
// The temperature-compensation module on the focuser's line: it picks its ten-character
// requests ("MRV" + even code + five data characters, then CR) out of the byte stream and
// says what it answers and when. Timing on the wire and the line itself are the focuser's;
// time is in seconds on the focuser's clock. Not thread-safe.

#include <optional>
#include <string>

#include "sim/SimParams.h"

namespace morvane::sim {

struct TModuleReply {
  std::string Text;
  double Delay = 0;  // seconds from the end of the request to the first character
};

class TSimModule {
 public:
  TSimModule(const TSimParams& params, double t);

  // Takes one byte from the line; returns a complete request frame (ten characters) at CR.
  std::optional<std::string> Receive(char c);
  // Acts on a request received at time t and returns the reply, if the module gives one.
  std::optional<TModuleReply> Answer(const std::string& request, double t);

  void SetMode(TModuleMode mode) { FMode = mode; }
  TModuleMode Mode() const { return FMode; }
  void SetTemperature(double celsius, double t);
  double Temperature(double t) const;
  int32_t Cal() const { return FCal; }
  void SetCal(int32_t value);
  // The next request this text belongs to is answered with exactly it, whatever the mode:
  // a text with a code ("MRV" and two digits) answers the next request of that code less
  // one (odd) or of that code (even), so availability probes in between keep their own
  // answers; a text without one answers the next request of any kind.
  void SetNextReply(const std::string& reply) { FNextReply = reply; }

  // The data fields as the module writes them: five characters each, read by a decimal
  // conversion ("00250", "-0012"; "012.5", "-03.2").
  static std::string CalField(int32_t value);
  static std::string TemperatureField(double celsius);

 private:
  std::optional<std::string> Proper(const std::string& request, double t);
  bool ForcedReplyFits(const std::string& request) const;

  TModuleMode FMode;
  std::string FFirmware;
  int32_t FCal = 0;
  double FTempBase, FTempSince, FDriftPerHour;
  double FLatency, FSlowDelay;
  size_t FShortLength;
  std::optional<std::string> FNextReply;
  std::string FLine;  // bytes since the last CR
};

}  // namespace morvane::sim
