// Opening, closing and changing the port; the write and fixed-length read primitives.
#include <thread>
#include <tuple>

#include "support/ControllerFixture.h"

namespace morvane::test {
namespace {

using SerialLinkTest = ControllerFixture;

// How long the test watches for a report that must not come. Nothing marks the moment a
// wrong one would have come: a counting thread would report an edge within microseconds.
constexpr auto WatchForReports = std::chrono::milliseconds(50);

TEST_F(SerialLinkTest, PortZeroIsNoPort) {
  Controller->SetComPort(0);
  EXPECT_FALSE(Controller->OpenPort());
  EXPECT_FALSE(Controller->PortOpen());
  EXPECT_TRUE(Sim->Trace().empty());
}

TEST_F(SerialLinkTest, MissingDeviceFailsAndLeavesPortClosed) {
  TFocusControl c(Host, [](int) { return std::unique_ptr<TSerialPort>(); });
  EXPECT_FALSE(c.OpenPort());
  EXPECT_FALSE(c.PortOpen());
  EXPECT_FALSE(c.WriteString(":FQ#"));
  c.ClosePort();  // nothing to close
  // The invalid handle makes a read wait its whole time before it fails.
  const auto start = std::chrono::steady_clock::now();
  std::string text = "x";
  EXPECT_FALSE(c.ReadBytes(10, text));
  EXPECT_TRUE(text.empty());
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(900));
}

TEST_F(SerialLinkTest, PortInUseFails) {
  auto other = Sim->Open();
  ASSERT_TRUE(other);
  EXPECT_FALSE(Controller->OpenPort());
  EXPECT_FALSE(Controller->PortOpen());
}

TEST_F(SerialLinkTest, OpenSetsTheLineClearsTheModemLinesAndResetsTheCount) {
  ASSERT_TRUE(Controller->OpenPort());
  EXPECT_TRUE(Controller->PortOpen());
  const TLineSettings& ls = Controller->LineSettings();
  EXPECT_EQ(ls.DCBlength, 28u);
  EXPECT_EQ(ls.BaudRate, 9600u);
  EXPECT_EQ(ls.ByteSize, 8);
  EXPECT_EQ(ls.Parity, 0);
  EXPECT_EQ(ls.StopBits, 0);
  EXPECT_EQ(ls.Flags, 0xFFFF0881u);
  auto steps = Texts(Steps(Sim->Trace()));
  std::vector<std::string> cleared;
  for (int i = 0; i < 5; ++i) {
    cleared.push_back("RTS-");
    cleared.push_back("DTR-");
  }
  EXPECT_EQ(steps, cleared);
  auto reports = CTSReports();
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].Count, 0);
  EXPECT_FALSE(reports[0].DSR);
  EXPECT_EQ(Controller->CTSCount(), 0);
}

TEST_F(SerialLinkTest, OpenSetsTheTotalReadTimeout) {
  ASSERT_TRUE(Controller->OpenPort());
  // The last byte of a reply comes late. Within the 200 ms total time-out the read takes it;
  // after it the read has completed short, which the reader rejects, and the caller's wait
  // then runs out; the late byte finds no reader.
  const auto replyWithLastByteAfter = [&](int ms) {
    Controller->PurgePort();
    Sim->InjectInput("MRV03YES!");
    std::thread late([&, ms] {
      std::this_thread::sleep_for(std::chrono::milliseconds(ms));
      Sim->InjectInput("!");
    });
    std::string text = "stale";
    const auto start = std::chrono::steady_clock::now();
    const bool ok = Controller->ReadBytes(10, text);
    const auto took = std::chrono::steady_clock::now() - start;
    late.join();
    return std::tuple{ok, text, took};
  };
  const auto [early, earlyText, earlyTook] = replyWithLastByteAfter(60);
  EXPECT_TRUE(early);
  EXPECT_EQ(earlyText, "MRV03YES!!");
  const auto [tooLate, lateText, lateTook] = replyWithLastByteAfter(500);
  EXPECT_FALSE(tooLate);
  EXPECT_TRUE(lateText.empty());
  EXPECT_GE(lateTook, std::chrono::milliseconds(900));
  EXPECT_LT(lateTook, std::chrono::milliseconds(1600));
}

