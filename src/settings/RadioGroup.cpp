#include "settings/RadioGroup.h"

#include <QChildEvent>
#include <QRadioButton>

#include <algorithm>

namespace morvane {

TRadioGroup::TRadioGroup(QWidget* parent) : QGroupBox(parent) {}

void TRadioGroup::childEvent(QChildEvent* event) {
  QGroupBox::childEvent(event);
  if (event->type() != QEvent::ChildPolished) return;
  if (auto* button = qobject_cast<QRadioButton*>(event->child())) {
    connect(button, &QRadioButton::toggled, this, &TRadioGroup::UpdateTabStops,
            Qt::UniqueConnection);
    UpdateTabStops();
  }
}

void TRadioGroup::UpdateTabStops() {
  const QList<QRadioButton*> buttons = Buttons();
  const int chosen = std::max(0, ItemIndex());
  for (int i = 0; i < buttons.size(); ++i)
    buttons[i]->setFocusPolicy(i == chosen ? Qt::StrongFocus : Qt::ClickFocus);
}

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
