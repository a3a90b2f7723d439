#include "settings/FileOps.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "SettingsTestSupport.h"

namespace morvane {
namespace {

using test::ReadFileBytes;
using test::TTempDir;
using test::WriteFileBytes;

// Lets through a given number of bytes, then fails as a full disk does.
class TFullDiskOps : public TFileOps {
 public:
  explicit TFullDiskOps(size_t room) : FRoom(room) {}
  ssize_t Write(int fd, const void* data, size_t size) override {
    if (FRoom == 0) {
      errno = ENOSPC;
      return -1;
    }
    const size_t n = size < FRoom ? size : FRoom;
    FRoom -= n;
    return TFileOps::Write(fd, data, n);
  }

 private:
  size_t FRoom;
};

class TFailingSyncOps : public TFileOps {
 public:
  int Sync(int) override {
    errno = EIO;
    return -1;
  }
};

class TFailingRenameOps : public TFileOps {
 public:
  int Rename(const std::string&, const std::string&) override {
    errno = EIO;
    return -1;
  }
};

// Splits every write in small pieces and interrupts some, as signals and pipes may.
class TChoppyOps : public TFileOps {
 public:
  ssize_t Write(int fd, const void* data, size_t size) override {
    if (++FCalls % 3 == 0) {
      errno = EINTR;
      return -1;
    }
    return TFileOps::Write(fd, data, size < 5 ? size : 5);
  }
  int FCalls = 0;
};

const std::string OldText = "[Device/Ports]\r\nComPort=3\r\n";
const std::string NewText = "[Device/Ports]\r\nComPort=4\r\n; a longer text than before\r\n";

TEST(ReplaceWholeFile, CreatesAMissingFile) {
  TTempDir dir;
  const std::string path = dir.File("Morvane.ini");
  ASSERT_TRUE(ReplaceWholeFile(path, NewText));
  EXPECT_EQ(ReadFileBytes(path), NewText);
  EXPECT_EQ(dir.Names(), std::vector<std::string>{"Morvane.ini"});
}

TEST(ReplaceWholeFile, ReplacesTheWholeFileAndKeepsItsMode) {
  TTempDir dir;
  const std::string path = dir.File("Morvane.ini");
  WriteFileBytes(path, OldText + std::string(5000, 'x'));
  ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
  ASSERT_TRUE(ReplaceWholeFile(path, NewText));
  EXPECT_EQ(ReadFileBytes(path), NewText);
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_EQ(dir.Names(), std::vector<std::string>{"Morvane.ini"});
}

TEST(ReplaceWholeFile, WritesAllBytesThroughShortAndInterruptedWrites) {
  TTempDir dir;
  const std::string path = dir.File("Morvane.ini");
  TChoppyOps ops;
  ASSERT_TRUE(ReplaceWholeFile(path, NewText, ops));
  EXPECT_EQ(ReadFileBytes(path), NewText);
  EXPECT_GT(ops.FCalls, 10);
}

TEST(ReplaceWholeFile, KeepsASymbolicLinkAndReplacesItsTarget) {
  TTempDir dir;
  const std::string target = dir.File("real.ini");
  const std::string link = dir.File("Morvane.ini");
  WriteFileBytes(target, OldText);
  ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0);
  ASSERT_TRUE(ReplaceWholeFile(link, NewText));
  struct stat st {};
  ASSERT_EQ(::lstat(link.c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(ReadFileBytes(target), NewText);
}

struct TFailureCase {
  const char* Name;
  TFileOps* Ops;
};

TEST(ReplaceWholeFile, AFailureAtAnyStepLeavesTheOldFileAndNoLitter) {
  TFullDiskOps noRoom(0);
  TFullDiskOps someRoom(10);
  TFailingSyncOps badSync;
  TFailingRenameOps badRename;
  for (const TFailureCase& c :
       {TFailureCase{"no room", &noRoom}, TFailureCase{"room for 10 bytes", &someRoom},
        TFailureCase{"flush fails", &badSync}, TFailureCase{"rename fails", &badRename}}) {
    SCOPED_TRACE(c.Name);
    TTempDir dir;
    const std::string path = dir.File("Morvane.ini");
    WriteFileBytes(path, OldText);
    EXPECT_FALSE(ReplaceWholeFile(path, NewText, *c.Ops));
    EXPECT_EQ(ReadFileBytes(path), OldText);
    EXPECT_EQ(dir.Names(), std::vector<std::string>{"Morvane.ini"});
  }
}

TEST(ReplaceWholeFile, AFileSizeLimitStopsTheWriteAndKeepsTheOldFile) {
  TTempDir dir;
  const std::string path = dir.File("Morvane.ini");
  WriteFileBytes(path, OldText);
  const std::string big(64 * 1024, 'y');

  bool replaced;
  {
    test::TFileSizeLimit fullDisk(4096);
    ASSERT_TRUE(fullDisk.Ok());
    replaced = ReplaceWholeFile(path, big);
  }

  EXPECT_FALSE(replaced);
  EXPECT_EQ(ReadFileBytes(path), OldText);
  EXPECT_EQ(dir.Names(), std::vector<std::string>{"Morvane.ini"});
}

TEST(ReplaceWholeFile, RefusesWhereNoFileCanBe) {
  TTempDir dir;
  const std::string plain = dir.File("plain");
  WriteFileBytes(plain, OldText);
  // A path under a regular file: no process, root included, can create it.
  EXPECT_FALSE(ReplaceWholeFile(plain + "/Morvane.ini", NewText));
  EXPECT_FALSE(ReplaceWholeFile(dir.File("missing/Morvane.ini"), NewText));
  // A directory where the file should be is not replaced.
  ASSERT_EQ(::mkdir(dir.File("Morvane.ini").c_str(), 0755), 0);
  EXPECT_FALSE(ReplaceWholeFile(dir.File("Morvane.ini"), NewText));
  EXPECT_EQ(ReadFileBytes(plain), OldText);
}

TEST(ReplaceWholeFile, RefusesAReadOnlyFileInAWritableDirectory) {
  TTempDir dir;
  const std::string path = dir.File("Morvane.ini");
  WriteFileBytes(path, OldText);
  ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
  // Anyone may create files beside it, so only the file's own protection can stop the write.
  ASSERT_EQ(::chmod(dir.Path().c_str(), 0777), 0);
  const int status = test::RunUnprivileged([&] {
    if (ReplaceWholeFile(path, NewText)) return 1;
    return ::access(dir.Path().c_str(), W_OK) == 0 ? 0 : 2;
  });
  EXPECT_EQ(status, 0) << "1: the file was replaced; 2: the directory was not writable";
  EXPECT_EQ(ReadFileBytes(path), OldText);
  EXPECT_EQ(dir.Names(), std::vector<std::string>{"Morvane.ini"});
}

// A writable settings file in a folder its user may not write, as beside an installed program.
class InPlaceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteFileBytes(FPath, OldText);
    ASSERT_EQ(::chmod(FPath.c_str(), 0666), 0);
    ASSERT_EQ(::chmod(FDir.Path().c_str(), 0555), 0);
  }
  void TearDown() override { ::chmod(FDir.Path().c_str(), 0755); }

