// Fuzz entry for the gate's reading of a request still arriving (alpaca/RequestHead): the bytes
// a client sent so far, as they are.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "alpaca/RequestHead.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace morvane::alpaca;
  constexpr size_t MaxRequestBytes = 16384;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const THeadScan scan = ScanRequest(text, MaxRequestBytes);
  if (scan.Need == 0) {
    // Nothing is whole until a head is.
    if (scan.Whole || scan.Halt) std::abort();
    return 0;
  }
  // A whole request stays within the bound; a head alone lies within what was read.
  if (scan.Whole && scan.Need > MaxRequestBytes) std::abort();
  if (!scan.Whole && scan.Need > size) std::abort();
  if (scan.Halt && text.substr(0, 26) != "PUT /api/v1/focuser/0/halt") std::abort();
  // More bytes after a whole head change nothing about the first request.
  const THeadScan again =
      ScanRequest(std::string(text) + "GET / HTTP/1.1\r\n\r\n", MaxRequestBytes);
  if (again.Halt != scan.Halt) std::abort();
  return 0;
}
