// The settings file under a numeric locale whose decimal separator is a comma.

#include <gtest/gtest.h>

#include <string>

#include "SettingsTestSupport.h"
#include "settings/Profile.h"
#include "settings/SettingsFile.h"
#include "settings/ValueText.h"

namespace morvane {
namespace {

using test::ReadFileBytes;
using test::TFakeHost;
using test::TTempDir;
using test::WriteFileBytes;

class SettingsFileCommaTest : public testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    locale_t comma = test::NewCommaLocale(why);
    if (comma == nullptr) GTEST_SKIP() << why;
    FLocale = std::make_unique<test::TScopedNumericLocale>(comma);
    ASSERT_EQ(DecimalSeparator(), ",");
  }

  std::unique_ptr<test::TScopedNumericLocale> FLocale;
  TTempDir FDir;
  const std::string FPath = FDir.File("Morvane.ini");
  TFakeHost FHost;
};

TEST_F(SettingsFileCommaTest, DefaultFileUsesTheCommaButKeepsTheFixedTravelLine) {
  TStagedSettings s;
  LoadSettings(FPath, s, FHost);
  EXPECT_EQ(ReadFileBytes(FPath),
            "[Device/Ports]\r\nComPort=1\r\nCommands=1\r\nVoice=0\r\n\r\n[FocusControl]\r\n"
            "NudgeTime=0,015\r\nCloseNudgeTime=0,01\r\nNudgeDelay=0,15\r\nStopFactor=12\r\n"
            "CodesPerRev=512\r\nTravelPerRev=0.58\r\nReverseDirection=0\r\nHiResPositioning=0\r\n"
            "KeepPosition=1\r\nStayOnTop=1\r\n\r\n[Position]\r\n");
  EXPECT_EQ(s.NudgeTimeSE.Value(), 0.015);
  EXPECT_EQ(s.CloseNudgeTimeSE.Value(), 0.01);
  EXPECT_EQ(s.NudgeDelaySE.Value(), 0.15);
  // "0.58" is no number where the separator is a comma.
  EXPECT_EQ(s.TravelPerRevSE.Value(), 0.2);
}

TEST_F(SettingsFileCommaTest, SaveWritesCommasThatLoadBack) {
  TStagedSettings saved;
  saved.NudgeTimeSE.SetValue(0.021);
  saved.NudgeDelaySE.SetValue(0.25);
  saved.TravelPerRevSE.SetValue(0.6);
  SaveSettings(FPath, saved);
  EXPECT_EQ(GetProfileString(FPath, "FocusControl", "NudgeTime"), "0,021");
  EXPECT_EQ(GetProfileString(FPath, "FocusControl", "NudgeDelay"), "0,25");
  EXPECT_EQ(GetProfileString(FPath, "FocusControl", "TravelPerRev"), "0,6");
  TStagedSettings loaded;
  LoadSettings(FPath, loaded, FHost);
  EXPECT_EQ(loaded.NudgeTimeSE.Value(), 0.021);
  EXPECT_EQ(loaded.NudgeDelaySE.Value(), 0.25);
  EXPECT_EQ(loaded.TravelPerRevSE.Value(), 0.6);
}

TEST_F(SettingsFileCommaTest, FullStopsAreUnreadableAndIntegersUnaffected) {
  WriteFileBytes(FPath,
                 "[FocusControl]\r\nNudgeTime=0.05\r\nNudgeDelay=0,2\r\nStopFactor=0x0C\r\n");
  TStagedSettings s;
  LoadSettings(FPath, s, FHost);
  EXPECT_EQ(s.NudgeTimeSE.Value(), 0.005);
  EXPECT_EQ(s.NudgeDelaySE.Value(), 0.2);
  EXPECT_EQ(s.StopFactorSE.Value(), 12);
}

TEST_F(SettingsFileCommaTest, SeparatorIsTakenAtTheTimeOfEachOperation) {
  TStagedSettings s;
  s.NudgeTimeSE.SetValue(0.03);
  SaveSettings(FPath, s);
  {
    test::TScopedNumericLocale c(test::NewCLocale());
    LoadSettings(FPath, s, FHost);
  }
  EXPECT_EQ(s.NudgeTimeSE.Value(), 0.005);
  LoadSettings(FPath, s, FHost);
  EXPECT_EQ(s.NudgeTimeSE.Value(), 0.03);
}

}  // namespace
}  // namespace morvane
