#include "ui/fCompensationForm.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <vector>

#include "console/TempCompDriver.h"
#include "host/ExceptionBoundary.h"
#include "motion/CoefficientFit.h"
#include "settings/FocusMarks.h"
#include "settings/ValueText.h"

namespace morvane {

namespace {

constexpr int LiveIntervalMs = 1000;

QLineEdit* NumberEdit(const char* name) {
  auto* edit = new QLineEdit;
  edit->setObjectName(QString::fromLatin1(name));
  edit->setMaxLength(16);
  return edit;
}

// A whole number in [low, high]; nullopt for any other text.
std::optional<int> WholeNumber(const QString& text, int low, int high) {
  const std::optional<int> v = ParseIntegerText(text.trimmed().toStdString());
  if (!v || *v < low || *v > high) return std::nullopt;
  return v;
}

// A decimal number with a point or the locale's separator, no exponent.
std::optional<double> DecimalNumber(const QString& text) {
  std::string t = text.trimmed().toStdString();
  if (t.find_first_of("eE") != std::string::npos) return std::nullopt;
  if (t.find('.') == std::string::npos && t.find(',') != std::string::npos) t[t.find(',')] = '.';
  const std::optional<double> v = ParseDecimalText(t, ".");
  if (!v || !std::isfinite(*v)) return std::nullopt;
  return v;
}

QString Codes(int32_t n) {
  return QStringLiteral("%1%2 codes").arg(n > 0 ? QStringLiteral("+") : QString()).arg(n);
}

}  // namespace

TCompensationForm::TCompensationForm(const TTempCompDriver& driver, std::string marksPath,
                                     QWidget* parent)
    : QDialog(parent), FDriver(driver), FMarksPath(std::move(marksPath)) {
  setObjectName(QStringLiteral("CompensationForm"));
  setWindowTitle(QStringLiteral("Compensation"));
  setFont(QFont(QStringLiteral("Tahoma"), 8));  // as the window and the Setup dialog

  // Created in the order the keyboard tabs through them.
  auto* backlash = new QGroupBox(QStringLiteral("Backlash"));
  auto* backlashForm = new QFormLayout(backlash);
  BacklashModeCB = new QComboBox;
  BacklashModeCB->setObjectName(QStringLiteral("BacklashModeCB"));
  BacklashModeCB->addItems({QStringLiteral("Off"), QStringLiteral("Final approach inward"),
                            QStringLiteral("Final approach outward")});
  BacklashCodesEdit = NumberEdit("BacklashCodesEdit");
  backlashForm->addRow(QStringLiteral("&Mode:"), BacklashModeCB);
  backlashForm->addRow(QStringLiteral("&Past the target by (codes):"), BacklashCodesEdit);

  auto* temperature = new QGroupBox(QStringLiteral("Temperature"));
  auto* temperatureForm = new QFormLayout(temperature);
  TempCompCB = new QCheckBox(QStringLiteral("Follow the &temperature"));
  TempCompCB->setObjectName(QStringLiteral("TempCompCB"));
  CoefficientEdit = NumberEdit("CoefficientEdit");
  SamplesEdit = NumberEdit("SamplesEdit");
  DeadBandEdit = NumberEdit("DeadBandEdit");
  ReferenceLabel = new QLabel;
  StateLabel = new QLabel;
  StateLabel->setWordWrap(true);
  LastMoveLabel = new QLabel;
  temperatureForm->addRow(TempCompCB);
  temperatureForm->addRow(QStringLiteral("&Coefficient (codes/°C):"), CoefficientEdit);
  temperatureForm->addRow(QStringLiteral("&Readings averaged:"), SamplesEdit);
  temperatureForm->addRow(QStringLiteral("&Dead band (codes):"), DeadBandEdit);
  temperatureForm->addRow(QStringLiteral("Reference:"), ReferenceLabel);
  temperatureForm->addRow(QStringLiteral("State:"), StateLabel);
  temperatureForm->addRow(QStringLiteral("Last move:"), LastMoveLabel);

  auto* learn = new QGroupBox(QStringLiteral("Learn the coefficient"));
  auto* learnLayout = new QVBoxLayout(learn);
  FitLabel = new QLabel;
  FitLabel->setObjectName(QStringLiteral("FitLabel"));
  FitLabel->setWordWrap(true);
  auto* learnButtons = new QHBoxLayout;
  MarkFocusButton = new QPushButton(QStringLiteral("Mark &Focus Here"));
  MarkFocusButton->setObjectName(QStringLiteral("MarkFocusButton"));
  UseItButton = new QPushButton(QStringLiteral("&Use It"));
  UseItButton->setObjectName(QStringLiteral("UseItButton"));
  ClearLogButton = new QPushButton(QStringLiteral("C&lear Log"));
  ClearLogButton->setObjectName(QStringLiteral("ClearLogButton"));
  for (QPushButton* b : {MarkFocusButton, UseItButton, ClearLogButton}) {
    b->setAutoDefault(false);  // Enter is OK wherever the keyboard is
    learnButtons->addWidget(b);
  }
  learnLayout->addWidget(FitLabel);
  learnLayout->addLayout(learnButtons);

  NoteLabel = new QLabel;
  NoteLabel->setObjectName(QStringLiteral("NoteLabel"));
  NoteLabel->setWordWrap(true);
  // Buttons of its own: the standard ones carry pictures made once, in the colours of the
  // look at the dialog's creation, which stayed green and white at night.
  auto* buttons = new QDialogButtonBox;
  buttons->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole)->setDefault(true);
  buttons->addButton(QStringLiteral("Cancel"), QDialogButtonBox::RejectRole);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(backlash);
  layout->addWidget(temperature);
  layout->addWidget(learn);
  layout->addWidget(NoteLabel);
  layout->addWidget(buttons);
  layout->setSizeConstraint(QLayout::SetFixedSize);
  // The fields of both groups in one column, measured in the dialog's own font.
  int labelWidth = 0;
  for (QFormLayout* form : {backlashForm, temperatureForm})
    for (int row = 0; row < form->rowCount(); ++row)
      if (QLayoutItem* item = form->itemAt(row, QFormLayout::LabelRole))
        labelWidth = std::max(labelWidth, item->widget()->sizeHint().width());
  for (QFormLayout* form : {backlashForm, temperatureForm})
    for (int row = 0; row < form->rowCount(); ++row)
      if (QLayoutItem* item = form->itemAt(row, QFormLayout::LabelRole))
        item->widget()->setMinimumWidth(labelWidth);
  setMinimumWidth(360);

