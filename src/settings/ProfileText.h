#pragma once
// The text of an INI file, read and edited by the rules of the Windows private-profile
// functions, since settings files come over from Windows installations and are edited by hand.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace morvane {

// Reading: section and key names match without regard to case and blanks around them; a
// line whose first non-blank is ";" is a comment; the first of duplicate sections or keys
// wins; lines may end in CR LF, LF or CR. Writing edits the text in place and keeps every
// byte it does not have to change.
class TProfileText {
 public:
  // Longest value a read gives; the Windows buffer holds 2048 characters with the NUL.
  static constexpr std::size_t MaxValueLength = 2047;

  TProfileText() = default;
  explicit TProfileText(std::string text);

  const std::string& Text() const { return FText; }

  // The key's value with the blanks around it and one pair of matching quotes removed, cut
  // to MaxValueLength; nullopt when the key is absent or its line has no "=".
  std::optional<std::string> ReadString(std::string_view section, std::string_view key) const;

  // True when the section lists the key, with or without a value.
  bool KeyExists(std::string_view section, std::string_view key) const;

  // Replaces the key's value where it stands, or adds "key=value" after the last key of the
  // section, or adds the section with the key at the end. Added lines end in CR LF. False,
  // and the text unchanged, when a name or the value cannot be kept on one profile line.
  bool WriteString(std::string_view section, std::string_view key, std::string_view value);

 private:
  enum class TLineKind { lkBlank, lkComment, lkSection, lkEntry };

  struct TLine {
    TLineKind Kind = TLineKind::lkBlank;
    std::size_t End = 0;   // end of the line's text, before its line break
    std::size_t Next = 0;  // start of the next line (End when the text ends without a break)
    std::size_t NameBegin = 0;
    std::size_t NameEnd = 0;
    bool HasValue = false;  // an entry line with "="
    std::size_t ValueBegin = 0;
    std::size_t ValueEnd = 0;
  };

  static constexpr std::size_t NoLine = static_cast<std::size_t>(-1);

  void Parse();
  std::string_view NameOf(const TLine& line) const;
  std::size_t FindSection(std::string_view section) const;
  std::size_t FindKey(std::size_t sectionLine, std::string_view key) const;

  std::string FText;
  std::vector<TLine> FLines;
};

}  // namespace morvane
