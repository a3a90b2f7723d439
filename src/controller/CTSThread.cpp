#include "controller/CTSThread.h"

#include <chrono>

#include "controller/Objects.h"

namespace morvane {

TCTSThread::TCTSThread(TFocusControl& controller, std::shared_ptr<TSerialPort> port)
    : TThread("mrv-cts", TThreadPriority::tpHighest),
      Controller(controller),
      PortHandle(std::move(port)) {
  Start();
}

bool TCTSThread::WaitArmed(uint32_t ms) {
  std::unique_lock lock(FArmedLock);
  return FArmedChanged.wait_for(lock, std::chrono::milliseconds(ms), [this] { return FArmed; });
}

void TCTSThread::Execute() {
  TSerialPort& port = *PortHandle;
  // Where the port keeps line counters, every change is counted however late this thread
  // wakes; it then wakes on DSR too, so that a wake-up in time sees one change at a time and
  // only a late one has to infer the order of several. Elsewhere one count per CTS event, from
  // the levels read after it.
  TLineSample sample;
  uint32_t status = 0;
  bool counters = static_cast<bool>(port.GetCommCounts(sample.Counts, status));
  // The counters hold every change since the driver loaded: the count starts from the first
  // good reading of them, and from the one after the mask is set when that one succeeds.
  if (counters) {
    sample.Cts = status & MS_CTS_ON;
    sample.Dsr = status & MS_DSR_ON;
    FTally.Reset(sample);
    Controller.NoteLineCounts(sample.Counts);
  }
  uint32_t mask = counters ? EV_CTS | EV_DSR : EV_CTS;
  port.SetCommMask(mask);
  if (counters && port.GetCommCounts(sample.Counts, status)) {
    sample.Cts = status & MS_CTS_ON;
    sample.Dsr = status & MS_DSR_ON;
    FTally.Reset(sample);
    Controller.NoteLineCounts(sample.Counts);
  }
  {
    const std::lock_guard lock(FArmedLock);
    FArmed = true;
  }
  FArmedChanged.notify_all();
  bool lastDSR = false;  // DSR at the last rising CTS edge: the direction reported
  while (!Terminated()) {
    uint32_t events = 0;
    if (const TPortResult waited = port.WaitCommEvent(events); !waited) {
      if (Terminated()) break;
      // The device has gone (a USB adapter pulled out): no edge will come any more, so a move
      // would run until stopped by hand. The controller cancels it, closes the port and tells
      // the operator; this thread's work is over.
      if (waited.Error() == TPortError::peDeviceGone) {
        Controller.DoPortLost(PortHandle);
        break;
      }
      // Any other refusal may pass; back off so that it does not take a core meanwhile.
      Sleep(50);
      continue;
    }
    // Closing asks us to end and then clears the mask: an edge that raced the close is not
    // reported.
    if (Terminated()) break;
    if (events == 0 || (events & ~mask) != 0) continue;
    port.SetCommMask(mask);
    if (counters) {
      const TPortResult read = port.GetCommCounts(sample.Counts, status);
      if (read) {
        FModemStatus.store(status, std::memory_order_relaxed);
        sample.Cts = status & MS_CTS_ON;
        sample.Dsr = status & MS_DSR_ON;
        // DualSense is read once per wake-up, so that a change between edges acts whole.
        const bool dual = Controller.DualSense();
        const TTallyStep step = FTally.Take(sample, dual);
        Controller.NoteLineCounts(sample.Counts);
        bool steady = false;
        const uint32_t drive = Controller.EdgeDrive(steady);
        const TEdgeCheck check = JudgeEdges(FEdges, steady, drive, sample.Counts);
        FEdges = check.Baseline;
        if (check.Lost)
          Controller.DoEdgesLost(Controller.FCTSCount.load() + step.Delta, check.CtsChanges,
                                 check.DsrChanges);
        if (step.CtsChanges == 0) continue;
        Controller.NoteEncoderChange(static_cast<uint32_t>(step.CtsChanges));
        const int32_t now = Controller.FCTSCount.fetch_add(step.Delta) + step.Delta;
        if (step.RisingSeen) lastDSR = step.DsrAtRising;
        if (step.Delta != 0 || step.RisingSeen || dual) Controller.SignalMotion();
        Controller.NoteCount(now);
        Controller.DoCTSChange(now, lastDSR);
        continue;
      }
      if (read.Error() != TPortError::peNotSupported) continue;
      // The counters have gone away under us: count as where there are none.
      counters = false;
      mask = EV_CTS;
      port.SetCommMask(mask);
      if (!(events & EV_CTS)) continue;
    }
    if (events != EV_CTS) continue;
    Controller.NoteEncoderChange(1);
    port.GetCommModemStatus(status);
    FModemStatus.store(status, std::memory_order_relaxed);
    const bool cts = status & MS_CTS_ON;
    const bool dsr = status & MS_DSR_ON;
    auto& count = Controller.FCTSCount;
    // DualSense is read once per edge, so that a change between edges acts whole. Single
    // resolution counts the edges with DSR low, both ways (see EdgeTally.h).
    const bool counted = !dsr || Controller.DualSense();
    int32_t now;
    if (!counted) {
      now = count.load();
    } else if (cts) {
      now = dsr ? count.fetch_sub(1) - 1 : count.fetch_add(1) + 1;
    } else {
      now = dsr ? count.fetch_add(1) + 1 : count.fetch_sub(1) - 1;
    }
    if (cts) lastDSR = dsr;
    if (counted) Controller.SignalMotion();
    Controller.NoteCount(now);
    Controller.DoCTSChange(now, lastDSR);
  }
}

}  // namespace morvane
