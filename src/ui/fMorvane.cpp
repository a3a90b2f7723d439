#include "ui/fMorvane.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QFileInfo>
#include <QMenuBar>
#include <QMessageBox>
#include <QScreen>
#include <QShortcut>
#include <QShowEvent>
#include <QStyle>
#include <QWindow>

#include <cstdio>

#include "console/TempCompDriver.h"
#include "host/ExceptionBoundary.h"
#include "platform/Broadcast.h"
#include "platform/BusContract.h"
#include "platform/ProductTimings.h"
#include "platform/Signals.h"
#include "platform/Timing.h"
#include "settings/CompensationSettings.h"
#include "settings/FocusMarks.h"
#include "settings/LimitSettings.h"
#include "settings/PositionScaleSettings.h"
#include "settings/SettingsFile.h"
#include "settings/SettingsPath.h"
#include "settings/StallSettings.h"
#include "settings/ViewSettings.h"
#include "settings/fSetupForm.h"
#include "ui/FocusMarker.h"
#include "ui/HelpViewer.h"
#include "ui/MainFormBus.h"
#include "ui/ToolTipTime.h"
#include "ui/fAboutBox.h"
#include "ui/fCompensationForm.h"
#include "ui_fMorvane.h"

namespace morvane {

namespace {

constexpr int DesignedClientHeight = 321;
constexpr int CollapsedFormWidth = 272;
constexpr int ToolTipShowMs = 7500;
constexpr QPoint DesignedPlace(346, 240);
// How long a shown window waits for a window manager's frame before it takes it has none.
constexpr int FrameWaitMs = 2000;

}  // namespace

TMainForm::TMainForm(TControllerHost& host, TPortOpener opener, std::string iniPath,
                     QWidget* parent)
    : QMainWindow(parent),
      ui(std::make_unique<Ui::TMainForm>()),
      FHost(host),
      FOpener(std::move(opener)),
      FIniPath(std::move(iniPath)),
      FRunLog(RunLogPath(FIniPath)),
      FHelpProcess(std::make_unique<THelpViewer>()) {
  ui->setupUi(this);
  PrepareWidgets();
  FormCreate();
  MakeConnections();
}

TMainForm::~TMainForm() {
  FreeOwned();
}

void TMainForm::KeepOnScreenLater() {
  // Left and top are set one after the other: the place is judged once both are.
  if (FKeepOnScreenQueued) return;
  FKeepOnScreenQueued = true;
  QTimer::singleShot(0, this, [this] {
    FKeepOnScreenQueued = false;
    KeepOnScreen();
  });
}

QPoint TMainForm::FramePlace() const {
  const QWindow* window = windowHandle();
  return FFrameKnown && window ? window->framePosition() : pos();
}

void TMainForm::MoveFrameTo(QPoint place) {
  QWindow* window = windowHandle();
  if (FFrameKnown && window) {
    // The client's place by the frame's known margins: a request for the frame's place that
    // equals the client's present one can go unheard.
    const QMargins frame = window->frameMargins();
    window->setPosition(place + QPoint(frame.left(), frame.top()));
  } else {
    // Until a window manager has framed the window the frame is not known and the move places
    // the client there: the place is taken again once the frame is known.
    move(place);
    if (window) FPendingFramePlace = place;
  }
  KeepOnScreenLater();
}

void TMainForm::WatchFrame() {
  const QWindow* window = windowHandle();
  const bool framed = window && !window->frameMargins().isNull();
  if (!framed && FFrameWatch.elapsed() < FrameWaitMs) return;  // no window manager: no frame
  FFrameWatchTimer.stop();
  FFrameKnown = true;
  if (FPendingFramePlace && FramePlace() != *FPendingFramePlace) MoveFrameTo(*FPendingFramePlace);
  FPendingFramePlace.reset();
  KeepOnScreen();
}

void TMainForm::KeepOnScreen() {
  // The title bar's top edge on some screen, and enough of it to take the window by.
  const QPoint corner = FramePlace();
  for (const QScreen* screen : QGuiApplication::screens()) {
    const QRect area = screen->availableGeometry();
    const QRect seen = area.intersected(QRect(corner, QSize(width(), 20)));
    if (area.contains(QPoint(seen.left(), corner.y())) && seen.width() >= 40) return;
  }
  MoveFrameTo(DesignedPlace);
}

void TMainForm::PrepareWidgets() {
  // A fixed single border with system menu and minimize, no maximize.
  move(DesignedPlace);  // until the saved one replaces it
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint);

