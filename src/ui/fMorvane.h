#pragma once
// TMainForm: the program's main window. It owns the one focuser controller, the setup dialog
// and the about box, starts them in a fixed order, carries the menu and the timers, and shuts
// everything down in a fixed order when it closes. Its handlers live in files by concern: this
// file's .cpp the start, the menu and the close; Console.cpp the focusing console; the
// temperature panel, the inter-program messages and the voice in files of their own.
//
// Threads: the controller raises its count changes on the counting thread and its idle
// changes on the motion threads; both reach the widgets only on the GUI thread, in the order
// they were raised (count changes coalesced by TCountHandOver, idle changes as queued calls).

#include <QElapsedTimer>
#include <QMainWindow>
#include <QPointer>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "console/Console.h"
#include "console/TempCompDriver.h"
#include "controller/Objects.h"
#include "settings/RunLog.h"
#include "settings/SetupFormHost.h"
#include "ui/bus/ConsoleActions.h"
#include "ui/voice/VoiceThread.h"

namespace Ui {
class TMainForm;
}

class QAbstractButton;
class QLabel;
class QKeyEvent;
class QDialog;

namespace morvane {

class TSetupForm;
class TCompensationForm;
class TFocusMarker;
struct TBacklashReport;
struct TMainFormBus;
class THelpViewer;

class TMainForm : public QMainWindow, public TSetupFormHost {
  Q_OBJECT

 public:
  // host: the GUI thread's side for the controller. opener: turns a port number into a port.
  // iniPath: the settings file (TSettingsPath decides where it lies).
  TMainForm(TControllerHost& host, TPortOpener opener, std::string iniPath,
            QWidget* parent = nullptr);
  ~TMainForm() override;

  // Start-up and shut-down. FormShow loads the settings; the rest of the show, applying them
  // and opening the port, runs in FinishFormShow once the window has been painted.
  void FormCreate();
  void FormShow();
  void FinishFormShow();
  void FormClose();
  // True once the start has been completed (settings applied, port opened or reported).
  bool Started() const { return FStarted; }
  // Reads the settings file again and applies it as Setup's Update Parameters does (SIGHUP).
  void ReloadSettings();

  // Menu.
  void Setup1Click();
  void MorvaneHelp1Click();
  void AboutMorvane1Click();
  void Exit1Click();
  // The View menu (ViewMenu.cpp): each choice takes effect at once and is written to the file.
  void StayOnTop1Click();
  void NightVision1Click();
  void SetNightVision(bool on);
  bool NightVision() const { return FNightVision; }

  // Timers.
  void MovingTimerTimer();
  void FW2TimerTimer();

  // The focusing console (Console.cpp).
  void Focus_InBtnMouseDown(QAbstractButton* Sender);
  void Focus_InBtnMouseUp(QAbstractButton* Sender);
  void In10Click(QAbstractButton* Sender);
  void CancelButtonClick();
  // Stop from another program: whatever drives the motor stops (a move by or to a count, a
  // coarse run), whether or not the console shows it yet.
  void StopAllClick();
  void MoveByButtonClick();
  void MoveToButtonClick();
  void ResetButtonClick();
  // The count becomes count without a move ("Set Position...", the bus's Sync). Empty when
  // done, otherwise why not.
  QString SyncCount(int32_t count);
  // False after a start that restored a count Morvane did not close cleanly behind, and after
  // the count found encoder edges lost; true again once the position is set or reset.
  bool PositionTrusted() const { return FConsole && FConsole->PositionTrusted(); }
  // Restores the kept count once the port is open; writes it when a move has ended and, with
  // closed, at a clean exit.
  void RestoreKeptPosition();
  void KeepPosition(bool closed);
  void TrustPosition();
  // The count can no longer be trusted (edges lost): note shown, PositionTrusted false.
  void DistrustPosition(const QString& note);
  // The clients' position scale, brought into range and saved (ReverseDirection.cpp).
  void SetPositionScale(int32_t scale);
  // The motor's In and Out swapped, applied and saved (ReverseDirection.cpp).
  void SetReverseDirection(bool on);
  // Key is a Qt key code; auto-repeated presses come as further key downs.
  void FormKeyDown(int Key);
  void FormKeyUp(int Key);
  void Button1Click();
  // Raised on the counting thread (and on the GUI thread by a reset); the effects are shown on
  // the GUI thread by ShowCountChange.
  void FocusControlCountChange(TFocusControl* Sender, int32_t CTSCount, bool DSRValue);
  // Raised on a motion thread; the effects run on the GUI thread in ShowIdleChange.
  void FocusControlIdleChange(TFocusControl* Sender, bool IdleValue);

