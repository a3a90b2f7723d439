// libFuzzer entry for the voice bundle's resource reader; built only with -DMORVANE_FUZZ=ON
// and Clang, not part of the suite:
//   build/fuzz/tests/ui/fuzz_resource_file -max_total_time=600 CORPUS_DIR
// (start CORPUS_DIR with the built Res01.rcc).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "ui/ResourceFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto bytes = std::as_bytes(std::span(data, size));
  if (const auto entries = morvane::ReadResourceFile(bytes))
    for (const morvane::TResourceEntry& entry : *entries)
      if (entry.Offset > size || entry.Size > size - entry.Offset) std::abort();
  return 0;
}
