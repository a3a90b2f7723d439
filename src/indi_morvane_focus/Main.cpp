// The driver's entry: --help and --version are answered here, for a person and for the man
// page's promise; everything else goes to the INDI library's own main, which talks to
// indiserver on standard input and output. Our main shadows the library's, which is still
// exported from libindidriver and found as the next definition of the name.

#include <dlfcn.h>

#include <cstdio>

#include "busclient/SessionBus.h"
#include "platform/ProgramInfo.h"

namespace {

constexpr char Usage[] =
    "usage: indi_morvane_focus [-v]\n"
    "\n"
    "The INDI focuser driver \"Morvane Focuser\", a client of the Morvane running on this\n"
    "desktop's session bus. It is started by indiserver, not by hand:\n"
    "\n"
    "  indiserver -v indi_morvane_focus\n"
    "\n"
    "  -v           more verbose messages on standard error\n"
    "\n"
    "Without DBUS_SESSION_BUS_ADDRESS (indiserver run by a system service) it uses the bus at\n"
    "$XDG_RUNTIME_DIR/bus or /run/user/<uid>/bus; MORVANE_BUS_ADDRESS names another.\n"
    "  --help       show this text\n"
    "  --version    show the version\n";

}  // namespace

int main(int argc, char** argv) {
  if (morvane::AnswerHelpOrVersion(argc, argv, "indi_morvane_focus", MORVANE_VERSION_TEXT, Usage))
    return 0;
  // Before the INDI library starts any thread: the bus is found once, for the whole run.
  const morvane::TBusChoice bus = morvane::UseSessionBusFromEnvironment();
  if (!bus.Problem.empty()) std::fprintf(stderr, "indi_morvane_focus: %s\n", bus.Problem.c_str());
  using TMain = int (*)(int, char**);
  const auto indiMain = reinterpret_cast<TMain>(dlsym(RTLD_NEXT, "main"));
  if (!indiMain) {
    std::fprintf(stderr, "indi_morvane_focus: the INDI library's main is missing: %s\n", dlerror());
    return 1;
  }
  return indiMain(argc, argv);
}
