#include "settings/RadioGroup.h"

#include <QRadioButton>

#include <algorithm>

namespace morvane {

TRadioGroup::TRadioGroup(QWidget* parent) : QGroupBox(parent) {}

QList<QRadioButton*> TRadioGroup::Buttons() const {
  return findChildren<QRadioButton*>(Qt::FindDirectChildrenOnly);
}

int TRadioGroup::ItemIndex() const {
  const QList<QRadioButton*> buttons = Buttons();
  for (int i = 0; i < buttons.size(); ++i)
    if (buttons[i]->isChecked()) return i;
  return -1;
}

void TRadioGroup::SetItemIndex(int index) {
  const QList<QRadioButton*> buttons = Buttons();
  index = std::clamp(index, -1, static_cast<int>(buttons.size()) - 1);
  if (index >= 0) {
    buttons[index]->setChecked(true);
    return;
  }
  // An exclusive button will not uncheck itself; lift the exclusion for the moment.
  for (QRadioButton* button : buttons) {
    button->setAutoExclusive(false);
    button->setChecked(false);
    button->setAutoExclusive(true);
  }
}

}  // namespace morvane
