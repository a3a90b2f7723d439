// The temperature module through the simulated port, as the controller meets it: a request
// and CR written, ten characters read back within the read time-out.

#include <gtest/gtest.h>

#include <cstdlib>

#include "SimTestSupport.h"
#include "sim/SimFocuser.h"

namespace morvane::sim::test {
namespace {

class SimModulePort : public ::testing::Test {
 protected:
  SimModulePort() : Port(Sim.Open()) {
    // Shorter than the controller's 200 ms to keep the silent cases quick.
    TCommTimeouts t;
    t.ReadTotalTimeoutConstant = 100;
    Port->SetCommTimeouts(t);
    TLineSettings s;
    Port->GetCommState(s);
    s.Flags = 0xFFFF0881;  // as the controller sets it: NUL bytes dropped
    Port->SetCommState(s);
  }

  // One exchange: purge, write, read ten characters.
  std::string Exchange(const std::string& request, int waitMs = 1000) {
    Port->PurgeComm(PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
    EXPECT_TRUE(Send(*Port, request + "\r"));
    char buffer[16] = {};
    size_t got = 0;
    LastRead = Port->Read(buffer, 10, got, waitMs);
    return std::string(buffer, got);
  }

  TSimFocuser Sim;
  std::unique_ptr<TSerialPort> Port;
  TIoResult LastRead = TIoResult::Failed;
};

TEST_F(SimModulePort, PresentModuleAnswersEachRequest) {
  EXPECT_EQ(Exchange("MRV00?????"), "MRV0112345");
  EXPECT_EQ(Exchange("MRV02?????"), "MRV03YES!!");
  EXPECT_EQ(Exchange("MRV04?????"), "MRV0500250");
  EXPECT_EQ(Exchange("MRV0600235"), "MRV0700235");
  EXPECT_EQ(Sim.ModuleCal(), 235);
  Sim.SetTemperature(-3.2);
  const std::string t = Exchange("MRV08?????");
  ASSERT_EQ(t.size(), 10u);
  EXPECT_EQ(t.substr(0, 5), "MRV09");
  EXPECT_NEAR(std::strtod(t.substr(5).c_str(), nullptr), -3.2, 0.051);
  Sim.SetModuleCal(77);
  EXPECT_EQ(Exchange("MRV04?????"), "MRV0500077");
}

TEST_F(SimModulePort, ReplyTakesItsTimeOnTheWire) {
  const auto start = TSteady::now();
  EXPECT_EQ(Exchange("MRV02?????"), "MRV03YES!!");
  const auto took = TSteady::now() - start;
  // Eleven characters out, the module's latency, ten characters back: about 25 ms.
  EXPECT_GE(took, 23ms);
  EXPECT_LT(took, 500ms);
  const auto input = OfKind(Sim.Trace(), TTraceKind::Input);
  std::string arrived;
  for (const auto& e : input) arrived += e.Bytes;
  EXPECT_EQ(arrived, "MRV03YES!!");
}

TEST_F(SimModulePort, AbsentModuleLeavesTheReadEmptyAfterItsTimeOut) {
  Sim.SetModuleMode(TModuleMode::Absent);
  const auto start = TSteady::now();
  EXPECT_EQ(Exchange("MRV0600111"), "");
  EXPECT_EQ(LastRead, TIoResult::Done);
  EXPECT_GE(TSteady::now() - start, 95ms);
  EXPECT_EQ(Sim.ModuleCal(), 250);
}

TEST_F(SimModulePort, SilentModuleStoresButNeverAnswers) {
  Sim.SetModuleMode(TModuleMode::Silent);
  EXPECT_EQ(Exchange("MRV0600111"), "");
  EXPECT_EQ(Sim.ModuleCal(), 111);
}

TEST_F(SimModulePort, GarbledModuleSendsTenWrongBytes) {
  Sim.SetModuleMode(TModuleMode::Garbled);
  const std::string reply = Exchange("MRV02?????");
  EXPECT_EQ(reply.size(), 10u);
  EXPECT_NE(reply, "MRV03YES!!");
  EXPECT_EQ(reply.find("MRV"), std::string::npos);
}

TEST_F(SimModulePort, ShortReplyStopsBeforeTenCharacters) {
  Sim.SetModuleMode(TModuleMode::Short);
  EXPECT_EQ(Exchange("MRV02?????"), "MRV03Y");
  EXPECT_EQ(LastRead, TIoResult::Done);
}

TEST(SimModuleSlow, SlowModuleAnswersOnlyAfterTheReadHasGivenUp) {
  TSimParams p;
  p.ModuleMode = TModuleMode::Slow;
  p.ModuleSlowDelayUs = 300'000;  // by default beyond the controller's 1 s wait
  TSimFocuser sim(p);
  auto port = sim.Open();
  TCommTimeouts t;
  t.ReadTotalTimeoutConstant = 200;
  port->SetCommTimeouts(t);
  ASSERT_TRUE(Send(*port, "MRV02?????\r"));
  char buffer[16] = {};
  size_t got = 0;
  EXPECT_EQ(port->Read(buffer, 10, got, 1000), TIoResult::Done);
  EXPECT_EQ(got, 0u);
  EXPECT_EQ(port->Read(buffer, 10, got, 1000), TIoResult::Done);
  EXPECT_EQ(std::string(buffer, got), "MRV03YES!!");
}

TEST_F(SimModulePort, ForcedReplyReplacesTheNextOneOnly) {
  Sim.SetNextModuleReply("MRV0700236");
  EXPECT_EQ(Exchange("MRV0600235"), "MRV0700236");
  EXPECT_EQ(Exchange("MRV0600235"), "MRV0700235");
}

TEST_F(SimModulePort, RequestSplitAcrossWritesIsStillHeard) {
  Port->PurgeComm(PURGE_RXCLEAR);
  ASSERT_TRUE(Send(*Port, "5MRV0"));
  ASSERT_TRUE(Send(*Port, "2?????"));
  ASSERT_TRUE(Send(*Port, "\r"));
  char buffer[16] = {};
  size_t got = 0;
  EXPECT_EQ(Port->Read(buffer, 10, got, 1000), TIoResult::Done);
  EXPECT_EQ(std::string(buffer, got), "MRV03YES!!");
}

TEST_F(SimModulePort, NegativeCalibrationRequestIsTooLongToAnswer) {
  EXPECT_EQ(Exchange("MRV06-00235"), "");
  EXPECT_EQ(Sim.ModuleCal(), 250);
}

TEST_F(SimModulePort, ExtraBytesWaitForTheNextPurge) {
  Sim.SetNextModuleReply("MRV03YES!!xyz");
  EXPECT_EQ(Exchange("MRV02?????"), "MRV03YES!!");
  SleepFor(10ms);
  char buffer[16] = {};
  size_t got = 0;
  EXPECT_EQ(Port->Read(buffer, 3, got, 500), TIoResult::Done);
  EXPECT_EQ(std::string(buffer, got), "xyz");
  Sim.SetNextModuleReply("MRV03YES!!xyz");
  EXPECT_EQ(Exchange("MRV02?????"), "MRV03YES!!");
  SleepFor(10ms);
  // The next exchange's purge discards them.
  EXPECT_EQ(Exchange("MRV02?????"), "MRV03YES!!");
}

TEST_F(SimModulePort, NulBytesAreDroppedOnlyWhenTheSettingsSaySo) {
  Port->PurgeComm(PURGE_RXCLEAR);
  Sim.InjectInput(
      std::string("MRV\0"
                  "03YES\0!!",
                  12));
  char buffer[16] = {};
  size_t got = 0;
  EXPECT_EQ(Port->Read(buffer, 10, got, 500), TIoResult::Done);
  EXPECT_EQ(std::string(buffer, got), "MRV03YES!!");

  TLineSettings s;
  Port->GetCommState(s);
  s.Flags &= ~fNull;
  Port->SetCommState(s);
  Sim.InjectInput(std::string("AB\0C", 4));
  EXPECT_EQ(Port->Read(buffer, 4, got, 500), TIoResult::Done);
  EXPECT_EQ(std::string(buffer, got), std::string("AB\0C", 4));
}

}  // namespace
}  // namespace morvane::sim::test
