// indi_morvane_focus under indiserver, driven with INDI's own command-line tools as a client,
// against the real main window offscreen on the simulated focuser.
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>

#include "support/BusTestSupport.h"
#include "support/FreePort.h"
#include "support/ToolProcess.h"
#include "ui/MainWindowRig.h"

using namespace morvane;
using namespace morvane::test;

namespace {

const std::string Device = "Morvane Focuser";

bool ToolThere(const char* name) {
  for (const char* dir : {"/usr/bin/", "/usr/local/bin/", "/bin/"})
    if (access((std::string(dir) + name).c_str(), X_OK) == 0) return true;
  return false;
}

// indiserver with the driver on a free port; its local socket, the driver's configuration
// (HOME) and the message log in a directory of the test's own.
class TIndiServer {
 public:
  TIndiServer() {
    static int serial = 0;
    Dir = std::filesystem::temp_directory_path() /
          ("morvane-indi-" + std::to_string(getpid()) + "-" + std::to_string(++serial));
    std::filesystem::create_directories(Dir / "log");
    Port = FreePort();
    Server = std::make_unique<TToolProcess>(
        "/usr/bin/indiserver",
        std::vector<std::string>{"-p", std::to_string(Port), "-u", (Dir / "sock").string(), "-l",
                                 (Dir / "log").string(), "-r", "0", INDI_DRIVER},
        std::vector<std::string>{"HOME=" + Dir.string()});
    // Up once a client gets the device's properties.
    for (int i = 0; i < 50 && !Get("CONNECTION.CONNECT").Ok; ++i) Sleep(100);
  }
  ~TIndiServer() {
    Server.reset();
    std::error_code ignored;
    std::filesystem::remove_all(Dir, ignored);
  }

  struct TValue {
    bool Ok = false;
    std::string Text;
    double Number() const { return std::atof(Text.c_str()); }
  };

  // indi_getprop of "Device.property.element".
  TValue Get(const std::string& property) {
    const TToolResult r = FromOtherThread([&] {
      return RunTool("/usr/bin/indi_getprop",
                     {"-p", std::to_string(Port), "-t", "2", Device + "." + property});
    });
    TValue v;
    const auto eq = r.Out.find('=');
    v.Ok = r.Status == 0 && eq != std::string::npos;
    if (v.Ok) v.Text = r.Out.substr(eq + 1, r.Out.find('\n') - eq - 1);
    return v;
  }
  // typeFlag "-n" sends a number unchecked, as a client that does not look at the limits.
  int Set(const std::string& property, const std::string& typeFlag = {}) {
    return FromOtherThread([&] {
      std::vector<std::string> args{"-p", std::to_string(Port)};
      if (!typeFlag.empty()) args.push_back(typeFlag);
      args.push_back(Device + "." + property);
      return RunTool("/usr/bin/indi_setprop", args).Status;
    });
  }
  // indi_eval -w: true once the expression holds, within seconds.
  bool WaitFor(const std::string& expression, int seconds = 20) {
    return FromOtherThread([&] {
      return RunTool("/usr/bin/indi_eval",
                     {"-p", std::to_string(Port), "-t", std::to_string(seconds), "-w", expression},
                     {}, (seconds + 5) * 1000)
                 .Status == 0;
    });
  }
  static std::string Operand(const std::string& property) { return "\"" + Device + "." + property + "\""; }
  // What the driver told its clients, as indiserver logged it.
  std::string Messages() const {
    std::string all;
    for (const auto& f : std::filesystem::directory_iterator(Dir / "log")) {
      std::ifstream in(f.path());
      std::stringstream s;
      s << in.rdbuf();
      all += s.str();
    }
    return all;
  }

