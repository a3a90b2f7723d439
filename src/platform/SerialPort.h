#pragma once
// The serial port as the controller uses it: the operations of a Windows comm port, behind
// one interface so that the controller runs the same on a tty (PosixSerialPort) and on the
// simulated focuser (sim/SimFocuser).

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

namespace morvane {

// Event-mask bits (SetCommMask, WaitCommEvent).
inline constexpr uint32_t EV_CTS = 0x0008;
inline constexpr uint32_t EV_DSR = 0x0010;

// Modem-status bits (GetCommModemStatus).
inline constexpr uint32_t MS_CTS_ON = 0x0010;
inline constexpr uint32_t MS_DSR_ON = 0x0020;

// Line functions (EscapeCommFunction).
inline constexpr uint8_t SETRTS = 3;
inline constexpr uint8_t CLRRTS = 4;
inline constexpr uint8_t SETDTR = 5;
inline constexpr uint8_t CLRDTR = 6;

// Purge flags (PurgeComm); all four together are 15.
inline constexpr uint32_t PURGE_TXABORT = 0x0001;
inline constexpr uint32_t PURGE_RXABORT = 0x0002;
inline constexpr uint32_t PURGE_TXCLEAR = 0x0004;
inline constexpr uint32_t PURGE_RXCLEAR = 0x0008;

// Bits of the line-settings flags word.
inline constexpr uint32_t fBinary = 1u << 0;
inline constexpr uint32_t fParity = 1u << 1;
inline constexpr uint32_t fOutxCtsFlow = 1u << 2;
inline constexpr uint32_t fOutxDsrFlow = 1u << 3;
inline constexpr uint32_t fDtrControlMask = 3u << 4;
inline constexpr uint32_t fDsrSensitivity = 1u << 6;
inline constexpr uint32_t fTXContinueOnXoff = 1u << 7;
inline constexpr uint32_t fOutX = 1u << 8;
inline constexpr uint32_t fInX = 1u << 9;
inline constexpr uint32_t fErrorChar = 1u << 10;
inline constexpr uint32_t fNull = 1u << 11;
inline constexpr uint32_t fRtsControlMask = 3u << 12;
inline constexpr uint32_t fAbortOnError = 1u << 14;

// Interrupt counts of the input lines: each change of a line adds one, whether or not anyone
// waits or reads at the time.
struct TModemCounts {
  int Cts = 0;
  int Dsr = 0;
  bool operator==(const TModemCounts&) const = default;
};

// Changes between two readings of one counter, which wraps as the kernel's does.
inline int CounterChanges(int before, int after) {
  return static_cast<int>(static_cast<uint32_t>(after) - static_cast<uint32_t>(before));
}

// The line-settings record (the Windows DCB, 28 bytes there).
struct TLineSettings {
  uint32_t DCBlength = 0;
  uint32_t BaudRate = 0;
  uint32_t Flags = 0;
  uint16_t XonLim = 0;
  uint16_t XoffLim = 0;
  uint8_t ByteSize = 0;
  uint8_t Parity = 0;    // 0 none
  uint8_t StopBits = 0;  // 0 one stop bit
  char XonChar = 0;
  char XoffChar = 0;
  char ErrorChar = 0;
  char EofChar = 0;
  char EvtChar = 0;
};

// Time-outs in milliseconds, as COMMTIMEOUTS. A read completes when its byte count has
// arrived or when ReadTotalTimeoutConstant + ReadTotalTimeoutMultiplier * count has passed
// since it started (then with fewer bytes). All-zero read time-outs mean "wait for all bytes".
struct TCommTimeouts {
  uint32_t ReadIntervalTimeout = 0;
  uint32_t ReadTotalTimeoutMultiplier = 0;
  uint32_t ReadTotalTimeoutConstant = 0;
  uint32_t WriteTotalTimeoutMultiplier = 0;
  uint32_t WriteTotalTimeoutConstant = 0;
};

// Outcome of a transfer waited for by its caller (the overlapped operation plus its wait).
enum class TIoResult {
  Done,      // completed; for a read, possibly with fewer bytes after the total time-out
  TimedOut,  // the caller's wait ran out first; the transfer has been cancelled
  Aborted,   // a purge with the matching ABORT flag ended it
  Failed     // the device refused or is gone
};

// Why a port operation failed. The system's error is mapped once, by PortErrorOf where the
// operation failed, so that no caller reads errno after a port's call.
enum class TPortError {
  peNone,          // succeeded
  peDeviceGone,    // EIO, ENODEV, ENXIO: the device itself has gone (a USB adapter pulled out,
                   // a line hung up); nothing on the port works again until it is opened afresh
  peClosed,        // EBADF: the port is closed or closing
  peBusy,          // EBUSY: another thread already waits on the port
  peNotSupported,  // ENOTTY, EINVAL: the device or its driver cannot do this (no line counters,
                   // a setting a tty cannot take, a mask without lines to wait on)
  peFailed         // any other refusal
};

inline TPortError PortErrorOf(int error) {
  switch (error) {
    case 0:
      return TPortError::peNone;
    case EIO:
    case ENODEV:
    case ENXIO:
      return TPortError::peDeviceGone;
    case EBADF:
      return TPortError::peClosed;
    case EBUSY:
      return TPortError::peBusy;
    case ENOTTY:
    case EINVAL:
      return TPortError::peNotSupported;
    default:
      return TPortError::peFailed;
  }
}

// The outcome of a port operation: true when it succeeded, else Error() says why.
class TPortResult {
 public:
  constexpr TPortResult() = default;
  // Implicit, so that an operation returns its failure's reason as it is.
  constexpr TPortResult(TPortError error) : FError(error) {}
  constexpr explicit operator bool() const { return FError == TPortError::peNone; }
  constexpr TPortError Error() const { return FError; }

