#include "settings/CompensationSettings.h"

#include <gtest/gtest.h>

#include "SettingsTestSupport.h"
#include "settings/Profile.h"
#include "settings/SettingsFile.h"

namespace morvane {
namespace {

using test::ReadFileBytes;
using test::TTempDir;
using test::WriteFileBytes;

TEST(CompensationSettingsTest, AFileWithoutTheSectionIsOffAndASaveTouchesOnlyTheSection) {
  TTempDir dir;
  const std::string ini = dir.File("Morvane.ini");
  WriteDefaultSettingsFile(ini);
  const std::string before = ReadFileBytes(ini);
  EXPECT_EQ(ReadCompensationSettings(ini), TCompensationSettings{});
  EXPECT_FALSE(ReadCompensationSettings(dir.File("none.ini")).TempComp);

  TCompensationSettings s;
  s.BacklashMode = 2;
  s.BacklashCodes = 25;
  s.TempComp = true;
  s.TempCoefficient = -12.5;
  s.TempSamples = 4;
  s.TempDeadBand = 3;
  s.TempReference = 8.25;
  ASSERT_TRUE(SaveCompensationSettings(ini, s));
  EXPECT_EQ(ReadCompensationSettings(ini), s);
  const std::string after = ReadFileBytes(ini);
  // The old text stands unchanged before the new section.
  EXPECT_EQ(after.substr(0, before.size()), before);
  EXPECT_NE(after.find("[Compensation]"), std::string::npos);
}

TEST(CompensationSettingsTest, ValuesOutOfRangeAreBroughtIntoIt) {
  TTempDir dir;
  const std::string ini = dir.File("Morvane.ini");
  WriteFileBytes(ini,
                 "[Compensation]\r\nBacklash=7\r\nBacklashCodes=-4\r\nTempSamples=0\r\n"
                 "TempDeadBand=-1\r\nTempCoefficient=junk\r\n");
  const TCompensationSettings s = ReadCompensationSettings(ini);
  EXPECT_EQ(s.BacklashMode, 0);
  EXPECT_EQ(s.BacklashCodes, 0);
  EXPECT_EQ(s.TempSamples, 1);
  EXPECT_EQ(s.TempDeadBand, 1);
  EXPECT_EQ(s.TempCoefficient, 0.0);
}

// A reference taken while compensating writes its own key: what the user changed in the file
// since the section was saved stays, whichever key it was.
TEST(CompensationSettingsTest, ASavedReferenceKeepsEveryOtherKeyEditedInTheFile) {
  struct TEdit {
    const char* Key;
    const char* Value;
  };
  const TEdit edits[] = {{"Backlash", "2"},        {"BacklashCodes", "40"},
                         {"TempComp", "0"},        {"TempCoefficient", "-3.5"},
                         {"TempSamples", "20"},    {"TempDeadBand", "9"},
                         {"SomethingElse", "kept"}};
  for (const TEdit& e : edits) {
    SCOPED_TRACE(e.Key);
    TTempDir dir;
    const std::string ini = dir.File("Morvane.ini");
    WriteDefaultSettingsFile(ini);
    TCompensationSettings s;
    s.TempComp = true;
    s.TempCoefficient = -12.5;
    s.TempReference = 8.25;
    ASSERT_TRUE(SaveCompensationSettings(ini, s));
    ASSERT_TRUE(WriteProfileString(ini, "Compensation", e.Key, e.Value));
    const std::string edited = ReadFileBytes(ini);

    ASSERT_TRUE(SaveTempReference(ini, 6.75));
    EXPECT_EQ(GetProfileString(ini, "Compensation", e.Key), e.Value);
    EXPECT_EQ(ReadCompensationSettings(ini).TempReference, 6.75);
    // Only the reference's line differs.
    const std::string after = ReadFileBytes(ini);
    const size_t at = edited.find("TempReference=");
    ASSERT_NE(at, std::string::npos);
    EXPECT_EQ(after.substr(0, at), edited.substr(0, at));
    EXPECT_EQ(after.substr(after.find('\n', at)), edited.substr(edited.find('\n', at)));
  }
}

}  // namespace
}  // namespace morvane