  ino_t Inode() const {
    struct stat st {};
    ::stat(FPath.c_str(), &st);
    return st.st_ino;
  }

  TTempDir FDir;
  const std::string FPath = FDir.File("Morvane.ini");
};

TEST_F(InPlaceTest, AFileInAFolderThatCannotBeWrittenIsRewrittenWhereItStands) {
  const ino_t inode = Inode();
  for (const std::string& text : {NewText, std::string("[S]\r\n"), OldText}) {
    const int status =
        test::RunUnprivileged([&] { return ReplaceWholeFile(FPath, text) ? 0 : errno; });
    EXPECT_EQ(status, 0) << "errno " << status;
    EXPECT_EQ(ReadFileBytes(FPath), text);
  }
  EXPECT_EQ(Inode(), inode);
  EXPECT_EQ(FDir.Names(), std::vector<std::string>{"Morvane.ini"});
}

TEST_F(InPlaceTest, AFailedWriteInPlaceLeavesTheOldContents) {
  TFullDiskOps noRoom(0);
  TFullDiskOps roomForTheGrowth(NewText.size() - OldText.size() + 3);
  TFailingSyncOps badSync;
  for (const TFailureCase& c : {TFailureCase{"no room", &noRoom},
                                TFailureCase{"room for the growth only", &roomForTheGrowth},
                                TFailureCase{"flush fails", &badSync}}) {
    SCOPED_TRACE(c.Name);
    for (const std::string& text : {NewText, std::string("[S]\r\n")}) {
      if (c.Ops == &roomForTheGrowth && text.size() < OldText.size()) continue;
      WriteFileBytes(FPath, OldText);
      const int status = test::RunUnprivileged([&] {
        if (ReplaceWholeFile(FPath, text, *c.Ops)) return 1;
        return errno == ENOSPC || errno == EIO ? 0 : 2;
      });
      EXPECT_EQ(status, 0) << "1: reported success; 2: the reason was lost";
      EXPECT_EQ(ReadFileBytes(FPath), OldText);
    }
  }
}

// A disk with room for what a file grows by, not for a second copy of it: writes to a new
// file beside it fail.
class TNoRoomForACopyOps : public TFileOps {
 public:
  explicit TNoRoomForACopyOps(std::string path) : FPath(std::move(path)) {}
  ssize_t Write(int fd, const void* data, size_t size) override {
    char name[4096];
    const ssize_t n =
        ::readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), name, sizeof name);
    if (n <= 0 || std::string(name, static_cast<size_t>(n)) != FPath) {
      errno = ENOSPC;
      return -1;
    }
    return TFileOps::Write(fd, data, size);
  }

 private:
  std::string FPath;
};

