#include "settings/ValueText.h"

#include <cctype>
#include <charconv>
#include <clocale>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <system_error>

namespace morvane {

namespace {

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

std::string_view TakeDigits(std::string_view& text) {
  std::size_t n = 0;
  while (n < text.size() && IsDigit(text[n])) ++n;
  std::string_view digits = text.substr(0, n);
  text.remove_prefix(n);
  return digits;
}

// The 15 significant digits of |value| and the decimal exponent of the first one.
struct TDecimalDigits {
  std::string Digits;
  int Exponent = 0;
};

TDecimalDigits SignificantDigits(double value) {
  char buffer[64];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, std::fabs(value),
                                    std::chars_format::scientific, 14);
  const std::string_view text(buffer, static_cast<std::size_t>(result.ptr - buffer));
  const std::size_t e = text.find('e');
  TDecimalDigits out;
  out.Digits.push_back(text[0]);
  out.Digits.append(text.substr(2, e - 2));
  out.Exponent = std::atoi(std::string(text.substr(e + 1)).c_str());
  return out;
}

}  // namespace

std::string DecimalSeparator() {
  const char* point = std::localeconv()->decimal_point;
  return (point != nullptr && point[0] != '\0') ? std::string(point) : std::string(".");
}

std::optional<int> ParseIntegerText(std::string_view text) {
  std::int64_t value = 0;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    const std::string_view digits = text.substr(2);
    // from_chars would take a sign here too.
    if (!std::isxdigit(static_cast<unsigned char>(digits[0]))) return std::nullopt;
    const auto result = std::from_chars(digits.data(), digits.data() + digits.size(), value, 16);
    if (result.ec != std::errc() || result.ptr != digits.data() + digits.size())
      return std::nullopt;
  } else {
    bool negative = false;
    if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
      negative = text[0] == '-';
      text.remove_prefix(1);
    }
    if (text.empty() || !IsDigit(text[0])) return std::nullopt;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value, 10);
    if (result.ec != std::errc() || result.ptr != text.data() + text.size()) return std::nullopt;
    if (negative) value = -value;
  }
  if (value < std::numeric_limits<int>::min() || value > std::numeric_limits<int>::max())
    return std::nullopt;
  return static_cast<int>(value);
}

std::optional<double> ParseDecimalText(std::string_view text, std::string_view separator) {
  std::string canonical;
  if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
    if (text[0] == '-') canonical.push_back('-');
    text.remove_prefix(1);
  }
  const std::string_view whole = TakeDigits(text);
  std::string_view fraction;
  if (!separator.empty() && text.starts_with(separator)) {
    text.remove_prefix(separator.size());
    fraction = TakeDigits(text);
  }
  if (whole.empty() && fraction.empty()) return std::nullopt;
  canonical.append(whole.empty() ? std::string_view("0") : whole);
  canonical.append(".").append(fraction.empty() ? std::string_view("0") : fraction);
  if (!text.empty() && (text[0] == 'e' || text[0] == 'E')) {
    text.remove_prefix(1);
    canonical.push_back('e');
    if (!text.empty() && (text[0] == '+' || text[0] == '-')) {
      canonical.push_back(text[0]);
      text.remove_prefix(1);
    }
    const std::string_view exponent = TakeDigits(text);
    if (exponent.empty()) return std::nullopt;
    canonical.append(exponent);
  }
  if (!text.empty()) return std::nullopt;
  double value = 0;
  const auto result = std::from_chars(canonical.data(), canonical.data() + canonical.size(), value);
  if (result.ec != std::errc() || result.ptr != canonical.data() + canonical.size())
    return std::nullopt;
  return value;
}

std::string FormatDecimal(double value, std::string_view separator) {
  if (!std::isfinite(value)) {
    char buffer[16];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
  }
  if (value == 0) return "0";
  TDecimalDigits d = SignificantDigits(value);
  while (d.Digits.size() > 1 && d.Digits.back() == '0') d.Digits.pop_back();
  std::string whole;
  std::string fraction;
  if (d.Exponent >= 0) {
    const std::size_t wholeCount = static_cast<std::size_t>(d.Exponent) + 1;
    if (d.Digits.size() <= wholeCount) {
      whole = d.Digits + std::string(wholeCount - d.Digits.size(), '0');
    } else {
      whole = d.Digits.substr(0, wholeCount);
      fraction = d.Digits.substr(wholeCount);
    }
  } else {
    whole = "0";
    fraction = std::string(static_cast<std::size_t>(-d.Exponent - 1), '0') + d.Digits;
  }
  std::string out = value < 0 ? "-" : "";
  out += whole;
  if (!fraction.empty()) out.append(separator).append(fraction);
  return out;
}

double RoundToDecimals(double value, int places) {
  if (!std::isfinite(value) || value == 0) return value;
  const TDecimalDigits d = SignificantDigits(value);
  // Digits that stand before the cut: those of the whole part and the kept places.
  const int keep = d.Exponent + 1 + places;
  if (keep >= static_cast<int>(d.Digits.size())) return value;
  std::string kept = keep > 0 ? d.Digits.substr(0, static_cast<std::size_t>(keep)) : "";
  const bool up = keep >= 0 && d.Digits[static_cast<std::size_t>(keep)] >= '5';
  // GCC 12 at -O3 reports a -Wrestrict overlap inside std::string's assignment of a
  // literal here (GCC bug 105329, a known false positive); nothing can overlap.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wrestrict"
#endif
  if (kept.empty()) kept = "0";
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif
  if (up) {
    std::size_t i = kept.size();
    while (i > 0 && kept[i - 1] == '9') kept[--i] = '0';
    if (i == 0)
      kept.insert(kept.begin(), '1');
    else
      ++kept[i - 1];
  }
  // The kept digits count units of 10^-places.
  const std::string text = kept + "e" + std::to_string(-places);
  double rounded = 0;
  std::from_chars(text.data(), text.data() + text.size(), rounded);
  return value < 0 ? -rounded : rounded;
}

}  // namespace morvane
