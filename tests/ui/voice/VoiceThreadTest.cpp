#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTest>

#include <gtest/gtest.h>

#include <chrono>
#include <memory>

#include "ui/voice/RecordingSink.h"
#include "ui/voice/VoiceBundle.h"
#include "ui/voice/VoiceThread.h"
#include "widgets/ulxmLbl.h"

using namespace std::chrono_literals;

using namespace morvane;

namespace {

using TNames = std::vector<QString>;

class VoiceThreadTest : public testing::Test {
 protected:
  void SetUp() override {
    SetVoiceBundlePath(QStringLiteral(MORVANE_RES01));
    VoiceBusy.store(false);
  }
  void TearDown() override { SetVoiceBundlePath({}); }

  // Runs the GUI thread's events (the readout is asked there) until Thread has ended.
  static bool RunUntilFinished(const TVoiceThread& Thread, int TimeOutMs = 10000) {
    return QTest::qWaitFor([&] { return Thread.Finished(); }, TimeOutMs);
  }

  TlxmLbl Readout;
};

TEST_F(VoiceThreadTest, SpeaksTheReadoutAsItIsAtTheEndOfTheDelay) {
  TRecordingSink Sink;
  Readout.SetCaption(QStringLiteral("1234"));
  TVoiceThread Thread(&Readout, QString(), 0, 300, &Sink);
  EXPECT_TRUE(VoiceBusy.load());
  Readout.SetCaption(QStringLiteral("0000"));  // the count moves on during the delay
  ASSERT_TRUE(RunUntilFinished(Thread));
  EXPECT_EQ(Sink.Names(), (TNames{"0F", "0F", "0F", "0F"}));
  for (const auto& Play : Sink.Plays()) {
    EXPECT_TRUE(Play.HadWave);
    EXPECT_TRUE(Play.BusyDuring);
  }
  EXPECT_FALSE(VoiceBusy.load());
}

TEST_F(VoiceThreadTest, MaleVoiceSpeaksMinusAndLeadingZeros) {
  TRecordingSink Sink;
  Readout.SetCaption(QStringLiteral("-0045"));
  TVoiceThread Thread(&Readout, QString(), 1, 0, &Sink);
  ASSERT_TRUE(RunUntilFinished(Thread));
  EXPECT_EQ(Sink.Names(), (TNames{"minusM", "0M", "0M", "4M", "5M"}));
  EXPECT_FALSE(VoiceBusy.load());
}

TEST_F(VoiceThreadTest, GivenTextSkipsCharactersWithoutASound) {
  TRecordingSink Sink;
  Readout.SetCaption(QStringLiteral("9999"));  // not read: the text is given
  TVoiceThread Thread(&Readout, QStringLiteral("12.5"), 0, 0, &Sink);
  ASSERT_TRUE(RunUntilFinished(Thread));
  EXPECT_EQ(Sink.Names(), (TNames{"1F", "2F", "5F"}));
  // Any voice index other than 0 and 2 (no selection is -1) speaks in the male voice.
  TVoiceThread Other(nullptr, QStringLiteral("+7"), -1, 0, &Sink);
  ASSERT_TRUE(RunUntilFinished(Other));
  EXPECT_EQ(Sink.Names().back(), QStringLiteral("7M"));
}

TEST_F(VoiceThreadTest, EmptyOrBlankReadoutAndNoVoiceSayNothing) {
  TRecordingSink Sink;
  Readout.SetCaption(QStringLiteral("  \t "));
  TVoiceThread Blank(&Readout, QString(), 0, 0, &Sink);
  ASSERT_TRUE(RunUntilFinished(Blank));
  TVoiceThread BlankText(&Readout, QStringLiteral("   "), 1, 0, &Sink);
  ASSERT_TRUE(RunUntilFinished(BlankText));
  TVoiceThread NoLabel(nullptr, QString(), 0, 0, &Sink);
  ASSERT_TRUE(RunUntilFinished(NoLabel));
  EXPECT_TRUE(Sink.Plays().empty());
  EXPECT_FALSE(VoiceBusy.load());

  Readout.SetCaption(QStringLiteral("0042"));
  TVoiceThread NoVoice(&Readout, QStringLiteral("0042"), 2, 0, &Sink);
  ASSERT_TRUE(RunUntilFinished(NoVoice));
  EXPECT_TRUE(Sink.Plays().empty());
  EXPECT_FALSE(VoiceBusy.load());
}

TEST_F(VoiceThreadTest, TerminateDuringTheDelayEndsWithoutASoundAfterTheDelay) {
  TRecordingSink Sink;
  Readout.SetCaption(QStringLiteral("0123"));
  QElapsedTimer Clock;
  Clock.start();
  TVoiceThread Thread(&Readout, QString(), 0, 1000, &Sink);
  Thread.Terminate();
  // The request is seen before the first character, once the delay is over: a look into the
  // middle of the delay finds the voice still busy.
  constexpr int IntoTheDelayMs = 200;
  QTest::qWait(IntoTheDelayMs);
  EXPECT_TRUE(VoiceBusy.load());
  EXPECT_FALSE(Thread.Finished());
  ASSERT_TRUE(RunUntilFinished(Thread));
  EXPECT_GE(Clock.elapsed(), 950);
  EXPECT_TRUE(Sink.Plays().empty());
  EXPECT_FALSE(VoiceBusy.load());
}

TEST_F(VoiceThreadTest, TerminateDuringSpeechFinishesTheCurrentSound) {
  TRecordingSink Sink;
  Sink.Hold();
  TVoiceThread Thread(nullptr, QStringLiteral("-0123"), 0, 0, &Sink);
  ASSERT_TRUE(Sink.WaitForPlays(1));
  Thread.Terminate();
  EXPECT_TRUE(VoiceBusy.load());
  Sink.Release();
  ASSERT_TRUE(RunUntilFinished(Thread));
  EXPECT_EQ(Sink.Names(), (TNames{"minusF"}));
  EXPECT_FALSE(VoiceBusy.load());
}

TEST_F(VoiceThreadTest, TwoThreadsSpeakInTurnAndTheFirstToEndClearsBusy) {
  TRecordingSink Sink(20ms);
  Sink.Hold();
  TVoiceThread First(nullptr, QStringLiteral("0123"), 0, 0, &Sink);
  ASSERT_TRUE(Sink.WaitForPlays(1));
  TVoiceThread Second(nullptr, QStringLiteral("-45"), 1, 0, &Sink);
  Sink.Release();
  ASSERT_TRUE(RunUntilFinished(First));
  ASSERT_TRUE(RunUntilFinished(Second));
  EXPECT_FALSE(Sink.Overlapped());
  TNames OfFirst, OfSecond;
  for (const auto& Play : Sink.Plays())
    (Play.Name.endsWith('F') ? OfFirst : OfSecond).push_back(Play.Name);
  EXPECT_EQ(OfFirst, (TNames{"0F", "1F", "2F", "3F"}));
  EXPECT_EQ(OfSecond, (TNames{"minusM", "4M", "5M"}));
  EXPECT_FALSE(VoiceBusy.load());

  // One flag for all: a stopped older thread that ends clears it while a newer one still waits
  // to speak.
  Sink.Hold();
  // Counted before the thread starts: its first sound may begin at once.
  const size_t Before = Sink.Plays().size();
  TVoiceThread Older(nullptr, QStringLiteral("99"), 0, 0, &Sink);
  // A failed check below must not leave Older held in its sound while it is joined.
  const auto releaseAtEnd = std::unique_ptr<TRecordingSink, void (*)(TRecordingSink*)>(
      &Sink, [](TRecordingSink* held) { held->Release(); });
  ASSERT_TRUE(Sink.WaitForPlays(Before + 1));
  TVoiceThread Newer(nullptr, QStringLiteral("8"), 0, 2000, &Sink);
  Older.Terminate();
  Sink.Release();
  ASSERT_TRUE(RunUntilFinished(Older));
  EXPECT_FALSE(VoiceBusy.load());
  EXPECT_FALSE(Newer.Finished());
}

TEST_F(VoiceThreadTest, OwnerGoingAwayEndsWaitsAtOnce) {
  TRecordingSink Sink;
  Readout.SetCaption(QStringLiteral("0001"));
  QElapsedTimer Clock;
  Clock.start();
  {
    TVoiceThreads Threads;
    Threads.Start(&Readout, QString(), 0, 10000, &Sink);  // in a long delay
    Threads.Start(&Readout, QString(), 1, 0, &Sink);      // waiting for the GUI thread's answer
    EXPECT_TRUE(Threads.AnyRunning());
    // No events run here, so the readout is never given; both threads get into their waits.
    constexpr auto IntoTheirWaits = 100ms;
    std::this_thread::sleep_for(IntoTheirWaits);
  }
  EXPECT_LT(Clock.elapsed(), 2000);
  EXPECT_TRUE(Sink.Plays().empty());
  // The second thread's request is still queued; answering it after the thread has gone is
  // harmless.
  QCoreApplication::processEvents();
}

}  // namespace
