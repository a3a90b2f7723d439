// What other programs see of the real main window on the session bus: "MORVANE_MESSAGE"
// commands and answers, and the focuser interface, on the simulated focuser.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QLabel>
#include <QMessageBox>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "busclient/FocuserClient.h"
#include "host/ExceptionBoundary.h"
#include "settings/CompensationSettings.h"
#include "settings/FocusMarks.h"
#include "settings/LimitSettings.h"
#include "settings/Profile.h"
#include "settings/SettingsFile.h"
#include "support/ToolProcess.h"
#include "ui/MainWindowRig.h"
#include "ui/bus/FocuserService.h"
#include "ui_fMorvane.h"

using namespace morvane;
using namespace morvane::test;

namespace {

struct TAnswer {
  int32_t W;
  int32_t L;
  std::string Sender;
};

// Another program: sends commands and gathers the answers of every Morvane on the bus.
class TOtherProgram {
 public:
  TOtherProgram() { Client.Watch(true); }

  void Send(int32_t w, int32_t l) { Client.SendMessage(w, l); }

  // Gathers notifications (2, 6, 8 from others) until done(answers) or timeoutMs; the GUI
  // thread serves meanwhile.
  std::vector<TAnswer> Gather(const std::function<bool(const std::vector<TAnswer>&)>& done,
                              int timeoutMs = 10000) {
    return FromOtherThread([&] {
      const int64_t end = MonotonicMicros() + int64_t{timeoutMs} * 1000;
      while (!done(Answers) && MonotonicMicros() < end) {
        const auto n = Client.Next(20);
        const bool notification =
            n && n->IsMessage &&
            (n->WParam == mmPosition || n->WParam == mmIdle || n->WParam == mmCountReset);
        if (notification && n->Sender != Client.UniqueName()) {
          Answers.push_back({n->WParam, n->LParam, n->Sender});
        }
      }
      return Answers;
    });
  }
  std::vector<TAnswer> GatherFor(int ms) {
    return Gather([](const auto&) { return false; }, ms);
  }
  void Clear() { Answers.clear(); }

  TFocuserClient Client;

 private:
  std::vector<TAnswer> Answers;
};

bool Has(const std::vector<TAnswer>& a, int32_t w) {
  return std::any_of(a.begin(), a.end(), [w](const TAnswer& x) { return x.W == w; });
}

std::string Text(const std::vector<TAnswer>& answers) {
  std::string s;
  for (const auto& a : answers) {
    s.append("(").append(std::to_string(a.W)).append(", ");
    s.append(std::to_string(a.L)).append(") ");
  }
  return s;
}

// The property changes the client is told until Idle becomes true, at most seconds long.
std::vector<TNotification> ChangesUntilIdle(TFocuserClient& client, int seconds) {
  std::vector<TNotification> all;
  const int64_t end = MonotonicMicros() + int64_t{seconds} * 1'000'000;
  while (MonotonicMicros() < end) {
    const auto n = client.Next(50);
    if (!n || n->IsMessage) continue;
    all.push_back(*n);
    if (n->Idle == true) break;
  }
  return all;
}

class MainWindowBusTest : public testing::Test {
 protected:
  // Moves by messages and waits for the move's end.
  void MoveToAndWait(int32_t target) {
    if (Rig.Controller().CTSCount() == target) return;  // nothing would be announced
    Other.Send(mmMoveTo, target);
    const auto a = Other.Gather([](const auto& v) {
      return std::any_of(v.begin(), v.end(),
                         [](const TAnswer& x) { return x.W == mmIdle && x.L == 1; }) &&
             v.back().W == mmPosition;
    });
    ASSERT_TRUE(Has(a, mmPosition)) << Text(a);
    Other.Clear();
  }

