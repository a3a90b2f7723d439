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
#include "ui_fMorvane.h"

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
  static std::string Operand(const std::string& property) {
    return "\"" + Device + "." + property + "\"";
  }
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
  // Connects the driver to the rig's Morvane with FOCUS_MAX at Max: INDI's position is then
  // Max minus Morvane's count.
  void Connect(TIndiServer& indi) {
    ASSERT_EQ(indi.Set("CONNECTION.CONNECT=On"), 0);
    ASSERT_TRUE(indi.WaitFor(TIndiServer::Operand("CONNECTION.CONNECT") + "==1", 10))
        << indi.Messages();
    indi.Set("FOCUS_MAX.FOCUS_MAX_VALUE=" + std::to_string(Max));
    ASSERT_TRUE(indi.WaitFor(TIndiServer::Operand("FOCUS_MAX.FOCUS_MAX_VALUE") + "==5000", 5));
  }
  static bool Logged(TIndiServer& indi, const std::string& text) {
    return ServeUntil([&] { return indi.Messages().find(text) != std::string::npos; }, 5000);
  }
  static constexpr int Max = 5000;
  const std::string Abs = TIndiServer::Operand("ABS_FOCUS_POSITION.FOCUS_ABSOLUTE_POSITION");
  const std::string AbsState = TIndiServer::Operand("ABS_FOCUS_POSITION._STATE");
  const std::string TimerState = TIndiServer::Operand("FOCUS_TIMER._STATE");
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
  Connect(indi);
  ASSERT_TRUE(indi.WaitFor(Abs + "==5000", 5));  // count 0

  // INDI's inward is Morvane's In: the position falls as the count rises, for absolute,
  // relative and timed moves alike.
  indi.Set("ABS_FOCUS_POSITION.FOCUS_ABSOLUTE_POSITION=4900");
  ASSERT_TRUE(indi.WaitFor(AbsState + "==1 && abs(" + Abs + "-4900)<=1")) << indi.Messages();
  EXPECT_EQ(indi.Get("ABS_FOCUS_POSITION.FOCUS_ABSOLUTE_POSITION").Number(),
            Max - rig.Controller().CTSCount());
  EXPECT_NEAR(rig.Controller().CTSCount(), 100, 1);
  indi.Set("FOCUS_MOTION.FOCUS_INWARD=On");
  indi.Set("REL_FOCUS_POSITION.FOCUS_RELATIVE_POSITION=30");
  ASSERT_TRUE(indi.WaitFor(AbsState + "==1 && abs(" + Abs + "-4870)<=2")) << indi.Messages();
  EXPECT_NEAR(rig.Controller().CTSCount(), 130, 2);
  indi.Set("FOCUS_MOTION.FOCUS_OUTWARD=On");
  indi.Set("REL_FOCUS_POSITION.FOCUS_RELATIVE_POSITION=30");
  ASSERT_TRUE(indi.WaitFor(AbsState + "==1 && abs(" + Abs + "-4900)<=3")) << indi.Messages();

  // A move while moving is refused and the running one lands.
  indi.Set("ABS_FOCUS_POSITION.FOCUS_ABSOLUTE_POSITION=4400");
  ASSERT_TRUE(indi.WaitFor(AbsState + "==2", 5));
  indi.Set("ABS_FOCUS_POSITION.FOCUS_ABSOLUTE_POSITION=4950");
  ASSERT_TRUE(indi.WaitFor(AbsState + "==1")) << indi.Messages();
  EXPECT_LE(std::abs(rig.Controller().CTSCount() - 600), 1);
  EXPECT_NE(indi.Messages().find("request is refused"), std::string::npos);

  // Abort in the middle of a long move: the state goes idle and the focuser stops short.
  indi.Set("ABS_FOCUS_POSITION.FOCUS_ABSOLUTE_POSITION=2000");
  ASSERT_TRUE(indi.WaitFor(Abs + "<4300", 10));
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
  EXPECT_TRUE(indi.WaitFor("abs(" + Abs + "-(" + std::to_string(Max - stopped) + "))<1", 5));

  // The coarse drive for a set time: the count rises (in) and Morvane ends the run.
  indi.Set("FOCUS_MOTION.FOCUS_INWARD=On");
  indi.Set("FOCUS_TIMER.FOCUS_TIMER_VALUE=400");
  EXPECT_TRUE(indi.WaitFor(TimerState + "==2", 5)) << indi.Messages();
  EXPECT_TRUE(indi.WaitFor(TimerState + "==1", 5)) << indi.Messages();
  ServeUntil([&] { return !rig.Simulator->Moving(); }, 3000);
  EXPECT_GT(rig.Controller().CTSCount(), stopped + 30);
  EXPECT_FALSE(rig.Simulator->Moving());

  // The user's maximum bounds the moves and is kept in the driver's configuration.
  indi.Set("FOCUS_MAX.FOCUS_MAX_VALUE=2500");
  ASSERT_TRUE(indi.WaitFor(TIndiServer::Operand("FOCUS_MAX.FOCUS_MAX_VALUE") + "==2500", 5));

  indi.Set("ABS_FOCUS_POSITION.FOCUS_ABSOLUTE_POSITION=2600", "-n");
  EXPECT_TRUE(indi.WaitFor(AbsState + "==3", 5)) << indi.Messages();
  EXPECT_TRUE(Logged(indi, "Position 2600 is refused"));
  std::ifstream config(indi.Dir / ".indi" / "Morvane Focuser_config.xml");
  std::stringstream saved;
  saved << config.rdbuf();
  EXPECT_NE(saved.str().find("2500"), std::string::npos) << saved.str();
}

