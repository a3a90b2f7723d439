// The main window offscreen on the simulated focuser, driven by mouse and key events; the
// focuser's trace, the message boxes and the bus broadcasts are the witnesses.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QRadioButton>
#include <QStyleOption>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>

#include <signal.h>

#include "console/CountHandOver.h"
#include "host/QtControllerHost.h"
#include "settings/CompensationSettings.h"
#include "settings/FocusMarks.h"
#include "settings/RadioGroup.h"
#include "settings/fSetupForm.h"
#include "sim/SimFocuser.h"
#include "support/TraceView.h"
#include "ui/HelpViewer.h"
#include "ui/MainWindowRig.h"
#include "ui/MessageWitness.h"
#include "ui/fMorvane.h"
#include "ui_fMorvane.h"

namespace morvane::test {
namespace {

// Command mode on COM1, no voice: the usual start.
constexpr char CommandModeIni[] =
    "[Device/Ports]\r\nComPort=1\r\nCommands=0\r\nVoice=2\r\n\r\n[FocusControl]\r\n"
    "NudgeTime=0.015\r\nCloseNudgeTime=0.01\r\nNudgeDelay=0.15\r\nStopFactor=12\r\n"
    "StayOnTop=1\r\n\r\n[Position]\r\n";

// Times that belong to the scenarios: a button held, a second press soon after a release,
// and how long the line is watched for a drive that must not come (nothing marks the moment a
// wrong one would have come; it would follow the click that asked for it at once).
constexpr int HeldMs = 300;
constexpr int SecondPressAfterMs = 200;  // within the 500 ms of the position broadcast
constexpr int WatchTheLineMs = 200;
// The same for a broadcast that must not come.
constexpr int WatchTheBusMs = 100;

// Delivers the events already posted, a palette's change reaching the widgets among them.
void SettleEvents() {
  QCoreApplication::sendPostedEvents();
  QCoreApplication::processEvents();
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class MainFormTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(Dir.isValid());
    ASSERT_TRUE(Bus.Ok()) << "no session bus";
  }

  void WriteIni(const std::string& text) { Rig.WriteIni(text); }

  void MakeForm() {
    Rig.Show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(Form.get()));
    ASSERT_TRUE(QTest::qWaitFor([&] { return Form->Started(); }, 5000));
    Bus.LearnOwnName(Form->MorvaneMessage());
    Bus.Clear();
    Sim->ClearTrace();
  }

  Ui::TMainForm& ui() { return Rig.ui(); }
  std::vector<std::string> Writes() { return test::Writes(Sim->Trace()); }
  QString Readout() { return ui().CTSLabel->Caption(); }
  // The console shows a move by or to a count while Stop is enabled. (Reading the controller's
  // Idle here would swallow the idle change the window waits for.)
  bool Moving() { return ui().CancelButton->isEnabled(); }
  bool WaitMoveEnded(int timeoutMs = 15000) {
    return QTest::qWaitFor([&] { return !Moving(); }, timeoutMs);
  }
  static size_t Count(const std::vector<TMessage>& v, TMessage m) {
    return static_cast<size_t>(std::count(v.begin(), v.end(), m));
  }

  QTemporaryDir Dir;  // files of the desktop around the window
  TBoxCloser Boxes;
  TMessageListener& Bus = TMessageListener::Instance();
  // No settings file until a test writes one: the first start makes it.
  TMainWindowRig Rig{TWindowRigSetup{.Ini = {}, .Open = false}};
  const std::string& IniPath = Rig.IniPath;
  std::set<int>& FailingPorts = Rig.FailingPorts;
  int& FailingErrno = Rig.FailingErrno;
  std::unique_ptr<sim::TSimFocuser>& Sim = Rig.Simulator;
  std::unique_ptr<TMainForm>& Form = Rig.Form;
};

TEST_F(MainFormTest, FirstStartWritesDefaultsAndStaysOnTopFromTheNextStart) {
  MakeForm();
  ASSERT_EQ(Boxes.Seen.size(), 1u);
  EXPECT_EQ(Boxes.Seen[0].Caption, "Information");
  EXPECT_EQ(Boxes.Seen[0].Text,
            "MORVANE.INI is missing....  A factory default INI is being installed");
  EXPECT_NE(ReadFile(IniPath).find("StayOnTop=1\r\n"), std::string::npos);
  EXPECT_FALSE(Form->windowFlags() & Qt::WindowStaysOnTopHint);
  EXPECT_FALSE(Form->windowFlags() & Qt::WindowMaximizeButtonHint);
  EXPECT_EQ(Form->width(), 272);
  EXPECT_GE(ui().TempPanel->mapTo(Form.get(), QPoint(0, 0)).x(), Form->width());
  // The factory file drives the focuser directly: no speed to choose.
  EXPECT_TRUE(Form->Controller().PortOpen());
  EXPECT_FALSE(ui().SpeedRG->isEnabled());

  // The position is written at every close, with SavePosition off.
  Form->move(123, 77);
  Form->close();
  const std::string file = ReadFile(IniPath);
  EXPECT_NE(file.find("Left=123"), std::string::npos) << file;
  EXPECT_NE(file.find("Top=77"), std::string::npos) << file;

  MakeForm();
  EXPECT_TRUE(Form->windowFlags() & Qt::WindowStaysOnTopHint);
  EXPECT_EQ(Boxes.Seen.size(), 1u);
}

TEST_F(MainFormTest, StayOnTopKeyMissingIsAddedAndZeroGivesANormalWindow) {
  WriteIni(
      "[Device/"
      "Ports]\r\nComPort=1\r\nCommands=0\r\nVoice=2\r\n[FocusControl]\r\nStopFactor=12\r\n");
  MakeForm();
  EXPECT_TRUE(Form->windowFlags() & Qt::WindowStaysOnTopHint);
  EXPECT_NE(ReadFile(IniPath).find("StayOnTop=1"), std::string::npos);

  WriteIni(
      "[Device/Ports]\r\nComPort=1\r\nCommands=0\r\nVoice=2\r\n[FocusControl]\r\nStayOnTop=0\r\n");
  MakeForm();
  EXPECT_FALSE(Form->windowFlags() & Qt::WindowStaysOnTopHint);
  EXPECT_TRUE(Boxes.Seen.empty());
}

