#pragma once
// One read of a fixed number of bytes, run on a thread of its own so that its caller can
// bound the wait. Freed (joined) by its creator.

#include <memory>

#include "platform/Event.h"
#include "platform/SerialPort.h"
#include "platform/Thread.h"

namespace morvane {

class TRxThread : public TThread {
 public:
  static constexpr int BufferSize = 33;

  // destination holds BufferSize bytes and stays valid until the thread has been joined.
  TRxThread(std::shared_ptr<TSerialPort> port, char* destination, TEvent& doneEvent, int byteCount);

 protected:
  void Execute() override;

 private:
  int ByteCount;
  TEvent& DoneEvent;
  std::shared_ptr<TSerialPort> PortHandle;
  char* Destination;
};

}  // namespace morvane
