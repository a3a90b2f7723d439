#pragma once
// Writes small ELF files holding a package note, as test material for the version reader.

#include <string>

namespace morvane::test {

// An ELF relocatable file at path whose ".note.package" section holds one note of the given
// owner and type with text and its NUL as descriptor. False when it could not be written.
bool WriteNoteElf(const std::string& path, const std::string& text,
                  const std::string& owner = "FDO", unsigned type = 0xcafe1a7e);

// The JSON text of a version block with the given version parts, flags and strings of the
// "040904E4" table (key=value pairs).
std::string VersionJson(unsigned a, unsigned b, unsigned c, unsigned d, unsigned flags,
                        unsigned mask, const std::string& tableEntries,
                        const std::string& tableName = "040904E4");

}  // namespace morvane::test
