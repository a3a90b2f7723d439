// The main window's spoken readouts, on the simulated focuser: which readout is spoken, in which
// voice and after which delay, and which announcements are cut short.

#include <QAbstractButton>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

#include "host/QtControllerHost.h"
#include "settings/RadioGroup.h"
#include "settings/fSetupForm.h"
#include "sim/SimFocuser.h"
#include "ui/MainWindowRig.h"
#include "ui/fMorvane.h"
#include "ui/voice/RecordingSink.h"
#include "widgets/ulxmLbl.h"

using namespace morvane;

namespace {

using TNames = std::vector<QString>;

// The sounds a readout is spoken with: "-" and the digits, in the voice's letter.
TNames SoundsOf(const QString& Readout, char Letter) {
  TNames Names;
  for (const QChar C : Readout) {
    if (C == u'-') Names.push_back(QStringLiteral("minus") + QChar(Letter));
    if (C.isDigit()) Names.push_back(QString(C) + QChar(Letter));
  }
  return Names;
}

class MainFormVoiceTest : public testing::Test {
 protected:
  void SetUp() override {
    // The voice bundle is the one beside the test program, found as the program finds its own.
    SetDefaultSoundSink(&Sink);
    VoiceBusy.store(false);
    ASSERT_TRUE(Rig.Open());
    ASSERT_TRUE(Form->Setup().PortOpened());
    Readout = Form->findChild<TlxmLbl*>(QStringLiteral("CTSLabel"));
    ASSERT_NE(Readout, nullptr);
  }
  void TearDown() override {
    Rig.Close();  // joins every voice thread
    SetDefaultSoundSink(nullptr);
  }

  QAbstractButton* Button(const char* Name) {
    return Form->findChild<QAbstractButton*>(QString::fromLatin1(Name));
  }
  // Waits for a voice thread other than Previous and returns it.
  TVoiceThread* NextVoice(TVoiceThread* Previous, int TimeOutMs = 15000) {
    if (!QTest::qWaitFor([&] { return Form->VoiceThread() != Previous; }, TimeOutMs))
      return nullptr;
    return Form->VoiceThread();
  }
  static bool Ended(TVoiceThread* Thread) {
    return QTest::qWaitFor([&] { return Thread->Finished(); }, 10000);
  }
  void SelectVoice(int Index) {
    Form->Setup().findChild<TRadioGroup*>(QStringLiteral("VoiceRG"))->SetItemIndex(Index);
  }

