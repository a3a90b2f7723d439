#include "settings/SpinEdit.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QWheelEvent>

namespace morvane {

TSpinEdit::TSpinEdit(QWidget* parent) : QDoubleSpinBox(parent) {
  setAlignment(Qt::AlignCenter);
}

double TSpinEdit::Value() const {
  bool ok = false;
  const double value = locale().toDouble(cleanText().trimmed(), &ok);
  return ok ? value : minimum();
}

void TSpinEdit::stepBy(int steps) {
  // From the value shown rather than the last valid one, so that a text that reads as no
  // number steps from the minimum.
  setValue(Value() + steps * singleStep());
  selectAll();
}

void TSpinEdit::keyPressEvent(QKeyEvent* event) {
  if (FTypingRefused) {
    // One increment at a time: no page steps.
    if (event->key() == Qt::Key_PageUp || event->key() == Qt::Key_PageDown) {
      event->accept();
      return;
    }
    const QString text = event->text();
    const bool command =
        event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
    const bool printable = !command && !text.isEmpty() && text.at(0).isPrint();
    if (printable || event->key() == Qt::Key_Backspace) {
      QApplication::beep();
      event->accept();
      return;
    }
  }
  QDoubleSpinBox::keyPressEvent(event);
}

void TSpinEdit::wheelEvent(QWheelEvent* event) {
  // The wheel scrolls past a refused edit instead of changing it.
  if (FTypingRefused) {
    event->ignore();
    return;
  }
  QDoubleSpinBox::wheelEvent(event);
}

}  // namespace morvane
