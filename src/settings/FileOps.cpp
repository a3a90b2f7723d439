#include "settings/FileOps.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>

namespace morvane {

ssize_t TFileOps::Write(int fd, const void* data, size_t size) {
  return ::write(fd, data, size);
}

int TFileOps::Sync(int fd) {
  return ::fsync(fd);
}

int TFileOps::Rename(const std::string& from, const std::string& to) {
  return ::rename(from.c_str(), to.c_str());
}

TFileOps& DefaultFileOps() {
  static TFileOps ops;
  return ops;
}

namespace {

class TFd {
 public:
  explicit TFd(int fd) : FFd(fd) {}
  TFd(const TFd&) = delete;
  TFd& operator=(const TFd&) = delete;
  ~TFd() {
    if (FFd >= 0) ::close(FFd);
  }
  int Get() const { return FFd; }
  // Closes now so that a failing close can be seen.
  bool Close() {
    int fd = FFd;
    FFd = -1;
    return ::close(fd) == 0;
  }

 private:
  int FFd;
};

// Removes the temporary file unless the rename has taken it.
class TTempFile {
 public:
  explicit TTempFile(std::string path) : FPath(std::move(path)) {}
  TTempFile(const TTempFile&) = delete;
  TTempFile& operator=(const TTempFile&) = delete;
  ~TTempFile() {
    if (!FPath.empty()) ::unlink(FPath.c_str());
  }
  const std::string& Path() const { return FPath; }
  void Release() { FPath.clear(); }
  void Remove() {
    if (!FPath.empty()) ::unlink(FPath.c_str());
    FPath.clear();
  }

 private:
  std::string FPath;
};

// The file a replacement must rename over: the target of a symbolic link, so that the link
// itself stays.
std::string ReplacementTarget(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
  std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path.c_str(), nullptr),
                                                       &std::free);
  return resolved ? std::string(resolved.get()) : path;
}

std::string DirectoryOf(const std::string& path) {
  std::string::size_type slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// A replacement's temporary file is named "<file>.tmp<pid>-<n>": the writer's process and its
// count of replacements.
constexpr char TempInfix[] = ".tmp";

// The writer's process id in the rest of a temporary file's name after the infix.
std::optional<pid_t> WriterOfTemp(std::string_view rest) {
  const std::string_view::size_type dash = rest.find('-');
  if (dash == 0 || dash == std::string_view::npos || dash + 1 == rest.size()) return std::nullopt;
  const auto digits = [](std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
  };
  if (dash > 9 || !digits(rest.substr(0, dash)) || !digits(rest.substr(dash + 1)))
    return std::nullopt;
  return static_cast<pid_t>(std::stol(std::string(rest.substr(0, dash))));
}

}  // namespace

