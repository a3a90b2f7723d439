#include "busclient/SessionBus.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

namespace morvane {

namespace {

std::string GProblem;

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

}  // namespace

TBusChoice ChooseSessionBus(const std::string& morvaneAddress, const std::string& sessionAddress,
                            const std::string& runtimeDir, unsigned uid,
                            const std::function<bool(const std::string&)>& isSocket) {
  if (!morvaneAddress.empty()) return {morvaneAddress, "MORVANE_BUS_ADDRESS", {}};
  if (!sessionAddress.empty()) return {sessionAddress, "DBUS_SESSION_BUS_ADDRESS", {}};
  std::string looked;
  // Only an absolute folder is a runtime folder; the variable may be left from elsewhere.
  if (!runtimeDir.empty() && runtimeDir.front() == '/') {
    const std::string path = runtimeDir + "/bus";
    if (isSocket(path)) return {"unix:path=" + path, "XDG_RUNTIME_DIR", {}};
    looked = path + ", ";
  }
  const std::string path = "/run/user/" + std::to_string(uid) + "/bus";
  if (isSocket(path)) return {"unix:path=" + path, path, {}};
  looked += path;
  return {{},
          {},
          // Short: INDI cuts a message at 256 characters.
          "no session bus: DBUS_SESSION_BUS_ADDRESS is not set, no socket at " + looked +
              "; set MORVANE_BUS_ADDRESS, or run indiserver as Morvane's user, lingering "
              "(loginctl enable-linger)"};
}

TBusChoice UseSessionBusFromEnvironment() {
  const TBusChoice c = ChooseSessionBus(
      Env("MORVANE_BUS_ADDRESS"), Env("DBUS_SESSION_BUS_ADDRESS"), Env("XDG_RUNTIME_DIR"),
      static_cast<unsigned>(getuid()), [](const std::string& path) {
        struct stat st {};
        return stat(path.c_str(), &st) == 0 && S_ISSOCK(st.st_mode);
      });
  if (!c.Address.empty()) setenv("DBUS_SESSION_BUS_ADDRESS", c.Address.c_str(), 1);
  GProblem = c.Problem;
  return c;
}

const std::string& SessionBusProblem() {
  return GProblem;
}

}  // namespace morvane
