#pragma once
// The count kept across starts, in its own small file beside the settings file
// ("Morvane-position.txt" beside "Morvane.ini"): the settings file stays the user's, and this
// one is rewritten whenever a move ends. It says whether Morvane closed cleanly after the last
// write: only then is the count trusted at the next start; after a crash, a kill or a power
// loss the focuser may have moved on, and the count is restored but unverified.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "settings/FileOps.h"

namespace morvane {

struct TKeptPosition {
  int32_t Count = 0;
  bool Closed = false;  // written at a clean exit, with the motor at rest
};

// What a start makes of the file.
enum class TKeptState {
  ksNone,        // no file: a first start, the count starts at 0 as ever
  ksTrusted,     // written at a clean exit
  ksUnverified,  // Morvane did not close cleanly after it was written
  ksDamaged,     // not a file this program wrote: the count starts at 0, unverified
};

std::string KeptPositionPathFor(const std::string& iniPath);
// A file kept beside the settings file: its name without ".ini", then suffix.
std::string SiblingPathFor(const std::string& iniPath, std::string_view suffix);

// "[FocusControl] KeepPosition": on in a new factory file; a file without the key keeps the
// count at 0 at each start, as before.
bool ReadKeepPosition(const std::string& iniPath);

std::string FormatKeptPosition(const TKeptPosition& p);
// Strict: both keys once, a count within the bus's move limit; anything else is nothing.
std::optional<TKeptPosition> ParseKeptPosition(std::string_view text);

// The file's state and, unless none or damaged, its position.
TKeptState ReadKeptPosition(const std::string& path, TKeptPosition& p);
// Replaces the file as a whole (a crash leaves the old one or the new). False on failure.
bool WriteKeptPosition(const std::string& path, const TKeptPosition& p,
                       TFileOps& ops = DefaultFileOps());

}  // namespace morvane