// Numbers that are not numbers, or beyond what the property takes, are refused whole: the
// motor never starts and nothing is cut to fit.
TEST_F(IndiDriverTest, BadNumbersAreRefusedWithAMessage) {
  TMainWindowRig rig;
  TIndiServer indi;
  Connect(indi);
  const struct {
    const char* Property;
    const char* Value;
    const char* Message;
  } rows[] = {
      {"FOCUS_TIMER.FOCUS_TIMER_VALUE", "nan", "timer of nan ms is refused"},
      {"FOCUS_TIMER.FOCUS_TIMER_VALUE", "65536.4", "timer of 65536.4 ms is refused"},
      {"FOCUS_TIMER.FOCUS_TIMER_VALUE", "70000", "timer of 70000 ms is refused"},
      {"FOCUS_TIMER.FOCUS_TIMER_VALUE", "-1", "timer of -1 ms is refused"},
      {"FOCUS_MAX.FOCUS_MAX_VALUE", "nan", "maximum position of nan is refused"},
      {"ABS_FOCUS_POSITION.FOCUS_ABSOLUTE_POSITION", "4294967196", "Position 4294967196 is"},
      {"REL_FOCUS_POSITION.FOCUS_RELATIVE_POSITION", "nan", "relative move of nan steps"},
      {"Presets.PRESET_1", "nan", "Position nan is refused"},
      {"TEMP_COEFFICIENT.COEFFICIENT", "nan", "coefficient of nan codes per degree is refused"},
      {"TEMP_COEFFICIENT.SAMPLES", "101", "Averaging 101 readings is refused"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.Property) + "=" + row.Value);
    indi.Set(std::string(row.Property) + "=" + row.Value, "-n");
    EXPECT_TRUE(Logged(indi, row.Message)) << indi.Messages();
    const std::string property =
        std::string(row.Property).substr(0, std::string(row.Property).find('.'));
    EXPECT_TRUE(indi.WaitFor(TIndiServer::Operand(property + "._STATE") + "==3", 5));
  }
  Serve(300);
  EXPECT_FALSE(rig.Simulator->Moving());
  EXPECT_EQ(rig.Controller().CTSCount(), 0);
  EXPECT_EQ(indi.Get("FOCUS_MAX.FOCUS_MAX_VALUE").Number(), Max);
  EXPECT_EQ(rig.Form->TempComp().Settings(), TCompensationSettings{});
}

