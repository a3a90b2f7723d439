#include "alpaca/AlpacaForm.h"

#include <cctype>

namespace morvane::alpaca {

namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool Unescape(std::string_view in, std::string& out) {
  out.clear();
  out.reserve(in.size());
  for (size_t i = 0; i < in.size(); ++i) {
    const char c = in[i];
    if (c == '+') {
      out += ' ';
    } else if (c == '%') {
      const int hi = i + 1 < in.size() ? HexDigit(in[i + 1]) : -1;
      const int lo = i + 2 < in.size() ? HexDigit(in[i + 2]) : -1;
      if (hi < 0 || lo < 0) return false;
      out += static_cast<char>(hi * 16 + lo);
      i += 2;
    } else {
      out += c;
    }
  }
  return true;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

// Decimal digits only, at least one, the value no larger than limit.
std::optional<uint64_t> ParseDigits(std::string_view text, uint64_t limit) {
  if (text.empty() || text.size() > 20) return std::nullopt;
  uint64_t v = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    v = v * 10 + static_cast<uint64_t>(c - '0');
    if (v > limit) return std::nullopt;
  }
  return v;
}

}  // namespace

bool DecodeForm(std::string_view text, TParams& params) {
  params.clear();
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find('&', start);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view pair = text.substr(start, end - start);
    if (!pair.empty()) {
      if (params.size() >= MaxParams) return false;
      const size_t eq = pair.find('=');
      TParam p;
      if (!Unescape(pair.substr(0, eq), p.Name)) return false;
      if (eq != std::string_view::npos && !Unescape(pair.substr(eq + 1), p.Value)) return false;
      params.push_back(std::move(p));
    }
    start = end + 1;
  }
  return true;
}

const std::string* FindParam(const TParams& params, std::string_view name, bool caseSensitive) {
  for (const TParam& p : params)
    if (caseSensitive ? p.Name == name : EqualsIgnoringCase(p.Name, name)) return &p.Value;
  return nullptr;
}

std::optional<int32_t> ParseInt32(std::string_view text) {
  const bool negative = !text.empty() && text.front() == '-';
  if (negative) text.remove_prefix(1);
  const auto v = ParseDigits(text, negative ? 2147483648ull : 2147483647ull);
  if (!v) return std::nullopt;
  return static_cast<int32_t>(negative ? -static_cast<int64_t>(*v) : static_cast<int64_t>(*v));
}

std::optional<bool> ParseBool(std::string_view text) {
  if (EqualsIgnoringCase(text, "true")) return true;
  if (EqualsIgnoringCase(text, "false")) return false;
  return std::nullopt;
}

std::optional<uint32_t> ParseId(std::string_view text) {
  const auto v = ParseDigits(text, 4294967295ull);
  if (!v) return std::nullopt;
  return static_cast<uint32_t>(*v);
}

}  // namespace morvane::alpaca