TEST(ReplaceWholeFile, ADiskWithoutRoomForACopyIsWrittenInPlace) {
  TTempDir dir;
  const std::string path = dir.File("Morvane.ini");
  WriteFileBytes(path, OldText);
  TNoRoomForACopyOps ops(path);
  ASSERT_TRUE(ReplaceWholeFile(path, NewText, ops)) << "errno " << errno;
  EXPECT_EQ(ReadFileBytes(path), NewText);
  EXPECT_EQ(dir.Names(), std::vector<std::string>{"Morvane.ini"});
}

TEST(ReplaceWholeFile, AWriterOtherThanTheOwnerKeepsOwnerAndGroup) {
  TTempDir dir;
  const std::string path = dir.File("Morvane.ini");
  WriteFileBytes(path, OldText);
  ASSERT_EQ(::chmod(path.c_str(), 0666), 0);
  ASSERT_EQ(::chmod(dir.Path().c_str(), 0777), 0);
  struct stat before {};
  ASSERT_EQ(::stat(path.c_str(), &before), 0);
  const int status =
      test::RunUnprivileged([&] { return ReplaceWholeFile(path, NewText) ? 0 : errno; });
  EXPECT_EQ(status, 0) << "errno " << status;
  struct stat after {};
  ASSERT_EQ(::stat(path.c_str(), &after), 0);
  EXPECT_EQ(ReadFileBytes(path), NewText);
  EXPECT_EQ(after.st_uid, before.st_uid);
  EXPECT_EQ(after.st_gid, before.st_gid);
  EXPECT_EQ(after.st_mode & 07777, 0666u);
  EXPECT_EQ(dir.Names(), std::vector<std::string>{"Morvane.ini"});
}

TEST(ReadWholeFile, TellsMissingFromUnreadable) {
  TTempDir dir;
  std::string content = "stale";
  EXPECT_EQ(ReadWholeFile(dir.File("none"), content), TFileRead::frMissing);
  EXPECT_EQ(content, "");
  EXPECT_EQ(ReadWholeFile(dir.Path(), content), TFileRead::frFailed);
  WriteFileBytes(dir.File("plain"), "x");
  EXPECT_EQ(ReadWholeFile(dir.File("plain/below"), content), TFileRead::frFailed);
  const std::string bytes = std::string("a\0b\r\n", 5) + std::string(20000, 'z');
  WriteFileBytes(dir.File("ini"), bytes);
  EXPECT_EQ(ReadWholeFile(dir.File("ini"), content), TFileRead::frRead);
  EXPECT_EQ(content, bytes);
}

TEST(FileExists, OnlyForFiles) {
  TTempDir dir;
  WriteFileBytes(dir.File("ini"), "");
  EXPECT_TRUE(FileExists(dir.File("ini")));
  EXPECT_FALSE(FileExists(dir.File("none")));
  EXPECT_FALSE(FileExists(dir.Path()));
}

}  // namespace
}  // namespace morvane