  TMainWindowRig Rig;
  TOtherProgram Other;
};

TEST_F(MainWindowBusTest, QueriesAnsweredWithTheReadoutAndTheIdleState) {
  ASSERT_TRUE(Rig.Controller().PortOpen());
  MoveToAndWait(-12);
  const std::string shown = Rig.Form->Form().CTSLabel->Caption().toStdString();
  ASSERT_TRUE(shown == "-0012" || shown == "-0011" || shown == "-0013") << shown;
  Other.Send(mmReportPosition, 0);
  auto a = Other.Gather([](const auto& v) { return !v.empty(); });
  ASSERT_EQ(a.size(), 1u);
  EXPECT_EQ(a[0].W, mmPosition);
  EXPECT_EQ(a[0].L, std::stoi(shown));
  Other.Clear();

  // A coarse button held: the window said (6, 0), the controller stays idle.
  Rig.Form->Focus_InBtnMouseDown(Rig.Form->Form().Focus_InBtn);
  Other.Send(mmReportIdle, 0);
  a = Other.Gather([](const auto& v) { return v.size() >= 2; });
  Rig.Form->Focus_InBtnMouseUp(Rig.Form->Form().Focus_InBtn);
  ASSERT_GE(a.size(), 2u) << Text(a);
  EXPECT_EQ(a[0].W, mmIdle);
  EXPECT_EQ(a[0].L, 0);  // the press
  EXPECT_EQ(a[1].W, mmIdle);
  EXPECT_EQ(a[1].L, 1);  // the answer
}

// The hidden "Say" button puts its test text on the readout's face; other programs are still
// told the count, even when that text reads as a number.
TEST_F(MainWindowBusTest, TheReadoutsTestTextIsNoPositionForOtherPrograms) {
  MoveToAndWait(-12);
  const int32_t count = Rig.Controller().CTSCount();
  Rig.Form->Form().Edit1->setText(QStringLiteral("0777"));
  Rig.Form->Form().Button1->click();
  ASSERT_EQ(Rig.Form->Form().CTSLabel->Caption(), QStringLiteral("0777"));
  Other.Send(mmReportPosition, 0);
  const auto a = Other.Gather([](const auto& v) { return !v.empty(); });
  ASSERT_EQ(a.size(), 1u);
  EXPECT_EQ(a[0].W, mmPosition);
  EXPECT_EQ(a[0].L, count);
  TFocuserState state;
  ASSERT_TRUE(FromOtherThread([&] { return Other.Client.GetState(state); }).Ok);
  EXPECT_EQ(state.Position, count);
}

TEST_F(MainWindowBusTest, MoveByMessageAnnouncesStartEndAndPosition) {
  MoveToAndWait(0);
  const int32_t start = Rig.Controller().CTSCount();
  Other.Send(mmMoveBy, -25);
  const auto a = Other.Gather([](const auto& v) { return v.size() >= 3; });
  ASSERT_GE(a.size(), 3u) << Text(a);
  EXPECT_EQ(a[0].W, mmIdle);
  EXPECT_EQ(a[0].L, 0);
  EXPECT_EQ(a[1].W, mmIdle);
  EXPECT_EQ(a[1].L, 1);
  EXPECT_EQ(a[2].W, mmPosition);
  EXPECT_LE(std::abs(a[2].L - (start - 25)), 1) << Text(a);
  EXPECT_EQ(a[2].L, Rig.Controller().CTSCount());
}

TEST_F(MainWindowBusTest, CommandsThatDoNothingAnswerNothing) {
  MoveToAndWait(30);
  const int32_t here = Rig.Controller().CTSCount();
  Rig.Simulator->ClearTrace();
  Other.Send(mmMoveTo, here);  // already there
  Other.Send(7, 5);
  Other.Send(mmPosition, 99);
  Other.Send(mmIdle, 0);
  Other.Send(mmCountReset, 0);
  Other.Send(mmMoveBy, 2147483647);  // would wrap round the count
  const auto a = Other.GatherFor(700);
  EXPECT_TRUE(a.empty()) << Text(a);
  EXPECT_EQ(Rig.Controller().CTSCount(), here);
  EXPECT_FALSE(Rig.Simulator->Moving());
}

// Two windows: the second (the real binary) asks the first to hand over, which a window
// refuses, and ends, saying so, with the status a service manager does not restart on; the
// first keeps the name and answers alone.
TEST_F(MainWindowBusTest, ASecondWindowLeavesTheFirstAloneAndEnds) {
  const std::string dir = (Rig.Dir / "second").string();
  WriteTestSettings(dir);
  std::filesystem::copy_file(MORVANE_PROGRAM, dir + "/morvane");
  TToolProcess second(dir + "/morvane", {"--simulate"}, {"QT_QPA_PLATFORM=offscreen"});
  // The window answers the hand-over on this thread's loop while the second copy is awaited.
  const TToolResult r = FromOtherThread([&] { return second.Wait(30000); });
  EXPECT_EQ(r.Status, AlreadyRunningExitStatus);
  EXPECT_NE(r.Err.find("already running with a window"), std::string::npos) << r.Err;
  QDBusConnectionInterface* names = QDBusConnection::sessionBus().interface();
  EXPECT_EQ(names->serviceOwner(QString::fromLatin1(MorvaneBusName)).value(),
            QDBusConnection::sessionBus().baseService());
  Other.Clear();
  Other.Send(mmReportPosition, 0);
  const auto a = Other.GatherFor(500);
  ASSERT_EQ(a.size(), 1u) << Text(a);
  EXPECT_EQ(a[0].W, mmPosition);
}

// A flood of commands: every query answered, the window still answering and landing a move.
TEST_F(MainWindowBusTest, TenThousandCommandsLeaveTheProgramCorrect) {
  MoveToAndWait(0);
  int queries = 0;
  FromOtherThread([&] {
    TFocuserClient sender;
    for (int i = 0; i < 10000; ++i) {
      const int kind = i % 4;
      if (kind == 0 || kind == 1) ++queries;
      sender.SendMessage(kind == 0 ? int{mmReportPosition} : kind == 1 ? int{mmReportIdle} : 7, i);
    }
    return 0;
  });
  const auto a =
      Other.Gather([&](const auto& v) { return static_cast<int>(v.size()) >= queries; }, 60000);
  EXPECT_EQ(static_cast<int>(a.size()), queries);
  Other.Clear();
  MoveToAndWait(40);
  EXPECT_LE(std::abs(Rig.Controller().CTSCount() - 40), 1);
  TFocuserState state;
  ASSERT_TRUE(FromOtherThread([&] { return Other.Client.GetState(state); }).Ok);
  EXPECT_EQ(state.Position, Rig.Controller().CTSCount());
  EXPECT_TRUE(state.Idle);
}

TEST_F(MainWindowBusTest, FocuserInterfaceRefusesAMoveWhileMovingAndPacesPositions) {
  TFocuserClient& client = Other.Client;
  MoveToAndWait(0);
  ASSERT_TRUE(FromOtherThread([&] { return client.CallInt("MoveBy", 250); }).Ok);
  // The idle change may still be on its way; the controller is busy at once.
  const TBusReply busy = FromOtherThread([&] { return client.CallInt("MoveTo", 3); });
  EXPECT_EQ(busy.ErrorName, BusyError);
  std::vector<TNotification> changes =
      FromOtherThread([&] { return ChangesUntilIdle(client, 20); });
  ASSERT_FALSE(changes.empty());
  EXPECT_EQ(changes.back().Idle, true);
  std::vector<int64_t> times;
  int32_t last = 0;
  for (const auto& c : changes) {
    if (!c.Position) continue;
    times.push_back(c.ReceivedUs);
    last = *c.Position;
  }
  EXPECT_EQ(last, Rig.Controller().CTSCount()) << "the landed position is announced by idle";
  ASSERT_GE(times.size(), 5u);
  // At most 50 a second: no window of one second holds more than 50 (and a little for the
  // bus's own timing).
  for (size_t i = 0; i < times.size(); ++i) {
    const auto inSecond = std::count_if(times.begin() + static_cast<long>(i), times.end(),
                                        [&](int64_t t) { return t - times[i] < 1'000'000; });
    EXPECT_LE(inSecond, 52);
  }
  EXPECT_LE(std::abs(Rig.Controller().CTSCount() - 250), 1);
}

// Queries of the idle state between a stop and the motion threads' report of it must not
// swallow the report: the move's end still reaches the console and the bus.
TEST_F(MainWindowBusTest, QueriesAfterAStopDoNotHideTheMovesEnd) {
  MoveToAndWait(0);
  // A short move: a nudge thread alone, which reports its end only after its settling pause.
  Other.Send(mmMoveBy, 9);
  auto a = Other.Gather([](const auto& v) { return !v.empty(); });
  ASSERT_FALSE(a.empty());
  ASSERT_EQ(a[0].W, mmIdle);
  Other.Clear();
  TFocuserClient& client = Other.Client;
  FromOtherThread([&] {
    client.Call("Stop");
    for (int i = 0; i < 20; ++i) client.SendMessage(mmReportIdle, 0);
    return 0;
  });
  a = Other.Gather(
      [](const auto& v) {
        return std::any_of(v.begin(), v.end(), [](const TAnswer& x) { return x.W == mmPosition; });
      },
      5000);
  ASSERT_TRUE(Has(a, mmPosition)) << "no end of move announced: " << Text(a);
  EXPECT_FALSE(Rig.Form->Form().CancelButton->isEnabled());
  EXPECT_TRUE(Rig.Form->Form().In10->isEnabled());
}

// A Stop sent right behind a move or a run, before the window has shown either: the motor
// stops all the same and nothing drives it afterwards.
TEST_F(MainWindowBusTest, StopRightBehindAMoveOrARunStopsTheMotor) {
  MoveToAndWait(0);
  TFocuserClient& client = Other.Client;
  sim::TSimFocuser& sim = *Rig.Simulator;
  auto drivesAfter = [&](int64_t us) {
    for (const auto& e : sim.Trace()) {
      if (e.Us <= us) continue;
      if (e.Kind == sim::TTraceKind::Write && (e.Bytes == ":F-#" || e.Bytes == ":F+#")) return true;
      if (e.Kind == sim::TTraceKind::Line && e.Line == 'R' && e.Level) return true;
    }
    return false;
  };
  for (bool run : {false, true}) {
    SCOPED_TRACE(run ? "coarse run" : "move");
    FromOtherThread([&] {
      if (run)
        client.CallBool("StartRun", true);
      else
        client.CallInt("MoveTo", 400);
      return client.Call("Stop").Ok;
    });
    const int64_t stopped = std::chrono::duration_cast<std::chrono::microseconds>(
                                std::chrono::steady_clock::now().time_since_epoch())
                                .count();
    Serve(600);
    EXPECT_TRUE(ServeUntil([&] { return !sim.Moving(); }, 3000));
    EXPECT_FALSE(drivesAfter(stopped));
    EXPECT_LT(std::abs(sim.Position()), 200);
    ServeUntil([&] { return Rig.Form->Form().In10->isEnabled(); }, 3000);
    MoveToAndWait(0);
  }
}

// A move into an end stop: the stall guard stops it, and the fault is on the status line and
// announced on the bus before the move's end; a coarse run into the other stop ends as at
// its button's release.
TEST(MainWindowStallTest, AStallIsToldOnTheStatusLineAndTheBusBeforeTheMovesEnd) {
  sim::TSimParams params;
  params.TravelRevs = 0.5;  // end stops 256 codes either way
  TMainWindowRig rig(params);
  TOtherProgram other;
  TFocuserClient& client = other.Client;
  ASSERT_TRUE(FromOtherThread([&] { return client.CallInt("MoveTo", 1000); }).Ok);
  std::vector<TNotification> changes =
      FromOtherThread([&] { return ChangesUntilIdle(client, 30); });
  ASSERT_FALSE(changes.empty());
  ASSERT_EQ(changes.back().Idle, true) << "the move did not end";
  const int32_t at = rig.Controller().CTSCount();
  const std::string fault = "Stopped at " + std::to_string(at) +
                            ": no encoder change for 0.5 s, an end stop or the encoder";
  size_t faultAt = changes.size();
  for (size_t i = 0; i < changes.size(); ++i)
    if (changes[i].LastFault && !changes[i].LastFault->empty()) faultAt = i;
  // Gathered up to the idle state: the fault came before it or with it.
  ASSERT_LT(faultAt, changes.size()) << "no fault announced before the move's end";
  EXPECT_EQ(*changes[faultAt].LastFault, fault);
  EXPECT_NEAR(at, 256, 1);
  auto* line = rig.Form->findChild<QLabel*>(QStringLiteral("StatusLine"));
  ASSERT_NE(line, nullptr);
  EXPECT_TRUE(
      ServeUntil([&] { return line->text().contains(QString::fromStdString(fault)); }, 5000))
      << line->text().toStdString();
  TFocuserState state;
  ASSERT_TRUE(FromOtherThread([&] { return client.GetState(state); }).Ok);
  EXPECT_EQ(state.LastFault, fault);
  EXPECT_TRUE(state.Idle);

  // A coarse run over the bus into the other stop: the run ends by itself.
  ASSERT_TRUE(FromOtherThread([&] { return client.CallBool("StartRun", false); }).Ok);
  EXPECT_TRUE(ServeUntil(
      [&] { return rig.Controller().StallCount() == 2 && !rig.Form->CoarseRunning(); }, 30000));
  EXPECT_NEAR(rig.Controller().CTSCount(), -256, 1);
  EXPECT_TRUE(ServeUntil([&] { return !rig.Simulator->Moving(); }, 5000));
  EXPECT_FALSE(rig.Simulator->RTS());
  ASSERT_TRUE(FromOtherThread([&] { return client.GetState(state); }).Ok);
  EXPECT_FALSE(state.Running);
  EXPECT_NE(state.LastFault.find("Stopped at -25"), std::string::npos) << state.LastFault;
  EXPECT_TRUE(line->text().contains(QString::fromStdString(state.LastFault)));
}

// Edges of one encoder line missed during a move: the status line and the bus's LastFault say
// so once, the position turns unverified as after a crash, and Sync confirms it again.
TEST(MainWindowCountCheckTest, EdgesLostUnverifyThePositionUntilItIsSet) {
  TMainWindowRig rig;
  TOtherProgram other;
  TFocuserClient& client = other.Client;
  ASSERT_TRUE(FromOtherThread([&] { return client.CallInt("MoveTo", 1500); }).Ok);
  ASSERT_TRUE(ServeUntil([&] { return rig.Controller().CTSCount() > 100; }, 10000));
  rig.Simulator->DropEdges('S', 6);
  std::vector<TNotification> changes =
      FromOtherThread([&] { return ChangesUntilIdle(client, 30); });
  ASSERT_FALSE(changes.empty());
  ASSERT_EQ(changes.back().Idle, true) << "the move did not end";
  bool untrusted = false;
  std::string fault;
  for (const TNotification& n : changes) {
    if (n.PositionTrusted == false) untrusted = true;
    if (n.LastFault && !n.LastFault->empty()) fault = *n.LastFault;
  }
  EXPECT_TRUE(untrusted) << "PositionTrusted was not announced false";
  EXPECT_EQ(fault.rfind("Encoder edges lost at ", 0), 0u) << fault;
  auto* line = rig.Form->findChild<QLabel*>(QStringLiteral("StatusLine"));
  ASSERT_NE(line, nullptr);
  EXPECT_TRUE(
      ServeUntil([&] { return line->text().contains(QString::fromStdString(fault)); }, 5000))
      << line->text().toStdString();
  EXPECT_FALSE(rig.Form->PositionTrusted());
  EXPECT_EQ(rig.Controller().EdgeLossCount(), 1u);

  ASSERT_TRUE(FromOtherThread([&] { return client.CallInt("Sync", 1500); }).Ok);
  EXPECT_TRUE(ServeUntil([&] { return rig.Form->PositionTrusted(); }, 5000));
  TFocuserState state;
  ASSERT_TRUE(FromOtherThread([&] { return client.GetState(state); }).Ok);
  EXPECT_TRUE(state.PositionTrusted);
}

// morvanectl against the real window: a waited move prints where it landed, and wait-move
// returns when the window's move has finished.
TEST_F(MainWindowBusTest, MorvanectlWaitsForTheWindowsMoves) {
  const std::vector<std::string> scope = {"MORVANE_EVENT_SCOPE=test" + std::to_string(getpid())};
  TToolResult r = FromOtherThread([&] {
    return RunTool(MORVANECTL, {"move-to", "60", "--wait"}, scope);
  });
  EXPECT_EQ(r.Status, 0) << r.Err;
  EXPECT_TRUE(Rig.Controller().Idle());
  EXPECT_EQ(r.Out, std::to_string(Rig.Controller().CTSCount()) + "\n");
  EXPECT_LE(std::abs(Rig.Controller().CTSCount() - 60), 1);

  const int32_t target = Rig.Controller().CTSCount() - 40;
  r = FromOtherThread([&] {
    const TToolResult started = RunTool(MORVANECTL, {"move-by", "-40"}, scope);
    if (started.Status != 0) return started;
    return RunTool(MORVANECTL, {"wait-move", "--timeout", "20"}, scope);
  });
  EXPECT_EQ(r.Status, 0) << r.Err;
  // wait-move returns once the move has ended: at its target or past it, seen from its final
  // approach (a run stopped late on a starved machine coasts past and is nudged back up, one
  // past from below). How far past is the landing's business; the motion tests hold it.
  EXPECT_TRUE(Rig.Controller().RunIdle.load() && Rig.Controller().NudgeIdle.load());
  EXPECT_LE(Rig.Controller().CTSCount(), target + 1);
  EXPECT_GE(Rig.Controller().CTSCount(), target - 8);
}

// The health check: a port that did not open is told with its reason and exit status 3.
TEST(MainWindowStatusTest, StatusTellsAClosedPortWithAFailingExitStatus) {
  // Unattended, as on a dome computer: the port's box is a line, not a dialog that waits.
  SetUnattendedRun(true);
  struct TAttendedAgain {
    ~TAttendedAgain() { SetUnattendedRun(false); }
  } attendedAgain;
  TMainWindowRig rig(TWindowRigSetup{.Open = false});
  rig.FailingPorts.insert(1);
  ASSERT_TRUE(rig.Open());
  ASSERT_FALSE(rig.Controller().PortOpen());
  const std::vector<std::string> scope = {"MORVANE_EVENT_SCOPE=test" + std::to_string(getpid())};
  TToolResult r = FromOtherThread([&] { return RunTool(MORVANECTL, {"status"}, scope); });
  EXPECT_EQ(r.Status, 3) << r.Out << r.Err;
  EXPECT_NE(r.Out.find("port      COM 1 (/dev/ttyS0)\n"), std::string::npos) << r.Out;
  EXPECT_NE(r.Out.find("open      no"), std::string::npos) << r.Out;
  EXPECT_NE(r.Out.find("moving    no\n"), std::string::npos) << r.Out;
}

// "The focuser is at 12000": the count takes it without a move, the bus and morvanectl tell
// it; while a move runs it is refused, and a number out of range or not a number is refused.
TEST_F(MainWindowBusTest, SyncSetsTheCountWithoutAMoveAndIsRefusedWhileMoving) {
  const std::vector<std::string> scope = {"MORVANE_EVENT_SCOPE=test" + std::to_string(getpid())};
  TToolResult r = FromOtherThread([&] { return RunTool(MORVANECTL, {"sync", "12000"}, scope); });
  EXPECT_EQ(r.Status, 0) << r.Err;
  EXPECT_EQ(Rig.Controller().CTSCount(), 12000);
  EXPECT_TRUE(Rig.Controller().Idle()) << "a sync moves nothing";
  r = FromOtherThread([&] { return RunTool(MORVANECTL, {"position"}, scope); });
  EXPECT_EQ(r.Out, "12000\n");

  for (const char* bad : {"12.5", "x", "2000000000"}) {
    r = FromOtherThread([&] { return RunTool(MORVANECTL, {"sync", bad}, scope); });
    EXPECT_NE(r.Status, 0) << bad;
    EXPECT_FALSE(r.Err.empty()) << bad;
  }
  EXPECT_EQ(Rig.Controller().CTSCount(), 12000);

  TFocuserClient& client = Other.Client;
  ASSERT_TRUE(FromOtherThread([&] { return client.CallInt("MoveBy", 250); }).Ok);
  const TBusReply busy = FromOtherThread([&] { return client.CallInt("Sync", 5); });
  EXPECT_EQ(busy.ErrorName, BusyError);
  EXPECT_NE(Rig.Controller().CTSCount(), 5);
  FromOtherThread([&] { return client.Call("Stop"); });
}

// A focus mark over the bus: refused without the module, nothing logged; with it, morvanectl
// prints and the log keeps the module's temperature and the count.
TEST_F(MainWindowBusTest, MarkFocusIsRefusedWithoutTheModuleAndLoggedWithIt) {
  MoveToAndWait(40);
  const std::string log = FocusMarksPathFor(Rig.IniPath);
  Rig.Simulator->SetModuleMode(sim::TModuleMode::Absent);
  double celsius = 0;
  int32_t position = 0;
  TBusReply r = FromOtherThread([&] { return Other.Client.MarkFocus(celsius, position); });
  EXPECT_FALSE(r.Ok);
  EXPECT_EQ(r.ErrorName, NotAvailableError);
  EXPECT_TRUE(ReadFocusMarks(log).empty());
  EXPECT_TRUE(Rig.Form->StatusNote().startsWith(QStringLiteral("Focus not marked")));

  Rig.Simulator->SetModuleMode(sim::TModuleMode::Present);
  Rig.Simulator->SetTemperature(7.5);
  const std::vector<std::string> scope = {"MORVANE_EVENT_SCOPE=test" + std::to_string(getpid())};
  const TToolResult t = FromOtherThread([&] { return RunTool(MORVANECTL, {"mark-focus"}, scope); });
  EXPECT_EQ(t.Status, 0) << t.Err;
  const int32_t count = Rig.Controller().CTSCount();
  EXPECT_EQ(t.Out, "7.50 " + std::to_string(count) + "\n");
  const std::vector<TFocusMark> marks = ReadFocusMarks(log);
  ASSERT_EQ(marks.size(), 1u);
  EXPECT_NEAR(marks[0].Celsius, 7.5, 0.05);
  EXPECT_EQ(marks[0].Position, count);

  // Not while a coarse button runs the motor.
  Rig.Form->Focus_InBtnMouseDown(Rig.Form->Form().Focus_InBtn);
  EXPECT_EQ(Rig.Form->MarkFocus().Refusal, TMarkRefusal::mrBusy);
  Rig.Form->Focus_InBtnMouseUp(Rig.Form->Form().Focus_InBtn);
  EXPECT_EQ(ReadFocusMarks(log).size(), 1u);
}

// The first start, with no settings file: the port opens on the factory settings while the
// box that says so still stands, so that other programs can focus though nobody answers it.
TEST(MainWindowFirstStartTest, ThePortIsOpenWhileTheMissingFileBoxStands) {
  const QTemporaryDir dir;
  sim::TSimFocuser simulator;
  TQtControllerHost host;
  std::string boxText;
  bool openWhileShown = false;
  // Looks at the box from the event loop (a nested one, should the box wait for OK), asks the
  // bus meanwhile, and then answers the box.
  QTimer watcher;
  QObject::connect(&watcher, &QTimer::timeout, [&] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!boxText.empty() || !box || !box->isVisible()) return;
    boxText = box->text().toStdString();
    openWhileShown =
        FromOtherThread([] {
          TFocuserClient client;
          TFocuserState state;
          for (int64_t end = MonotonicMicros() + 10000000; MonotonicMicros() < end; usleep(20000))
            if (client.GetState(state).Ok && state.PortOpen) return true;
          return false;
        }) &&
        box->isVisible();
    box->done(QMessageBox::Ok);
  });
  watcher.start(10);
  TMainForm form(host, simulator.Opener(),
                 dir.filePath(QStringLiteral("Morvane.ini")).toStdString());
  form.show();
  EXPECT_TRUE(ServeUntil([&] { return !boxText.empty(); }, 15000));
  EXPECT_EQ(boxText, MissingSettingsFileMessage);
  EXPECT_TRUE(openWhileShown);
  form.close();
}