  connect(buttons, &QDialogButtonBox::accepted, this, &TCompensationForm::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &TCompensationForm::reject);
  // Each handler behind the exception boundary, so that a failure is reported and the dialog
  // stays usable.
  const auto onClick = [this](QPushButton* button, void (TCompensationForm::*handler)()) {
    connect(button, &QPushButton::clicked, this,
            [this, handler] { CallHandler([this, handler] { (this->*handler)(); }); });
  };
  onClick(MarkFocusButton, &TCompensationForm::MarkFocusButtonClick);
  onClick(UseItButton, &TCompensationForm::UseItButtonClick);
  onClick(ClearLogButton, &TCompensationForm::ClearLogButtonClick);
  FLiveTimer.setInterval(LiveIntervalMs);
  connect(&FLiveTimer, &QTimer::timeout, this, &TCompensationForm::ShowLiveState);
}

void TCompensationForm::Load() {
  const TCompensationSettings& s = FDriver.Settings();
  FLoaded = s;
  BacklashModeCB->setCurrentIndex(s.BacklashMode);
  BacklashCodesEdit->setText(QString::number(s.BacklashCodes));
  TempCompCB->setChecked(s.TempComp);
  CoefficientEdit->setText(QString::fromStdString(FormatDecimal(s.TempCoefficient, ".")));
  SamplesEdit->setText(QString::number(s.TempSamples));
  DeadBandEdit->setText(QString::number(s.TempDeadBand));
  NoteLabel->clear();
  BacklashModeCB->setFocus();
  ShowLiveState();
  ShowFit();
}

void TCompensationForm::ShowLiveState() {
  const TCompensationSettings& s = FDriver.Settings();
  ReferenceLabel->setText(!s.TempComp ? QStringLiteral("Taken when switched on")
                          : FDriver.ReferencePending()
                              ? QStringLiteral("Taken at the next reading")
                              : QStringLiteral("%1 °C").arg(s.TempReference, 0, 'f', 2));
  QString state;
  if (!s.TempComp)
    state = QStringLiteral("Off");
  else if (FDriver.Held())
    state = QStringLiteral("Held by another program");
  else if (const char* why = TempCompStateText(FDriver.LastAction()); *why)
    state = QString::fromUtf8(why);
  else
    state = QStringLiteral("Compensating");
  StateLabel->setText(state);
  LastMoveLabel->setText(FDriver.LastMove() ? Codes(FDriver.LastMove())
                                            : QStringLiteral("None yet"));
}

void TCompensationForm::ShowFit() {
  const std::vector<TFocusMark> marks = ReadFocusMarks(FMarksPath);
  std::vector<TFocusPoint> points;
  points.reserve(marks.size());
  for (const TFocusMark& m : marks) points.push_back({m.Celsius, m.Position});
  const TCoefficientFit fit = FitCoefficient(points);
  FHasFit = fit.Valid();
  FFitted = std::round(fit.CodesPerDegree * 100) / 100;
  if (!fit.Valid())
    FitLabel->setText(QStringLiteral("%1 (%2 mark%3)")
                          .arg(QString::fromUtf8(FitProblemText(fit.Problem)))
                          .arg(fit.Points)
                          .arg(fit.Points == 1 ? QString() : QStringLiteral("s")));
  else
    FitLabel->setText(QStringLiteral("%1 codes/°C ± %2 from %3 points")
                          .arg(FFitted, 0, 'f', 2)
                          .arg(fit.Spread, 0, 'f', 2)
                          .arg(fit.Points));
  UseItButton->setEnabled(FHasFit);
  ClearLogButton->setEnabled(!marks.empty());
}

