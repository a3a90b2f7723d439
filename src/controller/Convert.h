#pragma once
// Number conversions with the framework's error texts. They read what a module or a user
// wrote: a full stop is the only decimal separator here, whatever the locale.

#include <cstdint>
#include <stdexcept>
#include <string>

namespace morvane {

class EConvertError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Decimal with optional blanks before and a sign, or hexadecimal with "$" or "0x"; raises
// "'<text>' is not a valid integer value".
int32_t StrToInt(const std::string& text);
// Blanks around, sign, digits with one ".", optional exponent; raises
// "'<text>' is not a valid floating point value".
double StrToFloat(const std::string& text);

}  // namespace morvane
