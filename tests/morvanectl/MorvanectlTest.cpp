// morvanectl as a user runs it: every command, --wait, its exit statuses and messages, with
// and without a Morvane on the session bus.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTimer>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>

#include "busclient/FocuserClient.h"
#include "platform/Signals.h"
#include "platform/Timing.h"
#include "support/BusTestSupport.h"
#include "support/ToolProcess.h"
#include "ui/bus/FakeConsole.h"
#include "ui/bus/FocuserService.h"

using namespace morvane;
using namespace morvane::test;

namespace {

const std::string Tool = MORVANECTL;

// A console whose moves take a while: busy at once, landed 300 ms later.
class TMovingConsole : public TFakeConsole {
 public:
  TFocuserService* Service = nullptr;
  void MoveByClick(int32_t codes) override {
    TFakeConsole::MoveByClick(codes);
    Move(Readout + codes);
  }
  void MoveToClick(int32_t count) override {
    TFakeConsole::MoveToClick(count);
    if (count != Readout) Move(count);
  }
  void StopClick() override {
    TFakeConsole::StopClick();
    if (!IsIdle) Land(Readout + 1);
  }
  // A measurement answered 300 ms later, busy meanwhile.
  TBacklashReply Measured;
  void MeasureBacklash(std::function<void(const TBacklashReply&)> done) override {
    Calls.emplace_back("MeasureBacklash");
    IsIdle = false;
    QTimer::singleShot(300, Service, [this, done] {
      IsIdle = true;
      done(Measured);
    });
  }
  void ResetClick() override {
    TFakeConsole::ResetClick();
    Readout = 0;
    Service->StateChanged();
  }

