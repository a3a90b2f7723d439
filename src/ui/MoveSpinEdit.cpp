#include "ui/MoveSpinEdit.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QToolTip>

#include <algorithm>

namespace morvane {

namespace {

// Decimal marks are let in so that "2.5" shows as typed and is refused, rather than losing its
// point and reading as 25.
bool IsNumberCharacter(QChar c) {
  return c.isDigit() || c == QLatin1Char('+') || c == QLatin1Char('-') || c == QLatin1Char('.') ||
         c == QLatin1Char(',');
}

// The text as a whole number, clamped to lo..hi; nothing when it reads as none.
std::optional<int> ClampedNumber(const QString& text, int lo, int hi) {
  bool ok = false;
  const qlonglong n = text.trimmed().toLongLong(&ok);
  if (!ok) return std::nullopt;
  return static_cast<int>(std::clamp<qlonglong>(n, lo, hi));
}

}  // namespace

TMoveSpinEdit::TMoveSpinEdit(QWidget* parent) : QSpinBox(parent) {
  setCorrectionMode(QAbstractSpinBox::CorrectToNearestValue);
  setKeyboardTracking(false);
}

std::optional<int> TMoveSpinEdit::Commit() {
  const QString typed = lineEdit()->text();
  const std::optional<int> value = ClampedNumber(typed, minimum(), maximum());
  if (!value) {
    FRefusal = QStringLiteral("\"%1\" is not a whole number of codes: nothing moved").arg(typed);
    lineEdit()->setText(textFromValue(this->value()));
    QApplication::beep();
    QToolTip::showText(mapToGlobal(QPoint(0, height())), FRefusal, this);
    return std::nullopt;
  }
  FRefusal.clear();
  setValue(*value);
  lineEdit()->setText(textFromValue(*value));
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
  input = textFromValue(ClampedNumber(input, minimum(), maximum()).value_or(value()));
}

int TMoveSpinEdit::valueFromText(const QString& text) const {
  return ClampedNumber(text, minimum(), maximum()).value_or(value());
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
