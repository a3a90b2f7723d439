// The session bus the INDI driver uses when indiserver runs without one (a system service).

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "busclient/SessionBus.h"

namespace morvane {
namespace {

TEST(ChooseSessionBus, TheUsersSayThenTheSessionThenTheRuntimeFolders) {
  struct TCase {
    std::string Morvane, Session, Runtime;
    std::set<std::string> Sockets;
    std::string Address;  // empty: none found
  };
  const std::vector<TCase> cases = {
      {"unix:path=/x", "unix:path=/s", "/r", {"/r/bus"}, "unix:path=/x"},
      {"", "unix:path=/s", "/r", {"/r/bus", "/run/user/1000/bus"}, "unix:path=/s"},
      {"", "", "/r", {"/r/bus", "/run/user/1000/bus"}, "unix:path=/r/bus"},
      {"", "", "/r", {"/run/user/1000/bus"}, "unix:path=/run/user/1000/bus"},
      {"", "", "", {"/run/user/1000/bus"}, "unix:path=/run/user/1000/bus"},
      // A relative runtime folder is none.
      {"", "", "r", {"r/bus"}, ""},
      {"", "", "/r", {}, ""},
      {"", "", "", {"/run/user/0/bus"}, ""},  // another user's
  };
  for (const TCase& c : cases) {
    const TBusChoice choice =
        ChooseSessionBus(c.Morvane, c.Session, c.Runtime, 1000,
                         [&](const std::string& path) { return c.Sockets.count(path) > 0; });
    EXPECT_EQ(choice.Address, c.Address) << c.Morvane << "|" << c.Session << "|" << c.Runtime;
    EXPECT_EQ(choice.Problem.empty(), !c.Address.empty());
  }
  // The message names what was looked at and what to do.
  const TBusChoice none =
      ChooseSessionBus("", "", "/r", 1000, [](const std::string&) { return false; });
  for (const char* part : {"/r/bus", "/run/user/1000/bus", "enable-linger", "MORVANE_BUS_ADDRESS"})
    EXPECT_NE(none.Problem.find(part), std::string::npos) << part << ": " << none.Problem;
}

}  // namespace
}  // namespace morvane
