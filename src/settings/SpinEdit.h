#pragma once
// A numeric spin edit: its value centred, with a fixed number of decimals (0 for a whole
// number). With typing refused, a printable key or Backspace only beeps, and the value changes
// by the buttons or the Up and Down keys only, one increment at a time. A text that does not
// read as a number counts as the minimum, for stepping as for reading.

#include <QDoubleSpinBox>

namespace morvane {

class TSpinEdit : public QDoubleSpinBox {
  Q_OBJECT
  // A Qt property, so that the form file sets it; hence Qt's names.
  Q_PROPERTY(bool typingRefused READ typingRefused WRITE setTypingRefused)

 public:
  explicit TSpinEdit(QWidget* parent = nullptr);

  // The value the text shows, or the minimum when it shows none.
  double Value() const;

  bool typingRefused() const { return FTypingRefused; }
  void setTypingRefused(bool refused) { FTypingRefused = refused; }

  void stepBy(int steps) override;

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;

 private:
  bool FTypingRefused = false;
};

}  // namespace morvane
