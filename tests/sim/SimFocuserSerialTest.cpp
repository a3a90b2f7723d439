// The simulated port's serial semantics: exclusive opening, settings, read time-outs,
// purges, writes, line functions and closing.

#include <gtest/gtest.h>

#include <cstring>

#include "SimTestSupport.h"
#include "sim/SimFocuser.h"

namespace morvane::sim::test {
namespace {

constexpr uint32_t MAXDWORD = 0xFFFFFFFFu;

class SimSerial : public ::testing::Test {
 protected:
  SimSerial() : Port(Sim.Open()) {}

  void SetTimeouts(uint32_t interval, uint32_t multiplier, uint32_t constant) {
    TCommTimeouts t;
    t.ReadIntervalTimeout = interval;
    t.ReadTotalTimeoutMultiplier = multiplier;
    t.ReadTotalTimeoutConstant = constant;
    ASSERT_TRUE(Port->SetCommTimeouts(t));
  }

  // Reads into a buffer pre-filled with 'x'; returns the result, Text holds the buffer.
  TIoResult ReadInto(size_t count, int waitMs) {
    std::memset(Buffer, 'x', sizeof Buffer);
    Got = 99;
    const TIoResult r = Port->Read(Buffer, count, Got, waitMs);
    Text.assign(Buffer, count);
    return r;
  }

