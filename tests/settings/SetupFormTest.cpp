#include "settings/fSetupForm.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QStyleOptionSpinBox>
#include <QTest>
#include <cerrno>

#include <memory>
#include <string>
#include <vector>

#include "SettingsTestSupport.h"
#include "controller/Objects.h"
#include "host/QtControllerHost.h"
#include "settings/RadioGroup.h"
#include "settings/SpinEdit.h"
#include "sim/SimFocuser.h"
#include "support/MessageBoxCloser.h"

namespace morvane {
namespace {

using test::ReadFileBytes;
using test::TTempDir;

// The main window as the dialog sees it, recording what the dialog does to it.
class TFakeMainWindow : public TSetupFormHost {
 public:
  explicit TFakeMainWindow(std::string iniPath) : FIniPath(std::move(iniPath)) {}
  int Left() const override { return FLeft; }
  void SetLeft(int left) override { FLeft = left, Moves.push_back("Left=" + std::to_string(left)); }
  int Top() const override { return FTop; }
  void SetTop(int top) override { FTop = top, Moves.push_back("Top=" + std::to_string(top)); }
  int AppliedVoice() const override { return FAppliedVoice; }
  void SetAppliedVoice(int voice) override { FAppliedVoice = voice; }
  void ShowInformationMessage(const std::string& text) override { Information.push_back(text); }
  std::string IniPath() const override { return FIniPath; }
  void SetSpeedRGEnabled(bool enabled) override { SpeedRGEnabled = enabled; }
  void ShowMessage(const std::string& text) override { Messages.push_back(text); }

  std::string FIniPath;
  int FLeft = 300, FTop = 200, FAppliedVoice = 0;
  bool SpeedRGEnabled = true;
  std::vector<std::string> Moves, Messages, Information;
};

// A controller on the simulated focuser, on which port numbers in FailingPorts do not open.
class SetupFormTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto opener = Sim.Opener();
    Controller = std::make_unique<TFocusControl>(
        ControllerHost, [this, opener](int n) -> std::unique_ptr<TSerialPort> {
          Opened.push_back(n);
          for (int failing : FailingPorts) {
            if (n == failing) {
              errno = FailingErrno;
              return nullptr;
            }
          }
          return opener(n);
        });
    Form = std::make_unique<TSetupForm>(*Controller, MainWindow);
  }
  void TearDown() override {
    Form.reset();
    Controller.reset();
  }

  template <typename T>
  T* Control(const char* name) {
    T* control = Form->findChild<T*>(name);
    EXPECT_NE(control, nullptr) << name;
    return control;
  }
  void Click(const char* button) {
    QTest::mouseClick(Control<QPushButton>(button), Qt::LeftButton);
  }
  void Choose(const char* group, int index) {
    // On the button's circle: a radio button takes clicks on its circle and caption only.
    QRadioButton* button = Control<TRadioGroup>(group)->Buttons().at(index);
    QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(5, button->height() / 2));
    EXPECT_TRUE(button->isChecked()) << group << " " << index;
  }
  int Count(sim::TTraceKind kind) {
    int n = 0;
    for (const auto& e : Sim.Trace()) n += e.Kind == kind;
    return n;
  }
  // Opens the dialog modelessly, as the modal call shows it, and waits until it is up.
  void Open() {
    Form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(Form.get()));
  }

  TTempDir Dir;
  TFakeMainWindow MainWindow{Dir.File("Morvane.ini")};
  TQtControllerHost ControllerHost;
  sim::TSimFocuser Sim;
  std::vector<int> FailingPorts;
  int FailingErrno = 0;  // the reason a failing port gives
  std::vector<int> Opened;
  std::unique_ptr<TFocusControl> Controller;
  std::unique_ptr<TSetupForm> Form;
};

