#pragma once
// Alpaca's error numbers, carried in a 200 reply's ErrorNumber.

namespace morvane::alpaca {

inline constexpr int NotImplemented = 0x400;
inline constexpr int InvalidValue = 0x401;
inline constexpr int NotConnected = 0x407;
inline constexpr int InvalidOperation = 0x40B;
inline constexpr int ActionNotImplemented = 0x40C;
// Morvane's own, from 0x500 on as the protocol reserves them for drivers.
inline constexpr int MorvaneNotRunning = 0x500;
inline constexpr int MorvanePortClosed = 0x501;
inline constexpr int MorvaneRefused = 0x502;
inline constexpr int CountOutOfRange = 0x503;
inline constexpr int TemperatureUnread = 0x504;
// Morvane stopped the motor itself: no encoder change while driven (an end stop, a jam, the
// encoder); reported once, by the IsMoving read that sees the move's end.
inline constexpr int MorvaneStalled = 0x505;

}  // namespace morvane::alpaca
