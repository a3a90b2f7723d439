#pragma once
// A client of a running Morvane on the user's session bus, in plain C++ over libdbus: calls
// of "org.morvane.Focuser1", its properties, its PropertiesChanged notifications and the
// "MORVANE_MESSAGE" signal. For the programs beside Morvane (morvanectl, the INDI driver) and
// the tests. One thread at a time.

#include <dbus/dbus.h>

#include <cstdint>
#include <deque>
#include <optional>
#include <string>

#include "busclient/Notification.h"
#include "platform/BusContract.h"

namespace morvane {

// The outcome of a call: Ok, or the D-Bus error's name and message.
struct TBusReply {
  bool Ok = false;
  std::string ErrorName;
  std::string ErrorMessage;
  bool NoService() const;  // nobody owns the name, or the bus is not there
};

struct TFocuserState {
  int32_t Position = 0;
  bool Idle = true;
  bool PortOpen = false;
  int32_t ComPort = 0;
  bool TemperatureAvailable = false;
  bool Running = false;  // a coarse run (absent from an older Morvane: false)
  // False while Morvane's count is one restored after no clean exit, or one that found
  // encoder edges lost (absent: true).
  bool PositionTrusted = true;
  bool ReverseDirection = false;  // absent from an older Morvane: false
  // Why Morvane last stopped the motor itself (empty: no fault since the last move began,
  // or an older Morvane).
  std::string LastFault;
  // The device behind the port and why it is not open (absent from an older Morvane: empty).
  std::string PortDevice;
  std::string PortProblem;
  // The clients' position scale (absent: DefaultPositionScale).
  int32_t PositionScale = DefaultPositionScale;
  // Travel limits in counts, while LimitsSet (absent from a Morvane without them: none).
  bool LimitsSet = false;
  int32_t LowerLimit = 0;
  int32_t UpperLimit = 0;
};

// Backlash and temperature compensation as Morvane has them: its settings and the live state.
struct TCompensationState {
  int32_t BacklashMode = 0;  // 0 off, 1 inward, 2 outward
  int32_t BacklashCodes = 0;
  bool TempCompensation = false;
  double TempCoefficient = 0;  // codes per degree Celsius
  int32_t TempDeadBand = 0;
  int32_t TempSamples = 0;
  double TempReference = 0;  // degrees Celsius
  bool CompensationHeld = false;
  int32_t LastCompensationMove = 0;
};

class TFocuserClient {
 public:
  TFocuserClient();
  ~TFocuserClient();
  TFocuserClient(const TFocuserClient&) = delete;
  TFocuserClient& operator=(const TFocuserClient&) = delete;

  // False when the session bus cannot be reached; Error() says why.
  bool Connected() const { return FConnection != nullptr; }
  // Still connected: false once the bus has gone.
  bool Open() const { return FConnection && dbus_connection_get_is_connected(FConnection); }
  const std::string& Error() const { return FError; }
  // Whether some program owns "org.morvane.Morvane" now.
  bool ServiceRunning();
  // This connection's unique name on the bus.
  std::string UniqueName() const;

  // Methods of org.morvane.Focuser1.
  TBusReply Call(const char* method);
  TBusReply CallInt(const char* method, int32_t value);
  TBusReply CallBool(const char* method, bool value);
  // StartTimedRun(in, milliseconds).
  TBusReply CallBoolUInt(const char* method, bool b, uint32_t u);
  TBusReply ReadTemperature(double& celsius);
  // MarkFocus: the temperature and the count logged.
  TBusReply MarkFocus(double& celsius, int32_t& position);
  // MeasureBacklash: waits for its end, up to MeasureTimeoutMs.
  struct TBacklashAnswer {
    bool Seen = false;
    double PlayCodes = 0;
    double Uncertainty = 0;
    std::string Text;
  };
  TBusReply MeasureBacklash(TBacklashAnswer& answer);
  int MeasureTimeoutMs = 300000;
  // SetLimits(lower, upper).
  TBusReply CallIntInt(const char* method, int32_t a, int32_t b);
  // FindTravel: waits for its end, up to FindTravelTimeoutMs; the counts at the end stops.
  TBusReply FindTravel(int32_t& lowerStop, int32_t& upperStop);
  int FindTravelTimeoutMs = 1200000;
  TBusReply GetState(TFocuserState& state);
  // The state and, from a Morvane that has them, the compensation settings, in one reading.
  TBusReply GetState(TFocuserState& state, std::optional<TCompensationState>& compensation);
  TBusReply GetPosition(int32_t& position);
  // A string property ("PortDevice", "PortProblem"); an error from a Morvane without it.
  TBusReply GetStringProperty(const char* name, std::string& value);
  // Writes an int32 property of org.morvane.Focuser1.
  TBusReply SetIntProperty(const char* name, int32_t value);
  TBusReply SetBoolProperty(const char* name, bool value);
  TBusReply SetDoubleProperty(const char* name, double value);
  // Every compensation property; an error when Morvane has none (an older one).
  TBusReply GetCompensation(TCompensationState& state);

  // Starts listening: to PropertiesChanged of the interface's owner and to the owner coming
  // and going, and to
  // "MORVANE_MESSAGE" from anyone when messages is true.
  bool Watch(bool messages);
  // Broadcasts "MORVANE_MESSAGE" (wParam, lParam) as another program would.
  bool SendMessage(int32_t wParam, int32_t lParam);
  // The next notification, waiting up to timeoutMs (0: only what has arrived).
  std::optional<TNotification> Next(int timeoutMs);
  // For a program's own event loop: the descriptor to watch for input; then call Next(0)
  // until it gives nothing.
  int Fd() const;

  int CallTimeoutMs = 5000;

 private:
  TBusReply Send(DBusMessage* call, DBusMessage** reply);
  TBusReply GetProperty(const char* name, DBusMessage** reply);
  TBusReply SetProperty(const char* name, int type, const void* value);
  TBusReply GetAll(TNotification& properties);
  void Decode(DBusMessage* message);

  DBusConnection* FConnection = nullptr;
  std::string FError;
  std::deque<TNotification> FQueue;
};

}  // namespace morvane