TEST_F(MainFormTest, ASavedPlaceOnNoScreenGivesTheDesignedPlace) {
  const std::string saved = std::string(CommandModeIni) + "SavePosition=1\r\n";
  WriteIni(saved + "Left=40\r\nTop=30\r\n");
  MakeForm();
  EXPECT_TRUE(
      QTest::qWaitFor([&] { return QPoint(Form->Left(), Form->Top()) == QPoint(40, 30); }, 5000))
      << Form->pos().x() << "," << Form->pos().y();

  Form->close();  // which writes its own place
  WriteIni(saved + "Left=30000\r\nTop=20000\r\n");
  MakeForm();
  EXPECT_TRUE(
      QTest::qWaitFor([&] { return QPoint(Form->Left(), Form->Top()) == QPoint(346, 240); }, 3000))
      << Form->pos().x() << "," << Form->pos().y();
}

TEST_F(MainFormTest, SetupDialogActsOnTheWindow) {
  WriteIni(CommandModeIni);
  MakeForm();
  EXPECT_TRUE(ui().SpeedRG->isEnabled());

  // Another port that fails: the message names the new number and no port stays open.
  FailingPorts = {3};
  TStagedSettings staged = Form->Setup().Staged();
  staged.ComPortRG.SetItemIndex(2);
  Form->Setup().SetStaged(staged);
  Form->Setup().UpdatePgmParametersButtonClick();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !Boxes.Seen.empty(); }, 5000));
  ASSERT_EQ(Boxes.Seen.size(), 1u);
  EXPECT_EQ(Boxes.Seen[0].Text, "Could not open COM 3 (/dev/ttyS2)");
  EXPECT_EQ(Boxes.Seen[0].Caption, "Morvane");
  EXPECT_FALSE(Form->Controller().PortOpen());

  // Direct mode applied disables Speed; Factory Defaults moves the window to 1, 1 and applies
  // nothing.
  staged.ComPortRG.SetItemIndex(0);
  staged.CommandRG.SetItemIndex(1);
  Form->Setup().SetStaged(staged);
  Form->Setup().UpdatePgmParametersButtonClick();
  EXPECT_FALSE(ui().SpeedRG->isEnabled());
  EXPECT_TRUE(Form->Controller().PortOpen());
  Form->Setup().FactoryDefaultsButtonClick();
  Form->Setup().CloseButtonClick();
  EXPECT_EQ(QPoint(Form->Left(), Form->Top()), QPoint(1, 1));
  EXPECT_EQ(Form->Controller().StopFactor(), 12);

  // In direct mode Speed stays disabled through a move.
  QTest::mouseClick(ui().In10, Qt::LeftButton);
  ASSERT_TRUE(QTest::qWaitFor([&] { return Moving(); }, 3000));
  EXPECT_FALSE(ui().SpeedRG->isEnabled());
  ASSERT_TRUE(WaitMoveEnded());
  EXPECT_FALSE(ui().SpeedRG->isEnabled());
}

TEST_F(MainFormTest, ReadoutFormatsAndLights) {
  WriteIni(CommandModeIni);
  MakeForm();
  // The start-up tick of the moving light has passed.
  ASSERT_TRUE(QTest::qWaitFor([&] { return !Form->MovingTimer().isActive(); }, 5000));
  EXPECT_EQ(Readout(), "0000");
  EXPECT_FALSE(ui().MovingLite->Lit());

  Sim->Turn(-12, 400);
  ASSERT_TRUE(QTest::qWaitFor([&] { return Readout() == "-0012"; }, 3000))
      << Readout().toStdString();
  EXPECT_TRUE(ui().OutLite->Lit());
  EXPECT_FALSE(ui().InLite->Lit());
  EXPECT_TRUE(ui().MovingLite->Lit());
  // Out no later than 1700 ms after the last change.
  EXPECT_TRUE(QTest::qWaitFor([&] { return !ui().MovingLite->Lit(); }, 1700 + 300));

  // Counts raised on another thread, as the counting thread raises them.
  std::thread([&] { Form->FocusControlCountChange(nullptr, 12345, false); }).join();
  ASSERT_TRUE(QTest::qWaitFor([&] { return Readout() == "12345"; }, 1000));
  EXPECT_TRUE(ui().InLite->Lit());
  std::thread([&] { Form->FocusControlCountChange(nullptr, 42, true); }).join();
  ASSERT_TRUE(QTest::qWaitFor([&] { return Readout() == "0042"; }, 1000));
}

TEST_F(MainFormTest, FloodOfCountsShowsTheLastAtOnce) {
  WriteIni(CommandModeIni);
  MakeForm();
  const uint64_t shownBefore = Form->CountHandOver().Shown();
  std::thread flood([&] {
    for (int i = 1; i <= 200000; ++i) Form->FocusControlCountChange(nullptr, i, i % 2 != 0);
  });
  flood.join();
  ASSERT_TRUE(QTest::qWaitFor([&] { return Readout() == "200000"; }, 2000));
  EXPECT_TRUE(ui().InLite->Lit());
  // Coalesced: far fewer updates than edges.
  EXPECT_LT(Form->CountHandOver().Shown() - shownBefore, 20000u);
}

