#pragma once
// Whole-file reading and atomic whole-file replacement for the settings file.

#include <sys/types.h>

#include <string>
#include <string_view>

namespace morvane {

// The system calls a replacement makes that can fail half-way. Tests derive from it to make a
// write run out of room, a flush fail or a rename be refused.
class TFileOps {
 public:
  virtual ~TFileOps() = default;
  virtual ssize_t Write(int fd, const void* data, size_t size);
  virtual int Sync(int fd);
  virtual int Rename(const std::string& from, const std::string& to);
};

TFileOps& DefaultFileOps();

enum class TFileRead { frRead, frMissing, frFailed };

// Reads the whole file into content. frMissing when nothing is at the path; frFailed when
// something is there that cannot be read (a directory, no permission, an I/O error).
TFileRead ReadWholeFile(const std::string& path, std::string& content);

// True when a regular file (or a link to one) is at the path.
bool FileExists(const std::string& path);

// What is at a path, links followed: nothing (or nothing that can be looked at), a regular
// file, or something else that must be neither read as settings nor replaced by them.
enum class TPathKind { pkNothing, pkFile, pkDirectory, pkDevice, pkOther };
TPathKind PathKind(const std::string& path);

// Removes the temporary files of replacements of path (see below) whose writers have ended,
// killed between making one and renaming it, so that none outlives its writer for longer than
// until the next save. A file of a writer that still runs, or that this user may not signal,
// is left alone.
void RemoveStaleTemps(const std::string& path);

// Replaces the file at path by content as a whole: a temporary file beside it is written,
// flushed and renamed over it, so that a crash or a full disk leaves either the old or the new
// file. A symbolic link is followed and stays a link. Keeps the old file's mode and owner.
// Where no file can be made beside it (a folder the user may not write, a disk without room
// for a second copy) or the replacement could not keep its owner and group (a writer other
// than its owner), the file is rewritten in place instead, its old contents restored should
// the write fail. Refuses a file it may not write. The temporary file is named
// "<file>.tmp<pid>-<n>"; those left by writers that have ended (killed) are removed first. False on
// any failure, errno saying why and the old file's contents untouched.
bool ReplaceWholeFile(const std::string& path, std::string_view content,
                      TFileOps& ops = DefaultFileOps());

}  // namespace morvane