TEST_F(SetupFormTest, DesignedState) {
  EXPECT_EQ(Form->windowTitle(), "Setup");
  EXPECT_EQ(Form->size(), QSize(434, 331));
  EXPECT_EQ(Form->minimumSize(), Form->maximumSize());
  EXPECT_EQ(Form->font().family(), "Tahoma");
  EXPECT_EQ(Form->font().pointSize(), 8);
  // Before any load the controls hold the staged settings' first values.
  const TStagedSettings initial;
  const TStagedSettings shown = Form->Staged();
  EXPECT_EQ(shown.ComPortRG.ItemIndex(), initial.ComPortRG.ItemIndex());
  EXPECT_EQ(shown.CommandRG.ItemIndex(), initial.CommandRG.ItemIndex());
  EXPECT_EQ(shown.VoiceRG.ItemIndex(), initial.VoiceRG.ItemIndex());
  EXPECT_EQ(shown.NudgeTimeSE.Value(), initial.NudgeTimeSE.Value());
  EXPECT_EQ(shown.CloseNudgeTimeSE.Value(), initial.CloseNudgeTimeSE.Value());
  EXPECT_EQ(shown.NudgeDelaySE.Value(), initial.NudgeDelaySE.Value());
  EXPECT_EQ(shown.StopFactorSE.Value(), initial.StopFactorSE.Value());
  EXPECT_EQ(shown.CodesPerRevSE.Value(), initial.CodesPerRevSE.Value());
  EXPECT_EQ(shown.TravelPerRevSE.Value(), initial.TravelPerRevSE.Value());
  EXPECT_EQ(shown.SavePosCB.Checked(), initial.SavePosCB.Checked());
  EXPECT_EQ(Control<TSpinEdit>("NudgeDelaySE")->text(), "0.100");
  EXPECT_EQ(Control<TSpinEdit>("StopFactorSE")->text(), "8");
  EXPECT_EQ(Control<TRadioGroup>("ComPortRG")->Buttons().size(), 20);
  for (const char* hidden : {"Label7", "CodesPerRevSE", "Label10", "TravelPerRevSE"}) {
    auto* w = Control<QWidget>(hidden);
    EXPECT_TRUE(w->isHidden() && !w->isEnabled()) << hidden;
  }
  EXPECT_EQ(Control<QWidget>("SavePosCB")->toolTip().toStdString(),
            "If this box is checked the program will restart wherever you \r\n"
            "leave the program window when you shut down.");
}

// Captions are measured in the fonts the dialog really gets, so that none is cut off and no
// item of a group sits on its caption or frame.
TEST_F(SetupFormTest, EveryShownCaptionFitsItsControl) {
  Open();
  for (QWidget* w : Form->findChildren<QWidget*>()) {
    // A push button's size hint holds a minimum width of the style's, not of its caption.
    if (w->isHidden() || !(qobject_cast<QCheckBox*>(w) || qobject_cast<QRadioButton*>(w) ||
                           qobject_cast<QLabel*>(w)))
      continue;
    EXPECT_GE(w->width(), w->sizeHint().width()) << w->objectName().toStdString();
    if (auto* group = qobject_cast<QGroupBox*>(w->parentWidget())) {
      const QRect inside = group->contentsRect();
      EXPECT_GE(w->y(), inside.top()) << w->objectName().toStdString();
      EXPECT_LE(w->geometry().bottom(), inside.bottom()) << w->objectName().toStdString();
    }
  }
}