TEST_F(MainFormTest, CoarseButtonPressAndRelease) {
  WriteIni(CommandModeIni);
  MakeForm();
  QTest::mousePress(ui().Focus_InBtn, Qt::LeftButton);
  EXPECT_EQ(Writes(), (std::vector<std::string>{":FQ#", ":F-#"}));
  ASSERT_TRUE(Bus.WaitFor({mmIdle, 0}, 2000));
  QTest::qWait(HeldMs);
  Bus.Clear();
  QTest::mouseRelease(ui().Focus_InBtn, Qt::LeftButton);
  EXPECT_EQ(Writes(), (std::vector<std::string>{":FQ#", ":F-#", ":FQ#", ":FQ#"}));
  ASSERT_TRUE(Bus.WaitFor({mmIdle, 1}, 2000));
  // A second release within 500 ms: still one position broadcast, 500 ms after the first.
  QTest::qWait(SecondPressAfterMs);
  QTest::mousePress(ui().Focus_InBtn, Qt::LeftButton);
  QTest::mouseRelease(ui().Focus_InBtn, Qt::LeftButton);
  // Until the broadcast's timer has run out and the motor has stopped: no later broadcast can
  // come, and the readout stays.
  ASSERT_TRUE(QTest::qWaitFor(
      [&] {
        const std::vector<TMessage> got = Bus.Drain(0);
        return !Form->FW2Timer().isActive() && !Sim->Moving() &&
               std::any_of(got.begin(), got.end(), [](const TMessage& m) { return m.W == 2; });
      },
      5000));
  const std::vector<TMessage> seen = Bus.Drain(0);
  size_t positions = 0;
  for (const auto& m : seen) positions += m.W == 2;
  EXPECT_EQ(positions, 1u);
  ASSERT_FALSE(seen.empty());
  EXPECT_EQ(seen.back().W, 2);
  EXPECT_EQ(seen.back().L, Readout().toInt());
  EXPECT_GT(Readout().toInt(), 0);

  // Any mouse button drives.
  Sim->ClearTrace();
  QTest::mousePress(ui().Focus_OutBtn, Qt::RightButton);
  EXPECT_EQ(Writes(), (std::vector<std::string>{":FQ#", ":F+#"}));
  QTest::mouseRelease(ui().Focus_OutBtn, Qt::RightButton);
  EXPECT_EQ(Writes().size(), 4u);

  // A message box opened while the button is held blocks the window, and Qt drops the
  // release: the run ends as the box opens.
  Sim->ClearTrace();
  QTest::mousePress(ui().Focus_InBtn, Qt::LeftButton);
  QEvent blocked(QEvent::WindowBlocked);
  QApplication::sendEvent(Form.get(), &blocked);
  EXPECT_EQ(Writes(), (std::vector<std::string>{":FQ#", ":F-#", ":FQ#", ":FQ#"}));
  EXPECT_FALSE(ui().Focus_InBtn->isDown());
}

TEST_F(MainFormTest, KeysDriveTheCoarseButtonsWhateverHasTheFocus) {
  WriteIni(CommandModeIni);
  MakeForm();
  Form->activateWindow();
  ui().MoveBySE->setFocus();
  const Qt::KeyboardModifiers mods = Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier;
  QTest::keyPress(ui().MoveBySE, Qt::Key_I, mods);
  EXPECT_EQ(Writes(), (std::vector<std::string>{":FQ#", ":F-#"}));
  EXPECT_TRUE(ui().MovingLite->Lit());
  ASSERT_TRUE(Bus.WaitFor({mmIdle, 0}, 2000));
  Bus.Clear();

  // Auto-repeat: a release-press pair. The release must not stop, and the press leaves the run
  // going untouched: no command, no broadcast.
  QKeyEvent repeatRelease(QEvent::KeyRelease, Qt::Key_I, Qt::NoModifier, QStringLiteral("i"), true);
  QKeyEvent repeatPress(QEvent::KeyPress, Qt::Key_I, Qt::NoModifier, QStringLiteral("i"), true);
  QApplication::sendEvent(ui().MoveBySE, &repeatRelease);
  QApplication::sendEvent(ui().MoveBySE, &repeatPress);
  EXPECT_EQ(Writes(), (std::vector<std::string>{":FQ#", ":F-#"}));
  EXPECT_TRUE(Bus.Drain(WatchTheBusMs).empty());

  // A pair the platform left unmarked is known by its one time stamp.
  QKeyEvent bareRelease(QEvent::KeyRelease, Qt::Key_I, Qt::NoModifier, QStringLiteral("i"));
  QKeyEvent barePress(QEvent::KeyPress, Qt::Key_I, Qt::NoModifier, QStringLiteral("i"));
  bareRelease.setTimestamp(4242);
  barePress.setTimestamp(4242);
  QApplication::sendEvent(ui().MoveBySE, &bareRelease);
  QApplication::sendEvent(ui().MoveBySE, &barePress);
  EXPECT_EQ(Writes().size(), 2u);
  EXPECT_TRUE(Bus.Drain(WatchTheBusMs).empty());

  QTest::keyRelease(ui().MoveBySE, Qt::Key_I, Qt::ShiftModifier);
  EXPECT_TRUE(QTest::qWaitFor([&] { return Writes().size() == 4u; }, 1000));
  EXPECT_EQ(Writes().back(), ":FQ#");
  EXPECT_TRUE(Bus.WaitFor({mmIdle, 1}, 2000));

  // "O" with Caps Lock gives the upper-case letter, the same key.
  Sim->ClearTrace();
  ui().Out5->setFocus();
  QKeyEvent capsO(QEvent::KeyPress, Qt::Key_O, Qt::NoModifier, QStringLiteral("O"));
  QApplication::sendEvent(ui().Out5, &capsO);
  EXPECT_EQ(Writes(), (std::vector<std::string>{":FQ#", ":F+#"}));
  // The window loses the keyboard while O is held, so that its release goes elsewhere: the
  // run ends at once.
  Bus.Clear();
  QEvent deactivate(QEvent::WindowDeactivate);
  QApplication::sendEvent(Form.get(), &deactivate);
  EXPECT_EQ(Writes(), (std::vector<std::string>{":FQ#", ":F+#", ":FQ#", ":FQ#"}));
  EXPECT_TRUE(Bus.WaitFor({mmIdle, 1}, 2000));

  // F1 with a modifier: help (no guide beside the test program).
  QTest::keyClick(ui().Out5, Qt::Key_F1, Qt::ControlModifier);
  ASSERT_TRUE(QTest::qWaitFor([&] { return !Boxes.Seen.empty(); }, 3000));
  const std::string help = Boxes.Seen.back().Text;
  EXPECT_EQ(help.rfind("Could not load Help File\n\nThe guide is not there: /", 0), 0u) << help;
  EXPECT_NE(help.find("Guides.pdf"), std::string::npos) << help;
}

