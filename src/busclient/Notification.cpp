#include "busclient/Notification.h"

#include <cstring>

#include "platform/BusContract.h"

namespace morvane {

namespace {

void Store(TNotification& n, const char* name, const TPropertyValue& v) {
  const auto is = [name](const char* p) { return !std::strcmp(name, p); };
  if (v.Type == DBUS_TYPE_INT32) {
    const int32_t i = v.I;
    if (is(BusProperty::Position)) n.Position = i;
    if (is(BusProperty::ComPort)) n.ComPort = i;
    if (is(BusProperty::BacklashMode)) n.BacklashMode = i;
    if (is(BusProperty::BacklashCodes)) n.BacklashCodes = i;
    if (is(BusProperty::TempDeadBand)) n.TempDeadBand = i;
    if (is(BusProperty::TempSamples)) n.TempSamples = i;
    if (is(BusProperty::LastCompensationMove)) n.LastCompensationMove = i;
    if (is(BusProperty::PositionScale)) n.PositionScale = i;
    if (is(BusProperty::LowerLimit)) n.LowerLimit = i;
    if (is(BusProperty::UpperLimit)) n.UpperLimit = i;
  } else if (v.Type == DBUS_TYPE_BOOLEAN) {
    const bool b = v.B;
    if (is(BusProperty::Idle)) n.Idle = b;
    if (is(BusProperty::PortOpen)) n.PortOpen = b;
    if (is(BusProperty::TemperatureAvailable)) n.TemperatureAvailable = b;
    if (is(BusProperty::Running)) n.Running = b;
    if (is(BusProperty::PositionTrusted)) n.PositionTrusted = b;
    if (is(BusProperty::ReverseDirection)) n.ReverseDirection = b;
    if (is(BusProperty::TempCompensation)) n.TempCompensation = b;
    if (is(BusProperty::CompensationHeld)) n.CompensationHeld = b;
    if (is(BusProperty::LimitsSet)) n.LimitsSet = b;
  } else if (v.Type == DBUS_TYPE_DOUBLE) {
    if (is(BusProperty::TempCoefficient)) n.TempCoefficient = v.D;
    if (is(BusProperty::TempReference)) n.TempReference = v.D;
  } else if (v.Type == DBUS_TYPE_STRING) {
    if (is(BusProperty::LastFault)) n.LastFault = v.S;
    if (is(BusProperty::PortDevice)) n.PortDevice = v.S;
    if (is(BusProperty::PortProblem)) n.PortProblem = v.S;
  }
}

}  // namespace

bool ReadVariant(DBusMessageIter* variant, TPropertyValue& v) {
  // libdbus does not refuse a recursion into a plain value: it reads past it.
  if (dbus_message_iter_get_arg_type(variant) != DBUS_TYPE_VARIANT) return false;
  DBusMessageIter inner;
  dbus_message_iter_recurse(variant, &inner);
  v.Type = dbus_message_iter_get_arg_type(&inner);
  if (v.Type == DBUS_TYPE_INT32) {
    dbus_int32_t i = 0;
    dbus_message_iter_get_basic(&inner, &i);
    v.I = i;
  } else if (v.Type == DBUS_TYPE_BOOLEAN) {
    dbus_bool_t b = FALSE;
    dbus_message_iter_get_basic(&inner, &b);
    v.B = b != FALSE;
  } else if (v.Type == DBUS_TYPE_DOUBLE) {
    dbus_message_iter_get_basic(&inner, &v.D);
  } else if (v.Type == DBUS_TYPE_STRING) {
    const char* text = nullptr;
    dbus_message_iter_get_basic(&inner, &text);
    v.S = text ? text : "";
  } else {
    return false;
  }
  return true;
}

void StoreProperties(DBusMessageIter* dictionary, TNotification& n) {
  DBusMessageIter entries;
  dbus_message_iter_recurse(dictionary, &entries);
  while (dbus_message_iter_get_arg_type(&entries) == DBUS_TYPE_DICT_ENTRY) {
    DBusMessageIter entry;
    dbus_message_iter_recurse(&entries, &entry);
    // A sender may key its dictionary by another type: only a string is read as a name.
    if (dbus_message_iter_get_arg_type(&entry) == DBUS_TYPE_STRING) {
      const char* name = nullptr;
      dbus_message_iter_get_basic(&entry, &name);
      dbus_message_iter_next(&entry);
      TPropertyValue v;
      if (ReadVariant(&entry, v)) Store(n, name, v);
    }
    dbus_message_iter_next(&entries);
  }
}

std::optional<TNotification> DecodeNotification(DBusMessage* message) {
  if (dbus_message_get_type(message) != DBUS_MESSAGE_TYPE_SIGNAL) return std::nullopt;
  TNotification n;
  if (const char* sender = dbus_message_get_sender(message)) n.Sender = sender;
  if (dbus_message_is_signal(message, BroadcastInterface, MorvaneMessageName)) {
    DBusError error;
    dbus_error_init(&error);
    dbus_int32_t w = 0;
    dbus_int32_t l = 0;
    const bool ok = dbus_message_get_args(message, &error, DBUS_TYPE_INT32, &w, DBUS_TYPE_INT32, &l,
                                          DBUS_TYPE_INVALID);
    dbus_error_free(&error);
    if (!ok) return std::nullopt;
    n.IsMessage = true;
    n.WParam = w;
    n.LParam = l;
    return n;
  }
  if (dbus_message_is_signal(message, "org.freedesktop.DBus", "NameOwnerChanged")) {
    DBusError error;
    dbus_error_init(&error);
    const char* name = nullptr;
    const char* oldOwner = nullptr;
    const char* newOwner = nullptr;
    const bool ok =
        dbus_message_get_args(message, &error, DBUS_TYPE_STRING, &name, DBUS_TYPE_STRING, &oldOwner,
                              DBUS_TYPE_STRING, &newOwner, DBUS_TYPE_INVALID);
    dbus_error_free(&error);
    if (!ok || std::strcmp(name, MorvaneBusName) != 0) return std::nullopt;
    n.ServiceOwned = *newOwner != '\0';
    return n;
  }
  if (!dbus_message_is_signal(message, PropertiesInterface, "PropertiesChanged"))
    return std::nullopt;
  DBusMessageIter it;
  if (!dbus_message_iter_init(message, &it) ||
      dbus_message_iter_get_arg_type(&it) != DBUS_TYPE_STRING) {
    return std::nullopt;
  }
  const char* iface = nullptr;
  dbus_message_iter_get_basic(&it, &iface);
  if (std::strcmp(iface, Focuser1Interface) != 0 || !dbus_message_iter_next(&it) ||
      dbus_message_iter_get_arg_type(&it) != DBUS_TYPE_ARRAY) {
    return std::nullopt;
  }
  StoreProperties(&it, n);
  return n;
}

}  // namespace morvane
