#include "indi_morvane_focus/MorvaneFocuser.h"

#include <indilogger.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace morvane {

namespace {

// The one device of this driver; the INDI library's main dispatches to it.
std::unique_ptr<TMorvaneFocuser> GFocuser(new TMorvaneFocuser());

constexpr const char* BusyText =
    "A move is under way: the request is refused; wait until it has ended";

}  // namespace

TMorvaneFocuser::TMorvaneFocuser() {
  setVersion(1, 1);
  SetCapability(FOCUSER_CAN_ABS_MOVE | FOCUSER_CAN_REL_MOVE | FOCUSER_CAN_ABORT |
                FOCUSER_HAS_BACKLASH | FOCUSER_CAN_SYNC | FOCUSER_CAN_REVERSE);
  // Morvane owns the serial port: the connection is to Morvane on the session bus.
  setSupportedConnections(CONNECTION_NONE);
}

TMorvaneFocuser::~TMorvaneFocuser() = default;

const char* TMorvaneFocuser::getDefaultName() {
  return "Morvane Focuser";
}

bool TMorvaneFocuser::initProperties() {
  INDI::Focuser::initProperties();
  // The maximum is the user's, kept in the configuration; positions run from 0 to it.
  FocusMaxPosN[0].min = FocusMaxLowest;
  FocusMaxPosN[0].max = FocusMaxHighest;
  FocusAbsPosN[0].min = 0;
  FocusAbsPosN[0].max = FocusMaxPosN[0].value;
  FocusAbsPosN[0].step = 10;
  FocusRelPosN[0].min = 1;
  FocusRelPosN[0].max = FocusMaxPosN[0].value;
  FocusRelPosN[0].step = 10;
  FocusRelPosN[0].value = 30;
  // The coarse drive for a time; 0 runs until aborted.
  FocusTimerN[0].min = 0;
  FocusTimerN[0].max = TimerLongestMs;
  IUFillNumber(&TemperatureN[0], "TEMPERATURE", "Celsius", "%6.2f", LowestCelsius, HighestCelsius,
               0, 0);
  IUFillNumberVector(&TemperatureNP, TemperatureN, 1, getDeviceName(), "FOCUS_TEMPERATURE",
                     "Temperature", MAIN_CONTROL_TAB, IP_RO, 0, IPS_IDLE);
  InitCompensation();
  addDebugControl();
  return true;
}

bool TMorvaneFocuser::updateProperties() {
  INDI::Focuser::updateProperties();
  if (isConnected()) {
    defineProperty(&FocusTimerNP);
    if (FHasCompensation && !FCompensationDefined) {
      defineProperty(&TempCompSP);
      defineProperty(&TempCoefNP);
      FCompensationDefined = true;
    }
  } else {
    deleteProperty(FocusTimerNP.name);
    if (FTemperatureDefined) deleteProperty(TemperatureNP.name);
    FTemperatureDefined = false;
    if (FCompensationDefined) {
      deleteProperty(TempCompSP.name);
      deleteProperty(TempCoefNP.name);
    }
    FCompensationDefined = false;
  }
  return true;
}