  ui->CTSLabel->SetLineBorder(false);
  ui->CTSLabel->SetAutoSize(false);
  ui->CTSLabel->SetAlignment(TlxmLbl::taCenter);
  QFont readoutFont(QStringLiteral("Arial"));
  readoutFont.setBold(true);
  readoutFont.setPixelSize(48);
  ui->CTSLabel->setFont(readoutFont);
  ui->CTSLabel->SetCaption(QStringLiteral("0000"));

  // No stray key may lose the position: Reset takes no keyboard focus (Space on a focused
  // Reset zeroed the count), and the keyboard starts in the Move By field, where a stray key
  // only edits the number.
  ui->ResetButton->setFocusPolicy(Qt::NoFocus);
  ui->MoveBySE->setFocus();
  // The closed temperature panel lies outside the window: its controls take no focus and no
  // keys until it is opened.
  ui->TempPanel->setEnabled(false);

  for (TlxmLite* lite : {ui->InLite, ui->OutLite}) {
    lite->SetOnColor(clLime);
    lite->SetOffColor(clDarkGreen);
  }
  ui->MovingLite->SetOnColor(0x0003D3EB);   // red 235, green 211, blue 3
  ui->MovingLite->SetOffColor(0x00007777);  // red 119, green 119, blue 0

  ui->Focus_InBtn->setIcon(style()->standardIcon(QStyle::SP_ArrowUp));
  ui->Focus_OutBtn->setIcon(style()->standardIcon(QStyle::SP_ArrowDown));
  ui->Focus_InBtn->setIconSize(QSize(16, 16));
  ui->Focus_OutBtn->setIconSize(QSize(16, 16));

  // The temperature panel's own widgets.
  ui->lxmLite1->SetOnColor(clLime);
  ui->lxmLite1->SetOffColor(clDarkGreen);
  ui->Label1->SetAlignment(TlxmLbl::taCenter);
  ui->Label1->SetAutoSize(false);
  ui->Label1->SetCaption(QString());
  QFont tempFont = ui->Label1->font();
  tempFont.setBold(true);
  ui->Label1->setFont(tempFont);
  ui->lxmLiteFP1->SetOnColor(clLime);
  ui->lxmLiteFP1->SetOffColor(clDarkGreen);
  ui->lxmLiteFP1->SetFlashType(TlxmLiteFP::ftPulse);
  ui->lxmLiteFP1->SetDuration(50);

  FMovingTimer.setObjectName(QStringLiteral("MovingTimer"));
  FMovingTimer.setInterval(1700);
  FFW2Timer.setObjectName(QStringLiteral("FW2Timer"));
  FFW2Timer.setInterval(500);
  FTimer1.setObjectName(QStringLiteral("Timer1"));
  FTimer1.setInterval(200);
  FFrameWatchTimer.setInterval(20);
  FHelpWatchTimer.setInterval(1000);
  FKeyReleaseTimer.setSingleShot(true);
  FKeyReleaseTimer.setInterval(10);

  PrepareStatusLine();

  // F10 opens the menu bar, as on other desktops' windows.
  auto* menuKey = new QShortcut(QKeySequence(Qt::Key_F10), this);
  connect(menuKey, &QShortcut::activated, this,
          [this] { menuBar()->setActiveAction(menuBar()->actions().value(0)); });

  // Keys are previewed for the whole window, and the coarse buttons react to every mouse
  // button: both are seen on their way to the controls (eventFilter, Console.cpp).
  qApp->installEventFilter(this);
}