// A move held in Morvane (here by a pause no one ends) makes no progress: the driver stops it
// and the client gets ALERT rather than BUSY for ever; the next move runs as usual.
TEST_F(IndiDriverTest, AStalledMoveIsStoppedAndReported) {
  TMainWindowRig rig;
  TIndiServer indi;
  Connect(indi);
  // Morvane not answering (its event loop is not served meanwhile) does not hold the driver:
  // the request is taken at once, and other clients get their answers.
  const std::string port = std::to_string(indi.Port);
  RunTool("/usr/bin/indi_setprop",
          {"-p", port, Device + ".ABS_FOCUS_POSITION.FOCUS_ABSOLUTE_POSITION=2000"});
  const TToolResult state = RunTool("/usr/bin/indi_getprop",
                                    {"-p", port, "-t", "2", Device + ".ABS_FOCUS_POSITION._STATE"});
  EXPECT_NE(state.Out.find("=Busy"), std::string::npos) << state.Out << indi.Messages();
  ASSERT_TRUE(indi.WaitFor(Abs + "<4800", 10)) << indi.Messages();
  rig.Controller().SetInterruptsOff(true);
  EXPECT_TRUE(indi.WaitFor(AbsState + "==3", 40)) << indi.Messages();
  EXPECT_TRUE(Logged(indi, "made no progress"));
  rig.Controller().SetInterruptsOff(false);
  ASSERT_TRUE(ServeUntil(
      [&] { return !rig.Form->Form().CancelButton->isEnabled() && !rig.Simulator->Moving(); }));
  indi.Set("ABS_FOCUS_POSITION.FOCUS_ABSOLUTE_POSITION=4950");
  EXPECT_TRUE(indi.WaitFor(AbsState + "==1 && abs(" + Abs + "-4950)<=1")) << indi.Messages();
}

// A move into an end stop: Morvane's stall guard stops it, and the client gets ALERT with the
// guard's reason in the log; the next move away from the stop runs as usual.
TEST_F(IndiDriverTest, AMoveTheStallGuardStoppedEndsInAlert) {
  sim::TSimParams params;
  params.TravelRevs = 0.5;  // end stops 256 codes either way
  TMainWindowRig rig(params);
  TIndiServer indi;
  Connect(indi);
  indi.Set("ABS_FOCUS_POSITION.FOCUS_ABSOLUTE_POSITION=" + std::to_string(Max - 1000));
  EXPECT_TRUE(indi.WaitFor(AbsState + "==3", 40)) << indi.Messages();
  EXPECT_TRUE(Logged(indi, "no encoder change for 0.5 s")) << indi.Messages();
  EXPECT_EQ(rig.Controller().StallCount(), 1u);
  indi.Set("ABS_FOCUS_POSITION.FOCUS_ABSOLUTE_POSITION=" + std::to_string(Max - 100));
  EXPECT_TRUE(
      indi.WaitFor(AbsState + "==1 && abs(" + Abs + "-" + std::to_string(Max - 100) + ")<=1"))
      << indi.Messages();
}

// Morvane ends the driver's runs: one ended in Morvane's window frees the driver for the next
// move, and one whose driver is killed with indiserver stops long before its time.
TEST_F(IndiDriverTest, RunsEndInMorvane) {
  TMainWindowRig rig;
  auto indi = std::make_unique<TIndiServer>();
  Connect(*indi);
  indi->Set("FOCUS_TIMER.FOCUS_TIMER_VALUE=30000");
  ASSERT_TRUE(ServeUntil([&] { return rig.Simulator->Moving(); }, 5000));
  rig.Form->Focus_InBtnMouseUp(rig.Form->Form().Focus_InBtn);
  EXPECT_TRUE(indi->WaitFor(TimerState + "==1", 5)) << indi->Messages();
  indi->Set("ABS_FOCUS_POSITION.FOCUS_ABSOLUTE_POSITION=" + std::to_string(Max - 50));
  EXPECT_TRUE(indi->WaitFor(AbsState + "==1 && abs(" + Abs + "-4950)<=1")) << indi->Messages();

  indi->Set("FOCUS_TIMER.FOCUS_TIMER_VALUE=30000");
  ASSERT_TRUE(indi->WaitFor(TimerState + "==2", 5));
  ASSERT_TRUE(ServeUntil([&] { return rig.Simulator->Moving(); }, 5000));
  indi.reset();
  EXPECT_TRUE(ServeUntil([&] { return !rig.Simulator->Moving(); }, 10000));
}