// Compensation changed in the window, the reference taken by the compensation driver, and a
// reload of the settings file: each change reaches a client on the bus once.
TEST_F(MainWindowBusTest, CompensationChangesInTheWindowAreAnnouncedOnce) {
  std::vector<TNotification> got;
  // The notifications up to the first that done() accepts; false if none within 3 s.
  const auto await = [&](const std::function<bool(const TNotification&)>& done) {
    return FromOtherThread([&] {
      const int64_t end = MonotonicMicros() + 3'000'000;
      while (MonotonicMicros() < end) {
        const auto n = Other.Client.Next(50);
        if (!n || n->IsMessage) continue;
        got.push_back(*n);
        if (done(*n)) return true;
      }
      return false;
    });
  };
  TCompensationSettings s = Rig.Form->TempComp().Settings();
  s.TempComp = true;
  s.TempCoefficient = 4.5;
  Rig.Form->ApplyCompensation(s);
  EXPECT_TRUE(await([](const TNotification& n) { return n.TempCoefficient == 4.5; }));
  Rig.Form->TempComp().Tick();  // the reference, from the module's reading
  s = Rig.Form->TempComp().Settings();
  ASSERT_NE(s.TempReference, 0.0);
  EXPECT_TRUE(await([&](const TNotification& n) { return n.TempReference == s.TempReference; }));
  s.TempSamples = 7;
  ASSERT_TRUE(SaveCompensationSettings(Rig.IniPath, s));
  Rig.Form->ReloadSettings();
  EXPECT_TRUE(await([](const TNotification& n) { return n.TempSamples == 7; }));
  await([](const TNotification&) { return false; });  // anything said twice
  int coefficient = 0, onOff = 0, reference = 0, samples = 0;
  for (const TNotification& n : got) {
    coefficient += n.TempCoefficient.has_value();
    onOff += n.TempCompensation.has_value();
    reference += n.TempReference.has_value();
    samples += n.TempSamples.has_value();
  }
  EXPECT_EQ(coefficient, 1);
  EXPECT_EQ(onOff, 1);
  EXPECT_EQ(reference, 1);
  EXPECT_EQ(samples, 1);
}

