// The bus side of the window against a fake console: which "MORVANE_MESSAGE" signals reach
// the console, the focuser interface's guards and errors, and how its PropertiesChanged are
// paced.
#include <gtest/gtest.h>

#include <dbus/dbus.h>

#include <QCoreApplication>

#include <climits>
#include <memory>
#include <string>
#include <vector>

#include "busclient/FocuserClient.h"
#include "platform/Broadcast.h"
#include "support/BusTestSupport.h"
#include "ui/bus/FakeConsole.h"
#include "ui/bus/FocuserService.h"
#include "ui/bus/MessageListener.h"

using namespace morvane;
using morvane::test::FromOtherThread;
using morvane::test::Serve;
using morvane::test::ServeUntil;
using morvane::test::TFakeConsole;

namespace {

bool SendSignal(const std::vector<std::pair<int, const void*>>& args) {
  DBusError error;
  dbus_error_init(&error);
  DBusConnection* c = dbus_bus_get_private(DBUS_BUS_SESSION, &error);
  dbus_error_free(&error);
  if (!c) return false;
  dbus_connection_set_exit_on_disconnect(c, FALSE);
  DBusMessage* m =
      dbus_message_new_signal(MorvaneObjectPath, BroadcastInterface, MorvaneMessageName);
  for (const auto& [type, value] : args)
    dbus_message_append_args(m, type, value, DBUS_TYPE_INVALID);
  dbus_connection_send(c, m, nullptr);
  dbus_connection_flush(c);
  dbus_message_unref(m);
  dbus_connection_close(c);
  dbus_connection_unref(c);
  return true;
}

class BusServiceTest : public testing::Test {
 protected:
  TFakeConsole Console;
};

TEST_F(BusServiceTest, OnlyCommandsWithTwoIntegersReachTheConsole) {
  TMessageListener listener([this](int32_t w, int32_t l) { HandleMorvaneMessage(Console, w, l); });
  ASSERT_TRUE(listener.Listening()) << "no session bus";
  Console.Readout = -12;
  Console.IsIdle = false;
  TFocuserClient client;
  ASSERT_TRUE(client.Connected());
  const dbus_int32_t one = 1, two = 2, zero = 0;
  const char* text = "1";
  const dbus_uint32_t unsignedOne = 1;
  FromOtherThread([&] {
    client.SendMessage(mmReportPosition, 0);
    client.SendMessage(mmReportIdle, 99);
    client.SendMessage(mmMoveBy, -25);
    client.SendMessage(mmMoveTo, 40);
    // The program's own notifications, unknown commands and unsafe targets: nothing.
    for (int w : {int{mmPosition}, int{mmIdle}, int{mmCountReset}, 7, 0, -1, 65536})
      client.SendMessage(w, 1);
    client.SendMessage(mmMoveBy, INT_MAX);
    client.SendMessage(mmMoveTo, INT_MIN);
    // Wrong arguments: never delivered.
    SendSignal({{DBUS_TYPE_STRING, &text}, {DBUS_TYPE_INT32, &zero}});
    SendSignal({{DBUS_TYPE_INT32, &one}});
    SendSignal({{DBUS_TYPE_INT32, &one}, {DBUS_TYPE_INT32, &zero}, {DBUS_TYPE_INT32, &two}});
    SendSignal({{DBUS_TYPE_UINT32, &unsignedOne}, {DBUS_TYPE_INT32, &zero}});
    SendSignal({});
    client.SendMessage(mmReportPosition, 7);  // the last: its answer ends the wait
    return 0;
  });
  ASSERT_TRUE(ServeUntil([&] { return Console.Calls.size() >= 5; }));
  Serve(200);  // anything wrongly let through would be here by now
  const std::vector<std::string> expected = {"Broadcast 2 -12", "Broadcast 6 0",
                                             "MessageMoveBy -25", "MessageMoveTo 40",
                                             "Broadcast 2 -12"};
  EXPECT_EQ(Console.Calls, expected);
}

class FocuserServiceTest : public BusServiceTest {
 protected:
  void SetUp() override {
    BusServiceTest::SetUp();
    Service = std::make_unique<TFocuserService>(Console);
    ASSERT_TRUE(Service->Publish()) << Service->Error().toStdString();
  }
  void TearDown() override { Service.reset(); }
  std::unique_ptr<TFocuserService> Service;
};

TEST_F(FocuserServiceTest, MethodsRefuseWhatTheConsoleWouldNotDo) {
  TFocuserClient client;
  Console.Readout = 100;
  Console.IsIdle = false;
  auto busy = FromOtherThread([&] { return client.CallInt("MoveBy", 5); });
  EXPECT_EQ(busy.ErrorName, BusyError);
  busy = FromOtherThread([&] { return client.CallInt("MoveTo", 5); });
  EXPECT_EQ(busy.ErrorName, BusyError);
  // Stop, Reset and the coarse drive act while moving, as their buttons do.
  EXPECT_TRUE(FromOtherThread([&] { return client.Call("Stop"); }).Ok);
  EXPECT_TRUE(FromOtherThread([&] { return client.Call("ResetCount"); }).Ok);
  EXPECT_TRUE(FromOtherThread([&] { return client.CallBool("StartRun", false); }).Ok);
  EXPECT_TRUE(FromOtherThread([&] { return client.Call("StopRun"); }).Ok);
  Console.IsIdle = true;
  auto range = FromOtherThread([&] { return client.CallInt("MoveBy", MoveLimit); });
  EXPECT_EQ(range.ErrorName, "org.freedesktop.DBus.Error.InvalidArgs");
  EXPECT_NE(range.ErrorMessage.find("out of range"), std::string::npos) << range.ErrorMessage;
  range = FromOtherThread([&] { return client.CallInt("MoveTo", INT_MIN); });
  EXPECT_EQ(range.ErrorName, "org.freedesktop.DBus.Error.InvalidArgs");
  EXPECT_TRUE(FromOtherThread([&] { return client.CallInt("MoveBy", -300); }).Ok);
  EXPECT_TRUE(FromOtherThread([&] { return client.CallInt("MoveTo", MoveLimit); }).Ok);
  Console.IsPortOpen = false;
  auto closed = FromOtherThread([&] { return client.CallInt("MoveTo", 1); });
  EXPECT_EQ(closed.ErrorName, PortClosedError);
  EXPECT_NE(closed.ErrorMessage.find("COM 3"), std::string::npos) << closed.ErrorMessage;
  closed = FromOtherThread([&] { return client.CallBool("StartRun", true); });
  EXPECT_EQ(closed.ErrorName, PortClosedError);
  const std::vector<std::string> expected = {"StopClick",        "ResetClick",
                                             "CoarseDown 0",     "CoarseUp",
                                             "MoveByClick -300", "MoveToClick 1000000000"};
  EXPECT_EQ(Console.Calls, expected);
}

// A run started over the bus is its caller's: it ends when the caller leaves the bus, and a
// timed one at its time, in Morvane; a run the window has taken over is left alone.
TEST_F(FocuserServiceTest, BusRunsEndWithTheirCallerOrTheirTime) {
  auto caller = std::make_unique<TFocuserClient>();
  ASSERT_TRUE(FromOtherThread([&] { return caller->CallBool("StartRun", true); }).Ok);
  EXPECT_TRUE(Console.IsRunning);
  caller.reset();  // leaves the bus
  EXPECT_TRUE(ServeUntil([&] { return !Console.IsRunning; }));

  TFocuserClient client;
  for (uint32_t ms : {0u, TFocuserService::TimedRunLimitMs + 1}) {
    EXPECT_EQ(
        FromOtherThread([&] { return client.CallBoolUInt("StartTimedRun", false, ms); }).ErrorName,
        "org.freedesktop.DBus.Error.InvalidArgs");
  }
  ASSERT_TRUE(
      FromOtherThread([&] { return client.CallBoolUInt("StartTimedRun", false, 2000); }).Ok);
  EXPECT_TRUE(Console.IsRunning);
  EXPECT_TRUE(ServeUntil([&] { return !Console.IsRunning; }));

  caller = std::make_unique<TFocuserClient>();
  ASSERT_TRUE(FromOtherThread([&] { return caller->CallBool("StartRun", false); }).Ok);
  Console.CoarseUp();  // released in the window, and pressed again
  Service->StateChanged();
  Console.CoarseDown(true);
  caller.reset();
  Serve(500);
  EXPECT_TRUE(Console.IsRunning);
  const std::vector<std::string> expected = {"CoarseDown 1", "CoarseUp", "CoarseDown 0", "CoarseUp",
                                             "CoarseDown 0", "CoarseUp", "CoarseDown 1"};
  EXPECT_EQ(Console.Calls, expected);
}

// A hold is its caller's: released when it says so or leaves the bus, each caller its own.
TEST_F(FocuserServiceTest, CompensationHeldWhileItsCallerIsOnTheBus) {
  auto caller = std::make_unique<TFocuserClient>();
  TFocuserClient other;
  ASSERT_TRUE(FromOtherThread([&] { return caller->Call("HoldCompensation"); }).Ok);
  ASSERT_TRUE(FromOtherThread([&] { return other.Call("HoldCompensation"); }).Ok);
  EXPECT_EQ(Console.Holders.size(), 2u);
  caller.reset();  // leaves the bus
  EXPECT_TRUE(ServeUntil([&] { return Console.Holders.size() == 1; }));
  EXPECT_TRUE(Service->CompensationHeld());
  ASSERT_TRUE(FromOtherThread([&] { return other.Call("ReleaseCompensation"); }).Ok);
  EXPECT_FALSE(Service->CompensationHeld());
}

TEST_F(FocuserServiceTest, TemperatureOnlyWithTheModuleAndWhileIdle) {
  TFocuserClient client;
  double c = 0;
  EXPECT_EQ(FromOtherThread([&] { return client.ReadTemperature(c); }).ErrorName,
            NotAvailableError);
  Console.HasTemperature = true;
  Console.IsIdle = false;
  EXPECT_EQ(FromOtherThread([&] { return client.ReadTemperature(c); }).ErrorName, BusyError);
  Console.IsIdle = true;
  ASSERT_TRUE(FromOtherThread([&] { return client.ReadTemperature(c); }).Ok);
  EXPECT_DOUBLE_EQ(c, 12.5);
  EXPECT_EQ(Console.Calls, (std::vector<std::string>{"ReadTemperature", "ReadTemperature"}));
}

TEST_F(FocuserServiceTest, PropertiesReadAndAnnounced) {
  TFocuserClient client;
  ASSERT_TRUE(client.Watch(false));
  Console.Readout = -12;
  Console.Port = 4;
  Service->StateChanged();
  TFocuserState state;
  ASSERT_TRUE(FromOtherThread([&] { return client.GetState(state); }).Ok);
  EXPECT_EQ(state.Position, -12);
  EXPECT_EQ(state.ComPort, 4);
  EXPECT_TRUE(state.Idle);
  EXPECT_TRUE(state.PortOpen);
  auto first = FromOtherThread([&] { return client.Next(2000); });
  ASSERT_TRUE(first);
  EXPECT_EQ(first->Position, -12);
  EXPECT_EQ(first->ComPort, 4);
  EXPECT_FALSE(first->Idle);  // unchanged, so not sent

  // A second program on the same bus runs without the interface and is told why.
  TFocuserService second(Console);
  EXPECT_FALSE(second.Publish());
  EXPECT_NE(second.Error().indexOf(QString::fromLatin1(MorvaneBusName)), -1);
}

// A compensation setting written over the bus is announced once, with the value Morvane took;
// one changed by the console (the window, a reload) with its next state change.
TEST_F(FocuserServiceTest, CompensationChangesAnnouncedOnce) {
  TFocuserClient client;
  ASSERT_TRUE(client.Watch(false));
  ASSERT_TRUE(
      FromOtherThread([&] { return client.SetDoubleProperty("TempCoefficient", -2.5); }).Ok);
  Console.Comp.TempReference = 11.25;
  Console.Comp.TempSamples = 3;
  Service->StateChanged();
  Service->StateChanged();  // nothing new: nothing sent
  const std::vector<TNotification> got = FromOtherThread([&] {
    std::vector<TNotification> all;
    while (auto n = client.Next(500)) all.push_back(*n);
    return all;
  });
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[0].TempCoefficient, -2.5);
  EXPECT_FALSE(got[0].TempSamples);
  EXPECT_EQ(got[1].TempReference, 11.25);
  EXPECT_EQ(got[1].TempSamples, 3);
  EXPECT_FALSE(got[1].TempCoefficient);
}