void TMainForm::FormCreate() {
  FocusControl = std::make_unique<TFocusControl>(FHost, FOpener);
  FConsole = std::make_unique<TMainFormConsole>(*this, *FocusControl, FIniPath);
  connect(FConsole.get(), &TConsole::CountChanged, this, &TMainForm::ShowCountChange);
  connect(FConsole.get(), &TConsole::IdleChanged, this, &TMainForm::ShowIdleButtons);
  connect(FConsole.get(), &TConsole::StatusChanged, this, &TMainForm::UpdateStatusLine);

  // The settings path was formed by the caller (beside the program, or the user's
  // configuration directory when that is not writable).
  const bool stayOnTop = ReadStayOnTopAtStartUp(FIniPath);
  setWindowFlag(Qt::WindowStaysOnTopHint, stayOnTop);
  ui->StayOnTop1->setChecked(stayOnTop);
  FStayOnTopChosen = stayOnTop;
  SetNightVision(ReadNightVision(FIniPath));

  // The status line is added below the designed client area.
  const int menuHeight = menuBar()->sizeHint().height();
  setFixedSize(CollapsedFormWidth, menuHeight + DesignedClientHeight + StatusLineHeight);
  FCollapsedWidth = width();

  SetupForm = std::make_unique<TSetupForm>(*FocusControl, *this, this);
  // What compensation did, or why it waits, on the status line's second row.
  TempComp().OnStatus = [this](const std::string& text) {
    BusStateChanged();  // held, released, or a compensation move
    if (text.empty()) return;
    LogLine(text);
    Log(text);
    SetStatusNote(QString::fromStdString(text));
  };
  // The reference belongs to the focus found at that temperature: kept over a restart. Only
  // its key is written: the rest of the section is the dialog's, or the user's own edit.
  TempComp().OnReferenceTaken = [this](const TCompensationSettings& s) {
    if (!SaveTempReference(FIniPath, s.TempReference)) LogLine("Unable to write to " + FIniPath);
    BusStateChanged();  // TempReference
  };
  FFocusMarker =
      std::make_unique<TFocusMarker>(*FocusControl, TempComp(), FocusMarksPathFor(FIniPath));
  FCompensationForm =
      std::make_unique<TCompensationForm>(TempComp(), FFocusMarker->MarksPath(), this);
  FCompensationForm->OnApply = [this](const TCompensationSettings& s) { ApplyCompensation(s); };
  FCompensationForm->OnMark = [this] { return MarkFocus(); };
  AboutBox = CreateAboutBox();

  FocusControl->OnCTSChange = [this](TFocusControl* sender, int32_t count, bool dsr) {
    FocusControlCountChange(sender, count, dsr);
  };
  FocusControl->OnIdleChange = [this](TFocusControl* sender, bool idle) {
    FocusControlIdleChange(sender, idle);
  };
  // Queued behind the count and ahead of the idle change of the move the guard ended.
  FocusControl->OnStallFault = [this](TFocusControl*, const std::string& text) {
    QPointer<TMainForm> self(this);
    FHost.Post([self, text] {
      if (self) self->ShowStall(QString::fromStdString(text));
    });
  };
  // Edges lost: the count may no longer be the focuser's place, as after a crash.
  FocusControl->OnCountFault = [this](TFocusControl*, const std::string& text) {
    QPointer<TMainForm> self(this);
    FHost.Post([self, text] {
      if (self) self->DistrustPosition(QString::fromStdString(text));
    });
  };
  FocusControl->OnAvailChange = [this](TFocusControl* sender, bool avail) {
    CallHandler([&] { FocusControlAvailChange(sender, avail); });
    BusStateChanged();
  };

  // Other programs' commands on this name are received by the inter-program message handling.
  FMorvaneMessage = RegisterWindowMessage(MorvaneMessageName);
  StartBusInterfaces();
}

