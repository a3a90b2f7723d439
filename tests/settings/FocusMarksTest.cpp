#include "settings/FocusMarks.h"

#include <gtest/gtest.h>

#include "SettingsTestSupport.h"

namespace morvane {
namespace {

using test::ReadFileBytes;
using test::TTempDir;
using test::WriteFileBytes;

TEST(FocusMarksTest, MarksSurviveARereadADamagedLineIsPassedOverAndTheNewestAreKept) {
  TTempDir dir;
  const std::string path = FocusMarksPathFor(dir.File("Morvane.ini"));
  EXPECT_EQ(path, dir.File("Morvane-marks.txt"));
  EXPECT_EQ(FocusMarksPathFor("/x/Morvane-sim.ini"), "/x/Morvane-sim-marks.txt");
  EXPECT_TRUE(ReadFocusMarks(path).empty());

  const TFocusMark first{1796679005, -3.125, -120};  // 2026-12-07T21:30:05Z
  ASSERT_TRUE(AddFocusMark(path, first));
  EXPECT_NE(ReadFileBytes(path).find("2026-12-07T21:30:05Z -3.125 -120\n"), std::string::npos);
  // A torn line, a wrong date, a word for a count and a blank line among good ones.
  WriteFileBytes(path, ReadFileBytes(path) +
                           "2026-12-07T21:3\n2026-13-07T21:30:05Z 1 2\n"
                           "2026-12-07T22:00:00Z 4.5 lots\n\n"
                           "2026-12-07T22:10:00Z 4.5 80 extra\n");
  const TFocusMark second{1796681400, 4.5, 80};  // 22:10:00Z
  ASSERT_TRUE(AddFocusMark(path, second));
  EXPECT_EQ(ReadFocusMarks(path), (std::vector<TFocusMark>{first, second}));

  for (int i = 0; i < static_cast<int>(MostFocusMarks); ++i)
    ASSERT_TRUE(AddFocusMark(path, TFocusMark{1796690000 + i, 10.0 + i / 100.0, i}));
  const std::vector<TFocusMark> kept = ReadFocusMarks(path);
  ASSERT_EQ(kept.size(), MostFocusMarks);
  EXPECT_EQ(kept.front().Position, 0);
  EXPECT_EQ(kept.back().Position, static_cast<int>(MostFocusMarks) - 1);

  ASSERT_TRUE(ClearFocusMarks(path));
  EXPECT_TRUE(ReadFocusMarks(path).empty());
  // A log that cannot be read is not replaced by one that lost its marks.
  EXPECT_FALSE(AddFocusMark(dir.File(""), first));
}

}  // namespace
}  // namespace morvane