bool TMorvaneFocuser::Connect() {
  FClient = std::make_unique<TFocuserClient>();
  // The one call the event loop waits for: a connection needs Morvane's answer.
  FClient->CallTimeoutMs = CommandTimeoutMs;
  if (!FClient->Connected()) {
    LOGF_ERROR("No session bus to reach Morvane on: %s", FClient->Error().c_str());
    FClient.reset();
    return false;
  }
  if (!FClient->Watch(false)) {
    LOGF_ERROR("Cannot listen to Morvane on the session bus: %s", FClient->Error().c_str());
    FClient.reset();
    return false;
  }
  std::optional<TCompensationState> compensation;  // none from an older Morvane
  TFocuserState state;
  const TBusReply r = FClient->GetState(state, compensation);
  if (!r.Ok) {
    if (r.NoService()) {
      LOG_ERROR(
          "Morvane is not running on this desktop's session bus: start Morvane, then connect.");
    } else {
      LOGF_ERROR("Morvane did not answer: %s", r.ErrorMessage.c_str());
    }
    FClient.reset();
    return false;
  }
  // FOCUS_MAX given before connecting (the driver's configuration of old) becomes Morvane's
  // scale, said in the log: one scale for every client, and the user's number is kept.
  const auto given = static_cast<int32_t>(std::llround(FocusMaxPosN[0].value));
  const bool migrate = FFocusMaxGiven && !state.LimitsSet && given != state.PositionScale;
  if (migrate) {
    LOGF_INFO("FOCUS_MAX %d becomes Morvane's position scale (it was %d).", given,
              state.PositionScale);
    state.PositionScale = given;
  }
  FFocusMaxGiven = false;
  FFollower.Reset(state);
  FHasCompensation = compensation.has_value();
  if (FHasCompensation) ShowCompensation(*compensation);
  ShowReverse();
  FMove.Forget();
  FRunning = FSawRun = FAborted = false;
  FTemperatureDefined = FReadingPending = FTemperatureFaulted = false;
  FCommands = std::make_unique<TBusWorker>(CommandTimeoutMs);
  FReadings = std::make_unique<TBusWorker>(ReadingTimeoutMs);
  ShowScale();
  if (migrate) {
    Command("set the position scale", [given](TFocuserClient& c) {
      return c.SetIntProperty(BusProperty::PositionScale, given);
    });
  }
  FocusAbsPosNP.s = State().Idle ? IPS_OK : IPS_BUSY;
  if (!State().PositionTrusted) TellUnverified();
  if (!State().PortOpen)
    LOGF_WARN("Morvane's port COM %d is not open: moves are refused until it is.", State().ComPort);
  // Position and state come as Morvane announces them: the bus connection is watched.
  FBusCallback = IEAddCallback(FClient->Fd(), &TMorvaneFocuser::OnBus, this);
  FCommandsCallback = IEAddCallback(FCommands->Fd(), &TMorvaneFocuser::OnResults, this);
  FReadingsCallback = IEAddCallback(FReadings->Fd(), &TMorvaneFocuser::OnResults, this);
  FWatchdogTimer = IEAddPeriodicTimer(1000, &TMorvaneFocuser::OnWatchdog, this);
  // One reading tells whether the module is there; Morvane asks it only this once.
  FTemperatureTimer = IEAddTimer(0, &TMorvaneFocuser::OnTemperatureTimer, this);
  LOGF_INFO("Connected to Morvane: count %d (position %lld), COM %d.", State().Position,
            static_cast<long long>(ClientPosition(State().Position, Scale())), State().ComPort);
  return true;
}

bool TMorvaneFocuser::Disconnect() {
  if (FRunning)
    Command("stop the run", [](TFocuserClient& c) { return c.Call(BusMethod::StopRun); });
  for (int* callback : {&FBusCallback, &FCommandsCallback, &FReadingsCallback})
    if (*callback >= 0) IERmCallback(*callback);
  for (int* timer : {&FTemperatureTimer, &FWatchdogTimer})
    if (*timer >= 0) IERmTimer(*timer);
  FBusCallback = FCommandsCallback = FReadingsCallback = FTemperatureTimer = FWatchdogTimer = -1;
  // The posted calls are made before the workers end (each within its time-out).
  FCommands.reset();
  FReadings.reset();
  FClient.reset();
  FMove.Forget();
  FRunning = FReadingPending = false;
  return true;
}

void TMorvaneFocuser::OnBus(int, void* self) {
  static_cast<TMorvaneFocuser*>(self)->ReadBus();
}

void TMorvaneFocuser::OnResults(int fd, void* self) {
  auto* focuser = static_cast<TMorvaneFocuser*>(self);
  if (focuser->FCommands && fd == focuser->FCommands->Fd())
    focuser->TakeResults(focuser->FCommands.get());
  if (focuser->FReadings && fd == focuser->FReadings->Fd())
    focuser->TakeResults(focuser->FReadings.get());
}

// A handler may disconnect, which ends the workers: the rest of the results are dropped.
void TMorvaneFocuser::TakeResults(TBusWorker* worker) {
  for (const auto& done : worker->Take()) {
    if (!FClient) return;
    done();
  }
}

void TMorvaneFocuser::ReadBus() {
  while (FClient) {
    const auto n = FClient->Next(0);
    if (!n) break;
    Apply(*n);
  }
  if (FClient && !FClient->Open()) Lost("The session bus has gone");
}

// Lost the link to Morvane: the device goes disconnected with the reason in the log.
void TMorvaneFocuser::Lost(const char* why) {
  LOGF_ERROR("%s: disconnected from Morvane.", why);
  FocusAbsPosNP.s = IPS_ALERT;
  IDSetNumber(&FocusAbsPosNP, nullptr);
  Disconnect();
  setConnected(false, IPS_ALERT);
  updateProperties();
}

