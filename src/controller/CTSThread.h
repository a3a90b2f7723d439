#pragma once
// Counts the encoder's quadrature edges on CTS and DSR into the controller's CTSCount.
// Runs at the highest priority; per wake-up it does one wait, one mask setting, one read of the
// line counters and levels, one atomic count change and one report, and nothing that
// allocates, locks or sleeps. A wake-up that finds several edges counts them all (TEdgeTally).

#include <memory>

#include "controller/EdgeTally.h"
#include "platform/SerialPort.h"
#include "platform/Thread.h"

namespace morvane {

class TFocusControl;

class TCTSThread : public TThread {
 public:
  TCTSThread(TFocusControl& controller, std::shared_ptr<TSerialPort> port);

  uint32_t ModemStatus() const { return FModemStatus.load(); }

 protected:
  void Execute() override;

 private:
  TFocusControl& Controller;
  std::shared_ptr<TSerialPort> PortHandle;
  std::atomic<uint32_t> FModemStatus{0};
  TEdgeTally FTally;  // this thread's alone
};

}  // namespace morvane
