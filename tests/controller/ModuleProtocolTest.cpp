// The temperature-compensation module's exchanges. They run on the GUI thread, serialised
// with the keep-alive, as in the program.
#include <atomic>
#include <stdexcept>
#include <thread>

#include "controller/Convert.h"
#include "support/ControllerFixture.h"

namespace morvane::test {
namespace {

class ModuleProtocolTest : public ControllerFixture {
 protected:
  void SetUp() override {
    ControllerFixture::SetUp();
    Controller->OnAvailChange = [this](TFocusControl*, bool avail) {
      AvailChanges.push_back(avail);
    };
    ASSERT_TRUE(Host.RunOnGui([&] { return Controller->OpenPort(); }));
    Host.SetTimersEnabled(true);  // the keep-alive runs between exchanges
    Sim->ClearTrace();
  }
  template <typename F>
  auto Gui(F fn) {
    return Host.RunOnGui(fn);
  }
  std::vector<std::string> ModuleWrites() {
    std::vector<std::string> out;
    for (auto& w : Writes(Sim->Trace()))
      if (w.rfind("MRV", 0) == 0) out.push_back(w);
    return out;
  }
  std::vector<bool> AvailChanges;  // written on the GUI thread, read after RunOnGui
};

TEST_F(ModuleProtocolTest, PresentModuleAnswersAtTheFirstRequest) {
  EXPECT_TRUE(Gui([&] { return Controller->GetTCAvail(); }));
  EXPECT_EQ(ModuleWrites(), std::vector<std::string>{"MRV02?????\r"});
  EXPECT_EQ(AvailChanges, std::vector<bool>{true});
  EXPECT_TRUE(Gui([&] { return Controller->TCAvail(); }));
  EXPECT_EQ(AvailChanges, std::vector<bool>{true}) << "no change, no event";
}

TEST_F(ModuleProtocolTest, SilentModuleIsAskedTwiceAndEmptiesTheSamples) {
  EXPECT_TRUE(Gui([&] { return Controller->GetTCAvail(); }));
  Gui([&] { Controller->AddTemperatureSample(20.0); });
  Sim->SetModuleMode(sim::TModuleMode::Silent);
  Sim->ClearTrace();
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(Gui([&] { return Controller->GetTCAvail(); }));
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2000));
  EXPECT_EQ(ModuleWrites(), (std::vector<std::string>{"MRV02?????\r", "MRV02?????\r"}));
  EXPECT_EQ(AvailChanges, (std::vector<bool>{true, false}));
  EXPECT_EQ(Controller->TemperatureSampleCount(), 0u);
  EXPECT_DOUBLE_EQ(Controller->TCAvg(), 20.0);
}

TEST_F(ModuleProtocolTest, GarbledAndCutShortRepliesMeanAbsent) {
  Sim->SetModuleMode(sim::TModuleMode::Garbled);
  EXPECT_FALSE(Gui([&] { return Controller->GetTCAvail(); }));
  Sim->SetModuleMode(sim::TModuleMode::Short);
  EXPECT_FALSE(Gui([&] { return Controller->GetTCAvail(); }));
  EXPECT_TRUE(AvailChanges.empty()) << "absent from the start: no change";
}

TEST_F(ModuleProtocolTest, SlowModuleMissesTheWait) {
  Sim->SetModuleMode(sim::TModuleMode::Slow);
  EXPECT_FALSE(Gui([&] { return Controller->GetTCAvail(); }));
}

TEST_F(ModuleProtocolTest, FirmwareVersionFromTheReply) {
  Sim->SetNextModuleReply("MRV0112345");
  EXPECT_EQ(Gui([&] { return Controller->GetTCFirmwareVersion(); }), "12.3.45");
  EXPECT_EQ(ModuleWrites(), std::vector<std::string>{"MRV00?????\r"}) << "no availability probe";
  Sim->SetModuleMode(sim::TModuleMode::Silent);
  EXPECT_EQ(Gui([&] { return Controller->TCFirmwareVersion(); }), "??");
}

TEST_F(ModuleProtocolTest, CalibrationReadAndWrite) {
  Sim->SetModuleCal(321);
  EXPECT_EQ(Gui([&] { return Controller->GetTCCal(); }), 321);
  Gui([&] { Controller->SetTCCal(235); });
  EXPECT_EQ(Sim->ModuleCal(), 235);
  EXPECT_EQ(Controller->LastTCCal(), 235);
  auto writes = ModuleWrites();
  ASSERT_FALSE(writes.empty());
  EXPECT_EQ(writes.back(), "MRV0600235\r");
}

TEST_F(ModuleProtocolTest, SetCalFailsWhenTheModuleStoresAnotherValue) {
  Sim->SetModuleCal(100);
  EXPECT_EQ(Gui([&] { return Controller->GetTCCal(); }), 100);
  Gui([&] { Controller->GetTCAvail(); });
  // The availability probe comes first; the reply to the write is the one forced.
  std::string error;
  Gui([&] {
    try {
      Controller->GetTCAvail();
      Sim->SetNextModuleReply("MRV0700236");
      Controller->SetTCCal(235);
    } catch (const std::exception& e) {
      error = e.what();
    }
  });
  EXPECT_EQ(error, "Set Cal value failed!");
  EXPECT_EQ(Controller->LastTCCal(), 100);
}