// libindi's own backlash properties set Morvane's compensation (on: the final approach inward).
TEST_F(IndiDriverTest, BacklashPropertiesSetMorvanesCompensation) {
  TMainWindowRig rig;
  auto indi = std::make_unique<TIndiServer>();
  Connect(*indi);
  // libindi takes the steps only once the toggle is on.
  indi->Set("FOCUS_BACKLASH_TOGGLE.INDI_ENABLED=On");
  indi->Set("FOCUS_BACKLASH_STEPS.FOCUS_BACKLASH_VALUE=15");
  EXPECT_TRUE(ServeUntil(
      [&] {
        const TCompensationSettings s = rig.Form->TempComp().Settings();
        return s.BacklashMode == 1 && s.BacklashCodes == 15;
      },
      5000))
      << indi->Messages();
  EXPECT_EQ(rig.Controller().ApproachCodes.load(), 15);
  indi->Set("FOCUS_BACKLASH_TOGGLE.INDI_DISABLED=On");
  EXPECT_TRUE(ServeUntil([&] { return rig.Controller().ApproachMode.load() == 0; }, 5000));
}

// FOCUS_SYNC: Morvane's count becomes the count at INDI's position, and nothing moves.
TEST_F(IndiDriverTest, SyncSetsMorvanesCountWithoutAMove) {
  TMainWindowRig rig;
  auto indi = std::make_unique<TIndiServer>();
  Connect(*indi);
  indi->Set("FOCUS_SYNC.FOCUS_SYNC_VALUE=1200");
  EXPECT_TRUE(ServeUntil([&] { return rig.Controller().CTSCount() == Max - 1200; }, 5000))
      << indi->Messages();
  EXPECT_TRUE(indi->WaitFor(Abs + "==1200", 10)) << indi->Messages();
  EXPECT_TRUE(rig.Controller().Idle());
}

// A count restored after Morvane did not close cleanly: the driver says so and shows the
// position as ALERT, until a FOCUS_SYNC confirms it.
TEST_F(IndiDriverTest, AnUnverifiedPositionIsToldUntilSynced) {
  std::string ini = TestSettings();
  ini.replace(ini.find("HiResPositioning=0\r\n"), 20, "HiResPositioning=0\r\nKeepPosition=1\r\n");
  TMainWindowRig rig(TWindowRigSetup{.Ini = ini, .Open = false});
  std::ofstream(rig.Dir / "Morvane-position.txt") << "Count=700\nClosed=0\n";
  ASSERT_TRUE(rig.Open());
  EXPECT_EQ(rig.Controller().CTSCount(), 700);
  EXPECT_FALSE(rig.Form->PositionTrusted());
  auto indi = std::make_unique<TIndiServer>();
  Connect(*indi);
  EXPECT_TRUE(Logged(*indi, "position is unverified")) << indi->Messages();
  EXPECT_TRUE(indi->WaitFor(AbsState + "==3", 5)) << indi->Messages();  // ALERT
  indi->Set("FOCUS_SYNC.FOCUS_SYNC_VALUE=4300");
  EXPECT_TRUE(ServeUntil([&] { return rig.Form->PositionTrusted(); }, 5000)) << indi->Messages();
  EXPECT_EQ(rig.Controller().CTSCount(), Max - 4300);
  EXPECT_TRUE(Logged(*indi, "position is confirmed")) << indi->Messages();
}

// FOCUS_REVERSE_MOTION is Morvane's reverse setting both ways: set from INDI it is applied and
// saved in Morvane, and a change made in Morvane shows in INDI.
TEST_F(IndiDriverTest, ReverseMotionFollowsMorvanesSettingBothWays) {
  TMainWindowRig rig;
  auto indi = std::make_unique<TIndiServer>();
  Connect(*indi);
  const std::string reverse = TIndiServer::Operand("FOCUS_REVERSE_MOTION.INDI_ENABLED");
  EXPECT_TRUE(indi->WaitFor(reverse + "==0", 5)) << indi->Messages();
  indi->Set("FOCUS_REVERSE_MOTION.INDI_ENABLED=On");
  EXPECT_TRUE(ServeUntil([&] { return rig.Controller().ReverseDir(); }, 5000)) << indi->Messages();
  std::stringstream ini;
  ini << std::ifstream(rig.IniPath).rdbuf();
  EXPECT_NE(ini.str().find("ReverseDirection=1"), std::string::npos) << "saved in Morvane";
  rig.Form->SetReverseDirection(false);
  EXPECT_TRUE(indi->WaitFor(reverse + "==0", 10)) << indi->Messages();
}

