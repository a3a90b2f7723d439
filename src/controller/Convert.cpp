#include "controller/Convert.h"

#include <cctype>
#include <cerrno>
#include <charconv>
#include <limits>

namespace morvane {

namespace {

[[noreturn]] void BadInteger(const std::string& text) {
  throw EConvertError("'" + text + "' is not a valid integer value");
}

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

}  // namespace

int32_t StrToInt(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && IsBlank(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  int base = 10;
  if (i < text.size() && text[i] == '$') {
    base = 16;
    ++i;
  } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i >= text.size()) BadInteger(text);
  uint64_t value = 0;
  const char* first = text.data() + i;
  const char* last = text.data() + text.size();
  auto [end, ec] = std::from_chars(first, last, value, base);
  if (ec != std::errc() || end != last) BadInteger(text);
  const uint64_t limit = negative ? uint64_t{1} << 31 : (uint64_t{1} << 31) - 1;
  // Hexadecimal texts may give the full 32-bit pattern, as the framework allows.
  if (base == 16 && !negative && value <= 0xFFFFFFFFu)
    return static_cast<int32_t>(static_cast<uint32_t>(value));
  if (value > limit) BadInteger(text);
  return negative ? static_cast<int32_t>(-static_cast<int64_t>(value))
                  : static_cast<int32_t>(value);
}

double StrToFloat(const std::string& text) {
  auto bad = [&text]() -> double {
    throw EConvertError("'" + text + "' is not a valid floating point value");
  };
  size_t b = 0, e = text.size();
  while (b < e && IsBlank(text[b])) ++b;
  while (e > b && IsBlank(text[e - 1])) --e;
  if (b == e) return bad();
  size_t i = b;
  if (text[i] == '+' || text[i] == '-') ++i;
  // from_chars takes no leading '+'; it reads a full stop whatever the locale.
  std::string body = text.substr(i, e - i);
  if (body.empty() || !(std::isdigit(static_cast<unsigned char>(body[0])) || body[0] == '.'))
    return bad();
  double value = 0;
  auto [end, ec] =
      std::from_chars(body.data(), body.data() + body.size(), value, std::chars_format::general);
  if (ec != std::errc() || end != body.data() + body.size()) return bad();
  return text[b] == '-' ? -value : value;
}

}  // namespace morvane
