#include "platform/PosixSerialPort.h"

#include <fcntl.h>
#include <grp.h>
#include <linux/serial.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace morvane {

namespace {

using TClock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr uint32_t MAXDWORD = 0xFFFFFFFFu;
constexpr uint32_t LineSettingsLength = 28;  // the record's size on the system it comes from

constexpr uint8_t SETBREAK = 8;
constexpr uint8_t CLRBREAK = 9;
constexpr uint32_t MS_RING_ON = 0x0040;
constexpr uint32_t MS_RLSD_ON = 0x0080;

constexpr uint32_t DtrControlEnable = 1u << 4;
constexpr uint32_t RtsControlEnable = 1u << 12;
constexpr uint32_t RtsControlHandshake = 2u << 12;

// The kernel notes the line counters when a modem wait begins, so an edge that lands between
// our own reading of them and that moment would be reported only with the next edge. A watcher
// thread reads them again while the wait goes on, without disturbing it: soon after the wait
// began, when such an edge is likely, then ever less often while the encoder is still.
constexpr int FirstRecheckMs = 2;
constexpr int LastRecheckMs = 1024;

// Flags that termios holds; the rest of the flags word is kept as last set.
constexpr uint32_t TermiosFlags =
    fBinary | fParity | fOutxCtsFlow | fOutX | fInX | fNull | fRtsControlMask;

void OnWakeSignal(int) {}

void InstallWakeHandler() {
  static std::once_flag once;
  std::call_once(once, [] {
    struct sigaction action {};
    action.sa_handler = OnWakeSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART: the interrupted modem wait must come back with EINTR
    sigaction(SerialWakeSignal(), &action, nullptr);
  });
}

class TTtyModemIo final : public TModemIo {
 public:
  int GetLines(int fd, int& lines) override { return ioctl(fd, TIOCMGET, &lines) == 0 ? 0 : errno; }
  int ChangeLines(int fd, int lines, bool raise) override {
    return ioctl(fd, raise ? TIOCMBIS : TIOCMBIC, &lines) == 0 ? 0 : errno;
  }
  int GetCounts(int fd, TModemCounts& counts) override {
    serial_icounter_struct icount{};
    if (ioctl(fd, TIOCGICOUNT, &icount) != 0) return errno;
    counts.Cts = icount.cts;
    counts.Dsr = icount.dsr;
    return 0;
  }
  int WaitChange(int fd, int lines) override {
    return ioctl(fd, TIOCMIWAIT, static_cast<unsigned long>(lines)) == 0 ? 0 : errno;
  }
};

struct TBaud {
  uint32_t Rate;
  speed_t Speed;
};

constexpr TBaud Bauds[] = {
    {110, B110},       {300, B300},       {600, B600},       {1200, B1200},     {2400, B2400},
    {4800, B4800},     {9600, B9600},     {19200, B19200},   {38400, B38400},   {57600, B57600},
    {115200, B115200}, {230400, B230400}, {460800, B460800}, {921600, B921600},
};

std::optional<speed_t> SpeedOf(uint32_t rate) {
  for (const TBaud& b : Bauds) {
    if (b.Rate == rate) return b.Speed;
  }
  return std::nullopt;
}

uint32_t RateOf(speed_t speed) {
  for (const TBaud& b : Bauds) {
    if (b.Speed == speed) return b.Rate;
  }
  return 0;
}

int ModemLinesOf(uint32_t eventMask) {
  int lines = 0;
  if (eventMask & EV_CTS) lines |= TIOCM_CTS;
  if (eventMask & EV_DSR) lines |= TIOCM_DSR;
  return lines;
}

uint32_t EventsOfLines(int changedLines) {
  uint32_t events = 0;
  if (changedLines & TIOCM_CTS) events |= EV_CTS;
  if (changedLines & TIOCM_DSR) events |= EV_DSR;
  return events;
}

uint32_t EventsOfCounts(const TModemCounts& before, const TModemCounts& after) {
  uint32_t events = 0;
  if (after.Cts != before.Cts) events |= EV_CTS;
  if (after.Dsr != before.Dsr) events |= EV_DSR;
  return events;
}

void Wake(int eventFd) {
  const uint64_t one = 1;
  [[maybe_unused]] const ssize_t n = write(eventFd, &one, sizeof one);
}

enum class TPollOutcome { Ready, Woken, Expired, Broken };

// Waits until fd is ready for events (none: only the wake-up counts), wakeFd is signalled or
// until passes. Returns Broken when the device reports an error or hang-up.
TPollOutcome PollFor(int fd, short events, int wakeFd, std::optional<TClock::time_point> until) {
  for (;;) {
    timespec timeout{};
    timespec* timeoutArg = nullptr;
    if (until) {
      const auto left = std::max(TClock::duration::zero(), *until - TClock::now());
      const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
      timeout.tv_sec = static_cast<time_t>(ns / 1000000000);
      timeout.tv_nsec = static_cast<long>(ns % 1000000000);
      timeoutArg = &timeout;
    }
    pollfd fds[2] = {{fd, events, 0}, {wakeFd, POLLIN, 0}};
    const int rc = ppoll(fds, 2, timeoutArg, nullptr);
    if (rc < 0) {
      if (errno == EINTR) continue;
      return TPollOutcome::Broken;
    }
    if (fds[1].revents & POLLIN) return TPollOutcome::Woken;
    if (fds[0].revents & (POLLERR | POLLNVAL)) return TPollOutcome::Broken;
    if (fds[0].revents & events) return TPollOutcome::Ready;
    if (fds[0].revents & POLLHUP) return TPollOutcome::Broken;
    if (rc == 0) return TPollOutcome::Expired;
  }
}

std::optional<TClock::time_point> Earliest(std::optional<TClock::time_point> a,
                                           std::optional<TClock::time_point> b) {
  if (!a) return b;
  if (!b) return a;
  return std::min(*a, *b);
}

bool Reached(std::optional<TClock::time_point> t, TClock::time_point now) {
  return t && now >= *t;
}

// Removes NUL bytes from the first n bytes of p; returns how many are left.
size_t DropNuls(char* p, size_t n) {
  return static_cast<size_t>(std::remove(p, p + n, '\0') - p);
}

// 0 when the device can report its modem lines and wait for them to change, else the errno of
// its refusal. A pseudo-terminal, or a driver without modem status, cannot: a port opened on
// it would never see an encoder edge, and a move would run until stopped by hand. A wait the
// driver refuses comes back at once; one it serves blocks until a signal ends it.
int ProbeModemWait(int fd, TModemIo& io) {
  int lines = 0;
  if (const int error = io.GetLines(fd, lines); error != 0) return error;
  std::atomic<bool> done{false};
  int result = 0;
  std::thread waiter([&] {
    result = io.WaitChange(fd, TIOCM_CTS | TIOCM_DSR);
    done.store(true);
  });
  const auto grace = TClock::now() + milliseconds(2);
  while (!done.load() && TClock::now() < grace) std::this_thread::sleep_for(milliseconds(1));
  // Repeated: a signal that lands before the wait has begun is lost.
  while (!done.load()) {
    pthread_kill(waiter.native_handle(), SerialWakeSignal());
    std::this_thread::sleep_for(milliseconds(1));
  }
  waiter.join();
  return result == 0 || result == EINTR ? 0 : result;
}

// A read or write in progress, registered with its port so that a purge or a close can end
// it through its own wake-up descriptor.
struct TPendingOp {
  bool IsRead = false;
  int WakeFd = -1;
  bool Ended = false;                  // set by a purge or a close
  TIoResult Reason = TIoResult::Done;  // Aborted by a purge, Failed by a close
};

class TPosixSerialPort final : public TSerialPort {
 public:
  TPosixSerialPort(int fd, std::unique_ptr<TModemIo> modemIo)
      : FFd(fd), FModemIo(std::move(modemIo)) {
    FStored.DCBlength = LineSettingsLength;
    FStored.XonLim = 2048;
    FStored.XoffLim = 512;
    TModemCounts counts;
    FCountsValid = FModemIo->GetCounts(FFd, counts) == 0;
    if (FCountsValid) FLastCounts = counts;
  }

