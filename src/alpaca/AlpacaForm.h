#pragma once
// The parameters of an Alpaca request: a query string or an x-www-form-urlencoded body decoded
// into names and values, looked up as the protocol wants (GET names in any case, PUT names
// exactly), and the values' strict parsers. Plain code, no allocation beyond the result.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace morvane::alpaca {

struct TParam {
  std::string Name;
  std::string Value;
};
using TParams = std::vector<TParam>;

// At most this many pairs are decoded; a request with more is refused.
inline constexpr size_t MaxParams = 64;

// Decodes "a=b&c=d" ('+' a blank, %XX a byte). False for a '%' not followed by two hex digits
// or more than MaxParams pairs; params then holds what was decoded before. Empty pairs ("&&")
// are skipped; a pair without '=' has an empty value.
bool DecodeForm(std::string_view text, TParams& params);

// The first value of the name; exact case when caseSensitive, else ASCII case ignored.
const std::string* FindParam(const TParams& params, std::string_view name, bool caseSensitive);

// A whole number: an optional '-' and decimal digits only, within int32.
std::optional<int32_t> ParseInt32(std::string_view text);
// "true" or "false" in any case.
std::optional<bool> ParseBool(std::string_view text);
// ClientID and ClientTransactionID: decimal digits only, within uint32.
std::optional<uint32_t> ParseId(std::string_view text);

}  // namespace morvane::alpaca
