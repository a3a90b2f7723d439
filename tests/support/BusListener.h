#pragma once
// A second connection to the session bus that listens for the program's broadcasts.

#include <dbus/dbus.h>

#include <unistd.h>

#include <map>
#include <optional>
#include <string>

#include "platform/Broadcast.h"
#include "platform/Timing.h"

namespace morvane::test {

struct TReceived {
  std::string Member;
  std::string Path;
  std::string Interface;
  std::string Text;
  int32_t LParam = 0;
};

// A second connection to the session bus that listens for the broadcasts. One for the whole
// run and never closed: libdbus takes its bus and connection locks in opposite orders when
// connecting and closing, which the thread sanitizer reports.
class TBusListener {
 public:
  static TBusListener& Instance() {
    static TBusListener& listener = *new TBusListener;
    return listener;
  }

  bool Ok() const { return FConnection != nullptr; }

  // The next broadcast whose text starts with tag, skipping others (late ones of earlier
  // cases, and those of other test programs on the same bus).
  std::optional<TReceived> Next(const std::string& tag, int timeoutMs = 5000) {
    const int64_t end = MonotonicMicros() + int64_t{timeoutMs} * 1000;
    while (MonotonicMicros() < end) {
      dbus_connection_read_write(FConnection, 50);
      while (DBusMessage* message = dbus_connection_pop_message(FConnection)) {
        std::optional<TReceived> got = Decode(message);
        const char* sender = dbus_message_get_sender(message);
        const bool ours = sender && SenderPid(sender) == getpid();
        dbus_message_unref(message);
        if (got && ours && got->Text.compare(0, tag.size(), tag) == 0) return got;
      }
    }
    return std::nullopt;
  }

 private:
  // The process behind a bus connection, asked of the bus once per sender.
  pid_t SenderPid(const std::string& sender) {
    auto known = FPids.find(sender);
    if (known != FPids.end()) return known->second;
    pid_t pid = -1;
    DBusMessage* call =
        dbus_message_new_method_call("org.freedesktop.DBus", "/org/freedesktop/DBus",
                                     "org.freedesktop.DBus", "GetConnectionUnixProcessID");
    const char* name = sender.c_str();
    dbus_message_append_args(call, DBUS_TYPE_STRING, &name, DBUS_TYPE_INVALID);
    DBusError error;
    dbus_error_init(&error);
    if (DBusMessage* reply =
            dbus_connection_send_with_reply_and_block(FConnection, call, 2000, &error)) {
      dbus_uint32_t value = 0;
      if (dbus_message_get_args(reply, &error, DBUS_TYPE_UINT32, &value, DBUS_TYPE_INVALID))
        pid = static_cast<pid_t>(value);
      dbus_message_unref(reply);
    }
    dbus_error_free(&error);
    dbus_message_unref(call);
    FPids[sender] = pid;
    return pid;
  }

  TBusListener() {
    DBusError error;
    dbus_error_init(&error);
    FConnection = dbus_bus_get_private(DBUS_BUS_SESSION, &error);
    if (FConnection) {
      dbus_connection_set_exit_on_disconnect(FConnection, FALSE);
      const std::string rule = std::string("type='signal',interface='") + BroadcastInterface + "'";
      dbus_bus_add_match(FConnection, rule.c_str(), &error);  // waits for the bus's reply
    }
    dbus_error_free(&error);
  }

  static std::optional<TReceived> Decode(DBusMessage* message) {
    if (dbus_message_get_type(message) != DBUS_MESSAGE_TYPE_SIGNAL ||
        !dbus_message_has_interface(message, BroadcastInterface)) {
      return std::nullopt;
    }
    TReceived r;
    r.Member = dbus_message_get_member(message);
    r.Path = dbus_message_get_path(message);
    r.Interface = dbus_message_get_interface(message);
    const char* text = nullptr;
    dbus_int32_t lParam = 0;
    DBusError error;
    dbus_error_init(&error);
    if (dbus_message_get_args(message, &error, DBUS_TYPE_STRING, &text, DBUS_TYPE_INT32, &lParam,
                              DBUS_TYPE_INVALID)) {
      r.Text = text;
      r.LParam = lParam;
    } else {
      r.Text = "<bad arguments>";
    }
    dbus_error_free(&error);
    return r;
  }

  DBusConnection* FConnection = nullptr;
  std::map<std::string, pid_t> FPids;
};

}  // namespace morvane::test