  ~TPosixSerialPort() override { Close(); }

  TPortResult GetCommState(TLineSettings& settings) override {
    const std::lock_guard<std::mutex> guard(FLock);
    termios tio{};
    if (FClosing) return TPortError::peClosed;
    if (tcgetattr(FFd, &tio) != 0) return PortErrorOf(errno);
    settings = FStored;
    settings.DCBlength = LineSettingsLength;
    settings.BaudRate = RateOf(cfgetospeed(&tio));
    switch (tio.c_cflag & CSIZE) {
      case CS5:
        settings.ByteSize = 5;
        break;
      case CS6:
        settings.ByteSize = 6;
        break;
      case CS7:
        settings.ByteSize = 7;
        break;
      default:
        settings.ByteSize = 8;
        break;
    }
    if (!(tio.c_cflag & PARENB)) {
      settings.Parity = 0;
    } else if (tio.c_cflag & CMSPAR) {
      settings.Parity = (tio.c_cflag & PARODD) ? 3 : 4;  // mark : space
    } else {
      settings.Parity = (tio.c_cflag & PARODD) ? 1 : 2;  // odd : even
    }
    settings.StopBits = !(tio.c_cflag & CSTOPB) ? 0 : (FStored.StopBits == 1 ? 1 : 2);
    uint32_t flags = (FStored.Flags & ~TermiosFlags) | fBinary;
    if (tio.c_iflag & INPCK) flags |= fParity;
    // One termios flag stands for both directions of hardware handshake.
    if (tio.c_cflag & CRTSCTS) {
      flags |= fOutxCtsFlow | RtsControlHandshake;
    } else {
      flags |= FStored.Flags & RtsControlEnable;
    }
    if (tio.c_iflag & IXON) flags |= fOutX;
    if (tio.c_iflag & IXOFF) flags |= fInX;
    if (FDropNul) flags |= fNull;
    settings.Flags = flags;
    settings.XonChar = static_cast<char>(tio.c_cc[VSTART]);
    settings.XoffChar = static_cast<char>(tio.c_cc[VSTOP]);
    return {};
  }

