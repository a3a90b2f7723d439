#include "settings/StallSettings.h"

#include <gtest/gtest.h>

#include "SettingsTestSupport.h"
#include "settings/PositionScaleSettings.h"
#include "settings/SettingsFile.h"

namespace morvane {
namespace {

using test::TTempDir;
using test::WriteFileBytes;

TEST(StallSettingsTest, AFileWithoutTheKeyGivesTheFactoryMotorsTime) {
  TTempDir dir;
  const std::string ini = dir.File("Morvane.ini");
  WriteDefaultSettingsFile(ini);
  EXPECT_DOUBLE_EQ(ReadStallTime(ini), 0.5);
  EXPECT_DOUBLE_EQ(ReadStallTime(dir.File("none.ini")), 0.5);
}

TEST(StallSettingsTest, TheKeyIsReadAndBroughtIntoRange) {
  struct {
    const char* Text;
    double Seconds;
  } cases[] = {{"1.5", 1.5}, {"0.25", 0.25}, {"0.01", 0.1}, {"60", 10},
               {"0", 0.5},   {"-2", 0.5},    {"junk", 0.5}, {"", 0.5}};
  TTempDir dir;
  const std::string ini = dir.File("Morvane.ini");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Text);
    WriteFileBytes(ini,
                   std::string("[FocusControl]\r\nStopFactor=12\r\nStallTime=") + c.Text + "\r\n");
    EXPECT_DOUBLE_EQ(ReadStallTime(ini), c.Seconds);
  }
}

// [FocusControl] PositionScale, the clients' scale, sits beside the stall time: a file without
// it keeps the scale the INDI driver had.
TEST(PositionScaleSettingsTest, TheKeyIsReadAndBroughtIntoRange) {
  struct {
    const char* Line;
    int32_t Scale;
  } cases[] = {{"", 100000},
               {"PositionScale=20000\r\n", 20000},
               {"PositionScale=1000\r\n", 1000},
               {"PositionScale=999\r\n", 1000},
               {"PositionScale=1000001\r\n", 1000000},
               {"PositionScale=99999999999\r\n", 1000000},
               {"PositionScale=-5\r\n", 1000},
               {"PositionScale=2.5e4\r\n", 100000},
               {"PositionScale=\r\n", 100000},
               {"PositionScale=junk\r\n", 100000}};
  TTempDir dir;
  const std::string ini = dir.File("Morvane.ini");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Line);
    WriteFileBytes(ini, std::string("[FocusControl]\r\nStopFactor=12\r\n") + c.Line);
    EXPECT_EQ(ReadPositionScale(ini), c.Scale);
  }
  EXPECT_EQ(ReadPositionScale(dir.File("none.ini")), 100000);
}

}  // namespace
}  // namespace morvane
