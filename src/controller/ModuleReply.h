#pragma once
// What the temperature module's ten-character replies carry: "MRV" and a two-digit code,
// then a five-character field. Read here without the port, since the line may bring anything.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace morvane {

// The reading GetTemperature gives when the module did not answer with one.
inline constexpr double NoTemperature = -100.0;

// The temperature of a reply to "MRV08?????": the field after "MRV09" in degrees Celsius, or
// NoTemperature for any other reply. Raises EConvertError when the field is no number.
double TemperatureOfReply(const std::string& reply);
// The same, with NoTemperature for a field that is no number.
double TemperatureOfReplyOrNone(const std::string& reply);

// The calibration a reply beginning with header ("MRV05" or "MRV07") carries; nothing for a
// reply with another beginning. Raises EConvertError when the field is no integer.
std::optional<int32_t> CalibrationOfReply(const std::string& reply, std::string_view header);

}  // namespace morvane