TEST_F(MainFormTest, MoveByClampsTypedValueAndRequestsDuringAMoveAreDropped) {
  WriteIni(CommandModeIni);
  MakeForm();
  Form->activateWindow();
  ui().MoveBySE->setFocus();
  ui().MoveBySE->selectAll();
  QTest::keyClicks(ui().MoveBySE, QStringLiteral("300"));
  QTest::keyClicks(ui().MoveBySE, QStringLiteral("x"));  // refused
  EXPECT_EQ(ui().MoveBySE->text(), "300");
  QTest::mouseClick(ui().MoveByButton, Qt::LeftButton);
  EXPECT_EQ(ui().MoveBySE->value(), 250);
  ASSERT_TRUE(QTest::qWaitFor([&] { return Moving(); }, 3000));
  EXPECT_FALSE(ui().In10->isEnabled());
  EXPECT_FALSE(ui().SpeedRG->isEnabled());

  // While it moves: Move To, Move By and Help do nothing at all.
  ui().MoveToSE->setValue(-100);
  QTest::mouseClick(ui().MoveToButton, Qt::LeftButton);
  QTest::mouseClick(ui().MoveByButton, Qt::LeftButton);
  QTest::keyClick(Form.get(), Qt::Key_F1);
  ASSERT_TRUE(WaitMoveEnded());
  EXPECT_TRUE(Boxes.Seen.empty()) << Boxes.Seen[0].Text;
  EXPECT_NEAR(Readout().toInt(), 250, 2);
  EXPECT_TRUE(ui().In10->isEnabled());
  EXPECT_TRUE(ui().SpeedRG->isEnabled());
  // Until the end's idle broadcast and a position after it have come.
  EXPECT_TRUE(QTest::qWaitFor(
      [&] {
        const std::vector<TMessage> got = Bus.Drain(0);
        const auto idle = std::find(got.begin(), got.end(), TMessage{mmIdle, 1});
        return idle != got.end() && got.back().W == mmPosition && idle + 1 != got.end();
      },
      5000));
  const std::vector<TMessage> seen = Bus.Drain(0);
  ASSERT_GE(seen.size(), 3u);
  EXPECT_EQ(seen[0], (TMessage{mmIdle, 0}));
  EXPECT_EQ(seen[seen.size() - 2], (TMessage{mmIdle, 1}));
  EXPECT_EQ(seen.back(), (TMessage{mmPosition, Readout().toInt()}));
}

// A slip of the finger never moves the focuser or loses the count: an entry that is no whole
// number is refused with the field's last value kept; Space at start and Tab through the
// window reach neither Reset nor the closed temperature panel.
TEST_F(MainFormTest, StrayKeysNeitherMoveNorResetTheFocuser) {
  WriteIni(CommandModeIni);
  MakeForm();
  Form->activateWindow();
  ASSERT_TRUE(QTest::qWaitFor([&] { return QApplication::focusWidget() != nullptr; }, 2000));
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
  std::set<QWidget*> stops;
  for (int i = 0; i < 40; ++i) {
    stops.insert(QApplication::focusWidget());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
  }
  EXPECT_EQ(stops.count(ui().ResetButton), 0u);
  for (QWidget* w : stops)
    EXPECT_FALSE(ui().TempPanel->isAncestorOf(w)) << w->objectName().toStdString();
  EXPECT_EQ(stops.count(ui().MoveBySE), 1u);

  for (auto* field : {ui().MoveToSE, ui().MoveBySE}) {
    field->setValue(40);
    for (const char* typed : {"+", "-", "", "2.5", " "}) {
      field->findChild<QLineEdit*>()->setText(QString::fromLatin1(typed));
      QTest::mouseClick(field == ui().MoveToSE ? ui().MoveToButton : ui().MoveByButton,
                        Qt::LeftButton);
      EXPECT_EQ(field->text(), "40") << typed;
      EXPECT_FALSE(field->Refusal().isEmpty()) << typed;
    }
  }
  QTest::qWait(WatchTheLineMs);
  EXPECT_TRUE(Writes().empty());
  EXPECT_EQ(Count(Bus.Drain(WatchTheBusMs), {mmCountReset, 0}), 0u);
  EXPECT_EQ(Readout(), "0000");
}

TEST_F(MainFormTest, ResetWhileMovingThenStop) {
  WriteIni(CommandModeIni);
  MakeForm();
  ui().MoveToSE->setValue(250);
  QTest::mouseClick(ui().MoveToButton, Qt::LeftButton);
  ASSERT_TRUE(QTest::qWaitFor([&] { return Readout().toInt() > 30; }, 5000));
  Bus.Clear();
  QTest::mouseClick(ui().ResetButton, Qt::LeftButton);
  EXPECT_EQ(Readout(), "0000");
  EXPECT_TRUE(QTest::qWaitFor([&] { return Bus.Drain(0).size() >= 2; }, 5000));
  const std::vector<TMessage> afterReset = Bus.Drain(0);
  ASSERT_GE(afterReset.size(), 2u);
  EXPECT_EQ(afterReset[0], (TMessage{mmPosition, 0}));
  EXPECT_EQ(afterReset[1], (TMessage{mmCountReset, 0}));
  ASSERT_TRUE(Moving());

  QTest::mouseClick(ui().CancelButton, Qt::LeftButton);
  ASSERT_TRUE(WaitMoveEnded(3000));
  EXPECT_FALSE(ui().CancelButton->isEnabled());
  EXPECT_TRUE(ui().In1->isEnabled());
  EXPECT_TRUE(Bus.WaitFor({mmIdle, 1}, 2000));
}

// A guard that looks at the idle state between Stop and the motion thread's report (here a
// coarse press) must not swallow the report: the console would keep showing the move.
TEST_F(MainFormTest, AGuardRightAfterStopLeavesTheMovesEndShown) {
  WriteIni(CommandModeIni);
  MakeForm();
  ui().MoveToSE->setValue(250);
  QTest::mouseClick(ui().MoveToButton, Qt::LeftButton);
  ASSERT_TRUE(QTest::qWaitFor([&] { return Readout().toInt() > 30; }, 5000));
  QTest::mouseClick(ui().CancelButton, Qt::LeftButton);
  QTest::mousePress(ui().Focus_InBtn, Qt::LeftButton);
  QTest::mouseRelease(ui().Focus_InBtn, Qt::LeftButton);
  EXPECT_TRUE(WaitMoveEnded(3000));
  EXPECT_TRUE(ui().In1->isEnabled());
}

