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
#include <tuple>
#include <vector>

#include "busclient/FocuserClient.h"
#include "busclient/Follower.h"
#include "platform/BusContract.h"
#include "platform/Event.h"
#include "platform/SharedEventBlock.h"
#include "platform/Timing.h"

using namespace morvane;

namespace {

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
  // An older Morvane has neither device nor problem: the rest is still told.
  const std::string& device = state.PortDevice;
  const std::string& problem = state.PortProblem;
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

// Waits until the move the tracker follows has ended. A move whose start does not show within
// a second is over if Morvane reads idle.
int WaitMoveEnd(TFocuserClient& client, const TFocuserState& before, TMoveTracker& move) {
  TFocuserFollower follower;
  follower.Reset(before);
  int64_t quiet = MonotonicMicros();
  while (!GStop) {
    const auto n = client.Next(200);
    if (n && follower.Apply(*n).Gone) return Fail("Morvane ended before the move did");
    if (n && n->Idle) {
      quiet = MonotonicMicros();
      if (move.OnIdle(*n->Idle, follower.State()) != TMoveEnd::meNone) return 0;
      continue;
    }
    if (MonotonicMicros() - quiet < 1000000) continue;
    quiet = MonotonicMicros();
    TFocuserState state;
    if (const TBusReply r = client.GetState(state); !r.Ok)
      return Fail("Morvane ended before the move did");
    follower.Reset(state);
    if (move.OnQuiet(state) != TMoveEnd::meNone) return 0;
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

// What a command was given: its words (the name first) and options, read by its parser.
struct TCommandArgs {
  std::vector<std::string> Words;
  bool Wait = false;
  bool Json = false;
  double Timeout = -1;
  int32_t Number = 0;
  double Coefficient = 0;
  int32_t BacklashMode = -1;
  int32_t Upper = 0;  // set-limits: the second number
};

// The options a command takes beside --help and --version.
enum TOption : unsigned { opWait = 1, opJson = 2, opTimeout = 4 };

// Checks and reads the words beyond the name: empty, or the usage error.
using TParse = std::string (*)(TCommandArgs&);
// Runs the command: on the bus (client) or with the named events (client null).
using TRun = int (*)(TFocuserClient*, TCommandArgs&);

struct TCommand {
  const char* Name;
  const char* Synopsis;  // what follows the name in --help
  const char* Help;      // its lines, each after the first indented by --help
  size_t Arguments;      // words beyond the name
  unsigned Options;
  bool Bus;  // needs the session bus
  TParse Parse;
  TRun Run;
};

std::string NoArguments(TCommandArgs&) {
  return {};
}

std::string OneNumber(TCommandArgs& a) {
  if (!ParseInt(a.Words[1], a.Number))
    return a.Words[0] + ": '" + a.Words[1] + "' is not a whole number";
  return {};
}

std::string TwoNumbers(TCommandArgs& a) {
  for (size_t i = 1; i < 3; ++i)
    if (!ParseInt(a.Words[i], i == 1 ? a.Number : a.Upper))
      return a.Words[0] + ": '" + a.Words[i] + "' is not a whole number";
  return {};
}

std::string BacklashArgs(TCommandArgs& a) {
  const std::string& mode = a.Words[1];
  a.BacklashMode = mode == "off" ? 0 : mode == "in" ? 1 : mode == "out" ? 2 : -1;
  if (a.BacklashMode < 0) return "backlash: '" + mode + "' is not off, in or out";
  if (a.Words.size() == 3 && (!ParseInt(a.Words[2], a.Number) || a.Number < 0))
    return "backlash: '" + a.Words[2] + "' is not a number of codes";
  return {};
}

std::string OnOff(TCommandArgs& a) {
  if (a.Words[1] != "on" && a.Words[1] != "off")
    return a.Words[0] + ": '" + a.Words[1] + "' is not on or off";
  return {};
}

std::string CoefficientArg(TCommandArgs& a) {
  if (ParseDecimal(a.Words[1], MostCompensationCoefficient, a.Coefficient)) return {};
  const std::string most = std::to_string(static_cast<int>(MostCompensationCoefficient));
  return "tempcoef: '" + a.Words[1] + "' is not a number of codes per degree from -" + most +
         " to " + most;
}

std::string CountFromOne(TCommandArgs& a, int32_t most) {
  if (ParseInt(a.Words[1], a.Number) && a.Number >= 1 && a.Number <= most) return {};
  return a.Words[0] + ": '" + a.Words[1] + "' is not a whole number from 1 to " +
         std::to_string(most);
}

std::string DeadBandArg(TCommandArgs& a) {
  return CountFromOne(a, MostCompensationCodes);
}

std::string SamplesArg(TCommandArgs& a) {
  return CountFromOne(a, MostCompensationSamples);
}

int RunPosition(TFocuserClient* client, TCommandArgs&) {
  TFocuserState state;
  if (const TBusReply r = client->GetState(state); !r.Ok) return Fail(r);
  std::printf("%d\n", state.Position);
  return 0;
}

int RunIdle(TFocuserClient* client, TCommandArgs&) {
  TFocuserState state;
  if (const TBusReply r = client->GetState(state); !r.Ok) return Fail(r);
  std::printf("%s\n", state.Idle ? "idle" : "moving");
  return 0;
}

int RunStatus(TFocuserClient* client, TCommandArgs&) {
  return PrintStatus(*client);
}

// A call that may move, and with --wait the wait for the move's end; the position after.
int CallAndWait(TFocuserClient& client, const TCommandArgs& a,
                TBusReply (*call)(TFocuserClient&, int32_t)) {
  // Listen before the call, so that no change of the move is missed.
  if (a.Wait && !client.Watch(false)) return Fail(client.Error());
  TFocuserState before;
  if (a.Wait) {
    if (const TBusReply r = client.GetState(before); !r.Ok) return Fail(r);
  }
  if (const TBusReply r = call(client, a.Number); !r.Ok) return Fail(r);
  if (!a.Wait) return 0;
  const std::string& command = a.Words[0];
  TMoveTracker move;
  if (command == "stop") {
    if (before.Idle) return 0;
    move.FollowRunning();
  } else {
    const int64_t target =
        command == "move-by" ? int64_t{before.Position} + a.Number : int64_t{a.Number};
    if (!move.Issue(target, before.Position, true)) return Report(client, 0);
  }
  return Report(client, WaitMoveEnd(client, before, move));
}

int RunMoveBy(TFocuserClient* client, TCommandArgs& a) {
  return CallAndWait(*client, a,
                     [](TFocuserClient& c, int32_t n) { return c.CallInt(BusMethod::MoveBy, n); });
}

int RunMoveTo(TFocuserClient* client, TCommandArgs& a) {
  return CallAndWait(*client, a,
                     [](TFocuserClient& c, int32_t n) { return c.CallInt(BusMethod::MoveTo, n); });
}

int RunStop(TFocuserClient* client, TCommandArgs& a) {
  return CallAndWait(*client, a,
                     [](TFocuserClient& c, int32_t) { return c.Call(BusMethod::Stop); });
}

// Nothing moves: --wait has nothing to wait for.
int RunReset(TFocuserClient* client, TCommandArgs&) {
  const TBusReply r = client->Call(BusMethod::ResetCount);
  return r.Ok ? 0 : Fail(r);
}

int RunSync(TFocuserClient* client, TCommandArgs& a) {
  const TBusReply r = client->CallInt(BusMethod::Sync, a.Number);
  return r.Ok ? 0 : Fail(r);
}

int RunWatch(TFocuserClient* client, TCommandArgs& a) {
  return Watch(*client, a.Json);
}

// The named events: a running Morvane holds them.
int RunWaitMove(TFocuserClient*, TCommandArgs& a) {
  const char* name = "GENERAL_DELAY_EVENT";
  if (!EventHeld(name))
    return Fail("no Morvane is running (" + std::string(name) + " does not exist)");
  TEvent event(false, false, name);
  const unsigned ms = a.Timeout < 0 ? INFINITE : static_cast<unsigned>(a.Timeout * 1000 + 0.5);
  switch (event.WaitFor(ms)) {
    case TWaitResult::wrSignaled:
    case TWaitResult::wrAbandoned:
      return 0;
    case TWaitResult::wrTimeout: {
      char seconds[32];
      std::snprintf(seconds, sizeof seconds, "%g", a.Timeout);
      return Fail(std::string("the move did not finish within ") + seconds + " s");
    }
    case TWaitResult::wrError:
      return Fail(std::string("waiting failed: ") + std::strerror(event.LastError()));
  }
  return 1;
}

int RunPermit(TFocuserClient*, TCommandArgs&) {
  const char* name = "FOCUSER_WAIT_EVENT";
  if (!EventHeld(name))
    return Fail("no Morvane is running (" + std::string(name) + " does not exist)");
  TEvent(false, false, name).SetEvent();
  return 0;
}

int RunBacklash(TFocuserClient* client, TCommandArgs& a) {
  TBusReply r = client->SetIntProperty(BusProperty::BacklashMode, a.BacklashMode);
  if (r.Ok && a.Words.size() == 3) r = client->SetIntProperty(BusProperty::BacklashCodes, a.Number);
  return r.Ok ? 0 : Fail(r);
}

int RunHoldCompensation(TFocuserClient* client, TCommandArgs&) {
  // Held while this connection is on the bus: until interrupted, or Morvane goes.
  if (const TBusReply r = client->Call(BusMethod::HoldCompensation); !r.Ok) return Fail(r);
  while (!GStop && client->Open()) ::usleep(100000);
  client->Call(BusMethod::ReleaseCompensation);
  return 0;
}

int RunTempComp(TFocuserClient* client, TCommandArgs& a) {
  const TBusReply r = client->SetBoolProperty(BusProperty::TempCompensation, a.Words[1] == "on");
  return r.Ok ? 0 : Fail(r);
}

int RunTempCoef(TFocuserClient* client, TCommandArgs& a) {
  const TBusReply r = client->SetDoubleProperty(BusProperty::TempCoefficient, a.Coefficient);
  return r.Ok ? 0 : Fail(r);
}

int RunDeadBand(TFocuserClient* client, TCommandArgs& a) {
  const TBusReply r = client->SetIntProperty(BusProperty::TempDeadBand, a.Number);
  return r.Ok ? 0 : Fail(r);
}

int RunSamples(TFocuserClient* client, TCommandArgs& a) {
  const TBusReply r = client->SetIntProperty(BusProperty::TempSamples, a.Number);
  return r.Ok ? 0 : Fail(r);
}

int RunCompensation(TFocuserClient* client, TCommandArgs&) {
  return PrintCompensation(*client);
}

int RunMarkFocus(TFocuserClient* client, TCommandArgs&) {
  double celsius = 0;
  int32_t position = 0;
  if (const TBusReply r = client->MarkFocus(celsius, position); !r.Ok) return Fail(r);
  std::printf("%.2f %d\n", celsius, position);
  return 0;
}

int RunMeasureBacklash(TFocuserClient* client, TCommandArgs&) {
  TFocuserClient::TBacklashAnswer answer;
  if (const TBusReply r = client->MeasureBacklash(answer); !r.Ok) return Fail(r);
  std::printf("%s\n", answer.Text.c_str());
  return 0;
}

int RunLimits(TFocuserClient* client, TCommandArgs&) {
  TFocuserState state;
  if (const TBusReply r = client->GetState(state); !r.Ok) return Fail(r);
  if (state.LimitsSet)
    std::printf("%d %d\n", state.LowerLimit, state.UpperLimit);
  else
    std::puts("none");
  return 0;
}

int RunSetLimits(TFocuserClient* client, TCommandArgs& a) {
  const TBusReply r = client->CallIntInt(BusMethod::SetLimits, a.Number, a.Upper);
  return r.Ok ? 0 : Fail(r);
}

int RunClearLimits(TFocuserClient* client, TCommandArgs&) {
  const TBusReply r = client->Call(BusMethod::ClearLimits);
  return r.Ok ? 0 : Fail(r);
}

int RunFindTravel(TFocuserClient* client, TCommandArgs&) {
  int32_t lower = 0, upper = 0;
  if (const TBusReply r = client->FindTravel(lower, upper); !r.Ok) return Fail(r);
  std::printf("%d %d\n", lower, upper);
  return 0;
}

// Every command, in --help's order. "backlash" takes one or two words: Arguments is its most.
constexpr TCommand Commands[] = {
    {"position", "", "print the position (the number the readout shows)", 0, 0, true, NoArguments,
     RunPosition},
    {"status", "",
     "print the port, its device, whether it is open (and why not),\n"
     "the position and whether it is trusted, and whether the focuser\n"
     "moves; exit status 0 when all is well, 3 when the port is not\n"
     "open, 4 when the position is unverified (1: no Morvane)",
     0, 0, true, NoArguments, RunStatus},
    {"idle", "", "print \"idle\", or \"moving\" while a move by or to a count runs", 0, 0, true,
     NoArguments, RunIdle},
    {"move-by", "N [--wait]", "move by N encoder codes (positive: in, the rising count)", 1, opWait,
     true, OneNumber, RunMoveBy},
    {"move-to", "N [--wait]", "move to the count N", 1, opWait, true, OneNumber, RunMoveTo},
    {"stop", "[--wait]", "stop a move by or to a count", 0, opWait, true, NoArguments, RunStop},
    {"reset", "", "set the count to zero", 0, opWait, true, NoArguments, RunReset},
    {"sync", "N",
     "set the count to N without moving (the focuser is at N); refused\n"
     "while a move or a run is under way",
     1, 0, true, OneNumber, RunSync},
    {"watch", "[--json]",
     "print every position, idle and reset notification, one a line,\n"
     "until interrupted; --json prints JSON objects",
     0, opJson, true, NoArguments, RunWatch},
    {"wait-move", "[--timeout S]",
     "wait until the current move has finished (\"GENERAL_DELAY_EVENT\"),\n"
     "at most S seconds",
     0, opTimeout, false, NoArguments, RunWaitMove},
    {"permit", "", "let an interlocked move go on (\"FOCUSER_WAIT_EVENT\")", 0, 0, false,
     NoArguments, RunPermit},
    {"backlash", "off|in|out [N]",
     "backlash compensation: off, or every move by or to a count ends\n"
     "with a final approach inward or outward, N codes long",
     2, 0, true, BacklashArgs, RunBacklash},
    {"hold-compensation", "", "hold temperature compensation still until interrupted", 0, 0, true,
     NoArguments, RunHoldCompensation},
    {"tempcomp", "on|off",
     "temperature compensation on (the reference is taken from the next\n"
     "reading) or off",
     1, 0, true, OnOff, RunTempComp},
    {"tempcoef", "C", "codes per degree Celsius the focus moves, signed (-10000 to 10000)", 1, 0,
     true, CoefficientArg, RunTempCoef},
    {"deadband", "N", "no compensation move smaller than N codes (1 to 10000)", 1, 0, true,
     DeadBandArg, RunDeadBand},
    {"samples", "N", "module readings averaged (1 to 100)", 1, 0, true, SamplesArg, RunSamples},
    {"compensation", "", "print every compensation setting and state, one \"name value\" a line", 0,
     0, true, NoArguments, RunCompensation},
    {"mark-focus", "",
     "mark \"in focus here\" for learning the temperature coefficient;\n"
     "prints the temperature logged and the count",
     0, 0, true, NoArguments, RunMarkFocus},
    {"measure-backlash", "",
     "measure the play between the motor and the encoder (moves the\n"
     "focuser and brings it back); prints what was found",
     0, 0, true, NoArguments, RunMeasureBacklash},
    {"limits", "", "print the travel limits \"lower upper\", or \"none\"", 0, 0, true, NoArguments,
     RunLimits},
    {"set-limits", "L U",
     "set the travel limits: no move to a count below L or above U, and\n"
     "a run stops at them (saved in Morvane's settings)",
     2, 0, true, TwoNumbers, RunSetLimits},
    {"clear-limits", "", "turn the travel limits off", 0, 0, true, NoArguments, RunClearLimits},
    {"find-travel", "",
     "run slowly to each end stop and back (moves the focuser); prints\n"
     "\"lowerStop upperStop\" for set-limits, a margin inside them",
     0, 0, true, NoArguments, RunFindTravel},
};

const TCommand* FindCommand(const std::string& name) {
  for (const TCommand& c : Commands)
    if (name == c.Name) return &c;
  return nullptr;
}

// --help: each command's name and synopsis in the first columns, its help from column
// HelpColumn; a name and synopsis too long for them stand on a line of their own.
constexpr size_t HelpColumn = 23;

std::string HelpText() {
  std::string text =
      "usage: morvanectl COMMAND [OPTIONS]\n\nFocus with the Morvane running on this desktop.\n\n"
      "Commands:\n";
  const std::string indent(HelpColumn, ' ');
  for (const TCommand& c : Commands) {
    std::string head = std::string("  ") + c.Name + (*c.Synopsis ? " " : "") + c.Synopsis;
    if (head.size() + 2 > HelpColumn)
      head += "\n" + indent;
    else
      head.resize(HelpColumn, ' ');
    text += head;
    for (const char* p = c.Help; *p; ++p) {
      text += *p;
      if (*p == '\n') text += indent;
    }
    text += '\n';
  }
  text +=
      "\nOptions:\n"
      "  --wait               return once the move has ended (at once when nothing moves)\n"
      "  --help               show this text\n"
      "  --version            show the version\n"
      "\nExit status: 0 success, 1 failure (no Morvane running, a move under way, a time-out),\n"
      "2 usage error.\n";
  return text;
}

// "--wait goes with move-by, move-to, stop and reset": the commands that take the option.
std::string GoesWith(const char* option, unsigned flag) {
  std::vector<std::string> names;
  for (const TCommand& c : Commands)
    if (c.Options & flag) names.push_back(c.Name);
  std::string text = std::string(option) + " goes with ";
  for (size_t i = 0; i < names.size(); ++i)
    text += (i == 0 ? "" : i + 1 == names.size() ? " and " : ", ") + names[i];
  return text;
}

// Why the words beyond the name are too many or too few.
std::string ArgumentsProblem(const TCommand& c) {
  if (c.Parse == BacklashArgs) return "backlash takes off, in or out and N";
  if (c.Parse == OnOff) return std::string(c.Name) + " takes on or off";
  static const char* const counts[] = {" takes no arguments", " takes one number",
                                       " takes two numbers"};
  return std::string(c.Name) + counts[c.Arguments < 3 ? c.Arguments : 2];
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  TCommandArgs a;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--help" || arg == "-h") {
      std::fputs(HelpText().c_str(), stdout);
      return 0;
    } else if (arg == "--version") {
      std::puts("morvanectl " MORVANE_VERSION_TEXT);
      return 0;
    } else if (arg == "--wait") {
      a.Wait = true;
    } else if (arg == "--json") {
      a.Json = true;
    } else if (arg == "--timeout") {
      if (i + 1 >= args.size() || !ParseSeconds(args[i + 1], a.Timeout))
        return Usage("--timeout needs a number of seconds from 0 to 4294967");
      ++i;
    } else if (arg.size() > 2 && arg.compare(0, 2, "--") == 0) {
      return Usage("unknown option '" + arg + "'");
    } else {
      a.Words.push_back(arg);
    }
  }
  if (a.Words.empty()) return Usage("no command given");
  const TCommand* command = FindCommand(a.Words[0]);
  if (!command) return Usage("unknown command '" + a.Words[0] + "'");
  // backlash: its mode, and the codes when given.
  const size_t least = command->Parse == BacklashArgs ? 1 : command->Arguments;
  if (a.Words.size() < least + 1 || a.Words.size() > command->Arguments + 1)
    return Usage(ArgumentsProblem(*command));
  for (const auto& [given, flag, option] :
       {std::tuple{a.Wait, opWait, "--wait"}, std::tuple{a.Json, opJson, "--json"},
        std::tuple{a.Timeout >= 0, opTimeout, "--timeout"}}) {
    if (given && !(command->Options & flag)) return Usage(GoesWith(option, flag));
  }
  if (const std::string problem = command->Parse(a); !problem.empty()) return Usage(problem);

  std::signal(SIGINT, OnSignal);
  std::signal(SIGTERM, OnSignal);
  // Named events are shared between the processes of one scope; a test gives its own.
  if (const char* scope = std::getenv("MORVANE_EVENT_SCOPE")) SetNamedEventScope(scope);
  if (!command->Bus) return command->Run(nullptr, a);
  TFocuserClient client;
  if (!client.Connected()) return Fail("no session bus: " + client.Error());
  return command->Run(&client, a);
}