// A fast run: the readout changes every millisecond for a second; the bus hears at most 50
// positions a second, the last one among them, and the idle change carries a position
// still waiting for its turn.
TEST_F(FocuserServiceTest, PositionsPacedWhileMovingAndTheLastAlwaysSent) {
  TFocuserClient client;
  ASSERT_TRUE(client.Watch(false));
  Console.IsIdle = false;
  Service->StateChanged();
  const auto start = std::chrono::steady_clock::now();
  int n = 0;
  ServeUntil(
      [&] {
        Console.Readout = ++n;
        Service->StateChanged();
        return std::chrono::steady_clock::now() - start >= std::chrono::seconds(1);
      },
      5000);
  ++Console.Readout;
  Console.IsIdle = true;
  Service->StateChanged();
  const int last = Console.Readout;
  std::vector<TNotification> got = FromOtherThread([&] {
    std::vector<TNotification> all;
    while (auto n = client.Next(500)) all.push_back(*n);
    return all;
  });
  int positions = 0;
  for (const auto& g : got) positions += g.Position.has_value();
  EXPECT_GT(n, 200) << "the readout hardly moved";
  EXPECT_LE(positions, 50 + 3);
  EXPECT_GE(positions, 20);
  ASSERT_FALSE(got.empty());
  EXPECT_EQ(got.back().Position, last);
  EXPECT_EQ(got.back().Idle, true);
}

}  // namespace
