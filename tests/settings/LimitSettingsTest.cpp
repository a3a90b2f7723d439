#include "settings/LimitSettings.h"

#include <gtest/gtest.h>

#include "SettingsTestSupport.h"
#include "settings/SettingsFile.h"

namespace morvane {
namespace {

using test::TTempDir;
using test::WriteFileBytes;

TEST(LimitSettingsTest, AFileWithoutTheKeysHasNoLimits) {
  TTempDir dir;
  const std::string ini = dir.File("Morvane.ini");
  WriteDefaultSettingsFile(ini);
  EXPECT_EQ(ReadTravelLimits(ini), TTravelLimits{});
  EXPECT_FALSE(ReadTravelLimits(dir.File("none.ini")).Set);
}

TEST(LimitSettingsTest, OnlyLimitsWithRoomBetweenThemAreSet) {
  struct {
    const char* Keys;
    bool Set;
  } cases[] = {
      {"LimitsSet=1\r\nLowerLimit=-100\r\nUpperLimit=200\r\n", true},
      {"LimitsSet=0\r\nLowerLimit=-100\r\nUpperLimit=200\r\n", false},
      {"LimitsSet=1\r\nLowerLimit=200\r\nUpperLimit=200\r\n", false},
      {"LimitsSet=1\r\nUpperLimit=200\r\n", false},
      {"LimitsSet=1\r\nLowerLimit=junk\r\nUpperLimit=200\r\n", false},
  };
  TTempDir dir;
  const std::string ini = dir.File("Morvane.ini");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Keys);
    WriteFileBytes(ini, std::string("[FocusControl]\r\nStopFactor=12\r\n") + c.Keys);
    EXPECT_EQ(ReadTravelLimits(ini).Set, c.Set);
  }
}

TEST(LimitSettingsTest, SavedLimitsReadBackAndLeaveTheOtherKeys) {
  TTempDir dir;
  const std::string ini = dir.File("Morvane.ini");
  WriteFileBytes(ini, "[FocusControl]\r\nStopFactor=12\r\n[Devices]\r\nCOM1=simulator\r\n");
  ASSERT_TRUE(SaveTravelLimits(ini, {true, -20071, 20071}));
  EXPECT_EQ(ReadTravelLimits(ini), (TTravelLimits{true, -20071, 20071}));
  ASSERT_TRUE(SaveTravelLimits(ini, {false, -20071, 20071}));
  EXPECT_FALSE(ReadTravelLimits(ini).Set);
  const std::string text = test::ReadFileBytes(ini);
  EXPECT_NE(text.find("StopFactor=12"), std::string::npos);
  EXPECT_NE(text.find("COM1=simulator"), std::string::npos);
}

}  // namespace
}  // namespace morvane
