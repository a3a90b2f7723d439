// libFuzzer entry for morvane-alpaca's parameter decoder and value parsers (not part of the
// suite, which runs a seeded fuzz of its own):
//   clang++ -std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -Isrc \
//     src/alpaca/AlpacaForm.cpp tools/fuzz/AlpacaFormFuzz.cpp -o fuzz_alpaca_form
//   ./fuzz_alpaca_form -max_total_time=600
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
    morvane::alpaca::FindParam(params, p.Name, false);
  }
  return 0;
}
