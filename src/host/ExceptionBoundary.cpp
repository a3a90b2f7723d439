#include "host/ExceptionBoundary.h"

#include <QFont>
#include <QMessageBox>

#include <atomic>
#include <cstdio>

namespace morvane {

namespace {

std::atomic<bool> Unattended{false};

}  // namespace

void SetUnattendedRun(bool on) {
  Unattended.store(on);
}

bool UnattendedRun() {
  return Unattended.load();
}

void TellOperator(QMessageBox::Icon icon, const QString& caption, const QString& text,
                  QWidget* parent) {
  if (UnattendedRun()) {
    std::fprintf(stderr, "Morvane: %s\n", text.toLocal8Bit().constData());
    return;
  }
  QMessageBox box(icon, caption, text, QMessageBox::Ok, parent);
  box.exec();
}

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
  TellOperator(QMessageBox::Critical, QStringLiteral("Morvane"),
               QString::fromStdString(ExceptionMessageText(message)), QApplication::activeWindow());
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
