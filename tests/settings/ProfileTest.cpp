#include "settings/Profile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "SettingsTestSupport.h"

namespace morvane {
namespace {

using test::ReadFileBytes;
using test::TTempDir;
using test::WriteFileBytes;

class TCountingOps : public TFileOps {
 public:
  int Rename(const std::string& from, const std::string& to) override {
    ++FRenames;
    return TFileOps::Rename(from, to);
  }
  int FRenames = 0;
};

TEST(WriteProfileString, CreatesAMissingFileWithCrLf) {
  TTempDir dir;
  const std::string path = dir.File("Morvane.ini");
  ASSERT_TRUE(WriteProfileString(path, "Position", "Left", "12"));
  EXPECT_EQ(ReadFileBytes(path), "[Position]\r\nLeft=12\r\n");
  EXPECT_EQ(GetProfileString(path, "position", "left"), "12");
}

TEST(WriteProfileString, EditsTheFileInPlace) {
  TTempDir dir;
  const std::string path = dir.File("Morvane.ini");
  WriteFileBytes(path, "; mine\n[devices]\nCOM1=/dev/ttyUSB0\n[Position]\nleft = 3\n");
  ASSERT_TRUE(WriteProfileString(path, "Position", "Left", "-20"));
  ASSERT_TRUE(WriteProfileString(path, "Position", "Top", "7"));
  EXPECT_EQ(ReadFileBytes(path),
            "; mine\n[devices]\nCOM1=/dev/ttyUSB0\n[Position]\nleft = -20\nTop=7\r\n");
}

TEST(WriteProfileString, LeavesTheFileAloneWhenNothingChanges) {
  TTempDir dir;
  const std::string path = dir.File("Morvane.ini");
  WriteFileBytes(path, "[Position]\nLeft=3\n");
  TCountingOps ops;
  ASSERT_TRUE(WriteProfileString(path, "Position", "Left", "3", ops));
  EXPECT_EQ(ops.FRenames, 0);
  ASSERT_TRUE(WriteProfileString(path, "Position", "Left", "4", ops));
  EXPECT_EQ(ops.FRenames, 1);
}

TEST(WriteProfileString, DoesNotReplaceAFileItCannotRead) {
  TTempDir dir;
  const std::string path = dir.File("Morvane.ini");
  WriteFileBytes(path, "[Position]\nLeft=3\n");
  // Writable but not readable by the user that tries.
  if (::geteuid() == 0) {
    ASSERT_EQ(::chown(path.c_str(), 65534, 65534), 0);
  }
  ASSERT_EQ(::chmod(path.c_str(), 0200), 0);
  ASSERT_EQ(::chmod(dir.Path().c_str(), 0777), 0);
  const int status = test::RunUnprivileged(
      [&] { return WriteProfileString(path, "Position", "Left", "4") ? 1 : 0; });
  EXPECT_EQ(status, 0);
  ASSERT_EQ(::chmod(path.c_str(), 0600), 0);
  EXPECT_EQ(ReadFileBytes(path), "[Position]\nLeft=3\n");
}

TEST(GetProfileString, MissingFileHasNoKeys) {
  TTempDir dir;
  EXPECT_EQ(GetProfileString(dir.File("none.ini"), "Position", "Left"), std::nullopt);
  EXPECT_EQ(ReadProfileFile(dir.Path()).Text(), "");
}

}  // namespace
}  // namespace morvane
