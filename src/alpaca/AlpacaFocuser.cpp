#include "alpaca/AlpacaFocuser.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace morvane::alpaca {

namespace {

constexpr std::array<std::string_view, 18> GetMembers{
    "absolute",   "ismoving",         "maxincrement",      "maxstep",       "position",
    "stepsize",   "tempcomp",         "tempcompavailable", "temperature",   "connected",
    "connecting", "description",      "driverinfo",        "driverversion", "interfaceversion",
    "name",       "supportedactions", "devicestate"};
constexpr std::array<std::string_view, 10> PutMembers{
    "halt",       "move",   "tempcomp",     "connected",   "connect",
    "disconnect", "action", "commandblind", "commandbool", "commandstring"};

TDeviceReply BadRequest(std::string text) {
  TDeviceReply r;
  r.Status = 400;
  r.Text = std::move(text);
  return r;
}

}  // namespace

bool IsGetMember(std::string_view method) {
  return std::find(GetMembers.begin(), GetMembers.end(), method) != GetMembers.end();
}

bool IsPutMember(std::string_view method) {
  return std::find(PutMembers.begin(), PutMembers.end(), method) != PutMembers.end();
}

TAlpacaFocuser::TAlpacaFocuser(TFocuserLink& link, TDeviceConfig config)
    : FLink(link), FConfig(std::move(config)) {}

TDeviceReply TAlpacaFocuser::Value(nlohmann::json value) const {
  TDeviceReply r;
  r.HasValue = true;
  r.Value = std::move(value);
  return r;
}

TDeviceReply TAlpacaFocuser::Fail(int number, std::string message) const {
  TDeviceReply r;
  r.ErrorNumber = number;
  r.ErrorMessage = std::move(message);
  return r;
}

TDeviceReply TAlpacaFocuser::FromLink(const TLinkReply& r) const {
  switch (r.Result) {
    case TLinkResult::lrOk:
      return {};
    case TLinkResult::lrNoService:
      return Fail(MorvaneNotRunning, "Morvane is not running: " + r.Message);
    case TLinkResult::lrPortClosed:
      return Fail(MorvanePortClosed, "Morvane's port is closed: " + r.Message);
    case TLinkResult::lrBusy:
      return Fail(InvalidOperation, "A move is under way: " + r.Message);
    case TLinkResult::lrOutsideLimits:
      // Morvane's counts, not Alpaca positions: Morvane's limits are set in counts.
      return Fail(InvalidValue, "Outside Morvane's travel limits: " + r.Message);
    case TLinkResult::lrFailed:
      break;
  }
  return Fail(MorvaneRefused, "Morvane refused: " + r.Message);
}

TClientScale TAlpacaFocuser::Scale(const TFocuserView& v) const {
  return ClientScale(v.LimitsSet, v.LowerLimit, v.UpperLimit,
                     FConfig.MaxStep.value_or(v.PositionScale));
}

int TAlpacaFocuser::PositionError(const TFocuserView& v, const TClientScale& scale,
                                  std::string& message) {
  if (!v.MorvaneRunning) {
    message = "Morvane is not running on this desktop's session bus";
    return MorvaneNotRunning;
  }
  if (!v.PortOpen) {
    message = v.PortClosedMessage();
    return MorvanePortClosed;
  }
  if (!PositionInRange(ClientPosition(v.Position, scale), scale)) {
    message = "Morvane's count " + std::to_string(v.Position) + " is outside " +
              std::to_string(CountAt(scale.Max, scale)) + " to " + std::to_string(scale.TopCount) +
              (scale.FromLimits ? ", its travel limits: move inside them"
                                : ": move into that range, or reset the count in Morvane with the "
                                  "focuser all the way out");
    return CountOutOfRange;
  }
  return 0;
}

TDeviceReply TAlpacaFocuser::Temperature(const TFocuserView& v) const {
  if (!v.MorvaneRunning) return Fail(MorvaneNotRunning, "Morvane is not running");
  if (v.Module == TModule::mdAbsent)
    return Fail(NotImplemented, "Morvane's focuser has no temperature module");
  if (!v.HasTemperature)
    return Fail(TemperatureUnread,
                "The temperature has not been read yet" +
                    (v.TemperatureError.empty() ? std::string() : ": " + v.TemperatureError));
  if (!(v.Celsius >= LowestCelsius && v.Celsius <= HighestCelsius))
    return Fail(TemperatureUnread, "The module's reading " + std::to_string(v.Celsius) +
                                       " degrees C is not believable: check its calibration");
  return Value(v.Celsius);
}

