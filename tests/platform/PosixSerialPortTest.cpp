#include "platform/PosixSerialPort.h"

#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <string>
#include <thread>

#include "platform/KernelModemLines.h"
#include "platform/PtyPair.h"
#include "platform/Timing.h"

namespace morvane {
namespace {

using test::TPtyPair;

int64_t MsSince(int64_t sinceMicros) {
  return (MonotonicMicros() - sinceMicros) / 1000;
}

// A pseudo-terminal has no modem lines; the port under test gets them played by the test.
std::unique_ptr<TModemIo> PlayedLines() {
  return std::make_unique<test::TKernelModemIo>(std::make_shared<test::TKernelModemLines>());
}

// The record OpenPort writes: 9600 8N1, NUL bytes dropped, no flow control.
TLineSettings FocuserLine(TSerialPort& port) {
  TLineSettings s;
  port.GetCommState(s);
  s.DCBlength = 28;
  s.BaudRate = 9600;
  s.Flags = 0xFFFF0881u;
  s.ByteSize = 8;
  s.Parity = 0;
  s.StopBits = 0;
  return s;
}

class PosixSerialPortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(FPty.Ok());
    int error = -1;
    FPort = OpenPosixSerialPort(FPty.SlavePath(), PlayedLines(), &error);
    ASSERT_NE(FPort, nullptr) << "errno " << error;
    EXPECT_EQ(error, 0);
  }

  void SetReadTimeouts(uint32_t interval, uint32_t multiplier, uint32_t constant) {
    TCommTimeouts t;
    ASSERT_TRUE(FPort->GetCommTimeouts(t));
    t.ReadIntervalTimeout = interval;
    t.ReadTotalTimeoutMultiplier = multiplier;
    t.ReadTotalTimeoutConstant = constant;
    ASSERT_TRUE(FPort->SetCommTimeouts(t));
  }

  termios MasterSideTermios() {
    termios tio{};
    tcgetattr(FPty.Master(), &tio);  // a pty master reports its slave's settings
    return tio;
  }

  // Sends bytes and waits until the port can read them. Nothing on the test's side of the
  // line shows when the kernel has passed them over (only a read would, which takes them), so
  // this gives it a time far above the microseconds it needs.
  void Arrive(std::string_view bytes) {
    ASSERT_TRUE(FPty.Send(bytes));
    std::this_thread::sleep_for(ArrivalTime);
  }
  static constexpr std::chrono::milliseconds ArrivalTime{30};

  // Purges until a read or write on another thread has ended, as it must once a purge lands
  // inside it; one that came before the call began has nothing to end.
  template <typename T>
  bool PurgeUntilEnded(std::future<T>& call, uint32_t flags) {
    const auto end = std::chrono::steady_clock::now() + CallDeadline;
    do {
      if (!FPort->PurgeComm(flags)) return false;
    } while (call.wait_for(CallSettles) == std::future_status::timeout &&
             std::chrono::steady_clock::now() < end);
    return call.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
  }
  // Only bounds a failure, on a machine too busy to schedule the caller.
  static constexpr std::chrono::seconds CallDeadline{5};
  // For a call on another thread to reach its wait: nothing shows it from outside.
  static constexpr std::chrono::milliseconds CallSettles{50};

  TPtyPair FPty;
  std::unique_ptr<TSerialPort> FPort;
};

TEST(OpenPosixSerialPort, MissingDeviceFails) {
  int error = 0;
  EXPECT_EQ(OpenPosixSerialPort("/dev/morvane-no-such-port", &error), nullptr);
  EXPECT_EQ(error, ENOENT);
}

TEST(OpenPosixSerialPort, FileThatIsNoTtyFails) {
  int error = 0;
  EXPECT_EQ(OpenPosixSerialPort("/dev/null", &error), nullptr);
  EXPECT_EQ(error, ENOTTY);
}

TEST_F(PosixSerialPortTest, SecondOpenFailsWhileThePortIsHeld) {
  int error = 0;
  EXPECT_EQ(OpenPosixSerialPort(FPty.SlavePath(), PlayedLines(), &error), nullptr);
  EXPECT_EQ(error, EBUSY);
  FPort.reset();
  EXPECT_NE(OpenPosixSerialPort(FPty.SlavePath(), PlayedLines(), &error), nullptr);
}