TEST_F(MainFormTest, HelpViewerStartedIsClosedWithTheProgram) {
  // A desktop whose PDF application is a script that waits.
  const QString data = Dir.filePath(QStringLiteral("data"));
  const QString config = Dir.filePath(QStringLiteral("config"));
  QDir().mkpath(data + QStringLiteral("/applications"));
  QDir().mkpath(config);
  const QString viewer = Dir.filePath(QStringLiteral("viewer.sh"));
  {
    QFile f(viewer);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("#!/bin/sh\nexec sleep 30\n");
    f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  }
  QFile desktop(data + QStringLiteral("/applications/testpdf.desktop"));
  ASSERT_TRUE(desktop.open(QIODevice::WriteOnly));
  desktop.write(
      ("[Desktop Entry]\nType=Application\nName=Test\nExec=" + viewer + " %f\n").toUtf8());
  desktop.close();
  QFile mimeapps(config + QStringLiteral("/mimeapps.list"));
  ASSERT_TRUE(mimeapps.open(QIODevice::WriteOnly));
  mimeapps.write("[Default Applications]\napplication/pdf=testpdf.desktop\n");
  mimeapps.close();
  qputenv("XDG_DATA_HOME", data.toUtf8());
  qputenv("XDG_CONFIG_HOME", config.toUtf8());
  qunsetenv("XDG_CURRENT_DESKTOP");
  const QString guide = QStringLiteral("guide.pdf");

  WriteIni(CommandModeIni);
  MakeForm();
  THelpViewer& help = Form->HelpProcess();
  EXPECT_FALSE(help.Open(Dir.path(), QStringLiteral("missing.pdf")));
  QFile(Dir.filePath(guide)).open(QIODevice::WriteOnly);
  ASSERT_TRUE(help.Open(Dir.path(), guide))
      << (THelpViewer::DefaultCommand(QStringLiteral("application/pdf"), guide)
              ? THelpViewer::DefaultCommand(QStringLiteral("application/pdf"), guide)
                    ->join(' ')
                    .toStdString()
              : std::string("no command"));
  const qint64 first = help.Pid();
  ASSERT_TRUE(help.Open(Dir.path(), guide));
  const qint64 second = help.Pid();
  EXPECT_NE(first, second);
  EXPECT_TRUE(help.Running());

  Form->close();
  EXPECT_TRUE(QTest::qWaitFor([&] { return kill(static_cast<pid_t>(second), 0) != 0; }, 3000));
  // The viewer of the earlier, replaced request is left open.
  EXPECT_EQ(kill(static_cast<pid_t>(first), 0), 0);
  kill(static_cast<pid_t>(first), SIGTERM);
  qunsetenv("XDG_DATA_HOME");
  qunsetenv("XDG_CONFIG_HOME");
}

TEST(HelpViewerExec, FieldCodesAndQuoting) {
  EXPECT_EQ(*THelpViewer::ExpandExec(QStringLiteral("evince %U"), QStringLiteral("/a b.pdf")),
            (QStringList{"evince", "file:///a%20b.pdf"}));
  EXPECT_EQ(*THelpViewer::ExpandExec(QStringLiteral("\"/opt/my viewer\" --x %i %f 100%%"),
                                     QStringLiteral("g.pdf")),
            (QStringList{"/opt/my viewer", "--x", "g.pdf", "100%"}));
  EXPECT_FALSE(THelpViewer::ExpandExec(QStringLiteral("\"unclosed %f"), QStringLiteral("g")));
}

// A coarse run held while the window closes (Exit, or SIGTERM and SIGINT, which close it the
// same way) is stopped before anything is saved.
TEST_F(MainFormTest, ClosingDuringACoarseRunStopsTheMotor) {
  WriteIni(CommandModeIni);
  MakeForm();
  QTest::mousePress(ui().Focus_InBtn, Qt::LeftButton);
  ASSERT_TRUE(QTest::qWaitFor([&] { return std::abs(Sim->Speed()) > 50; }, 2000));
  Form->close();
  const std::vector<std::string> w = Writes();
  const auto drive = std::find_if(w.rbegin(), w.rend(),
                                  [](const std::string& c) { return c == ":F-#" || c == ":F+#"; });
  ASSERT_NE(drive, w.rend());
  EXPECT_NE(std::find(w.rbegin(), drive, ":FQ#"), drive) << "no stop command after the run";
  EXPECT_TRUE(QTest::qWaitFor([&] { return !Sim->Moving(); }, 2000)) << "still driven";
}

TEST_F(MainFormTest, CloseWithReadOnlySettingsReportsAndEnds) {
  WriteIni(CommandModeIni);
  MakeForm();
  QFile::setPermissions(QString::fromStdString(IniPath), QFile::ReadOwner);
  // Root writes whatever the permissions say; a directory in the file's place refuses anyone.
  if (QFileInfo(QString::fromStdString(IniPath)).isWritable()) {
    QFile::remove(QString::fromStdString(IniPath));
    QDir().mkpath(QString::fromStdString(IniPath));
  }
  Form->close();
  EXPECT_FALSE(Form->isVisible());
  ASSERT_EQ(Boxes.Seen.size(), 1u);
  EXPECT_EQ(Boxes.Seen[0].Text, "Unable to write to " + IniPath + ".");
}

}  // namespace
}  // namespace morvane::test

