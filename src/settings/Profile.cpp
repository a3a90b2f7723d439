#include "settings/Profile.h"

namespace morvane {

TProfileText ReadProfileFile(const std::string& path) {
  std::string content;
  if (ReadWholeFile(path, content) != TFileRead::frRead) content.clear();
  return TProfileText(std::move(content));
}

std::optional<std::string> GetProfileString(const std::string& path, std::string_view section,
                                            std::string_view key) {
  return ReadProfileFile(path).ReadString(section, key);
}

bool WriteProfileString(const std::string& path, std::string_view section, std::string_view key,
                        std::string_view value, TFileOps& ops) {
  std::string content;
  const TFileRead read = ReadWholeFile(path, content);
  // A file that is there but cannot be read must not be replaced by one holding only this key.
  if (read == TFileRead::frFailed) return false;
  TProfileText profile(content);
  if (!profile.WriteString(section, key, value)) return false;
  if (read == TFileRead::frRead && profile.Text() == content) return true;
  return ReplaceWholeFile(path, profile.Text(), ops);
}

}  // namespace morvane