void TMorvaneFocuser::ShowPosition() {
  FocusAbsPosN[0].value = static_cast<double>(ClientPosition(State().Position, Scale()));
}

TClientScale TMorvaneFocuser::Scale() const {
  return ClientScale(State(), std::llround(FocusMaxPosN[0].value));
}

// Morvane's scale, or the span of its limits: FOCUS_MAX, the range of absolute and relative
// moves and the presets. A span narrower than FOCUS_MAX's least is shown as it is.
void TMorvaneFocuser::ShowScale() {
  const auto max = static_cast<double>(ClientScale(State()).Max);
  FocusMaxPosN[0].min = std::min(FocusMaxLowest, max);
  FocusMaxPosN[0].value = max;
  FocusAbsPosN[0].max = FocusRelPosN[0].max = max;
  SyncPresets(static_cast<uint32_t>(max));
  ShowPosition();
  if (!isConnected()) return;  // defined with these values
  IUUpdateMinMax(&FocusMaxPosNP);
  IUUpdateMinMax(&FocusAbsPosNP);
  IUUpdateMinMax(&FocusRelPosNP);
  IDSetNumber(&FocusMaxPosNP, nullptr);
  IDSetNumber(&FocusAbsPosNP, nullptr);
}

void TMorvaneFocuser::Apply(const TNotification& n) {
  const TFollowed changed = FFollower.Apply(n);
  if (changed.Gone) {
    Lost("Morvane has ended");
    return;
  }
  // LastFault is announced before the idle state of the move it ended (empty once the next
  // one starts).
  if (n.PortOpen && !State().PortOpen)
    LOGF_WARN("Morvane's port COM %d has closed.", State().ComPort);
  if (changed.Scale) {
    ShowScale();
    // The driver's configuration follows Morvane's scale, so that it never brings back an old
    // one; a span of limits is not a scale.
    if (!Scale().FromLimits) saveConfig(true, FocusMaxPosNP.name);
  }
  if (n.Position) {
    if (changed.Position) FLastProgress = TClock::now();
    ShowPosition();
  }
  if (changed.Trusted) {
    if (State().PositionTrusted) {
      LOG_INFO("Morvane's position is confirmed.");
      if (FocusAbsPosNP.s == IPS_ALERT) FocusAbsPosNP.s = IPS_OK;
      IDSetNumber(&FocusAbsPosNP, nullptr);
    } else {
      TellUnverified();
    }
  }
  if (n.ReverseDirection) ShowReverse();
  if (n.Running) {
    if (FRunning && State().Running) FSawRun = true;
    // The run ends in Morvane: at its time, by Abort, or in Morvane's window.
    if (FRunning && FSawRun && !State().Running) RunEnded();
  }
  if (n.Idle) {
    const TMoveEnd end = FMove.OnIdle(*n.Idle, State());
    if (!*n.Idle) {
      // A move started in Morvane's window or by another program shows as well.
      FocusAbsPosNP.s = IPS_BUSY;
    } else if (end != TMoveEnd::meNone) {
      MoveEnded(end);
      return;
    } else if (!FMove.Pending() && FocusAbsPosNP.s == IPS_BUSY) {
      FocusAbsPosNP.s = IPS_OK;
    }
  }
  if (n.Position || n.Idle) IDSetNumber(&FocusAbsPosNP, nullptr);
  FollowCompensation(n);
  if (n.TemperatureAvailable) {
    if (State().TemperatureAvailable && !FTemperatureDefined) {
      ReadTemperature();
    } else if (!State().TemperatureAvailable && FTemperatureDefined) {
      TemperatureFault("the module does not answer");
    }
  }
}

void TMorvaneFocuser::MoveEnded(TMoveEnd end) {
  IPState state = IPS_OK;
  if (end == TMoveEnd::meStopped) {
    state = IPS_IDLE;
    LOGF_INFO("Move aborted at position %g.", FocusAbsPosN[0].value);
  } else if (end == TMoveEnd::meFault) {
    // Morvane's stall guard stopped the motor: an end stop, a jam or the encoder.
    state = IPS_ALERT;
    LOGF_ERROR("%s.", State().LastFault.c_str());
  } else if (end == TMoveEnd::meShort) {
    // Stopped in Morvane's window, or a wait in Morvane timed out.
    state = IPS_ALERT;
    LOGF_WARN("The move ended at position %g, not at its target %lld.", FocusAbsPosN[0].value,
              static_cast<long long>(ClientPosition(FMove.Target(), Scale())));
  }
  FocusAbsPosNP.s = state;
  FocusRelPosNP.s = state;
  IDSetNumber(&FocusRelPosNP, nullptr);
  IDSetNumber(&FocusAbsPosNP, nullptr);
}