  TSimFocuser Sim;
  std::unique_ptr<TSerialPort> Port;
  char Buffer[32];
  size_t Got = 0;
  std::string Text;
};

TEST_F(SimSerial, OpensExclusively) {
  ASSERT_TRUE(Port);
  EXPECT_EQ(Sim.Open(), nullptr);
  Port.reset();  // the destructor closes
  auto again = Sim.Open();
  EXPECT_TRUE(again);
  again->Close();
  auto opener = Sim.Opener();
  EXPECT_EQ(opener(0), nullptr);
  auto byNumber = opener(7);
  EXPECT_TRUE(byNumber);
  EXPECT_EQ(opener(7), nullptr);
}

TEST_F(SimSerial, ClosedPortFailsEverything) {
  Port->Close();
  Port->Close();  // idempotent
  TLineSettings s;
  TCommTimeouts t;
  uint32_t v = 0;
  size_t got = 0;
  char b[4];
  EXPECT_FALSE(Port->GetCommState(s));
  EXPECT_FALSE(Port->SetCommState(s));
  EXPECT_FALSE(Port->SetCommMask(EV_CTS));
  EXPECT_FALSE(Port->WaitCommEvent(v));
  EXPECT_FALSE(Port->GetCommModemStatus(v));
  EXPECT_FALSE(Port->EscapeCommFunction(SETRTS));
  EXPECT_FALSE(Port->GetCommTimeouts(t));
  EXPECT_FALSE(Port->SetCommTimeouts(t));
  EXPECT_FALSE(Port->PurgeComm(PURGE_RXCLEAR));
  EXPECT_EQ(Port->Write("5", 1, 100), TIoResult::Failed);
  EXPECT_EQ(Port->Read(b, 1, got, 100), TIoResult::Failed);
  // A port opened after it is not disturbed by the old one.
  auto next = Sim.Open();
  ASSERT_TRUE(next);
  Port->Close();
  EXPECT_TRUE(next->EscapeCommFunction(SETDTR));
}

TEST_F(SimSerial, SettingsStartPlausibleAndKeepWhatWasSet) {
  TLineSettings s;
  ASSERT_TRUE(Port->GetCommState(s));
  EXPECT_EQ(s.BaudRate, 9600u);
  EXPECT_EQ(s.ByteSize, 8);
  EXPECT_EQ(s.Parity, 0);
  EXPECT_EQ(s.StopBits, 0);
  EXPECT_TRUE(s.Flags & fBinary);
  EXPECT_FALSE(s.Flags & fNull);
  s.BaudRate = 19200;
  s.Flags = 0xFFFF0881;
  s.XonChar = 0x42;
  ASSERT_TRUE(Port->SetCommState(s));
  Port.reset();
  Port = Sim.Open();
  TLineSettings back;
  ASSERT_TRUE(Port->GetCommState(back));
  EXPECT_EQ(back.BaudRate, 19200u);
  EXPECT_EQ(back.Flags, 0xFFFF0881u);
  EXPECT_EQ(back.XonChar, 0x42);
  TCommTimeouts t;
  ASSERT_TRUE(Port->GetCommTimeouts(t));
  EXPECT_EQ(t.ReadTotalTimeoutConstant, 0u);
}

TEST_F(SimSerial, DtrAndRtsControlInTheSettingsSwitchTheLines) {
  TLineSettings s;
  ASSERT_TRUE(Port->GetCommState(s));
  s.Flags |= 1u << 4;  // DTR control enable
  ASSERT_TRUE(Port->SetCommState(s));
  EXPECT_TRUE(Sim.DTR());
  EXPECT_FALSE(Sim.RTS());
  s.Flags = 0xFFFF0881;  // both disabled, as the controller sets them
  ASSERT_TRUE(Port->SetCommState(s));
  EXPECT_FALSE(Sim.DTR());
}

TEST_F(SimSerial, TotalTimeOutEndsAReadWithWhatArrived) {
  SetTimeouts(0, 0, 200);
  Sim.InjectInput("MRV03YES!");  // nine of ten
  const auto start = TSteady::now();
  EXPECT_EQ(ReadInto(10, 1000), TIoResult::Done);
  const auto took = TSteady::now() - start;
  EXPECT_EQ(Got, 9u);
  EXPECT_EQ(Text, "MRV03YES!x");
  EXPECT_GE(took, 195ms);
  EXPECT_LT(took, 900ms);
}

TEST_F(SimSerial, TotalTimeOutGrowsWithTheCount) {
  SetTimeouts(0, 20, 0);
  const auto start = TSteady::now();
  EXPECT_EQ(ReadInto(5, 1000), TIoResult::Done);
  EXPECT_EQ(Got, 0u);
  EXPECT_GE(TSteady::now() - start, 95ms);
}

TEST_F(SimSerial, ReadCompletesAsSoonAsAllBytesAreThere) {
  SetTimeouts(0, 0, 200);
  Sim.InjectInput("0123456789ab");
  const auto start = TSteady::now();
  EXPECT_EQ(ReadInto(10, 1000), TIoResult::Done);
  EXPECT_LT(TSteady::now() - start, 100ms);
  EXPECT_EQ(Got, 10u);
  EXPECT_EQ(Text, "0123456789");
  EXPECT_EQ(ReadInto(2, 1000), TIoResult::Done);
  EXPECT_EQ(Text, "ab");
}

TEST_F(SimSerial, WithoutTimeOutsTheCallersWaitEndsTheReadAndLeavesTheBufferAlone) {
  Sim.InjectInput("abc");
  const auto start = TSteady::now();
  EXPECT_EQ(ReadInto(10, 150), TIoResult::TimedOut);
  EXPECT_GE(TSteady::now() - start, 145ms);
  EXPECT_EQ(Text, std::string(10, 'x'));
  EXPECT_EQ(Got, 0u);
}

TEST_F(SimSerial, CallersWaitShorterThanTheTotalTimeOutWins) {
  SetTimeouts(0, 0, 500);
  EXPECT_EQ(ReadInto(4, 100), TIoResult::TimedOut);
  EXPECT_EQ(Text, "xxxx");
}

TEST_F(SimSerial, IntervalTimeOutsAsWindowsReadsThem) {
  // MAXDWORD interval alone: what is there, at once.
  SetTimeouts(MAXDWORD, 0, 0);
  Sim.InjectInput("ab");
  EXPECT_EQ(ReadInto(10, 1000), TIoResult::Done);
  EXPECT_EQ(Got, 2u);
  EXPECT_EQ(ReadInto(10, 1000), TIoResult::Done);
  EXPECT_EQ(Got, 0u);
  // MAXDWORD interval and multiplier: the first byte, or the constant.
  SetTimeouts(MAXDWORD, MAXDWORD, 100);
  const auto start = TSteady::now();
  EXPECT_EQ(ReadInto(10, 1000), TIoResult::Done);
  EXPECT_EQ(Got, 0u);
  EXPECT_GE(TSteady::now() - start, 95ms);
  // A gap longer than the interval after the first byte ends the read.
  SetTimeouts(30, 0, 0);
  Sim.InjectInput("abc");
  EXPECT_EQ(ReadInto(10, 1000), TIoResult::Done);
  EXPECT_EQ(Got, 3u);
}

TEST_F(SimSerial, ReadWithoutTimeOutsWaitsForArrivingBytes) {
  std::thread feeder([&] {
    SleepFor(30ms);
    Sim.InjectInput("12345");
    SleepFor(30ms);
    Sim.InjectInput("67890");
  });
  EXPECT_EQ(ReadInto(10, 2000), TIoResult::Done);
  EXPECT_EQ(Text, "1234567890");
  feeder.join();
}

TEST_F(SimSerial, PurgeAbortsAReadOnAnotherThread) {
  std::atomic<int> result{-1};
  std::thread reader([&] { result = static_cast<int>(ReadInto(10, 5000)); });
  SleepFor(50ms);
  EXPECT_EQ(result, -1);
  const auto start = TSteady::now();
  ASSERT_TRUE(Port->PurgeComm(PURGE_RXABORT));
  reader.join();
  EXPECT_LT(TSteady::now() - start, 1000ms);
  EXPECT_EQ(result, static_cast<int>(TIoResult::Aborted));
  EXPECT_EQ(Text, std::string(10, 'x'));
}

TEST_F(SimSerial, PurgeWithoutAbortLeavesAReadRunning) {
  SetTimeouts(0, 0, 150);
  std::atomic<int> result{-1};
  std::thread reader([&] { result = static_cast<int>(ReadInto(10, 5000)); });
  SleepFor(30ms);
  ASSERT_TRUE(Port->PurgeComm(PURGE_RXCLEAR | PURGE_TXCLEAR));
  reader.join();
  EXPECT_EQ(result, static_cast<int>(TIoResult::Done));
}

TEST_F(SimSerial, RxClearEmptiesTheInputBuffer) {
  SetTimeouts(MAXDWORD, 0, 0);
  Sim.InjectInput("stale");
  ASSERT_TRUE(Port->PurgeComm(PURGE_RXCLEAR));
  EXPECT_EQ(ReadInto(5, 100), TIoResult::Done);
  EXPECT_EQ(Got, 0u);
}

TEST_F(SimSerial, ShortWriteCompletesAtOnceLongWriteTakesItsTransmitTime) {
  auto start = TSteady::now();
  EXPECT_EQ(Port->Write("MRV02?????\r", 11, 1000), TIoResult::Done);
  EXPECT_LT(TSteady::now() - start, 100ms);
  // 64 characters: all but the FIFO's 16 must go out first (50 ms).
  const std::string text(64, '5');
  start = TSteady::now();
  EXPECT_EQ(Port->Write(text.data(), text.size(), 1000), TIoResult::Done);
  EXPECT_GE(TSteady::now() - start, 45ms);
  // The caller's wait can be shorter.
  EXPECT_EQ(Port->Write(text.data(), text.size(), 10), TIoResult::TimedOut);
}

TEST_F(SimSerial, PurgeAbortsAWriteOnAnotherThread) {
  const std::string text(200, '5');  // about 200 ms on the wire
  std::atomic<int> result{-1};
  std::thread writer(
      [&] { result = static_cast<int>(Port->Write(text.data(), text.size(), 5000)); });
  SleepFor(30ms);
  ASSERT_TRUE(Port->PurgeComm(PURGE_TXABORT));
  writer.join();
  EXPECT_EQ(result, static_cast<int>(TIoResult::Aborted));
}

TEST_F(SimSerial, LineFunctionsSetTheLinesAndUnknownOnesFail) {
  EXPECT_TRUE(Port->EscapeCommFunction(SETDTR));
  EXPECT_TRUE(Sim.DTR());
  EXPECT_TRUE(Port->EscapeCommFunction(CLRDTR));
  EXPECT_FALSE(Sim.DTR());
  EXPECT_TRUE(Port->EscapeCommFunction(SETRTS));
  EXPECT_TRUE(Sim.RTS());
  EXPECT_TRUE(Port->EscapeCommFunction(CLRRTS));
  EXPECT_FALSE(Sim.RTS());
  EXPECT_FALSE(Port->EscapeCommFunction(0));
  EXPECT_FALSE(Port->EscapeCommFunction(42));
}

TEST_F(SimSerial, ClosingDropsTheLinesAndStopsADirectDrive) {
  ASSERT_TRUE(Port->EscapeCommFunction(SETDTR));
  ASSERT_TRUE(Port->EscapeCommFunction(SETRTS));
  ASSERT_TRUE(WaitFor([&] { return Sim.Moving(); }));
  Port->Close();
  EXPECT_FALSE(Sim.RTS());
  EXPECT_FALSE(Sim.DTR());
  EXPECT_TRUE(WaitStopped(Sim));
}

TEST_F(SimSerial, ClosingReleasesABlockedWaitAndRead) {
  ASSERT_TRUE(Port->SetCommMask(EV_CTS));
  std::atomic<int> waited{-1}, read{-1};
  std::thread waiter([&] {
    uint32_t events = 0;
    waited = Port->WaitCommEvent(events) ? 1 : 0;
  });
  std::thread reader([&] {
    char b[4];
    size_t got = 0;
    read = static_cast<int>(Port->Read(b, 4, got, 5000));
  });
  SleepFor(50ms);
  Port->Close();
  waiter.join();
  reader.join();
  EXPECT_EQ(waited, 0);
  EXPECT_EQ(read, static_cast<int>(TIoResult::Failed));
}

}  // namespace
}  // namespace morvane::sim::test
