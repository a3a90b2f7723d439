#pragma once
// A second connection to the session bus that listens for the program's broadcasts.

#include <dbus/dbus.h>

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
  // cases).
  std::optional<TReceived> Next(const std::string& tag, int timeoutMs = 5000) {
    const int64_t end = MonotonicMicros() + int64_t{timeoutMs} * 1000;
    while (MonotonicMicros() < end) {
      dbus_connection_read_write(FConnection, 50);
      while (DBusMessage* message = dbus_connection_pop_message(FConnection)) {
        std::optional<TReceived> got = Decode(message);
        dbus_message_unref(message);
        if (got && got->Text.compare(0, tag.size(), tag) == 0) return got;
      }
    }
    return std::nullopt;
  }

 private:
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
};

}  // namespace morvane::test
