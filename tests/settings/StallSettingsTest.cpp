#include "settings/StallSettings.h"

#include <gtest/gtest.h>

#include "SettingsTestSupport.h"
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

}  // namespace
}  // namespace morvane
