#pragma once
// The modem-line calls of a tty behind an interface, so that the blocking modem-event wait
// and its release can be exercised on a pseudo-terminal, which has no modem lines.

#include <memory>

#include "platform/SerialPort.h"

namespace morvane {

// Every call returns 0 or an errno value. Lines are TIOCM_* bits.
class TModemIo {
 public:
  virtual ~TModemIo() = default;
  virtual int GetLines(int fd, int& lines) = 0;                // TIOCMGET
  virtual int ChangeLines(int fd, int lines, bool raise) = 0;  // TIOCMBIS / TIOCMBIC
  virtual int GetCounts(int fd, TModemCounts& counts) = 0;     // TIOCGICOUNT
  // Blocks until one of the lines changes (TIOCMIWAIT). A signal makes it return EINTR.
  virtual int WaitChange(int fd, int lines) = 0;
};

// The ioctls of a real tty.
std::unique_ptr<TModemIo> MakeTtyModemIo();

}  // namespace morvane
