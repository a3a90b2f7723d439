// A device that goes away while its port is open: a USB serial adapter pulled out, a line
// hung up. On the system the program comes from the port's calls then fail; here the counting
// thread sees it in its wait and hands it over.

#include <string>

#include "controller/Objects.h"

namespace morvane {

void TFocusControl::DoPortLost(const std::shared_ptr<TSerialPort>& port) {
  // No edge will come any more: a move still under way would never reach its count. Only the
  // request here; closing the port on the GUI thread waits the move out.
  CancelMovement();
  const std::weak_ptr<TSerialPort> lost = port;
  const auto life = FLife;
  const int32_t n = FComPort.load();
  TControllerHost& host = FHost;
  // The close joins the counting thread, which calls this, and the message is modal: both
  // belong on the GUI thread, after whatever it has queued before.
  FHost.Post([this, lost, life, n, &host] {
    {
      std::lock_guard lock(life->Lock);
      // Being destroyed: the controller may be gone. Another loss's close under way: it closes
      // this port too, and tells.
      if (life->State.load() != TLifeState::lsAlive || life->LossClosing) return;
      // Closed or replaced meanwhile by the operator: then nothing was lost to tell about.
      const std::shared_ptr<TSerialPort> current = FPortHandle.load();
      if (!current || current != lost.lock()) return;
      life->LossClosing = true;
    }
    // Outside the lock: the close takes the move and keep-alive locks and joins threads.
    // Destruction waits for it to end.
    ClosePort();
    {
      std::lock_guard lock(life->Lock);
      life->LossClosing = false;
    }
    life->CloseEnded.notify_all();
    host.ShowMessage("Lost connection to COM " + std::to_string(n));
  });
}

}  // namespace morvane