void TMorvaneFocuser::RunEnded() {
  FRunning = false;
  const bool stalled = !FAborted && !State().LastFault.empty();
  if (stalled) LOGF_ERROR("%s.", State().LastFault.c_str());
  FocusTimerNP.s = FAborted ? IPS_IDLE : stalled ? IPS_ALERT : IPS_OK;
  IDSetNumber(&FocusTimerNP, nullptr);
}

void TMorvaneFocuser::OnWatchdog(void* self) {
  static_cast<TMorvaneFocuser*>(self)->Watchdog();
}

// Every motion has a bound: a client gets an error rather than a BUSY that never ends.
void TMorvaneFocuser::Watchdog() {
  const auto now = TClock::now();
  if (FMove.Pending() && now - FLastProgress > StallLimit) {
    if (const TMoveEnd end = FMove.OnQuiet(State()); end == TMoveEnd::meLanded) {
      MoveEnded(end);  // Morvane had nothing to do
      return;
    }
    FMove.Forget();
    LOGF_ERROR("The move made no progress for %lld s: stopped at position %g.",
               static_cast<long long>(std::chrono::seconds(StallLimit).count()),
               FocusAbsPosN[0].value);
    Command("stop", [](TFocuserClient& c) { return c.Call(BusMethod::Stop); });
    FocusAbsPosNP.s = FocusRelPosNP.s = IPS_ALERT;
    IDSetNumber(&FocusRelPosNP, nullptr);
    IDSetNumber(&FocusAbsPosNP, nullptr);
  }
  if (FRunning && FRunMs > 0 && now - FRunStart > std::chrono::milliseconds(FRunMs) + StallLimit) {
    FRunning = false;
    LOG_ERROR("The timed run did not end at its time: stopped.");
    Command("stop the run", [](TFocuserClient& c) { return c.Call(BusMethod::StopRun); });
    FocusTimerNP.s = IPS_ALERT;
    IDSetNumber(&FocusTimerNP, nullptr);
  }
}

INumberVectorProperty& TMorvaneFocuser::PropertyOf(TRequestProperty property) {
  switch (property) {
    case TRequestProperty::Relative:
      return FocusRelPosNP;
    case TRequestProperty::Timer:
      return FocusTimerNP;
    case TRequestProperty::Max:
      return FocusMaxPosNP;
    case TRequestProperty::Coefficient:
    case TRequestProperty::DeadBand:
    case TRequestProperty::Samples:
      return TempCoefNP;
    case TRequestProperty::Absolute:
      break;
  }
  return FocusAbsPosNP;
}

bool TMorvaneFocuser::ISNewNumber(const char* dev, const char* name, double values[], char* names[],
                                  int n) {
  if (dev && !std::strcmp(dev, getDeviceName()) && n > 0) {
    for (const auto& [property, vector] : {std::pair{TRequestProperty::Absolute, &FocusAbsPosNP},
                                           std::pair{TRequestProperty::Relative, &FocusRelPosNP},
                                           std::pair{TRequestProperty::Timer, &FocusTimerNP},
                                           std::pair{TRequestProperty::Max, &FocusMaxPosNP}}) {
      if (std::strcmp(name, vector->name) != 0) continue;
      Request(property, values[0]);
      return true;
    }
    if (!std::strcmp(name, TempCoefNP.name)) {
      RequestCoefficients(values, names, n);
      return true;
    }
    // Presets are positions a Go moves to: checked as such before they are stored.
    if (!std::strcmp(name, PresetNP.name)) {
      for (int i = 0; i < n; ++i) {
        const TFocuserRequest r = CheckRequest(TRequestProperty::Absolute, values[i], View());
        if (r.Ok) continue;
        LOG_ERROR(r.Error.c_str());
        PresetNP.s = IPS_ALERT;
        IDSetNumber(&PresetNP, nullptr);
        return true;
      }
    }
  }
  return INDI::Focuser::ISNewNumber(dev, name, values, names, n);
}