TEST_F(SerialLinkTest, ReadBytesTakesExactlyTheCountAsked) {
  ASSERT_TRUE(Controller->OpenPort());
  std::string text;
  Sim->InjectInput("0123456789");
  EXPECT_TRUE(Controller->ReadBytes(10, text));
  EXPECT_EQ(text, "0123456789");

  Sim->InjectInput("0123456789AB");
  EXPECT_TRUE(Controller->ReadBytes(10, text));
  EXPECT_EQ(text, "0123456789");
  // The rest is thrown away by the purge of the next write.
  EXPECT_TRUE(Controller->WriteString("5"));
  Sim->InjectInput("abcdefghij");
  EXPECT_TRUE(Controller->ReadBytes(10, text));
  EXPECT_EQ(text, "abcdefghij");
}

TEST_F(SerialLinkTest, NulBytesNeverReachAReply) {
  ASSERT_TRUE(Controller->OpenPort());
  Sim->InjectInput(std::string("MRV03\0YES!!", 11));
  std::string text;
  EXPECT_TRUE(Controller->ReadBytes(10, text));
  EXPECT_EQ(text, "MRV03YES!!");
}

TEST_F(SerialLinkTest, ReadBytesOnAClosedPortFailsAtOnce) {
  std::string text;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(Controller->ReadBytes(10, text));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100));
  EXPECT_EQ(Controller->ReadReply(10), "");
}

TEST_F(SerialLinkTest, WriteStringPurgesFirstAndRefusesWhatItCannotHold) {
  ASSERT_TRUE(Controller->OpenPort());
  Sim->ClearTrace();
  EXPECT_TRUE(Controller->WriteString(":F-#"));
  EXPECT_TRUE(Controller->WriteString(std::string(127, 'x')));
  EXPECT_FALSE(Controller->WriteString(std::string(128, 'x')));
  std::vector<std::string> kinds;
  for (const auto& e : Sim->Trace()) {
    if (e.Kind == sim::TTraceKind::Purge) {
      EXPECT_EQ(e.Value, 15u);
      kinds.push_back("purge");
    }
    if (e.Kind == sim::TTraceKind::Write) kinds.push_back(e.Bytes.substr(0, 4));
  }
  // The text too long for the buffer is refused before anything reaches the line.
  EXPECT_EQ(kinds, (std::vector<std::string>{"purge", ":F-#", "purge", "xxxx", "purge"}));
}

TEST_F(SerialLinkTest, SetComPortOnAnOpenPortClosesItAndKeepsPortOpenFlag) {
  ASSERT_TRUE(Controller->OpenPort());
  Controller->SetComPort(5);
  EXPECT_EQ(Controller->ComPort(), 5);
  EXPECT_TRUE(Controller->PortOpen()) << "only OpenPort and ClosePort change it";
  // The port is free again: the simulator can be opened by someone else.
  auto other = Sim->Open();
  EXPECT_TRUE(other);
  other.reset();
  ClearReports();
  EXPECT_FALSE(Controller->WriteString("5"));
  ASSERT_TRUE(Controller->OpenPort());
  EXPECT_EQ(CTSReports().size(), 1u);
}

TEST_F(SerialLinkTest, ClosePortWhileStillEndsCountingWithoutReport) {
  ASSERT_TRUE(Controller->OpenPort());
  ClearReports();
  Controller->ClosePort();
  EXPECT_FALSE(Controller->PortOpen());
  Sim->SetEncoderLines(true, false);
  std::this_thread::sleep_for(WatchForReports);
  EXPECT_TRUE(CTSReports().empty());
  EXPECT_EQ(Controller->CTSCount(), 0);
  Controller->ClosePort();  // a second close does nothing
}

TEST_F(SerialLinkTest, OpeningAnOpenPortAgainStartsOneCountingThread) {
  ASSERT_TRUE(Controller->OpenPort());
  ASSERT_TRUE(Controller->OpenPort());
  ClearReports();
  Sim->SetEncoderLines(true, false);
  ASSERT_TRUE(WaitUntil([&] { return CTSReports().size() >= 1; }, 5000));
  std::this_thread::sleep_for(WatchForReports);
  EXPECT_EQ(CTSReports().size(), 1u) << "one counting thread reports the edge";
  EXPECT_EQ(Controller->CTSCount(), 1);
}

TEST_F(SerialLinkTest, UnpluggedDeviceFailsEveryTransfer) {
  ASSERT_TRUE(Controller->OpenPort());
  Sim->Unplug();
  EXPECT_FALSE(Controller->WriteString(":FQ#"));
  std::string text;
  EXPECT_FALSE(Controller->ReadBytes(10, text));
  Controller->ClosePort();
  EXPECT_FALSE(Controller->PortOpen());
}

}  // namespace
}  // namespace morvane::test
