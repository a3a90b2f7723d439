// libFuzzer entry for the voice bundle's resource reader (not part of the suite):
//   clang++ -std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -Isrc \
//     src/ui/voice/ResourceFile.cpp tools/fuzz/ResourceFileFuzz.cpp -o fuzz_resource_file
//   ./fuzz_resource_file -max_total_time=600 CORPUS_DIR
// Small resource files made by rcc --binary are the best start for CORPUS_DIR.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "ui/voice/ResourceFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto bytes = std::as_bytes(std::span(data, size));
  if (const auto entries = morvane::ReadResourceFile(bytes))
    for (const morvane::TResourceEntry& entry : *entries)
      if (entry.Offset > size || entry.Size > size - entry.Offset) std::abort();
  return 0;
}
