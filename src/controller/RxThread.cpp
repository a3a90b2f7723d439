#include "controller/RxThread.h"

#include <cstring>

namespace morvane {

namespace {
// The read's own wait for completion, as long as its caller's.
constexpr int ReadWaitMs = 1000;
}  // namespace

TRxThread::TRxThread(std::shared_ptr<TSerialPort> port, char* destination, TEvent& doneEvent,
                     int byteCount)
    : TThread("mrv-rx"),
      ByteCount(byteCount),
      DoneEvent(doneEvent),
      PortHandle(std::move(port)),
      Destination(destination) {
  Start();
}

void TRxThread::Execute() {
  DoneEvent.ResetEvent();
  char local[BufferSize] = {};
  std::memcpy(Destination, local, static_cast<size_t>(ByteCount));
  // An invalid port fails the read at once; the caller then waits its full time.
  if (!PortHandle) return;
  size_t got = 0;
  TIoResult r = PortHandle->Read(local, static_cast<size_t>(ByteCount), got, ReadWaitMs);
  if (r != TIoResult::Done || got != static_cast<size_t>(ByteCount)) return;
  std::memcpy(Destination, local, got + 1);
  DoneEvent.SetEvent();
}

}  // namespace morvane