// A reference taken while compensating is saved alone: a coefficient the user edited in the
// settings file meanwhile stays as edited.
TEST_F(MainWindowBusTest, AReferenceTakenKeepsTheFilesOtherCompensationKeys) {
  TCompensationSettings s = Rig.Form->TempComp().Settings();
  s.TempComp = true;
  s.TempCoefficient = 4.5;
  s.TempDeadBand = 6;
  Rig.Form->ApplyCompensation(s);
  ASSERT_EQ(ReadCompensationSettings(Rig.IniPath).TempCoefficient, 4.5);
  ASSERT_TRUE(WriteProfileString(Rig.IniPath, "Compensation", "TempCoefficient", "-3.25"));
  ASSERT_TRUE(WriteProfileString(Rig.IniPath, "Compensation", "TempDeadBand", "9"));
  Rig.Form->TempComp().Tick();  // the reference, from the module's reading
  const double reference = Rig.Form->TempComp().Settings().TempReference;
  ASSERT_NE(reference, 0.0);
  EXPECT_EQ(ReadCompensationSettings(Rig.IniPath).TempReference, reference);
  EXPECT_EQ(GetProfileString(Rig.IniPath, "Compensation", "TempCoefficient"), "-3.25");
  EXPECT_EQ(GetProfileString(Rig.IniPath, "Compensation", "TempDeadBand"), "9");
}