void TMainForm::MakeConnections() {
  const auto onClick = [this](QAbstractButton* button, void (TMainForm::*handler)()) {
    connect(button, &QAbstractButton::clicked, this,
            [this, handler] { CallHandler([this, handler] { (this->*handler)(); }); });
  };
  const auto onAction = [this](QAction* action, void (TMainForm::*handler)()) {
    connect(action, &QAction::triggered, this,
            [this, handler] { CallHandler([this, handler] { (this->*handler)(); }); });
  };
  const auto onTimer = [this](QTimer& timer, void (TMainForm::*handler)()) {
    connect(&timer, &QTimer::timeout, this,
            [this, handler] { CallHandler([this, handler] { (this->*handler)(); }); });
  };

  onAction(ui->Setup1, &TMainForm::Setup1Click);
  onAction(ui->MorvaneHelp1, &TMainForm::MorvaneHelp1Click);
  onAction(ui->AboutMorvane1, &TMainForm::AboutMorvane1Click);
  FLogFileAction = new QAction(QStringLiteral("Log File..."), this);
  FLogFileAction->setObjectName(QStringLiteral("LogFile1"));
  ui->Help1->insertAction(ui->AboutMorvane1, FLogFileAction);
  onAction(FLogFileAction, &TMainForm::LogFile1Click);
  onAction(ui->CompensationSettings1, &TMainForm::CompensationSettings1Click);
  onAction(ui->MarkFocus1, &TMainForm::MarkFocus1Click);
  onAction(ui->SetPosition1, &TMainForm::SetPosition1Click);
  onAction(ui->Temp1, &TMainForm::Temp1Click);
  onAction(ui->Exit1, &TMainForm::Exit1Click);
  onAction(ui->StayOnTop1, &TMainForm::StayOnTop1Click);
  onAction(ui->NightVision1, &TMainForm::NightVision1Click);
  onAction(ui->MeasureBacklash1, &TMainForm::MeasureBacklash1Click);
  onAction(ui->FindTravel1, &TMainForm::FindTravel1Click);
  onTimer(FHelpWatchTimer, &TMainForm::WatchHelpViewer);
  onTimer(FStatusTimer, &TMainForm::UpdateStatusLine);
  onTimer(FDeviceWatchTimer, &TMainForm::WatchForDevice);

  onTimer(FMovingTimer, &TMainForm::MovingTimerTimer);
  onTimer(FFW2Timer, &TMainForm::FW2TimerTimer);
  onTimer(FTimer1, &TMainForm::Timer1Timer);
  onTimer(FKeyReleaseTimer, &TMainForm::FlushKeyRelease);
  onTimer(FFrameWatchTimer, &TMainForm::WatchFrame);

  for (QAbstractButton* fine : {ui->In10, ui->In5, ui->In1, ui->Out1, ui->Out5, ui->Out10}) {
    connect(fine, &QAbstractButton::clicked, this,
            [this, fine] { CallHandler([this, fine] { In10Click(fine); }); });
  }
  onClick(ui->CancelButton, &TMainForm::CancelButtonClick);
  onClick(ui->MoveByButton, &TMainForm::MoveByButtonClick);
  onClick(ui->MoveToButton, &TMainForm::MoveToButtonClick);
  onClick(ui->ResetButton, &TMainForm::ResetButtonClick);
  onClick(ui->Button1, &TMainForm::Button1Click);

  onClick(ui->GetTempButton, &TMainForm::GetTempButtonClick);
  onClick(ui->GetCalButton, &TMainForm::GetCalButtonClick);
  onClick(ui->SetCalButton, &TMainForm::SetCalButtonClick);
  onClick(ui->ResetTC, &TMainForm::ResetTCClick);
  onClick(ui->EnableSB, &TMainForm::EnableSBClick);

  // A new action replaces the last error on the status line.
  for (QAction* action : {ui->Setup1, ui->MorvaneHelp1, ui->AboutMorvane1, ui->Temp1})
    connect(action, &QAction::triggered, this, [this] { SetStatusNote(QString()); });
  for (QAbstractButton* button : findChildren<QAbstractButton*>())
    connect(button, &QAbstractButton::pressed, this, [this] { SetStatusNote(QString()); });
  FStatusTimer.start();
  FDeviceWatchTimer.start();

  // The moving light goes out at the timer's first tick after start-up too.
  FMovingTimer.start();
}

void TMainForm::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  if (!FFrameKnown && !FFrameWatchTimer.isActive()) {
    FFrameWatch.start();
    FFrameWatchTimer.start();
  }
  // A window restored from the task bar is shown again by the system; that is no new show.
  if (!event->spontaneous()) CallHandler([this] { FormShow(); });
}

void TMainForm::FormShow() {
  SetupForm->LoadSettings();
  // Opening the port takes half a second (the line settles before the count is reset); the
  // window shows itself first and the rest of the start follows its first paint, or a moment
  // later should no paint come (a window started minimised).
  FFormShowPending = true;
  QTimer::singleShot(500, this, [this] { FinishFormShow(); });
}

void TMainForm::FinishFormShow() {
  if (!FFormShowPending || !SetupForm) return;
  FFormShowPending = false;
  CallHandler([this] {
    SetupForm->UpdatePgmParametersButtonClick();
    TempComp().SetSettings(ReadCompensationSettings(FIniPath));
    FocusControl->SetStallTime(ReadStallTime(FIniPath));
    FocusControl->SetTravelLimits(ReadTravelLimits(FIniPath));
    FPositionScale = ReadPositionScale(FIniPath);
    InstallToolTipTime(ToolTipShowMs);
    ui->MovingLite->SetLit(false);
    RestoreKeptPosition();
  });
  BusStateChanged();  // the port has been opened
  Log(std::string("Started ") + (FHandOver ? "without a window" : "with a window") + ", settings " +
      FIniPath);
  FStarted = true;
  UpdateStatusLine();
}

void TMainForm::ReloadSettings() {
  if (!FStarted || !SetupForm) return;  // the start reads them anyway
  CallHandler([this] {
    SetupForm->LoadSettings();
    SetupForm->UpdatePgmParametersButtonClick();
    TempComp().SetSettings(ReadCompensationSettings(FIniPath));
    FocusControl->SetStallTime(ReadStallTime(FIniPath));
    // Refused while something moves: the limits then stay as they were until the next reload.
    FocusControl->SetTravelLimits(ReadTravelLimits(FIniPath));
    FPositionScale = ReadPositionScale(FIniPath);
  });
  BusStateChanged();  // the port may have changed
}