  TPortResult SetCommState(const TLineSettings& settings) override {
    const std::optional<speed_t> speed = SpeedOf(settings.BaudRate);
    const uint32_t flags = settings.Flags;
    const uint32_t dtrControl = flags & fDtrControlMask;
    const uint32_t rtsControl = flags & fRtsControlMask;
    // Not to be had from a tty: DSR handshake, DTR handshake and RTS toggling.
    const bool supported = speed && settings.ByteSize >= 5 && settings.ByteSize <= 8 &&
                           settings.Parity <= 4 && settings.StopBits <= 2 &&
                           !(flags & (fOutxDsrFlow | fDsrSensitivity)) &&
                           dtrControl <= DtrControlEnable && rtsControl <= RtsControlHandshake;
    if (!supported) {
      return TPortError::peNotSupported;
    }
    std::unique_lock<std::mutex> lock(FLock);
    termios tio{};
    if (FClosing) return TPortError::peClosed;
    if (tcgetattr(FFd, &tio) != 0) return PortErrorOf(errno);
    static constexpr tcflag_t Sizes[] = {CS5, CS6, CS7, CS8};
    tio.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    tio.c_cflag |= Sizes[settings.ByteSize - 5];
    if (settings.Parity != 0) tio.c_cflag |= PARENB;
    if (settings.Parity == 1 || settings.Parity == 3) tio.c_cflag |= PARODD;
    if (settings.Parity >= 3) tio.c_cflag |= CMSPAR;
    if (settings.StopBits != 0) tio.c_cflag |= CSTOPB;
    if ((flags & fOutxCtsFlow) || rtsControl == RtsControlHandshake) tio.c_cflag |= CRTSCTS;
    tio.c_iflag &= ~(INPCK | IXON | IXOFF);
    if (flags & fParity) tio.c_iflag |= INPCK;
    if (flags & fOutX) tio.c_iflag |= IXON;
    if (flags & fInX) tio.c_iflag |= IXOFF;
    tio.c_cc[VSTART] = static_cast<cc_t>(settings.XonChar);
    tio.c_cc[VSTOP] = static_cast<cc_t>(settings.XoffChar);
    cfsetispeed(&tio, *speed);
    cfsetospeed(&tio, *speed);
    if (tcsetattr(FFd, TCSANOW, &tio) != 0) return PortErrorOf(errno);
    FStored = settings;
    FDropNul = (flags & fNull) != 0;
    FBaud = settings.BaudRate;
    // "Enable" raises the line; "disable" leaves it to EscapeCommFunction.
    if (dtrControl == DtrControlEnable) FModemIo->ChangeLines(FFd, TIOCM_DTR, true);
    if (rtsControl == RtsControlEnable) FModemIo->ChangeLines(FFd, TIOCM_RTS, true);
    // The termios change may have switched the modem-status interrupt off under a pending
    // wait; passing the waiter through its loop makes it wait afresh, which switches it on.
    KickWaiter(lock);
    return {};
  }

