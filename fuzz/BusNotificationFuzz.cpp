// Fuzz entry for the client's reading of bus signals: any bytes as a message in D-Bus wire
// form, as another program on the session bus may send one. libdbus refuses what is not a
// well-formed message; what it lets through is read as a notification. A message sent on
// and read again gives the same notification, a notification is of one kind only, the
// values a "MORVANE_MESSAGE" or a property change is made of read back as they were put in,
// and a dictionary of other types than a{sv}, which libdbus lets through, gives no property.
#include <dbus/dbus.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "busclient/Notification.h"
#include "platform/BusContract.h"

namespace {

using namespace morvane;

void Check(bool holds) {
  if (!holds) std::abort();
}

bool HasProperty(const TNotification& n) {
  return n.Position || n.Idle || n.PortOpen || n.ComPort || n.TemperatureAvailable || n.Running ||
         n.BacklashMode || n.BacklashCodes || n.TempCompensation || n.TempCoefficient ||
         n.TempDeadBand || n.TempSamples || n.TempReference || n.CompensationHeld ||
         n.LastCompensationMove;
}

DBusMessage* Demarshal(const char* data, int size) {
  DBusError error;
  dbus_error_init(&error);
  DBusMessage* message = dbus_message_demarshal(data, size, &error);
  dbus_error_free(&error);
  return message;
}

// The message as the bus would carry it to the next reader.
std::optional<TNotification> DecodeResent(DBusMessage* message) {
  // A message is sent with a serial; one without is no message on the wire.
  if (dbus_message_get_serial(message) == 0) dbus_message_set_serial(message, 1);
  char* bytes = nullptr;
  int length = 0;
  if (!dbus_message_marshal(message, &bytes, &length)) std::abort();  // out of memory
  DBusMessage* copy = Demarshal(bytes, length);
  dbus_free(bytes);
  Check(copy != nullptr);
  std::optional<TNotification> n = DecodeNotification(copy);
  dbus_message_unref(copy);
  return n;
}

void CheckReceived(const char* data, std::size_t size) {
  if (size < DBUS_MINIMUM_HEADER_SIZE || size > DBUS_MAXIMUM_MESSAGE_LENGTH) return;
  const int needed = dbus_message_demarshal_bytes_needed(data, static_cast<int>(size));
  if (needed <= 0 || static_cast<std::size_t>(needed) > size) return;
  DBusMessage* message = Demarshal(data, needed);
  if (!message) return;
  const std::optional<TNotification> n = DecodeNotification(message);
  if (n) {
    Check(dbus_message_get_type(message) == DBUS_MESSAGE_TYPE_SIGNAL);
    Check(n->ReceivedUs == 0);
    const int kinds = int{n->IsMessage} + int{n->ServiceOwned.has_value()} + int{HasProperty(*n)};
    Check(kinds <= 1);
    if (n->IsMessage)
      Check(dbus_message_is_signal(message, BroadcastInterface, MorvaneMessageName));
  }
  Check(DecodeResent(message) == n);
  dbus_message_unref(message);
}

// A "MORVANE_MESSAGE" and a PropertiesChanged of Position and Idle made of the input's bytes.
void CheckSent(const std::uint8_t* data, std::size_t size) {
  if (size < 9) return;
  dbus_int32_t w = 0, l = 0;
  std::memcpy(&w, data, sizeof w);
  std::memcpy(&l, data + 4, sizeof l);
  const dbus_bool_t idle = data[8] & 1;

  DBusMessage* signal =
      dbus_message_new_signal(MorvaneObjectPath, BroadcastInterface, MorvaneMessageName);
  Check(signal && dbus_message_append_args(signal, DBUS_TYPE_INT32, &w, DBUS_TYPE_INT32, &l,
                                           DBUS_TYPE_INVALID));
  const std::optional<TNotification> message = DecodeResent(signal);
  dbus_message_unref(signal);
  Check(message && message->IsMessage && message->WParam == w && message->LParam == l &&
        !HasProperty(*message));

  signal = dbus_message_new_signal(MorvaneObjectPath, "org.freedesktop.DBus.Properties",
                                   "PropertiesChanged");
  Check(signal != nullptr);
  DBusMessageIter it, dictionary, entry, variant, invalidated;
  dbus_message_iter_init_append(signal, &it);
  const char* iface = Focuser1Interface;
  dbus_message_iter_append_basic(&it, DBUS_TYPE_STRING, &iface);
  dbus_message_iter_open_container(&it, DBUS_TYPE_ARRAY, "{sv}", &dictionary);
  const char* position = "Position";
  dbus_message_iter_open_container(&dictionary, DBUS_TYPE_DICT_ENTRY, nullptr, &entry);
  dbus_message_iter_append_basic(&entry, DBUS_TYPE_STRING, &position);
  dbus_message_iter_open_container(&entry, DBUS_TYPE_VARIANT, "i", &variant);
  dbus_message_iter_append_basic(&variant, DBUS_TYPE_INT32, &l);
  dbus_message_iter_close_container(&entry, &variant);
  dbus_message_iter_close_container(&dictionary, &entry);
  const char* idleName = "Idle";
  dbus_message_iter_open_container(&dictionary, DBUS_TYPE_DICT_ENTRY, nullptr, &entry);
  dbus_message_iter_append_basic(&entry, DBUS_TYPE_STRING, &idleName);
  dbus_message_iter_open_container(&entry, DBUS_TYPE_VARIANT, "b", &variant);
  dbus_message_iter_append_basic(&variant, DBUS_TYPE_BOOLEAN, &idle);
  dbus_message_iter_close_container(&entry, &variant);
  dbus_message_iter_close_container(&dictionary, &entry);
  dbus_message_iter_close_container(&it, &dictionary);
  dbus_message_iter_open_container(&it, DBUS_TYPE_ARRAY, "s", &invalidated);
  dbus_message_iter_close_container(&it, &invalidated);
  const std::optional<TNotification> changed = DecodeResent(signal);
  dbus_message_unref(signal);
  Check(changed && !changed->IsMessage && changed->Position == l &&
        changed->Idle == (idle != FALSE) && !changed->ComPort);
}

void AppendBasic(DBusMessageIter* it, char type) {
  const char* text = type == 'o' ? "/Position" : type == 'g' ? "i" : "Position";
  const dbus_int32_t i = 7;
  const dbus_uint32_t u = 7;
  const unsigned char y = 7;
  const dbus_bool_t b = TRUE;
  const dbus_int64_t x = 7;
  const double d = 7;
  const void* value = &text;
  if (type == 'i') value = &i;
  if (type == 'u') value = &u;
  if (type == 'y') value = &y;
  if (type == 'b') value = &b;
  if (type == 'x') value = &x;
  if (type == 'd') value = &d;
  Check(dbus_message_iter_append_basic(it, type, value));
}

// A PropertiesChanged whose dictionary the sender typed as it liked, a{KV} with the key, the
// value and the variant's content chosen by the input, all holding "Position" or 7. Only an
// int32 in a{sv} is a position.
void CheckAnyDictionary(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return;
  static constexpr char Keys[] = "sogiuybxd";
  static constexpr char Values[] = "visbd";
  const char key = Keys[data[0] % (sizeof Keys - 1)];
  const char value = Values[data[1] % (sizeof Values - 1)];
  const char inner = Values[1 + data[2] % (sizeof Values - 2)];
  const char signature[] = {'{', key, value, '}', '\0'};
  const char variantSignature[] = {inner, '\0'};

  DBusMessage* signal = dbus_message_new_signal(
      MorvaneObjectPath, "org.freedesktop.DBus.Properties", "PropertiesChanged");
  Check(signal != nullptr);
  DBusMessageIter it, dictionary, entry, variant;
  dbus_message_iter_init_append(signal, &it);
  const char* iface = Focuser1Interface;
  dbus_message_iter_append_basic(&it, DBUS_TYPE_STRING, &iface);
  dbus_message_iter_open_container(&it, DBUS_TYPE_ARRAY, signature, &dictionary);
  dbus_message_iter_open_container(&dictionary, DBUS_TYPE_DICT_ENTRY, nullptr, &entry);
  AppendBasic(&entry, key);
  if (value == 'v') {
    dbus_message_iter_open_container(&entry, DBUS_TYPE_VARIANT, variantSignature, &variant);
    AppendBasic(&variant, inner);
    dbus_message_iter_close_container(&entry, &variant);
  } else {
    AppendBasic(&entry, value);
  }
  dbus_message_iter_close_container(&dictionary, &entry);
  dbus_message_iter_close_container(&it, &dictionary);
  const std::optional<TNotification> n = DecodeResent(signal);
  dbus_message_unref(signal);
  const bool position = key == 's' && value == 'v' && inner == 'i';
  Check(n && HasProperty(*n) == position && (!position || n->Position == 7));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  CheckReceived(reinterpret_cast<const char*>(data), size);
  CheckSent(data, size);
  CheckAnyDictionary(data, size);
  return 0;
}