  // The temperature panel (TempPanel.cpp).
  void Temp1Click();
  void GetTempButtonClick();
  void GetCalButtonClick();
  void SetCalButtonClick();
  void ResetTCClick();
  void EnableSBClick();
  void Timer1Timer();
  void FocusControlAvailChange(TFocusControl* Sender, bool TCAvailValue);

  // Broadcast (w, l): "MORVANE_MESSAGE" to every listener on the session bus, without waiting.
  void Broadcast(int32_t WParam, int32_t LParam);
  // The count the readout shows, as the console holds it.
  int32_t ReadoutValue() const { return FConsole ? FConsole->ShownPosition() : 0; }
  // The voice chosen in the setup dialog: 0 female, 1 male, 2 none (-1 none selected).
  int VoiceSelection() const;

  // Other programs (Messages.cpp): "MORVANE_MESSAGE" from the session bus and the focuser's
  // D-Bus interface. BusStateChanged tells the interface that what it shows may have changed.
  void StartBusInterfaces();
  void StopBusInterfaces();
  void MorvaneMessageReceived(int32_t WParam, int32_t LParam);
  // A window starting asks this copy for the port (the bus's HandOver). handOver, given to a
  // copy without a window, closes it and answers true; without one the window comes to the
  // front and the answer is false.
  void SetHandOver(std::function<bool()> handOver);
  bool HandOver();
  // The run log (RunLogging.cpp): starts, the port, moves and how each ended, stalls,
  // compensation moves, hand-overs. who: the window, a program on the bus, MORVANE_MESSAGE.
  void Log(const std::string& line);
  const std::string& LogFile() const { return FRunLog.Path(); }
  void LogMoveAsked(int32_t target, const char* who);
  void LogFile1Click();
  void BusStateChanged();
  // A coarse button is down (or a run started over the bus runs): from press to release.
  bool CoarseRunning() const { return FConsole && FConsole->Running(); }

  // The voice (Voice.cpp). SilenceVoice: when a voice is selected and one is speaking, asks the
  // speaking thread to stop. SayReadout: speaks the readout after delayMs.
  void SilenceVoice();
  void SayReadout(int DelayMs);
  // The last voice thread started; null before the first.
  TVoiceThread* VoiceThread() const { return FVoiceThreads.Last(); }

  // The status line (StatusLine.cpp): two rows below the designed client area, by which the
  // window is taller.
  static constexpr int StatusLineHeight = 34;
  // After a coarse run the motor coasts for a moment: the count is kept once it has rested.
  static constexpr int KeepAfterRunMs = 1500;
  // namer: what a port number stands for ("simulator" or a device path); by default the
  // settings file's [Devices] entry.
  void SetPortNamer(std::function<std::string(int)> namer);
  // The device behind the port, and why it is not open (empty while it is).
  std::string PortDevice() const;
  QString PortProblem() const;
  void UpdateStatusLine();
  // A configured device missing when the port was opened (a USB adapter enumerating late) is
  // looked for every DeviceWatchMs and the port opened once it is there.
  static constexpr int DeviceWatchMs = 1000;
  static constexpr int DevicePermissionTries = 5;
  void WatchForDevice();
  // The line's second row: the last error, kept until the next action, or how a move ended.
  void SetStatusNote(const QString& note);
  QString StatusNote() const { return FConsole ? FConsole->StatusNote() : QString(); }
  // Shown on the second row whenever no note is: why other programs cannot reach this window.
  void SetBusProblem(const QString& problem);

