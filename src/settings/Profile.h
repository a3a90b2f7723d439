#pragma once
// Profile reading and writing on a settings file by its path, as GetPrivateProfileStringA and
// WritePrivateProfileStringA do it, each write replacing the file atomically.

#include <optional>
#include <string>
#include <string_view>

#include "settings/FileOps.h"
#include "settings/ProfileText.h"

namespace morvane {

// The file's profile text; empty when the file is missing or cannot be read, which a reader
// takes as every key absent.
TProfileText ReadProfileFile(const std::string& path);

std::optional<std::string> GetProfileString(const std::string& path, std::string_view section,
                                            std::string_view key);

// One profile write: sets the key in the file's text and replaces the file with it. False when
// the file cannot be read or replaced; it is then left as it was. A write that would leave the
// text as it is does not touch the file.
bool WriteProfileString(const std::string& path, std::string_view section, std::string_view key,
                        std::string_view value, TFileOps& ops = DefaultFileOps());

}  // namespace morvane
