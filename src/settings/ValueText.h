#pragma once
// The value texts of the settings file: integers, flags and locale-dependent decimal numbers.

#include <optional>
#include <string>
#include <string_view>

namespace morvane {

// The decimal separator of the numeric locale (LC_NUMERIC) in force for the calling thread at
// this moment; "." when the locale gives none.
std::string DecimalSeparator();

// A whole number in decimal, with an optional sign, or "0x"/"0X" and hexadecimal digits;
// nullopt for any other text and for numbers outside the 32-bit range.
std::optional<int> ParseIntegerText(std::string_view text);

// A decimal number written with the given separator, with an optional sign and exponent;
// nullopt for an empty text or any other form, and for numbers beyond the double range.
std::optional<double> ParseDecimalText(std::string_view text, std::string_view separator);

// Up to 15 significant digits, fixed-point, without trailing zeros: 0.015, 0.1, 12.
std::string FormatDecimal(double value, std::string_view separator);

// The value rounded to the given number of decimal places, halves away from zero, taking the
// value as the 15-digit decimal it shows (so 0.0145 rounds to 0.015 although its binary value
// lies just below). Non-finite values pass unchanged.
double RoundToDecimals(double value, int places);

}  // namespace morvane