  // TSetupFormHost.
  // Left and top are the outer frame's, as written at close.
  int Left() const override { return FramePlace().x(); }
  void SetLeft(int left) override { MoveFrameTo(QPoint(left, Top())); }
  int Top() const override { return FramePlace().y(); }
  void SetTop(int top) override { MoveFrameTo(QPoint(Left(), top)); }
  int AppliedVoice() const override { return FAppliedVoice; }
  void SetAppliedVoice(int voice) override { FAppliedVoice = voice; }
  void ShowInformationMessage(const std::string& text) override;
  std::string IniPath() const override { return FIniPath; }
  std::string PortDeviceFor(int n) const override;
  int32_t PositionScale() const { return FPositionScale; }
  // Backlash and temperature compensation (ui/Compensation.cpp).
  TTempCompDriver& TempComp() { return FConsole->TempComp(); }
  // Applies the settings and saves them in the settings file's own section.
  void ApplyCompensation(const TCompensationSettings& s);
  // The Focus menu: the compensation dialog, and a focus mark for learning the coefficient
  // (told on the status line; a refusal logs nothing).
  void CompensationSettings1Click();
  void MarkFocus1Click();
  void SetPosition1Click();
  TMarkOutcome MarkFocus();
  TCompensationForm& CompensationForm() { return *FCompensationForm; }
  // "Measure Backlash..." (ui/BacklashMeasure.cpp): asks first, since it moves the focuser.
  void MeasureBacklash1Click();
  // Starts the measurement; done runs on the GUI thread at its end, after the status line has
  // the result. Empty when it started, else why not.
  QString StartBacklashMeasurement(std::function<void(const TBacklashReport&)> done);
  // Travel limits and "Find Travel..." (ui/TravelLimits.cpp). Limits set are applied and saved;
  // empty when done, else why not.
  QString SetTravelLimits(const TTravelLimits& limits);
  void FindTravel1Click();
  // Starts Find Travel; done runs on the GUI thread at its end. Empty when it started.
  QString StartFindTravel(std::function<void(const TTravelReport&)> done);
  // A move to target outside the limits is refused on the status line: true then.
  bool RefuseOutsideLimits(int64_t target);
  void SetSpeedRGEnabled(bool enabled) override;
  void ShowMessage(const std::string& text) override;
  void TravelLimitsChanged() override { BusStateChanged(); }

  // The window's outer width; the temperature panel opens and closes the window by it.
  int Width() const { return width(); }
  void SetWidth(int width);
  int CollapsedWidth() const { return FCollapsedWidth; }

  TFocusControl& Controller() { return *FocusControl; }
  // The console's state, which the window shows.
  TConsole& Console() { return *FConsole; }
  TSetupForm& Setup() { return *SetupForm; }
  Ui::TMainForm& Form() { return *ui; }
  uint32_t MorvaneMessage() const { return FMorvaneMessage; }
  QTimer& MovingTimer() { return FMovingTimer; }
  QTimer& FW2Timer() { return FFW2Timer; }
  QTimer& Timer1() { return FTimer1; }
  TCountHandOver& CountHandOver() { return FConsole->CountHandOver(); }
  THelpViewer& HelpProcess() { return *FHelpProcess; }

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // The console's guards read whether a move runs without recording it as the controller's
  // last seen idle state: a guard between a motion thread's change and its report would
  // otherwise swallow the report, and the console would stay showing a move that has ended.
  bool MotionIdle() const;
  void PrepareWidgets();
  void MakeConnections();
  // The GUI thread's part of the two controller events, in the handlers' order of effects.
  void ShowCountChange(int32_t CTSCount, bool DSRValue);
  void ShowIdleChange(bool IdleValue);
  // What the console raises, on the widgets.
  void ShowIdleButtons(bool idle);
  // The stall guard stopped the motor: the fault on the status line and the bus, and a
  // coarse run ended as at its button's release.
  void ShowStall(const QString& text);
  // Frees the dialogs and then the controller, in that order; once.
  void FreeOwned();
  // A stored place may lie on a screen that is gone (a monitor unplugged since the last
  // night), where the window could be neither seen nor moved. Once the settings have placed
  // it, the window goes back to its designed place unless its top shows on some screen.
  void KeepOnScreenLater();
  void KeepOnScreen();
  // Puts the outer frame's top-left corner at place. Before a window manager has framed the
  // window its frame is not known; a client place would then put the title bar above the saved
  // place, and the window would climb by a title bar at every start.
  void MoveFrameTo(QPoint place);
  void WatchFrame();
  void PrepareStatusLine();
  QString PortDescription() const;
  // False, saying why on the status line, when the port is closed and a move cannot act.
  bool PortReady();
  // A move by or to a count: where it should end, and how far from it it did.
  void NoteMoveTarget(int32_t target);
  void NoteMoveEnd();
  void SetStayOnTop(bool on);
  // Puts the window back on top, as chosen, once the guide's viewer has ended.
  void WatchHelpViewer();
  QPoint FramePlace() const;
  // Keyboard preview: true when the key event is the first delivery of a key to this window.
  bool IsPreviewedKey(QObject* watched) const;
  void PreviewKey(const QKeyEvent& key);
  // Runs the key-up path of a release held back to see whether it is half of an auto-repeat.
  void FlushKeyRelease();
  // The window lost the keyboard, or a message box now blocks it, while a coarse run was held
  // by a key or the mouse: the run ends as at the release.
  void EndHeldRun();

