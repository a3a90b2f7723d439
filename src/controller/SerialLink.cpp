#include <cerrno>
#include <cstring>

#include "controller/CTSThread.h"
#include "controller/KeepAliveThread.h"
#include "controller/Objects.h"
#include "controller/RxThread.h"
#include "platform/ProductTimings.h"

namespace morvane {

namespace {
constexpr uint32_t LineFlags = 0xFFFF0881;  // binary, TX continues on XOFF, NULs dropped
constexpr int TransferWaitMs = 1000;
constexpr int WriteBufferSize = 128;  // a text of at most 127 characters is written
// The longest the open waits for the counting thread's first reading of the lines: a few
// reads of the port on a machine that starts the thread late.
constexpr uint32_t CountingArmMs = 2000;

// Counts a write as under way while it lives.
class TWriteInFlight {
 public:
  explicit TWriteInFlight(std::atomic<int>& count) : FCount(count) { FCount.fetch_add(1); }
  ~TWriteInFlight() { FCount.fetch_sub(1); }
  TWriteInFlight(const TWriteInFlight&) = delete;
  TWriteInFlight& operator=(const TWriteInFlight&) = delete;

 private:
  std::atomic<int>& FCount;
};
}  // namespace

bool TFocusControl::OpenPort() {
  const int32_t n = FComPort.load();
  if (n == 0) return false;
  // Opening over an open port would leave its counting thread waiting on a port nobody can
  // close any more: close it first.
  if (FPortHandle.load()) {
    CancelMovementAndWait();
    CloseCountingThread();
  }
  // An opener that fails leaves the reason in errno, as the system's open does.
  errno = 0;
  std::shared_ptr<TSerialPort> port = FOpener ? FOpener(n) : nullptr;
  FLastOpenError.store(port ? 0 : errno);
  FPortHandle.store(port);
  FPortHandleInvalid.store(!port);
  if (!port) {
    FPortOpen.store(false);
    return false;
  }
  FPortOpen.store(true);

  // The line is configured before the counting thread starts: on some UARTs a later change
  // of the line settings switches the modem-status interrupt off.
  FLineSettings.DCBlength = 28;
  port->GetCommState(FLineSettings);
  FLineSettings.DCBlength = 28;
  FLineSettings.BaudRate = 9600;
  FLineSettings.ByteSize = 8;
  FLineSettings.Parity = 0;
  FLineSettings.StopBits = 0;
  FLineSettings.Flags = LineFlags;
  port->SetCommState(FLineSettings);
  port->SetCommMask(EV_CTS);
  for (int i = 0; i < 5; ++i) {
    port->EscapeCommFunction(CLRRTS);
    port->EscapeCommFunction(CLRDTR);
  }
  // The controller alone owns and joins the counting thread.
  if (!CountingThread) CountingThread = std::make_shared<TCTSThread>(*this, port);
  StartStallWatch();
  // Counted from here on: the thread's first reading must come before the port is handed
  // over, or an edge in between would be part of it and lost (a busy machine may start the
  // thread late). Bounded, for a port whose first reading hangs.
  CountingThread->WaitArmed(CountingArmMs);
  Sleep(ProductTimings().PortSettleMs);
  ResetCount();
  TCommTimeouts timeouts;
  port->GetCommTimeouts(timeouts);
  timeouts.ReadTotalTimeoutConstant = 200;
  port->SetCommTimeouts(timeouts);
  return true;
}

void TFocusControl::CloseCountingThread() {
  // The guard first: a stop it is making still finds the port.
  StopStallWatch();
  // The keep-alive writer ends before the port goes, and no tick starts another before the
  // port is gone: nothing is written to a port being closed.
  std::lock_guard keepAlive(FKeepAliveLock);
  FKeepAliveThread.reset();
  std::shared_ptr<TSerialPort> port = FPortHandle.load();
  if (CountingThread) CountingThread->Terminate();
  if (port) {
    port->SetCommMask(0);
    port->Close();
  }
  if (CountingThread) CountingThread->WaitFor();
  CountingThread.reset();
  FPortHandle.store(nullptr);
  FPortHandleInvalid.store(false);
  SignalMotion();
}

bool TFocusControl::StopCoarseRun() {
  if (!FCoarseDrive.exchange(false) || !FPortHandle.load()) return false;
  SendFocusCommand(":FQ#");
  SendFocusCommand(":FQ#");
  return true;
}

// A move is cancelled and waited out before the port goes, so that its threads end with
// their closing steps instead of waiting for edges that can no longer come; a coarse run is
// stopped, so that the motor does not run on once nobody can stop it.
void TFocusControl::ClosePort() {
  CancelMovementAndWait();
  if (!FPortHandle.load()) return;
  StopCoarseRun();
  CloseCountingThread();
  FPortOpen.store(false);
}

void TFocusControl::SetComPort(int32_t Value) {
  CancelMovementAndWait();
  StopCoarseRun();
  CloseCountingThread();
  // Another port may lead to another motor: what the nudges learnt of this one is forgotten.
  if (FComPort.exchange(Value) != Value)
    for (bool direct : {false, true})
      for (bool dual : {false, true}) SetNudgeResponse(direct, dual, {});
}

void TFocusControl::PurgePort() {
  Sleep(20);
  if (auto port = FPortHandle.load())
    port->PurgeComm(PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
}

bool TFocusControl::WriteString(const std::string& Text) {
  auto port = FPortHandle.load();
  if (!port) return false;
  // Counted for the keep-alive writer, which gives way rather than purge a write under way.
  const TWriteInFlight inFlight(FWritesInFlight);
  PurgePort();
  // The transfer buffer holds 127 characters and the terminator; a longer text is refused
  // rather than cut, so that a truncated command never reaches the motor.
  if (Text.size() >= WriteBufferSize) return false;
  return port->Write(Text.data(), Text.size(), TransferWaitMs) == TIoResult::Done;
}

bool TFocusControl::ReadBytes(int Count, std::string& Text) {
  Text.clear();
  auto port = FPortHandle.load();
  if (!port && !FPortHandleInvalid.load()) return false;
  // The receive buffer holds 32 bytes and a terminator.
  if (Count < 1 || Count > TRxThread::BufferSize - 1) return false;
  char buffer[TRxThread::BufferSize] = {};
  TEvent done(false, false);
  TWaitResult r;
  {
    TRxThread reader(port, buffer, done, Count);
    r = done.WaitFor(TransferWaitMs);
    // The reader ends within its own wait; it must be gone before buffer and event are.
    reader.WaitFor();
  }
  if (r != TWaitResult::wrSignaled) return false;
  Text.assign(buffer, strnlen(buffer, sizeof buffer));
  return true;
}

std::string TFocusControl::ReadReply(int Count) {
  std::string text;
  ReadBytes(Count, text);
  return text;
}

}  // namespace morvane