TEST_F(ModuleProtocolTest, AbsentModuleSendsNoCalibrationRequest) {
  Sim->SetModuleCal(42);
  EXPECT_EQ(Gui([&] { return Controller->GetTCCal(); }), 42);
  Sim->SetModuleMode(sim::TModuleMode::Absent);
  Sim->ClearTrace();
  EXPECT_EQ(Gui([&] { return Controller->GetTCCal(); }), 42);
  Gui([&] { Controller->SetTCCal(7); });  // absent: nothing sent, nothing raised
  for (auto& w : ModuleWrites()) EXPECT_EQ(w, "MRV02?????\r");
  EXPECT_EQ(Gui([&] { return Controller->GetTemperature(); }), -100.0);
  EXPECT_EQ(Controller->TemperatureSampleCount(), 0u);
}

TEST_F(ModuleProtocolTest, TemperatureReadingsFeedTheAverage) {
  Sim->SetTemperature(12.5);
  const double t = Gui([&] { return Controller->GetTemperature(); });
  EXPECT_NEAR(t, 12.5, 0.5);
  EXPECT_EQ(Controller->TemperatureSampleCount(), 1u);
  EXPECT_DOUBLE_EQ(Controller->TCAvg(), t);
}

TEST_F(ModuleProtocolTest, ForcedTemperatureRepliesAtTheLimits) {
  // A conversion error is caught on the GUI thread, as the application's handler would.
  std::string error;
  auto readWith = [&](const std::string& reply) {
    return Gui([&] {
      Controller->GetTCAvail();
      Sim->SetNextModuleReply(reply);
      try {
        return Controller->GetTemperature();
      } catch (const EConvertError& e) {
        error = e.what();
        return 0.0;
      }
    });
  };
  EXPECT_DOUBLE_EQ(readWith("MRV0900023"), 23.0);
  EXPECT_EQ(Controller->TemperatureSampleCount(), 1u);
  EXPECT_DOUBLE_EQ(readWith("MRV09-99.0"), -99.0);
  EXPECT_EQ(Controller->TemperatureSampleCount(), 1u) << "-99.0 is no reading";
  EXPECT_DOUBLE_EQ(readWith("MRV08+21.5"), -100.0) << "a foreign reply is no reading";
  EXPECT_TRUE(error.empty());
  readWith("MRV09ab.cd");
  EXPECT_EQ(error, "'ab.cd' is not a valid floating point value");
  EXPECT_DOUBLE_EQ(Controller->TCAvg(), 23.0);
  // Compensation's reading of the same reply is a failed one: nothing raised.
  error.clear();
  const double read = Gui([&] {
    Controller->GetTCAvail();
    Sim->SetNextModuleReply("MRV09ab.cd");
    try {
      return Controller->ReadTemperature();
    } catch (const EConvertError& e) {
      error = e.what();
      return 0.0;
    }
  });
  EXPECT_TRUE(error.empty()) << error;
  EXPECT_DOUBLE_EQ(read, -100.0);
  EXPECT_DOUBLE_EQ(Controller->TCAvg(), 23.0);
}

TEST_F(ModuleProtocolTest, BadCalibrationFieldRaisesAndKeepsTheValue) {
  Sim->SetModuleCal(5);
  EXPECT_EQ(Gui([&] { return Controller->GetTCCal(); }), 5);
  std::string error;
  Gui([&] {
    try {
      Controller->GetTCAvail();
      Sim->SetNextModuleReply("MRV05x12yz");
      Controller->GetTCCal();
    } catch (const EConvertError& e) {
      error = e.what();
    }
  });
  EXPECT_EQ(error, "'x12yz' is not a valid integer value");
  EXPECT_EQ(Controller->LastTCCal(), 5);
}

TEST_F(ModuleProtocolTest, KeepAliveNeverLandsInsideAnExchange) {
  // The keep-alive is written on a thread of its own, which may run late on a loaded machine:
  // ticks from another thread, every few ms, fall due at every stage of the exchanges.
  Sim->SetTemperature(12.5);
  constexpr auto BetweenTicks = std::chrono::milliseconds(3);         // far more often than 200 ms
  constexpr auto GapForTheKeepAlive = std::chrono::milliseconds(40);  // its 20 ms pause and write
  std::atomic<bool> ticking{true};
  std::thread ticker([&] {
    while (ticking.load()) {
      Controller->KeepAliveTick();
      std::this_thread::sleep_for(BetweenTicks);
    }
  });
  std::vector<double> readings;
  for (int i = 0; i < 6; ++i) {
    readings.push_back(Gui([&] { return Controller->GetTemperature(); }));
    std::this_thread::sleep_for(GapForTheKeepAlive);
  }
  ticking.store(false);
  ticker.join();
  for (double t : readings) EXPECT_NEAR(t, 12.5, 0.5) << "a purge cut an exchange short";
  // On the line, a reading runs from the availability request to the tenth character of the
  // temperature reply.
  size_t alive = 0, inside = 0, replyChars = 0;
  bool reading = false, replying = false;
  for (const auto& e : Sim->Trace()) {
    if (e.Kind == sim::TTraceKind::Write && e.Bytes == "5") {
      ++alive;
      if (reading) ++inside;
    } else if (e.Kind == sim::TTraceKind::Write && e.Bytes.rfind("MRV02", 0) == 0) {
      reading = true;
    } else if (e.Kind == sim::TTraceKind::Write && e.Bytes.rfind("MRV08", 0) == 0) {
      replying = true;
      replyChars = 0;
    } else if (e.Kind == sim::TTraceKind::Input && replying) {
      replyChars += e.Bytes.size();
      if (replyChars >= 10) reading = replying = false;
    }
  }
  EXPECT_EQ(inside, 0u) << "keep-alives written inside a reading";
  EXPECT_GE(alive, 3u) << "the keep-alive goes on between exchanges";
}

}  // namespace
}  // namespace morvane::test