TEST_F(PosixSerialPortTest, OpensRaw9600EightNoneOneWithoutFlowControl) {
  TLineSettings s;
  ASSERT_TRUE(FPort->GetCommState(s));
  EXPECT_EQ(s.DCBlength, 28u);
  EXPECT_EQ(s.BaudRate, 9600u);
  EXPECT_EQ(s.ByteSize, 8);
  EXPECT_EQ(s.Parity, 0);
  EXPECT_EQ(s.StopBits, 0);
  EXPECT_TRUE(s.Flags & fBinary);
  EXPECT_FALSE(s.Flags & (fOutxCtsFlow | fOutX | fInX | fNull | fParity));
  EXPECT_EQ(s.Flags & (fDtrControlMask | fRtsControlMask), 0u);

  const termios tio = MasterSideTermios();
  EXPECT_EQ(cfgetospeed(&tio), static_cast<speed_t>(B9600));
  EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_TRUE(tio.c_cflag & CLOCAL);
  EXPECT_FALSE(tio.c_cflag & (PARENB | CSTOPB | CRTSCTS));
  EXPECT_FALSE(tio.c_lflag & (ICANON | ECHO | ISIG));
  EXPECT_FALSE(tio.c_iflag & (IXON | IXOFF | ICRNL));
  EXPECT_FALSE(tio.c_oflag & OPOST);
}

TEST_F(PosixSerialPortTest, TheFocuserLineSettingsRoundTrip) {
  TLineSettings s = FocuserLine(*FPort);
  ASSERT_TRUE(FPort->SetCommState(s));
  TLineSettings back;
  ASSERT_TRUE(FPort->GetCommState(back));
  EXPECT_EQ(back.Flags, 0xFFFF0881u);
  EXPECT_EQ(back.BaudRate, 9600u);
  EXPECT_EQ(back.ByteSize, 8);
  EXPECT_EQ(back.Parity, 0);
  EXPECT_EQ(back.StopBits, 0);
  EXPECT_EQ(back.XonLim, s.XonLim);
  EXPECT_EQ(back.EvtChar, s.EvtChar);
}

TEST_F(PosixSerialPortTest, LineSettingsMapOntoTermios) {
  TLineSettings s = FocuserLine(*FPort);
  s.BaudRate = 19200;
  s.ByteSize = 7;
  s.Parity = 2;    // even
  s.StopBits = 2;  // two
  s.Flags |= fParity | fOutxCtsFlow | fOutX;
  ASSERT_TRUE(FPort->SetCommState(s));
  termios tio = MasterSideTermios();
  EXPECT_EQ(cfgetospeed(&tio), static_cast<speed_t>(B19200));
  EXPECT_TRUE(tio.c_cflag & CSTOPB);
  EXPECT_TRUE(tio.c_cflag & CRTSCTS);
  EXPECT_TRUE(tio.c_iflag & INPCK);
  EXPECT_TRUE(tio.c_iflag & IXON);
  EXPECT_FALSE(tio.c_iflag & IXOFF);
  // A pseudo-terminal keeps 8 bits without parity whatever it is told; the record reports
  // what the device holds.
  TLineSettings back;
  ASSERT_TRUE(FPort->GetCommState(back));
  EXPECT_EQ(back.BaudRate, 19200u);
  EXPECT_EQ(back.ByteSize, (tio.c_cflag & CSIZE) == CS7 ? 7 : 8);
  EXPECT_EQ(back.Parity, (tio.c_cflag & PARENB) ? 2 : 0);
  EXPECT_EQ(back.StopBits, 2);
  EXPECT_TRUE(back.Flags & fParity);
  EXPECT_TRUE(back.Flags & fOutxCtsFlow);
  EXPECT_TRUE(back.Flags & fOutX);
  EXPECT_FALSE(back.Flags & fInX);

  s.StopBits = 0;
  s.Flags &= ~(fOutxCtsFlow | fOutX | fParity);
  s.Flags |= fInX;
  ASSERT_TRUE(FPort->SetCommState(s));
  tio = MasterSideTermios();
  EXPECT_FALSE(tio.c_cflag & (CSTOPB | CRTSCTS));
  EXPECT_FALSE(tio.c_iflag & (INPCK | IXON));
  EXPECT_TRUE(tio.c_iflag & IXOFF);
  ASSERT_TRUE(FPort->GetCommState(back));
  EXPECT_EQ(back.StopBits, 0);
  EXPECT_EQ(back.Flags & (fOutxCtsFlow | fOutX | fInX | fParity), fInX);
}