namespace morvane::test {
namespace {

// Pixels of a night picture that are not dim red: green or blue above a glimmer, or red not
// the strongest.
int NotNightPixels(const QImage& shot) {
  const QImage image = shot.convertToFormat(QImage::Format_RGB32);
  int bad = 0;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) {
      const QColor c = image.pixelColor(x, y);
      if (c.green() > 40 || c.blue() > 40 || c.red() < std::max(c.green(), c.blue())) ++bad;
    }
  return bad;
}

TEST_F(MainFormTest, StayOnTopAndNightVisionAreMenuChoicesRemembered) {
  WriteIni(CommandModeIni);  // which stays on top
  MakeForm();
  ASSERT_TRUE(ui().StayOnTop1->isChecked());
  ui().StayOnTop1->trigger();
  EXPECT_FALSE(Form->windowFlags() & Qt::WindowStaysOnTopHint);
  EXPECT_TRUE(Form->isVisible());
  EXPECT_NE(ReadFile(IniPath).find("StayOnTop=0\r\n"), std::string::npos);
  EXPECT_EQ(ReadFile(IniPath).find("NightVision"), std::string::npos);

  ui().NightVision1->trigger();
  SettleEvents();
  EXPECT_NE(ReadFile(IniPath).find("[View]\r\nNightVision=1\r\n"), std::string::npos);
  // The whole window, its lights one lit and one not, the setup dialog and a message box.
  ASSERT_NE(ui().InLite->Lit(), ui().OutLite->Lit());
  const QImage window = Form->grab().toImage();
  EXPECT_EQ(NotNightPixels(window), 0);
  EXPECT_EQ(NotNightPixels(Form->Setup().grab().toImage()), 0);
  QMessageBox box(QMessageBox::Information, QStringLiteral("Information"),
                  QStringLiteral("MORVANE.INI"), QMessageBox::Ok);
  EXPECT_EQ(NotNightPixels(box.grab().toImage()), 0);
  // Not blank: the readout's digits and the captions in a readable red.
  int bright = 0;
  for (int y = 0; y < window.height(); ++y)
    for (int x = 0; x < window.width(); ++x) bright += qRed(window.pixel(x, y)) > 120;
  EXPECT_GT(bright, 500);

  // Both kept for the next start; night vision off brings the day's colours back.
  MakeForm();
  EXPECT_TRUE(ui().NightVision1->isChecked());
  EXPECT_FALSE(Form->windowFlags() & Qt::WindowStaysOnTopHint);
  EXPECT_EQ(NotNightPixels(Form->grab().toImage()), 0);
  ui().NightVision1->trigger();
  SettleEvents();
  EXPECT_GT(NotNightPixels(Form->grab().toImage()), 1000);
  EXPECT_NE(ReadFile(IniPath).find("NightVision=0\r\n"), std::string::npos);
}

// The Focus menu's compensation dialog, by keyboard: a bad value is refused with the dialog
// kept open, Use It takes the marks' coefficient, Enter applies and saves, Escape changes
// nothing; red on black at night.
TEST_F(MainFormTest, CompensationDialogRefusesBadInputAndSavesOnlyOnOk) {
  WriteIni(CommandModeIni);
  MakeForm();
  ui().NightVision1->trigger();
  // Cooling by 5 degrees moved the focus 30 codes in.
  for (const TFocusMark& m : {TFocusMark{1, 15.0, 100}, {2, 10.0, 130}, {3, 5.0, 160}})
    ASSERT_TRUE(AddFocusMark(FocusMarksPathFor(IniPath), m));
  const auto inDialog = [&](const std::function<void(QDialog&)>& act) {
    bool acted = false;
    QTimer::singleShot(0, [&] {
      auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
      if (dialog) act(*dialog);
      acted = dialog != nullptr;
      if (dialog && dialog->isVisible()) dialog->reject();  // the test failed
    });
    ui().CompensationSettings1->trigger();
    EXPECT_TRUE(acted);
  };
  inDialog([&](QDialog& d) {
    SettleEvents();
    EXPECT_EQ(NotNightPixels(d.grab().toImage()), 0);
    // An unchecked box is seen: its outline stands out from the window's near black.
    auto* box = d.findChild<QCheckBox*>("TempCompCB");
    QStyleOptionButton option;
    option.initFrom(box);
    const QImage indicator =
        box->grab(box->style()->subElementRect(QStyle::SE_CheckBoxIndicator, &option, box))
            .toImage();
    int outline = 0;
    for (int y = 0; y < indicator.height(); ++y)
      for (int x = 0; x < indicator.width(); ++x)
        outline = std::max(outline, qRed(indicator.pixel(x, y)));
    EXPECT_GT(outline, 35);
    EXPECT_EQ(d.findChild<QLabel*>("FitLabel")->text(),
              QStringLiteral("-6.00 codes/°C ± 0.00 from 3 points"));
    auto* coefficient = d.findChild<QLineEdit*>("CoefficientEdit");
    coefficient->setText(QStringLiteral("-6.5x"));
    QTest::keyClick(coefficient, Qt::Key_Return);
    EXPECT_TRUE(d.isVisible());
    EXPECT_TRUE(d.findChild<QLabel*>("NoteLabel")->text().startsWith("Coefficient: '-6.5x'"));
    d.findChild<QAbstractButton*>("UseItButton")->click();
    EXPECT_EQ(coefficient->text(), QStringLiteral("-6.00"));
    d.findChild<QComboBox*>("BacklashModeCB")->setCurrentIndex(2);
    d.findChild<QLineEdit*>("BacklashCodesEdit")->setText(QStringLiteral("25"));
    d.findChild<QCheckBox*>("TempCompCB")->setChecked(true);
    QTest::keyClick(coefficient, Qt::Key_Return);
    EXPECT_FALSE(d.isVisible());
  });
  TCompensationSettings saved = ReadCompensationSettings(IniPath);
  EXPECT_EQ(saved.BacklashMode, 2);
  EXPECT_EQ(saved.BacklashCodes, 25);
  EXPECT_TRUE(saved.TempComp);
  EXPECT_DOUBLE_EQ(saved.TempCoefficient, -6.0);
  EXPECT_EQ(Form->TempComp().Settings().BacklashCodes, 25);

  inDialog([&](QDialog& d) {
    d.findChild<QLineEdit*>("BacklashCodesEdit")->setText(QStringLiteral("99"));
    QTest::keyClick(&d, Qt::Key_Escape);
    EXPECT_FALSE(d.isVisible());
  });
  EXPECT_EQ(ReadCompensationSettings(IniPath), saved);
  EXPECT_EQ(Form->TempComp().Settings().BacklashCodes, 25);

  // OK keeps the reference the driver took, and what another program set meanwhile.
  saved.TempReference = 12.5;
  Form->ApplyCompensation(saved);
  inDialog([&](QDialog& d) {
    TCompensationSettings overBus = Form->TempComp().Settings();
    overBus.TempCoefficient = 3.0;
    Form->ApplyCompensation(overBus);
    d.findChild<QLineEdit*>("BacklashCodesEdit")->setText(QStringLiteral("30"));
    QTest::keyClick(&d, Qt::Key_Return);
  });
  EXPECT_DOUBLE_EQ(Form->TempComp().Settings().TempReference, 12.5);
  EXPECT_DOUBLE_EQ(Form->TempComp().Settings().TempCoefficient, 3.0);
  EXPECT_EQ(ReadCompensationSettings(IniPath).BacklashCodes, 30);
}

}  // namespace
}  // namespace morvane::test

