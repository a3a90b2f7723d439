#pragma once
// What another program relies on to talk to Morvane on the user's session bus, in one place:
// the names, the "MORVANE_MESSAGE" codes and the move limit. The window's service, the client
// library, morvanectl and the INDI driver all spell them from here. Plain C++, no Qt.

#include <cstdint>

namespace morvane {

// The name the running program owns, and the object its interfaces are on.
inline constexpr const char* MorvaneBusName = "org.morvane.Morvane";
inline constexpr const char* MorvaneObjectPath = "/org/morvane/Morvane";
// Methods and properties that answer (dbus/org.morvane.Focuser1.xml).
inline constexpr const char* Focuser1Interface = "org.morvane.Focuser1";
// Broadcasts: one signal per registered message name, "MORVANE_MESSAGE" among them.
inline constexpr const char* BroadcastInterface = "org.morvane.Broadcast";
inline constexpr const char* MorvaneMessageName = "MORVANE_MESSAGE";
// The bus's standard interface that gets, sets and announces properties.
inline constexpr const char* PropertiesInterface = "org.freedesktop.DBus.Properties";

// Focuser1's property and method names, spelled here once for the service and every client.
namespace BusProperty {
inline constexpr const char* Position = "Position";
inline constexpr const char* Idle = "Idle";
inline constexpr const char* Running = "Running";
inline constexpr const char* PortOpen = "PortOpen";
inline constexpr const char* ComPort = "ComPort";
inline constexpr const char* TemperatureAvailable = "TemperatureAvailable";
inline constexpr const char* PositionTrusted = "PositionTrusted";
inline constexpr const char* PortDevice = "PortDevice";
inline constexpr const char* PortProblem = "PortProblem";
inline constexpr const char* ReverseDirection = "ReverseDirection";
inline constexpr const char* BacklashMode = "BacklashMode";
inline constexpr const char* BacklashCodes = "BacklashCodes";
inline constexpr const char* TempCompensation = "TempCompensation";
inline constexpr const char* TempCoefficient = "TempCoefficient";
inline constexpr const char* TempDeadBand = "TempDeadBand";
inline constexpr const char* TempSamples = "TempSamples";
inline constexpr const char* TempReference = "TempReference";
inline constexpr const char* CompensationHeld = "CompensationHeld";
inline constexpr const char* LastCompensationMove = "LastCompensationMove";
inline constexpr const char* LastFault = "LastFault";
// The clients' position scale: INDI's FOCUS_MAX and Alpaca's MaxStep while no travel limits
// are set ([FocusControl] PositionScale).
inline constexpr const char* PositionScale = "PositionScale";
// Travel limits, counts; LowerLimit and UpperLimit mean something only while LimitsSet.
inline constexpr const char* LimitsSet = "LimitsSet";
inline constexpr const char* LowerLimit = "LowerLimit";
inline constexpr const char* UpperLimit = "UpperLimit";
}  // namespace BusProperty

namespace BusMethod {
inline constexpr const char* MoveBy = "MoveBy";
inline constexpr const char* MoveTo = "MoveTo";
inline constexpr const char* Stop = "Stop";
inline constexpr const char* ResetCount = "ResetCount";
inline constexpr const char* Sync = "Sync";
inline constexpr const char* StartRun = "StartRun";
inline constexpr const char* StartTimedRun = "StartTimedRun";
inline constexpr const char* StopRun = "StopRun";
inline constexpr const char* ReadTemperature = "ReadTemperature";
inline constexpr const char* HoldCompensation = "HoldCompensation";
inline constexpr const char* ReleaseCompensation = "ReleaseCompensation";
inline constexpr const char* MarkFocus = "MarkFocus";
inline constexpr const char* MeasureBacklash = "MeasureBacklash";
inline constexpr const char* SetLimits = "SetLimits";
inline constexpr const char* ClearLimits = "ClearLimits";
inline constexpr const char* FindTravel = "FindTravel";
}  // namespace BusMethod

// The clients' position scale without a PositionScale key: the INDI driver's FOCUS_MAX of
// old, so that a driver configuration saved with it keeps its positions. Its range is
// FOCUS_MAX's.
inline constexpr int32_t DefaultPositionScale = 100000;
inline constexpr int32_t LeastPositionScale = 1000;
inline constexpr int32_t MostPositionScale = 1000000;

// Errors a Focuser1 method answers with.
inline constexpr const char* BusyError = "org.morvane.Error.Busy";
inline constexpr const char* PortClosedError = "org.morvane.Error.PortClosed";
inline constexpr const char* NotAvailableError = "org.morvane.Error.NotAvailable";
inline constexpr const char* FailedError = "org.morvane.Error.Failed";
// Stop, a cancel or another move ended what the method waited for.
inline constexpr const char* StoppedError = "org.morvane.Error.Stopped";
// A move to a target outside the travel limits; the message names the limits.
inline constexpr const char* OutsideLimitsError = "org.morvane.Error.OutsideLimits";

// Morvane's exit status when another copy already drives the focuser on this session (a
// second copy without a window, or a window while one with a window runs). A service manager
// does not restart on it (data/morvane.service.in: RestartPreventExitStatus).
inline constexpr int AlreadyRunningExitStatus = 3;

// "MORVANE_MESSAGE" (wParam, lParam): the wParam codes. Any other code is ignored.
enum TMorvaneMessage : int32_t {
  mmReportPosition = 1,  // to the program: answer with mmPosition
  mmPosition = 2,        // from the program: lParam is the readout's position
  mmMoveTo = 3,          // to the program: move to the count lParam
  mmMoveBy = 4,          // to the program: move by lParam codes
  mmReportIdle = 5,      // to the program: answer with mmIdle
  mmIdle = 6,            // from the program: lParam 1 idle, 0 moving
  mmCountReset = 8,      // from the program, lParam 0: the count was just set to zero
};

// Farthest target count a move from another program may name, either way from zero: the count
// and the motion code hold it with room to spare, and two million turns of any focuser lie
// inside.
inline constexpr int64_t MoveLimit = 1000000000;

// The ranges of the compensation settings (BacklashCodes, TempCoefficient, TempDeadBand,
// TempSamples). Morvane brings a written value into them; the programs beside it refuse one
// outside them, so that what a user typed is never silently changed.
inline constexpr int32_t MostCompensationCodes = 10000;
inline constexpr int32_t MostCompensationSamples = 100;
inline constexpr double MostCompensationCoefficient = 10000.0;

}  // namespace morvane