TEST_F(PosixSerialPortTest, SettingsATtyCannotHaveAreRefusedAndChangeNothing) {
  TLineSettings s = FocuserLine(*FPort);
  ASSERT_TRUE(FPort->SetCommState(s));
  TLineSettings bad = s;
  bad.BaudRate = 12345;
  EXPECT_FALSE(FPort->SetCommState(bad));
  bad = s;
  bad.ByteSize = 9;
  EXPECT_FALSE(FPort->SetCommState(bad));
  bad = s;
  bad.Flags |= fOutxDsrFlow;
  EXPECT_FALSE(FPort->SetCommState(bad));
  TLineSettings back;
  ASSERT_TRUE(FPort->GetCommState(back));
  EXPECT_EQ(back.BaudRate, 9600u);
  EXPECT_EQ(back.ByteSize, 8);
  EXPECT_EQ(back.Flags, 0xFFFF0881u);
}

TEST_F(PosixSerialPortTest, WritesGoOutOnTheLineInOrder) {
  EXPECT_EQ(FPort->Write("5", 1, 1000), TIoResult::Done);
  EXPECT_EQ(FPort->Write(":F-#", 4, 1000), TIoResult::Done);
  EXPECT_EQ(FPty.Receive(5), "5:F-#");
}

TEST_F(PosixSerialPortTest, AFixedLengthReadEndsWhenItsBytesHaveCome) {
  SetReadTimeouts(0, 0, 5000);
  Arrive("0123456789ABC");
  char buffer[33] = {};
  size_t got = 0;
  const int64_t start = MonotonicMicros();
  EXPECT_EQ(FPort->Read(buffer, 10, got, 8000), TIoResult::Done);
  EXPECT_LT(MsSince(start), 4000);  // long before the total time-out
  EXPECT_EQ(got, 10u);
  EXPECT_EQ(std::string(buffer, got), "0123456789");
  EXPECT_EQ(FPort->Read(buffer, 3, got, 1000), TIoResult::Done);  // the rest stays for the next
  EXPECT_EQ(std::string(buffer, got), "ABC");
}

TEST_F(PosixSerialPortTest, AShortReplyEndsAtTheTotalTimeoutWithFewerBytes) {
  SetReadTimeouts(0, 0, 200);
  Arrive("123456789");
  char buffer[33] = {};
  size_t got = 0;
  const int64_t start = MonotonicMicros();
  EXPECT_EQ(FPort->Read(buffer, 10, got, 1000), TIoResult::Done);
  const int64_t elapsed = MsSince(start);
  EXPECT_GE(elapsed, 195);
  EXPECT_LT(elapsed, 900);
  EXPECT_EQ(std::string(buffer, got), "123456789");
}

TEST_F(PosixSerialPortTest, TheTotalTimeoutCoversTheWholeReadNotEachByte) {
  SetReadTimeouts(0, 0, 250);
  std::thread trickle([this] {
    constexpr auto ByteGap = std::chrono::milliseconds(40);  // each byte well within the 250
    for (int i = 0; i < 20; ++i) {
      FPty.Send("x");
      std::this_thread::sleep_for(ByteGap);
    }
  });
  char buffer[33] = {};
  size_t got = 0;
  const int64_t start = MonotonicMicros();
  EXPECT_EQ(FPort->Read(buffer, 20, got, 3000), TIoResult::Done);
  const int64_t elapsed = MsSince(start);
  trickle.join();
  EXPECT_GE(elapsed, 245);
  EXPECT_LT(elapsed, 700);  // a per-byte time-out would run for the whole 800 ms trickle
  EXPECT_GT(got, 0u);
  EXPECT_LT(got, 20u);
}

TEST_F(PosixSerialPortTest, TheMultiplierCountsPerRequestedByte) {
  SetReadTimeouts(0, 20, 0);
  char buffer[33] = {};
  size_t got = 99;
  const int64_t start = MonotonicMicros();
  EXPECT_EQ(FPort->Read(buffer, 10, got, 2000), TIoResult::Done);
  EXPECT_GE(MsSince(start), 195);
  EXPECT_EQ(got, 0u);
}

TEST_F(PosixSerialPortTest, WithoutTimeoutsAReadWaitsForAllBytesOrTheCallersWait) {
  SetReadTimeouts(0, 0, 0);
  Arrive("12345");
  char buffer[33] = {};
  size_t got = 0;
  const int64_t start = MonotonicMicros();
  EXPECT_EQ(FPort->Read(buffer, 10, got, 150), TIoResult::TimedOut);
  EXPECT_GE(MsSince(start), 145);

  auto reader = std::async(std::launch::async, [&] { return FPort->Read(buffer, 4, got, 5000); });
  EXPECT_EQ(reader.wait_for(CallSettles), std::future_status::timeout) << "it did not wait";
  FPty.Send("wxyz");
  EXPECT_EQ(reader.get(), TIoResult::Done);
  EXPECT_EQ(std::string(buffer, got), "wxyz");
}

