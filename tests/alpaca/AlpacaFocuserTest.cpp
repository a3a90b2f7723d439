// The device's answers from the cached state and the link's results, as a table: the
// connection rule, the count's range, the module, the errors a move meets.
#include <gtest/gtest.h>

#include "alpaca/AlpacaFocuser.h"

using namespace morvane::alpaca;

namespace {

class TFakeLink : public TFocuserLink {
 public:
  TFocuserView State;
  TLinkReply Next;
  std::vector<int32_t> Moves;
  int Stops = 0;
  TFocuserView View() override { return State; }
  TLinkReply MoveTo(int32_t count) override {
    Moves.push_back(count);
    return Next;
  }
  TLinkReply Stop() override {
    ++Stops;
    return Next;
  }
  TLinkReply SetTempComp(bool on) override {
    TempComps.push_back(on);
    return Next;
  }
  std::vector<bool> TempComps;
};

TFocuserView Running(int32_t position = 100) {
  TFocuserView v;
  v.MorvaneRunning = v.PortOpen = true;
  v.Position = position;
  v.Module = TModule::mdPresent;
  v.HasTemperature = true;
  v.Celsius = 12.5;
  return v;
}

// Morvane not on the bus.
TFocuserView Gone() {
  return TFocuserView();
}

TEST(AlpacaFocuserTest, AnswersFollowTheStateAndTheLink) {
  auto absent = Running();
  absent.Module = TModule::mdAbsent;
  absent.HasTemperature = false;
  auto hot = Running();
  hot.Celsius = 88;
  auto closed = Running();
  closed.PortOpen = false;
  auto pending = Running();
  pending.MovePending = true;
  auto coarse = Running();
  coarse.Running = true;
  auto compensable = Running();
  compensable.HasCompensation = true;
  auto compensating = compensable;  // with a module that stopped answering
  compensating.TempComp = true;
  compensating.Module = TModule::mdAbsent;
  const struct {
    TFocuserView View;
    bool Connect;
    const char* Verb;
    const char* Method;
    TParams Form;
    TLinkResult Link;
    int Status;
    int Error;
    const char* Value;
    int32_t MovedTo;  // the count asked of Morvane, -1: no move
  } rows[] = {
      // clang-format off
      {Running(), false, "GET", "position", {}, {}, 200, NotConnected, "", -1},
      {Running(), false, "GET", "name", {}, {}, 200, 0, "\"Morvane Focuser\"", -1},
      {Running(), false, "PUT", "move", {{"Position", "5"}}, {}, 200, NotConnected, "", -1},
      {Running(), false, "PUT", "move", {{"Position", "x"}}, {}, 400, 0, "", -1},
      {Gone(), false, "PUT", "connect", {}, {}, 200, MorvaneNotRunning, "", -1},
      {Running(), true, "GET", "position", {}, {}, 200, 0, "900", -1},
      {Running(-1), true, "GET", "position", {}, {}, 200, CountOutOfRange, "", -1},
      {Running(1001), true, "GET", "position", {}, {}, 200, CountOutOfRange, "", -1},
      {Running(1000), true, "GET", "position", {}, {}, 200, 0, "0", -1},
      {closed, true, "GET", "position", {}, {}, 200, MorvanePortClosed, "", -1},
      {closed, false, "PUT", "connect", {}, {}, 200, MorvanePortClosed, "", -1},
      {closed, true, "GET", "connected", {}, {}, 200, 0, "false", -1},
      {Running(), true, "GET", "connected", {}, {}, 200, 0, "true", -1},
      {pending, true, "GET", "ismoving", {}, {}, 200, 0, "true", -1},
      {coarse, true, "GET", "ismoving", {}, {}, 200, 0, "true", -1},
      {Running(), true, "GET", "ismoving", {}, {}, 200, 0, "false", -1},
      {Running(), true, "GET", "temperature", {}, {}, 200, 0, "12.5", -1},
      {absent, true, "GET", "temperature", {}, {}, 200, NotImplemented, "", -1},
      {hot, true, "GET", "temperature", {}, {}, 200, TemperatureUnread, "", -1},
      {Running(), true, "PUT", "move", {{"Position", "-10"}}, {}, 200, 0, "", 1000},
      {Running(), true, "PUT", "move", {{"Position", "2147483647"}}, {}, 200, 0, "", 0},
      {Running(), true, "PUT", "move", {{"Position", "300"}}, {}, 200, 0, "", 700},
      {Running(), true, "PUT", "move", {{"Position", "7"}}, TLinkResult::lrBusy, 200, InvalidOperation, "", 993},
      {Running(), true, "PUT", "move", {{"Position", "7"}}, TLinkResult::lrPortClosed, 200, MorvanePortClosed, "", 993},
      {Running(), true, "PUT", "move", {{"Position", "7"}}, TLinkResult::lrNoService, 200, MorvaneNotRunning, "", 993},
      {Running(), true, "PUT", "move", {{"Position", "7"}}, TLinkResult::lrOutsideLimits, 200, InvalidValue, "", 993},
      {Gone(), true, "PUT", "move", {{"Position", "7"}}, {}, 200, MorvaneNotRunning, "", -1},
      {Running(), true, "PUT", "tempcomp", {{"TempComp", "TRUE"}}, {}, 200, NotImplemented, "", -1},
      {compensable, true, "GET", "tempcompavailable", {}, {}, 200, 0, "true", -1},
      {compensable, true, "PUT", "tempcomp", {{"TempComp", "true"}}, TLinkResult::lrFailed, 200, MorvaneRefused, "", -1},
      {compensating, true, "GET", "tempcomp", {}, {}, 200, 0, "false", -1},
      {compensating, true, "GET", "tempcompavailable", {}, {}, 200, 0, "false", -1},
      {compensating, true, "PUT", "tempcomp", {{"TempComp", "true"}}, {}, 200, NotImplemented, "", -1},
      {Gone(), true, "GET", "tempcomp", {}, {}, 200, MorvaneNotRunning, "", -1},
      {Running(), true, "PUT", "move", {{"position", "7"}}, {}, 400, 0, "", -1},
      {Running(), true, "GET", "halt", {}, {}, 405, 0, "", -1},
      // clang-format on
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(std::string(r.Verb) + " " + r.Method);
    TFakeLink link;
    link.State = Running();
    TAlpacaFocuser device(link, TDeviceConfig{.MaxStep = 1000});
    if (r.Connect) {
      ASSERT_EQ(device.Put("connected", {{"Connected", "true"}}).ErrorNumber, 0);
    }
    link.State = r.View;
    link.Next.Result = r.Link;
    const TDeviceReply reply =
        std::string(r.Verb) == "GET" ? device.Get(r.Method, "t") : device.Put(r.Method, r.Form);
    EXPECT_EQ(reply.Status, r.Status) << reply.Text;
    EXPECT_EQ(reply.ErrorNumber, r.Error) << reply.ErrorMessage;
    if (*r.Value) {
      EXPECT_EQ(reply.Value.dump(), r.Value);
    }
    EXPECT_EQ(link.Moves, r.MovedTo < 0 ? std::vector<int32_t>{} : std::vector<int32_t>{r.MovedTo});
    // Only a request Morvane could honour reaches it.
    const bool setsTempComp = std::string(r.Method) == "tempcomp" && std::string(r.Verb) == "PUT" &&
                              r.View.TempCompAvailable();
    EXPECT_EQ(link.TempComps.size(), setsTempComp ? 1u : 0u);
  }
}

// A client is told why Morvane's port is closed, in Morvane's words, not only that it is.
TEST(AlpacaFocuserTest, AClosedPortIsToldWithItsDeviceAndReason) {
  TFakeLink link;
  link.State = Running();
  link.State.PortOpen = false;
  link.State.ComPort = 2;
  link.State.PortDevice = "/dev/ttyUSB0";
  link.State.PortProblem = "No such file or directory: No such device: check the cable";
  TAlpacaFocuser device(link, TDeviceConfig{.MaxStep = 1000});
  const std::string expected =
      "Morvane's port COM 2 (/dev/ttyUSB0) is closed: No such file or directory: No such device: "
      "check the cable";
  const TDeviceReply connect = device.Put("connected", {{"Connected", "true"}});
  EXPECT_EQ(connect.ErrorNumber, MorvanePortClosed);
  EXPECT_EQ(connect.ErrorMessage, expected);
  link.State.PortOpen = true;
  ASSERT_EQ(device.Put("connected", {{"Connected", "true"}}).ErrorNumber, 0);
  link.State.PortOpen = false;
  EXPECT_EQ(device.Get("connected", "t").Value.dump(), "false");
  const TDeviceReply position = device.Get("position", "t");
  EXPECT_EQ(position.ErrorNumber, MorvanePortClosed);
  EXPECT_EQ(position.ErrorMessage, expected);
}

TEST(AlpacaFocuserTest, AMoveOutsideMorvanesLimitsNamesThem) {
  TFakeLink link;
  link.State = Running();
  TAlpacaFocuser device(link, TDeviceConfig{.MaxStep = 1000});
  ASSERT_EQ(device.Put("connected", {{"Connected", "true"}}).ErrorNumber, 0);
  link.Next = {TLinkResult::lrOutsideLimits, "Target 993 is outside the travel limits 0 to 500"};
  const TDeviceReply reply = device.Put("move", {{"Position", "7"}});
  EXPECT_EQ(reply.ErrorNumber, InvalidValue);
  EXPECT_NE(reply.ErrorMessage.find("outside the travel limits 0 to 500"), std::string::npos)
      << reply.ErrorMessage;
}

TEST(AlpacaFocuserTest, DeviceStateLeavesOutWhatCannotBeRead) {
  TFakeLink link;
  link.State = Running(-5);
  link.State.Module = TModule::mdAbsent;
  link.State.HasTemperature = false;
  TAlpacaFocuser device(link, TDeviceConfig{.MaxStep = 1000});
  device.Put("connect", {});
  const TDeviceReply r = device.Get("devicestate", "2026-01-01T00:00:00.000Z");
  ASSERT_EQ(r.ErrorNumber, 0);
  EXPECT_EQ(
      r.Value.dump(),
      R"([{"Name":"IsMoving","Value":false},{"Name":"TimeStamp","Value":"2026-01-01T00:00:00.000Z"}])");
  ASSERT_EQ(device.Put("disconnect", {}).ErrorNumber, 0);
  EXPECT_EQ(device.Get("devicestate").ErrorNumber, NotConnected);
}

// Each ClientID connects for itself: one client's disconnect leaves the device connected for
// the others, and a halt reaches the link whoever sends it, connected or not.
TEST(AlpacaFocuserTest, ClientsConnectEachForItselfAndHaltAlwaysStops) {
  TFakeLink link;
  link.State = Running();
  TAlpacaFocuser device(link, TDeviceConfig{.MaxStep = 1000});
  EXPECT_EQ(device.Put("halt", {}, 3).ErrorNumber, 0);
  EXPECT_EQ(link.Stops, 1) << "a halt before any connection must still stop";
  ASSERT_EQ(device.Put("connected", {{"Connected", "true"}}, 1).ErrorNumber, 0);
  ASSERT_EQ(device.Put("connect", {}, 2).ErrorNumber, 0);
  ASSERT_EQ(device.Put("connected", {{"Connected", "false"}}, 1).ErrorNumber, 0);
  EXPECT_TRUE(device.Connected()) << "client 2 is still connected";
  EXPECT_EQ(device.Put("move", {{"Position", "10"}}, 2).ErrorNumber, 0);
  EXPECT_EQ(device.Put("halt", {}, 1).ErrorNumber, 0);
  EXPECT_EQ(link.Stops, 2);
  ASSERT_EQ(device.Put("disconnect", {}, 2).ErrorNumber, 0);
  EXPECT_FALSE(device.Connected());
  EXPECT_EQ(device.Put("move", {{"Position", "10"}}, 2).ErrorNumber, NotConnected);
  EXPECT_EQ(device.Put("halt", {}, 2).ErrorNumber, 0);
  EXPECT_EQ(link.Stops, 3);
  EXPECT_EQ(link.Moves.size(), 1u);
}

TEST(AlpacaFocuserTest, AMoveStoppedByTheStallGuardFailsItsIsMovingOnce) {
  TFakeLink link;
  link.State = Running(100);
  TAlpacaFocuser device(link, TDeviceConfig{.MaxStep = 1000});
  ASSERT_EQ(device.Put("connected", {{"Connected", "true"}}).ErrorNumber, 0);
  // A fault of an earlier move, not this server's: nothing to tell.
  link.State.LastFault = "Stopped at 0: no encoder change for 0.5 s, an end stop or the encoder";
  EXPECT_EQ(device.Get("ismoving").Value.dump(), "false");

  ASSERT_EQ(device.Put("move", {{"Position", "0"}}).ErrorNumber, 0);
  link.State.LastFault.clear();
  link.State.MovePending = true;
  EXPECT_EQ(device.Get("ismoving").Value.dump(), "true");
  // Morvane announces the fault, then the move's end.
  const std::string fault =
      "Stopped at 1000: no encoder change for 0.5 s, an end stop or the encoder";
  link.State.LastFault = fault;
  EXPECT_EQ(device.Get("ismoving").Value.dump(), "true");
  link.State.MovePending = false;
  link.State.Position = 1000;
  const TDeviceReply ended = device.Get("ismoving");
  EXPECT_EQ(ended.ErrorNumber, MorvaneStalled);
  EXPECT_EQ(ended.ErrorMessage, fault);
  // Told once; the position still reads.
  EXPECT_EQ(device.Get("ismoving").Value.dump(), "false");
  EXPECT_EQ(device.Get("position").Value.dump(), "0");

  // A move that ends without a fault reads as before.
  ASSERT_EQ(device.Put("move", {{"Position", "10"}}).ErrorNumber, 0);
  link.State.LastFault.clear();
  EXPECT_EQ(device.Get("ismoving").ErrorNumber, 0);
}

}  // namespace