  TPortResult SetCommMask(uint32_t mask) override {
    std::unique_lock<std::mutex> lock(FLock);
    if (FClosing) return TPortError::peClosed;
    const uint32_t previous = FMask;
    FMask = mask;
    ++FMaskEpoch;
    if (previous == 0 && mask != 0) {  // changes while nothing was watched do not count
      TModemCounts counts;
      FCountsValid = FModemIo->GetCounts(FFd, counts) == 0;
      if (FCountsValid) FLastCounts = counts;
    }
    KickWaiter(lock);
    return {};
  }

  TPortResult WaitCommEvent(uint32_t& eventMask) override {
    eventMask = 0;
    std::unique_lock<std::mutex> lock(FLock);
    if (FClosing || FWaiterActive) {  // one waiter at a time, as on the system
      return FClosing ? TPortError::peClosed : TPortError::peBusy;
    }
    if (FMask == 0) return {};
    const uint32_t mask = FMask & (EV_CTS | EV_DSR);
    const int lines = ModemLinesOf(mask);
    if (lines == 0) {
      return TPortError::peNotSupported;
    }
    const uint64_t epoch = FMaskEpoch;
    FWaiterActive = true;
    FWaiter = pthread_self();
    ++FUsers;
    bool ok = false;
    int failure = 0;
    for (;;) {
      FWaiterSeenKick = FKickCount;
      FChanged.notify_all();
      if (FClosing || FMaskEpoch != epoch) {  // released
        ok = true;
        eventMask = 0;
        break;
      }
      // Changes since the last report are reported at once; the counters miss nothing
      // between two waits, the levels would miss a short pulse.
      TModemCounts now;
      const int countError = FModemIo->GetCounts(FFd, now);
      if (PortErrorOf(countError) == TPortError::peDeviceGone) {
        failure = countError;
        break;
      }
      const bool counted = countError == 0;
      if (counted) {
        const uint32_t changed = FCountsValid ? EventsOfCounts(FLastCounts, now) & mask : 0;
        FLastCounts = now;
        FCountsValid = true;
        if (changed != 0) {
          ok = true;
          eventMask = changed;
          break;
        }
      }
      int before = 0;
      const bool haveBefore = !counted && FModemIo->GetLines(FFd, before) == 0;
      if (counted) WatchWait(now, lines);
      lock.unlock();
      const int error = FModemIo->WaitChange(FFd, lines);
      lock.lock();
      FWaitWatched = false;
      if (error == EINTR) continue;
      if (error != 0) {
        failure = error;
        break;
      }
      if (counted || FClosing || FMaskEpoch != epoch) continue;
      // No counters on this device: the lines whose level moved, else the ones waited for.
      int after = 0;
      uint32_t changed = 0;
      if (haveBefore && FModemIo->GetLines(FFd, after) == 0) {
        changed = EventsOfLines(before ^ after) & mask;
      }
      ok = true;
      eventMask = changed != 0 ? changed : mask;
      break;
    }
    FWaiterActive = false;
    --FUsers;
    FChanged.notify_all();
    if (!ok) return PortErrorOf(failure);
    return {};
  }

  TPortResult GetCommModemStatus(uint32_t& modemStatus) override {
    modemStatus = 0;
    const std::lock_guard<std::mutex> guard(FLock);
    int lines = 0;
    if (FClosing) return TPortError::peClosed;
    if (const int error = FModemIo->GetLines(FFd, lines); error != 0) {
      return PortErrorOf(error);
    }
    if (lines & TIOCM_CTS) modemStatus |= MS_CTS_ON;
    if (lines & TIOCM_DSR) modemStatus |= MS_DSR_ON;
    if (lines & TIOCM_RNG) modemStatus |= MS_RING_ON;
    if (lines & TIOCM_CAR) modemStatus |= MS_RLSD_ON;
    return {};
  }

  TPortResult GetCommCounts(TModemCounts& counts, uint32_t& modemStatus) override {
    modemStatus = 0;
    const std::lock_guard<std::mutex> guard(FLock);
    if (FClosing) {
      return TPortError::peClosed;
    }
    // Two calls: the counters are read on both sides of the levels, so that the levels belong
    // to them. Should the lines never hold still that long, the newest counters go with levels
    // a change older, which the next reading puts right.
    int lines = 0;
    for (int attempt = 0; attempt < 4; ++attempt) {
      TModemCounts after;
      if (const int error = FModemIo->GetCounts(FFd, counts); error != 0) {
        return PortErrorOf(error);
      }
      if (const int error = FModemIo->GetLines(FFd, lines); error != 0) {
        return PortErrorOf(error);
      }
      if (FModemIo->GetCounts(FFd, after) == 0 && after == counts) break;
      counts = after;
    }
    if (lines & TIOCM_CTS) modemStatus |= MS_CTS_ON;
    if (lines & TIOCM_DSR) modemStatus |= MS_DSR_ON;
    if (lines & TIOCM_RNG) modemStatus |= MS_RING_ON;
    if (lines & TIOCM_CAR) modemStatus |= MS_RLSD_ON;
    return {};
  }

