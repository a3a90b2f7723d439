#include "settings/ProfileText.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace morvane {
namespace {

std::optional<std::string> Read(const std::string& text, const char* section, const char* key) {
  return TProfileText(text).ReadString(section, key);
}

std::string Write(const std::string& text, const char* section, const char* key,
                  const char* value) {
  TProfileText profile(text);
  EXPECT_TRUE(profile.WriteString(section, key, value));
  return profile.Text();
}

TEST(ProfileTextRead, NamesMatchWithoutRegardToCaseOrBlanks) {
  const std::string text =
      "[FocusControl]\r\nNudgeTime=0.015\r\n  [ Position ]  \r\n  Left =  12 \r\n";
  EXPECT_EQ(Read(text, "focuscontrol", "nudgetime"), "0.015");
  EXPECT_EQ(Read(text, "FOCUSCONTROL", "NUDGETIME"), "0.015");
  EXPECT_EQ(Read(text, "Position", "Left"), "12");
  EXPECT_EQ(Read(text, "position", "LEFT"), "12");
  EXPECT_EQ(Read(text, "Position", "Top"), std::nullopt);
  EXPECT_EQ(Read(text, "Missing", "Left"), std::nullopt);
}

TEST(ProfileTextRead, KeyBelongsToItsOwnSectionOnly) {
  const std::string text = "[A]\nx=1\n[B]\ny=2\n";
  EXPECT_EQ(Read(text, "A", "x"), "1");
  EXPECT_EQ(Read(text, "A", "y"), std::nullopt);
  EXPECT_EQ(Read(text, "B", "x"), std::nullopt);
  EXPECT_EQ(Read(text, "B", "y"), "2");
}

TEST(ProfileTextRead, KeysBeforeAnySectionAreNotInOne) {
  EXPECT_EQ(Read("x=1\n[A]\ny=2\n", "A", "x"), std::nullopt);
}

TEST(ProfileTextRead, OnePairOfMatchingQuotesIsRemoved) {
  const std::string text =
      "[S]\na=\"12\"\nb='12'\nc=\"12'\nd=\"\"12\"\"\ne=\"\nf=''\ng= \" 5 \" \nh=\"12\n";
  EXPECT_EQ(Read(text, "S", "a"), "12");
  EXPECT_EQ(Read(text, "S", "b"), "12");
  EXPECT_EQ(Read(text, "S", "c"), "\"12'");
  EXPECT_EQ(Read(text, "S", "d"), "\"12\"");
  EXPECT_EQ(Read(text, "S", "e"), "\"");
  EXPECT_EQ(Read(text, "S", "f"), "");
  EXPECT_EQ(Read(text, "S", "g"), " 5 ");
  EXPECT_EQ(Read(text, "S", "h"), "\"12");
}

TEST(ProfileTextRead, SemicolonLinesAreComments) {
  const std::string text = "[S]\n;a=1\n  ; b=2\nc=3 ; not a comment\n";
  EXPECT_EQ(Read(text, "S", "a"), std::nullopt);
  EXPECT_EQ(Read(text, "S", ";a"), std::nullopt);
  EXPECT_EQ(Read(text, "S", "b"), std::nullopt);
  EXPECT_EQ(Read(text, "S", "c"), "3 ; not a comment");
}

TEST(ProfileTextRead, FirstOfDuplicateSectionsAndKeysWins) {
  const std::string text = "[S]\nk=first\nk=second\nK=third\n[s]\nk=other\nonly=later\n";
  EXPECT_EQ(Read(text, "S", "k"), "first");
  // The later section of the same name is not looked at.
  EXPECT_EQ(Read(text, "S", "only"), std::nullopt);
}

TEST(ProfileTextRead, AllLineEndingsRead) {
  for (const std::string eol : {"\r\n", "\n", "\r"}) {
    const std::string text = "[S]" + eol + "a=1" + eol + "b=2" + eol + "[T]" + eol + "c=3";
    EXPECT_EQ(Read(text, "S", "a"), "1") << "line end " << eol.size();
    EXPECT_EQ(Read(text, "S", "b"), "2");
    EXPECT_EQ(Read(text, "T", "c"), "3");
  }
  EXPECT_EQ(Read("[S]\r\na=1\nb=2\rc=3\r\n", "S", "c"), "3");
  EXPECT_EQ(Read("[S]\r\na=1\nb=2\rc=3\r\n", "S", "b"), "2");
}

TEST(ProfileTextRead, ValueIsCutAt2047Characters) {
  const std::string longValue(3000, '7');
  const auto value = Read("[S]\nk=" + longValue + "\n", "S", "k");
  ASSERT_TRUE(value.has_value());
  EXPECT_EQ(value->size(), 2047u);
  EXPECT_EQ(Read("[S]\nk=" + std::string(2047, 'a') + "\n", "S", "k")->size(), 2047u);
  EXPECT_EQ(Read("[S]\nk=" + std::string(2046, 'a') + "\n", "S", "k")->size(), 2046u);
}

TEST(ProfileTextRead, EmptyValueAndMissingEqualsSign) {
  const std::string text = "[S]\nempty=\nblank=   \nbare\n";
  EXPECT_EQ(Read(text, "S", "empty"), "");
  EXPECT_EQ(Read(text, "S", "blank"), "");
  EXPECT_EQ(Read(text, "S", "bare"), std::nullopt);
  EXPECT_TRUE(TProfileText(text).KeyExists("s", "BARE"));
  EXPECT_TRUE(TProfileText(text).KeyExists("S", "empty"));
  EXPECT_FALSE(TProfileText(text).KeyExists("S", "other"));
}

TEST(ProfileTextRead, ValueKeepsLaterEqualsSigns) {
  EXPECT_EQ(Read("[S]\nk = a=b \n", "S", "k"), "a=b");
}

TEST(ProfileTextRead, ByteOrderMarkBeforeFirstSectionIsSkipped) {
  EXPECT_EQ(Read("\xEF\xBB\xBF[S]\r\nk=1\r\n", "S", "k"), "1");
}

TEST(ProfileTextRead, SectionHeaderWithoutClosingBracketNamesItsSection) {
  const std::string text = "[Device/Ports]\r\nComPort=3\r\n[ FocusControl \r\nNudgeTime=0.02\r\n";
  EXPECT_EQ(Read(text, "FocusControl", "NudgeTime"), "0.02");
  EXPECT_EQ(Read(text, "Device/Ports", "NudgeTime"), std::nullopt);
  // A write goes into that section instead of adding a second one.
  EXPECT_EQ(Write(text, "FocusControl", "StopFactor", "12"), text + "StopFactor=12\r\n");
  EXPECT_EQ(Write(text, "FocusControl", "NudgeTime", "0.015"),
            "[Device/Ports]\r\nComPort=3\r\n[ FocusControl \r\nNudgeTime=0.015\r\n");
}

TEST(ProfileTextWrite, ReplacesValueWhereKeyStandsKeepingEverythingElse) {
  const std::string before =
      "; hand-written\r\n[Device/Ports]\r\nComPort=3\r\n\r\n[FocusControl]\r\n"
      "  nudgetime =  0.020  \r\n; keep me\r\nStopFactor=12\r\n";
  const std::string after = Write(before, "FOCUSCONTROL", "NudgeTime", "0.015");
  EXPECT_EQ(after,
            "; hand-written\r\n[Device/Ports]\r\nComPort=3\r\n\r\n[FocusControl]\r\n"
            "  nudgetime =  0.015  \r\n; keep me\r\nStopFactor=12\r\n");
}

TEST(ProfileTextWrite, ReplacesQuotedAndEmptyValues) {
  EXPECT_EQ(Write("[S]\nk=\"7\"\n", "S", "k", "8"), "[S]\nk=8\n");
  EXPECT_EQ(Write("[S]\nk=\nn=1\n", "S", "k", "8"), "[S]\nk=8\nn=1\n");
  EXPECT_EQ(Write("[S]\n  k  \nn=1\n", "S", "k", "8"), "[S]\n  k=8  \nn=1\n");
}

TEST(ProfileTextWrite, KeepsLineEndingsOfTheFile) {
  EXPECT_EQ(Write("[S]\nk=1\nj=2\n", "S", "k", "5"), "[S]\nk=5\nj=2\n");
  EXPECT_EQ(Write("[S]\rk=1\rj=2", "S", "j", "5"), "[S]\rk=1\rj=5");
}

TEST(ProfileTextWrite, ReplacesOnlyTheFirstOfDuplicates) {
  EXPECT_EQ(Write("[S]\nk=1\nk=2\n[s]\nk=3\n", "S", "K", "9"), "[S]\nk=9\nk=2\n[s]\nk=3\n");
  // A key only in a later duplicate section is added to the first one, where reads look.
  EXPECT_EQ(Write("[S]\na=1\n[S]\nk=3\n", "S", "k", "9"), "[S]\na=1\nk=9\r\n[S]\nk=3\n");
}

TEST(ProfileTextWrite, AddsNewKeyAfterLastKeyOfItsSection) {
  const std::string before =
      "[Device/Ports]\r\nComPort=1\r\nVoice=0\r\n\r\n; about focusing\r\n[FocusControl]\r\n"
      "StayOnTop=1\r\n";
  EXPECT_EQ(Write(before, "device/ports", "Commands", "1"),
            "[Device/Ports]\r\nComPort=1\r\nVoice=0\r\nCommands=1\r\n\r\n; about focusing\r\n"
            "[FocusControl]\r\nStayOnTop=1\r\n");
}

TEST(ProfileTextWrite, AddsKeyRightAfterHeaderOfSectionWithoutKeys) {
  EXPECT_EQ(Write("[Position]\r\n\r\n[Other]\r\nx=1\r\n", "Position", "Left", "5"),
            "[Position]\r\nLeft=5\r\n\r\n[Other]\r\nx=1\r\n");
  EXPECT_EQ(Write("[A]\r\n[Position]", "Position", "Left", "5"), "[A]\r\n[Position]\r\nLeft=5\r\n");
}

TEST(ProfileTextWrite, AddsKeyToLastLineWithoutLineBreak) {
  EXPECT_EQ(Write("[S]\r\na=1", "S", "b", "2"), "[S]\r\na=1\r\nb=2\r\n");
}

TEST(ProfileTextWrite, AddsMissingSectionAtTheEnd) {
  EXPECT_EQ(Write("[A]\r\nx=1\r\n", "Position", "Left", "5"),
            "[A]\r\nx=1\r\n[Position]\r\nLeft=5\r\n");
  EXPECT_EQ(Write("[A]\nx=1", "Position", "Left", "5"), "[A]\nx=1\r\n[Position]\r\nLeft=5\r\n");
  EXPECT_EQ(Write("", "Position", "Left", "5"), "[Position]\r\nLeft=5\r\n");
  EXPECT_EQ(Write("\xEF\xBB\xBF", "Position", "Left", "5"), "\xEF\xBB\xBF[Position]\r\nLeft=5\r\n");
}

TEST(ProfileTextWrite, WrittenValueReadsBack) {
  TProfileText profile("[S]\nk=1\n");
  ASSERT_TRUE(profile.WriteString("T", "n", "x y"));
  ASSERT_TRUE(profile.WriteString("S", "k", "2"));
  ASSERT_TRUE(profile.WriteString("S", "m", "3"));
  EXPECT_EQ(profile.ReadString("S", "k"), "2");
  EXPECT_EQ(profile.ReadString("S", "m"), "3");
  EXPECT_EQ(profile.ReadString("T", "n"), "x y");
  EXPECT_EQ(profile.Text(), "[S]\nk=2\nm=3\r\n[T]\r\nn=x y\r\n");
}

TEST(ProfileTextWrite, RefusesWhatCannotStayOnOneLine) {
  TProfileText profile("[S]\nk=1\n");
  EXPECT_FALSE(profile.WriteString("S", "k", "1\r\n[Evil]"));
  EXPECT_FALSE(profile.WriteString("S", "k", std::string("a\0b", 3)));
  EXPECT_FALSE(profile.WriteString("S", "a=b", "1"));
  EXPECT_FALSE(profile.WriteString("S", "", "1"));
  EXPECT_FALSE(profile.WriteString("S", ";k", "1"));
  EXPECT_FALSE(profile.WriteString("S]", "k", "1"));
  EXPECT_FALSE(profile.WriteString("", "k", "1"));
  EXPECT_EQ(profile.Text(), "[S]\nk=1\n");
}

}  // namespace
}  // namespace morvane