 private:
  void Move(int32_t target) {
    IsIdle = false;
    Service->StateChanged();
    QTimer::singleShot(300, Service, [this, target] { Land(target); });
  }
  void Land(int32_t target) {
    if (IsIdle) return;
    Readout = target;
    IsIdle = true;
    Service->StateChanged();
  }
};

class MorvanectlTest : public testing::Test {};

TToolResult Ctl(const std::vector<std::string>& args, const std::vector<std::string>& env = {}) {
  return FromOtherThread([&] { return RunTool(Tool, args, env); });
}

TEST_F(MorvanectlTest, UsageErrorsExitTwoAndHelpListsEveryCommand) {
  const TToolResult help = RunTool(Tool, {"--help"});
  EXPECT_EQ(help.Status, 0);
  for (const char* c :
       {"position",     "idle",     "move-by",    "move-to",           "stop",
        "reset",        "watch",    "--json",     "wait-move",         "--timeout",
        "permit",       "--wait",   "backlash",   "hold-compensation", "measure-backlash",
        "mark-focus",   "tempcomp", "tempcoef",   "deadband",          "samples",
        "compensation", "limits",   "set-limits", "clear-limits",      "find-travel"})
    EXPECT_NE(help.Out.find(c), std::string::npos) << c;
  for (const auto& args :
       std::vector<std::vector<std::string>>{{},
                                             {"frobnicate"},
                                             {"move-by"},
                                             {"move-by", "ten"},
                                             {"move-to", "2.5"},
                                             {"move-to", "99999999999"},
                                             {"position", "3"},
                                             {"position", "--json"},
                                             {"idle", "--wait"},
                                             {"wait-move", "--timeout"},
                                             {"wait-move", "--timeout", "-1"},
                                             {"wait-move", "--timeout", "4294967.296"},
                                             {"wait-move", "--timeout", "5s"},
                                             {"wait-move", "--timeout", ""},
                                             {"wait-move", "--timeout", "inf"},
                                             {"move-by", "+-5"},
                                             {"move-by", ""},
                                             {"move-to", "2147483648"},
                                             {"watch", "--bogus"},
                                             {"backlash"},
                                             {"set-limits", "5"},
                                             {"set-limits", "5", "x"},
                                             {"limits", "5"},
                                             {"find-travel", "--wait"},
                                             {"backlash", "sideways"},
                                             {"backlash", "in", "-3"},
                                             {"backlash", "in", "3", "4"},
                                             {"tempcomp"},
                                             {"tempcomp", "1"},
                                             {"tempcoef", "1e3"},
                                             {"tempcoef", "+-2"},
                                             {"tempcoef", "-"},
                                             {"tempcoef", "10000.5"},
                                             {"deadband", "0"},
                                             {"deadband", "2.5"},
                                             {"samples", "101"},
                                             {"compensation", "on"}}) {
    const TToolResult r = RunTool(Tool, args);
    EXPECT_EQ(r.Status, 2) << (args.empty() ? "" : args[0]) << ": " << r.Err;
    EXPECT_NE(r.Err.find("morvanectl: "), std::string::npos);
    EXPECT_TRUE(r.Out.empty());
  }
}

TEST_F(MorvanectlTest, WithoutMorvaneEveryCommandFailsWithOneLine) {
  TFocuserClient probe;
  ASSERT_FALSE(probe.ServiceRunning()) << "a Morvane is on this test's bus";
  const std::vector<std::string> scope = {"MORVANE_EVENT_SCOPE=nobody" + std::to_string(getpid())};
  for (const auto& args : std::vector<std::vector<std::string>>{{"position"},
                                                                {"idle"},
                                                                {"move-by", "5", "--wait"},
                                                                {"move-to", "-3"},
                                                                {"stop"},
                                                                {"reset"},
                                                                {"wait-move", "--timeout", "1"},
                                                                {"permit"},
                                                                {"tempcomp", "on"},
                                                                {"compensation"}}) {
    const TToolResult r = RunTool(Tool, args, scope);
    EXPECT_EQ(r.Status, 1) << args[0];
    EXPECT_NE(r.Err.find("no Morvane is running"), std::string::npos) << args[0] << ": " << r.Err;
    EXPECT_EQ(std::count(r.Err.begin(), r.Err.end(), '\n'), 1) << r.Err;
  }
}

// A bus that can start Morvane from a service file, as one that reads an installed package's
// files can: a client's call must fail as without Morvane and start nothing.
TEST(MorvanectlActivationTest, ACallStartsNoMorvaneThroughTheBusServiceFile) {
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("morvane-activation-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir / "services");
  std::ofstream(dir / "services" / "org.morvane.Morvane.service")
      << "[D-BUS Service]\nName=org.morvane.Morvane\nExec=/bin/sh -c 'echo >"
      << (dir / "started").string() << "'\n";
  std::stringstream conf;
  conf << std::ifstream(MORVANE_TEST_BUS_CONFIG).rdbuf();
  std::string text = conf.str();
  text.insert(text.find("</busconfig>"),
              "  <servicedir>" + (dir / "services").string() + "</servicedir>\n");
  std::ofstream(dir / "bus.conf") << text;
  const TToolResult bus =
      RunTool("/bin/sh", {"-c", "exec dbus-daemon --config-file=" + (dir / "bus.conf").string() +
                                    " --fork --print-address=1 --print-pid=1"});
  ASSERT_EQ(bus.Status, 0) << bus.Err;
  std::istringstream lines(bus.Out);
  std::string address;
  pid_t daemon = 0;
  lines >> address >> daemon;
  ASSERT_GT(daemon, 0) << bus.Out;

  const TToolResult r = RunTool(Tool, {"position"}, {"DBUS_SESSION_BUS_ADDRESS=" + address});
  kill(daemon, SIGTERM);
  EXPECT_EQ(r.Status, 1);
  EXPECT_NE(r.Err.find("no Morvane is running"), std::string::npos) << r.Err;
  EXPECT_FALSE(std::filesystem::exists(dir / "started")) << "the bus started the service";
  std::filesystem::remove_all(dir);
}

TEST_F(MorvanectlTest, CommandsAndWaitAgainstARunningMorvane) {
  TMovingConsole console;
  TFocuserService service(console);
  console.Service = &service;
  ASSERT_TRUE(service.Publish());
  console.Readout = -12;
  service.StateChanged();

  TToolResult r = Ctl({"position"});
  EXPECT_EQ(r.Status, 0);
  EXPECT_EQ(r.Out, "-12\n");
  EXPECT_EQ(Ctl({"idle"}).Out, "idle\n");

  r = Ctl({"move-by", "30", "--wait"});
  EXPECT_EQ(r.Status, 0) << r.Err;
  EXPECT_EQ(r.Out, "18\n");
  EXPECT_TRUE(console.IsIdle);

  // Already there: --wait comes back at once.
  const auto start = std::chrono::steady_clock::now();
  r = Ctl({"move-to", "18", "--wait"});
  EXPECT_EQ(r.Status, 0);
  EXPECT_EQ(r.Out, "18\n");
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1500));

