#pragma once
// Plays the user in front of modal message boxes: each box that comes up is recorded and
// closed with its first button after a short look.

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>

#include <string>
#include <vector>

namespace morvane::test {

struct TSeenBox {
  std::string Title;
  std::string Text;
  QMessageBox::Icon Icon;
  int Buttons;
};

class TMessageBoxCloser {
 public:
  TMessageBoxCloser() {
    QObject::connect(&FPoll, &QTimer::timeout, [this] { Poll(); });
    FPoll.start(5);
  }

  std::vector<TSeenBox> Seen;

 private:
  void Poll() {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box || !box->isVisible()) return;
    Seen.push_back({box->windowTitle().toStdString(), box->text().toStdString(), box->icon(),
                    static_cast<int>(box->buttons().size())});
    box->buttons().front()->click();
  }

  QTimer FPoll;
};

}  // namespace morvane::test
