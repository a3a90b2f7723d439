#pragma once
// The program-wide named events, the registered message names and the diagnostic broadcast
// switches, created by TStartupObjects before any window exists and freed after the last.

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/Event.h"

namespace morvane {

// Off for good: no setting or command turns diagnostic lines on.
inline std::atomic<bool> DiagnosticLogging{false};

class TStartupObjects {
 public:
  // Registers "MESSAGE_LOGGER", "KS_MESSAGE", "KS_MSG" and "AA_KS_MSG" in that order and
  // creates "GENERAL_DELAY_EVENT", "FOCUS_DELAY_EVENT" and "FOCUSER_WAIT_EVENT". One at a
  // time; the program makes one at start.
  TStartupObjects();
  ~TStartupObjects();
  TStartupObjects(const TStartupObjects&) = delete;
  TStartupObjects& operator=(const TStartupObjects&) = delete;

  uint16_t LoggerMessage = 0;
  uint16_t EchoMessage = 0;
  uint16_t KSMsg = 0;
  uint16_t AAKSMsg = 0;
  std::unique_ptr<TEvent> GeneralDelay;
  std::unique_ptr<TEvent> FocusDelay;
  std::unique_ptr<TEvent> FocuserWait;
};

// The live start-up objects; the program (or a test) must have created them.
TStartupObjects& StartupObjects();
TEvent& GeneralDelayEvent();
TEvent& FocuserWaitEvent();

// Atom broadcast of Text on "MESSAGE_LOGGER" with lParam 0.
void BroadcastLog(const std::string& Text);
// Passes Text to BroadcastLog.
void LogLine(const std::string& Text);
// Atom broadcast of Text on "KS_MESSAGE" with lParam Value.
void EchoCommand(const std::string& Text, uint8_t Value);

}  // namespace morvane
