#pragma once
// What the Alpaca server knows of the running Morvane: the state it was last told on the bus,
// and the link to it that carries the few commands. Reads never leave this cache.

#include <cstdint>
#include <string>

#include "platform/BusContract.h"

namespace morvane::alpaca {

enum class TModule { mdUnknown, mdAbsent, mdPresent };

struct TFocuserView {
  bool MorvaneRunning = false;  // someone owns org.morvane.Morvane and its state was read
  bool PortOpen = false;
  bool Idle = true;
  bool Running = false;  // a coarse run (a button held in the window, a run over the bus)
  // A move was accepted and has not ended yet (its start may not have been signalled).
  bool MovePending = false;
  int32_t Position = 0;
  int32_t ComPort = 0;
  // The port's device, and why Morvane could not open it (empty while open, or from a Morvane
  // that does not say).
  std::string PortDevice;
  std::string PortProblem;
  // "Morvane's port COM n (device) is closed: why".
  std::string PortClosedMessage() const {
    std::string m = "Morvane's port COM " + std::to_string(ComPort);
    if (!PortDevice.empty()) m += " (" + PortDevice + ")";
    m += " is closed";
    if (!PortProblem.empty()) m += ": " + PortProblem;
    return m;
  }
  TModule Module = TModule::mdUnknown;
  bool HasTemperature = false;  // a reading is cached
  double Celsius = 0;
  std::string TemperatureError;  // why the last reading failed, if it did
  // Morvane's temperature compensation: whether it has the setting, and the setting.
  bool HasCompensation = false;
  bool TempComp = false;
  // Why Morvane last stopped the motor itself; empty since the next move began.
  std::string LastFault;
  // Morvane's position scale and travel limits (busclient/Follower.h's ClientScale).
  int32_t PositionScale = DefaultPositionScale;
  bool LimitsSet = false;
  int32_t LowerLimit = 0;
  int32_t UpperLimit = 0;
  // Compensation runs on the module's readings: without the module it cannot.
  bool TempCompAvailable() const { return HasCompensation && Module == TModule::mdPresent; }
  bool Moving() const { return MovePending || !Idle || Running; }
};

// lrOutsideLimits: a target outside Morvane's travel limits.
enum class TLinkResult { lrOk, lrNoService, lrPortClosed, lrBusy, lrOutsideLimits, lrFailed };

struct TLinkReply {
  TLinkResult Result = TLinkResult::lrOk;
  std::string Message;
};

// The bus side as the device logic uses it; the real one is TBusLink.
class TFocuserLink {
 public:
  virtual ~TFocuserLink() = default;
  virtual TFocuserView View() = 0;
  virtual TLinkReply MoveTo(int32_t count) = 0;
  virtual TLinkReply Stop() = 0;
  // Switches Morvane's temperature compensation on or off.
  virtual TLinkReply SetTempComp(bool on) {
    (void)on;
    return {TLinkResult::lrFailed, "temperature compensation cannot be set"};
  }
  // Asks for a temperature reading now (on connecting) and waits a little for it.
  virtual void RefreshTemperature() {}
  // Whether Morvane is there, looking for it again now and waiting up to ms if not seen yet.
  virtual bool AwaitMorvane(int ms) {
    (void)ms;
    return View().MorvaneRunning;
  }
};

}  // namespace morvane::alpaca
