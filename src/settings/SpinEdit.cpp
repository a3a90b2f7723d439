#include "settings/SpinEdit.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>

namespace morvane {

TSpinEdit::TSpinEdit(QWidget* parent) : QDoubleSpinBox(parent) {
  setAlignment(Qt::AlignCenter);
  setKeyboardTracking(false);
}

double TSpinEdit::Value() const {
  QString text = lineEdit()->text();
  int pos = 0;
  if (validate(text, pos) != QValidator::Acceptable) return minimum();
  return valueFromText(text);
}

void TSpinEdit::stepBy(int steps) {
  // From the value shown rather than the last valid one, so that a text that reads as no
  // number steps from the minimum.
  setValue(Value() + steps * singleStep());
  selectAll();
}

void TSpinEdit::keyPressEvent(QKeyEvent* event) {
  if (FTypingRefused && !(event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))) {
    const QString text = event->text();
    const bool printable = !text.isEmpty() && text.at(0).isPrint();
    if (printable || event->key() == Qt::Key_Backspace) {
      QApplication::beep();
      event->accept();
      return;
    }
  }
  QDoubleSpinBox::keyPressEvent(event);
}

}  // namespace morvane
