#pragma once
// The serial port on a Linux tty: termios, poll, and the modem-line ioctls.
//
// Configure the line (SetCommState) before a thread starts waiting in WaitCommEvent: on
// 8250-type UARTs a termios change switches the modem-status interrupt off, and a wait
// already in the kernel would not wake again. SetCommState re-arms a pending wait itself,
// but an edge that comes during the change is lost.
//
// SetCommMask and Close release a thread blocked in WaitCommEvent with SerialWakeSignal(),
// sent to that thread until it has left the wait; the thread must not block that signal.
//
// On a device without modem lines (a pseudo-terminal, an unplugged adapter) WaitCommEvent,
// GetCommModemStatus and EscapeCommFunction fail at once, so a loop that waits again after a
// failed wait spins. A negative waitMs for Read and Write waits without limit.

#include <memory>
#include <string>

#include "platform/PosixModemIo.h"
#include "platform/SerialPort.h"

namespace morvane {

// Opens the device exclusively, clears RTS and DTR at once (opening a tty raises both, which
// would kick the motor) and puts the line into raw 9600 8N1 without flow control. Returns
// nullptr when the device is missing, is no tty, or is in use; errnoOut gets the reason.
std::unique_ptr<TSerialPort> OpenPosixSerialPort(const std::string& path, int* errnoOut = nullptr);

// The same with the modem-line calls supplied by the caller.
std::unique_ptr<TSerialPort> OpenPosixSerialPort(const std::string& path,
                                                 std::unique_ptr<TModemIo> modemIo,
                                                 int* errnoOut = nullptr);

// The signal that interrupts a modem-event wait; its handler does nothing.
int SerialWakeSignal();

}  // namespace morvane
