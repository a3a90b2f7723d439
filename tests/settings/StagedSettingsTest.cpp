#include "settings/StagedSettings.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <utility>

namespace morvane {
namespace {

TEST(StagedSettings, InitialValuesAreThoseOfTheControlsBeforeAnyLoad) {
  const TStagedSettings s;
  EXPECT_EQ(s.ComPortRG.ItemIndex(), 0);
  EXPECT_EQ(s.CommandRG.ItemIndex(), 0);
  EXPECT_EQ(s.VoiceRG.ItemIndex(), 0);
  EXPECT_EQ(s.NudgeTimeSE.Value(), 0.018);
  EXPECT_EQ(s.CloseNudgeTimeSE.Value(), 0.013);
  EXPECT_EQ(s.NudgeDelaySE.Value(), 0.1);
  EXPECT_EQ(s.StopFactorSE.Value(), 8);
  EXPECT_EQ(s.CodesPerRevSE.Value(), 512);
  EXPECT_EQ(s.TravelPerRevSE.Value(), 0.58);
  EXPECT_FALSE(s.ReverseDirCB.Checked());
  EXPECT_FALSE(s.DualSenseCB.Checked());
  EXPECT_TRUE(s.SavePosCB.Checked());
}

TEST(StagedSettings, ChoicesClampToMinusOneAndTheLastIndex) {
  TStagedSettings s;
  TChoiceItem* items[] = {&s.ComPortRG, &s.CommandRG, &s.VoiceRG};
  const int lasts[] = {19, 1, 2};
  for (int i = 0; i < 3; ++i) {
    TChoiceItem& item = *items[i];
    const int last = lasts[i];
    EXPECT_EQ(item.LastIndex(), last);
    const std::pair<int, int> cases[] = {
        {-1, -1},     {-2, -1},         {std::numeric_limits<int>::min(), -1},  {0, 0},
        {last, last}, {last + 1, last}, {std::numeric_limits<int>::max(), last}};
    for (const auto& [stored, expected] : cases) {
      item.SetItemIndex(stored);
      EXPECT_EQ(item.ItemIndex(), expected) << "last " << last << " stored " << stored;
    }
  }
}

struct TSpinCase {
  TSpinItem TStagedSettings::*Item;
  double Min;
  double Max;
  int Decimals;
};

TEST(StagedSettings, NumbersClampThenRound) {
  const TSpinCase cases[] = {
      {&TStagedSettings::NudgeTimeSE, 0.005, 0.1, 3},
      {&TStagedSettings::CloseNudgeTimeSE, 0.005, 0.1, 3},
      {&TStagedSettings::NudgeDelaySE, 0.05, 0.3, 3},
      {&TStagedSettings::StopFactorSE, 1, 50, 0},
      {&TStagedSettings::CodesPerRevSE, 256, 1024, 0},
      {&TStagedSettings::TravelPerRevSE, 0.2, 1.0, 3},
  };
  for (const TSpinCase& c : cases) {
    TStagedSettings s;
    TSpinItem& item = s.*c.Item;
    SCOPED_TRACE(testing::Message() << "range " << c.Min << ".." << c.Max);
    EXPECT_EQ(item.MinValue(), c.Min);
    EXPECT_EQ(item.MaxValue(), c.Max);
    EXPECT_EQ(item.Decimals(), c.Decimals);
    item.SetValue(c.Min);
    EXPECT_EQ(item.Value(), c.Min);
    item.SetValue(c.Max);
    EXPECT_EQ(item.Value(), c.Max);
    item.SetValue(c.Min - 0.0001);
    EXPECT_EQ(item.Value(), c.Min);
    item.SetValue(c.Max + 0.0001);
    EXPECT_EQ(item.Value(), c.Max);
    item.SetValue(-1e300);
    EXPECT_EQ(item.Value(), c.Min);
    item.SetValue(1e300);
    EXPECT_EQ(item.Value(), c.Max);
    item.SetValue(std::numeric_limits<double>::infinity());
    EXPECT_EQ(item.Value(), c.Max);
    item.SetValue(std::nan(""));
    EXPECT_EQ(item.Value(), c.Min);
    item.SetValue(0);
    EXPECT_EQ(item.Value(), c.Min);
  }
}

TEST(StagedSettings, DecimalItemsKeepThreePlaces) {
  TStagedSettings s;
  s.NudgeTimeSE.SetValue(0.0126);
  EXPECT_EQ(s.NudgeTimeSE.Value(), 0.013);
  s.NudgeTimeSE.SetValue(0.5);
  EXPECT_EQ(s.NudgeTimeSE.Value(), 0.1);
  s.NudgeTimeSE.SetValue(0.0999);
  EXPECT_EQ(s.NudgeTimeSE.Value(), 0.1);
  s.CloseNudgeTimeSE.SetValue(0.00749);
  EXPECT_EQ(s.CloseNudgeTimeSE.Value(), 0.007);
  s.NudgeDelaySE.SetValue(0.0555);
  EXPECT_EQ(s.NudgeDelaySE.Value(), 0.056);
  s.TravelPerRevSE.SetValue(0.5804);
  EXPECT_EQ(s.TravelPerRevSE.Value(), 0.58);
  // Rounding up to a value past the bound cannot happen: bounds have three places.
  s.TravelPerRevSE.SetValue(0.19951);
  EXPECT_EQ(s.TravelPerRevSE.Value(), 0.2);
}

TEST(StagedSettings, WholeNumberItemsRoundToIntegers) {
  TStagedSettings s;
  s.StopFactorSE.SetValue(12.5);
  EXPECT_EQ(s.StopFactorSE.Value(), 13);
  EXPECT_EQ(s.StopFactorSE.AsInteger(), 13);
  s.StopFactorSE.SetValue(12.4);
  EXPECT_EQ(s.StopFactorSE.AsInteger(), 12);
  s.StopFactorSE.SetValue(49.7);
  EXPECT_EQ(s.StopFactorSE.AsInteger(), 50);
  s.StopFactorSE.SetValue(0.9);
  EXPECT_EQ(s.StopFactorSE.AsInteger(), 1);
  s.CodesPerRevSE.SetValue(1023.6);
  EXPECT_EQ(s.CodesPerRevSE.AsInteger(), 1024);
  s.CodesPerRevSE.SetValue(99);
  EXPECT_EQ(s.CodesPerRevSE.AsInteger(), 256);
}

TEST(StagedSettings, FlagsHoldWhatIsStored) {
  TStagedSettings s;
  s.ReverseDirCB.SetChecked(true);
  s.DualSenseCB.SetChecked(true);
  s.SavePosCB.SetChecked(false);
  EXPECT_TRUE(s.ReverseDirCB.Checked());
  EXPECT_TRUE(s.DualSenseCB.Checked());
  EXPECT_FALSE(s.SavePosCB.Checked());
}

}  // namespace
}  // namespace morvane
