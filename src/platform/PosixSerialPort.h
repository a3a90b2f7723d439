#pragma once
// The serial port on a Linux tty: termios, poll, and the modem-line ioctls.

#include <memory>
#include <string>

#include "platform/SerialPort.h"

namespace morvane {

// Opens the device exclusively, clears RTS and DTR at once (opening a tty raises both, which
// would kick the motor) and puts the line into raw 9600 8N1 without flow control. Returns
// nullptr when the device is missing, is no tty, or is in use; errnoOut gets the reason.
std::unique_ptr<TSerialPort> OpenPosixSerialPort(const std::string& path, int* errnoOut = nullptr);

}  // namespace morvane
