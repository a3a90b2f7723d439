#pragma once
// Counts the encoder's quadrature edges on CTS and DSR into the controller's CTSCount.
// Runs at the highest priority; per wake-up it does one wait, one mask setting, one read of the
// line counters and levels, one atomic count change and one report, and nothing that
// allocates, locks or sleeps. A wake-up that finds several edges counts them all (TEdgeTally).
// Where the port keeps line counters it also checks them against each other (EdgeCheckRule);
// the one warning when they show edges lost is the exception to the above.

#include <condition_variable>
#include <memory>
#include <mutex>

#include "controller/EdgeCheckRule.h"
#include "controller/EdgeTally.h"
#include "platform/SerialPort.h"
#include "platform/Thread.h"

namespace morvane {

class TFocusControl;

class TCTSThread : public TThread {
 public:
  TCTSThread(TFocusControl& controller, std::shared_ptr<TSerialPort> port);

  uint32_t ModemStatus() const { return FModemStatus.load(); }
  // Waits until the thread has taken its first reading of the lines and waits for their
  // changes, at most ms; true once it has. An edge before that is part of the first reading
  // and is not counted, so the port is handed over only after it.
  bool WaitArmed(uint32_t ms);

 protected:
  void Execute() override;

 private:
  TFocusControl& Controller;
  std::shared_ptr<TSerialPort> PortHandle;
  std::atomic<uint32_t> FModemStatus{0};
  std::mutex FArmedLock;
  std::condition_variable FArmedChanged;
  bool FArmed = false;
  TEdgeTally FTally;  // this thread's alone
  // Where the count's own check judges from (EdgeCheckRule); this thread's alone.
  TEdgeBaseline FEdges;
};

}  // namespace morvane
