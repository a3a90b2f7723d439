#include "busclient/FocuserClient.h"

#include <poll.h>

#include <cstring>

#include "platform/Timing.h"

namespace morvane {

namespace {

TBusReply ErrorReply(const DBusError& error) {
  TBusReply r;
  r.ErrorName = error.name ? error.name : DBUS_ERROR_FAILED;
  r.ErrorMessage = error.message ? error.message : "";
  return r;
}

// The compensation properties of a GetAll; none from a Morvane without them.
std::optional<TCompensationState> CompensationOf(const TNotification& n) {
  if (!n.BacklashMode || !n.BacklashCodes || !n.TempCompensation || !n.TempCoefficient ||
      !n.TempDeadBand || !n.TempSamples || !n.TempReference) {
    return std::nullopt;
  }
  return TCompensationState{*n.BacklashMode,
                            *n.BacklashCodes,
                            *n.TempCompensation,
                            *n.TempCoefficient,
                            *n.TempDeadBand,
                            *n.TempSamples,
                            *n.TempReference,
                            n.CompensationHeld.value_or(false),
                            n.LastCompensationMove.value_or(0)};
}

}  // namespace

bool TBusReply::NoService() const {
  return ErrorName == DBUS_ERROR_SERVICE_UNKNOWN || ErrorName == DBUS_ERROR_NAME_HAS_NO_OWNER ||
         ErrorName == DBUS_ERROR_NO_SERVER || ErrorName == DBUS_ERROR_DISCONNECTED;
}

TFocuserClient::TFocuserClient() {
  static const bool threadsReady = dbus_threads_init_default();
  (void)threadsReady;
  DBusError error;
  dbus_error_init(&error);
  FConnection = dbus_bus_get_private(DBUS_BUS_SESSION, &error);
  if (!FConnection) {
    FError = error.message ? error.message : "no session bus";
  } else {
    dbus_connection_set_exit_on_disconnect(FConnection, FALSE);
  }
  dbus_error_free(&error);
}

TFocuserClient::~TFocuserClient() {
  if (!FConnection) return;
  dbus_connection_close(FConnection);
  dbus_connection_unref(FConnection);
}

bool TFocuserClient::ServiceRunning() {
  if (!FConnection) return false;
  DBusError error;
  dbus_error_init(&error);
  const bool has = dbus_bus_name_has_owner(FConnection, MorvaneBusName, &error);
  dbus_error_free(&error);
  return has;
}

std::string TFocuserClient::UniqueName() const {
  const char* name = FConnection ? dbus_bus_get_unique_name(FConnection) : nullptr;
  return name ? name : "";
}

TBusReply TFocuserClient::Send(DBusMessage* call, DBusMessage** reply) {
  if (!FConnection) {
    dbus_message_unref(call);
    TBusReply r;
    r.ErrorName = DBUS_ERROR_NO_SERVER;
    r.ErrorMessage = FError;
    return r;
  }
  // A call never starts a Morvane: one started by the bus from an installed service file would
  // run hidden, on the real port of the user's settings, where the window or the user's own
  // service could not take the port. A client without Morvane says so and fails.
  dbus_message_set_auto_start(call, FALSE);
  DBusError error;
  dbus_error_init(&error);
  // Signals that come in meanwhile stay queued in the connection for Next().
  DBusMessage* answer =
      dbus_connection_send_with_reply_and_block(FConnection, call, CallTimeoutMs, &error);
  dbus_message_unref(call);
  if (!answer) {
    TBusReply r = ErrorReply(error);
    dbus_error_free(&error);
    return r;
  }
  if (reply) {
    *reply = answer;
  } else {
    dbus_message_unref(answer);
  }
  TBusReply ok;
  ok.Ok = true;
  return ok;
}

TBusReply TFocuserClient::Call(const char* method) {
  return Send(
      dbus_message_new_method_call(MorvaneBusName, MorvaneObjectPath, Focuser1Interface, method),
      nullptr);
}

TBusReply TFocuserClient::CallInt(const char* method, int32_t value) {
  DBusMessage* call =
      dbus_message_new_method_call(MorvaneBusName, MorvaneObjectPath, Focuser1Interface, method);
  const dbus_int32_t v = value;
  dbus_message_append_args(call, DBUS_TYPE_INT32, &v, DBUS_TYPE_INVALID);
  return Send(call, nullptr);
}

TBusReply TFocuserClient::CallBool(const char* method, bool value) {
  DBusMessage* call =
      dbus_message_new_method_call(MorvaneBusName, MorvaneObjectPath, Focuser1Interface, method);
  const dbus_bool_t v = value ? TRUE : FALSE;
  dbus_message_append_args(call, DBUS_TYPE_BOOLEAN, &v, DBUS_TYPE_INVALID);
  return Send(call, nullptr);
}

TBusReply TFocuserClient::CallBoolUInt(const char* method, bool b, uint32_t u) {
  DBusMessage* call =
      dbus_message_new_method_call(MorvaneBusName, MorvaneObjectPath, Focuser1Interface, method);
  const dbus_bool_t vb = b ? TRUE : FALSE;
  const dbus_uint32_t vu = u;
  dbus_message_append_args(call, DBUS_TYPE_BOOLEAN, &vb, DBUS_TYPE_UINT32, &vu, DBUS_TYPE_INVALID);
  return Send(call, nullptr);
}

TBusReply TFocuserClient::ReadTemperature(double& celsius) {
  DBusMessage* reply = nullptr;
  TBusReply r = Send(dbus_message_new_method_call(MorvaneBusName, MorvaneObjectPath,
                                                  Focuser1Interface, BusMethod::ReadTemperature),
                     &reply);
  if (!r.Ok) return r;
  DBusError error;
  dbus_error_init(&error);
  double v = 0;
  if (dbus_message_get_args(reply, &error, DBUS_TYPE_DOUBLE, &v, DBUS_TYPE_INVALID)) {
    celsius = v;
  } else {
    r = ErrorReply(error);
  }
  dbus_error_free(&error);
  dbus_message_unref(reply);
  return r;
}

TBusReply TFocuserClient::MarkFocus(double& celsius, int32_t& position) {
  DBusMessage* reply = nullptr;
  TBusReply r = Send(dbus_message_new_method_call(MorvaneBusName, MorvaneObjectPath,
                                                  Focuser1Interface, BusMethod::MarkFocus),
                     &reply);
  if (!r.Ok) return r;
  DBusError error;
  dbus_error_init(&error);
  double t = 0;
  dbus_int32_t count = 0;
  if (dbus_message_get_args(reply, &error, DBUS_TYPE_DOUBLE, &t, DBUS_TYPE_INT32, &count,
                            DBUS_TYPE_INVALID)) {
    celsius = t;
    position = count;
  } else {
    r = ErrorReply(error);
  }
  dbus_error_free(&error);
  dbus_message_unref(reply);
  return r;
}

TBusReply TFocuserClient::MeasureBacklash(TBacklashAnswer& answer) {
  DBusMessage* reply = nullptr;
  const int callTimeout = CallTimeoutMs;
  CallTimeoutMs = MeasureTimeoutMs;
  TBusReply r = Send(dbus_message_new_method_call(MorvaneBusName, MorvaneObjectPath,
                                                  Focuser1Interface, BusMethod::MeasureBacklash),
                     &reply);
  CallTimeoutMs = callTimeout;
  if (!r.Ok) return r;
  DBusError error;
  dbus_error_init(&error);
  dbus_bool_t seen = false;
  const char* text = "";
  if (dbus_message_get_args(reply, &error, DBUS_TYPE_BOOLEAN, &seen, DBUS_TYPE_DOUBLE,
                            &answer.PlayCodes, DBUS_TYPE_DOUBLE, &answer.Uncertainty,
                            DBUS_TYPE_STRING, &text, DBUS_TYPE_INVALID)) {
    answer.Seen = seen;
    answer.Text = text;
  } else {
    r = ErrorReply(error);
  }
  dbus_error_free(&error);
  dbus_message_unref(reply);
  return r;
}

TBusReply TFocuserClient::CallIntInt(const char* method, int32_t a, int32_t b) {
  DBusMessage* call =
      dbus_message_new_method_call(MorvaneBusName, MorvaneObjectPath, Focuser1Interface, method);
  const dbus_int32_t va = a;
  const dbus_int32_t vb = b;
  dbus_message_append_args(call, DBUS_TYPE_INT32, &va, DBUS_TYPE_INT32, &vb, DBUS_TYPE_INVALID);
  return Send(call, nullptr);
}

TBusReply TFocuserClient::FindTravel(int32_t& lowerStop, int32_t& upperStop) {
  DBusMessage* reply = nullptr;
  const int callTimeout = CallTimeoutMs;
  CallTimeoutMs = FindTravelTimeoutMs;
  TBusReply r = Send(dbus_message_new_method_call(MorvaneBusName, MorvaneObjectPath,
                                                  Focuser1Interface, BusMethod::FindTravel),
                     &reply);
  CallTimeoutMs = callTimeout;
  if (!r.Ok) return r;
  DBusError error;
  dbus_error_init(&error);
  dbus_int32_t lower = 0, upper = 0;
  if (dbus_message_get_args(reply, &error, DBUS_TYPE_INT32, &lower, DBUS_TYPE_INT32, &upper,
                            DBUS_TYPE_INVALID)) {
    lowerStop = lower;
    upperStop = upper;
  } else {
    r = ErrorReply(error);
  }
  dbus_error_free(&error);
  dbus_message_unref(reply);
  return r;
}

TBusReply TFocuserClient::GetAll(TNotification& n) {
  DBusMessage* call = dbus_message_new_method_call(MorvaneBusName, MorvaneObjectPath,
                                                   PropertiesInterface, "GetAll");
  const char* iface = Focuser1Interface;
  dbus_message_append_args(call, DBUS_TYPE_STRING, &iface, DBUS_TYPE_INVALID);
  DBusMessage* reply = nullptr;
  TBusReply r = Send(call, &reply);
  if (!r.Ok) return r;
  DBusMessageIter it;
  if (dbus_message_iter_init(reply, &it) &&
      dbus_message_iter_get_arg_type(&it) == DBUS_TYPE_ARRAY) {
    StoreProperties(&it, n);
  }
  dbus_message_unref(reply);
  return r;
}

TBusReply TFocuserClient::GetState(TFocuserState& state) {
  std::optional<TCompensationState> ignored;
  return GetState(state, ignored);
}

TBusReply TFocuserClient::GetState(TFocuserState& state,
                                   std::optional<TCompensationState>& compensation) {
  TNotification n;
  TBusReply r = GetAll(n);
  if (!r.Ok) return r;
  if (!n.Position || !n.Idle || !n.PortOpen || !n.ComPort || !n.TemperatureAvailable) {
    r.Ok = false;
    r.ErrorName = DBUS_ERROR_INVALID_SIGNATURE;
    r.ErrorMessage = "the focuser's properties are incomplete";
    return r;
  }
  state = {*n.Position,
           *n.Idle,
           *n.PortOpen,
           *n.ComPort,
           *n.TemperatureAvailable,
           n.Running.value_or(false),
           n.PositionTrusted.value_or(true),
           n.ReverseDirection.value_or(false),
           n.LastFault.value_or(std::string()),
           n.PortDevice.value_or(std::string()),
           n.PortProblem.value_or(std::string()),
           n.PositionScale.value_or(DefaultPositionScale),
           n.LimitsSet.value_or(false) && n.LowerLimit && n.UpperLimit,
           n.LowerLimit.value_or(0),
           n.UpperLimit.value_or(0)};
  compensation = CompensationOf(n);
  return r;
}

// Properties.Get of one of the focuser's properties; the reply is the caller's to unref.
TBusReply TFocuserClient::GetProperty(const char* name, DBusMessage** reply) {
  DBusMessage* call =
      dbus_message_new_method_call(MorvaneBusName, MorvaneObjectPath, PropertiesInterface, "Get");
  const char* iface = Focuser1Interface;
  dbus_message_append_args(call, DBUS_TYPE_STRING, &iface, DBUS_TYPE_STRING, &name,
                           DBUS_TYPE_INVALID);
  return Send(call, reply);
}

TBusReply TFocuserClient::GetPosition(int32_t& position) {
  DBusMessage* reply = nullptr;
  TBusReply r = GetProperty(BusProperty::Position, &reply);
  if (!r.Ok) return r;
  DBusMessageIter it;
  TPropertyValue v;
  if (!dbus_message_iter_init(reply, &it) || !ReadVariant(&it, v) || v.Type != DBUS_TYPE_INT32) {
    r.Ok = false;
    r.ErrorName = DBUS_ERROR_INVALID_SIGNATURE;
    r.ErrorMessage = "Position is not an int32";
  } else {
    position = v.I;
  }
  dbus_message_unref(reply);
  return r;
}

TBusReply TFocuserClient::GetStringProperty(const char* name, std::string& value) {
  DBusMessage* reply = nullptr;
  TBusReply r = GetProperty(name, &reply);
  if (!r.Ok) return r;
  DBusMessageIter it;
  TPropertyValue v;
  if (!dbus_message_iter_init(reply, &it) || !ReadVariant(&it, v) || v.Type != DBUS_TYPE_STRING) {
    r.Ok = false;
    r.ErrorName = DBUS_ERROR_INVALID_SIGNATURE;
    r.ErrorMessage = std::string(name) + " is not a string";
  } else {
    value = v.S;
  }
  dbus_message_unref(reply);
  return r;
}

TBusReply TFocuserClient::GetCompensation(TCompensationState& state) {
  TNotification n;
  TBusReply r = GetAll(n);
  if (!r.Ok) return r;
  const std::optional<TCompensationState> c = CompensationOf(n);
  if (!c) {
    r.Ok = false;
    r.ErrorName = NotAvailableError;
    r.ErrorMessage = "this Morvane has no compensation settings";
    return r;
  }
  state = *c;
  return r;
}

TBusReply TFocuserClient::SetIntProperty(const char* name, int32_t value) {
  const dbus_int32_t v = value;
  return SetProperty(name, DBUS_TYPE_INT32, &v);
}

TBusReply TFocuserClient::SetBoolProperty(const char* name, bool value) {
  const dbus_bool_t v = value ? TRUE : FALSE;
  return SetProperty(name, DBUS_TYPE_BOOLEAN, &v);
}

TBusReply TFocuserClient::SetDoubleProperty(const char* name, double value) {
  return SetProperty(name, DBUS_TYPE_DOUBLE, &value);
}

TBusReply TFocuserClient::SetProperty(const char* name, int type, const void* value) {
  const char signature[2] = {static_cast<char>(type), '\0'};
  DBusMessage* call =
      dbus_message_new_method_call(MorvaneBusName, MorvaneObjectPath, PropertiesInterface, "Set");
  const char* iface = Focuser1Interface;
  DBusMessageIter it, variant;
  dbus_message_iter_init_append(call, &it);
  dbus_message_iter_append_basic(&it, DBUS_TYPE_STRING, &iface);
  dbus_message_iter_append_basic(&it, DBUS_TYPE_STRING, &name);
  dbus_message_iter_open_container(&it, DBUS_TYPE_VARIANT, signature, &variant);
  dbus_message_iter_append_basic(&variant, type, value);
  dbus_message_iter_close_container(&it, &variant);
  DBusMessage* reply = nullptr;
  TBusReply r = Send(call, &reply);
  if (reply) dbus_message_unref(reply);
  return r;
}

bool TFocuserClient::Watch(bool messages) {
  if (!FConnection) return false;
  DBusError error;
  dbus_error_init(&error);
  const std::string properties = std::string("type='signal',sender='") + MorvaneBusName +
                                 "',path='" + MorvaneObjectPath + "',interface='" +
                                 PropertiesInterface + "',member='PropertiesChanged',arg0='" +
                                 Focuser1Interface + "'";
  dbus_bus_add_match(FConnection, properties.c_str(), &error);
  if (!dbus_error_is_set(&error)) {
    const std::string owner =
        std::string(
            "type='signal',sender='org.freedesktop.DBus',interface='org.freedesktop.DBus',"
            "member='NameOwnerChanged',arg0='") +
        MorvaneBusName + "'";
    dbus_bus_add_match(FConnection, owner.c_str(), &error);
  }
  if (messages && !dbus_error_is_set(&error)) {
    const std::string rule = std::string("type='signal',interface='") + BroadcastInterface +
                             "',member='" + MorvaneMessageName + "'";
    dbus_bus_add_match(FConnection, rule.c_str(), &error);
  }
  const bool ok = !dbus_error_is_set(&error);
  if (!ok) FError = error.message ? error.message : "cannot listen on the bus";
  dbus_error_free(&error);
  return ok;
}

bool TFocuserClient::SendMessage(int32_t wParam, int32_t lParam) {
  if (!FConnection) return false;
  DBusMessage* signal =
      dbus_message_new_signal(MorvaneObjectPath, BroadcastInterface, MorvaneMessageName);
  const dbus_int32_t w = wParam;
  const dbus_int32_t l = lParam;
  dbus_message_append_args(signal, DBUS_TYPE_INT32, &w, DBUS_TYPE_INT32, &l, DBUS_TYPE_INVALID);
  const bool sent = dbus_connection_send(FConnection, signal, nullptr);
  dbus_connection_flush(FConnection);
  dbus_message_unref(signal);
  return sent;
}

void TFocuserClient::Decode(DBusMessage* message) {
  std::optional<TNotification> n = DecodeNotification(message);
  if (!n) return;
  n->ReceivedUs = MonotonicMicros();
  FQueue.push_back(*n);
}

std::optional<TNotification> TFocuserClient::Next(int timeoutMs) {
  if (!FConnection) return std::nullopt;
  const int64_t end = MonotonicMicros() + int64_t{timeoutMs} * 1000;
  for (;;) {
    // What libdbus has already read (for instance while waiting for a method's reply) is
    // taken before the socket is looked at again.
    while (FQueue.empty()) {
      DBusMessage* message = dbus_connection_pop_message(FConnection);
      if (!message) break;
      Decode(message);
      dbus_message_unref(message);
    }
    if (!FQueue.empty()) {
      TNotification n = FQueue.front();
      FQueue.pop_front();
      return n;
    }
    const int64_t left = (end - MonotonicMicros()) / 1000;
    if (!dbus_connection_read_write(FConnection, static_cast<int>(left > 0 ? left : 0))) {
      return std::nullopt;  // disconnected
    }
    if (dbus_connection_get_dispatch_status(FConnection) == DBUS_DISPATCH_COMPLETE &&
        MonotonicMicros() >= end) {
      return std::nullopt;
    }
  }
}

int TFocuserClient::Fd() const {
  int fd = -1;
  if (FConnection) dbus_connection_get_unix_fd(FConnection, &fd);
  return fd;
}

}  // namespace morvane
