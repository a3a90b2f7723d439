// The modem-event wait of the tty port: on a pseudo-terminal with scripted modem lines, and on
// a real port when MORVANE_TEST_TTY names one.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "platform/KernelModemLines.h"
#include "platform/PosixSerialPort.h"
#include "platform/PtyPair.h"
#include "platform/Timing.h"

namespace morvane {
namespace {

using namespace std::chrono_literals;
using test::TPtyPair;

using TScriptedLines = test::TKernelModemLines;
using TScriptedModemIo = test::TKernelModemIo;

struct TWaitOutcome {
  bool Ok = false;
  uint32_t Mask = 0;
  TPortError Error = TPortError::peNone;  // why a wait failed
};

class ScriptedLinesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(FPty.Ok());
    FPort = OpenPosixSerialPort(FPty.SlavePath(), std::make_unique<TScriptedModemIo>(FLines));
    ASSERT_NE(FPort, nullptr);
    FEntriesAtOpen = FLines->WaitEntries;  // the opening's own check of the wait
  }

  void TearDown() override {
    if (FWaiter.valid() && FWaiter.wait_for(0s) != std::future_status::ready) {
      FPort->SetCommMask(0);  // never leave a thread blocked behind
      FWaiter.wait();
    }
  }

  void StartWait() {
    const int entries = FLines->WaitEntries;
    FWaiter = std::async(std::launch::async, [this] {
      TWaitOutcome out;
      const TPortResult waited = FPort->WaitCommEvent(out.Mask);
      out.Ok = static_cast<bool>(waited);
      out.Error = waited.Error();
      return out;
    });
    WaitForEntries(entries + 1);
  }

  // Until the waiter has made its entries and noted the counters, into the blocking read.
  void WaitForEntries(int entries) {
    ASSERT_TRUE(FLines->Await([&] { return FLines->WaitEntries >= entries && FLines->InWait > 0; },
                              Deadline))
        << FLines->WaitEntries << " entries, " << FLines->InWait << " in the wait";
  }

  // Until the waiter has entered the port's wait, before it notes the counters (held back by
  // DelayBeforeWaitMs).
  void WaitForEntry(int entriesBefore) {
    ASSERT_TRUE(FLines->Await([&] { return FLines->WaitEntries > entriesBefore; }, Deadline));
  }

  // Only bounds a failure: a busy machine may be slow to schedule the waiting thread.
  static constexpr std::chrono::milliseconds Deadline{5000};

  bool StillWaiting() { return FWaiter.wait_for(50ms) == std::future_status::timeout; }

  TWaitOutcome Outcome() {
    EXPECT_EQ(FWaiter.wait_for(5s), std::future_status::ready);
    if (FWaiter.wait_for(0s) != std::future_status::ready) return {};
    return FWaiter.get();
  }

  TPtyPair FPty;
  std::shared_ptr<TScriptedLines> FLines = std::make_shared<TScriptedLines>();
  std::unique_ptr<TSerialPort> FPort;
  std::future<TWaitOutcome> FWaiter;
  int FEntriesAtOpen = 0;
};

TEST_F(ScriptedLinesTest, OpeningClearsRtsAndDtrTogetherFirst) {
  const auto calls = FLines->Calls();
  ASSERT_FALSE(calls.empty());
  EXPECT_EQ(calls.front(), "clear RTS DTR");
}

TEST_F(ScriptedLinesTest, LineFunctionsAndModemStatusMapOntoTheLines) {
  EXPECT_TRUE(FPort->EscapeCommFunction(SETRTS));
  EXPECT_EQ(FLines->Lines & (TIOCM_RTS | TIOCM_DTR), TIOCM_RTS);
  EXPECT_TRUE(FPort->EscapeCommFunction(SETDTR));
  EXPECT_EQ(FLines->Lines & (TIOCM_RTS | TIOCM_DTR), TIOCM_RTS | TIOCM_DTR);
  EXPECT_TRUE(FPort->EscapeCommFunction(CLRRTS));
  EXPECT_EQ(FLines->Lines & (TIOCM_RTS | TIOCM_DTR), TIOCM_DTR);
  EXPECT_TRUE(FPort->EscapeCommFunction(CLRDTR));
  EXPECT_EQ(FLines->Lines & (TIOCM_RTS | TIOCM_DTR), 0);
  EXPECT_FALSE(FPort->EscapeCommFunction(0));

  uint32_t status = 0xFF;
  FLines->Lines = 0;
  ASSERT_TRUE(FPort->GetCommModemStatus(status));
  EXPECT_EQ(status, 0u);
  FLines->Lines = TIOCM_CTS;
  ASSERT_TRUE(FPort->GetCommModemStatus(status));
  EXPECT_EQ(status, MS_CTS_ON);
  FLines->Lines = TIOCM_CTS | TIOCM_DSR;
  ASSERT_TRUE(FPort->GetCommModemStatus(status));
  EXPECT_EQ(status, MS_CTS_ON | MS_DSR_ON);
}

