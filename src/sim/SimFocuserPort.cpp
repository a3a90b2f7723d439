// The port side of the simulated focuser, with the semantics of a Windows comm port: opening
// exclusively, line settings and time-outs that persist between openings, modem events,
// line functions, purges, and reads and writes bounded by the port's time-outs and the
// caller's wait.

#include <algorithm>
#include <cstring>
#include <thread>

#include "sim/SimFocuser.h"
#include "sim/SimPort.h"

namespace morvane::sim {

namespace {
constexpr uint32_t MAXDWORD = 0xFFFFFFFFu;
// Line functions a Windows port accepts without a modem-line effect here.
constexpr uint8_t SETXOFF = 1, SETXON = 2, SETBREAK = 8, CLRBREAK = 9;
}  // namespace

std::unique_ptr<TSerialPort> TSimFocuser::Open() {
  std::lock_guard lock(FLock);
  if (FUnplugged || FSession != 0) return nullptr;
  CatchUp(Now());
  FSession = ++FLastSession;
  FMask = 0;
  FWaiting = false;
  FEvents.clear();
  FPending = 0;
  FSnapshot.reset();
  FInput.clear();
  AddTrace(TTraceKind::Open);
  return std::make_unique<TSimPort>(*this, FSession);
}

TPortOpener TSimFocuser::Opener() {
  return [this](int n) -> std::unique_ptr<TSerialPort> { return n >= 1 ? Open() : nullptr; };
}

void TSimFocuser::Unplug() {
  std::lock_guard lock(FLock);
  const double now = Now();
  CatchUp(now);
  FUnplugged = true;
  FUnpluggedSession = FSession;
  AddTrace(TTraceKind::Unplug);
  // Without the line the handset loses its command too: the motor stops.
  FCommandDir = 0;
  EndSession();
  ApplyDrive(now);
}

void TSimFocuser::Replug() {
  std::lock_guard lock(FLock);
  FUnplugged = false;
}

bool TSimFocuser::Alive(uint64_t session) const {
  return session != 0 && session == FSession;
}

TPortError TSimFocuser::Dead(uint64_t session) const {
  // What a tty reports once its device has gone, or for a handle already closed.
  return session != 0 && session == FUnpluggedSession ? TPortError::peDeviceGone
                                                      : TPortError::peClosed;
}

void TSimFocuser::EndSession() {
  FSession = 0;
  FWaiting = false;
  FEvents.clear();
  FPending = 0;
  FSnapshot.reset();
  FInput.clear();
  FToPort.clear();
  // Closing a port drops RTS and DTR, as a Windows port does.
  DropLines();
  FPortCv.notify_all();
}

void TSimFocuser::DropLines() {
  if (FRts) {
    FRts = false;
    AddTrace(TTraceKind::Line, 'R', false);
  }
  if (FDtr) {
    FDtr = false;
    AddTrace(TTraceKind::Line, 'D', false);
  }
  ApplyDrive(FMotor.Time());
}

void TSimFocuser::DropUnsentOutput(double now) {
  // What has reached the UART's FIFO goes out; the rest of the driver's buffer is dropped.
  const size_t keep = static_cast<size_t>(std::max(FParams.TxFifo, 0));
  if (FToDevice.size() > keep) FToDevice.resize(keep);
  FTxFreeAt = FToDevice.empty() ? now : FToDevice.back().T;
}

void TSimFocuser::PortClose(uint64_t session) {
  std::lock_guard lock(FLock);
  if (!Alive(session)) return;
  CatchUp(Now());
  AddTrace(TTraceKind::Close);
  EndSession();
}

TPortResult TSimFocuser::PortGetCommState(uint64_t session, TLineSettings& settings) {
  std::lock_guard lock(FLock);
  if (!Alive(session)) return Dead(session);
  settings = FSettings;
  return {};
}

TPortResult TSimFocuser::PortSetCommState(uint64_t session, const TLineSettings& settings) {
  std::lock_guard lock(FLock);
  if (!Alive(session)) return Dead(session);
  const double now = Now();
  CatchUp(now);
  FSettings = settings;
  // DTR and RTS control "disable" (0) clears the line and "enable" (1) sets it; the
  // handshake modes leave it alone.
  const uint32_t dtr = (settings.Flags & fDtrControlMask) >> 4;
  const uint32_t rts = (settings.Flags & fRtsControlMask) >> 12;
  if (dtr <= 1 && FDtr != (dtr == 1)) {
    FDtr = dtr == 1;
    AddTrace(TTraceKind::Line, 'D', FDtr);
  }
  if (rts <= 1 && FRts != (rts == 1)) {
    FRts = rts == 1;
    AddTrace(TTraceKind::Line, 'R', FRts);
  }
  ApplyDrive(now);
  return {};
}

TPortResult TSimFocuser::PortSetCommMask(uint64_t session, uint32_t mask) {
  std::lock_guard lock(FLock);
  if (!Alive(session)) return Dead(session);
  CatchUp(Now());
  // Queued events the new mask does not select are passed over when a wait takes them; the
  // counting thread re-arms the mask after every event, so nothing here may scan the queue.
  FMask = mask;
  FPending &= mask;
  // A pending wait returns at once with no event, as on Windows.
  ++FMaskChanges;
  AddTrace(TTraceKind::Mask, 0, false, mask);
  FPortCv.notify_all();
  return {};
}

TPortResult TSimFocuser::PortWaitCommEvent(uint64_t session, uint32_t& eventMask) {
  TLock lock(FLock);
  eventMask = 0;
  // One waiter at a time, and a wait needs events to wait for.
  if (!Alive(session)) return Dead(session);
  if (FWaiting) return TPortError::peBusy;
  if (FMask == 0) return TPortError::peNotSupported;
  CatchUp(Now());
  FSnapshot.reset();
  const uint64_t changes = FMaskChanges;
  FWaiting = true;
  const int delayUs = FReaderDelayUs;
  bool late = delayUs <= 0;
  for (;;) {
    if (!Alive(session)) return Dead(session);
    if (FMaskChanges != changes) {
      FWaiting = false;
      return {};
    }
    const bool due = (FMerge || Adapter()) ? (FPending & FMask) != 0 : !FEvents.empty();
    if (due && !late) {
      // Woken, the reader runs only after its delay; the lines go on changing meanwhile.
      late = true;
      lock.unlock();
      std::this_thread::sleep_for(std::chrono::microseconds(delayUs));
      lock.lock();
      CatchUp(Now());
      continue;
    }
    if (FMerge || Adapter()) {
      if (FPending & FMask) {
        eventMask = FPending & FMask;
        FPending = 0;
        FWaiting = false;
        return {};
      }
    } else {
      while (!FEvents.empty()) {
        const TModemEvent e = FEvents.front();
        FEvents.pop_front();
        if (e.Bit & FMask) {
          eventMask = e.Bit;
          FSnapshot = e;
          FWaiting = false;
          return {};
        }
      }
    }
    FPortCv.wait(lock);
  }
}

TPortResult TSimFocuser::PortGetCommModemStatus(uint64_t session, uint32_t& modemStatus) {
  std::lock_guard lock(FLock);
  if (!Alive(session)) return Dead(session);
  CatchUp(Now());
  // In the queued mode the levels at the change the last wait reported; otherwise as the port
  // sees them now.
  const bool cts = FSnapshot ? FSnapshot->Cts : FSeenCts;
  const bool dsr = FSnapshot ? FSnapshot->Dsr : FSeenDsr;
  modemStatus = (cts ? MS_CTS_ON : 0) | (dsr ? MS_DSR_ON : 0);
  return {};
}

TPortResult TSimFocuser::PortGetCommCounts(uint64_t session, TModemCounts& counts,
                                           uint32_t& modemStatus) {
  modemStatus = 0;
  if (!FParams.ModemCounters) {
    return TPortError::peNotSupported;
  }
  std::lock_guard lock(FLock);
  if (!Alive(session)) return Dead(session);
  CatchUp(Now());
  const bool cts = FSnapshot ? FSnapshot->Cts : FSeenCts;
  const bool dsr = FSnapshot ? FSnapshot->Dsr : FSeenDsr;
  modemStatus = (cts ? MS_CTS_ON : 0) | (dsr ? MS_DSR_ON : 0);
  counts = FSnapshot ? FSnapshot->Counts : FCounts;
  return {};
}

TPortResult TSimFocuser::PortEscapeCommFunction(uint64_t session, uint8_t func) {
  std::lock_guard lock(FLock);
  if (!Alive(session)) return Dead(session);
  const double now = Now();
  CatchUp(now);
  switch (func) {
    case SETRTS:
    case CLRRTS:
      FRts = func == SETRTS;
      if (!FRts && FParams.ClearRtsStopsCommandDrive) FCommandDir = 0;
      AddTrace(TTraceKind::Line, 'R', FRts);
      break;
    case SETDTR:
    case CLRDTR:
      FDtr = func == SETDTR;
      AddTrace(TTraceKind::Line, 'D', FDtr);
      break;
    case SETXOFF:
    case SETXON:
    case SETBREAK:
    case CLRBREAK:
      return {};
    default:
      return TPortError::peNotSupported;
  }
  ApplyDrive(now);
  return {};
}

TPortResult TSimFocuser::PortGetCommTimeouts(uint64_t session, TCommTimeouts& timeouts) {
  std::lock_guard lock(FLock);
  if (!Alive(session)) return Dead(session);
  timeouts = FTimeouts;
  return {};
}

TPortResult TSimFocuser::PortSetCommTimeouts(uint64_t session, const TCommTimeouts& timeouts) {
  std::lock_guard lock(FLock);
  if (!Alive(session)) return Dead(session);
  FTimeouts = timeouts;
  return {};
}

TPortResult TSimFocuser::PortPurgeComm(uint64_t session, uint32_t flags) {
  std::lock_guard lock(FLock);
  if (!Alive(session)) return Dead(session);
  const double now = Now();
  CatchUp(now);
  AddTrace(TTraceKind::Purge, 0, false, flags);
  if (flags & PURGE_RXABORT) ++FRxAborts;
  if (flags & PURGE_TXABORT) ++FTxAborts;
  if (flags & PURGE_RXCLEAR) FInput.clear();
  if (flags & (PURGE_TXABORT | PURGE_TXCLEAR)) DropUnsentOutput(now);
  FPortCv.notify_all();
  return {};
}

TIoResult TSimFocuser::PortWrite(uint64_t session, const char* data, size_t len, int waitMs) {
  TLock lock(FLock);
  if (!Alive(session)) return TIoResult::Failed;
  const double now = Now();
  CatchUp(now);
  AddTrace(TTraceKind::Write, 0, false, 0, std::string(data, len));
  if (len == 0) return TIoResult::Done;
  // Bytes go out one after the other, behind any still on the wire.
  double at = std::max(now, FTxFreeAt);
  for (size_t i = 0; i < len; ++i) {
    at += FCharTime;
    FToDevice.push_back({at, data[i]});
  }
  FTxFreeAt = at;
  CatchUp(now);
  FWake.notify_one();
  // The write is complete once all but a FIFO's worth of its bytes are on the wire.
  const size_t fifo = static_cast<size_t>(std::max(FParams.TxFifo, 0));
  if (len <= fifo || FToDevice.size() <= fifo) return TIoResult::Done;
  const double doneAt = FToDevice[FToDevice.size() - fifo - 1].T;
  const double deadline = waitMs < 0 ? TSimMotor::Never : now + waitMs / 1000.0;
  const uint64_t aborts = FTxAborts;
  for (;;) {
    if (!Alive(session)) return TIoResult::Failed;
    if (FTxAborts != aborts) return TIoResult::Aborted;
    const double t = Now();
    if (t >= doneAt) return TIoResult::Done;
    if (t >= deadline) {
      DropUnsentOutput(t);
      return TIoResult::TimedOut;
    }
    FPortCv.wait_until(lock, ToTimePoint(std::min(doneAt, deadline)));
  }
}

TIoResult TSimFocuser::PortRead(uint64_t session, char* dest, size_t count, size_t& got,
                                int waitMs) {
  TLock lock(FLock);
  got = 0;
  if (!Alive(session)) return TIoResult::Failed;
  const double start = Now();
  CatchUp(start);
  if (count == 0) return TIoResult::Done;
  const TCommTimeouts to = FTimeouts;
  // All three read time-outs as Windows reads them: MAXDWORD interval alone returns what is
  // there; with MAXDWORD multiplier and a constant, it returns on the first byte or the
  // constant; otherwise the total time-out runs from the start of the read and the interval
  // time-out between two bytes.
  const bool immediate = to.ReadIntervalTimeout == MAXDWORD && to.ReadTotalTimeoutMultiplier == 0 &&
                         to.ReadTotalTimeoutConstant == 0;
  const bool firstByte = to.ReadIntervalTimeout == MAXDWORD &&
                         to.ReadTotalTimeoutMultiplier == MAXDWORD &&
                         to.ReadTotalTimeoutConstant > 0 && to.ReadTotalTimeoutConstant < MAXDWORD;
  double total = TSimMotor::Never;
  if (firstByte) {
    total = start + to.ReadTotalTimeoutConstant / 1000.0;
  } else if (!immediate &&
             (to.ReadTotalTimeoutMultiplier != 0 || to.ReadTotalTimeoutConstant != 0)) {
    total = start + (to.ReadTotalTimeoutConstant +
                     static_cast<double>(to.ReadTotalTimeoutMultiplier) * count) /
                        1000.0;
  }
  const double interval = to.ReadIntervalTimeout != 0 && to.ReadIntervalTimeout != MAXDWORD
                              ? to.ReadIntervalTimeout / 1000.0
                              : TSimMotor::Never;
  const double deadline = waitMs < 0 ? TSimMotor::Never : start + waitMs / 1000.0;
  const uint64_t aborts = FRxAborts;
  std::string taken;
  double lastByte = TSimMotor::Never;
  auto complete = [&] {
    std::memcpy(dest, taken.data(), taken.size());
    got = taken.size();
    return TIoResult::Done;
  };
  for (;;) {
    if (!Alive(session)) return TIoResult::Failed;
    const double now = Now();
    if (!FInput.empty() && taken.size() < count) {
      const size_t n = std::min(count - taken.size(), FInput.size());
      taken.append(FInput.begin(), FInput.begin() + static_cast<long>(n));
      FInput.erase(FInput.begin(), FInput.begin() + static_cast<long>(n));
      lastByte = now;
    }
    if (taken.size() == count || immediate || (firstByte && !taken.empty())) return complete();
    if (FRxAborts != aborts) return TIoResult::Aborted;
    if (now >= total) return complete();
    const double gapEnd = taken.empty() ? TSimMotor::Never : lastByte + interval;
    if (now >= gapEnd) return complete();
    if (now >= deadline) return TIoResult::TimedOut;
    const double until = std::min({total, gapEnd, deadline});
    if (until == TSimMotor::Never) {
      FPortCv.wait(lock);
    } else {
      FPortCv.wait_until(lock, ToTimePoint(until));
    }
  }
}

}  // namespace morvane::sim