namespace morvane::test {
namespace {

// The window as started, holding the keyboard.
class MainFormKeyboardTest : public MainFormTest {
 protected:
  void SetUp() override {
    MainFormTest::SetUp();
    if (HasFatalFailure()) return;
    WriteIni(CommandModeIni);
    MakeForm();
    if (HasFatalFailure()) return;
    Form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(Form.get()));
  }
};

TEST_F(MainFormKeyboardTest, EnterInMoveByRunsThatMove) {
  ui().MoveBySE->setFocus();
  ui().MoveBySE->selectAll();
  QTest::keyClicks(ui().MoveBySE, QStringLiteral("20"));
  QTest::keyClick(ui().MoveBySE, Qt::Key_Return);
  ASSERT_TRUE(QTest::qWaitFor([&] { return Moving(); }, 3000));
  ASSERT_TRUE(WaitMoveEnded());
  // At its target or past it, seen from the final approach: a late stop on a busy machine
  // coasts past and is nudged back, one past from above.
  EXPECT_GE(Readout().toInt(), 19);
}

// The status line then says by how much the move ended away from its target.
TEST_F(MainFormKeyboardTest, EnterInMoveToRunsThatMoveAndEscapeStopsItShort) {
  ui().MoveToSE->setFocus();
  ui().MoveToSE->selectAll();
  QTest::keyClicks(ui().MoveToSE, QStringLiteral("-250"));
  QTest::keyClick(ui().MoveToSE, Qt::Key_Enter);
  ASSERT_TRUE(QTest::qWaitFor([&] { return Moving(); }, 3000));
  QTest::keyClick(ui().MoveToSE, Qt::Key_Escape);
  ASSERT_TRUE(WaitMoveEnded(3000));
  EXPECT_GT(Readout().toInt(), -240);
  // The status line says by how much it ended away from its target, as counted at its end: a
  // motor still coasting on a busy machine may add a code to the readout after it.
  const QString note = Form->StatusNote();
  ASSERT_TRUE(note.startsWith(QStringLiteral("Ended ")) &&
              note.endsWith(QStringLiteral(" codes from -250")))
      << note.toStdString();
  const int away = note.section(QLatin1Char(' '), 1, 1).toInt();
  EXPECT_LE(std::abs(away - (Readout().toInt() + 250)), 1) << note.toStdString();
}

TEST_F(MainFormKeyboardTest, F10OpensTheMenuBarAtItsFirstMenu) {
  ui().MoveToSE->setFocus();
  QTest::keyClick(ui().MoveToSE, Qt::Key_F10);
  EXPECT_EQ(Form->menuBar()->activeAction(), ui().Setup1);
  QTest::keyClick(Form->menuBar(), Qt::Key_Escape);
}

// The chosen item is the group's only tab stop.
TEST_F(MainFormKeyboardTest, TabLandsOnARadioGroupsChosenItemAndFollowsTheChoice) {
  Form->Setup().show();
  TStagedSettings staged = Form->Setup().Staged();
  staged.VoiceRG.SetItemIndex(1);
  staged.CommandRG.SetItemIndex(0);
  Form->Setup().SetStaged(staged);
  const auto tabStops = [&](const char* group) {
    QString stops;
    for (const QRadioButton* b : Form->Setup().findChild<TRadioGroup*>(group)->Buttons())
      stops += (b->focusPolicy() & Qt::TabFocus) ? QLatin1Char('T') : QLatin1Char('-');
    return stops;
  };
  EXPECT_EQ(tabStops("VoiceRG"), QStringLiteral("-T-"));
  EXPECT_EQ(tabStops("CommandRG"), QStringLiteral("T-"));
  staged.VoiceRG.SetItemIndex(2);
  staged.CommandRG.SetItemIndex(1);
  Form->Setup().SetStaged(staged);
  EXPECT_EQ(tabStops("VoiceRG"), QStringLiteral("--T"));
  EXPECT_EQ(tabStops("CommandRG"), QStringLiteral("-T"));
  Form->Setup().hide();
}

}  // namespace
}  // namespace morvane::test

namespace morvane::test {
namespace {

TEST_F(MainFormTest, StatusLineNamesThePortKeepsTheLastErrorAndRefusesMovesWhileClosed) {
  WriteIni(CommandModeIni);
  MakeForm();
  auto* line = Form->findChild<QLabel*>(QStringLiteral("StatusLine"));
  ASSERT_NE(line, nullptr);
  EXPECT_EQ(line->text().section(QLatin1Char('\n'), 0, 0),
            QStringLiteral("COM 1 \u2192 /dev/ttyS0, connected, LX-200"));
  EXPECT_GE(Form->height(), Form->menuBar()->height() + 321 + TMainForm::StatusLineHeight);

  QTest::mouseClick(ui().In10, Qt::LeftButton);
  ASSERT_TRUE(QTest::qWaitFor([&] { return Moving(); }, 3000));
  ASSERT_TRUE(WaitMoveEnded());
  // A move lands on its target or one past it.
  const QString ended = Form->StatusNote();
  EXPECT_TRUE(ended == QStringLiteral("At 10") || ended == QStringLiteral("Ended 1 code from 10"))
      << ended.toStdString();

  // A port that fails: the error stays on the line after its box, the line says the port is
  // not connected, and a move is refused, saying why.
  FailingPorts = {3};
  TStagedSettings staged = Form->Setup().Staged();
  staged.ComPortRG.SetItemIndex(2);
  Form->Setup().SetStaged(staged);
  Form->Setup().UpdatePgmParametersButtonClick();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !Boxes.Seen.empty(); }, 3000));
  EXPECT_EQ(Form->StatusNote(), QStringLiteral("Could not open COM 3 (/dev/ttyS2)"));
  EXPECT_TRUE(QTest::qWaitFor(
      [&] {
        return line->text().startsWith(QStringLiteral("COM 3 \u2192 /dev/ttyS2, not connected"));
      },
      2000))
      << line->text().toStdString();
  Sim->ClearTrace();
  QTest::mouseClick(ui().In10, Qt::LeftButton);
  QTest::mouseClick(ui().MoveToButton, Qt::LeftButton);
  EXPECT_TRUE(QTest::qWaitFor(
      [&] { return Form->StatusNote() == QStringLiteral("Not connected: open a port in Setup"); },
      5000))
      << Form->StatusNote().toStdString();
  EXPECT_TRUE(Writes().empty());
}

