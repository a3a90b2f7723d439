#pragma once
// What a client hears from Morvane on the bus, and how it is read off a message. Everything in
// a message comes from whoever sent it: the reading takes only what has the expected types.

#include <dbus/dbus.h>

#include <cstdint>
#include <optional>
#include <string>

namespace morvane {

// One notification: a "MORVANE_MESSAGE" (IsMessage) or the properties a PropertiesChanged
// carried.
struct TNotification {
  bool IsMessage = false;
  int32_t WParam = 0;
  int32_t LParam = 0;
  std::optional<int32_t> Position;
  std::optional<bool> Idle;
  std::optional<bool> PortOpen;
  std::optional<int32_t> ComPort;
  std::optional<bool> TemperatureAvailable;
  std::optional<bool> Running;
  std::optional<bool> PositionTrusted;
  std::optional<bool> ReverseDirection;
  std::optional<std::string> LastFault;
  std::optional<std::string> PortDevice;
  std::optional<std::string> PortProblem;
  std::optional<int32_t> PositionScale;
  // Travel limits, from a Morvane that has them.
  std::optional<bool> LimitsSet;
  std::optional<int32_t> LowerLimit;
  std::optional<int32_t> UpperLimit;
  // Compensation settings and state, each when it changed.
  std::optional<int32_t> BacklashMode;
  std::optional<int32_t> BacklashCodes;
  std::optional<bool> TempCompensation;
  std::optional<double> TempCoefficient;
  std::optional<int32_t> TempDeadBand;
  std::optional<int32_t> TempSamples;
  std::optional<double> TempReference;
  std::optional<bool> CompensationHeld;
  std::optional<int32_t> LastCompensationMove;
  // The bus name "org.morvane.Morvane" was taken (true) or given up (false): Morvane started
  // or ended.
  std::optional<bool> ServiceOwned;
  int64_t ReceivedUs = 0;  // monotonic clock
  std::string Sender;      // the sender's unique bus name

  bool operator==(const TNotification&) const = default;
};

// A property's value: an int32, a boolean or a double, as Type says.
struct TPropertyValue {
  int Type = DBUS_TYPE_INVALID;
  int32_t I = 0;
  bool B = false;
  double D = 0;
  std::string S;
};

// Reads the variant the iterator stands on; false unless it holds an int32, a boolean, a
// double or a string.
bool ReadVariant(DBusMessageIter* variant, TPropertyValue& v);

// Stores the Focuser1 properties of the a{sv} dictionary the iterator stands on; entries of
// other types, and properties it does not know, are passed over.
void StoreProperties(DBusMessageIter* dictionary, TNotification& n);

// The notification a signal carries: a "MORVANE_MESSAGE", Morvane's bus name changing hands,
// or Focuser1's PropertiesChanged. Nothing for any other message or one whose arguments are
// not as those signals have them. ReceivedUs is left for the caller to stamp.
std::optional<TNotification> DecodeNotification(DBusMessage* message);

}  // namespace morvane