TEST_F(ScriptedLinesTest, AWaitEndsWithEachCtsChange) {
  ASSERT_TRUE(FPort->SetCommMask(EV_CTS));
  for (int edge = 0; edge < 3; ++edge) {
    StartWait();
    EXPECT_TRUE(StillWaiting());
    FLines->Change(TIOCM_CTS);
    const TWaitOutcome out = Outcome();
    EXPECT_TRUE(out.Ok);
    EXPECT_EQ(out.Mask, EV_CTS);
  }
}

TEST_F(ScriptedLinesTest, DsrChangesCountOnlyWhenAskedFor) {
  ASSERT_TRUE(FPort->SetCommMask(EV_CTS));
  StartWait();
  FLines->Change(TIOCM_DSR);
  EXPECT_TRUE(StillWaiting());
  FLines->Change(TIOCM_CTS);
  EXPECT_EQ(Outcome().Mask, EV_CTS);

  ASSERT_TRUE(FPort->SetCommMask(EV_CTS | EV_DSR));
  StartWait();
  FLines->Change(TIOCM_DSR);
  EXPECT_EQ(Outcome().Mask, EV_DSR);
}

TEST_F(ScriptedLinesTest, AChangeBetweenTwoWaitsEndsTheNextWaitAtOnce) {
  ASSERT_TRUE(FPort->SetCommMask(EV_CTS));
  ++FLines->Cts;  // an edge while nobody waits, counted by the driver
  const int entries = FLines->WaitEntries;
  FWaiter = std::async(std::launch::async, [this] {
    TWaitOutcome out;
    const TPortResult waited = FPort->WaitCommEvent(out.Mask);
    out.Ok = static_cast<bool>(waited);
    out.Error = waited.Error();
    return out;
  });
  const TWaitOutcome out = Outcome();
  EXPECT_TRUE(out.Ok);
  EXPECT_EQ(out.Mask, EV_CTS);
  EXPECT_EQ(FLines->WaitEntries, entries);  // without blocking at all
}

TEST_F(ScriptedLinesTest, ChangesWhileTheMaskWasClearDoNotCount) {
  ++FLines->Cts;
  ASSERT_TRUE(FPort->SetCommMask(EV_CTS));
  StartWait();
  EXPECT_TRUE(StillWaiting());
}

TEST_F(ScriptedLinesTest, AClearMaskAtEntryReturnsAtOnce) {
  uint32_t mask = 99;
  EXPECT_TRUE(FPort->WaitCommEvent(mask));
  EXPECT_EQ(mask, 0u);
  EXPECT_EQ(FLines->WaitEntries, FEntriesAtOpen);
}

TEST_F(ScriptedLinesTest, ClearingTheMaskReleasesAWaitOnAnotherThread) {
  ASSERT_TRUE(FPort->SetCommMask(EV_CTS));
  StartWait();
  ASSERT_TRUE(FPort->SetCommMask(0));
  const TWaitOutcome out = Outcome();
  EXPECT_TRUE(out.Ok);
  EXPECT_EQ(out.Mask, 0u);
  EXPECT_EQ(FLines->InWait, 0);
}

TEST_F(ScriptedLinesTest, SettingAnyMaskReleasesAPendingWait) {
  ASSERT_TRUE(FPort->SetCommMask(EV_CTS));
  StartWait();
  ASSERT_TRUE(FPort->SetCommMask(EV_CTS | EV_DSR));
  const TWaitOutcome out = Outcome();
  EXPECT_TRUE(out.Ok);
  EXPECT_EQ(out.Mask, 0u);
}

TEST_F(ScriptedLinesTest, TheReleaseIsRepeatedUntilTheWaiterHasLeft) {
  FLines->DelayBeforeWaitMs = 40;  // the first signals land before the blocking call
  ASSERT_TRUE(FPort->SetCommMask(EV_CTS));
  const int entries = FLines->WaitEntries;
  FWaiter = std::async(std::launch::async, [this] {
    TWaitOutcome out;
    const TPortResult waited = FPort->WaitCommEvent(out.Mask);
    out.Ok = static_cast<bool>(waited);
    out.Error = waited.Error();
    return out;
  });
  WaitForEntry(entries);
  ASSERT_TRUE(FPort->SetCommMask(0));
  const TWaitOutcome out = Outcome();
  EXPECT_TRUE(out.Ok);
  EXPECT_EQ(out.Mask, 0u);
}