  // Without --wait it returns while moving; a second move is refused; stop --wait waits.
  EXPECT_EQ(Ctl({"move-to", "+100"}).Status, 0);
  EXPECT_EQ(Ctl({"idle"}).Out, "moving\n");
  r = Ctl({"move-by", "-5"});
  EXPECT_EQ(r.Status, 1);
  EXPECT_NE(r.Err.find("move is under way"), std::string::npos) << r.Err;
  r = Ctl({"stop", "--wait"});
  EXPECT_EQ(r.Status, 0);
  EXPECT_EQ(r.Out, "19\n");
  EXPECT_EQ(Ctl({"reset"}).Status, 0);
  EXPECT_EQ(Ctl({"position"}).Out, "0\n");
  r = Ctl({"backlash", "out", "25"});
  EXPECT_EQ(r.Status, 0) << r.Err;
  EXPECT_EQ(console.Comp.BacklashMode, 2);
  EXPECT_EQ(console.Comp.BacklashCodes, 25);
  EXPECT_EQ(Ctl({"backlash", "off"}).Status, 0);
  EXPECT_EQ(console.Comp.BacklashMode, 0);
  EXPECT_EQ(console.Comp.BacklashCodes, 25);
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"tempcomp", "on"}, {"tempcoef", "-2.75"}, {"deadband", "7"}, {"samples", "+20"}})
    EXPECT_EQ(Ctl(args).Status, 0) << args[0];
  console.Comp.TempReference = 11.5;
  r = Ctl({"compensation"});
  EXPECT_EQ(r.Status, 0) << r.Err;
  EXPECT_EQ(r.Out,
            "backlash off\nbacklash-codes 25\ntempcomp on\ntempcoef -2.75\ndeadband 7\n"
            "samples 20\nreference 11.50\nheld no\nlast-move 0\n");
  // The answer comes when the measurement ends; an end without a result is a failure.
  console.Measured = {"", true, 7.5, 1.5, "Play between the motor and the encoder: 7.5 codes"};
  r = Ctl({"measure-backlash"});
  EXPECT_EQ(r.Status, 0) << r.Err;
  EXPECT_EQ(r.Out, console.Measured.Text + "\n");
  console.Measured = {StoppedError, false, 0, 0, "The backlash measurement was stopped."};
  r = Ctl({"measure-backlash"});
  EXPECT_EQ(r.Status, 1);
  EXPECT_NE(r.Err.find("was stopped"), std::string::npos) << r.Err;
  const std::vector<std::string> expected = {"MoveByClick 30", "MoveToClick 18", "MoveToClick 100",
                                             "StopClick",      "ResetClick",     "MeasureBacklash",
                                             "MeasureBacklash"};
  EXPECT_EQ(console.Calls, expected);
}