// A preset's Go comes this way from the base class.
IPState TMorvaneFocuser::MoveAbsFocuser(uint32_t targetTicks) {
  Request(TRequestProperty::Absolute, targetTicks);
  return FocusAbsPosNP.s;
}

TRequestView TMorvaneFocuser::View() const {
  const TClientScale s = Scale();
  return {State().Position, s.Max, FocusMotionS[FOCUS_INWARD].s == ISS_ON,
          s.FromLimits ? std::optional(s.TopCount) : std::nullopt};
}

void TMorvaneFocuser::Refuse(TRequestProperty property, const std::string& why) {
  LOG_ERROR(why.c_str());
  INumberVectorProperty& p = PropertyOf(property);
  p.s = IPS_ALERT;
  IDSetNumber(&p, nullptr);
}

void TMorvaneFocuser::Request(TRequestProperty property, double value) {
  const TFocuserRequest r = CheckRequest(property, value, View());
  if (!r.Ok) return Refuse(property, r.Error);
  if (property == TRequestProperty::Max) {
    if (FClient && Scale().FromLimits)
      return Refuse(property,
                    "Morvane's travel limits are set: FOCUS_MAX is their span, and changes with "
                    "them.");
    SetFocusMax(r.FocusMax);
    // Morvane keeps it for every client; before connecting it is taken there on connecting.
    const auto scale = static_cast<int32_t>(r.FocusMax);
    if (!FClient) {
      FFocusMaxGiven = true;
    } else {
      Command("set the position scale", [scale](TFocuserClient& c) {
        return c.SetIntProperty(BusProperty::PositionScale, scale);
      });
    }
    return;
  }
  if (!FClient) return Refuse(property, "Not connected to Morvane.");
  // A client waits for OK before its next move: a request while moving is refused and
  // leaves the running move's state as it is.
  if (Busy()) {
    LOG_ERROR(BusyText);
    if (property != TRequestProperty::Absolute) IDSetNumber(&PropertyOf(property), nullptr);
    IDSetNumber(&FocusAbsPosNP, nullptr);
    return;
  }
  if (property == TRequestProperty::Timer) {
    FocusTimerN[0].value = r.Milliseconds;
    return StartRun(FocusMotionS[FOCUS_INWARD].s == ISS_ON, r.Milliseconds);
  }
  if (property == TRequestProperty::Relative) FocusRelPosN[0].value = std::llround(value);
  StartMove(r.TargetCount, property);
}

bool TMorvaneFocuser::SetFocuserBacklash(int32_t steps) {
  FBacklashSteps = steps;
  SendBacklash();
  return true;
}

bool TMorvaneFocuser::SetFocuserBacklashEnabled(bool enabled) {
  FBacklashOn = enabled;
  // The steps a client set before, or the driver's saved configuration holds.
  FBacklashSteps = static_cast<int32_t>(std::lround(FocusBacklashN[0].value));
  SendBacklash();
  return true;
}

void TMorvaneFocuser::SendBacklash() {
  const int32_t mode = !FBacklashOn ? 0 : FBacklashSteps < 0 ? 2 : 1;
  const int32_t codes = FBacklashSteps < 0 ? -FBacklashSteps : FBacklashSteps;
  Command("set the backlash compensation", [mode, codes](TFocuserClient& c) {
    TBusReply r = c.SetIntProperty(BusProperty::BacklashCodes, codes);
    return r.Ok ? c.SetIntProperty(BusProperty::BacklashMode, mode) : r;
  });
}

// FOCUS_SYNC: "the focuser is at ticks", INDI's position; Morvane's count becomes the count
// at that position, nothing moves. Morvane refuses it while a move or a run is under way.
bool TMorvaneFocuser::SyncFocuser(uint32_t ticks) {
  const TClientScale scale = Scale();
  if (ticks > scale.Max) {
    LOGF_ERROR("Position %u is beyond FOCUS_MAX (%lld): not set.", ticks,
               static_cast<long long>(scale.Max));
    return false;
  }
  if (Busy()) {
    LOG_ERROR("The focuser is moving: the position is set only while it rests.");
    return false;
  }
  const int64_t count = CountAt(ticks, scale);
  Command("set the position", [count](TFocuserClient& c) {
    return c.CallInt(BusMethod::Sync, static_cast<int32_t>(count));
  });
  return true;
}