// FOCUS_MAX is Morvane's position scale, which the Alpaca server shares: set here it is saved in
// Morvane, set there it shows here with the position; Morvane's travel limits would win.
TEST_F(IndiDriverTest, FocusMaxIsMorvanesPositionScale) {
  TMainWindowRig rig;
  TIndiServer indi;
  Connect(indi);
  EXPECT_TRUE(ServeUntil([&] { return rig.Form->PositionScale() == Max; }, 5000))
      << indi.Messages();
  std::stringstream ini;
  ini << std::ifstream(rig.IniPath).rdbuf();
  EXPECT_NE(ini.str().find("PositionScale=5000"), std::string::npos) << "saved in Morvane";
  rig.Form->SetPositionScale(20000);
  EXPECT_TRUE(indi.WaitFor(
      TIndiServer::Operand("FOCUS_MAX.FOCUS_MAX_VALUE") + "==20000 && " + Abs + "==20000", 10))
      << indi.Messages();
}

// The driver's temperature compensation properties set Morvane's settings, and they, with
// libindi's backlash properties, show Morvane's settings as the window changes them.
TEST_F(IndiDriverTest, CompensationPropertiesSetAndFollowMorvane) {
  TMainWindowRig rig;
  TIndiServer indi;
  Connect(indi);
  indi.Set("TEMP_COMPENSATION.INDI_ENABLED=On");
  indi.Set("TEMP_COEFFICIENT.COEFFICIENT;DEAD_BAND=-2.5;8");
  EXPECT_TRUE(ServeUntil(
      [&] {
        const TCompensationSettings s = rig.Form->TempComp().Settings();
        return s.TempComp && s.TempCoefficient == -2.5 && s.TempDeadBand == 8;
      },
      5000))
      << indi.Messages();
  TCompensationSettings s = rig.Form->TempComp().Settings();
  s.TempComp = false;
  s.TempSamples = 12;
  s.BacklashMode = 2;
  s.BacklashCodes = 9;
  rig.Form->ApplyCompensation(s);
  EXPECT_TRUE(
      indi.WaitFor(TIndiServer::Operand("TEMP_COMPENSATION.INDI_DISABLED") + "==1 && " +
                       TIndiServer::Operand("TEMP_COEFFICIENT.SAMPLES") + "==12 && " +
                       TIndiServer::Operand("FOCUS_BACKLASH_TOGGLE.INDI_ENABLED") + "==1 && " +
                       TIndiServer::Operand("FOCUS_BACKLASH_STEPS.FOCUS_BACKLASH_VALUE") + "==-9",
                   5))
      << indi.Messages();
  EXPECT_EQ(indi.Get("TEMP_COEFFICIENT.DEAD_BAND").Number(), 8);
}

TEST_F(IndiDriverTest, TemperatureShownWithTheModule) {
  TMainWindowRig rig;
  TIndiServer indi;
  indi.Set("CONNECTION.CONNECT=On");
  ASSERT_TRUE(indi.WaitFor(TIndiServer::Operand("FOCUS_TEMPERATURE._STATE") + "==1", 10))
      << indi.Messages();
  const double shown = indi.Get("FOCUS_TEMPERATURE.TEMPERATURE").Number();
  EXPECT_NEAR(shown, rig.Simulator->ModuleTemperature(), 1.0);
  // A module that stops answering leaves the property defined, as ALERT.
  rig.Simulator->SetModuleMode(sim::TModuleMode::Silent);
  rig.Controller().GetTemperature();  // Morvane finds the module gone
  EXPECT_TRUE(indi.WaitFor(TIndiServer::Operand("FOCUS_TEMPERATURE._STATE") + "==3", 5));
  EXPECT_TRUE(indi.Get("FOCUS_TEMPERATURE.TEMPERATURE").Ok);
}

// A reading far outside a night's range is a fault: ALERT, not a temperature.
TEST_F(IndiDriverTest, ImplausibleReadingsAreAlerts) {
  sim::TSimParams params;
  params.Temperature = -80;
  TMainWindowRig rig(params);
  TIndiServer indi;
  indi.Set("CONNECTION.CONNECT=On");
  EXPECT_TRUE(indi.WaitFor(TIndiServer::Operand("FOCUS_TEMPERATURE._STATE") + "==3", 10))
      << indi.Messages();
  EXPECT_TRUE(Logged(indi, "read -80.0 degrees"));
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
