// morvanectl: focus with a running Morvane from a shell or a script, over its D-Bus interface
// and the named events. Exit status 0 on success, 1 on failure (one line on standard error),
// 2 on a usage error.

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "busclient/FocuserClient.h"
#include "platform/BusContract.h"
#include "platform/Event.h"
#include "platform/SharedEventBlock.h"
#include "platform/Timing.h"

using namespace morvane;

namespace {

constexpr const char* Help = R"(usage: morvanectl COMMAND [OPTIONS]

Focus with the Morvane running on this desktop.

Commands:
  position             print the position (the number the readout shows)
  status               print the port, its device, whether it is open (and why not),
                       the position and whether it is trusted, and whether the focuser
                       moves; exit status 0 when all is well, 3 when the port is not
                       open, 4 when the position is unverified (1: no Morvane)
  idle                 print "idle", or "moving" while a move by or to a count runs
  move-by N [--wait]   move by N encoder codes (positive: in, the rising count)
  move-to N [--wait]   move to the count N
  stop [--wait]        stop a move by or to a count
  reset                set the count to zero
  sync N               set the count to N without moving (the focuser is at N); refused
                       while a move or a run is under way
  watch [--json]       print every position, idle and reset notification, one a line,
                       until interrupted; --json prints JSON objects
  wait-move [--timeout S]
                       wait until the current move has finished ("GENERAL_DELAY_EVENT"),
                       at most S seconds
  permit               let an interlocked move go on ("FOCUSER_WAIT_EVENT")
  backlash off|in|out [N]
                       backlash compensation: off, or every move by or to a count ends
                       with a final approach inward or outward, N codes long
  hold-compensation    hold temperature compensation still until interrupted
  tempcomp on|off      temperature compensation on (the reference is taken from the next
                       reading) or off
  tempcoef C           codes per degree Celsius the focus moves, signed (-10000 to 10000)
  deadband N           no compensation move smaller than N codes (1 to 10000)
  samples N            module readings averaged (1 to 100)
  compensation         print every compensation setting and state, one "name value" a line
  mark-focus           mark "in focus here" for learning the temperature coefficient;
                       prints the temperature logged and the count
  measure-backlash     measure the play between the motor and the encoder (moves the
                       focuser and brings it back); prints what was found
  limits               print the travel limits "lower upper", or "none"
  set-limits L U       set the travel limits: no move to a count below L or above U, and
                       a run stops at them (saved in Morvane's settings)
  clear-limits         turn the travel limits off
  find-travel          run slowly to each end stop and back (moves the focuser); prints
                       "lowerStop upperStop" for set-limits, a margin inside them

Options:
  --wait               return once the move has ended (at once when nothing moves)
  --help               show this text
  --version            show the version

Exit status: 0 success, 1 failure (no Morvane running, a move under way, a time-out),
2 usage error.
)";

volatile std::sig_atomic_t GStop = 0;
void OnSignal(int) {
  GStop = 1;
}

int Usage(const std::string& problem) {
  std::fprintf(stderr, "morvanectl: %s\nTry 'morvanectl --help'.\n", problem.c_str());
  return 2;
}

int Fail(const std::string& problem) {
  std::fprintf(stderr, "morvanectl: %s\n", problem.c_str());
  return 1;
}

int Fail(const TBusReply& r) {
  if (r.NoService()) return Fail("no Morvane is running on the session bus");
  return Fail(r.ErrorMessage.empty() ? r.ErrorName : r.ErrorMessage);
}

// Exit statuses of "status" beside 0 (all well) and 1 (no Morvane, a failed call).
constexpr int PortNotOpenStatus = 3;
constexpr int PositionUnverifiedStatus = 4;

// The health check a script or a person runs: everything that decides whether the focuser
// can be driven now, one "name value" a line.
int PrintStatus(TFocuserClient& client) {
  TFocuserState state;
  if (const TBusReply r = client.GetState(state); !r.Ok) return Fail(r);
  std::string device;
  std::string problem;
  // An older Morvane has neither: the rest is still told.
  client.GetStringProperty("PortDevice", device);
  client.GetStringProperty("PortProblem", problem);
  std::printf("port      COM %d%s\n", state.ComPort,
              device.empty() ? "" : (" (" + device + ")").c_str());
  std::printf("open      %s\n",
              state.PortOpen ? "yes" : ("no" + (problem.empty() ? "" : ": " + problem)).c_str());
  std::printf("position  %d%s\n", state.Position, state.PositionTrusted ? "" : " (unverified)");
  std::printf("moving    %s\n", !state.Idle ? "yes" : state.Running ? "running" : "no");
  if (!state.PortOpen) return PortNotOpenStatus;
  if (!state.PositionTrusted) return PositionUnverifiedStatus;
  return 0;
}

// A whole number in 32 bits: digits with at most one sign before them, nothing else.
bool ParseInt(const std::string& text, int32_t& value) {
  const char* first = text.data();
  const char* last = first + text.size();
  if (first != last && *first == '+') ++first;
  if (first != last && *first == '-' && first != text.data()) return false;  // "+-5"
  const auto [end, ec] = std::from_chars(first, last, value);
  return ec == std::errc() && end == last && first != last;
}

// A signed decimal ("-3", "+2.5", ".5"): digits with at most one point and one sign before
// them; no exponent, blank or word. Within -limit..limit.
bool ParseDecimal(const std::string& text, double limit, double& value) {
  const size_t at = !text.empty() && (text[0] == '+' || text[0] == '-') ? 1 : 0;
  bool digit = false;
  bool point = false;
  for (size_t i = at; i < text.size(); ++i) {
    const char c = text[i];
    if (c >= '0' && c <= '9') {
      digit = true;
    } else if (c == '.' && !point) {
      point = true;
    } else {
      return false;
    }
  }
  if (!digit) return false;
  const char* first = text.data() + (text[0] == '+' ? 1 : 0);
  const auto [end, ec] = std::from_chars(first, text.data() + text.size(), value);
  return ec == std::errc() && end == text.data() + text.size() && value >= -limit && value <= limit;
}

// The longest wait in seconds whose milliseconds stay below INFINITE, which means no limit.
constexpr double MaxTimeoutSeconds = 4294967;

// Seconds as plain decimal digits with at most one point ("10", "0.3"); no sign, exponent,
// blank or word, so that nothing a script mistypes is read as another number.
bool ParseSeconds(const std::string& text, double& value) {
  return !text.empty() && text[0] != '+' && text[0] != '-' &&
         ParseDecimal(text, MaxTimeoutSeconds, value);
}

// A named event that a running Morvane holds; waiting on one that nobody holds would wait for
// ever.
bool EventHeld(const char* name) {
  const int fd = shm_open(SharedEventObjectName(name).c_str(), O_RDONLY | O_CLOEXEC, 0);
  if (fd < 0) return false;
  close(fd);
  return true;
}

// Waits until the idle state has gone to false and back to true (the move's end). A move that
// never starts (already at the count) is over at once; one that does not show within a second
// is over if Morvane reads idle.
int WaitMoveEnd(TFocuserClient& client) {
  bool seenBusy = false;
  int64_t quiet = MonotonicMicros();
  while (!GStop) {
    const auto n = client.Next(200);
    if (n && n->ServiceOwned && !*n->ServiceOwned) return Fail("Morvane ended before the move did");
    if (n && n->Idle) {
      quiet = MonotonicMicros();
      if (!*n->Idle)
        seenBusy = true;
      else if (seenBusy)
        return 0;
      continue;
    }
    if (MonotonicMicros() - quiet < 1000000) continue;
    quiet = MonotonicMicros();
    TFocuserState state;
    if (const TBusReply r = client.GetState(state); !r.Ok)
      return Fail("Morvane ended before the move did");
    if (!seenBusy && state.Idle) return 0;
  }
  return 1;
}

int Report(TFocuserClient& client, int status) {
  if (status != 0) return status;
  int32_t position = 0;
  if (const TBusReply r = client.GetPosition(position); !r.Ok) return Fail(r);
  std::printf("%d\n", position);
  return 0;
}

int PrintCompensation(TFocuserClient& client) {
  TCompensationState c;
  if (const TBusReply r = client.GetCompensation(c); !r.Ok) return Fail(r);
  static const char* const modes[] = {"off", "in", "out"};
  const bool known = c.BacklashMode >= 0 && c.BacklashMode <= 2;
  std::printf("backlash %s\n", known ? modes[c.BacklashMode] : "unknown");
  std::printf("backlash-codes %d\n", c.BacklashCodes);
  std::printf("tempcomp %s\n", c.TempCompensation ? "on" : "off");
  std::printf("tempcoef %.10g\n", c.TempCoefficient);
  std::printf("deadband %d\n", c.TempDeadBand);
  std::printf("samples %d\n", c.TempSamples);
  std::printf("reference %.2f\n", c.TempReference);
  std::printf("held %s\n", c.CompensationHeld ? "yes" : "no");
  std::printf("last-move %d\n", c.LastCompensationMove);
  return 0;
}

double WallSeconds() {
  timespec t{};
  clock_gettime(CLOCK_REALTIME, &t);
  return static_cast<double>(t.tv_sec) + t.tv_nsec / 1e9;
}

int Watch(TFocuserClient& client, bool json) {
  if (!client.Watch(true)) return Fail(client.Error());
  if (!client.ServiceRunning())
    std::fprintf(stderr, "morvanectl: no Morvane is running on the session bus yet; watching\n");
  std::setvbuf(stdout, nullptr, _IOLBF, 0);
  while (!GStop) {
    const auto n = client.Next(200);
    if (!n) continue;
    if (!n->IsMessage) continue;
    const double t = WallSeconds();
    switch (n->WParam) {
      case mmPosition:
        if (json)
          std::printf("{\"time\":%.3f,\"event\":\"position\",\"position\":%d}\n", t, n->LParam);
        else
          std::printf("position %d\n", n->LParam);
        break;
      case mmIdle:
        if (json)
          std::printf("{\"time\":%.3f,\"event\":\"idle\",\"idle\":%s}\n", t,
                      n->LParam ? "true" : "false");
        else
          std::printf("%s\n", n->LParam ? "idle" : "moving");
        break;
      case mmCountReset:
        if (json)
          std::printf("{\"time\":%.3f,\"event\":\"reset\"}\n", t);
        else
          std::printf("reset\n");
        break;
      default:
        break;  // commands other programs send
    }
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  bool wait = false;
  bool json = false;
  double timeout = -1;
  std::vector<std::string> words;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--help" || a == "-h") {
      std::fputs(Help, stdout);
      return 0;
    } else if (a == "--version") {
      std::puts("morvanectl " MORVANE_VERSION_TEXT);
      return 0;
    } else if (a == "--wait") {
      wait = true;
    } else if (a == "--json") {
      json = true;
    } else if (a == "--timeout") {
      if (i + 1 >= args.size() || !ParseSeconds(args[i + 1], timeout))
        return Usage("--timeout needs a number of seconds from 0 to 4294967");
      ++i;
    } else if (a.size() > 2 && a.compare(0, 2, "--") == 0) {
      return Usage("unknown option '" + a + "'");
    } else {
      words.push_back(a);
    }
  }
  if (words.empty()) return Usage("no command given");
  const std::string command = words[0];
  size_t wantArgs = (command == "move-by" || command == "move-to" || command == "sync") ? 2
                    : command == "set-limits"                                           ? 3
                                                                                        : 1;
  static const char* const known[] = {"position",
                                      "idle",
                                      "status",
                                      "move-by",
                                      "move-to",
                                      "stop",
                                      "reset",
                                      "sync",
                                      "watch",
                                      "wait-move",
                                      "permit",
                                      "backlash",
                                      "hold-compensation",
                                      "measure-backlash",
                                      "mark-focus",
                                      "limits",
                                      "set-limits",
                                      "clear-limits",
                                      "find-travel"};
  // Temperature compensation's settings, and all compensation shown.
  static const char* const compensation[] = {"tempcomp", "tempcoef", "deadband", "samples",
                                             "compensation"};
  const bool tempSetting = command == "tempcomp" || command == "tempcoef" ||
                           command == "deadband" || command == "samples";
  if (tempSetting) wantArgs = 2;
  bool isKnown = false;
  for (const char* k : known) isKnown = isKnown || command == k;
  for (const char* k : compensation) isKnown = isKnown || command == k;
  if (!isKnown) return Usage("unknown command '" + command + "'");
  if (command == "backlash") {
    if (words.size() < 2 || words.size() > 3) return Usage("backlash takes off, in or out and N");
    wantArgs = words.size();
  }
  if (words.size() != wantArgs)
    return Usage(command + (command == "tempcomp" ? " takes on or off"
                            : wantArgs == 2       ? " takes one number"
                            : wantArgs == 3       ? " takes two numbers"
                                                  : " takes no arguments"));
  const bool moves = command == "move-by" || command == "move-to" || command == "stop";
  if (wait && !moves && command != "reset")
    return Usage("--wait goes with move-by, move-to, stop and reset");
  if (json && command != "watch") return Usage("--json goes with watch");
  if (timeout >= 0 && command != "wait-move") return Usage("--timeout goes with wait-move");
  int32_t number = 0;
  double coefficient = 0;
  int32_t backlashMode = -1;
  if (command == "backlash") {
    backlashMode = words[1] == "off" ? 0 : words[1] == "in" ? 1 : words[1] == "out" ? 2 : -1;
    if (backlashMode < 0) return Usage("backlash: '" + words[1] + "' is not off, in or out");
    if (words.size() == 3 && (!ParseInt(words[2], number) || number < 0))
      return Usage("backlash: '" + words[2] + "' is not a number of codes");
  } else if (command == "tempcomp") {
    if (words[1] != "on" && words[1] != "off")
      return Usage("tempcomp: '" + words[1] + "' is not on or off");
  } else if (command == "tempcoef") {
    if (!ParseDecimal(words[1], MostCompensationCoefficient, coefficient))
      return Usage("tempcoef: '" + words[1] + "' is not a number of codes per degree from -" +
                   std::to_string(static_cast<int>(MostCompensationCoefficient)) + " to " +
                   std::to_string(static_cast<int>(MostCompensationCoefficient)));
  } else if (command == "deadband" || command == "samples") {
    const int32_t most = command == "samples" ? MostCompensationSamples : MostCompensationCodes;
    if (!ParseInt(words[1], number) || number < 1 || number > most)
      return Usage(command + ": '" + words[1] + "' is not a whole number from 1 to " +
                   std::to_string(most));
  } else if (wantArgs == 2 && !ParseInt(words[1], number)) {
    return Usage(command + ": '" + words[1] + "' is not a whole number");
  }
  int32_t upper = 0;
  if (command == "set-limits") {
    for (size_t i = 1; i < 3; ++i)
      if (!ParseInt(words[i], i == 1 ? number : upper))
        return Usage(command + ": '" + words[i] + "' is not a whole number");
  }

