#include "settings/KeptPosition.h"

#include <charconv>

#include "platform/BusContract.h"
#include "settings/Profile.h"

namespace morvane {

namespace {

constexpr std::string_view CountKey = "Count=";
constexpr std::string_view ClosedKey = "Closed=";

std::optional<int64_t> WholeNumber(std::string_view s) {
  int64_t v = 0;
  const char* end = s.data() + s.size();
  const auto [p, ec] = std::from_chars(s.data(), end, v);
  if (ec != std::errc() || p != end || s.empty()) return std::nullopt;
  return v;
}

}  // namespace

std::string SiblingPathFor(const std::string& iniPath, std::string_view suffix) {
  constexpr std::string_view ext = ".ini";
  std::string stem = iniPath;
  if (stem.size() >= ext.size() && stem.compare(stem.size() - ext.size(), ext.size(), ext) == 0)
    stem.resize(stem.size() - ext.size());
  return stem + std::string(suffix);
}

std::string KeptPositionPathFor(const std::string& iniPath) {
  return SiblingPathFor(iniPath, "-position.txt");
}

bool ReadKeepPosition(const std::string& iniPath) {
  const std::optional<std::string> text = GetProfileString(iniPath, "FocusControl", "KeepPosition");
  return text && WholeNumber(*text).value_or(0) != 0;
}

std::string FormatKeptPosition(const TKeptPosition& p) {
  return "# Morvane's count, kept across starts; Closed=1 is written at a clean exit.\n" +
         std::string(CountKey) + std::to_string(p.Count) + "\n" + std::string(ClosedKey) +
         (p.Closed ? "1" : "0") + "\n";
}

std::optional<TKeptPosition> ParseKeptPosition(std::string_view text) {
  std::optional<int64_t> count;
  std::optional<int64_t> closed;
  while (!text.empty()) {
    const size_t eol = text.find('\n');
    std::string_view line = text.substr(0, eol);
    text = eol == std::string_view::npos ? std::string_view() : text.substr(eol + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty() || line.front() == '#') continue;
    std::optional<int64_t>* slot = nullptr;
    if (line.starts_with(CountKey)) {
      slot = &count;
      line.remove_prefix(CountKey.size());
    } else if (line.starts_with(ClosedKey)) {
      slot = &closed;
      line.remove_prefix(ClosedKey.size());
    } else {
      return std::nullopt;
    }
    if (slot->has_value()) return std::nullopt;  // a key twice: not ours
    *slot = WholeNumber(line);
    if (!slot->has_value()) return std::nullopt;
  }
  if (!count || !closed || *count < -MoveLimit || *count > MoveLimit) return std::nullopt;
  if (*closed != 0 && *closed != 1) return std::nullopt;
  return TKeptPosition{static_cast<int32_t>(*count), *closed == 1};
}

TKeptState ReadKeptPosition(const std::string& path, TKeptPosition& p) {
  std::string text;
  const TFileRead read = ReadWholeFile(path, text);
  if (read == TFileRead::frMissing) return TKeptState::ksNone;
  const std::optional<TKeptPosition> parsed =
      read == TFileRead::frRead ? ParseKeptPosition(text) : std::nullopt;
  if (!parsed) return TKeptState::ksDamaged;
  p = *parsed;
  return p.Closed ? TKeptState::ksTrusted : TKeptState::ksUnverified;
}

bool WriteKeptPosition(const std::string& path, const TKeptPosition& p, TFileOps& ops) {
  return ReplaceWholeFile(path, FormatKeptPosition(p), ops);
}

}  // namespace morvane
