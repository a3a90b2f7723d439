#include "ui/voice/ResourceFile.h"

#include <cstring>

namespace morvane {

namespace {

constexpr std::uint64_t FlagCompressed = 1;
constexpr std::uint64_t FlagDirectory = 2;
constexpr std::uint64_t FlagCompressedZstd = 4;  // needs a library Morvane does not carry

// Bounds on what a resource tree may make the reader do, far above any real voice bundle.
constexpr int MaxDepth = 16;
constexpr std::size_t MaxNodes = 1 << 16;

class TResourceReader {
 public:
  explicit TResourceReader(std::span<const std::byte> data) : FData(data) {}

  bool Read(std::vector<TResourceEntry>& entries);

 private:
  bool Has(std::uint64_t at, std::uint64_t size) const {
    return at <= FData.size() && FData.size() - at >= size;
  }
  // The big-endian unsigned number of `bytes` bytes at `at`.
  bool Number(std::uint64_t at, int bytes, std::uint64_t& value) const {
    if (!Has(at, static_cast<std::uint64_t>(bytes))) return false;
    value = 0;
    for (int i = 0; i < bytes; ++i)
      value = value << 8 | std::to_integer<std::uint8_t>(FData[at + i]);
    return true;
  }
  bool Name(std::uint64_t nameOffset, std::string& name) const;
  bool Node(std::uint64_t index, const std::string& path, int depth,
            std::vector<TResourceEntry>& entries);

  std::span<const std::byte> FData;
  std::uint64_t FTree = 0;
  std::uint64_t FDataStart = 0;
  std::uint64_t FNames = 0;
  std::uint64_t FEntrySize = 0;
  std::size_t FNodes = 0;
};

void AppendUtf8(std::string& out, std::uint32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | c >> 6);
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | c >> 12);
    out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | c >> 18);
    out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
    out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// A name: its length in UTF-16 units (2 bytes), its hash (4 bytes), then the units, big-endian.
bool TResourceReader::Name(std::uint64_t nameOffset, std::string& name) const {
  const std::uint64_t at = FNames + nameOffset;
  std::uint64_t units = 0;
  if (!Number(at, 2, units) || units == 0 || !Has(at + 6, units * 2)) return false;
  name.clear();
  for (std::uint64_t i = 0; i < units; ++i) {
    std::uint64_t unit = 0;
    Number(at + 6 + i * 2, 2, unit);
    std::uint32_t c = static_cast<std::uint32_t>(unit);
    if (c >= 0xDC00 && c <= 0xDFFF) return false;  // a low surrogate alone
    if (c >= 0xD800 && c <= 0xDBFF) {
      std::uint64_t low = 0;
      if (++i == units || !Number(at + 6 + i * 2, 2, low) || low < 0xDC00 || low > 0xDFFF)
        return false;
      c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<std::uint32_t>(low) - 0xDC00);
    }
    if (c == 0 || c == '/') return false;  // would change the path's meaning
    AppendUtf8(name, c);
  }
  return true;
}

// Entry: name offset (4), flags (2), then a directory's child count (4) and first child's
// index (4), or a file's territory (2), language (2) and data offset (4); from version 2 the
// time of its last change (8).
bool TResourceReader::Node(std::uint64_t index, const std::string& path, int depth,
                           std::vector<TResourceEntry>& entries) {
  if (++FNodes > MaxNodes || depth > MaxDepth) return false;
  const std::uint64_t at = FTree + index * FEntrySize;
  std::uint64_t nameOffset = 0, flags = 0;
  if (!Has(at, FEntrySize) || !Number(at, 4, nameOffset) || !Number(at + 4, 2, flags)) return false;
  if ((flags & ~(FlagCompressed | FlagDirectory | FlagCompressedZstd)) != 0 ||
      (flags & FlagCompressedZstd) != 0)
    return false;
  std::string name;
  if (depth > 0 && !Name(nameOffset, name)) return false;
  const std::string full = depth == 0 ? std::string() : path.empty() ? name : path + "/" + name;

  if ((flags & FlagDirectory) != 0) {
    if ((flags & FlagCompressed) != 0) return false;
    std::uint64_t count = 0, first = 0;
    Number(at + 6, 4, count);
    Number(at + 10, 4, first);
    // Children follow their directory: a tree that points back up would never end.
    if (count > MaxNodes || first <= index) return false;
    for (std::uint64_t child = first; child < first + count; ++child)
      if (!Node(child, full, depth + 1, entries)) return false;
    return true;
  }
  if (depth == 0) return false;  // the root is a directory
  std::uint64_t dataOffset = 0, size = 0;
  Number(at + 10, 4, dataOffset);
  const std::uint64_t start = FDataStart + dataOffset;
  if (!Number(start, 4, size) || !Has(start + 4, size)) return false;
  entries.push_back({full, static_cast<std::size_t>(start + 4), static_cast<std::size_t>(size),
                     (flags & FlagCompressed) != 0});
  return true;
}

// Header: "qres", the version (1 to 3), the offsets of the tree, the data and the names (4
// bytes each, big-endian), and from version 3 the file's flags (4).
bool TResourceReader::Read(std::vector<TResourceEntry>& entries) {
  std::uint64_t version = 0;
  if (!Has(0, 20) || std::memcmp(FData.data(), "qres", 4) != 0 || !Number(4, 4, version) ||
      version < 1 || version > 3 || (version == 3 && !Has(0, 24)))
    return false;
  Number(8, 4, FTree);
  Number(12, 4, FDataStart);
  Number(16, 4, FNames);
  FEntrySize = version >= 2 ? 22 : 14;
  return Node(0, std::string(), 0, entries);
}

}  // namespace

std::optional<std::vector<TResourceEntry>> ReadResourceFile(std::span<const std::byte> data) {
  std::vector<TResourceEntry> entries;
  TResourceReader reader(data);
  if (!reader.Read(entries)) return std::nullopt;
  return entries;
}

}  // namespace morvane