// A second window while the first holds the bus name says so on its status line (on the test
// program's own bus, where no other test's window holds the name).
TEST_F(MainWindowBusTest, ASecondWindowSaysOtherProgramsCannotReachIt) {
  TMainForm second(
      *Rig.Host, [](int) -> std::unique_ptr<TSerialPort> { return nullptr; }, Rig.IniPath);
  second.UpdateStatusLine();
  const QString text = second.findChild<QLabel*>(QStringLiteral("StatusLine"))->text();
  EXPECT_TRUE(text.section(QLatin1Char('\n'), 1).startsWith(QStringLiteral("No bus interface: ")))
      << text.toStdString();
  EXPECT_FALSE(Rig.Form->findChild<QLabel*>(QStringLiteral("StatusLine"))
                   ->text()
                   .contains(QStringLiteral("No bus interface")));
}

}  // namespace

// Travel limits set from morvanectl: a move beyond them is refused on the status line, over
// the bus and by morvanectl with the limits named, a run over the bus stops at the limit, and
// the limits are saved; morvanectl find-travel on a fast simulator finds both end stops.
TEST_F(MainWindowBusTest, TravelLimitsRefuseMovesAndStopRuns) {
  const std::vector<std::string> scope = {"MORVANE_EVENT_SCOPE=test" + std::to_string(getpid())};
  const auto tool = [&](std::vector<std::string> args) {
    return FromOtherThread([&] { return RunTool(MORVANECTL, args, scope); });
  };
  EXPECT_EQ(tool({"limits"}).Out, "none\n");
  TToolResult r = tool({"set-limits", "-100", "200"});
  ASSERT_EQ(r.Status, 0) << r.Err;
  EXPECT_EQ(tool({"limits"}).Out, "-100 200\n");
  EXPECT_EQ(ReadTravelLimits(Rig.IniPath), (TTravelLimits{true, -100, 200}));
  EXPECT_EQ(tool({"set-limits", "5", "5"}).Status, 1);
  EXPECT_EQ(tool({"limits"}).Out, "-100 200\n");

  const std::string named = "Target 500 is outside the travel limits -100 to 200";
  TFocuserClient& client = Other.Client;
  const TBusReply refused = FromOtherThread([&] { return client.CallInt("MoveTo", 500); });
  EXPECT_EQ(refused.ErrorName, OutsideLimitsError);
  EXPECT_EQ(refused.ErrorMessage, named);
  r = tool({"move-to", "500", "--wait"});
  EXPECT_EQ(r.Status, 1);
  EXPECT_EQ(r.Err, "morvanectl: " + named + "\n");
  // The window's own Move To (its field goes to 250) says so on the status line.
  auto* line = Rig.Form->findChild<QLabel*>(QStringLiteral("StatusLine"));
  ASSERT_NE(line, nullptr);
  Rig.Form->Form().MoveToSE->setValue(250);
  Rig.Form->MoveToButtonClick();
  EXPECT_TRUE(ServeUntil([&] {
    return line->text().contains("Target 250 is outside the travel limits -100 to 200");
  })) << line->text().toStdString();
  EXPECT_EQ(Rig.Controller().CTSCount(), 0);

  ASSERT_TRUE(FromOtherThread([&] { return client.CallBool("StartRun", true); }).Ok);
  EXPECT_TRUE(ServeUntil([&] { return !Rig.Form->CoarseRunning(); }, 20000));
  EXPECT_TRUE(ServeUntil([&] { return !Rig.Simulator->Moving(); }, 5000));
  EXPECT_FALSE(Rig.Simulator->RTS());
  EXPECT_GE(Rig.Controller().CTSCount(), 200);
  EXPECT_LE(Rig.Controller().CTSCount(), 240);
  EXPECT_TRUE(ServeUntil([&] { return line->text().contains("the upper travel limit is 200"); }))
      << line->text().toStdString();
  TFocuserState state;
  ASSERT_TRUE(FromOtherThread([&] { return client.GetState(state); }).Ok);
  EXPECT_FALSE(state.Running);

  ASSERT_EQ(tool({"clear-limits"}).Status, 0);
  EXPECT_EQ(tool({"limits"}).Out, "none\n");
}