  TPortResult EscapeCommFunction(uint8_t func) override {
    const std::lock_guard<std::mutex> guard(FLock);
    if (FClosing) return TPortError::peClosed;
    int error = 0;
    switch (func) {
      case SETRTS:
      case CLRRTS:
        error = FModemIo->ChangeLines(FFd, TIOCM_RTS, func == SETRTS);
        break;
      case SETDTR:
      case CLRDTR:
        error = FModemIo->ChangeLines(FFd, TIOCM_DTR, func == SETDTR);
        break;
      case SETBREAK:
      case CLRBREAK:
        error = ioctl(FFd, func == SETBREAK ? TIOCSBRK : TIOCCBRK) == 0 ? 0 : errno;
        break;
      default:
        error = EINVAL;
        break;
    }
    return PortErrorOf(error);
  }

  TPortResult GetCommTimeouts(TCommTimeouts& timeouts) override {
    const std::lock_guard<std::mutex> guard(FLock);
    timeouts = FTimeouts;
    if (FClosing) return TPortError::peClosed;
    return {};
  }

  TPortResult SetCommTimeouts(const TCommTimeouts& timeouts) override {
    const std::lock_guard<std::mutex> guard(FLock);
    if (FClosing) return TPortError::peClosed;
    FTimeouts = timeouts;
    return {};
  }

  TPortResult PurgeComm(uint32_t flags) override {
    std::unique_lock<std::mutex> lock(FLock);
    if (FClosing) return TPortError::peClosed;
    for (TPendingOp* op : FOps) {
      const bool hit = op->IsRead ? (flags & PURGE_RXABORT) : (flags & PURGE_TXABORT);
      if (hit && !op->Ended) End(*op, TIoResult::Aborted);
    }
    // The aborted transfers leave before the buffers are cleared, so none of them takes
    // bytes that arrive after the purge.
    FChanged.wait(lock, [this] {
      return std::none_of(FOps.begin(), FOps.end(), [](const TPendingOp* op) { return op->Ended; });
    });
    if (FClosing) return TPortError::peClosed;
    int error = 0;
    if ((flags & PURGE_RXCLEAR) && tcflush(FFd, TCIFLUSH) != 0) error = errno;
    if ((flags & PURGE_TXCLEAR) && tcflush(FFd, TCOFLUSH) != 0) error = errno;
    return PortErrorOf(error);
  }

  TIoResult Write(const char* data, size_t len, int waitMs) override {
    const auto start = TClock::now();
    TOpScope op(*this, false);
    if (!op.Begun()) return TIoResult::Failed;
    std::optional<TClock::time_point> callerEnd;
    std::optional<TClock::time_point> totalEnd;
    uint32_t baud = 9600;
    {
      const std::lock_guard<std::mutex> guard(FLock);
      if (waitMs >= 0) callerEnd = start + milliseconds(waitMs);
      const uint64_t total = uint64_t{FTimeouts.WriteTotalTimeoutMultiplier} * len +
                             FTimeouts.WriteTotalTimeoutConstant;
      if (total != 0) totalEnd = start + milliseconds(total);
      if (FBaud != 0) baud = FBaud;
    }
    const auto end = Earliest(callerEnd, totalEnd);
    size_t sent = 0;
    for (;;) {
      TPollOutcome outcome;
      if (sent < len) {
        const ssize_t n = ::write(FFd, data + sent, len - sent);
        if (n > 0) {
          sent += static_cast<size_t>(n);
          continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN) return TIoResult::Failed;
        if (Reached(end, TClock::now())) return CancelWrite();
        outcome = PollFor(FFd, POLLOUT, op.WakeFd(), end);
      } else {
        // Complete when the bytes have left, as a serial write completes on the system it
        // comes from: the purge before the next write must not cut this one short.
        int queued = 0;
        if (ioctl(FFd, TIOCOUTQ, &queued) != 0 || queued <= 0) return TIoResult::Done;
        if (Reached(end, TClock::now())) return CancelWrite();
        const auto leaves =
            TClock::now() + std::chrono::microseconds(int64_t{queued} * 10 * 1000000 / baud + 500);
        outcome = PollFor(FFd, 0, op.WakeFd(), Earliest(end, leaves));
      }
      if (outcome == TPollOutcome::Woken) return op.EndedBy();
      if (outcome == TPollOutcome::Broken) return TIoResult::Failed;
    }
  }

