// The controller on devices as they behave on real machines: a device that vanishes while
// open, a line that cannot count, an edge that races the start of the counting thread's wait.
// On the simulated focuser, and on a pseudo-terminal with modem lines played by the test.

#include <thread>

#include "platform/KernelModemLines.h"
#include "platform/PosixSerialPort.h"
#include "platform/PtyPair.h"
#include "support/ControllerFixture.h"

namespace morvane::test {
namespace {

using DeviceTest = ControllerFixture;

const char* const LostCom1 = "Lost connection to COM 1";

// How long the test watches for a message or report that must not come. Nothing marks the
// moment a wrong one would have come; it would follow the right one's cause at once.
constexpr auto WatchForMore = std::chrono::milliseconds(200);

TEST_F(DeviceTest, AnUnpluggedDeviceCancelsTheMoveClosesThePortAndTellsOnce) {
  ASSERT_TRUE(Controller->OpenPort());
  Host.RunOnGui([&] { Controller->MoveBy(5000); });
  ASSERT_TRUE(WaitUntil([&] { return Sim->Moving(); }, 2000));
  ASSERT_FALSE(Controller->Idle());
  Sim->Unplug();
  ASSERT_TRUE(Host.WaitForMessages(1, 3000)) << "the operator was not told";
  EXPECT_EQ(Host.Messages()[0], LostCom1);
  EXPECT_FALSE(Controller->PortOpen());
  EXPECT_TRUE(Controller->Idle());
  std::this_thread::sleep_for(WatchForMore);
  EXPECT_EQ(Host.Messages().size(), 1u) << "told more than once";

  // Plugged in again, the port opens and counts as before.
  Sim->Replug();
  ASSERT_TRUE(Host.RunOnGui([&] { return Controller->OpenPort(); }));
  ClearReports();
  Sim->SetEncoderLines(true, false);
  EXPECT_TRUE(WaitUntil([&] { return Controller->CTSCount() == 1; }, 3000));
  EXPECT_EQ(Host.Messages().size(), 1u);
}

TEST_F(DeviceTest, APortTheOperatorClosedIsNotReportedLost) {
  ASSERT_TRUE(Controller->OpenPort());
  Host.RunOnGui([&] { Controller->ClosePort(); });
  Sim->Unplug();
  std::this_thread::sleep_for(WatchForMore);
  EXPECT_TRUE(Host.Messages().empty());
}

// The counting thread's report of a lost device, made by the test as often as it likes.
class TLossReportingControl : public TFocusControl {
 public:
  using TFocusControl::DoPortLost;
  using TFocusControl::Port;
  using TFocusControl::TFocusControl;
};

TEST_F(DeviceTest, TwoLossReportsAndTheOperatorsCloseAtOnceCloseThePortOnce) {
  auto owned = std::make_unique<TLossReportingControl>(Host, Sim->Opener());
  TLossReportingControl& c = *owned;
  Controller = std::move(owned);
  ASSERT_TRUE(c.OpenPort());
  const std::shared_ptr<TSerialPort> port = c.Port();
  Sim->Unplug();  // the counting thread reports it too
  std::thread again([&] { c.DoPortLost(port); });
  std::thread user([&] { c.ClosePort(); });
  c.DoPortLost(port);
  again.join();
  user.join();
  // Every report has run once the GUI thread runs what was queued after them.
  Host.RunOnGui([] {});
  EXPECT_FALSE(c.PortOpen());
  EXPECT_LE(Host.Messages().size(), 1u) << "told more than once";
  for (const std::string& m : Host.Messages()) EXPECT_EQ(m, LostCom1);

  // Nothing of the closes is left over: plugged in again, the port opens and counts.
  Sim->Replug();
  ASSERT_TRUE(Host.RunOnGui([&] { return c.OpenPort(); }));
  Sim->SetEncoderLines(true, false);
  EXPECT_TRUE(WaitUntil([&] { return c.CTSCount() == 1; }, 3000));
  Host.RunOnGui([] {});
  EXPECT_LE(Host.Messages().size(), 1u);
}

// A controller whose port 1 is the slave of a pseudo-terminal.
class TtyDeviceTest : public ControllerFixture {
 protected:
  void SetUp() override {
    ControllerFixture::SetUp();
    ASSERT_TRUE(FPty.Ok());
  }
  void TearDown() override {
    FTty.reset();
    ControllerFixture::TearDown();
  }

  // modemLines false: the pty as it is, without modem lines.
  void MakeTtyController(bool modemLines) {
    FTty = std::make_unique<TFocusControl>(Host, [this, modemLines](int) {
      return modemLines
                 ? OpenPosixSerialPort(FPty.SlavePath(), std::make_unique<TKernelModemIo>(FLines))
                 : OpenPosixSerialPort(FPty.SlavePath());
    });
    FTty->OnCTSChange = [this](TFocusControl*, int32_t count, bool dsr) {
      std::lock_guard lock(ReportLock);
      Reports.push_back({count, dsr});
    };
  }

  TPtyPair FPty;
  std::shared_ptr<TKernelModemLines> FLines = std::make_shared<TKernelModemLines>();
  std::unique_ptr<TFocusControl> FTty;
};

TEST_F(TtyDeviceTest, ALineWithoutModemLinesDoesNotOpen) {
  MakeTtyController(false);
  EXPECT_FALSE(FTty->OpenPort());
  EXPECT_FALSE(FTty->PortOpen());
}

TEST_F(TtyDeviceTest, AHungUpLineClosesThePortAndTellsOnce) {
  MakeTtyController(true);
  ASSERT_TRUE(FTty->OpenPort());
  FPty.CloseMaster();
  ASSERT_TRUE(Host.WaitForMessages(1, 3000)) << "the operator was not told";
  EXPECT_EQ(Host.Messages()[0], LostCom1);
  EXPECT_FALSE(FTty->PortOpen());
  std::this_thread::sleep_for(WatchForMore);
  EXPECT_EQ(Host.Messages().size(), 1u);
}

TEST_F(TtyDeviceTest, AnEdgeRacingTheStartOfTheWaitIsCountedInItsTurn) {
  MakeTtyController(true);
  FTty->SetDualSense(true);
  ASSERT_TRUE(FTty->OpenPort());
  ClearReports();
  // Each wait now begins 30 ms after the counters were read, as when the counting thread is
  // held up on its way into the kernel.
  FLines->DelayBeforeWaitMs = 30;
  const int entries = FLines->WaitEntries;
  FLines->Change(TIOCM_CTS);  // rises: +1
  // Reported, and the next wait is being entered.
  ASSERT_TRUE(
      WaitUntil([&] { return CTSReports().size() == 1 && FLines->WaitEntries > entries; }, 2000));
  FLines->Change(TIOCM_CTS);  // falls meanwhile: -1
  // The kernel's wait alone would report the fall only with the next edge, as one change.
  ASSERT_TRUE(WaitUntil([&] { return CTSReports().size() >= 2; }, 5000)) << "the fall is lost";
  FLines->Change(TIOCM_CTS);  // rises again: +1
  ASSERT_TRUE(WaitUntil([&] { return CTSReports().size() >= 3; }, 5000));
  std::this_thread::sleep_for(WatchForMore);
  const auto reports = CTSReports();
  ASSERT_EQ(reports.size(), 3u);
  EXPECT_EQ(reports[0].Count, 1);
  EXPECT_EQ(reports[1].Count, 0);
  EXPECT_EQ(reports[2].Count, 1);
  EXPECT_EQ(FTty->CTSCount(), 1);
}

}  // namespace
}  // namespace morvane::test
