#pragma once
// The one place where an exception escaping a handler stops: it is shown in a message box as
// the application's default handler shows it, and the program runs on.

#include <QApplication>
#include <QMessageBox>

#include <exception>
#include <string>

namespace morvane {

// The text the default handler shows for an error message: a full stop is added when the
// message ends in a character above '.', so "Set Cal value failed!" stays as it is.
std::string ExceptionMessageText(const std::string& message);

// A run with nobody at the screen (--unattended, --headless): no box waits for a click, and
// each message goes to standard error (the journal under systemd) instead. Off by default.
void SetUnattendedRun(bool on);
bool UnattendedRun();

// Tells the operator: a modal box with one OK button, or in an unattended run a line
// "Morvane: <text>" on standard error, returning at once.
void TellOperator(QMessageBox::Icon icon, const QString& caption, const QString& text,
                  QWidget* parent);

// Shows the exception that is being handled (call it from a catch block): a box captioned
// "Morvane" with the error icon and one OK button.
void ShowCurrentException();

// Runs a handler, stopping any exception at this boundary.
template <typename F>
void CallHandler(F&& handler) noexcept {
  try {
    handler();
  } catch (...) {
    ShowCurrentException();
  }
}

// The application object; behind the handlers' own boundaries it stops an exception that
// would otherwise leave an event handler and cross Qt's event loop. It also names the faces
// that stand in for the windows' Tahoma where that is not installed.
class TMorvaneApplication : public QApplication {
 public:
  TMorvaneApplication(int& argc, char** argv);
  bool notify(QObject* receiver, QEvent* event) override;
};

}  // namespace morvane
