#include "platform/Signals.h"

#include <atomic>
#include <cassert>

#include "platform/Broadcast.h"

namespace morvane {

namespace {
std::atomic<TStartupObjects*> GStartup{nullptr};
}

TStartupObjects::TStartupObjects() {
  LoggerMessage = static_cast<uint16_t>(RegisterWindowMessage("MESSAGE_LOGGER"));
  EchoMessage = static_cast<uint16_t>(RegisterWindowMessage("KS_MESSAGE"));
  KSMsg = static_cast<uint16_t>(RegisterWindowMessage("KS_MSG"));
  AAKSMsg = static_cast<uint16_t>(RegisterWindowMessage("AA_KS_MSG"));
  GeneralDelay = std::make_unique<TEvent>(false, false, "GENERAL_DELAY_EVENT");
  FocusDelay = std::make_unique<TEvent>(false, false, "FOCUS_DELAY_EVENT");
  FocuserWait = std::make_unique<TEvent>(false, false, "FOCUSER_WAIT_EVENT");
  TStartupObjects* expected = nullptr;
  [[maybe_unused]] bool first = GStartup.compare_exchange_strong(expected, this);
  assert(first && "one set of start-up objects at a time");
}

TStartupObjects::~TStartupObjects() {
  TStartupObjects* expected = this;
  GStartup.compare_exchange_strong(expected, nullptr);
}

TStartupObjects& StartupObjects() {
  TStartupObjects* s = GStartup.load();
  assert(s && "start-up objects not created");
  return *s;
}

TEvent& GeneralDelayEvent() {
  return *StartupObjects().GeneralDelay;
}
TEvent& FocuserWaitEvent() {
  return *StartupObjects().FocuserWait;
}

// The atom becomes the text itself on the bus; the sender waits only until the signal is
// handed over, never on the receivers.
void BroadcastLog(const std::string& Text) {
  BusBroadcast(StartupObjects().LoggerMessage, Text, 0);
}

void LogLine(const std::string& Text) {
  BroadcastLog(Text);
}

void EchoCommand(const std::string& Text, uint8_t Value) {
  BusBroadcast(StartupObjects().EchoMessage, Text, Value);
}

}  // namespace morvane