TDeviceReply TAlpacaFocuser::DeviceState(const TFocuserView& v,
                                         const std::string& timeStamp) const {
  if (!v.MorvaneRunning) return Fail(MorvaneNotRunning, "Morvane is not running");
  // What cannot be read now is left out, as the protocol asks.
  nlohmann::json list = nlohmann::json::array();
  list.push_back({{"Name", "IsMoving"}, {"Value", v.Moving()}});
  std::string ignored;
  const TClientScale scale = Scale(v);
  if (PositionError(v, scale, ignored) == 0)
    list.push_back({{"Name", "Position"}, {"Value", ClientPosition(v.Position, scale)}});
  const TDeviceReply t = Temperature(v);
  if (t.ErrorNumber == 0) list.push_back({{"Name", "Temperature"}, {"Value", t.Value}});
  list.push_back({{"Name", "TimeStamp"}, {"Value", timeStamp}});
  return Value(std::move(list));
}

TDeviceReply TAlpacaFocuser::Get(std::string_view m, const std::string& timeStamp) {
  if (!IsGetMember(m)) {
    if (IsPutMember(m)) {
      TDeviceReply r = BadRequest(std::string(m).append(" takes PUT"));
      r.Status = 405;
      return r;
    }
    return BadRequest("focuser has no member '" + std::string(m) + "'");
  }
  // Connected only while the focuser can be driven: with Morvane's port closed a client
  // sees it, and connecting again tells it why.
  if (m == "connected") {
    const TFocuserView v = FLink.View();
    return Value(Connected() && !(v.MorvaneRunning && !v.PortOpen));
  }
  if (m == "connecting") return Value(false);
  if (m == "description") return Value(FConfig.Description);
  if (m == "driverinfo") return Value(FConfig.DriverInfo);
  if (m == "driverversion") return Value(FConfig.DriverVersion);
  if (m == "interfaceversion") return Value(4);
  if (m == "name") return Value(FConfig.Name);
  if (m == "supportedactions") return Value(nlohmann::json::array());
  if (!Connected()) return Fail(NotConnected, "Not connected: set Connected to true first");
  if (m == "absolute") return Value(true);
  if (m == "stepsize") return Value(FConfig.StepSizeUm);
  const TFocuserView v = FLink.View();
  if (m == "maxstep" || m == "maxincrement") return Value(Scale(v).Max);
  if (m == "tempcomp" || m == "tempcompavailable") {
    if (!v.MorvaneRunning) return Fail(MorvaneNotRunning, "Morvane is not running");
    // Compensation that cannot run does not compensate.
    return Value(v.TempCompAvailable() && (m == "tempcompavailable" || v.TempComp));
  }
  if (m == "temperature") return Temperature(v);
  if (m == "devicestate") return DeviceState(v, timeStamp);
  if (m == "ismoving") {
    if (!v.MorvaneRunning) return Fail(MorvaneNotRunning, "Morvane is not running");
    // The completion property tells how the move ended: Morvane announces the fault before
    // the move's end.
    if (!v.Moving() && FMoveOwed.exchange(false) && !v.LastFault.empty())
      return Fail(MorvaneStalled, v.LastFault);
    return Value(v.Moving());
  }
  // position
  std::string message;
  const TClientScale scale = Scale(v);
  if (const int e = PositionError(v, scale, message)) return Fail(e, message);
  return Value(ClientPosition(v.Position, scale));
}

bool TAlpacaFocuser::Connected() const {
  std::lock_guard<std::mutex> lock(FClientsLock);
  return !FClients.empty();
}