namespace {

// MaxStep is Morvane's PositionScale unless Alpaca.ini keeps one, and the travel limits' span
// while they are set; positions and moves map through the same scale.
TEST(AlpacaFocuserTest, MaxStepFollowsMorvanesScaleAndLimits) {
  auto scaled = Running(100);
  scaled.PositionScale = 20000;
  auto limited = Running(700);
  limited.LimitsSet = true;
  limited.LowerLimit = 200;
  limited.UpperLimit = 1200;
  auto outside = limited;
  outside.Position = 100;
  const struct {
    const char* Name;
    TFocuserView View;
    std::optional<int32_t> Kept;  // Alpaca.ini's MaxStep
    int MaxStep;
    int Position;  // -1: refused with CountOutOfRange
    int MovedTo;   // the count a move to position 0 asks for
  } rows[] = {
      {"Morvane's scale", scaled, std::nullopt, 20000, 19900, 20000},
      {"the default scale", Running(0), std::nullopt, 100000, 100000, 100000},
      {"kept in Alpaca.ini", scaled, 1500, 1500, 1400, 1500},
      {"limits win over the scale", limited, std::nullopt, 1000, 500, 1200},
      {"limits win over Alpaca.ini", limited, 1500, 1000, 500, 1200},
      {"below the lower limit", outside, std::nullopt, 1000, -1, 1200},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.Name);
    TFakeLink link;
    link.State = r.View;
    TAlpacaFocuser device(link, TDeviceConfig{.MaxStep = r.Kept});
    ASSERT_EQ(device.Put("connect", {}).ErrorNumber, 0);
    EXPECT_EQ(device.Get("maxstep").Value, r.MaxStep);
    const TDeviceReply position = device.Get("position");
    if (r.Position < 0) {
      EXPECT_EQ(position.ErrorNumber, CountOutOfRange);
    } else {
      EXPECT_EQ(position.Value, r.Position);
    }
    ASSERT_EQ(device.Put("move", {{"Position", "-5"}}).ErrorNumber, 0);
    EXPECT_EQ(link.Moves, std::vector<int32_t>{r.MovedTo});
  }
}

}  // namespace