// FOCUS_REVERSE_MOTION is Morvane's "Reverse Focuser Direction", kept by Morvane: set here it
// is set there, and it shows Morvane's setting whoever changed it.
bool TMorvaneFocuser::ReverseFocuser(bool enabled) {
  if (Busy()) {
    LOG_ERROR("The focuser is moving: its direction is changed only while it rests.");
    return false;
  }
  Command("reverse the direction", [enabled](TFocuserClient& c) {
    return c.SetBoolProperty(BusProperty::ReverseDirection, enabled);
  });
  return true;
}

void TMorvaneFocuser::ShowReverse() {
  FocusReverseS[INDI_ENABLED].s = State().ReverseDirection ? ISS_ON : ISS_OFF;
  FocusReverseS[INDI_DISABLED].s = State().ReverseDirection ? ISS_OFF : ISS_ON;
  FocusReverseSP.s = IPS_OK;
  IDSetSwitch(&FocusReverseSP, nullptr);
}

// A count restored after Morvane did not close cleanly, or one whose encoder edges were lost:
// the focuser may not be where the count says.
// Shown as ALERT on the position until the user confirms it (FOCUS_SYNC, or Morvane's own
// Set Position or Reset).
void TMorvaneFocuser::TellUnverified() {
  LOG_WARN(
      "Morvane's position is unverified: restored after Morvane did not close cleanly, or "
      "encoder edges were lost. Check the focuser and set its position (FOCUS_SYNC) before "
      "moving to a position.");
  FocusAbsPosNP.s = IPS_ALERT;
  // While connecting the property is not defined yet: it is defined with this state.
  if (isConnected()) IDSetNumber(&FocusAbsPosNP, nullptr);
}

// Posts a call of Morvane's; a refusal comes back to the log.
void TMorvaneFocuser::Command(const char* what, TBusWorker::TCall call) {
  if (!FCommands) return;
  const std::string action = what;
  FCommands->Post(std::move(call), [this, action](const TBusReply& r) {
    if (!r.Ok) LOGF_ERROR("Morvane did not %s: %s", action.c_str(), r.ErrorMessage.c_str());
  });
}

void TMorvaneFocuser::StartMove(int64_t target, TRequestProperty from) {
  IPState state = IPS_BUSY;
  // Requests wait for Morvane to rest (Busy): at the target already, it would not move.
  if (!FMove.Issue(target, State().Position, true)) {
    state = IPS_OK;
  } else {
    FAborted = false;
    FLastProgress = TClock::now();
    FCommands->Post(
        [target](TFocuserClient& c) {
          return c.CallInt(BusMethod::MoveTo, static_cast<int32_t>(target));
        },
        [this](const TBusReply& r) {
          if (r.Ok || !FMove.Pending()) return;
          if (r.ErrorName == DBUS_ERROR_NO_REPLY) {
            // A Morvane slow to answer may still make the move: its state tells, and the
            // watchdog ends a move that never starts.
            LOG_WARN("Morvane has not answered the move yet; its state is followed.");
            return;
          }
          FMove.Forget();
          if (r.NoService()) {
            LOG_ERROR("Morvane is not running on the session bus any more.");
          } else {
            LOGF_ERROR("Morvane refused the move: %s", r.ErrorMessage.c_str());
          }
          FocusAbsPosNP.s = FocusRelPosNP.s = IPS_ALERT;
          IDSetNumber(&FocusRelPosNP, nullptr);
          IDSetNumber(&FocusAbsPosNP, nullptr);
        });
  }
  if (from == TRequestProperty::Relative) {
    FocusRelPosNP.s = state;
    IDSetNumber(&FocusRelPosNP, nullptr);
  }
  FocusAbsPosNP.s = state;
  IDSetNumber(&FocusAbsPosNP, nullptr);
}

