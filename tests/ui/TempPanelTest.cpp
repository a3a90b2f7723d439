// The temperature panel on the real main window, offscreen, on the simulated focuser with its
// module in the modes an observer meets: present, absent, gone silent, refusing a value.

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <QTimer>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "host/QtControllerHost.h"
#include "sim/SimFocuser.h"
#include "ui/MainWindowRig.h"
#include "ui/fMorvane.h"
#include "ui_fMorvane.h"
#include "widgets/ulxmLbl.h"
#include "widgets/ulxmLite.h"
#include "widgets/ulxmLiteFP.h"

using namespace morvane;

namespace {

// The Qt host with its modal messages recorded instead of shown.
class TRecordingHost : public TQtControllerHost {
 public:
  void ShowMessage(const std::string& text) override { Messages.push_back(text); }
  std::vector<std::string> Messages;
};

// The module's requests of one kind seen on the line so far.
// Runs the event loop until a timer started now with the given interval has fired that many
// times: a timer of the window's with that interval had as many chances to fire.
bool RunTimerPeriods(int intervalMs, int periods) {
  QTimer witness;
  int fired = 0;
  QObject::connect(&witness, &QTimer::timeout, [&] { ++fired; });
  witness.start(intervalMs);
  return QTest::qWaitFor([&] { return fired >= periods; }, 5000 + intervalMs * periods);
}

int Requests(const sim::TSimFocuser& sim, const std::string& request) {
  int n = 0;
  for (const auto& e : sim.Trace())
    if (e.Kind == sim::TTraceKind::Write && e.Bytes == request + "\r") ++n;
  return n;
}

class TempPanelTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(Rig.Open());
    ASSERT_TRUE(Form->Controller().PortOpen());
    ui = &Form->Form();
  }
  void TearDown() override { Rig.Close(); }

  void ChooseTemperature() { ui->Temp1->trigger(); }
  bool PanelOpen() const { return Form->Width() == 542; }

  TRecordingHost* RecordingHost = new TRecordingHost;  // owned by the rig
  test::TMainWindowRig Rig{test::TWindowRigSetup{
      .Ini = "[Device/Ports]\r\nComPort=1\r\nCommands=1\r\nVoice=2\r\n\r\n[FocusControl]\r\n"
             "NudgeTime=0.015\r\nCloseNudgeTime=0.01\r\nNudgeDelay=0.15\r\nStopFactor=12\r\n"
             "StayOnTop=0\r\n\r\n[Position]\r\n",
      .Open = false,
      .Host = std::unique_ptr<TQtControllerHost>(RecordingHost)}};
  sim::TSimFocuser& Sim = *Rig.Simulator;
  TRecordingHost& Host = *RecordingHost;
  std::unique_ptr<TMainForm>& Form = Rig.Form;
  Ui::TMainForm* ui = nullptr;
};

// Counts the pulses a light is drawn with: each time it is painted lit after being painted out.
class TPaintWatch : public QObject {
 public:
  explicit TPaintWatch(TlxmLite* lite) : FLite(lite) { lite->installEventFilter(this); }
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint) {
      if (FLite->Lit() && !FWasLit) ++Pulses;
      FWasLit = FLite->Lit();
    }
    return false;
  }
  int Pulses = 0;

 private:
  TlxmLite* FLite;
  bool FWasLit = false;
};

// Closes the next modal message box that comes up and keeps its text.
void CloseNextMessage(QString& text) {
  QTimer::singleShot(20, [&text] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box) return CloseNextMessage(text);
    text = box->text();
    box->accept();
  });
}

}  // namespace

