#include "settings/SimShaft.h"

#include <charconv>
#include <cmath>

#include "settings/KeptPosition.h"

namespace morvane {

namespace {
constexpr std::string_view ShaftKey = "Shaft=";
// Codes either way: far beyond any model's end stops (40 turns of 512 codes), well inside
// what a count holds.
constexpr double FarthestShaft = 1e8;
}  // namespace

std::string SimShaftPathFor(const std::string& iniPath) {
  return SiblingPathFor(iniPath, "-shaft.txt");
}

std::string FormatSimShaft(double shaft) {
  // The shortest text that reads back as the same angle, whatever the locale.
  char number[64];
  const auto [end, ec] = std::to_chars(number, number + sizeof number, shaft);
  const std::string text = ec == std::errc() ? std::string(number, end) : "0.125";
  return "# The simulated focuser's shaft, in codes; written whenever it comes to rest.\n" +
         std::string(ShaftKey) + text + "\n";
}

std::optional<double> ParseSimShaft(std::string_view text) {
  std::optional<double> shaft;
  while (!text.empty()) {
    const size_t eol = text.find('\n');
    std::string_view line = text.substr(0, eol);
    text = eol == std::string_view::npos ? std::string_view() : text.substr(eol + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty() || line.front() == '#') continue;
    if (!line.starts_with(ShaftKey) || shaft) return std::nullopt;
    line.remove_prefix(ShaftKey.size());
    double v = 0;
    const char* end = line.data() + line.size();
    const auto [p, ec] = std::from_chars(line.data(), end, v);
    if (line.empty() || ec != std::errc() || p != end) return std::nullopt;
    if (!std::isfinite(v) || std::abs(v) > FarthestShaft) return std::nullopt;
    shaft = v;
  }
  return shaft;
}

std::optional<double> ReadSimShaft(const std::string& path) {
  std::string text;
  if (ReadWholeFile(path, text) != TFileRead::frRead) return std::nullopt;
  return ParseSimShaft(text);
}

bool WriteSimShaft(const std::string& path, double shaft, TFileOps& ops) {
  return ReplaceWholeFile(path, FormatSimShaft(shaft), ops);
}

}  // namespace morvane
