#include "widgets/ulxmLiteFP.h"

#include <QElapsedTimer>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "widgets/WidgetTestUtils.h"

namespace {

// Records what every paint showed.
class TRecordingLiteFP : public TlxmLiteFP {
 public:
  using TlxmLiteFP::TlxmLiteFP;
  int Paints = 0;
  // The fill colour of each paint, consecutive repeats dropped.
  std::vector<TColor> Shown;

 protected:
  void paintEvent(QPaintEvent* Event) override {
    TlxmLiteFP::paintEvent(Event);
    ++Paints;
    const TColor Fill = Lit() ? OnColor() : OffColor();
    if (Shown.empty() || Shown.back() != Fill) Shown.push_back(Fill);
  }
};

class TlxmLiteFPTest : public testing::Test {
 protected:
  void SetUp() override {
    Lite.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&Lite));
    ASSERT_TRUE(WaitFor([this] { return Lite.Paints > 0; }));
    Lite.SetOnChange([this](QObject*, bool Lit) { Changes.push_back(Lit); });
  }

  // Waits for the paint that a property change asked for.
  void WaitForPaint() {
    const int Before = Lite.Paints;
    ASSERT_TRUE(WaitFor([&] { return Lite.Paints > Before; }));
  }

  QColor CentrePixel() { return Lite.grab().toImage().pixelColor(9, 9); }

  // Lets the light's timer have that many of its periods, to see that nothing came of them.
  void RunDurations(int Periods) {
    ASSERT_TRUE(RunTimerPeriods(Lite.Duration(), Periods));
    SettlePaints();
  }

  TRecordingLiteFP Lite;
  std::vector<bool> Changes;
};

TEST_F(TlxmLiteFPTest, NewFlashLightHasItsDefaults) {
  EXPECT_EQ(Lite.Duration(), 500);
  EXPECT_EQ(Lite.FlashType(), TlxmLiteFP::ftNone);
  EXPECT_EQ(Lite.OnFlashColor(), 0x00FFFFu);
  EXPECT_EQ(Lite.OnColor(), 0x00FF00u);
  EXPECT_EQ(Lite.size(), QSize(18, 18));
  EXPECT_TRUE(Lite.setProperty("FlashType", QVariant::fromValue(TlxmLiteFP::ftPulse)));
  EXPECT_EQ(Lite.FlashType(), TlxmLiteFP::ftPulse);
}

TEST_F(TlxmLiteFPTest, WithoutFlashTypeItIsAPlainLight) {
  Lite.SetDuration(20);
  Lite.SetLit(true);
  WaitForPaint();
  RunDurations(5);
  EXPECT_TRUE(Lite.Lit());
  EXPECT_EQ(Changes, std::vector<bool>{true});
  EXPECT_EQ(CentrePixel(), Lime);
}

TEST_F(TlxmLiteFPTest, PulseShowsOnColourThenTurnsItselfOff) {
  Lite.SetFlashType(TlxmLiteFP::ftPulse);
  Lite.SetDuration(50);
  QElapsedTimer Clock;
  Clock.start();
  Lite.SetLit(true);
  EXPECT_EQ(Changes, std::vector<bool>{true});
  WaitForPaint();
  ASSERT_TRUE(WaitFor([&] { return Changes.size() == 2; }));
  const qint64 Lasted = Clock.elapsed();
  EXPECT_EQ(Changes, (std::vector<bool>{true, false}));
  EXPECT_FALSE(Lite.Lit());
  // The timer may run a little early by Qt's coarse timing, never by half.
  EXPECT_GE(Lasted, 40);
  WaitForPaint();
  EXPECT_EQ(Lite.Shown, (std::vector<TColor>{clDarkGreen, clLime, clDarkGreen}));
  EXPECT_EQ(CentrePixel(), DarkGreen);
  // Resting: no further change.
  RunDurations(3);
  EXPECT_EQ(Changes.size(), 2u);
}