TEST_F(TempPanelTest, OpensOnlyWithAModuleAndClosesWhenItHasGoneSilent) {
  EXPECT_TRUE(ui->Temp1->isVisible());
  EXPECT_EQ(Form->Width(), 272);

  Sim.SetModuleMode(sim::TModuleMode::Absent);
  ChooseTemperature();
  ASSERT_EQ(Host.Messages, std::vector<std::string>{"Temperature Functions are not available"});
  EXPECT_EQ(Form->Width(), 272);
  EXPECT_FALSE(ui->lxmLite1->Lit());

  Sim.SetModuleMode(sim::TModuleMode::Present);
  ChooseTemperature();
  EXPECT_TRUE(PanelOpen());
  EXPECT_TRUE(ui->lxmLite1->Lit());
  EXPECT_TRUE(ui->TempPanel->isVisible());
  EXPECT_EQ(Host.Messages.size(), 1u);

  // The module goes silent; closing asks it nothing and takes no time.
  Sim.SetModuleMode(sim::TModuleMode::Silent);
  const int probes = Requests(Sim, "MRV02?????");
  QElapsedTimer clock;
  clock.start();
  ChooseTemperature();
  EXPECT_LT(clock.elapsed(), 500);
  EXPECT_EQ(Form->Width(), 272);
  EXPECT_EQ(Requests(Sim, "MRV02?????"), probes);
  EXPECT_EQ(Host.Messages.size(), 1u);

  // The closed panel's controls take no keys or clicks.
  EXPECT_FALSE(ui->GetTempButton->isEnabled());
  EXPECT_FALSE(ui->OffsetSE->isEnabled());

  // Open again, a reading finds the module gone: the light goes out.
  Sim.SetModuleMode(sim::TModuleMode::Present);
  ChooseTemperature();
  ASSERT_TRUE(PanelOpen());
  Sim.SetModuleMode(sim::TModuleMode::Silent);
  ui->GetTempButton->click();
  EXPECT_FALSE(ui->lxmLite1->Lit());
  EXPECT_EQ(ui->Label4->text(), "-100.0 °C");
}

TEST_F(TempPanelTest, OffsetsWriteTheirCalibrationValueAndAFailedWriteIsReported) {
  ChooseTemperature();
  ASSERT_TRUE(PanelOpen());
  ui->GetCalButton->click();
  EXPECT_EQ(ui->Label2->text(), "250");

  // The offset is changed by its arrow keys; typing is refused.
  QTest::keyClick(ui->OffsetSE, Qt::Key_Up);
  QTest::keyClick(ui->OffsetSE, Qt::Key_7);
  ui->SetCalButton->click();
  EXPECT_EQ(Sim.ModuleCal(), 236);

  ui->OffsetSE->setValue(-10);
  ui->SetCalButton->click();
  EXPECT_EQ(Sim.ModuleCal(), 225);
  EXPECT_EQ(ui->Label2->text(), "225");
  ui->OffsetSE->setValue(10);
  ui->SetCalButton->click();
  EXPECT_EQ(Sim.ModuleCal(), 245);
  EXPECT_EQ(ui->Label2->text(), "245");
  EXPECT_EQ(Requests(Sim, "MRV0600225"), 1);
  EXPECT_EQ(Requests(Sim, "MRV0600245"), 1);

  // The module answers another value than the one written.
  ui->OffsetSE->setValue(0);
  Sim.SetNextModuleReply("MRV0700236");
  QString message;
  CloseNextMessage(message);
  ui->SetCalButton->click();
  EXPECT_EQ(message, "Set Cal value failed!");
  EXPECT_EQ(ui->Label2->text(), "245");
  EXPECT_EQ(Form->Controller().LastTCCal(), 245);
}

TEST_F(TempPanelTest, ReadingsAverageAndResetStartsTheAverageAgain) {
  ChooseTemperature();
  ASSERT_TRUE(PanelOpen());
  Sim.SetTemperature(20.0);
  ui->GetTempButton->click();
  EXPECT_EQ(ui->Label1->Caption(), "20.0 °C");
  Sim.SetTemperature(10.0);
  ui->GetTempButton->click();
  EXPECT_EQ(ui->Label4->text(), "10.0 °C");
  EXPECT_EQ(ui->Label1->Caption(), "15.0 °C");

  Sim.SetTemperature(7.0);
  ui->ResetTC->click();
  EXPECT_EQ(ui->Label1->Caption(), "15.0 °C");  // kept until the next reading
  ui->GetTempButton->click();
  EXPECT_EQ(ui->Label4->text(), "7.0 °C");
  EXPECT_EQ(ui->Label1->Caption(), "7.0 °C");
}