TEST_F(PosixSerialPortTest, TheCallersWaitEndsAReadBeforeALongerTimeout) {
  SetReadTimeouts(0, 0, 5000);
  char buffer[33] = {};
  size_t got = 0;
  const int64_t start = MonotonicMicros();
  EXPECT_EQ(FPort->Read(buffer, 10, got, 100), TIoResult::TimedOut);
  EXPECT_LT(MsSince(start), 3000);
}

TEST_F(PosixSerialPortTest, TheIntervalTimeoutEndsAReadAfterTheLastByte) {
  SetReadTimeouts(60, 0, 0);
  Arrive("abc");
  char buffer[33] = {};
  size_t got = 0;
  const int64_t start = MonotonicMicros();
  EXPECT_EQ(FPort->Read(buffer, 10, got, 3000), TIoResult::Done);
  EXPECT_LT(MsSince(start), 2000);
  EXPECT_EQ(std::string(buffer, got), "abc");
}

TEST_F(PosixSerialPortTest, MaximumIntervalAloneReturnsWhatHasArrived) {
  SetReadTimeouts(0xFFFFFFFFu, 0, 0);
  char buffer[33] = {};
  size_t got = 99;
  EXPECT_EQ(FPort->Read(buffer, 10, got, 1000), TIoResult::Done);
  EXPECT_EQ(got, 0u);
  Arrive("hi");
  EXPECT_EQ(FPort->Read(buffer, 10, got, 1000), TIoResult::Done);
  EXPECT_EQ(std::string(buffer, got), "hi");
}

TEST_F(PosixSerialPortTest, NulBytesAreDroppedOnlyWhenTheLineSaysSo) {
  SetReadTimeouts(0, 0, 300);
  ASSERT_TRUE(FPort->SetCommState(FocuserLine(*FPort)));  // fNull set
  Arrive(std::string_view("A\0B\0\0C", 6));
  Arrive(std::string_view("\0D", 2));
  char buffer[33] = {};
  size_t got = 0;
  EXPECT_EQ(FPort->Read(buffer, 4, got, 1000), TIoResult::Done);
  EXPECT_EQ(std::string(buffer, got), "ABCD");

  TLineSettings s = FocuserLine(*FPort);
  s.Flags &= ~fNull;
  ASSERT_TRUE(FPort->SetCommState(s));
  Arrive(std::string_view("E\0F", 3));
  EXPECT_EQ(FPort->Read(buffer, 3, got, 1000), TIoResult::Done);
  EXPECT_EQ(std::string(buffer, got), std::string("E\0F", 3));
}

TEST_F(PosixSerialPortTest, PurgeDiscardsPendingInput) {
  SetReadTimeouts(0, 0, 100);
  Arrive("stale reply");
  EXPECT_TRUE(FPort->PurgeComm(PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR));
  char buffer[33] = {};
  size_t got = 99;
  EXPECT_EQ(FPort->Read(buffer, 5, got, 1000), TIoResult::Done);
  EXPECT_EQ(got, 0u);
  Arrive("fresh");
  EXPECT_EQ(FPort->Read(buffer, 5, got, 1000), TIoResult::Done);
  EXPECT_EQ(std::string(buffer, got), "fresh");
}

TEST_F(PosixSerialPortTest, PurgeWithReadAbortEndsAReadOnAnotherThread) {
  SetReadTimeouts(0, 0, 0);
  char buffer[33] = {};
  size_t got = 0;
  auto reader = std::async(std::launch::async, [&] { return FPort->Read(buffer, 10, got, 10000); });
  ASSERT_TRUE(PurgeUntilEnded(reader, PURGE_RXABORT | PURGE_RXCLEAR));
  EXPECT_EQ(reader.get(), TIoResult::Aborted);
  // The port reads on afterwards.
  Arrive("ok");
  EXPECT_EQ(FPort->Read(buffer, 2, got, 1000), TIoResult::Done);
  EXPECT_EQ(std::string(buffer, got), "ok");
}

TEST_F(PosixSerialPortTest, PurgeOfTheOtherDirectionLeavesAReadAlone) {
  SetReadTimeouts(0, 0, 0);
  char buffer[33] = {};
  size_t got = 0;
  auto reader = std::async(std::launch::async, [&] { return FPort->Read(buffer, 10, got, 400); });
  EXPECT_EQ(reader.wait_for(CallSettles), std::future_status::timeout);
  EXPECT_TRUE(FPort->PurgeComm(PURGE_TXABORT | PURGE_TXCLEAR));
  EXPECT_EQ(reader.get(), TIoResult::TimedOut);
}