  TIoResult Read(char* dest, size_t count, size_t& got, int waitMs) override {
    got = 0;
    const auto start = TClock::now();
    TOpScope op(*this, true);
    if (!op.Begun()) return TIoResult::Failed;
    if (count == 0) return TIoResult::Done;
    std::optional<TClock::time_point> callerEnd;
    std::optional<TClock::time_point> totalEnd;
    std::optional<TClock::duration> interval;
    bool returnOnAny = false;
    bool dropNul = false;
    {
      const std::lock_guard<std::mutex> guard(FLock);
      const TCommTimeouts& t = FTimeouts;
      dropNul = FDropNul;
      if (waitMs >= 0) callerEnd = start + milliseconds(waitMs);
      if (t.ReadIntervalTimeout == MAXDWORD && t.ReadTotalTimeoutMultiplier == 0 &&
          t.ReadTotalTimeoutConstant == 0) {
        totalEnd = start;  // only what has already arrived
      } else if (t.ReadIntervalTimeout == MAXDWORD && t.ReadTotalTimeoutMultiplier == MAXDWORD) {
        returnOnAny = true;
        totalEnd = start + milliseconds(t.ReadTotalTimeoutConstant);
      } else {
        // One time-out for the whole read, not per byte.
        const uint64_t total =
            uint64_t{t.ReadTotalTimeoutMultiplier} * count + t.ReadTotalTimeoutConstant;
        if (total != 0) totalEnd = start + milliseconds(total);
        if (t.ReadIntervalTimeout != 0 && t.ReadIntervalTimeout != MAXDWORD) {
          interval = milliseconds(t.ReadIntervalTimeout);
        }
      }
    }
    std::optional<TClock::time_point> intervalEnd;
    for (;;) {
      const ssize_t n = ::read(FFd, dest + got, count - got);
      if (n > 0) {
        const size_t kept =
            dropNul ? DropNuls(dest + got, static_cast<size_t>(n)) : static_cast<size_t>(n);
        got += kept;
        if (got == count || (returnOnAny && got > 0)) return TIoResult::Done;
        if (interval && got > 0) intervalEnd = TClock::now() + *interval;
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n == 0 || errno != EAGAIN) return TIoResult::Failed;  // hung up or gone
      const auto now = TClock::now();
      if (Reached(totalEnd, now) || Reached(intervalEnd, now)) return TIoResult::Done;
      if (Reached(callerEnd, now)) return TIoResult::TimedOut;
      switch (
          PollFor(FFd, POLLIN, op.WakeFd(), Earliest(Earliest(totalEnd, intervalEnd), callerEnd))) {
        case TPollOutcome::Woken:
          return op.EndedBy();
        case TPollOutcome::Broken:
          return TIoResult::Failed;
        default:
          break;
      }
    }
  }

  void Close() override {
    std::unique_lock<std::mutex> lock(FLock);
    if (FClosing) {
      FChanged.wait(lock, [this] { return FClosed; });
      return;
    }
    FClosing = true;
    for (TPendingOp* op : FOps) {
      if (!op->Ended) End(*op, TIoResult::Failed);
    }
    KickWaiter(lock);
    FWatchChanged.notify_all();
    // The descriptor goes only when nobody uses it any more.
    FChanged.wait(lock, [this] { return FUsers == 0; });
    ::close(FFd);  // also drops the lock on the device
    FFd = -1;
    // The watcher has seen the close; a second closer returns only once it is gone too.
    lock.unlock();
    if (FWatcher.joinable()) FWatcher.join();
    lock.lock();
    FClosed = true;
    FChanged.notify_all();
  }

 private:
  class TOpScope {
   public:
    TOpScope(TPosixSerialPort& port, bool isRead) : FPort(port) {
      FOp.IsRead = isRead;
      FOp.WakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
      if (FOp.WakeFd < 0) return;
      const std::lock_guard<std::mutex> guard(FPort.FLock);
      if (FPort.FClosing) return;
      FPort.FOps.push_back(&FOp);
      ++FPort.FUsers;
      FBegun = true;
    }