 private:
  TPortError FError = TPortError::peNone;
};

// One open port. Every operation may be called from any thread at any time: the counting
// thread blocks in WaitCommEvent while others write, read, purge and switch lines.
// Operations a device does not support fail cleanly (a failed TPortResult, TIoResult::Failed).
class TSerialPort {
 public:
  virtual ~TSerialPort() = default;

  virtual TPortResult GetCommState(TLineSettings& settings) = 0;
  virtual TPortResult SetCommState(const TLineSettings& settings) = 0;

  // Mask 0 releases a thread blocked in WaitCommEvent: it returns true with eventMask 0.
  virtual TPortResult SetCommMask(uint32_t mask) = 0;
  // Blocks until a modem-status change selected by the mask; eventMask says which. Fails with
  // peDeviceGone when the device has gone while waited on.
  virtual TPortResult WaitCommEvent(uint32_t& eventMask) = 0;
  virtual TPortResult GetCommModemStatus(uint32_t& modemStatus) = 0;
  // The line counters with the modem status that goes with them, read as one: the device counts
  // every change where it sees it (a UART's interrupt, a USB adapter's status report), so a
  // reader that comes late still learns how many changes it missed. Fails with peNotSupported
  // where the device keeps no counters.
  virtual TPortResult GetCommCounts(TModemCounts& counts, uint32_t& modemStatus) = 0;

  virtual TPortResult EscapeCommFunction(uint8_t func) = 0;

  virtual TPortResult GetCommTimeouts(TCommTimeouts& timeouts) = 0;
  virtual TPortResult SetCommTimeouts(const TCommTimeouts& timeouts) = 0;

  // Aborts reads and writes outstanding on the port (the ABORT flags) and empties the
  // buffers (the CLEAR flags).
  virtual TPortResult PurgeComm(uint32_t flags) = 0;

  // Writes len bytes, waiting at most waitMs for completion.
  virtual TIoResult Write(const char* data, size_t len, int waitMs) = 0;
  // Reads up to count bytes into dest within the port's read time-outs, waiting at most
  // waitMs; got is the number of bytes delivered. After TimedOut or Aborted dest is no
  // longer touched.
  virtual TIoResult Read(char* dest, size_t count, size_t& got, int waitMs) = 0;

  // Releases a blocked WaitCommEvent if any, then closes. Idempotent.
  virtual void Close() = 0;
};

// Opens port n (COMn). Returns nullptr when the device is missing or already in use.
using TPortOpener = std::function<std::unique_ptr<TSerialPort>(int n)>;

}  // namespace morvane