TEST_F(TlxmLiteFPTest, PulseLightRestingLitBlinksOffOnce) {
  Lite.SetLit(true);
  WaitForPaint();
  Lite.SetFlashType(TlxmLiteFP::ftPulse);
  Lite.SetDuration(150);
  WaitForPaint();
  Changes.clear();
  Lite.SetLit(false);
  WaitForPaint();
  EXPECT_EQ(CentrePixel(), DarkGreen);
  ASSERT_TRUE(WaitFor([&] { return Changes.size() == 2; }));
  EXPECT_EQ(Changes, (std::vector<bool>{false, true}));
  WaitForPaint();
  EXPECT_EQ(CentrePixel(), Lime);
  RunDurations(2);
  EXPECT_TRUE(Lite.Lit());
  EXPECT_EQ(Changes.size(), 2u);
}

TEST_F(TlxmLiteFPTest, PulseCutShortEndsAtOnceAndThePendingTickGivesOneMorePulse) {
  Lite.SetFlashType(TlxmLiteFP::ftPulse);
  Lite.SetDuration(150);
  Lite.SetLit(true);
  WaitForPaint();
  Lite.SetLit(false);
  WaitForPaint();
  EXPECT_EQ(CentrePixel(), DarkGreen);
  EXPECT_EQ(Changes, (std::vector<bool>{true, false}));
  // The tick still pending lights it again, which is a pulse of its own.
  ASSERT_TRUE(WaitFor([&] { return Changes.size() == 3; }));
  EXPECT_TRUE(Lite.Lit());
  ASSERT_TRUE(WaitFor([&] { return Changes.size() == 4; }));
  EXPECT_EQ(Changes, (std::vector<bool>{true, false, true, false}));
  WaitForPaint();
  EXPECT_EQ(CentrePixel(), DarkGreen);
  RunDurations(3);
  EXPECT_FALSE(Lite.Lit());
  EXPECT_EQ(Changes.size(), 4u);
}

TEST_F(TlxmLiteFPTest, RelightingDuringAPulseDoesNotPutTheTickBack) {
  Lite.SetFlashType(TlxmLiteFP::ftPulse);
  Lite.SetDuration(400);
  QElapsedTimer Clock;
  Clock.start();
  Lite.SetLit(true);
  WaitForPaint();
  Lite.SetLit(false);
  WaitForPaint();
  // Half way through the pulse's 400 ms.
  constexpr int RelightAfterMs = 200;
  QTest::qWait(RelightAfterMs);
  Lite.SetLit(true);
  WaitForPaint();
  // The first tick, due 400 ms after the start, turns it off; a restarted one would wait 600.
  ASSERT_TRUE(WaitFor([&] { return Changes.size() == 4; }));
  EXPECT_EQ(Changes, (std::vector<bool>{true, false, true, false}));
  EXPECT_LT(Clock.elapsed(), 560);
}

TEST_F(TlxmLiteFPTest, PulsesRunTheirTimeWithoutBeingPainted) {
  Lite.SetFlashType(TlxmLiteFP::ftPulse);
  Lite.SetDuration(50);
  WaitForPaint();
  // Nothing is painted from here on, as for a light on a hidden panel, or for readings that
  // come back to back on a GUI thread too busy to paint between them.
  Lite.hide();
  const int Painted = Lite.Paints;
  Lite.SetLit(true);
  ASSERT_TRUE(WaitFor([&] { return Changes.size() == 2; }));
  Lite.SetLit(true);
  ASSERT_TRUE(WaitFor([&] { return Changes.size() == 4; }));
  EXPECT_EQ(Changes, (std::vector<bool>{true, false, true, false}));
  EXPECT_FALSE(Lite.Lit());
  EXPECT_EQ(Lite.Paints, Painted);
}