TEST_F(MorvanectlTest, WatchPrintsNotificationsAsTheyCome) {
  TToolProcess plain(Tool, {"watch"});
  TToolProcess json(Tool, {"watch", "--json"});
  TFocuserClient client;
  auto lines = [](TToolProcess& tool) {
    const std::string& out = tool.OutSoFar();
    return std::count(out.begin(), out.end(), '\n');
  };
  // Both are listening once each has printed a "moving" sent until they do; a loaded machine
  // may take a while to start them.
  for (int i = 0; i < 100 && (lines(plain) == 0 || lines(json) == 0); ++i) {
    client.SendMessage(mmIdle, 0);
    ServeUntil([&] { return lines(plain) > 0 && lines(json) > 0; }, 100);
  }
  const auto plainBefore = lines(plain), jsonBefore = lines(json);
  ASSERT_GT(plainBefore, 0);
  ASSERT_GT(jsonBefore, 0);
  using TWire = std::pair<int32_t, int32_t>;
  for (auto [w, l] :
       {TWire{mmPosition, -12}, {mmReportPosition, 0}, {mmIdle, 1}, {mmCountReset, 0}})
    client.SendMessage(w, l);
  ServeUntil([&] { return lines(plain) >= plainBefore + 3 && lines(json) >= jsonBefore + 3; },
             5000);
  plain.Signal(SIGINT);
  json.Signal(SIGINT);
  const TToolResult p = plain.Wait(5000);
  const TToolResult j = json.Wait(5000);
  EXPECT_EQ(p.Status, 0);
  // The "moving" lines of the start, then the three notifications in the order sent.
  const std::string tail = "position -12\nidle\nreset\n";
  ASSERT_GE(p.Out.size(), tail.size()) << p.Out;
  EXPECT_EQ(p.Out.substr(p.Out.size() - tail.size()), tail) << p.Out;
  const std::string head = p.Out.substr(0, p.Out.size() - tail.size());
  EXPECT_EQ(head.size() % 7, 0u) << p.Out;
  for (size_t at = 0; at + 7 <= head.size(); at += 7) EXPECT_EQ(head.substr(at, 7), "moving\n");
  EXPECT_EQ(j.Status, 0);
  EXPECT_NE(j.Out.find("\"event\":\"position\",\"position\":-12}"), std::string::npos) << j.Out;
  EXPECT_NE(j.Out.find("\"event\":\"idle\",\"idle\":false}"), std::string::npos);
  EXPECT_NE(j.Out.find("\"event\":\"reset\"}"), std::string::npos);
  EXPECT_GE(std::count(j.Out.begin(), j.Out.end(), '\n'), jsonBefore + 3);
}

// The named events, in this test's own scope: wait-move returns when the move-finished event
// is set, and times out otherwise; permit releases an interlocked wait.
TEST_F(MorvanectlTest, WaitMoveAndPermitUseTheNamedEvents) {
  SetNamedEventScope("ctl" + std::to_string(getpid()));
  TStartupObjects startup;
  const std::vector<std::string> scope = {"MORVANE_EVENT_SCOPE=ctl" + std::to_string(getpid())};
  TToolResult r = RunTool(Tool, {"wait-move", "--timeout", "0.3"}, scope);
  EXPECT_EQ(r.Status, 1);
  EXPECT_NE(r.Err.find("did not finish within 0.3 s"), std::string::npos) << r.Err;
  std::thread setter([&] {
    // Set while the tool waits, which nothing shows from here; set before, it is found set.
    constexpr uint32_t SetAfterMs = 300;
    Sleep(SetAfterMs);
    GeneralDelayEvent().SetEvent();
  });
  r = RunTool(Tool, {"wait-move", "--timeout", "10"}, scope);
  setter.join();
  EXPECT_EQ(r.Status, 0) << r.Err;
  EXPECT_EQ(RunTool(Tool, {"permit"}, scope).Status, 0);
  EXPECT_EQ(FocuserWaitEvent().WaitFor(0), TWaitResult::wrSignaled);
  SetNamedEventScope("");
}

}  // namespace
