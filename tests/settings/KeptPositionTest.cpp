// The kept count's file: what a start makes of it, whatever is found there.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "settings/KeptPosition.h"

namespace morvane {
namespace {

TEST(KeptPositionTest, OnlyTheFileThisProgramWritesIsTaken) {
  struct TCase {
    const char* Text;
    bool Taken;
    int32_t Count;
    bool Closed;
  };
  const TCase cases[] = {
      {"Count=500\nClosed=1\n", true, 500, true},
      {"# comment\r\nCount=-12\r\nClosed=0\r\n", true, -12, false},
      {"Closed=0\nCount=1000000000\n", true, 1000000000, false},
      {"Count=-1000000000\nClosed=1", true, -1000000000, true},
      {"Count=1000000001\nClosed=1\n", false, 0, false},  // beyond any move
      {"Count=99999999999999999999\nClosed=1\n", false, 0, false},
      {"Count=500\n", false, 0, false},  // half written
      {"Closed=1\n", false, 0, false},
      {"", false, 0, false},
      {"Count=500\nClosed=2\n", false, 0, false},
      {"Count=5x\nClosed=1\n", false, 0, false},
      {"Count= 5\nClosed=1\n", false, 0, false},
      {"Count=\nClosed=1\n", false, 0, false},
      {"Count=5\nCount=6\nClosed=1\n", false, 0, false},
      {"Count=5\nClosed=1\nLeft=3\n", false, 0, false},
      {"[FocusControl]\nCount=5\nClosed=1\n", false, 0, false},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Text);
    const auto p = ParseKeptPosition(c.Text);
    ASSERT_EQ(p.has_value(), c.Taken);
    if (!p) continue;
    EXPECT_EQ(p->Count, c.Count);
    EXPECT_EQ(p->Closed, c.Closed);
    // What is written reads back as it was.
    const auto again = ParseKeptPosition(FormatKeptPosition(*p));
    ASSERT_TRUE(again.has_value());
    EXPECT_EQ(again->Count, c.Count);
    EXPECT_EQ(again->Closed, c.Closed);
  }
}

TEST(KeptPositionTest, AStartTellsAFirstStartACleanExitACrashAndADamagedFile) {
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("morvane-kept-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  const std::string ini = (dir / "Morvane.ini").string();
  const std::string path = KeptPositionPathFor(ini);
  EXPECT_EQ(path, (dir / "Morvane-position.txt").string());
  EXPECT_EQ(KeptPositionPathFor("/x/Morvane-sim.ini"), "/x/Morvane-sim-position.txt");

  TKeptPosition p;
  EXPECT_EQ(ReadKeptPosition(path, p), TKeptState::ksNone);
  ASSERT_TRUE(WriteKeptPosition(path, {250, false}));
  EXPECT_EQ(ReadKeptPosition(path, p), TKeptState::ksUnverified);
  EXPECT_EQ(p.Count, 250);
  ASSERT_TRUE(WriteKeptPosition(path, {-40, true}));
  EXPECT_EQ(ReadKeptPosition(path, p), TKeptState::ksTrusted);
  EXPECT_EQ(p.Count, -40);
  std::ofstream(path, std::ios::trunc) << "Count=1";
  EXPECT_EQ(ReadKeptPosition(path, p), TKeptState::ksDamaged);

  // The feature is on only where the settings file says so: an old file keeps starting at 0.
  EXPECT_FALSE(ReadKeepPosition(ini));
  std::ofstream(ini) << "[FocusControl]\r\nStopFactor=12\r\n";
  EXPECT_FALSE(ReadKeepPosition(ini));
  std::ofstream(ini) << "[FocusControl]\r\nKeepPosition=1\r\n";
  EXPECT_TRUE(ReadKeepPosition(ini));
  std::ofstream(ini) << "[FocusControl]\r\nKeepPosition=0\r\n";
  EXPECT_FALSE(ReadKeepPosition(ini));
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace morvane