void TMainForm::closeEvent(QCloseEvent* event) {
  CallHandler([this] { FormClose(); });
  event->accept();
}

void TMainForm::FormClose() {
  if (FClosed) return;
  FClosed = true;
  FFormShowPending = false;
  FHelpProcess->Terminate();
  FMovingTimer.stop();
  FFW2Timer.stop();
  FTimer1.stop();
  FKeyReleaseTimer.stop();
  FFrameWatchTimer.stop();
  FHelpWatchTimer.stop();
  FStatusTimer.stop();
  FDeviceWatchTimer.stop();
  FPendingReleaseKey = 0;
  // The motor stops before anything is saved: a coarse run held by a key, a button or another
  // program gets its stop commands, a move by or to a count is cancelled.
  FHeldKey = 0;
  FHeldButton = nullptr;
  FocusControl->StopCoarseRun();
  FocusControl->CancelMovement();
  Sleep(ProductTimings().CloseStopSettleMs);
  KeepPosition(true);
  try {
    SaveWindowPosition(FIniPath, *this);
  } catch (const ESettingsWriteError&) {
    // Reported, and the close goes on: a settings file that cannot be written must not keep
    // the program from ending.
    ShowCurrentException();
  }
  if (FLogTarget)
    Log("Move to " + std::to_string(*FLogTarget) + " stopped at " +
        std::to_string(FocusControl->CTSCount()) + " by the close");
  Log("Closed: motor stopped, position " + std::to_string(FocusControl->CTSCount()) + " kept");
  FreeOwned();
}

void TMainForm::FreeOwned() {
  StopBusInterfaces();
  FCompensationForm.reset();
  FFocusMarker.reset();
  SetupForm.reset();
  AboutBox.reset();
  // The console after the controller: the counting thread raises counts into it until the
  // controller has joined it.
  FocusControl.reset();
  FConsole.reset();
}

void TMainForm::Setup1Click() {
  SetupForm->exec();
  BusStateChanged();  // the port may have changed
  UpdateStatusLine();
}

void TMainForm::MorvaneHelp1Click() {
  if (!MotionIdle()) return;
  // Beside the program, else in the installed data folder.
  const QString dir =
      QFileInfo(QString::fromStdString(ProgramDataFile(HelpFileName))).absolutePath();
  if (!FHelpProcess->Open(dir, QString::fromUtf8(HelpFileName))) {
    ShowMessage("Could not load Help File\n\n" + FHelpProcess->FailReason().toStdString());
    return;
  }
  // A window that stays on top would hide the guide: it keeps below the viewer while that runs.
  SetStayOnTop(false);
  FHelpWatchTimer.start();
}

void TMainForm::AboutMorvane1Click() {
  if (!MotionIdle()) return;
  if (AboutBox) AboutBox->exec();
}

void TMainForm::Exit1Click() {
  close();
}

void TMainForm::MovingTimerTimer() {
  FMovingTimer.stop();
  ui->MovingLite->SetLit(false);
}

void TMainForm::FW2TimerTimer() {
  FFW2Timer.stop();
  Broadcast(mmPosition, FConsole->ShownPosition());
}

void TMainForm::Broadcast(int32_t WParam, int32_t LParam) {
  BusBroadcast(FMorvaneMessage, WParam, LParam);
}

int TMainForm::VoiceSelection() const {
  return SetupForm ? SetupForm->VoiceIndex() : 2;
}

void TMainForm::ShowInformationMessage(const std::string& text) {
  // Shown without waiting for OK: the start goes on behind it (the port opens, the bus and
  // INDI are served), since an unattended observatory may never answer it.
  if (UnattendedRun()) {
    std::fprintf(stderr, "Morvane: %s\n", text.c_str());
    return;
  }
  auto* box = new QMessageBox(QMessageBox::Information, QStringLiteral("Information"),
                              QString::fromStdString(text), QMessageBox::Ok, this);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->open();
}

void TMainForm::ShowMessage(const std::string& text) {
  // Kept on the status line until the next action, after its box has been closed.
  SetStatusNote(QString::fromStdString(text).section(QLatin1Char('\n'), 0, 0));
  FHost.ShowMessage(text);
}

void TMainForm::SetSpeedRGEnabled(bool enabled) {
  ui->SpeedRG->setEnabled(enabled);
}

void TMainForm::SetWidth(int width) {
  setFixedWidth(width);
}

std::unique_ptr<QDialog> TMainForm::CreateAboutBox() {
  return std::make_unique<TAboutBox>(this);
}

}  // namespace morvane
