#pragma once
// What a test sees of the main window from outside: the message boxes it shows (read and
// closed as an operator would, with OK) and the "MORVANE_MESSAGE" signals this process sends
// on the session bus.

#include <dbus/dbus.h>

#include <QApplication>
#include <QDeadlineTimer>
#include <QMessageBox>
#include <QTest>
#include <QTimer>

#include <unistd.h>

#include <string>
#include <vector>

#include "platform/Broadcast.h"

namespace morvane::test {

struct TBoxSeen {
  std::string Caption;
  std::string Text;
  QMessageBox::Icon Icon;
};

// Closes every message box shortly after it appears and remembers it.
class TBoxCloser {
 public:
  TBoxCloser() {
    FTimer.setInterval(20);
    QObject::connect(&FTimer, &QTimer::timeout, [this] {
      for (QWidget* w : QApplication::topLevelWidgets()) {
        auto* box = qobject_cast<QMessageBox*>(w);
        if (!box || !box->isVisible()) continue;
        Seen.push_back({box->windowTitle().toStdString(), box->text().toStdString(), box->icon()});
        box->done(QMessageBox::Ok);
      }
    });
    FTimer.start();
  }
  std::vector<std::string> Texts() const {
    std::vector<std::string> out;
    for (const auto& b : Seen) out.push_back(b.Text);
    return out;
  }
  std::vector<TBoxSeen> Seen;

 private:
  QTimer FTimer;
};

struct TMessage {
  int32_t W;
  int32_t L;
  bool operator==(const TMessage&) const = default;
};

// Listens for "MORVANE_MESSAGE" with (int32, int32) sent by this process. One connection for
// the whole run, never closed (libdbus's close and connect take their locks in opposite order).
class TMessageListener {
 public:
  static TMessageListener& Instance() {
    static TMessageListener& listener = *new TMessageListener;
    return listener;
  }
  bool Ok() const { return FConnection != nullptr; }

  // Reads what has arrived within waitMs and returns all messages so far, oldest first.
  std::vector<TMessage> Drain(int waitMs = 0) {
    const auto end = QDeadlineTimer(waitMs);
    do {
      dbus_connection_read_write(FConnection, 10);
      while (DBusMessage* m = dbus_connection_pop_message(FConnection)) {
        dbus_int32_t w = 0, l = 0;
        const char* sender = dbus_message_get_sender(m);
        if (dbus_message_is_signal(m, BroadcastInterface, MorvaneMessageName) && sender &&
            FOwnName == sender &&
            dbus_message_get_args(m, nullptr, DBUS_TYPE_INT32, &w, DBUS_TYPE_INT32, &l,
                                  DBUS_TYPE_INVALID)) {
          FGot.push_back({w, l});
        }
        dbus_message_unref(m);
      }
      QCoreApplication::processEvents();
    } while (!end.hasExpired());
    return FGot;
  }
  void Clear() {
    Drain(0);
    FGot.clear();
  }
  // Waits until the messages seen include m, or timeoutMs passes.
  bool WaitFor(TMessage m, int timeoutMs) {
    const QDeadlineTimer end(timeoutMs);
    while (true) {
      for (const auto& g : Drain(0))
        if (g == m) return true;
      if (end.hasExpired()) return false;
      QTest::qWait(5);
    }
  }
  // The bus name of this process's broadcast connection, learned from a first broadcast.
  void LearnOwnName(uint32_t id) {
    if (!FOwnName.empty()) return;
    BusBroadcast(id, -99, -99);
    const QDeadlineTimer end(3000);
    while (FOwnName.empty() && !end.hasExpired()) {
      dbus_connection_read_write(FConnection, 10);
      while (DBusMessage* m = dbus_connection_pop_message(FConnection)) {
        dbus_int32_t w = 0, l = 0;
        if (dbus_message_is_signal(m, BroadcastInterface, MorvaneMessageName) &&
            dbus_message_get_args(m, nullptr, DBUS_TYPE_INT32, &w, DBUS_TYPE_INT32, &l,
                                  DBUS_TYPE_INVALID) &&
            w == -99 && l == -99 && PidOf(dbus_message_get_sender(m)) == getpid())
          FOwnName = dbus_message_get_sender(m);
        dbus_message_unref(m);
      }
    }
  }

 private:
  TMessageListener() {
    FConnection = dbus_bus_get_private(DBUS_BUS_SESSION, nullptr);
    if (!FConnection) return;
    dbus_connection_set_exit_on_disconnect(FConnection, FALSE);
    const std::string rule = std::string("type='signal',interface='") + BroadcastInterface + "'";
    dbus_bus_add_match(FConnection, rule.c_str(), nullptr);
  }
  pid_t PidOf(const char* sender) {
    if (!sender) return -1;
    DBusMessage* call =
        dbus_message_new_method_call("org.freedesktop.DBus", "/org/freedesktop/DBus",
                                     "org.freedesktop.DBus", "GetConnectionUnixProcessID");
    dbus_message_append_args(call, DBUS_TYPE_STRING, &sender, DBUS_TYPE_INVALID);
    pid_t pid = -1;
    if (DBusMessage* reply =
            dbus_connection_send_with_reply_and_block(FConnection, call, 2000, nullptr)) {
      dbus_uint32_t value = 0;
      if (dbus_message_get_args(reply, nullptr, DBUS_TYPE_UINT32, &value, DBUS_TYPE_INVALID))
        pid = static_cast<pid_t>(value);
      dbus_message_unref(reply);
    }
    dbus_message_unref(call);
    return pid;
  }

  DBusConnection* FConnection = nullptr;
  std::string FOwnName;
  std::vector<TMessage> FGot;
};

}  // namespace morvane::test