// Each of the twenty ports a target a gloved finger can hit: a full row of the style's own
// indicator, and the dialog's groups still side by side, none over another.
TEST_F(SetupFormTest, EveryPortIsAFullSizeTargetAndNoGroupCoversAnother) {
  Open();
  for (QRadioButton* port : Control<TRadioGroup>("ComPortRG")->Buttons()) {
    EXPECT_GE(port->height(), std::max(18, port->sizeHint().height()))
        << port->objectName().toStdString();
    EXPECT_GE(port->width(), 30) << port->objectName().toStdString();
  }
  QList<QWidget*> shown;
  for (QWidget* w : Form->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
    if (!w->isHidden()) shown << w;
  for (int i = 0; i < shown.size(); ++i) {
    EXPECT_TRUE(Form->rect().contains(shown[i]->geometry()))
        << shown[i]->objectName().toStdString();
    for (int j = i + 1; j < shown.size(); ++j)
      EXPECT_FALSE(shown[i]->geometry().intersects(shown[j]->geometry()))
          << shown[i]->objectName().toStdString() << " " << shown[j]->objectName().toStdString();
  }
}

TEST_F(SetupFormTest, StartUpOpensTheUsablePortOnceAndModeSetsTheSpeedGroup) {
  Form->LoadSettings();  // no file yet: the factory file, "Direct to Focuser" on COM1
  ASSERT_EQ(MainWindow.Information.size(), 1u);
  Form->UpdatePgmParametersButtonClick();
  EXPECT_TRUE(Form->PortOpened());
  EXPECT_TRUE(Controller->PortOpen());
  EXPECT_EQ(Opened, std::vector<int>{1});
  EXPECT_EQ(Controller->NudgeTime(), 0.015);
  EXPECT_EQ(Controller->CloseNudgeTime(), 0.01);
  EXPECT_EQ(Controller->NudgeSleep(), 0.15);
  EXPECT_EQ(Controller->StopFactor(), 12);
  EXPECT_TRUE(Controller->UseRTS_DTR());
  EXPECT_FALSE(MainWindow.SpeedRGEnabled);
  EXPECT_EQ(Count(sim::TTraceKind::Open), 1);

  Open();
  Choose("CommandRG", 0);
  Click("UpdatePgmParametersButton");
  EXPECT_FALSE(Controller->UseRTS_DTR());
  EXPECT_TRUE(MainWindow.SpeedRGEnabled);
  // The same port, open: left alone.
  EXPECT_EQ(Opened, std::vector<int>{1});
  EXPECT_EQ(Count(sim::TTraceKind::Open), 1);
  EXPECT_EQ(Count(sim::TTraceKind::Close), 0);
  EXPECT_TRUE(Controller->PortOpen());
  EXPECT_TRUE(MainWindow.Messages.empty());
}

TEST_F(SetupFormTest, APortLostWhileOpenIsReopenedByUpdateParameters) {
  Form->LoadSettings();
  Form->UpdatePgmParametersButtonClick();
  ASSERT_TRUE(Controller->PortOpen());
  test::TMessageBoxCloser user;
  Sim.Unplug();
  // The controller closes the lost port on the GUI thread and says so once.
  ASSERT_TRUE(QTest::qWaitFor([&] { return !Controller->PortOpen() && !user.Seen.empty(); }, 5000));
  EXPECT_EQ(user.Seen.front().Text, "Lost connection to COM 1");
  Sim.Replug();
  Form->UpdatePgmParametersButtonClick();
  EXPECT_TRUE(Controller->PortOpen());
  EXPECT_TRUE(Form->PortOpened());
  EXPECT_EQ(Opened, (std::vector<int>{1, 1}));
}

TEST_F(SetupFormTest, AnotherPortThatFailsClosesTheOldOneAndNamesTheNewNumber) {
  FailingPorts = {7};
  Form->LoadSettings();
  Form->UpdatePgmParametersButtonClick();
  ASSERT_TRUE(Controller->PortOpen());

  Open();
  Choose("ComPortRG", 6);
  Click("UpdatePgmParametersButton");
  EXPECT_EQ(MainWindow.Messages, std::vector<std::string>{"Could not open COM 7 (/dev/ttyS6)"});
  EXPECT_EQ(Count(sim::TTraceKind::Close), 1);
  EXPECT_FALSE(Controller->PortOpen());
  EXPECT_FALSE(Form->PortOpened());
  EXPECT_EQ(Controller->ComPort(), 7);

  // Every later Update Parameters tries again, with the same port too.
  Click("UpdatePgmParametersButton");
  EXPECT_EQ(Opened, (std::vector<int>{1, 7, 7}));
  EXPECT_EQ(MainWindow.Messages.size(), 2u);

  // No port selected: "COM 0", which the controller refuses without trying.
  Form->SetStaged([&] {
    TStagedSettings s = Form->Staged();
    s.ComPortRG.SetItemIndex(-1);
    return s;
  }());
  EXPECT_EQ(Control<TRadioGroup>("ComPortRG")->ItemIndex(), -1);
  Click("UpdatePgmParametersButton");
  EXPECT_EQ(MainWindow.Messages.back(), "Could not open COM 0");

  // A port the user may not open: the text, then the reason and how to mend it.
  FailingErrno = EACCES;
  Choose("ComPortRG", 6);
  Click("UpdatePgmParametersButton");
  EXPECT_EQ(
      MainWindow.Messages.back().rfind("Could not open COM 7 (/dev/ttyS6)\n\nPermission denied", 0),
      0u);
  EXPECT_NE(MainWindow.Messages.back().find("dialout"), std::string::npos);
}

TEST_F(SetupFormTest, FactoryDefaultsThenCloseChangesOnlyTheControlsAndTheWindowPosition) {
  Form->LoadSettings();
  Form->UpdatePgmParametersButtonClick();
  // Applied values apart from the factory ones; edits in the items no opening refreshes.
  Open();
  Control<QCheckBox>("SavePosCB")->setChecked(false);
  Control<QCheckBox>("DualSenseCB")->setChecked(true);
  Control<TSpinEdit>("NudgeTimeSE")->setValue(0.040);
  Choose("CommandRG", 0);
  Choose("ComPortRG", 2);
  Choose("VoiceRG", 1);
  Click("UpdatePgmParametersButton");
  ASSERT_TRUE(Controller->DualSense());
  Control<TSpinEdit>("CodesPerRevSE")->setValue(700);
  Control<TSpinEdit>("TravelPerRevSE")->setValue(0.9);
  MainWindow.Moves.clear();

  Click("FactoryDefaultsButton");
  Click("CloseButton");
  EXPECT_FALSE(Form->isVisible());
  EXPECT_EQ(Controller->NudgeTime(), 0.040);
  EXPECT_FALSE(Controller->UseRTS_DTR());
  EXPECT_TRUE(Controller->DualSense());
  EXPECT_EQ(Controller->ComPort(), 3);
  EXPECT_EQ(MainWindow.FAppliedVoice, 1);
  EXPECT_EQ(MainWindow.Moves, (std::vector<std::string>{"Top=1", "Left=1"}));
  // Until the next opening the main window speaks with the dialog's choice.
  EXPECT_EQ(Form->VoiceIndex(), 2);

  Open();
  const TStagedSettings shown = Form->Staged();
  EXPECT_EQ(shown.NudgeTimeSE.Value(), 0.040);
  EXPECT_EQ(shown.CommandRG.ItemIndex(), 0);
  EXPECT_EQ(shown.ComPortRG.ItemIndex(), 2);
  EXPECT_EQ(shown.VoiceRG.ItemIndex(), 1);
  EXPECT_TRUE(shown.SavePosCB.Checked());
  EXPECT_FALSE(shown.DualSenseCB.Checked());
  EXPECT_EQ(shown.CodesPerRevSE.Value(), 512);
  EXPECT_EQ(shown.TravelPerRevSE.Value(), 0.58);
}

TEST_F(SetupFormTest, FactoryDefaultsThenSaveSettingsWritesTheButtonsValues) {
  Form->LoadSettings();
  Open();
  Choose("ComPortRG", 4);
  Choose("CommandRG", 0);
  Click("FactoryDefaultsButton");
  Click("SaveSettingsButton");
  const std::string file = ReadFileBytes(MainWindow.IniPath());
  for (const char* line : {"ComPort=1\r\n", "Commands=1\r\n", "Voice=2\r\n", "SavePosition=1\r\n",
                           "StopFactor=12\r\n", "HiResPositioning=0\r\n"})
    EXPECT_NE(file.find(line), std::string::npos) << line << " in\n" << file;
  // Revert reads them back, window position and all.
  Choose("VoiceRG", 0);
  MainWindow.Moves.clear();
  Click("RevertSavedButton");
  EXPECT_EQ(Form->VoiceIndex(), 2);
  EXPECT_EQ(MainWindow.FAppliedVoice, 2);
  EXPECT_EQ(MainWindow.Moves, (std::vector<std::string>{"Left=0", "Top=0"}));
}

// Travel limits: off from a file without the keys; Update Parameters applies them, Save
// Settings writes them, and limits with no room between them are refused with a message.
TEST_F(SetupFormTest, TravelLimitsAreAppliedSavedAndRefusedWithoutRoom) {
  Form->LoadSettings();
  Open();
  Click("UpdatePgmParametersButton");
  EXPECT_FALSE(Control<QCheckBox>("LimitsCB")->isChecked());
  EXPECT_FALSE(Controller->TravelLimits().Set);
  Control<QCheckBox>("LimitsCB")->setChecked(true);
  Control<TSpinEdit>("LowerLimitSE")->setValue(-500);
  Control<TSpinEdit>("UpperLimitSE")->setValue(800);
  Click("UpdatePgmParametersButton");
  EXPECT_EQ(Controller->TravelLimits(), (TTravelLimits{true, -500, 800}));
  Click("SaveSettingsButton");
  const std::string file = ReadFileBytes(MainWindow.IniPath());
  for (const char* line : {"LimitsSet=1\r\n", "LowerLimit=-500\r\n", "UpperLimit=800\r\n"})
    EXPECT_NE(file.find(line), std::string::npos) << line << " in\n" << file;
  Control<TSpinEdit>("LowerLimitSE")->setValue(800);
  MainWindow.Messages.clear();
  Click("UpdatePgmParametersButton");
  EXPECT_EQ(MainWindow.Messages,
            (std::vector<std::string>{"Travel limits not set: The lower limit 800 must lie below "
                                      "the upper limit 800"}));
  EXPECT_EQ(Controller->TravelLimits(), (TTravelLimits{true, -500, 800}));
}

TEST_F(SetupFormTest, SpinEditsStepByKeysAndButtonsOnlyAndRefuseTyping) {
  Open();
  Form->activateWindow();
  auto* delay = Control<TSpinEdit>("NudgeDelaySE");
  delay->setValue(0);  // below the range: the minimum
  delay->setFocus();
  EXPECT_EQ(delay->text(), "0.050");
  QTest::keyClick(delay, Qt::Key_Up);
  EXPECT_EQ(delay->text(), "0.055");
  QStyleOptionSpinBox option;
  option.initFrom(delay);
  option.subControls = QStyle::SC_SpinBoxUp;
  option.frame = true;
  const QRect up =
      delay->style()->subControlRect(QStyle::CC_SpinBox, &option, QStyle::SC_SpinBoxUp, delay);
  QTest::mouseClick(delay, Qt::LeftButton, {}, up.center());
  EXPECT_EQ(delay->text(), "0.060");
  QTest::keyClick(delay, Qt::Key_Down);
  EXPECT_EQ(delay->text(), "0.055");

  // Typing beeps and changes nothing; nor does a page step.
  QTest::keyClicks(delay, "0.2");
  QTest::keyClick(delay, Qt::Key_Backspace);
  QTest::keyClick(delay, Qt::Key_PageUp);
  EXPECT_EQ(delay->text(), "0.055");

  auto* stop = Control<TSpinEdit>("StopFactorSE");
  stop->setValue(50);
  QTest::keyClick(stop, Qt::Key_Up);
  EXPECT_EQ(stop->text(), "50");
  EXPECT_EQ(Form->Staged().StopFactorSE.AsInteger(), 50);

  // A text that reads as no number counts as the minimum, and steps from it.
  auto* nudge = Control<TSpinEdit>("NudgeTimeSE");
  nudge->findChild<QLineEdit*>()->setText("");
  EXPECT_EQ(Form->Staged().NudgeTimeSE.Value(), 0.005);
  QTest::keyClick(nudge, Qt::Key_Up);
  EXPECT_EQ(nudge->text(), "0.006");
}

TEST_F(SetupFormTest, TabOrder) {
  Open();
  Form->activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(Form.get()));
  Control<TRadioGroup>("ComPortRG")->Buttons().at(0)->setFocus();
  std::vector<std::string> order;
  for (int i = 0; i < 18; ++i) {
    QWidget* w = QApplication::focusWidget();
    while (w && w->parentWidget() && qobject_cast<QRadioButton*>(w)) w = w->parentWidget();
    order.push_back(w ? w->objectName().toStdString() : "");
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
  }
  EXPECT_EQ(order,
            (std::vector<std::string>{
                "ComPortRG", "CommandRG", "SavePosCB", "NudgeTimeSE", "CloseNudgeTimeSE",
                "NudgeDelaySE", "StopFactorSE", "ReverseDirCB", "DualSenseCB", "LimitsCB",
                "LowerLimitSE", "UpperLimitSE", "UpdatePgmParametersButton", "SaveSettingsButton",
                "RevertSavedButton", "FactoryDefaultsButton", "CloseButton", "VoiceRG"}));
}

}  // namespace
}  // namespace morvane
