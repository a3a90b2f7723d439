#include "host/ExceptionBoundary.h"

#include <QFont>
#include <QMessageBox>

namespace morvane {

std::string ExceptionMessageText(const std::string& message) {
  if (!message.empty() && static_cast<unsigned char>(message.back()) > '.') return message + ".";
  return message;
}

void ShowCurrentException() {
  std::string message;
  try {
    throw;
  } catch (const std::exception& e) {
    message = e.what();
  } catch (...) {
    message = "Unknown error";
  }
  QMessageBox box(QMessageBox::Critical, QStringLiteral("Morvane"),
                  QString::fromStdString(ExceptionMessageText(message)), QMessageBox::Ok,
                  QApplication::activeWindow());
  box.exec();
}

TMorvaneApplication::TMorvaneApplication(int& argc, char** argv) : QApplication(argc, argv) {
  // The windows are laid out for Tahoma; where it is missing, a face of about its width keeps
  // the captions inside their controls.
  QFont::insertSubstitutions(
      QStringLiteral("Tahoma"),
      {QStringLiteral("Liberation Sans"), QStringLiteral("Arimo"), QStringLiteral("Nimbus Sans"),
       QStringLiteral("DejaVu Sans Condensed")});
}

bool TMorvaneApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (...) {
    ShowCurrentException();
    return false;
  }
}

}  // namespace morvane