// Morvane ends a timed run at its time, and any run of this driver's when the driver leaves
// the bus.
void TMorvaneFocuser::StartRun(bool in, uint32_t milliseconds) {
  FRunning = true;
  FSawRun = FAborted = false;
  FRunMs = milliseconds;
  FRunStart = TClock::now();
  FCommands->Post(
      [in, milliseconds](TFocuserClient& c) {
        return milliseconds > 0 ? c.CallBoolUInt(BusMethod::StartTimedRun, in, milliseconds)
                                : c.CallBool(BusMethod::StartRun, in);
      },
      [this](const TBusReply& r) {
        if (r.Ok || !FRunning) return;
        if (r.ErrorName == DBUS_ERROR_NO_REPLY && FRunMs > 0) {
          LOG_WARN("Morvane has not answered the run yet; its state is followed.");
          return;
        }
        FRunning = false;
        LOGF_ERROR("Morvane refused the run: %s", r.ErrorMessage.c_str());
        FocusTimerNP.s = IPS_ALERT;
        IDSetNumber(&FocusTimerNP, nullptr);
      });
  FocusTimerNP.s = IPS_BUSY;
  IDSetNumber(&FocusTimerNP, nullptr);
}

bool TMorvaneFocuser::AbortFocuser() {
  if (!FClient) return false;
  if (FRunning || State().Running) {
    FAborted = FRunning;
    Command("stop the run", [](TFocuserClient& c) { return c.Call(BusMethod::StopRun); });
  }
  if (FMove.Pending() || !State().Idle) {
    FAborted = true;
    FMove.Stopping();
    Command("stop", [](TFocuserClient& c) { return c.Call(BusMethod::Stop); });
  }
  return true;
}

// The user's maximum bounds absolute and relative moves and sets where the count's 0 shows;
// it is kept in the configuration.
void TMorvaneFocuser::SetFocusMax(uint32_t focusMax) {
  FocusMaxPosN[0].value = focusMax;
  FocusAbsPosN[0].max = FocusRelPosN[0].max = focusMax;
  IUUpdateMinMax(&FocusAbsPosNP);
  IUUpdateMinMax(&FocusRelPosNP);
  SyncPresets(focusMax);
  FocusMaxPosNP.s = IPS_OK;
  IDSetNumber(&FocusMaxPosNP, nullptr);
  saveConfig(true, FocusMaxPosNP.name);
  ShowPosition();
  IDSetNumber(&FocusAbsPosNP, nullptr);
}

void TMorvaneFocuser::DefineTemperature() {
  if (FTemperatureDefined || !isConnected()) return;
  defineProperty(&TemperatureNP);
  FTemperatureDefined = true;
}

void TMorvaneFocuser::OnTemperatureTimer(void* self) {
  auto* focuser = static_cast<TMorvaneFocuser*>(self);
  focuser->FTemperatureTimer = -1;
  focuser->ReadTemperature();
  if (focuser->FClient) {
    focuser->FTemperatureTimer =
        IEAddTimer(TemperaturePeriodMs, &TMorvaneFocuser::OnTemperatureTimer, self);
  }
}

// Never during a move: a module exchange holds the serial line that the move drives. Without
// the module Morvane answers at once (it asks the module only the first time).
void TMorvaneFocuser::ReadTemperature() {
  if (!FReadings || FReadingPending || Busy() || !State().PortOpen) return;
  auto celsius = std::make_shared<double>(0);
  FReadingPending = true;
  FReadings->Post([celsius](TFocuserClient& c) { return c.ReadTemperature(*celsius); },
                  [this, celsius](const TBusReply& r) { TemperatureRead(r, *celsius); });
}

void TMorvaneFocuser::TemperatureRead(const TBusReply& r, double celsius) {
  FReadingPending = false;
  if (!r.Ok) {
    if (r.ErrorName == BusyError) return;  // a move began meanwhile; read at the next turn
    if (FTemperatureDefined) TemperatureFault(r.ErrorMessage);
    return;
  }
  DefineTemperature();  // the module has answered
  if (!std::isfinite(celsius) || celsius < LowestCelsius || celsius > HighestCelsius) {
    char why[120];
    std::snprintf(why, sizeof why, "the module read %.1f degrees, outside %g to %g: refused",
                  celsius, LowestCelsius, HighestCelsius);
    return TemperatureFault(why);
  }
  TemperatureN[0].value = celsius;
  TemperatureNP.s = IPS_OK;
  FTemperatureFaulted = false;
  IDSetNumber(&TemperatureNP, nullptr);
}

// The property stays, with the last good value, marked ALERT; the fault is said once.
void TMorvaneFocuser::TemperatureFault(const std::string& why) {
  if (!FTemperatureFaulted) LOGF_WARN("Reading the temperature failed: %s", why.c_str());
  FTemperatureFaulted = true;
  TemperatureNP.s = IPS_ALERT;
  IDSetNumber(&TemperatureNP, nullptr);
}

}  // namespace morvane
