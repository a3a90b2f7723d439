#include "settings/ProfileText.h"

#include <algorithm>

namespace morvane {

namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\v' || c == '\f';
}

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

bool SameName(std::string_view a, std::string_view b) {
  auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                            [&](char x, char y) { return lower(x) == lower(y); });
}

bool HasLineBreak(std::string_view text) {
  return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

constexpr std::string_view Utf8Bom = "\xEF\xBB\xBF";

}  // namespace

TProfileText::TProfileText(std::string text) : FText(std::move(text)) {
  Parse();
}

void TProfileText::Parse() {
  FLines.clear();
  const std::string_view text = FText;
  // Editors on Windows may put a byte-order mark before the first section.
  std::size_t pos = text.starts_with(Utf8Bom) ? Utf8Bom.size() : 0;
  while (pos < text.size()) {
    TLine line;
    std::size_t end = text.find_first_of("\r\n", pos);
    if (end == std::string_view::npos) end = text.size();
    line.End = end;
    line.Next = end;
    if (end < text.size())
      line.Next += (text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n') ? 2 : 1;

    const std::string_view raw = text.substr(pos, end - pos);
    const std::string_view trimmed = TrimBlanks(raw);
    const std::size_t begin = pos + static_cast<std::size_t>(trimmed.data() - raw.data());
    const std::size_t closing = trimmed.rfind(']');
    if (trimmed.empty()) {
      line.Kind = TLineKind::lkBlank;
    } else if (trimmed.front() == ';') {
      line.Kind = TLineKind::lkComment;
    } else if (trimmed.front() == '[') {
      // A header whose "]" was forgotten names its section by the rest of the line, as the
      // Windows functions read it; taken as a key line, the section's values would be lost
      // and the next write would add a second section.
      line.Kind = TLineKind::lkSection;
      const std::size_t nameEnd = closing == std::string_view::npos ? trimmed.size() : closing;
      const std::string_view name = TrimBlanks(trimmed.substr(1, nameEnd - 1));
      line.NameBegin = begin + static_cast<std::size_t>(name.data() - trimmed.data());
      line.NameEnd = line.NameBegin + name.size();
    } else {
      line.Kind = TLineKind::lkEntry;
      const std::size_t equals = trimmed.find('=');
      const std::string_view name = TrimBlanks(trimmed.substr(0, equals));
      line.NameBegin = begin + static_cast<std::size_t>(name.data() - trimmed.data());
      line.NameEnd = line.NameBegin + name.size();
      if (equals != std::string_view::npos) {
        line.HasValue = true;
        const std::string_view value = TrimBlanks(trimmed.substr(equals + 1));
        line.ValueBegin = value.empty()
                              ? begin + equals + 1
                              : begin + static_cast<std::size_t>(value.data() - trimmed.data());
        line.ValueEnd = line.ValueBegin + value.size();
      }
    }
    FLines.push_back(line);
    pos = line.Next;
  }
}

std::string_view TProfileText::NameOf(const TLine& line) const {
  return std::string_view(FText).substr(line.NameBegin, line.NameEnd - line.NameBegin);
}

std::size_t TProfileText::FindSection(std::string_view section) const {
  section = TrimBlanks(section);
  for (std::size_t i = 0; i < FLines.size(); ++i)
    if (FLines[i].Kind == TLineKind::lkSection && SameName(NameOf(FLines[i]), section)) return i;
  return NoLine;
}

std::size_t TProfileText::FindKey(std::size_t sectionLine, std::string_view key) const {
  key = TrimBlanks(key);
  for (std::size_t i = sectionLine + 1; i < FLines.size(); ++i) {
    if (FLines[i].Kind == TLineKind::lkSection) break;
    if (FLines[i].Kind == TLineKind::lkEntry && SameName(NameOf(FLines[i]), key)) return i;
  }
  return NoLine;
}

std::optional<std::string> TProfileText::ReadString(std::string_view section,
                                                    std::string_view key) const {
  const std::size_t sectionLine = FindSection(section);
  if (sectionLine == NoLine) return std::nullopt;
  const std::size_t keyLine = FindKey(sectionLine, key);
  if (keyLine == NoLine || !FLines[keyLine].HasValue) return std::nullopt;
  const TLine& line = FLines[keyLine];
  std::string_view value =
      std::string_view(FText).substr(line.ValueBegin, line.ValueEnd - line.ValueBegin);
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front())
    value = value.substr(1, value.size() - 2);
  return std::string(value.substr(0, MaxValueLength));
}

bool TProfileText::KeyExists(std::string_view section, std::string_view key) const {
  const std::size_t sectionLine = FindSection(section);
  return sectionLine != NoLine && FindKey(sectionLine, key) != NoLine;
}

bool TProfileText::WriteString(std::string_view section, std::string_view key,
                               std::string_view value) {
  section = TrimBlanks(section);
  key = TrimBlanks(key);
  if (section.empty() || key.empty() || HasLineBreak(section) || HasLineBreak(key) ||
      HasLineBreak(value) || section.find(']') != std::string_view::npos ||
      key.find('=') != std::string_view::npos || key.front() == '[' || key.front() == ';')
    return false;

  const std::size_t sectionLine = FindSection(section);
  if (sectionLine == NoLine) {
    std::string added;
    const bool onlyBom = FText == Utf8Bom;
    if (!FText.empty() && !onlyBom && FText.back() != '\n' && FText.back() != '\r') added += "\r\n";
    added.append("[").append(section).append("]\r\n");
    added.append(key).append("=").append(value).append("\r\n");
    FText += added;
  } else if (const std::size_t keyLine = FindKey(sectionLine, key); keyLine != NoLine) {
    const TLine& line = FLines[keyLine];
    if (line.HasValue)
      FText.replace(line.ValueBegin, line.ValueEnd - line.ValueBegin, value);
    else
      FText.insert(line.NameEnd, std::string("=").append(value));
  } else {
    std::size_t after = sectionLine;
    for (std::size_t i = sectionLine + 1; i < FLines.size(); ++i) {
      if (FLines[i].Kind == TLineKind::lkSection) break;
      if (FLines[i].Kind == TLineKind::lkEntry) after = i;
    }
    const TLine& line = FLines[after];
    std::string added = line.Next == line.End ? "\r\n" : "";
    added.append(key).append("=").append(value).append("\r\n");
    FText.insert(line.Next, added);
  }
  Parse();
  return true;
}

}  // namespace morvane