    ~TOpScope() {
      if (FBegun) {
        const std::lock_guard<std::mutex> guard(FPort.FLock);
        FPort.FOps.erase(std::find(FPort.FOps.begin(), FPort.FOps.end(), &FOp));
        --FPort.FUsers;
        FPort.FChanged.notify_all();
      }
      if (FOp.WakeFd >= 0) ::close(FOp.WakeFd);
    }

    TOpScope(const TOpScope&) = delete;
    TOpScope& operator=(const TOpScope&) = delete;

    bool Begun() const { return FBegun; }
    int WakeFd() const { return FOp.WakeFd; }

    TIoResult EndedBy() {
      const std::lock_guard<std::mutex> guard(FPort.FLock);
      return FOp.Ended ? FOp.Reason : TIoResult::Failed;
    }

   private:
    TPosixSerialPort& FPort;
    TPendingOp FOp;
    bool FBegun = false;
  };

  static void End(TPendingOp& op, TIoResult reason) {
    op.Ended = true;
    op.Reason = reason;
    Wake(op.WakeFd);
  }

  // Cancels a write whose time ran out: what is still queued is discarded.
  TIoResult CancelWrite() {
    tcflush(FFd, TCOFLUSH);
    return TIoResult::TimedOut;
  }

  // Has the watcher check the counters while the coming wait goes on; under FLock.
  void WatchWait(const TModemCounts& counts, int lines) {
    FWaitCounts = counts;
    FWaitLines = lines;
    FWaitBegan = TClock::now();
    ++FWaitNumber;
    FWaitWatched = true;
    if (!FWatcher.joinable()) {
      FWatcher = std::thread([this] { Watch(); });
    } else if (FWatcherIdle) {
      FWatchChanged.notify_all();
    }
  }

  // The watcher: while a wait goes on, reads the counters 2, 6, 14, ... ms after it began and
  // then once a second, and passes the waiter through its loop when a line it waits for has
  // changed since (an edge that raced the wait's start) or the device has gone. It sleeps
  // without a deadline while nobody waits, and changes nothing in the wait it watches.
  void Watch() {
    std::unique_lock<std::mutex> lock(FLock);
    while (!FClosing) {
      if (!FWaitWatched) {
        FWatcherIdle = true;
        FWatchChanged.wait(lock);
        FWatcherIdle = false;
        continue;
      }
      const uint64_t number = FWaitNumber;
      const TModemCounts before = FWaitCounts;
      const int lines = FWaitLines;
      int interval = FirstRecheckMs;
      auto due = FWaitBegan + milliseconds(interval);
      const auto watched = [&] { return !FClosing && FWaitWatched && FWaitNumber == number; };
      while (watched()) {
        FWatchChanged.wait_until(lock, due, [&] { return !watched(); });
        if (!watched()) break;
        if (TClock::now() < due) continue;
        ++FUsers;  // reads through FFd outside the lock
        lock.unlock();
        TModemCounts now;
        const int error = FModemIo->GetCounts(FFd, now);
        lock.lock();
        --FUsers;
        FChanged.notify_all();
        if (!watched()) break;
        const bool changed = error == 0 && (((lines & TIOCM_CTS) && now.Cts != before.Cts) ||
                                            ((lines & TIOCM_DSR) && now.Dsr != before.Dsr));
        if (changed || PortErrorOf(error) == TPortError::peDeviceGone) {
          KickWaiter(lock);
          break;
        }
        interval = std::min(interval * 2, LastRecheckMs);
        due += milliseconds(interval);
      }
    }
  }

  // Makes a thread blocked in WaitCommEvent pass through the top of its loop, where it sees a
  // new mask or a close and leaves, or else waits afresh. The signal is sent again until the
  // waiter has been seen there: sent just before it entered the wait, it would be lost.
  void KickWaiter(std::unique_lock<std::mutex>& lock) {
    if (!FWaiterActive) return;
    const uint64_t kick = ++FKickCount;
    while (FWaiterActive && FWaiterSeenKick < kick) {
      pthread_kill(FWaiter, SerialWakeSignal());
      FChanged.wait_for(lock, milliseconds(1));
    }
  }

  int FFd;
  const std::unique_ptr<TModemIo> FModemIo;

  std::mutex FLock;
  std::condition_variable FChanged;  // transfers and the waiter leaving or passing a kick
  bool FClosing = false;
  bool FClosed = false;
  int FUsers = 0;  // transfers and the waiter, using FFd outside the lock
  std::vector<TPendingOp*> FOps;

  TLineSettings FStored;  // the last settings written; termios holds the rest
  bool FDropNul = false;
  uint32_t FBaud = 9600;
  TCommTimeouts FTimeouts;

