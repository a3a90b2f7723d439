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
// A device that cannot report its modem lines or wait for them to change (a pseudo-terminal,
// a driver without modem status) is refused at opening: on it no encoder edge could ever be
// counted. Once the device goes away (unplugged, hung up) WaitCommEvent fails with peDeviceGone
// (EIO or ENODEV), also when the driver does not end the wait itself: a watcher thread reads the
// line counters again while a wait goes on (often just after it began, then once a second), which
// also bounds how late an edge that raced the start of the wait is reported. A negative
// waitMs for Read and Write waits without limit.

#include <memory>
#include <string>

#include "platform/PosixModemIo.h"
#include "platform/SerialPort.h"

namespace morvane {

// Opens the device exclusively, clears RTS and DTR at once (opening a tty raises both, which
// would kick the motor) and puts the line into raw 9600 8N1 without flow control. Returns
// nullptr when the device is missing, is no tty, is in use or has no modem lines to wait on;
// errnoOut gets the reason. The check of the modem-line wait takes a few milliseconds.
std::unique_ptr<TSerialPort> OpenPosixSerialPort(const std::string& path, int* errnoOut = nullptr);

// The same with the modem-line calls supplied by the caller.
std::unique_ptr<TSerialPort> OpenPosixSerialPort(const std::string& path,
                                                 std::unique_ptr<TModemIo> modemIo,
                                                 int* errnoOut = nullptr);

// What a failed open's errno means to the person at the telescope, and what fixes it: a user
// outside the port's group is told how to join the group that owns device (dialout when the
// device cannot be looked at).
std::string PortOpenAdvice(int error, const std::string& device = {});

// The open failed because the device is not there (yet): a USB adapter not plugged in or not
// yet enumerated.
bool DeviceMissing(int error);

// The name of the group that owns path; empty when it cannot be looked at or has no name.
std::string DeviceGroup(const std::string& path);

// The signal that interrupts a modem-event wait; its handler does nothing.
int SerialWakeSignal();

}  // namespace morvane