  TRecordingSink Sink;  // outlives the window's voice threads
  test::TMainWindowRig Rig{test::TWindowRigSetup{
      .Ini = "[Device/Ports]\r\nComPort=1\r\nCommands=1\r\nVoice=0\r\n\r\n[FocusControl]\r\n"
             "NudgeTime=0.015\r\nCloseNudgeTime=0.01\r\nNudgeDelay=0.15\r\nStopFactor=12\r\n"
             "CodesPerRev=512\r\nTravelPerRev=0.58\r\n",
      .Open = false}};
  std::unique_ptr<TMainForm>& Form = Rig.Form;
  TlxmLbl* Readout = nullptr;
};

// The coarse button held for a run that counts.
constexpr int HeldMs = 300;
// How long the test watches for a voice that must not start: none marks the moment a wrong
// one would have started, which is at the move's end the test has seen.
constexpr int WatchForAVoiceMs = 100;

TEST_F(MainFormVoiceTest, AnEndedMoveIsSpokenHalfASecondLater) {
  QTest::mouseClick(Button("In10"), Qt::LeftButton);
  TVoiceThread* Voice = NextVoice(nullptr);
  ASSERT_NE(Voice, nullptr);
  EXPECT_EQ(Voice->DelayMs(), 500);
  EXPECT_EQ(Voice->VoiceKind(), 0);
  ASSERT_TRUE(Ended(Voice));
  EXPECT_EQ(Readout->Caption(), QStringLiteral("0010"));
  EXPECT_EQ(Sink.Names(), SoundsOf(QStringLiteral("0010"), 'F'));
  EXPECT_FALSE(VoiceBusy.load());
  for (const auto& Play : Sink.Plays()) EXPECT_TRUE(Play.HadWave);  // found beside the program
}

TEST_F(MainFormVoiceTest, ACoarseReleaseIsSpokenAfterOneAndAHalfSeconds) {
  QAbstractButton* In = Button("Focus_InBtn");
  QTest::mousePress(In, Qt::LeftButton);
  QTest::qWait(HeldMs);
  QTest::mouseRelease(In, Qt::LeftButton);
  TVoiceThread* Voice = NextVoice(nullptr);
  ASSERT_NE(Voice, nullptr);
  EXPECT_EQ(Voice->DelayMs(), 1500);
  ASSERT_TRUE(Ended(Voice));
  // The readout as it stood after the motor coasted to a stop.
  const QString Spoken = Readout->Caption();
  EXPECT_NE(Spoken, QStringLiteral("0000"));
  EXPECT_EQ(Sink.Names(), SoundsOf(Spoken, 'F'));
}

TEST_F(MainFormVoiceTest, ResetSpeaksZeroWhenIdleAndNothingWhileMoving) {
  QTest::mouseClick(Button("ResetButton"), Qt::LeftButton);
  TVoiceThread* AtRest = NextVoice(nullptr);
  ASSERT_NE(AtRest, nullptr);
  EXPECT_EQ(AtRest->DelayMs(), 100);
  ASSERT_TRUE(Ended(AtRest));
  EXPECT_EQ(Sink.Names(), SoundsOf(QStringLiteral("0000"), 'F'));

  // The hidden "Say" button speaks its test text; a fine move silences it during its delay.
  Button("Button1")->click();
  TVoiceThread* Say = Form->VoiceThread();
  ASSERT_NE(Say, AtRest);
  EXPECT_EQ(Say->DelayMs(), 500);
  QTest::mouseClick(Button("Out10"), Qt::LeftButton);
  EXPECT_TRUE(Say->Terminated());
  // Reset during the move: the readout shows 0000 at once and nothing new is spoken.
  ASSERT_TRUE(QTest::qWaitFor([&] { return Readout->Caption() != QStringLiteral("0000"); }, 5000));
  QTest::mouseClick(Button("ResetButton"), Qt::LeftButton);
  EXPECT_EQ(Form->VoiceThread(), Say);
  // The move ends counted from the reset, and that readout is spoken.
  TVoiceThread* Ended_ = NextVoice(Say);
  ASSERT_NE(Ended_, nullptr);
  EXPECT_EQ(Ended_->DelayMs(), 500);
  ASSERT_TRUE(Ended(Ended_));
  ASSERT_TRUE(Ended(Say));
  const TNames Expected = [&] {
    TNames Names = SoundsOf(QStringLiteral("0000"), 'F');
    for (const QString& Name : SoundsOf(Readout->Caption(), 'F')) Names.push_back(Name);
    return Names;
  }();
  EXPECT_EQ(Sink.Names(), Expected);
}

TEST_F(MainFormVoiceTest, TheDialogsVoiceChoiceIsUsedAtOnce) {
  SelectVoice(1);  // chosen in the dialog, not applied
  Button("Button1")->click();
  TVoiceThread* Male = Form->VoiceThread();
  EXPECT_EQ(Male->VoiceKind(), 1);
  ASSERT_TRUE(Ended(Male));
  EXPECT_EQ(Sink.Names(), SoundsOf(QStringLiteral("-0123+456789"), 'M'));

  SelectVoice(2);
  QTest::mouseClick(Button("ResetButton"), Qt::LeftButton);
  QTest::mouseClick(Button("In1"), Qt::LeftButton);
  // The move ends without a new voice. (Where it lands is not this test's point: on a busy
  // machine a one-code move may land one past.)
  ASSERT_TRUE(QTest::qWaitFor(
      [&] {
        return Button("In1")->isEnabled() &&
               (Readout->Caption() == "0001" || Readout->Caption() == "0002");
      },
      10000));
  QTest::qWait(WatchForAVoiceMs);
  EXPECT_EQ(Form->VoiceThread(), Male);
}

}  // namespace
