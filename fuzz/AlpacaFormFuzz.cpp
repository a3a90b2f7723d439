// Fuzz entry for morvane-alpaca's parameter decoder and value parsers: a request's form
// text as a client sent it. Beside it the suite runs a seeded fuzz of its own.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "alpaca/AlpacaForm.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  morvane::alpaca::TParams params;
  const bool ok = morvane::alpaca::DecodeForm(text, params);
  if (ok && params.size() > morvane::alpaca::MaxParams) std::abort();
  for (const auto& p : params) {
    // Decoding never lengthens: every byte comes from at least one byte of the text.
    if (p.Name.size() + p.Value.size() > size) std::abort();
    morvane::alpaca::ParseInt32(p.Value);
    morvane::alpaca::ParseBool(p.Value);
    morvane::alpaca::ParseId(p.Value);
    // Every decoded name is found again, in either lookup.
    if (!morvane::alpaca::FindParam(params, p.Name, true) ||
        !morvane::alpaca::FindParam(params, p.Name, false))
      std::abort();
  }
  return 0;
}
