#pragma once
// Qt's binary resource file (rcc --binary), read as untrusted data: a changed or cut file
// must be refused, never followed outside itself. Every offset and size is checked against
// the file before it is used.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace morvane {

// One file resource: its path from the root ("WAVE/0F", UTF-8) and where its bytes lie in
// the resource file. A compressed one holds Qt's zlib form (its length in four bytes, then
// the zlib stream).
struct TResourceEntry {
  std::string Path;
  std::size_t Offset = 0;
  std::size_t Size = 0;
  bool Compressed = false;
};

// The file resources in data, in the tree's order; nullopt when anything does not add up: an
// unknown header, version or flag, an offset or size past the end, a name that is not
// UTF-16, a directory that points back up its own tree or nests too deep.
std::optional<std::vector<TResourceEntry>> ReadResourceFile(std::span<const std::byte> data);

}  // namespace morvane