  std::filesystem::path Dir;
  int Port = 0;
  std::unique_ptr<TToolProcess> Server;
};

class IndiDriverTest : public testing::Test {
 protected:
  void SetUp() override {
    for (const char* tool : {"indiserver", "indi_setprop", "indi_getprop", "indi_eval"})
      if (!ToolThere(tool))
        GTEST_SKIP() << "INDI's " << tool << " is missing (Debian's indi-bin): INDI tests skipped";
  }
  const std::string Abs = TIndiServer::Operand("ABS_FOCUS_POSITION.FOCUS_ABSOLUTE_POSITION");
  const std::string AbsState = TIndiServer::Operand("ABS_FOCUS_POSITION._STATE");
};

TEST_F(IndiDriverTest, ConnectingWithoutMorvaneFailsWithAClearMessage) {
  TIndiServer indi;
  ASSERT_TRUE(indi.Get("CONNECTION.CONNECT").Ok) << "indiserver did not start the driver";
  indi.Set("CONNECTION.CONNECT=On");
  Serve(1500);
  EXPECT_EQ(indi.Get("CONNECTION.CONNECT").Text, "Off");
  EXPECT_FALSE(indi.Get("ABS_FOCUS_POSITION.FOCUS_ABSOLUTE_POSITION").Ok);
  EXPECT_NE(indi.Messages().find("Morvane is not running"), std::string::npos) << indi.Messages();
}

TEST_F(IndiDriverTest, MovesAbortAndRefusalThroughTheDriver) {
  TMainWindowRig rig;
  ASSERT_TRUE(rig.Controller().PortOpen());
  TIndiServer indi;
  ASSERT_EQ(indi.Set("CONNECTION.CONNECT=On"), 0);
  ASSERT_TRUE(indi.WaitFor(TIndiServer::Operand("CONNECTION.CONNECT") + "==1", 10))
      << indi.Messages();
  ASSERT_TRUE(indi.WaitFor(Abs + ">=0", 5));

  indi.Set("ABS_FOCUS_POSITION.FOCUS_ABSOLUTE_POSITION=100");
  ASSERT_TRUE(indi.WaitFor(AbsState + "==1 && abs(" + Abs + "-100)<=1")) << indi.Messages();
  EXPECT_EQ(indi.Get("ABS_FOCUS_POSITION.FOCUS_ABSOLUTE_POSITION").Number(),
            rig.Controller().CTSCount());

  // In raises the count, out lowers it.
  indi.Set("FOCUS_MOTION.FOCUS_INWARD=On");
  indi.Set("REL_FOCUS_POSITION.FOCUS_RELATIVE_POSITION=30");
  ASSERT_TRUE(indi.WaitFor(AbsState + "==1 && abs(" + Abs + "-130)<=2")) << indi.Messages();
  indi.Set("FOCUS_MOTION.FOCUS_OUTWARD=On");
  indi.Set("REL_FOCUS_POSITION.FOCUS_RELATIVE_POSITION=30");
  ASSERT_TRUE(indi.WaitFor(AbsState + "==1 && abs(" + Abs + "-100)<=3")) << indi.Messages();

  // A move while moving is refused and the running one lands.
  indi.Set("ABS_FOCUS_POSITION.FOCUS_ABSOLUTE_POSITION=600");
  ASSERT_TRUE(indi.WaitFor(AbsState + "==2", 5));
  indi.Set("ABS_FOCUS_POSITION.FOCUS_ABSOLUTE_POSITION=50");
  ASSERT_TRUE(indi.WaitFor(AbsState + "==1")) << indi.Messages();
  EXPECT_LE(std::abs(rig.Controller().CTSCount() - 600), 1);
  EXPECT_NE(indi.Messages().find("request is refused"), std::string::npos);

  // Abort in the middle of a long move: the state goes idle and the focuser stops short.
  indi.Set("ABS_FOCUS_POSITION.FOCUS_ABSOLUTE_POSITION=3000");
  ASSERT_TRUE(indi.WaitFor(Abs + ">700", 10));
  indi.Set("FOCUS_ABORT_MOTION.ABORT=On");
  ASSERT_TRUE(indi.WaitFor(AbsState + "==0", 10)) << indi.Messages();
  // Read without recording, as another program's query would not either.
  ServeUntil(
      [&] {
        return rig.Controller().RunIdle && rig.Controller().NudgeIdle && !rig.Simulator->Moving();
      },
      5000);
  Serve(300);
  const int32_t stopped = rig.Controller().CTSCount();
  EXPECT_LT(stopped, 2000);
  EXPECT_TRUE(indi.WaitFor("abs(" + Abs + "-(" + std::to_string(stopped) + "))<1", 5));

  // The coarse drive for a set time: the count rises (in) and the run ends by itself.
  indi.Set("FOCUS_MOTION.FOCUS_INWARD=On");
  indi.Set("FOCUS_TIMER.FOCUS_TIMER_VALUE=400");
  EXPECT_TRUE(indi.WaitFor(TIndiServer::Operand("FOCUS_TIMER._STATE") + "==1", 5))
      << indi.Messages();
  ServeUntil([&] { return !rig.Simulator->Moving(); }, 3000);
  EXPECT_GT(rig.Controller().CTSCount(), stopped + 30);
  EXPECT_FALSE(rig.Simulator->Moving());

  // The user's maximum bounds the moves and is kept in the driver's configuration.
  indi.Set("FOCUS_MAX.FOCUS_MAX_VALUE=2500");
  ASSERT_TRUE(indi.WaitFor(TIndiServer::Operand("FOCUS_MAX.FOCUS_MAX_VALUE") + "==2500", 5));

  indi.Set("ABS_FOCUS_POSITION.FOCUS_ABSOLUTE_POSITION=2600", "-n");
  EXPECT_TRUE(indi.WaitFor(AbsState + "==3", 5)) << indi.Messages();
  EXPECT_NE(indi.Messages().find("outside"), std::string::npos);
  std::ifstream config(indi.Dir / ".indi" / "Morvane Focuser_config.xml");
  std::stringstream saved;
  saved << config.rdbuf();
  EXPECT_NE(saved.str().find("2500"), std::string::npos) << saved.str();
}

TEST_F(IndiDriverTest, TemperatureShownWithTheModule) {
  TMainWindowRig rig;
  TIndiServer indi;
  indi.Set("CONNECTION.CONNECT=On");
  ASSERT_TRUE(indi.WaitFor(TIndiServer::Operand("FOCUS_TEMPERATURE._STATE") + "==1", 10))
      << indi.Messages();
  const double shown = indi.Get("FOCUS_TEMPERATURE.TEMPERATURE").Number();
  EXPECT_NEAR(shown, rig.Simulator->ModuleTemperature(), 1.0);
}

TEST_F(IndiDriverTest, NoTemperatureWithoutTheModule) {
  sim::TSimParams params;
  params.ModuleMode = sim::TModuleMode::Absent;
  TMainWindowRig rig(params);
  TIndiServer indi;
  indi.Set("CONNECTION.CONNECT=On");
  ASSERT_TRUE(indi.WaitFor(TIndiServer::Operand("CONNECTION.CONNECT") + "==1", 10))
      << indi.Messages();
  EXPECT_TRUE(indi.Get("ABS_FOCUS_POSITION.FOCUS_ABSOLUTE_POSITION").Ok);
  EXPECT_FALSE(indi.Get("FOCUS_TEMPERATURE.TEMPERATURE").Ok);
}

}  // namespace
