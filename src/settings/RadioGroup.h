#pragma once
// A radio group: a captioned box of radio buttons whose selection is one index, or -1 when no
// button is checked.

#include <QGroupBox>
#include <QList>

class QRadioButton;

namespace morvane {

class TRadioGroup : public QGroupBox {
  Q_OBJECT

 public:
  explicit TRadioGroup(QWidget* parent = nullptr);

  // The buttons in the order they were made, which is the items' order.
  QList<QRadioButton*> Buttons() const;
  int ItemIndex() const;
  // Clamps to -1..last item; -1 unchecks every button.
  void SetItemIndex(int index);

 protected:
  // Tab lands on the chosen item (the first when none is), and the arrow keys move within the
  // group: only that one button is a tab stop.
  void childEvent(QChildEvent* event) override;

 private:
  void UpdateTabStops();
};

}  // namespace morvane
