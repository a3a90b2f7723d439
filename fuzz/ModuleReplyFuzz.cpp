// Fuzz entry for the temperature module's replies: any bytes as what the line brought back.
// A reading is NoTemperature for a reply of another kind, else a finite number five
// characters can write, and so is a calibration; what the module writes for a temperature or
// a calibration in its range must read back as that value.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "controller/Convert.h"
#include "controller/ModuleReply.h"
#include "sim/SimModule.h"

namespace {

using namespace morvane;

void Check(bool holds) {
  if (!holds) std::abort();
}

// The reply's reading, or nothing when its field is no number.
std::optional<double> Temperature(const std::string& reply) {
  try {
    return TemperatureOfReply(reply);
  } catch (const EConvertError&) {
    return std::nullopt;
  }
}

std::optional<int32_t> Calibration(const std::string& reply, const char* header) {
  try {
    return CalibrationOfReply(reply, header);
  } catch (const EConvertError&) {
    return std::nullopt;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string reply(reinterpret_cast<const char*>(data), size);
  const bool temperatureReply = reply.starts_with("MRV09");
  const std::string field = reply.substr(std::min<std::size_t>(5, size), 5);

  if (const std::optional<double> t = Temperature(reply)) {
    if (!temperatureReply) {
      Check(*t == NoTemperature);
    } else {
      Check(std::isfinite(*t));
      // Without an exponent five characters hold nothing beyond -9999 and 99999.
      if (field.find_first_of("eE") == std::string::npos) Check(*t >= -9999 && *t <= 99999);
    }
  } else {
    Check(temperatureReply);
  }
  // Compensation's reading of the same reply: the same value, or none for a garbled field.
  Check(TemperatureOfReplyOrNone(reply) == Temperature(reply).value_or(NoTemperature));

  // Five characters of decimal or hexadecimal digits hold no more than this either.
  if (const std::optional<int32_t> cal = Calibration(reply, "MRV05"))
    Check(reply.starts_with("MRV05") && *cal >= -9999 && *cal <= 99999);

  // The module's own writing of a value taken from the input, read back.
  if (size >= 4) {
    std::int16_t tenths = 0;
    std::int32_t code = 0;
    std::memcpy(&tenths, data, sizeof tenths);
    std::memcpy(&code, data, sizeof code);
    const double celsius = std::clamp(tenths / 10.0, -99.9, 999.9);
    const std::optional<double> read =
        Temperature("MRV09" + sim::TSimModule::TemperatureField(celsius));
    Check(read && std::fabs(*read - celsius) < 0.051);
    const int32_t written = std::clamp<int32_t>(code % 100000, -9999, 99999);
    const std::optional<int32_t> back =
        Calibration("MRV07" + sim::TSimModule::CalField(written), "MRV07");
    Check(back && *back == written);
  }
  return 0;
}
