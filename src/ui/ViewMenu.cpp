// The View menu: stay on top and night vision, each remembered in the settings file.

#include <QAbstractButton>
#include <QApplication>
#include <QStyle>
#include <QStyleFactory>
#include <QToolTip>

#include <initializer_list>

#include "settings/ViewSettings.h"
#include "ui/HelpViewer.h"
#include "ui/NightTheme.h"
#include "ui/fMorvane.h"
#include "ui_fMorvane.h"

namespace morvane {

namespace {

// Night lights: "on" a dim red, "off" near black; the glint no brighter than the "on".
constexpr TColor NightOnColor = 0x000000C0;   // red 192
constexpr TColor NightOffColor = 0x00000018;  // red 24
constexpr TColor NightGlintColor = 0x00000070;
constexpr TColor MovingOnColor = 0x0003D3EB;   // red 235, green 211, blue 3
constexpr TColor MovingOffColor = 0x00007777;  // red 119, green 119, blue 0

// The application's look, program-wide: its style and palette reach the dialogs and message
// boxes too. The day look is kept to go back to.
struct TAppLook {
  bool Night = false;
  QString DayStyle;
  QPalette DayPalette;
};

void ApplyNightLook(bool on) {
  static TAppLook look;
  if (on == look.Night) return;
  look.Night = on;
  if (on) {
    look.DayStyle = QApplication::style()->name();
    look.DayPalette = QApplication::palette();
  }
  QStyle* day = QStyleFactory::create(look.DayStyle);
  // A platform's own style may not be made by name; Fusion draws by the palette.
  if (!day) day = QStyleFactory::create(QStringLiteral("Fusion"));
  if (on) {
    QApplication::setStyle(new TNightStyle(day));
    QApplication::setPalette(NightPalette());
    QToolTip::setPalette(NightPalette());
  } else {
    QApplication::setStyle(day);
    QApplication::setPalette(look.DayPalette);
    QToolTip::setPalette(look.DayPalette);
  }
}

}  // namespace

void TMainForm::StayOnTop1Click() {
  const bool on = ui->StayOnTop1->isChecked();
  FStayOnTopChosen = on;
  // While the guide's viewer runs the window keeps below it; the choice counts once it ends.
  if (!FHelpWatchTimer.isActive()) SetStayOnTop(on);
  WriteStayOnTop(FIniPath, on);
}

void TMainForm::SetStayOnTop(bool on) {
  if (on == windowFlags().testFlag(Qt::WindowStaysOnTopHint)) return;
  const bool shown = isVisible();
  setWindowFlag(Qt::WindowStaysOnTopHint, on);
  // A changed window flag may hide the window.
  if (shown && !isVisible()) show();
}

void TMainForm::WatchHelpViewer() {
  if (FHelpProcess->Running()) return;
  FHelpWatchTimer.stop();
  SetStayOnTop(FStayOnTopChosen);
}

void TMainForm::NightVision1Click() {
  const bool on = ui->NightVision1->isChecked();
  SetNightVision(on);
  WriteNightVision(FIniPath, on);
}

void TMainForm::SetNightVision(bool on) {
  ui->NightVision1->setChecked(on);
  FNightVision = on;
  ApplyNightLook(on);
  for (TlxmLite* lite : std::initializer_list<TlxmLite*>{ui->InLite, ui->OutLite, ui->MovingLite,
                                                         ui->lxmLite1, ui->lxmLiteFP1}) {
    const bool moving = lite == ui->MovingLite;
    lite->SetOnColor(on ? NightOnColor : moving ? MovingOnColor : clLime);
    lite->SetOffColor(on ? NightOffColor : moving ? MovingOffColor : clDarkGreen);
    lite->SetGlintColor(on ? NightGlintColor : clWhite);
  }
  ui->Focus_InBtn->setIcon(style()->standardIcon(QStyle::SP_ArrowUp));
  ui->Focus_OutBtn->setIcon(style()->standardIcon(QStyle::SP_ArrowDown));
}

}  // namespace morvane
