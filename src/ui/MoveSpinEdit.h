#pragma once
// The whole-number entry of Move By and Move To: typing is limited to digits, signs and decimal
// marks (anything else beeps); a number typed outside the range is brought to the nearest bound
// when it is taken. An entry that is no whole number ("+", "-", "2.5", nothing) is refused: the
// field goes back to its last valid value and says why beside itself, so that a slip of the
// finger never moves the focuser.

#include <QSpinBox>

#include <optional>

namespace morvane {

class TMoveSpinEdit : public QSpinBox {
  Q_OBJECT

 public:
  explicit TMoveSpinEdit(QWidget* parent = nullptr);

  // The value as the text reads now, clamped to the range; the field shows it afterwards.
  // Nothing when the text is no whole number: the field then shows its last valid value.
  std::optional<int> Commit();
  // Why the last entry was refused; empty after a valid one.
  QString Refusal() const { return FRefusal; }

 protected:
  QValidator::State validate(QString& input, int& pos) const override;
  void fixup(QString& input) const override;
  int valueFromText(const QString& text) const override;
  void keyPressEvent(QKeyEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;

 private:
  QString FRefusal;
};

}  // namespace morvane