bool TCompensationForm::Refuse(QLineEdit* edit, const QString& problem) {
  NoteLabel->setText(problem);
  edit->setFocus();
  edit->selectAll();
  return false;
}

bool TCompensationForm::ReadControls(TCompensationSettings& s) {
  s = FDriver.Settings();
  const std::optional<int> codes = WholeNumber(BacklashCodesEdit->text(), 0, MostCompensationCodes);
  if (!codes)
    return Refuse(BacklashCodesEdit,
                  QStringLiteral("Backlash: '%1' is not a number of codes from 0 to %2")
                      .arg(BacklashCodesEdit->text())
                      .arg(MostCompensationCodes));
  const std::optional<double> coefficient = DecimalNumber(CoefficientEdit->text());
  if (!coefficient || std::abs(*coefficient) > MostCompensationCoefficient)
    return Refuse(CoefficientEdit,
                  QStringLiteral("Coefficient: '%1' is not a number of codes per °C from "
                                 "-%2 to %2")
                      .arg(CoefficientEdit->text())
                      .arg(MostCompensationCoefficient));
  const std::optional<int> samples = WholeNumber(SamplesEdit->text(), 1, MostCompensationSamples);
  if (!samples)
    return Refuse(SamplesEdit, QStringLiteral("Readings averaged: '%1' is not a number from 1 "
                                              "to %2")
                                   .arg(SamplesEdit->text())
                                   .arg(MostCompensationSamples));
  const std::optional<int> band = WholeNumber(DeadBandEdit->text(), 1, MostCompensationCodes);
  if (!band)
    return Refuse(DeadBandEdit,
                  QStringLiteral("Dead band: '%1' is not a number of codes from 1 to %2")
                      .arg(DeadBandEdit->text())
                      .arg(MostCompensationCodes));
  s.BacklashMode = BacklashModeCB->currentIndex();
  s.BacklashCodes = *codes;
  s.TempComp = TempCompCB->isChecked();
  s.TempCoefficient = *coefficient;
  s.TempSamples = *samples;
  s.TempDeadBand = *band;
  return true;
}

void TCompensationForm::accept() {
  TCompensationSettings shown = FLoaded;
  if (!ReadControls(shown)) return;
  // Onto the settings as they are now, only what was changed here: the reference the driver
  // took stays (lost, a reference of 0 degrees would move the focuser at the next reading),
  // and so does a setting another program changed while the dialog stood.
  TCompensationSettings s = FDriver.Settings();
  auto take = [](auto& now, const auto& was, const auto& wanted) {
    if (wanted != was) now = wanted;
  };
  take(s.BacklashMode, FLoaded.BacklashMode, shown.BacklashMode);
  take(s.BacklashCodes, FLoaded.BacklashCodes, shown.BacklashCodes);
  take(s.TempComp, FLoaded.TempComp, shown.TempComp);
  take(s.TempCoefficient, FLoaded.TempCoefficient, shown.TempCoefficient);
  take(s.TempSamples, FLoaded.TempSamples, shown.TempSamples);
  take(s.TempDeadBand, FLoaded.TempDeadBand, shown.TempDeadBand);
  CallHandler([&] {
    if (OnApply) OnApply(s);
  });
  QDialog::accept();
}

void TCompensationForm::MarkFocusButtonClick() {
  if (!OnMark) return;
  const TMarkOutcome m = OnMark();
  if (m.Refusal != TMarkRefusal::mrNone) {
    NoteLabel->setText(QStringLiteral("Not marked: %1").arg(QString::fromStdString(m.Text)));
    return;
  }
  NoteLabel->setText(
      QStringLiteral("Marked: %1 at %2 °C").arg(m.Position).arg(m.Celsius, 0, 'f', 2));
  ShowFit();
}

void TCompensationForm::UseItButtonClick() {
  if (!FHasFit) return;
  CoefficientEdit->setText(QString::number(FFitted, 'f', 2));
  NoteLabel->setText(QStringLiteral("The fitted coefficient is in the field; OK applies it"));
  CoefficientEdit->setFocus();
}

void TCompensationForm::ClearLogButtonClick() {
  if (QMessageBox::question(this, QStringLiteral("Clear Log"),
                            QStringLiteral("Forget every focus mark?")) != QMessageBox::Yes)
    return;
  NoteLabel->setText(
      ClearFocusMarks(FMarksPath)
          ? QStringLiteral("Every focus mark is forgotten")
          : QStringLiteral("Unable to write to %1").arg(QString::fromStdString(FMarksPath)));
  ShowFit();
}

void TCompensationForm::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  FLiveTimer.start();
}

void TCompensationForm::hideEvent(QHideEvent* event) {
  FLiveTimer.stop();
  QDialog::hideEvent(event);
}

}  // namespace morvane
