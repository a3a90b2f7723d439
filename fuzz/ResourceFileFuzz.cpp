// Fuzz entry for the voice bundle's resource reader: a bundle file as found on disk. Small
// resource files made by rcc --binary are the best start for a corpus.
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
