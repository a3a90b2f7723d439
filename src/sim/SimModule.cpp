#include "sim/SimModule.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace morvane::sim {

namespace {
constexpr size_t FrameLength = 10;
// A line longer than this without CR is noise; only its tail can hold a request.
constexpr size_t MaxLine = 64;
// What a five-character field can show.
constexpr int32_t MinCal = -9999, MaxCal = 99999;
constexpr double MinTemp = -99.9, MaxTemp = 999.9;
// A reply at a wrong baud rate: every byte scrambled, none of them CR or NUL.
constexpr char GarbleMask = 0x5A;
}  // namespace

TSimModule::TSimModule(const TSimParams& params, double t)
    : FMode(params.ModuleMode),
      FFirmware(params.ModuleFirmware),
      FTempBase(params.Temperature),
      FTempSince(t),
      FDriftPerHour(params.TemperatureDrift),
      FLatency(params.ModuleLatencyUs / 1e6),
      FSlowDelay(params.ModuleSlowDelayUs / 1e6),
      FShortLength(static_cast<size_t>(std::max(params.ModuleShortLength, 0))) {
  FFirmware.resize(5, '0');
  SetCal(params.ModuleCal);
}

std::optional<std::string> TSimModule::Receive(char c) {
  if (c != '\r') {
    if (FLine.size() >= MaxLine) FLine.erase(0, FLine.size() - FrameLength);
    FLine.push_back(c);
    return std::nullopt;
  }
  std::string line;
  line.swap(FLine);
  const size_t at = line.rfind("MRV");
  if (at == std::string::npos || line.size() - at != FrameLength) return std::nullopt;
  return line.substr(at);
}

bool TSimModule::ForcedReplyFits(const std::string& request) const {
  const std::string& reply = *FNextReply;
  if (reply.size() < 5 || reply.compare(0, 3, "MRV") != 0 ||
      !std::isdigit(static_cast<unsigned char>(reply[3])) ||
      !std::isdigit(static_cast<unsigned char>(reply[4])))
    return true;
  // A reply carries its request's code plus one; an even code is taken as the request's own.
  const int code = (reply[3] - '0') * 10 + (reply[4] - '0');
  const int wanted = code % 2 ? code - 1 : code;
  return request.size() >= 5 && std::isdigit(static_cast<unsigned char>(request[3])) &&
         std::isdigit(static_cast<unsigned char>(request[4])) &&
         (request[3] - '0') * 10 + (request[4] - '0') == wanted;
}

std::optional<TModuleReply> TSimModule::Answer(const std::string& request, double t) {
  std::optional<std::string> forced;
  if (FNextReply && ForcedReplyFits(request)) forced.swap(FNextReply);
  // A module that is not on the line neither hears nor acts.
  std::optional<std::string> proper =
      FMode == TModuleMode::Absent ? std::nullopt : Proper(request, t);
  if (forced) return TModuleReply{*forced, FLatency};
  if (!proper) return std::nullopt;
  switch (FMode) {
    case TModuleMode::Present:
      return TModuleReply{*proper, FLatency};
    case TModuleMode::Absent:
    case TModuleMode::Silent:
      return std::nullopt;
    case TModuleMode::Garbled: {
      std::string text = *proper;
      for (char& c : text) c = static_cast<char>(c ^ GarbleMask);
      return TModuleReply{text, FLatency};
    }
    case TModuleMode::Slow:
      return TModuleReply{*proper, FLatency + FSlowDelay};
    case TModuleMode::Short:
      return TModuleReply{proper->substr(0, std::min(FShortLength, proper->size())), FLatency};
  }
  return std::nullopt;
}

std::optional<std::string> TSimModule::Proper(const std::string& request, double t) {
  if (request.size() != FrameLength || request.compare(0, 3, "MRV") != 0) return std::nullopt;
  const std::string code = request.substr(3, 2);
  const std::string data = request.substr(5);
  if (code == "00") return "MRV01" + FFirmware;
  if (code == "02") return std::string("MRV03YES!!");
  if (code == "04") return "MRV05" + CalField(FCal);
  if (code == "06") {
    // Five digits, or a minus and four.
    const size_t first = data[0] == '-' ? 1 : 0;
    if (!std::all_of(data.begin() + static_cast<long>(first), data.end(),
                     [](char c) { return std::isdigit(static_cast<unsigned char>(c)); }))
      return std::nullopt;
    SetCal(std::stoi(data));
    return "MRV07" + CalField(FCal);
  }
  if (code == "08") return "MRV09" + TemperatureField(Temperature(t));
  return std::nullopt;
}

void TSimModule::SetTemperature(double celsius, double t) {
  FTempBase = celsius;
  FTempSince = t;
}

double TSimModule::Temperature(double t) const {
  return FTempBase + FDriftPerHour * (t - FTempSince) / 3600.0;
}

void TSimModule::SetCal(int32_t value) {
  FCal = std::clamp(value, MinCal, MaxCal);
}

std::string TSimModule::CalField(int32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "%05d", static_cast<int>(std::clamp(value, MinCal, MaxCal)));
  return text;
}

std::string TSimModule::TemperatureField(double celsius) {
  char text[16];
  std::snprintf(text, sizeof text, "%05.1f", std::clamp(celsius, MinTemp, MaxTemp));
  return text;
}

}  // namespace morvane::sim