TEST(MainWindowTravelTest, MorvanectlFindTravelFindsBothEndStops) {
  sim::TSimParams params;
  params.SlowSpeed = params.FastSpeed = params.DirectSpeed = 8000;
  // A short travel, ends at -2048 and 2048: what is found does not depend on its length.
  params.TravelRevs = 4;
  TMainWindowRig rig(params);
  const std::vector<std::string> scope = {"MORVANE_EVENT_SCOPE=test" + std::to_string(getpid())};
  const TToolResult r =
      FromOtherThread([&] { return RunTool(MORVANECTL, {"find-travel"}, scope); });
  ASSERT_EQ(r.Status, 0) << r.Err;
  int lower = 0, upper = 0;
  ASSERT_EQ(std::sscanf(r.Out.c_str(), "%d %d", &lower, &upper), 2) << r.Out;
  EXPECT_NEAR(lower, -2048, 3);
  EXPECT_NEAR(upper, 2048, 3);
  EXPECT_TRUE(rig.Controller().Idle());
  EXPECT_FALSE(rig.Controller().TravelLimits().Set) << "the bus's caller sets the limits";
  EXPECT_TRUE(ServeUntil([&] { return !rig.Simulator->Moving(); }, 5000));
  EXPECT_FALSE(rig.Simulator->RTS());
}