// Each client connects and disconnects for itself, as Alpaca's multi-client rules ask: the
// link is the device's while any client holds it.
TDeviceReply TAlpacaFocuser::SetConnected(uint32_t client, bool on) {
  if (!on) {
    std::lock_guard<std::mutex> lock(FClientsLock);
    FClients.erase(client);
    return {};
  }
  if (!Connected()) {
    if (!FLink.AwaitMorvane(1500))
      return Fail(MorvaneNotRunning,
                  "Morvane is not running on this desktop's session bus: start Morvane first");
    FLink.RefreshTemperature();
  }
  if (const TFocuserView v = FLink.View(); !v.PortOpen)
    return Fail(MorvanePortClosed, v.PortClosedMessage());
  std::lock_guard<std::mutex> lock(FClientsLock);
  FClients.insert(client);
  return {};
}

TDeviceReply TAlpacaFocuser::Move(const TParams& form) {
  const std::string* text = FindParam(form, "Position", true);
  if (!text) return BadRequest("Move needs the parameter Position");
  const auto target = ParseInt32(*text);
  if (!target) return BadRequest("Position '" + *text + "' is not a whole number");
  if (!Connected()) return Fail(NotConnected, "Not connected: set Connected to true first");
  const TFocuserView v = FLink.View();
  if (!v.MorvaneRunning) return Fail(MorvaneNotRunning, "Morvane is not running");
  // A target beyond the travel is taken as its end, as ASCOM's focusers do.
  const TClientScale scale = Scale(v);
  const auto count = CountAt(std::clamp<int64_t>(*target, 0, scale.Max), scale);
  const TDeviceReply r = FromLink(FLink.MoveTo(static_cast<int32_t>(count)));
  if (r.ErrorNumber == 0) FMoveOwed.store(true);
  return r;
}

// Morvane's own setting: the window, the bus and INDI see the same. Moves are taken while it
// is on, as IFocuserV3 and later ask; Morvane makes no compensation move while one runs.
TDeviceReply TAlpacaFocuser::SetTempComp(bool on) {
  if (!Connected()) return Fail(NotConnected, "Not connected: set Connected to true first");
  const TFocuserView v = FLink.View();
  if (!v.MorvaneRunning) return Fail(MorvaneNotRunning, "Morvane is not running");
  if (!v.TempCompAvailable()) {
    if (on)
      return Fail(NotImplemented,
                  v.HasCompensation ? "Temperature compensation needs Morvane's temperature module"
                                    : "This Morvane has no temperature compensation");
    // Off where it cannot run: Morvane's setting goes off too, if it has one.
    return v.HasCompensation ? FromLink(FLink.SetTempComp(false)) : TDeviceReply{};
  }
  return FromLink(FLink.SetTempComp(on));
}

TDeviceReply TAlpacaFocuser::Put(std::string_view m, const TParams& form, uint32_t client) {
  if (!IsPutMember(m)) {
    if (IsGetMember(m)) {
      TDeviceReply r = BadRequest(std::string(m).append(" is read-only"));
      r.Status = 405;
      return r;
    }
    return BadRequest("focuser has no member '" + std::string(m) + "'");
  }
  // Parameters are checked before the connection: a malformed request is the client's fault
  // whatever the state.
  if (m == "connected" || m == "tempcomp") {
    const char* name = m == "connected" ? "Connected" : "TempComp";
    const std::string* text = FindParam(form, name, true);
    if (!text) return BadRequest(std::string(m) + " needs the parameter " + name);
    const auto on = ParseBool(*text);
    if (!on) return BadRequest(std::string(name) + " '" + *text + "' is not true or false");
    if (m == "connected") return SetConnected(client, *on);
    return SetTempComp(*on);
  }
  if (m == "move") return Move(form);
  if (m == "connect") return SetConnected(client, true);
  if (m == "disconnect") return SetConnected(client, false);
  if (m == "action") {
    const std::string* action = FindParam(form, "Action", true);
    if (!action) return BadRequest("action needs the parameter Action");
    return Fail(ActionNotImplemented, "No action '" + *action + "' (supportedactions is empty)");
  }
  if (m.substr(0, 7) == "command")
    return Fail(NotImplemented, std::string(m) + " is not implemented");
  // halt: always passed on, connected or not, so that no client's state can keep a move going.
  return FromLink(FLink.Stop());
}

}  // namespace morvane::alpaca