TEST_F(TempPanelTest, AutoRunReadsFiveTimesASecondUntilThePanelCloses) {
  ChooseTemperature();
  ASSERT_TRUE(PanelOpen());
  TPaintWatch watch(ui->lxmLiteFP1);
  const int before = Requests(Sim, "MRV08?????");
  int ticks = 0;  // of the reading timer, counted after the window's own handler has run
  QObject counter;
  QObject::connect(&Form->Timer1(), &QTimer::timeout, &counter, [&] { ++ticks; });
  QTest::mouseClick(ui->EnableSB, Qt::LeftButton);
  EXPECT_TRUE(ui->EnableSB->isChecked());
  EXPECT_TRUE(Form->Timer1().isActive());
  EXPECT_EQ(Form->Timer1().interval(), 200);
  // The small light pulses with the readings, drawn lit and then out again. How many pulses a
  // loaded machine gets to draw is not the panel's to say: paints of a busy window merge.
  ASSERT_TRUE(QTest::qWaitFor(
      [&] { return Requests(Sim, "MRV08?????") - before >= 5 && watch.Pulses >= 3; }, 15000))
      << Requests(Sim, "MRV08?????") - before << " readings, " << watch.Pulses << " pulses";
  const int readings = Requests(Sim, "MRV08?????") - before;
  // One a tick of the timer: a loaded machine makes fewer, never more.
  EXPECT_LE(readings, ticks + 1);
  EXPECT_FALSE(ui->Label4->text().isEmpty());

  ChooseTemperature();
  EXPECT_EQ(Form->Width(), 272);
  EXPECT_FALSE(Form->Timer1().isActive());
  EXPECT_FALSE(ui->EnableSB->isChecked());
  const int atClose = Requests(Sim, "MRV08?????");
  ASSERT_TRUE(RunTimerPeriods(Form->Timer1().interval(), 3));
  EXPECT_EQ(Requests(Sim, "MRV08?????"), atClose);

  ChooseTemperature();
  EXPECT_TRUE(PanelOpen());
  EXPECT_FALSE(ui->EnableSB->isChecked());
  EXPECT_FALSE(Form->Timer1().isActive());
}

TEST_F(TempPanelTest, AGarbledReadingDuringAutoRunShowsOneMessageAtATime) {
  ChooseTemperature();
  ASSERT_TRUE(PanelOpen());
  QTest::mouseClick(ui->EnableSB, Qt::LeftButton);
  // A temperature field that is no number: the conversion error reaches the user. The box
  // runs its own event loop inside the reading's tick, so it is watched from timers.
  Sim.SetNextModuleReply("MRV09ab.cd");
  QString text;
  int readingsAtBox = -1, readingsLater = -1;
  QWidget* secondBox = nullptr;
  bool closed = false;
  std::function<void()> watch = [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box) return QTimer::singleShot(10, watch);
    text = box->text();
    readingsAtBox = Requests(Sim, "MRV08?????");
    QTimer::singleShot(600, [&, box] {
      // While it is up, the automatic readings wait: no second box, no reading.
      readingsLater = Requests(Sim, "MRV08?????");
      if (QApplication::activeModalWidget() != box) secondBox = QApplication::activeModalWidget();
      box->accept();
      closed = true;
    });
  };
  QTimer::singleShot(0, watch);
  ASSERT_TRUE(QTest::qWaitFor([&] { return closed; }, 15000));
  EXPECT_TRUE(text.contains("ab.cd")) << text.toStdString();
  EXPECT_EQ(readingsLater, readingsAtBox);
  EXPECT_EQ(secondBox, nullptr);
  EXPECT_TRUE(QTest::qWaitFor([&] { return Requests(Sim, "MRV08?????") > readingsLater; }, 5000))
      << "the readings do not go on after it";
  EXPECT_TRUE(ui->EnableSB->isChecked());
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}
