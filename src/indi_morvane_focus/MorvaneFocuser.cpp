#include "indi_morvane_focus/MorvaneFocuser.h"

#include <indilogger.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace morvane {

namespace {

// The one device of this driver; the INDI library's main dispatches to it.
std::unique_ptr<TMorvaneFocuser> GFocuser(new TMorvaneFocuser());

constexpr const char* BusyText =
    "A move is under way: the request is refused; wait until it has ended";

}  // namespace

TMorvaneFocuser::TMorvaneFocuser() {
  setVersion(1, 0);
  SetCapability(FOCUSER_CAN_ABS_MOVE | FOCUSER_CAN_REL_MOVE | FOCUSER_CAN_ABORT);
  // Morvane owns the serial port: the connection is to Morvane on the session bus.
  setSupportedConnections(CONNECTION_NONE);
}

TMorvaneFocuser::~TMorvaneFocuser() = default;

const char* TMorvaneFocuser::getDefaultName() {
  return "Morvane Focuser";
}

bool TMorvaneFocuser::initProperties() {
  INDI::Focuser::initProperties();
  // Counts of Morvane's encoder; the maximum is the user's, kept in the configuration.
  FocusAbsPosN[0].min = 0;
  FocusAbsPosN[0].max = FocusMaxPosN[0].value;
  FocusAbsPosN[0].step = 10;
  FocusRelPosN[0].min = 0;
  FocusRelPosN[0].max = 1000;
  FocusRelPosN[0].step = 10;
  FocusRelPosN[0].value = 30;
  // The coarse drive for a time; 0 runs until aborted.
  FocusTimerN[0].min = 0;
  FocusTimerN[0].max = 60000;
  IUFillNumber(&TemperatureN[0], "TEMPERATURE", "Celsius", "%6.2f", -100, 100, 0, 0);
  IUFillNumberVector(&TemperatureNP, TemperatureN, 1, getDeviceName(), "FOCUS_TEMPERATURE",
                     "Temperature", MAIN_CONTROL_TAB, IP_RO, 0, IPS_IDLE);
  addDebugControl();
  return true;
}

bool TMorvaneFocuser::updateProperties() {
  INDI::Focuser::updateProperties();
  if (isConnected()) {
    defineProperty(&FocusTimerNP);
    FTemperatureShown = false;
    ShowTemperatureAvailable(FState.TemperatureAvailable);
  } else {
    deleteProperty(FocusTimerNP.name);
    if (FTemperatureShown) deleteProperty(TemperatureNP.name);
    FTemperatureShown = false;
  }
  return true;
}

bool TMorvaneFocuser::Connect() {
  FClient = std::make_unique<TFocuserClient>();
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
  const TBusReply r = FClient->GetState(FState);
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
  FMoving = FRunning = FSawBusy = FAborted = false;
  FTemperatureFailed = false;
  // One reading tells whether the module is there; Morvane asks it only this once.
  double celsius = 0;
  if (FState.Idle && FState.PortOpen && FClient->ReadTemperature(celsius).Ok) {
    FState.TemperatureAvailable = true;
    TemperatureN[0].value = celsius;
    TemperatureNP.s = IPS_OK;
  }
  FocusAbsPosN[0].value = FState.Position;
  FocusAbsPosN[0].max = FocusMaxPosN[0].value;  // as loaded from the configuration
  FocusAbsPosNP.s = FState.Idle ? IPS_OK : IPS_BUSY;
  if (!FState.PortOpen)
    LOGF_WARN("Morvane's port COM %d is not open: moves are refused until it is.", FState.ComPort);
  // Position and state come as Morvane announces them: the bus connection is watched.
  FBusCallback = IEAddCallback(FClient->Fd(), &TMorvaneFocuser::OnBus, this);
  FTemperatureTimer = IEAddTimer(1000, &TMorvaneFocuser::OnTemperatureTimer, this);
  LOGF_INFO("Connected to Morvane: position %d, COM %d.", FState.Position, FState.ComPort);
  return true;
}

bool TMorvaneFocuser::Disconnect() {
  if (FRunning) StopRun();
  if (FBusCallback >= 0) IERmCallback(FBusCallback);
  if (FTemperatureTimer >= 0) IERmTimer(FTemperatureTimer);
  if (FRunTimer >= 0) IERmTimer(FRunTimer);
  FBusCallback = FTemperatureTimer = FRunTimer = -1;
  FClient.reset();
  FMoving = FRunning = false;
  return true;
}

void TMorvaneFocuser::OnBus(int, void* self) {
  static_cast<TMorvaneFocuser*>(self)->ReadBus();
}