  std::unique_ptr<Ui::TMainForm> ui;
  std::function<bool()> FHandOver;
  std::optional<int32_t> FLogTarget;  // the move the log waits to see end
  std::optional<bool> FLoggedPortOpen;
  QAction* FLogFileAction = nullptr;
  void LogPortChange();
  void LogMoveEnd();
  TControllerHost& FHost;
  TPortOpener FOpener;
  std::string FIniPath;
  TRunLog FRunLog;
  // [FocusControl] PositionScale as last read (the start, a reload), for the bus.
  int32_t FPositionScale = DefaultPositionScale;
  int FAppliedVoice = 0;
  int FCollapsedWidth = 0;
  uint32_t FMorvaneMessage = 0;
  bool FClosed = false;
  bool FFormShowPending = false;
  bool FStarted = false;
  bool FKeepOnScreenQueued = false;
  // The window's frame place is known once a window manager has framed it, or once a shown
  // window has waited FrameWaitMs for that; a place set before waits for it.
  bool FFrameKnown = false;
  std::optional<QPoint> FPendingFramePlace;
  QElapsedTimer FFrameWatch;
  QTimer FFrameWatchTimer;
  QTimer FHelpWatchTimer;
  QLabel* FStatusLine = nullptr;
  QTimer FStatusTimer;
  QString FStatusText;
  QTimer FDeviceWatchTimer;
  // Opens left after the device appeared while its group is still being set by udev.
  int FDeviceGraceTries = 0;
  bool FDeviceWasAbsent = false;  // the port's path was missing at a look since the last open
  // The count kept across starts (KeptPosition.cpp): on with "KeepPosition" in the settings
  // file; the count is untrusted after a start that followed no clean exit, until the user
  // sets the position or resets it (the console's PositionTrusted).
  bool FKeepPosition = false;
  std::optional<int32_t> FMoveTarget;
  bool FNightVision = false;
  // View > Stay on Top as chosen; the window leaves the top while the guide's viewer runs.
  bool FStayOnTopChosen = false;

  QTimer FMovingTimer;
  QTimer FFW2Timer;
  QTimer FTimer1;
  // A release of I or O waits this long for the press that would make it an auto-repeat pair.
  QTimer FKeyReleaseTimer;
  int FPendingReleaseKey = 0;
  quint64 FPendingReleaseTime = 0;
  // The key (I or O) or the coarse button whose press started the run now going, 0 or null
  // when none: a release may never reach the window once the keyboard has gone elsewhere or a
  // message box blocks the window.
  int FHeldKey = 0;
  QAbstractButton* FHeldButton = nullptr;

  std::unique_ptr<THelpViewer> FHelpProcess;
  // The bus side; goes before the controller it calls.
  std::unique_ptr<TMainFormBus> FBus;
  // Owned; freed in FormClose in the order setup dialog, about box, controller.
  std::unique_ptr<TFocusControl> FocusControl;
  // The console's state over the controller; goes before it, after the bus that asks it.
  // A TMainFormConsole (MainFormBus.h).
  std::unique_ptr<TConsole> FConsole;
  // Focus marks and the compensation dialog; go before the driver they read.
  std::unique_ptr<TFocusMarker> FFocusMarker;
  std::unique_ptr<TCompensationForm> FCompensationForm;
  std::unique_ptr<TSetupForm> SetupForm;
  // The about box; made by CreateAboutBox, shown modally by "About Morvane".
  std::unique_ptr<QDialog> AboutBox;
  std::unique_ptr<QDialog> CreateAboutBox();
  // The voice threads started; they end, at the latest, when the window is destroyed, before
  // the readout they read.
  TVoiceThreads FVoiceThreads;
};

}  // namespace morvane
