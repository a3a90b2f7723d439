#include "ui/MoveSpinEdit.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>

#include <algorithm>

namespace morvane {

namespace {

bool IsNumberCharacter(QChar c) {
  return c.isDigit() || c == QLatin1Char('+') || c == QLatin1Char('-');
}

// The text as a whole number, clamped to lo..hi; lo when it reads as none.
int ClampedNumber(const QString& text, int lo, int hi) {
  bool ok = false;
  const qlonglong n = text.trimmed().toLongLong(&ok);
  if (!ok) return lo;
  return static_cast<int>(std::clamp<qlonglong>(n, lo, hi));
}

}  // namespace

TMoveSpinEdit::TMoveSpinEdit(QWidget* parent) : QSpinBox(parent) {
  setCorrectionMode(QAbstractSpinBox::CorrectToNearestValue);
  setKeyboardTracking(false);
}

int TMoveSpinEdit::Commit() {
  const int value = ClampedNumber(lineEdit()->text(), minimum(), maximum());
  setValue(value);
  lineEdit()->setText(textFromValue(value));
  return value;
}

QValidator::State TMoveSpinEdit::validate(QString& input, int& /*pos*/) const {
  if (!std::all_of(input.cbegin(), input.cend(), IsNumberCharacter)) return QValidator::Invalid;
  bool ok = false;
  const qlonglong n = input.toLongLong(&ok);
  // Out of range or not yet a number: kept as typed until the field is left.
  if (!ok || n < minimum() || n > maximum()) return QValidator::Intermediate;
  return QValidator::Acceptable;
}

void TMoveSpinEdit::fixup(QString& input) const {
  input = textFromValue(ClampedNumber(input, minimum(), maximum()));
}

int TMoveSpinEdit::valueFromText(const QString& text) const {
  return ClampedNumber(text, minimum(), maximum());
}

void TMoveSpinEdit::keyPressEvent(QKeyEvent* event) {
  const QString text = event->text();
  const bool printable = !text.isEmpty() && text.at(0).isPrint();
  if (printable && !std::all_of(text.cbegin(), text.cend(), IsNumberCharacter)) {
    QApplication::beep();
    return;
  }
  QSpinBox::keyPressEvent(event);
}

void TMoveSpinEdit::focusOutEvent(QFocusEvent* event) {
  Commit();
  QSpinBox::focusOutEvent(event);
}

}  // namespace morvane