  uint32_t FMask = 0;
  uint64_t FMaskEpoch = 0;  // a changed mask releases the pending wait
  TModemCounts FLastCounts;
  bool FCountsValid = false;
  bool FWaiterActive = false;
  pthread_t FWaiter{};
  uint64_t FKickCount = 0;
  uint64_t FWaiterSeenKick = 0;
  // The wait the watcher looks after: the counters read just before it and when it began.
  bool FWaitWatched = false;
  uint64_t FWaitNumber = 0;
  TModemCounts FWaitCounts;
  int FWaitLines = 0;
  TClock::time_point FWaitBegan;
  bool FWatcherIdle = false;
  std::condition_variable FWatchChanged;
  std::thread FWatcher;  // started with the first wait, joined by Close
};

}  // namespace

int SerialWakeSignal() {
  return SIGRTMIN + 2;
}

std::unique_ptr<TModemIo> MakeTtyModemIo() {
  return std::make_unique<TTtyModemIo>();
}

std::unique_ptr<TSerialPort> OpenPosixSerialPort(const std::string& path, int* errnoOut) {
  return OpenPosixSerialPort(path, MakeTtyModemIo(), errnoOut);
}

std::unique_ptr<TSerialPort> OpenPosixSerialPort(const std::string& path,
                                                 std::unique_ptr<TModemIo> modemIo, int* errnoOut) {
  const auto fail = [errnoOut](int error) -> std::unique_ptr<TSerialPort> {
    if (errnoOut) *errnoOut = error;
    return nullptr;
  };
  InstallWakeHandler();
  const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return fail(errno);
  const auto failClosing = [&](int error) {
    ::close(fd);
    return fail(error);
  };
  if (!isatty(fd)) return failClosing(ENOTTY);
  // In use by another holder: fail before touching its lines.
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) return failClosing(errno == EWOULDBLOCK ? EBUSY : errno);
  // Both at once and before anything else; a device without modem lines refuses, harmlessly.
  modemIo->ChangeLines(fd, TIOCM_RTS | TIOCM_DTR, false);
  ioctl(fd, TIOCEXCL);
  termios tio{};
  if (tcgetattr(fd, &tio) != 0) return failClosing(errno);
  cfmakeraw(&tio);
  tio.c_iflag |= IGNBRK;  // a break would read as a NUL byte
  tio.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS);
  tio.c_cflag |= CS8 | CLOCAL | CREAD | HUPCL;  // HUPCL: the lines drop when the port closes
  tio.c_cc[VMIN] = 1;
  tio.c_cc[VTIME] = 0;
  cfsetispeed(&tio, B9600);
  cfsetospeed(&tio, B9600);
  if (tcsetattr(fd, TCSANOW, &tio) != 0) return failClosing(errno);
  if (const int error = ProbeModemWait(fd, *modemIo); error != 0) return failClosing(error);
  if (errnoOut) *errnoOut = 0;
  return std::make_unique<TPosixSerialPort>(fd, std::move(modemIo));
}

bool DeviceMissing(int error) {
  return error == ENOENT || error == ENODEV || error == ENXIO;
}

std::string DeviceGroup(const std::string& path) {
  struct stat st {};
  if (path.empty() || stat(path.c_str(), &st) != 0) return {};
  std::vector<char> buffer(16384);
  group entry{};
  group* found = nullptr;
  if (getgrgid_r(st.st_gid, &entry, buffer.data(), buffer.size(), &found) != 0 || !found) return {};
  return found->gr_name;
}

std::string PortOpenAdvice(int error, const std::string& device) {
  switch (error) {
    case EACCES:
    case EPERM: {
      // Debian's serial ports belong to dialout, but a udev rule may give an adapter another
      // group (plugdev, uucp): the one to join is the device's own.
      std::string group = DeviceGroup(device);
      if (group.empty()) group = "dialout";
      return "Permission denied: this user may not use the serial port. Add the user to the "
             "group that owns it (sudo usermod -aG " +
             group + " $USER) and log in again.";
    }
    case ENOENT:
    case ENODEV:
    case ENXIO:
      return "No such device: check the cable and the port's device in the settings file.";
    case EBUSY:
      return "The port is in use by another program.";
    case ENOTTY:
      // What a pseudo-terminal or a plain file answers: the bare errno text names no cause.
      return "Inappropriate ioctl for device: this is no serial port with modem lines (a "
             "pseudo-terminal has no modem lines and no line counters).";
    default:
      return std::strerror(error);
  }
}

}  // namespace morvane
