#include "settings/FocusMarks.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <ctime>

#include "settings/ValueText.h"

namespace morvane {

namespace {

constexpr std::string_view Header =
    "# Morvane focus marks: UTC time, degrees Celsius, count. Newest last.\n";

// The three fields of a line, separated by blanks.
std::vector<std::string_view> Fields(std::string_view line) {
  std::vector<std::string_view> out;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r')) ++i;
    const size_t start = i;
    while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r') ++i;
    if (i > start) out.push_back(line.substr(start, i - start));
  }
  return out;
}

std::optional<int64_t> ParseUtc(std::string_view text) {
  // Exactly YYYY-MM-DDTHH:MM:SSZ.
  if (text.size() != 20 || text[4] != '-' || text[7] != '-' || text[10] != 'T' || text[13] != ':' ||
      text[16] != ':' || text[19] != 'Z')
    return std::nullopt;
  const auto number = [&](size_t at, size_t len, int lo, int hi) -> std::optional<int> {
    int v = 0;
    const auto [end, ec] = std::from_chars(text.data() + at, text.data() + at + len, v);
    if (ec != std::errc() || end != text.data() + at + len || v < lo || v > hi) return std::nullopt;
    return v;
  };
  const auto year = number(0, 4, 1970, 9999), month = number(5, 2, 1, 12),
             day = number(8, 2, 1, 31), hour = number(11, 2, 0, 23), minute = number(14, 2, 0, 59),
             second = number(17, 2, 0, 60);
  if (!year || !month || !day || !hour || !minute || !second) return std::nullopt;
  std::tm t{};
  t.tm_year = *year - 1900;
  t.tm_mon = *month - 1;
  t.tm_mday = *day;
  t.tm_hour = *hour;
  t.tm_min = *minute;
  t.tm_sec = *second;
  return static_cast<int64_t>(timegm(&t));
}

}  // namespace

std::string FocusMarksPathFor(const std::string& iniPath) {
  constexpr std::string_view ext = ".ini";
  std::string stem = iniPath;
  if (stem.size() >= ext.size() && stem.compare(stem.size() - ext.size(), ext.size(), ext) == 0)
    stem.resize(stem.size() - ext.size());
  return stem + "-marks.txt";
}

std::string FocusMarkLine(const TFocusMark& m) {
  const std::time_t seconds = static_cast<std::time_t>(m.UtcSeconds);
  std::tm t{};
  gmtime_r(&seconds, &t);
  char when[32];
  std::strftime(when, sizeof when, "%Y-%m-%dT%H:%M:%SZ", &t);
  return std::string(when) + " " + FormatDecimal(RoundToDecimals(m.Celsius, 3), ".") + " " +
         std::to_string(m.Position);
}

std::optional<TFocusMark> ParseFocusMarkLine(std::string_view line) {
  const std::vector<std::string_view> f = Fields(line);
  if (f.size() != 3) return std::nullopt;
  const std::optional<int64_t> utc = ParseUtc(f[0]);
  const std::optional<double> celsius = ParseDecimalText(f[1], ".");
  const std::optional<int> position = ParseIntegerText(f[2]);
  if (!utc || !celsius || !std::isfinite(*celsius) || !position) return std::nullopt;
  return TFocusMark{*utc, *celsius, *position};
}

namespace {

std::string Compose(const std::vector<TFocusMark>& marks) {
  std::string text(Header);
  for (const TFocusMark& m : marks) text += FocusMarkLine(m) + "\n";
  return text;
}

std::vector<TFocusMark> ParseMarks(const std::string& text) {
  std::vector<TFocusMark> marks;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string_view line(text.data() + start, end - start);
    start = end + 1;
    if (line.empty() || line[0] == '#') continue;
    if (const std::optional<TFocusMark> m = ParseFocusMarkLine(line)) marks.push_back(*m);
  }
  if (marks.size() > MostFocusMarks)
    marks.erase(marks.begin(), marks.end() - static_cast<std::ptrdiff_t>(MostFocusMarks));
  return marks;
}

}  // namespace

std::vector<TFocusMark> ReadFocusMarks(const std::string& path) {
  std::string text;
  if (ReadWholeFile(path, text) != TFileRead::frRead) return {};
  return ParseMarks(text);
}

bool AddFocusMark(const std::string& path, const TFocusMark& m, TFileOps& ops) {
  std::string old;
  if (ReadWholeFile(path, old) == TFileRead::frFailed) return false;
  std::vector<TFocusMark> marks = ParseMarks(old);
  marks.push_back(m);
  if (marks.size() > MostFocusMarks)
    marks.erase(marks.begin(), marks.end() - static_cast<std::ptrdiff_t>(MostFocusMarks));
  return ReplaceWholeFile(path, Compose(marks), ops);
}

bool ClearFocusMarks(const std::string& path, TFileOps& ops) {
  return ReplaceWholeFile(path, Compose({}), ops);
}

}  // namespace morvane