TEST_F(TlxmLiteFPTest, PulseWithNoDurationStaysLit) {
  Lite.SetFlashType(TlxmLiteFP::ftPulse);
  Lite.SetDuration(0);
  Lite.SetLit(true);
  WaitForPaint();
  // No timer of the light's own to follow: a zero one would have fired at once, many times.
  ASSERT_TRUE(RunTimerPeriods(10, 10));
  EXPECT_TRUE(Lite.Lit());
  EXPECT_EQ(Changes, std::vector<bool>{true});
}

TEST_F(TlxmLiteFPTest, TickFallingWhileModeIsNoneIsDropped) {
  Lite.SetFlashType(TlxmLiteFP::ftPulse);
  Lite.SetDuration(50);
  Lite.SetLit(true);
  WaitForPaint();
  Lite.SetFlashType(TlxmLiteFP::ftNone);
  RunDurations(2);  // the tick falls
  Lite.SetFlashType(TlxmLiteFP::ftPulse);
  RunDurations(2);
  EXPECT_TRUE(Lite.Lit());
  EXPECT_EQ(Changes, std::vector<bool>{true});
}

TEST_F(TlxmLiteFPTest, FlashAlternatesFlashAndOffColourThenRestoresOnColour) {
  std::vector<bool> Flashes;
  Lite.SetOnFlash([&](QObject* Sender, bool LiteOn) {
    EXPECT_EQ(Sender, &Lite);
    Flashes.push_back(LiteOn);
  });
  Lite.SetOnColor(0x0000FF);
  Lite.SetFlashType(TlxmLiteFP::ftFlash);
  Lite.SetOnFlashColor(clYellow);
  Lite.SetOffColor(clDarkGreen);
  Lite.SetDuration(60);
  WaitForPaint();
  SettlePaints();
  Lite.Shown.clear();
  Flashes.clear();

  Lite.SetLit(true);
  ASSERT_TRUE(WaitFor([&] { return Lite.Shown.size() >= 3; }));
  EXPECT_EQ(std::vector<TColor>(Lite.Shown.begin(), Lite.Shown.begin() + 3),
            (std::vector<TColor>{clYellow, clDarkGreen, clYellow}));
  EXPECT_EQ(Flashes.front(), true);
  EXPECT_NE(std::find(Flashes.begin(), Flashes.end(), false), Flashes.end());
  EXPECT_TRUE(Lite.Lit());
  EXPECT_EQ(Changes, std::vector<bool>{true});
  // The published on-colour is the one being shown.
  EXPECT_TRUE(Lite.OnColor() == clYellow || Lite.OnColor() == clDarkGreen);

  Lite.SetLit(false);
  WaitForPaint();
  EXPECT_EQ(Lite.OnColor(), 0x0000FFu);
  EXPECT_EQ(CentrePixel(), DarkGreen);
  EXPECT_EQ(Flashes.back(), false);
  const int Before = Lite.Paints;
  RunDurations(3);
  EXPECT_LE(Lite.Paints, Before + 1);

  // Lit again, it starts over with the flash colour.
  Lite.Shown.clear();
  Lite.SetLit(true);
  WaitForPaint();
  EXPECT_EQ(Lite.Shown.front(), clYellow);
}

TEST_F(TlxmLiteFPTest, ChangingFlashTypePutsBackTheOnColourGivenLast) {
  Lite.SetOnColor(0x0000FF);
  Lite.SetFlashType(TlxmLiteFP::ftPulse);
  EXPECT_EQ(Lite.OnColor(), 0x0000FFu);
  Lite.SetOnFlashColor(0x00FFFF);
  Lite.SetFlashType(TlxmLiteFP::ftFlash);
  Lite.SetDuration(40);
  Lite.SetLit(true);
  WaitForPaint();
  EXPECT_EQ(Lite.OnColor(), clYellow);
  // Leaving flash mode while lit shows the given on-colour again.
  Lite.SetFlashType(TlxmLiteFP::ftNone);
  EXPECT_EQ(Lite.OnColor(), 0x0000FFu);
  WaitForPaint();
  EXPECT_EQ(CentrePixel(), QColor(255, 0, 0));
}

}  // namespace