void RemoveStaleTemps(const std::string& path) {
  const std::string target = ReplacementTarget(path);
  const std::string::size_type slash = target.rfind('/');
  const std::string prefix =
      (slash == std::string::npos ? target : target.substr(slash + 1)) + TempInfix;
  const auto close = [](DIR* d) { ::closedir(d); };
  std::unique_ptr<DIR, decltype(close)> dir(::opendir(DirectoryOf(target).c_str()), close);
  if (!dir) return;
  while (const dirent* entry = ::readdir(dir.get())) {
    const std::string_view name(entry->d_name);
    if (name.size() <= prefix.size() || name.substr(0, prefix.size()) != prefix) continue;
    const std::optional<pid_t> writer = WriterOfTemp(name.substr(prefix.size()));
    if (!writer || *writer <= 0 || *writer == ::getpid()) continue;
    if (::kill(*writer, 0) == 0 || errno != ESRCH) continue;
    struct stat st {};
    if (::fstatat(::dirfd(dir.get()), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISREG(st.st_mode))
      continue;
    ::unlinkat(::dirfd(dir.get()), entry->d_name, 0);
  }
}

namespace {

int CreateTempBeside(const std::string& target, std::string& tempPath) {
  static std::atomic<unsigned> counter{0};
  RemoveStaleTemps(target);
  for (int attempt = 0; attempt < 100; ++attempt) {
    tempPath = target + TempInfix + std::to_string(::getpid()) + "-" + std::to_string(counter++);
    // 0666 so that a new file gets the mode the umask gives any new file.
    int fd = ::open(tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

bool WriteAll(TFileOps& ops, int fd, std::string_view content) {
  const char* data = content.data();
  size_t left = content.size();
  while (left > 0) {
    ssize_t written = ops.Write(fd, data, left);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    data += written;
    left -= static_cast<size_t>(written);
  }
  return true;
}

}  // namespace

TFileRead ReadWholeFile(const std::string& path, std::string& content) {
  content.clear();
  TFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  if (fd.Get() < 0) return errno == ENOENT ? TFileRead::frMissing : TFileRead::frFailed;
  struct stat st {};
  if (::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode)) return TFileRead::frFailed;
  char buffer[8192];
  for (;;) {
    ssize_t got = ::read(fd.Get(), buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return TFileRead::frFailed;
    if (got == 0) break;
    content.append(buffer, static_cast<size_t>(got));
  }
  return TFileRead::frRead;
}

bool FileExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

TPathKind PathKind(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return TPathKind::pkNothing;
  if (S_ISREG(st.st_mode)) return TPathKind::pkFile;
  if (S_ISDIR(st.st_mode)) return TPathKind::pkDirectory;
  if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode)) return TPathKind::pkDevice;
  return TPathKind::pkOther;
}

namespace {

// Reads what fd holds from its start.
int ReadAll(int fd, std::string& content) {
  content.clear();
  char buffer[8192];
  for (off_t at = 0;;) {
    const ssize_t got = ::pread(fd, buffer, sizeof buffer, at);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return errno;
    if (got == 0) return 0;
    content.append(buffer, static_cast<size_t>(got));
    at += got;
  }
}

// Writes content at offset; 0 or the errno of the write that failed.
int WriteAt(TFileOps& ops, int fd, off_t offset, std::string_view content) {
  if (::lseek(fd, offset, SEEK_SET) != offset) return errno;
  if (WriteAll(ops, fd, content)) return 0;
  return errno != 0 ? errno : ENOSPC;
}

// Rewrites the file in place, as the Windows profile functions do, for where a replacement
// beside it cannot be made or would give the file away to this user. The old contents are kept
// in memory until the new ones are through: the part that grows the file is written first, so
// that a full disk is met before an old byte changes, and any later failure writes them back.
int WriteInPlace(const std::string& target, std::string_view content, TFileOps& ops) {
  TFd fd(::open(target.c_str(), O_RDWR | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  if (fd.Get() < 0) return errno;
  struct stat st {};
  if (::fstat(fd.Get(), &st) != 0) return errno;
  if (!S_ISREG(st.st_mode)) return EINVAL;
  std::string old;
  if (const int error = ReadAll(fd.Get(), old); error != 0) return error;
  if (old == content) return 0;
  const off_t oldSize = static_cast<off_t>(old.size());
  const std::string_view head = content.substr(0, std::min(content.size(), old.size()));

  if (content.size() > old.size()) {
    if (const int error = WriteAt(ops, fd.Get(), oldSize, content.substr(old.size())); error != 0) {
      [[maybe_unused]] const int rc = ::ftruncate(fd.Get(), oldSize);
      return error;
    }
  }
  int error = WriteAt(ops, fd.Get(), 0, head);
  if (error == 0 && content.size() < old.size() &&
      ::ftruncate(fd.Get(), static_cast<off_t>(content.size())) != 0)
    error = errno;
  if (error == 0 && ops.Sync(fd.Get()) != 0) error = errno;
  if (error != 0) {
    // Over blocks the file already has, so this needs no room the failed write lacked.
    if (WriteAt(DefaultFileOps(), fd.Get(), 0, old) == 0 && ::ftruncate(fd.Get(), oldSize) == 0)
      ::fsync(fd.Get());
    return error;
  }
  if (!fd.Close()) return errno;
  return 0;
}

// 0, or the errno of the step that failed; the old file is then as it was.
int Replace(const std::string& path, std::string_view content, TFileOps& ops) {
  const std::string target = ReplacementTarget(path);
  struct stat old {};
  const bool hadOld = ::stat(target.c_str(), &old) == 0;
  if (hadOld) {
    if (!S_ISREG(old.st_mode)) return S_ISDIR(old.st_mode) ? EISDIR : EINVAL;
    // A rename would replace a read-only file too; honour the file's own protection.
    TFd probe(::open(target.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (probe.Get() < 0) return errno;
  } else if (errno != ENOENT) {
    return errno;
  }

  std::string tempPath;
  TFd fd(CreateTempBeside(target, tempPath));
  // A writable file in a folder this user may not write (a program installed by another), or
  // on a disk without room for a second copy: where it stands, it needs room for its growth only.
  const auto inPlaceServes = [hadOld](int error) {
    return hadOld && (error == EACCES || error == EPERM || error == ENOSPC || error == EDQUOT);
  };
  if (fd.Get() < 0) {
    const int error = errno;
    return inPlaceServes(error) ? WriteInPlace(target, content, ops) : error;
  }
  TTempFile temp(tempPath);
  if (hadOld) {
    // Owner first: a change of owner clears set-id bits that the mode then restores. Only a
    // privileged process may give a file away, so a replacement by another user would make
    // the file that user's own: such a writer changes the file where it stands instead.
    if (::fchown(fd.Get(), old.st_uid, old.st_gid) != 0) {
      fd.Close();
      temp.Remove();
      return WriteInPlace(target, content, ops);
    }
    if (::fchmod(fd.Get(), old.st_mode & 07777) != 0) return errno;
  }
  if (!WriteAll(ops, fd.Get(), content)) {
    const int error = errno != 0 ? errno : ENOSPC;
    if (!inPlaceServes(error)) return error;
    fd.Close();
    temp.Remove();  // its blocks first
    return WriteInPlace(target, content, ops);
  }
  if (ops.Sync(fd.Get()) != 0) return errno;
  if (!fd.Close()) return errno;
  if (ops.Rename(temp.Path(), target) != 0) return errno;
  temp.Release();

  // Makes the rename itself durable; should this fail, a crash leaves the old file, whole.
  TFd dir(::open(DirectoryOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.Get() >= 0) ::fsync(dir.Get());
  return 0;
}

}  // namespace

bool ReplaceWholeFile(const std::string& path, std::string_view content, TFileOps& ops) {
  if (const int error = Replace(path, content, ops); error != 0) {
    errno = error;
    return false;
  }
  return true;
}

}  // namespace morvane