TEST_F(ScriptedLinesTest, CloseReleasesAWaitAndClosesOnlyAfterIt) {
  ASSERT_TRUE(FPort->SetCommMask(EV_CTS));
  StartWait();
  FPort->Close();
  EXPECT_EQ(FLines->InWait, 0);  // nobody is left in the wait on the closed descriptor
  const TWaitOutcome out = Outcome();
  EXPECT_TRUE(out.Ok);
  EXPECT_EQ(out.Mask, 0u);
}

TEST_F(ScriptedLinesTest, ChangingTheLineSettingsRearmsAPendingWait) {
  ASSERT_TRUE(FPort->SetCommMask(EV_CTS));
  StartWait();
  const int entries = FLines->WaitEntries;
  TLineSettings s;
  ASSERT_TRUE(FPort->GetCommState(s));
  ASSERT_TRUE(FPort->SetCommState(s));
  WaitForEntries(entries + 1);  // in the wait afresh
  EXPECT_TRUE(StillWaiting());
  FLines->Change(TIOCM_CTS);
  EXPECT_EQ(Outcome().Mask, EV_CTS);
}

TEST_F(ScriptedLinesTest, OnlyOneWaitAtATime) {
  ASSERT_TRUE(FPort->SetCommMask(EV_CTS));
  StartWait();
  uint32_t mask = 99;
  EXPECT_FALSE(FPort->WaitCommEvent(mask));
  EXPECT_TRUE(StillWaiting());
}

TEST_F(ScriptedLinesTest, WithoutCountersTheChangedLevelSaysWhichLine) {
  FLines->HaveCounters = false;
  ASSERT_TRUE(FPort->SetCommMask(EV_CTS | EV_DSR));
  StartWait();
  FLines->Change(TIOCM_DSR);
  EXPECT_EQ(Outcome().Mask, EV_DSR);
  StartWait();
  FLines->Change(TIOCM_CTS);
  EXPECT_EQ(Outcome().Mask, EV_CTS);
}

TEST_F(ScriptedLinesTest, CountersComeWithTheirLevelsAndFailWhereThereAreNone) {
  FLines->Change(TIOCM_CTS);
  FLines->Change(TIOCM_DSR);
  FLines->Change(TIOCM_CTS);
  TModemCounts counts;
  uint32_t status = 0xFF;
  ASSERT_TRUE(FPort->GetCommCounts(counts, status));
  EXPECT_EQ(counts, (TModemCounts{2, 1}));
  EXPECT_EQ(status, MS_DSR_ON);
  FLines->HaveCounters = false;
  EXPECT_EQ(FPort->GetCommCounts(counts, status).Error(), TPortError::peNotSupported);
  FLines->HaveCounters = true;
  FLines->Vanish();
  EXPECT_EQ(FPort->GetCommCounts(counts, status).Error(), TPortError::peDeviceGone);
}

TEST_F(ScriptedLinesTest, AWaitTheDeviceRefusesFails) {
  FLines->WaitError = EIO;
  ASSERT_TRUE(FPort->SetCommMask(EV_CTS));
  uint32_t mask = 99;
  EXPECT_EQ(FPort->WaitCommEvent(mask).Error(), TPortError::peDeviceGone);
  EXPECT_EQ(mask, 0u);
}

TEST_F(ScriptedLinesTest, AnEdgeRacingTheStartOfTheWaitIsReportedSoon) {
  // The kernel notes the counters only after the edge: its wait alone would sleep until the
  // next one.
  FLines->DelayBeforeWaitMs = 30;
  ASSERT_TRUE(FPort->SetCommMask(EV_CTS));
  const int entries = FLines->WaitEntries;
  FWaiter = std::async(std::launch::async, [this] {
    TWaitOutcome out;
    const TPortResult waited = FPort->WaitCommEvent(out.Mask);
    out.Ok = static_cast<bool>(waited);
    out.Error = waited.Error();
    return out;
  });
  WaitForEntry(entries);
  FLines->Change(TIOCM_CTS);
  const int64_t changed = MonotonicMicros();
  ASSERT_EQ(FWaiter.wait_for(1s), std::future_status::ready) << "the edge was not reported";
  const int64_t lateMs = (MonotonicMicros() - changed) / 1000;
  const TWaitOutcome out = FWaiter.get();
  EXPECT_TRUE(out.Ok);
  EXPECT_EQ(out.Mask, EV_CTS);
  EXPECT_LT(lateMs, 200) << "the wait began 30 ms after the edge";
}

