#include "controller/ModuleReply.h"

#include "controller/Convert.h"

namespace morvane {

namespace {
constexpr std::size_t HeaderLength = 5;
constexpr std::size_t FieldLength = 5;
}  // namespace

double TemperatureOfReply(const std::string& reply) {
  if (reply.compare(0, HeaderLength, "MRV09") != 0) return NoTemperature;
  return StrToFloat(reply.substr(HeaderLength, FieldLength));
}

double TemperatureOfReplyOrNone(const std::string& reply) {
  try {
    return TemperatureOfReply(reply);
  } catch (const EConvertError&) {
    return NoTemperature;
  }
}

std::optional<int32_t> CalibrationOfReply(const std::string& reply, std::string_view header) {
  if (reply.compare(0, HeaderLength, header) != 0) return std::nullopt;
  return StrToInt(reply.substr(HeaderLength, FieldLength));
}

}  // namespace morvane
