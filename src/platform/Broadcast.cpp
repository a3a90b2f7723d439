#include "platform/Broadcast.h"

#include <dbus/dbus.h>
#include <sys/stat.h>

#include <cstdlib>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace morvane {

namespace {

constexpr uint32_t FirstMessageId = 0xC000;
constexpr uint32_t LastMessageId = 0xFFFF;

std::string Folded(const std::string& name) {
  std::string folded = name;
  for (char& c : folded) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return folded;
}

class TMessageTable {
 public:
  uint32_t Register(const std::string& name) {
    if (name.empty()) return 0;
    const std::lock_guard<std::mutex> guard(FLock);
    const std::string key = Folded(name);
    if (const auto found = FIds.find(key); found != FIds.end()) return found->second;
    if (FNames.size() > LastMessageId - FirstMessageId) return 0;  // table full
    const uint32_t id = FirstMessageId + static_cast<uint32_t>(FNames.size());
    FNames.push_back(name);
    FIds.emplace(key, id);
    return id;
  }

  std::string NameOf(uint32_t id) {
    const std::lock_guard<std::mutex> guard(FLock);
    if (id < FirstMessageId || id - FirstMessageId >= FNames.size()) return {};
    return FNames[id - FirstMessageId];
  }

 private:
  std::mutex FLock;
  std::vector<std::string> FNames;  // as first registered, index = id - FirstMessageId
  std::unordered_map<std::string, uint32_t> FIds;
};

// Never destroyed: worker threads that are never joined may still register or broadcast while
// the process exits.
TMessageTable& MessageTable() {
  static TMessageTable& table = *new TMessageTable;
  return table;
}

bool IsBusMemberName(const std::string& name) {
  if (name.empty() || name.size() > 255) return false;
  if (name[0] >= '0' && name[0] <= '9') return false;
  for (const char c : name) {
    const bool ok =
        (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
    if (!ok) return false;
  }
  return true;
}

// D-Bus strings must be valid UTF-8 without NUL; libdbus would refuse anything else with a
// warning on stderr. Bad bytes become '?', the text ends at a NUL as an atom's text would.
std::string BusText(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const size_t n = text.size();
  size_t i = 0;
  while (i < n && p[i] != 0) {
    const unsigned char c = p[i];
    size_t len = 0;
    uint32_t cp = 0;
    if (c < 0x80) {
      len = 1;
      cp = c;
    } else if ((c & 0xE0) == 0xC0) {
      len = 2;
      cp = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
      len = 3;
      cp = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
      len = 4;
      cp = c & 0x07;
    }
    bool valid = len != 0 && i + len <= n;
    for (size_t k = 1; valid && k < len; ++k) {
      if ((p[i + k] & 0xC0) != 0x80) {
        valid = false;
      } else {
        cp = (cp << 6) | (p[i + k] & 0x3F);
      }
    }
    if (valid) {
      static constexpr uint32_t MinOfLength[5] = {0, 0, 0x80, 0x800, 0x10000};
      valid = cp >= MinOfLength[len] && cp <= 0x10FFFF && (cp < 0xD800 || cp > 0xDFFF);
    }
    if (valid) {
      out.append(text, i, len);
      i += len;
    } else {
      out.push_back('?');
      i += 1;
    }
  }
  return out;
}

// The session bus address, without libdbus's fallback of launching a bus for an X display.
std::string SessionBusAddress() {
  if (const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS"); address && *address) {
    return address;
  }
  if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime) {
    const std::string path = std::string(runtime) + "/bus";
    struct stat st {};
    if (stat(path.c_str(), &st) == 0 && S_ISSOCK(st.st_mode)) return "unix:path=" + path;
  }
  return {};
}

// One private connection for the process, made on the first broadcast and made again after
// the bus has gone away.
class TBusSender {
 public:
  void Send(const std::string& member, const std::string& text, int32_t lParam) {
    const std::string busText = BusText(text);
    const char* textArg = busText.c_str();
    const dbus_int32_t lParamArg = lParam;
    SendWith(member, [&](DBusMessage* message) {
      return dbus_message_append_args(message, DBUS_TYPE_STRING, &textArg, DBUS_TYPE_INT32,
                                      &lParamArg, DBUS_TYPE_INVALID);
    });
  }

  void Send(const std::string& member, int32_t wParam, int32_t lParam) {
    const dbus_int32_t wParamArg = wParam;
    const dbus_int32_t lParamArg = lParam;
    SendWith(member, [&](DBusMessage* message) {
      return dbus_message_append_args(message, DBUS_TYPE_INT32, &wParamArg, DBUS_TYPE_INT32,
                                      &lParamArg, DBUS_TYPE_INVALID);
    });
  }

 private:
  template <typename AppendArgs>
  void SendWith(const std::string& member, AppendArgs appendArgs) {
    const std::lock_guard<std::mutex> guard(FLock);
    if (!Connected()) return;
    DBusMessage* message =
        dbus_message_new_signal(MorvaneObjectPath, BroadcastInterface, member.c_str());
    if (!message) return;
    if (appendArgs(message)) {
      dbus_connection_send(FConnection, message, nullptr);
      dbus_connection_flush(FConnection);
    }
    dbus_message_unref(message);
  }

  bool Connected() {
    if (FConnection && dbus_connection_get_is_connected(FConnection)) return true;
    Drop();
    const std::string address = SessionBusAddress();
    if (address.empty()) return false;
    DBusError error;
    dbus_error_init(&error);
    FConnection = dbus_connection_open_private(address.c_str(), &error);
    if (FConnection) {
      dbus_connection_set_exit_on_disconnect(FConnection, FALSE);
      if (!dbus_bus_register(FConnection, &error)) Drop();
    }
    dbus_error_free(&error);
    return FConnection != nullptr;
  }

  void Drop() {
    if (!FConnection) return;
    dbus_connection_close(FConnection);
    dbus_connection_unref(FConnection);
    FConnection = nullptr;
  }

  std::mutex FLock;
  DBusConnection* FConnection = nullptr;
};

TBusSender& BusSender() {
  static const bool threadsReady = dbus_threads_init_default();
  (void)threadsReady;
  static TBusSender& sender = *new TBusSender;  // never destroyed, as the message table
  return sender;
}

}  // namespace

uint32_t RegisterWindowMessage(const std::string& name) {
  return MessageTable().Register(name);
}

std::string RegisteredMessageName(uint32_t id) {
  return MessageTable().NameOf(id);
}

void BusBroadcast(uint32_t messageId, const std::string& text, int32_t lParam) {
  const std::string member = RegisteredMessageName(messageId);
  if (!IsBusMemberName(member)) return;
  BusSender().Send(member, text, lParam);
}

void BusBroadcast(uint32_t messageId, int32_t wParam, int32_t lParam) {
  const std::string member = RegisteredMessageName(messageId);
  if (!IsBusMemberName(member)) return;
  BusSender().Send(member, wParam, lParam);
}

}  // namespace morvane