void TMorvaneFocuser::ReadBus() {
  if (!FClient) return;
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

void TMorvaneFocuser::Apply(const TNotification& n) {
  if (n.ServiceOwned && !*n.ServiceOwned) {
    Lost("Morvane has ended");
    return;
  }
  if (n.ComPort) FState.ComPort = *n.ComPort;
  if (n.PortOpen) {
    FState.PortOpen = *n.PortOpen;
    if (!FState.PortOpen) LOGF_WARN("Morvane's port COM %d has closed.", FState.ComPort);
  }
  if (n.Position) {
    FState.Position = *n.Position;
    FocusAbsPosN[0].value = FState.Position;
  }
  if (n.Idle) {
    FState.Idle = *n.Idle;
    if (!FState.Idle) {
      if (FMoving) FSawBusy = true;
      // A move started in Morvane's window or by another program shows as well.
      FocusAbsPosNP.s = IPS_BUSY;
    } else if (FMoving && FSawBusy) {
      MoveEnded();
      return;
    } else if (!FMoving && FocusAbsPosNP.s == IPS_BUSY) {
      FocusAbsPosNP.s = IPS_OK;
    }
  }
  if (n.Position || n.Idle) IDSetNumber(&FocusAbsPosNP, nullptr);
  if (n.TemperatureAvailable) {
    FState.TemperatureAvailable = *n.TemperatureAvailable;
    ShowTemperatureAvailable(FState.TemperatureAvailable);
  }
}

void TMorvaneFocuser::MoveEnded() {
  FMoving = false;
  const int32_t at = FState.Position;
  IPState state = IPS_OK;
  if (FAborted) {
    state = IPS_IDLE;
    LOGF_INFO("Move aborted at %d.", at);
  } else if (std::llabs(at - FTarget) > LandingTolerance) {
    // Stopped in Morvane's window, or a wait in Morvane timed out.
    state = IPS_ALERT;
    LOGF_WARN("The move ended at %d, not at its target %lld.", at, static_cast<long long>(FTarget));
  }
  FocusAbsPosNP.s = state;
  FocusRelPosNP.s = state;
  IDSetNumber(&FocusRelPosNP, nullptr);
  IDSetNumber(&FocusAbsPosNP, nullptr);
}

IPState TMorvaneFocuser::StartMove(int64_t target) {
  if (!FClient) return IPS_ALERT;
  if (Busy()) {
    LOG_ERROR(BusyText);
    return IPS_ALERT;
  }
  if (target == FState.Position) return IPS_OK;  // Morvane would not move
  FMoving = true;
  FSawBusy = FAborted = false;
  FTarget = target;
  const TBusReply r = FClient->CallInt("MoveTo", static_cast<int32_t>(target));
  // Announcements read while waiting for the reply are taken once this request is done.
  IEAddTimer(
      0, [](void* self) { static_cast<TMorvaneFocuser*>(self)->ReadBus(); }, this);
  if (!r.Ok) {
    FMoving = false;
    if (r.NoService()) {
      LOG_ERROR("Morvane is not running on the session bus any more.");
    } else {
      LOGF_ERROR("Morvane refused the move: %s", r.ErrorMessage.c_str());
    }
    return IPS_ALERT;
  }
  return IPS_BUSY;
}

bool TMorvaneFocuser::ISNewNumber(const char* dev, const char* name, double values[], char* names[],
                                  int n) {
  if (dev && !std::strcmp(dev, getDeviceName()) && n > 0) {
    const bool absolute = !std::strcmp(name, FocusAbsPosNP.name);
    const bool relative = !std::strcmp(name, FocusRelPosNP.name);
    const bool timer = !std::strcmp(name, FocusTimerNP.name);
    // A client waits for OK before its next move: a request while moving is refused and
    // leaves the running move's state as it is.
    if ((absolute || relative || timer) && Busy()) {
      LOG_ERROR(BusyText);
      if (relative) IDSetNumber(&FocusRelPosNP, nullptr);
      if (timer) IDSetNumber(&FocusTimerNP, nullptr);
      IDSetNumber(&FocusAbsPosNP, nullptr);
      return true;
    }
    if (absolute || relative) {
      const double v = std::rint(values[0]);
      int64_t target = static_cast<int64_t>(v);
      if (relative) {
        if (v <= 0) {
          LOG_ERROR("A relative move needs a number of steps above zero.");
          FocusRelPosNP.s = IPS_ALERT;
          IDSetNumber(&FocusRelPosNP, nullptr);
          return true;
        }
        // In raises the count, as Morvane's In button does.
        const bool in = FocusMotionS[FOCUS_INWARD].s == ISS_ON;
        target = FState.Position + (in ? target : -target);
      }
      if (target < FocusAbsPosN[0].min || target > FocusAbsPosN[0].max) {
        LOGF_ERROR("Position %lld is outside %g to %g (the maximum is set in Max. Position).",
                   static_cast<long long>(target), FocusAbsPosN[0].min, FocusAbsPosN[0].max);
        INumberVectorProperty& p = relative ? FocusRelPosNP : FocusAbsPosNP;
        p.s = IPS_ALERT;
        IDSetNumber(&p, nullptr);
        return true;
      }
      const IPState state = StartMove(target);
      if (relative) {
        IUUpdateNumber(&FocusRelPosNP, values, names, n);
        FocusRelPosNP.s = state;
        IDSetNumber(&FocusRelPosNP, nullptr);
      }
      FocusAbsPosNP.s = state;
      IDSetNumber(&FocusAbsPosNP, nullptr);
      return true;
    }
  }
  return INDI::Focuser::ISNewNumber(dev, name, values, names, n);
}

// Both moves go through ISNewNumber above; these serve a caller of the base class.
IPState TMorvaneFocuser::MoveAbsFocuser(uint32_t targetTicks) {
  return StartMove(targetTicks);
}

IPState TMorvaneFocuser::MoveRelFocuser(FocusDirection dir, uint32_t ticks) {
  return StartMove(int64_t{FState.Position} +
                   (dir == FOCUS_INWARD ? int64_t{ticks} : -int64_t{ticks}));
}

IPState TMorvaneFocuser::MoveFocuser(FocusDirection dir, int, uint16_t duration) {
  if (!FClient) return IPS_ALERT;
  if (Busy()) {
    LOG_ERROR(BusyText);
    return IPS_ALERT;
  }
  const TBusReply r = FClient->CallBool("StartRun", dir == FOCUS_INWARD);
  if (!r.Ok) {
    LOGF_ERROR("Morvane refused the run: %s", r.ErrorMessage.c_str());
    return IPS_ALERT;
  }
  FRunning = true;
  if (duration > 0) FRunTimer = IEAddTimer(duration, &TMorvaneFocuser::OnRunTimer, this);
  return IPS_BUSY;
}

void TMorvaneFocuser::OnRunTimer(void* self) {
  auto* focuser = static_cast<TMorvaneFocuser*>(self);
  focuser->FRunTimer = -1;
  focuser->StopRun();
}

void TMorvaneFocuser::StopRun() {
  if (FRunTimer >= 0) IERmTimer(FRunTimer);
  FRunTimer = -1;
  FRunning = false;
  if (FClient) {
    const TBusReply r = FClient->Call("StopRun");
    if (!r.Ok) LOGF_ERROR("Morvane did not stop the run: %s", r.ErrorMessage.c_str());
  }
  FocusTimerNP.s = IPS_OK;
  IDSetNumber(&FocusTimerNP, nullptr);
}

bool TMorvaneFocuser::AbortFocuser() {
  if (!FClient) return false;
  if (FRunning) StopRun();
  if (FMoving || !FState.Idle) {
    FAborted = true;
    const TBusReply r = FClient->Call("Stop");
    if (!r.Ok) {
      LOGF_ERROR("Morvane did not stop: %s", r.ErrorMessage.c_str());
      return false;
    }
  }
  return true;
}

// The user's maximum bounds absolute moves; the base class keeps it in the configuration.
bool TMorvaneFocuser::SetFocuserMaxPosition(uint32_t ticks) {
  FocusAbsPosN[0].max = ticks;
  IUUpdateMinMax(&FocusAbsPosNP);
  return true;
}

void TMorvaneFocuser::ShowTemperatureAvailable(bool available) {
  if (!isConnected()) return;
  if (available && !FTemperatureShown) {
    defineProperty(&TemperatureNP);
    FTemperatureShown = true;
  } else if (!available && FTemperatureShown) {
    deleteProperty(TemperatureNP.name);
    FTemperatureShown = false;
  }
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

// Never during a move: a module exchange holds the serial line that the move drives.
void TMorvaneFocuser::ReadTemperature() {
  if (!FClient || !FTemperatureShown || Busy() || !FState.PortOpen) return;
  double celsius = 0;
  const TBusReply r = FClient->ReadTemperature(celsius);
  if (r.Ok) {
    TemperatureN[0].value = celsius;
    TemperatureNP.s = IPS_OK;
    FTemperatureFailed = false;
  } else if (r.ErrorName == BusyError) {
    return;  // a move began meanwhile; read at the next turn
  } else {
    TemperatureNP.s = IPS_ALERT;
    if (!FTemperatureFailed)
      LOGF_WARN("Reading the temperature failed: %s", r.ErrorMessage.c_str());
    FTemperatureFailed = true;
  }
  IDSetNumber(&TemperatureNP, nullptr);
}

}  // namespace morvane