TEST_F(ScriptedLinesTest, AStillLineLeavesTheWaitAlone) {
  ASSERT_TRUE(FPort->SetCommMask(EV_CTS));
  StartWait();
  const int entries = FLines->WaitEntries;
  // Several of the watcher's rechecks of the counters (2, 6, 14, ... ms into the wait): none
  // may restart it.
  const int reads = FLines->CountReads;
  ASSERT_TRUE(FLines->Await([&] { return FLines->CountReads >= reads + 6; }, Deadline));
  EXPECT_EQ(FLines->WaitEntries, entries) << "the wait was broken off and begun again";
  EXPECT_TRUE(StillWaiting());
  FLines->Change(TIOCM_CTS);
  EXPECT_EQ(Outcome().Mask, EV_CTS);
}

TEST_F(ScriptedLinesTest, AVanishedOrHungUpDeviceEndsTheWaitAsGone) {
  for (const bool hangUp : {false, true}) {
    SCOPED_TRACE(hangUp ? "the line hung up" : "the device vanished");
    if (hangUp) {
      FLines = std::make_shared<TScriptedLines>();
      FPort = OpenPosixSerialPort(FPty.SlavePath(), std::make_unique<TScriptedModemIo>(FLines));
      ASSERT_NE(FPort, nullptr);
    }
    ASSERT_TRUE(FPort->SetCommMask(EV_CTS));
    StartWait();
    if (hangUp) {
      FPty.CloseMaster();
    } else {
      FLines->Vanish();
    }
    const TWaitOutcome out = Outcome();
    EXPECT_FALSE(out.Ok);
    EXPECT_EQ(out.Error, TPortError::peDeviceGone);
    FPort.reset();
  }
}

TEST_F(ScriptedLinesTest, AMaskWithoutModemLinesCannotBeWaitedFor) {
  ASSERT_TRUE(FPort->SetCommMask(0x0001));  // received characters: not a modem line
  uint32_t mask = 99;
  EXPECT_FALSE(FPort->WaitCommEvent(mask));
}

// A real serial port, named by MORVANE_TEST_TTY (for example /dev/ttyS0 or /dev/ttyUSB0).
class RealPortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* path = std::getenv("MORVANE_TEST_TTY");
    if (!path || !*path) GTEST_SKIP() << "no port named in MORVANE_TEST_TTY";
    int error = 0;
    FPort = OpenPosixSerialPort(path, &error);
    ASSERT_NE(FPort, nullptr) << "errno " << error;
  }

  std::unique_ptr<TSerialPort> FPort;
};

TEST_F(RealPortTest, LinesAndStatusWork) {
  uint32_t status = 0;
  EXPECT_TRUE(FPort->GetCommModemStatus(status));
  EXPECT_TRUE(FPort->EscapeCommFunction(CLRRTS));
  EXPECT_TRUE(FPort->EscapeCommFunction(CLRDTR));
}

TEST_F(RealPortTest, ByteSizeParityAndStopBitsRoundTrip) {
  TLineSettings s;
  ASSERT_TRUE(FPort->GetCommState(s));
  const TLineSettings original = s;
  for (const auto& [size, parity, stop] : {std::tuple{7, 2, 2}, {8, 1, 0}, {8, 3, 0}, {8, 4, 2}}) {
    s.ByteSize = static_cast<uint8_t>(size);
    s.Parity = static_cast<uint8_t>(parity);
    s.StopBits = static_cast<uint8_t>(stop);
    ASSERT_TRUE(FPort->SetCommState(s));
    TLineSettings back;
    ASSERT_TRUE(FPort->GetCommState(back));
    EXPECT_EQ(back.ByteSize, size);
    EXPECT_EQ(back.Parity, parity);
    EXPECT_EQ(back.StopBits, stop);
  }
  EXPECT_TRUE(FPort->SetCommState(original));
}

TEST_F(RealPortTest, AWaitIsReleasedByClearingTheMaskAndByClose) {
  ASSERT_TRUE(FPort->SetCommMask(EV_CTS));
  for (int round = 0; round < 2; ++round) {
    auto waiter = std::async(std::launch::async, [this] {
      TWaitOutcome out;
      const TPortResult waited = FPort->WaitCommEvent(out.Mask);
      out.Ok = static_cast<bool>(waited);
      out.Error = waited.Error();
      return out;
    });
    // A real port gives no sign of the waiter inside its wait: time for it to get there.
    constexpr auto IntoTheWait = 100ms;
    std::this_thread::sleep_for(IntoTheWait);
    if (round == 0) {
      FPort->SetCommMask(0);
    } else {
      FPort->Close();
    }
    ASSERT_EQ(waiter.wait_for(5s), std::future_status::ready);
    const TWaitOutcome out = waiter.get();
    EXPECT_TRUE(out.Ok);
    EXPECT_EQ(out.Mask, 0u);
    FPort->SetCommMask(EV_CTS);
  }
}

}  // namespace
}  // namespace morvane
