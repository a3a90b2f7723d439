#include "alpaca/RequestHead.h"

#include <algorithm>
#include <cctype>

namespace morvane::alpaca {

namespace {

constexpr std::string_view HaltLine = "PUT /api/v1/focuser/0/halt";

bool StartsNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() &&
         std::equal(prefix.begin(), prefix.end(), text.begin(), [](char lower, char c) {
           return std::tolower(static_cast<unsigned char>(c)) == lower;
         });
}

// Where the head ends (after its blank line), as the library reads lines: "\n" or "\r\n".
size_t HeadEnd(std::string_view b) {
  for (size_t i = b.find('\n'); i != std::string_view::npos; i = b.find('\n', i + 1)) {
    if (i + 1 < b.size() && b[i + 1] == '\n') return i + 2;
    if (i + 2 < b.size() && b[i + 1] == '\r' && b[i + 2] == '\n') return i + 3;
  }
  return 0;
}

}  // namespace

THeadScan ScanRequest(std::string_view buffer, size_t maxRequestBytes) {
  THeadScan scan;
  const size_t end = HeadEnd(buffer);
  if (end == 0) return scan;
  const std::string_view head = buffer.substr(0, end);
  const size_t lineEnd = head.find_first_of("\r\n");
  const std::string_view line = head.substr(0, lineEnd);
  scan.Halt = line.substr(0, HaltLine.size()) == HaltLine &&
              (line.size() == HaltLine.size() || line[HaltLine.size()] == ' ' ||
               line[HaltLine.size()] == '?');
  size_t length = 0;
  for (size_t at = head.find('\n'); at != std::string_view::npos && at + 1 < end;
       at = head.find('\n', at + 1)) {
    const std::string_view field = head.substr(at + 1);
    if (StartsNoCase(field, "transfer-encoding:")) {
      scan.Need = end;
      return scan;
    }
    if (!StartsNoCase(field, "content-length:")) continue;
    size_t i = 15;
    while (i < field.size() && (field[i] == ' ' || field[i] == '\t')) ++i;
    length = 0;
    for (; i < field.size() && std::isdigit(static_cast<unsigned char>(field[i])); ++i) {
      length = length * 10 + static_cast<size_t>(field[i] - '0');
      if (length > maxRequestBytes) break;
    }
  }
  // Too large a body is the library's to refuse, once the head is in.
  scan.Whole = end + length <= maxRequestBytes;
  scan.Need = end + (scan.Whole ? length : 0);
  return scan;
}

}  // namespace morvane::alpaca