TEST_F(PosixSerialPortTest, AWriteTheLineCannotTakeTimesOutAndIsCancelled) {
  const std::string flood(1 << 20, 'z');  // far more than the pty buffers
  const int64_t start = MonotonicMicros();
  EXPECT_EQ(FPort->Write(flood.data(), flood.size(), 150), TIoResult::TimedOut);
  EXPECT_GE(MsSince(start), 145);
  FPty.Drain();
  EXPECT_EQ(FPort->Write("ok", 2, 1000), TIoResult::Done);
  EXPECT_EQ(FPty.Receive(2), "ok");
}

TEST_F(PosixSerialPortTest, PurgeWithWriteAbortEndsAWriteOnAnotherThread) {
  const std::string flood(1 << 20, 'z');
  auto writer = std::async(std::launch::async,
                           [&] { return FPort->Write(flood.data(), flood.size(), 10000); });
  ASSERT_TRUE(PurgeUntilEnded(writer, PURGE_TXABORT | PURGE_TXCLEAR));
  EXPECT_EQ(writer.get(), TIoResult::Aborted);
}

TEST_F(PosixSerialPortTest, CloseEndsAnOutstandingReadAndLaterCallsFail) {
  SetReadTimeouts(0, 0, 0);
  char buffer[33] = {};
  size_t got = 0;
  auto reader = std::async(std::launch::async, [&] { return FPort->Read(buffer, 10, got, 10000); });
  EXPECT_EQ(reader.wait_for(CallSettles), std::future_status::timeout);
  FPort->Close();
  ASSERT_EQ(reader.wait_for(std::chrono::seconds(5)), std::future_status::ready);
  EXPECT_EQ(reader.get(), TIoResult::Failed);
  FPort->Close();  // again: nothing happens
  EXPECT_EQ(FPort->Write("x", 1, 100), TIoResult::Failed);
  EXPECT_EQ(FPort->Read(buffer, 1, got, 100), TIoResult::Failed);
  TLineSettings s;
  EXPECT_FALSE(FPort->GetCommState(s));
  EXPECT_FALSE(FPort->SetCommMask(EV_CTS));
  EXPECT_FALSE(FPort->PurgeComm(PURGE_RXCLEAR));
  uint32_t mask = 0;
  EXPECT_FALSE(FPort->WaitCommEvent(mask));
  // The device is free again.
  EXPECT_NE(OpenPosixSerialPort(FPty.SlavePath(), PlayedLines()), nullptr);
}

TEST_F(PosixSerialPortTest, AReadFromAHungUpLineFails) {
  SetReadTimeouts(0, 0, 0);
  FPty.CloseMaster();
  char buffer[33] = {};
  size_t got = 0;
  EXPECT_EQ(FPort->Read(buffer, 10, got, 2000), TIoResult::Failed);
}

TEST_F(PosixSerialPortTest, AWriteToAHungUpLineFails) {
  FPty.CloseMaster();
  EXPECT_EQ(FPort->Write(":FQ#", 4, 1000), TIoResult::Failed);
}

TEST(OpenPosixSerialPort, ALineThatCannotWaitForItsModemLinesIsRefused) {
  TPtyPair pty;
  ASSERT_TRUE(pty.Ok());
  // A pseudo-terminal has no modem lines at all.
  int error = 0;
  EXPECT_EQ(OpenPosixSerialPort(pty.SlavePath(), &error), nullptr);
  EXPECT_NE(error, 0);
  // A driver that reports its lines but refuses to wait for a change of them.
  auto lines = std::make_shared<test::TKernelModemLines>();
  lines->WaitError = ENOTTY;
  EXPECT_EQ(
      OpenPosixSerialPort(pty.SlavePath(), std::make_unique<test::TKernelModemIo>(lines), &error),
      nullptr);
  EXPECT_EQ(error, ENOTTY);
  lines->WaitError = 0;
  const int64_t start = MonotonicMicros();
  EXPECT_NE(
      OpenPosixSerialPort(pty.SlavePath(), std::make_unique<test::TKernelModemIo>(lines), &error),
      nullptr);
  EXPECT_LT(MsSince(start), 500) << "the check of the wait holds up the opening";
  EXPECT_EQ(lines->InWait, 0) << "the check left a wait behind";
}

}  // namespace
}  // namespace morvane
