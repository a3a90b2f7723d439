#pragma once
// Registered message names and broadcasts to other programs. A registered name gets an id as
// RegisterWindowMessage gives one (0xC000..0xFFFF, one per name, the same name the same id);
// a broadcast goes out as a D-Bus signal on the user's session bus: object path
// "/org/morvane/Morvane", interface "org.morvane.Broadcast", member the registered name,
// arguments the text (string) and the lParam (int32).

#include <cstdint>
#include <string>

#include "platform/BusContract.h"

namespace morvane {

// Names are compared without regard to case, as the system does.
uint32_t RegisterWindowMessage(const std::string& name);
// The name registered under id, or empty.
std::string RegisteredMessageName(uint32_t id);

// Sends the signal and returns when it has been handed to the bus. With no session bus, or
// a name that is not a valid D-Bus member, it is dropped silently.
void BusBroadcast(uint32_t messageId, const std::string& text, int32_t lParam);
// The same for a registered message that carries two numbers, as a window message's wParam
// and lParam: the signal's arguments are int32 wParam, then int32 lParam.
void BusBroadcast(uint32_t messageId, int32_t wParam, int32_t lParam);

}  // namespace morvane
