#pragma once
// Which session bus a program beside Morvane uses when it may have been started without one:
// the INDI driver under an indiserver that a system service runs (INDI Web Manager) has no
// DBUS_SESSION_BUS_ADDRESS, yet Morvane runs on the session bus of the same user, which
// systemd keeps at /run/user/<uid>/bus while the user is logged in or lingering. Plain C++.

#include <functional>
#include <string>

namespace morvane {

struct TBusChoice {
  std::string Address;  // for DBUS_SESSION_BUS_ADDRESS; empty when none was found
  std::string From;     // where it came from, for a message
  std::string Problem;  // when none was found: what was looked at, and what to do
};

// Pure: morvaneAddress ($MORVANE_BUS_ADDRESS, the user's say) first, then sessionAddress
// ($DBUS_SESSION_BUS_ADDRESS), then the socket "bus" in runtimeDir ($XDG_RUNTIME_DIR), then
// /run/user/<uid>/bus; isSocket tells whether a path is a socket.
TBusChoice ChooseSessionBus(const std::string& morvaneAddress, const std::string& sessionAddress,
                            const std::string& runtimeDir, unsigned uid,
                            const std::function<bool(const std::string&)>& isSocket);

// The same from the environment, and DBUS_SESSION_BUS_ADDRESS set to the choice; the problem
// is kept for SessionBusProblem. Called once at start, before any thread.
TBusChoice UseSessionBusFromEnvironment();
// Why no session bus was found at start; empty when one was.
const std::string& SessionBusProblem();

}  // namespace morvane