TEST_F(MainFormTest, MeasureBacklashAsksFirstThenShowsTheResultAndIsBackAtTheStart) {
  WriteIni(CommandModeIni);
  MakeForm();
  // Answered No (the box closer's Ok): nothing moves.
  ui().MeasureBacklash1->trigger();
  ASSERT_TRUE(QTest::qWaitFor([&] { return !Boxes.Seen.empty(); }, 5000));
  ASSERT_EQ(Boxes.Seen.size(), 1u);
  EXPECT_EQ(Boxes.Seen[0].Caption, "Measure Backlash");
  EXPECT_TRUE(Writes().empty());
  // Answered Yes before the box closer sees it.
  const int32_t start = Form->ReadoutValue();
  ui().MeasureBacklash1->trigger();
  auto* ask = Form->findChild<QMessageBox*>();
  ASSERT_NE(ask, nullptr);
  ask->button(QMessageBox::Yes)->click();
  ASSERT_TRUE(QTest::qWaitFor([&] { return Boxes.Seen.size() == 2; }, 60000));
  EXPECT_NE(Boxes.Seen[1].Text.find("No play between the motor and the encoder"), std::string::npos)
      << Boxes.Seen[1].Text;
  EXPECT_EQ(Form->StatusNote(), QStringLiteral("No backlash seen between motor and encoder"));
  EXPECT_FALSE(Moving());
  EXPECT_LE(std::abs(Form->ReadoutValue() - start), 2) << "not back where it started";
}

// A USB adapter that enumerates after the start: the port opens by itself once its device is
// there, keeping the count, and the status line and the bus follow. Until then nothing is
// tried on a path that is not there.
TEST_F(MainFormTest, APortWhoseDeviceAppearsLaterOpensByItself) {
  const std::string device = (Rig.Dir / "ttyLate").string();
  WriteIni(std::string(CommandModeIni) + "[Devices]\r\nCOM1=" + device + "\r\n");
  FailingPorts = {1};
  FailingErrno = ENOENT;
  MakeForm();
  ASSERT_FALSE(Form->Controller().PortOpen());
  EXPECT_TRUE(Form->PortProblem().startsWith(QStringLiteral("No such file")))
      << Form->PortProblem().toStdString();
  Form->Controller().SyncCount(250);
  // The device's node is made; until then the opener would have failed each time.
  FailingPorts.clear();
  const auto opens = [&] {
    const auto trace = Sim->Trace();
    return std::count_if(trace.begin(), trace.end(),
                         [](const sim::TTraceEntry& e) { return e.Kind == sim::TTraceKind::Open; });
  };
  const auto opensBefore = opens();
  std::ofstream(device) << "";
  ASSERT_TRUE(QTest::qWaitFor([&] { return Form->Controller().PortOpen(); }, 10000));
  EXPECT_EQ(opens(), opensBefore + 1);
  EXPECT_EQ(Form->Controller().CTSCount(), 250);
  EXPECT_TRUE(Form->PortProblem().isEmpty());
  EXPECT_EQ(
      Form->StatusNote(),
      QStringLiteral("COM 1 (%1) appeared and was opened").arg(QString::fromStdString(device)));
  auto* line = Form->findChild<QLabel*>(QStringLiteral("StatusLine"));
  EXPECT_TRUE(
      QTest::qWaitFor([&] { return line->text().contains(QStringLiteral(", connected")); }, 3000));
}

// The run log beside a test's settings: the start, the port, and one move from its asking to
// its end, in order.
TEST_F(MainFormTest, TheRunLogKeepsTheStartThePortAndAMove) {
  WriteIni(CommandModeIni);
  MakeForm();
  QTest::mouseClick(ui().In10, Qt::LeftButton);
  ASSERT_TRUE(QTest::qWaitFor([&] { return Moving(); }, 3000));
  ASSERT_TRUE(WaitMoveEnded());
  EXPECT_EQ(Form->LogFile(), (Rig.Dir / "morvane.log").string());
  std::ifstream in(Form->LogFile());
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);)
    lines.push_back(line.substr(line.find(' ', 11) + 1));  // past the time stamp
  const int32_t at = Form->Controller().CTSCount();
  const std::string end = at == 10 ? "Move to 10 ended at 10, on target"
                                   : "Move to 10 ended at " + std::to_string(at) + ", " +
                                         std::to_string(std::abs(at - 10)) + " from target";
  const std::vector<std::string> expected = {"Started with a window, settings " + Rig.IniPath,
                                             "Port COM 1 (/dev/ttyS0) open",
                                             "Move to 10 from 0, asked by the window", end};
  EXPECT_EQ(lines, expected);
}

// A node that is there without its device (a UART the board does not have) is not opened again
// each second, which would fill the journal; once it goes and comes back it is.
TEST_F(MainFormTest, ADeviceNodeWithoutItsDeviceIsNotOpenedAgainUntilItComesBack) {
  const std::string device = (Rig.Dir / "ttyS9").string();
  std::ofstream(device) << "";
  WriteIni(std::string(CommandModeIni) + "[Devices]\r\nCOM1=" + device + "\r\n");
  FailingPorts = {1};
  FailingErrno = ENXIO;
  MakeForm();
  ASSERT_FALSE(Form->Controller().PortOpen());
  const int tried = Rig.OpenCalls;
  // Three looks of the watch.
  constexpr int ThreeLooksMs = 3 * TMainForm::DeviceWatchMs + 500;
  QTest::qWait(ThreeLooksMs);
  EXPECT_EQ(Rig.OpenCalls, tried);
  // Unplugged for longer than a look, and plugged in again.
  std::filesystem::remove(device);
  constexpr int AwayLongerThanALookMs = TMainForm::DeviceWatchMs + 500;
  QTest::qWait(AwayLongerThanALookMs);
  FailingPorts.clear();
  std::ofstream(device) << "";
  EXPECT_TRUE(QTest::qWaitFor([&] { return Form->Controller().PortOpen(); }, 10000));
}

}  // namespace
}  // namespace morvane::test
