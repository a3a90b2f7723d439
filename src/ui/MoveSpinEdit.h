#pragma once
// The whole-number entry of Move By and Move To: typing is limited to digits, "+" and "-"
// (anything else beeps); a number typed outside the range is brought to the nearest bound when
// the field gives up the input focus, and an entry that does not read as a whole number counts
// as the minimum.

#include <QSpinBox>

namespace morvane {

class TMoveSpinEdit : public QSpinBox {
  Q_OBJECT

 public:
  explicit TMoveSpinEdit(QWidget* parent = nullptr);

  // The value as the text reads now, clamped to the range; the field shows it afterwards.
  int Commit();

 protected:
  QValidator::State validate(QString& input, int& pos) const override;
  void fixup(QString& input) const override;
  int valueFromText(const QString& text) const override;
  void keyPressEvent(QKeyEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
};

}  // namespace morvane