  std::signal(SIGINT, OnSignal);
  std::signal(SIGTERM, OnSignal);

  // Named events are shared between the processes of one scope; a test gives its own.
  if (const char* scope = std::getenv("MORVANE_EVENT_SCOPE")) SetNamedEventScope(scope);
  if (command == "wait-move" || command == "permit") {
    const char* name = command == "permit" ? "FOCUSER_WAIT_EVENT" : "GENERAL_DELAY_EVENT";
    if (!EventHeld(name))
      return Fail("no Morvane is running (" + std::string(name) + " does not exist)");
    TEvent event(false, false, name);
    if (command == "permit") {
      event.SetEvent();
      return 0;
    }
    const unsigned ms = timeout < 0 ? INFINITE : static_cast<unsigned>(timeout * 1000 + 0.5);
    switch (event.WaitFor(ms)) {
      case TWaitResult::wrSignaled:
      case TWaitResult::wrAbandoned:
        return 0;
      case TWaitResult::wrTimeout: {
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%g", timeout);
        return Fail(std::string("the move did not finish within ") + seconds + " s");
      }
      case TWaitResult::wrError:
        return Fail(std::string("waiting failed: ") + std::strerror(event.LastError()));
    }
  }

  TFocuserClient client;
  if (!client.Connected()) return Fail("no session bus: " + client.Error());
  if (command == "watch") return Watch(client, json);
  if (command == "status") return PrintStatus(client);
  if (command == "position" || command == "idle") {
    TFocuserState state;
    if (const TBusReply r = client.GetState(state); !r.Ok) return Fail(r);
    if (command == "position")
      std::printf("%d\n", state.Position);
    else
      std::printf("%s\n", state.Idle ? "idle" : "moving");
    return 0;
  }
  if (command == "backlash") {
    TBusReply r = client.SetIntProperty("BacklashMode", backlashMode);
    if (r.Ok && words.size() == 3) r = client.SetIntProperty("BacklashCodes", number);
    return r.Ok ? 0 : Fail(r);
  }
  if (tempSetting) {
    TBusReply r;
    if (command == "tempcomp")
      r = client.SetBoolProperty("TempCompensation", words[1] == "on");
    else if (command == "tempcoef")
      r = client.SetDoubleProperty("TempCoefficient", coefficient);
    else
      r = client.SetIntProperty(command == "samples" ? "TempSamples" : "TempDeadBand", number);
    return r.Ok ? 0 : Fail(r);
  }
  if (command == "compensation") return PrintCompensation(client);
  if (command == "mark-focus") {
    double celsius = 0;
    int32_t position = 0;
    if (const TBusReply r = client.MarkFocus(celsius, position); !r.Ok) return Fail(r);
    std::printf("%.2f %d\n", celsius, position);
    return 0;
  }
  if (command == "hold-compensation") {
    // Held while this connection is on the bus: until interrupted, or Morvane goes.
    if (const TBusReply r = client.Call("HoldCompensation"); !r.Ok) return Fail(r);
    while (!GStop && client.Open()) ::usleep(100000);
    client.Call("ReleaseCompensation");
    return 0;
  }
  if (command == "measure-backlash") {
    TFocuserClient::TBacklashAnswer answer;
    if (const TBusReply r = client.MeasureBacklash(answer); !r.Ok) return Fail(r);
    std::printf("%s\n", answer.Text.c_str());
    return 0;
  }
  if (command == "limits") {
    bool set = false;
    int32_t lower = 0;
    if (const TBusReply r = client.GetLimits(set, lower, upper); !r.Ok) return Fail(r);
    if (set)
      std::printf("%d %d\n", lower, upper);
    else
      std::puts("none");
    return 0;
  }
  if (command == "set-limits" || command == "clear-limits") {
    const TBusReply r = command == "set-limits" ? client.CallIntInt("SetLimits", number, upper)
                                                : client.Call("ClearLimits");
    return r.Ok ? 0 : Fail(r);
  }
  if (command == "find-travel") {
    int32_t lower = 0;
    if (const TBusReply r = client.FindTravel(lower, upper); !r.Ok) return Fail(r);
    std::printf("%d %d\n", lower, upper);
    return 0;
  }
  // Listen before the call, so that no change of the move is missed.
  if (wait && !client.Watch(false)) return Fail(client.Error());
  TFocuserState before;
  if (wait) {
    if (const TBusReply r = client.GetState(before); !r.Ok) return Fail(r);
  }
  TBusReply r;
  if (command == "move-by")
    r = client.CallInt("MoveBy", number);
  else if (command == "move-to")
    r = client.CallInt("MoveTo", number);
  else if (command == "stop")
    r = client.Call("Stop");
  else if (command == "sync")
    r = client.CallInt("Sync", number);
  else
    r = client.Call("ResetCount");
  if (!r.Ok) return Fail(r);
  if (!wait || command == "reset" || command == "sync") return 0;
  if (command == "stop") return before.Idle ? 0 : Report(client, WaitMoveEnd(client));
  const bool nothingToDo = command == "move-by" ? number == 0 : number == before.Position;
  return Report(client, nothingToDo ? 0 : WaitMoveEnd(client));
}
