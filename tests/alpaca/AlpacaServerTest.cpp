// morvane-alpaca against the real Morvane on the simulated focuser, over loopback: the rules
// ASCOM's conformance checker applies, discovery, and a client's session as NINA runs one.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <atomic>
#include <regex>
#include <thread>

#include "alpaca/AlpacaRig.h"
#include "alpaca/RawReply.h"
#include "support/PrivateBus.h"

using namespace morvane;
using namespace morvane::test;

namespace {

[[maybe_unused]] testing::Environment* const Bus = testing::AddGlobalTestEnvironment([] {
  struct TEnv : testing::Environment {
    std::unique_ptr<TPrivateBus> Bus;
    void SetUp() override { Bus = std::make_unique<TPrivateBus>(); }
    void TearDown() override { Bus.reset(); }
  };
  return new TEnv;
}());

// Opens a connection to the server on loopback, with a bounded wait for each reply.
int OpenRaw(int port) {
  const int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  timeval wait{10, 0};
  setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
  EXPECT_EQ(connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  return s;
}

// Sends the bytes as they are and reads the reply until the server closes.
std::string RawExchange(int port, const std::string& request) {
  const int s = OpenRaw(port);
  send(s, request.data(), request.size(), MSG_NOSIGNAL);
  std::string reply;
  char buf[4096];
  ssize_t n;
  while ((n = recv(s, buf, sizeof buf, 0)) > 0) reply.append(buf, static_cast<size_t>(n));
  close(s);
  return reply;
}

struct TRule {
  const char* Verb;
  const char* Target;  // a member of focuser/0, or a path
  const char* Form;
  int Status;         // HTTP status
  int Error;          // ErrorNumber, -1: not JSON
  const char* Value;  // the JSON Value, "" not checked
  uint32_t ClientTransaction = 0;
};

const TRule Rules[] = {
    // Paths are lower case and matched exactly; unknown types, numbers and members get 4xx text.
    {"GET", "/api/v1/Focuser/0/position", "", 400, -1, ""},
    {"GET", "/api/v1/focuser/0/Position", "", 400, -1, ""},
    {"GET", "/api/v1/telescope/0/position", "", 400, -1, ""},
    {"GET", "/api/v1/focuser/-1/position", "", 400, -1, ""},
    {"GET", "/api/v1/focuser/99999/position", "", 400, -1, ""},
    {"GET", "/api/v1/focuser/A/position", "", 400, -1, ""},
    {"GET", "frobnicate", "", 400, -1, ""},
    {"PUT", "position", "Position=1", 405, -1, ""},
    // GET keys in any case, PUT names exactly; unknown parameters ignored.
    {"GET", "name?clienttransactionid=67890", "", 200, 0, "\"Morvane Focuser\"", 67890},
    {"GET", "name?ClientID=1&ClientTransactionID=7&Foo=bar", "", 200, 0, "", 7},
    {"PUT", "move", "pOSITION=10", 400, -1, ""},
    {"PUT", "tempcomp", "tEMPcOMP=true", 400, -1, ""},
    {"PUT", "tempcomp", "TempComp=false&clienttransactionid=5&clientid=x", 200, 0, "", 0},
    {"PUT", "tempcomp", "TempComp=false&ClientTransactionID=5&Extra=1", 200, 0, "", 5},
    // Malformed values and ids.
    {"PUT", "move", "Position=asduio6fghZZ", 400, -1, ""},
    {"PUT", "move", "Position=", 400, -1, ""},
    {"PUT", "move", "Position=99999999999", 400, -1, ""},
    {"PUT", "connected", "Connected=123", 400, -1, ""},
    {"GET", "name?ClientTransactionID=", "", 400, -1, ""},
    {"GET", "name?ClientTransactionID=%20%20", "", 400, -1, ""},
    {"GET", "name?ClientTransactionID=-1", "", 400, -1, ""},
    {"GET", "name?ClientID=abc", "", 400, -1, ""},
    {"PUT", "halt", "ClientID=4294967296", 400, -1, ""},
    // The members' values and errors.
    {"GET", "interfaceversion", "", 200, 0, "4"},
    {"GET", "absolute", "", 200, 0, "true"},
    {"GET", "maxstep", "", 200, 0, "1500"},
    {"GET", "maxincrement", "", 200, 0, "1500"},
    {"GET", "stepsize", "", 200, 0, "28.7734"},
    // Morvane's temperature compensation, with the simulated module.
    {"GET", "tempcompavailable", "", 200, 0, "true"},
    {"GET", "tempcomp", "", 200, 0, "false"},
    {"PUT", "tempcomp", "TempComp=true", 200, 0, ""},
    {"GET", "tempcomp", "", 200, 0, "true"},
    {"PUT", "tempcomp", "TempComp=false", 200, 0, ""},
    {"GET", "tempcomp", "", 200, 0, "false"},
    {"GET", "ismoving", "", 200, 0, "false"},
    {"GET", "connecting", "", 200, 0, "false"},
    {"GET", "supportedactions", "", 200, 0, "[]"},
    {"PUT", "action", "Action=Foo&Parameters=", 200, 0x40C, ""},
    {"PUT", "commandblind", "Command=x&Raw=false", 200, 0x400, ""},
    {"PUT", "commandbool", "Command=x&Raw=false", 200, 0x400, ""},
    {"PUT", "commandstring", "Command=x&Raw=false", 200, 0x400, ""},
    {"GET", "/management/apiversions", "", 200, 0, "[1]"},
};

class AlpacaServerTest : public testing::Test {
 protected:
  TAlpacaRig Rig;
  TAlpacaClient Client{Rig.Port};
  void Connect() { ASSERT_EQ(Client.Put("connected", "Connected=true").Error(), 0); }
  void MoveAndLand(int target, int expected) {
    const TReply before = Client.Get("position");
    const TReply r = Client.Put("move", "Position=" + std::to_string(target));
    ASSERT_EQ(r.Error(), 0) << r.Body;
    if (before.Error() != 0 || before.Value() != expected) {
      EXPECT_EQ(Client.Value("ismoving"), true) << "IsMoving must be true when Move returns";
    }
    ASSERT_TRUE(Client.WaitIdle());
    // IsMoving false means Morvane has landed, and the position is its count's.
    TFocuserState state;
    ASSERT_TRUE(Bus.GetState(state).Ok);
    EXPECT_TRUE(state.Idle) << "IsMoving went false before Morvane was idle";
    const int landed = Client.Value("position").get<int>();
    EXPECT_EQ(landed, TAlpacaRig::MaxStep - state.Position);
    // How exactly it lands is the motion's own; on a loaded machine it may miss by a few.
    EXPECT_LE(std::abs(landed - expected), 8) << target;
  }
  // Starts a long move inward and waits until it is well under way.
  void StartLongMove(TAlpacaClient& client, const std::string& ids = "") {
    MoveAndLand(1400, 1400);
    ASSERT_EQ(client.Put("move", "Position=100" + ids).Error(), 0);
    ASSERT_TRUE(WaitUntil(
        [&] {
          const TReply r = client.Get("position");
          return r.Error() == 0 && r.Value().get<int>() < 1300;
        },
        10000));
  }
  // After a halt: the focuser comes to rest well short of StartLongMove's target.
  void ExpectStoppedShort() {
    ASSERT_TRUE(Client.WaitIdle(10000));
    EXPECT_GT(Client.Value("position").get<int>(), 200) << "the move ran on to its end";
  }
  TFocuserClient Bus;
};

TEST_F(AlpacaServerTest, TheConformanceRulesHold) {
  ASSERT_EQ(Client.Get("position").Error(), 0x407);  // not connected yet
  Connect();
  uint32_t lastServer = 0;
  for (const TRule& rule : Rules) {
    SCOPED_TRACE(std::string(rule.Verb) + " " + rule.Target + " " + rule.Form);
    const TReply r = std::string(rule.Verb) == "GET" ? Client.Get(rule.Target)
                                                     : Client.Put(rule.Target, rule.Form);
    EXPECT_EQ(r.Status, rule.Status) << r.Body;
    if (rule.Error < 0) {
      EXPECT_FALSE(r.Body.empty());
      EXPECT_TRUE(r.Json.is_null()) << "a 4xx answer is plain text: " << r.Body;
      continue;
    }
    ASSERT_TRUE(r.Json.is_object()) << r.Body;
    EXPECT_EQ(r.Error(), rule.Error) << r.Body;
    EXPECT_EQ(r.Json["ClientTransactionID"], rule.ClientTransaction);
    const uint32_t server = r.Json["ServerTransactionID"];
    EXPECT_GT(server, lastServer);
    lastServer = server;
    EXPECT_TRUE(r.Json["ErrorMessage"].is_string());
    EXPECT_EQ(r.Json.contains("Value"), std::string(rule.Verb) == "GET" && rule.Error == 0);
    if (*rule.Value) {
      EXPECT_EQ(r.Value().dump(), rule.Value);
    }
  }
  EXPECT_TRUE(std::regex_match(Client.Value("driverversion").get<std::string>(),
                               std::regex("[0-9]+\\.[0-9]+")));
  const nlohmann::json state = Client.Value("devicestate");
  std::vector<std::string> names;
  for (const auto& item : state) names.push_back(item["Name"]);
  EXPECT_EQ(names, (std::vector<std::string>{"IsMoving", "Position", "Temperature", "TimeStamp"}));
  const double celsius = Client.Value("temperature");
  EXPECT_TRUE(celsius > -50 && celsius < 50) << celsius;
  for (const char* path : {"/management/v1/description", "/management/v1/configureddevices"})
    EXPECT_EQ(Client.Get(path).Error(), 0) << path;
  const nlohmann::json device = Client.Get("/management/v1/configureddevices").Value()[0];
  EXPECT_EQ(device["DeviceType"], "Focuser");
  EXPECT_EQ(device["DeviceNumber"], 0);
  EXPECT_EQ(device["UniqueID"].get<std::string>().size(), 36u);
  for (const char* page : {"/setup", "/setup/v1/focuser/0/setup"}) {
    const TReply r = Client.Get(page);
    EXPECT_EQ(r.Status, 200);
    EXPECT_NE(r.Body.find("MaxStep"), std::string::npos);
    EXPECT_NE(r.Body.find("COM 1 (open)"), std::string::npos);
    EXPECT_NE(r.Body.find("background:#000"), std::string::npos);
    EXPECT_NE(r.Body.find("(TempComp)</th><td>off"), std::string::npos);
  }
}

// Moves: IsMoving true on Move's return and until the landing, clamped at both ends; the
// link's Connected is the client's alone.
TEST_F(AlpacaServerTest, MovesClampAndConnectedIsTheLinksOwn) {
  Connect();
  // With TempComp on, as IFocuserV3 and later allow; Morvane's own setting is the one set.
  ASSERT_EQ(Client.Put("tempcomp", "TempComp=true").Error(), 0);
  TCompensationState compensation;
  ASSERT_TRUE(Bus.GetCompensation(compensation).Ok);
  EXPECT_TRUE(compensation.TempCompensation);
  MoveAndLand(300, 300);
  ASSERT_EQ(Client.Put("tempcomp", "TempComp=false").Error(), 0);
  MoveAndLand(-10, 0);
  MoveAndLand(TAlpacaRig::MaxStep + 10, TAlpacaRig::MaxStep);
  ASSERT_EQ(Client.Put("disconnect", "").Error(), 0);
  EXPECT_EQ(Client.Value("connected"), false);
  EXPECT_EQ(Client.Put("move", "Position=10").Error(), 0x407);
  EXPECT_EQ(Client.Get("ismoving").Error(), 0x407);
  TFocuserClient bus;
  TFocuserState state;
  ASSERT_TRUE(bus.GetState(state).Ok);
  EXPECT_TRUE(state.PortOpen) << "disconnecting the link must leave Morvane's port open";
}

// The count below zero (beyond MaxStep outward) is refused with its own error until a move brings
// it back; Morvane going and coming back is followed without restarting the server.
TEST_F(AlpacaServerTest, OutOfRangeCountAndMorvaneRestart) {
  Connect();
  TFocuserClient bus;
  ASSERT_TRUE(bus.Call("ResetCount").Ok);
  ASSERT_TRUE(bus.CallInt("MoveTo", -40).Ok);
  // Another program's move: seen once Morvane signals it.
  TFocuserState state;
  ASSERT_TRUE(WaitUntil(
      [&] { return bus.GetState(state).Ok && state.Idle && state.Position < -30; }, 10000));
  ASSERT_TRUE(Client.WaitIdle());
  EXPECT_EQ(Client.Get("position").Error(), 0x503);
  for (const auto& item : Client.Value("devicestate")) EXPECT_NE(item["Name"], "Position");
  MoveAndLand(1490, 1490);

  Rig.StopMorvane();
  EXPECT_TRUE(WaitUntil([&] { return Client.Get("position").Error() == 0x500; }, 5000));
  EXPECT_EQ(Client.Put("move", "Position=10").Error(), 0x500);
  Rig.StartMorvane();
  EXPECT_TRUE(WaitUntil([&] { return Client.Get("position").Error() == 0; }, 5000));
  MoveAndLand(1440, 1440);
}

// As NINA does it: discovery, the device list, connect, three moves, the temperature, a halt
// in mid-move, disconnect.
TEST_F(AlpacaServerTest, ASessionAsNinaRunsIt) {
  const int s = socket(AF_INET, SOCK_DGRAM, 0);
  timeval wait{5, 0};
  setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<uint16_t>(Rig.DiscoveryPort));
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  char answer[128] = {};
  ssize_t n = -1;
  for (int attempt = 0; attempt < 3 && n <= 0; ++attempt) {
    sendto(s, "alpacadiscovery1", 16, 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
    n = recv(s, answer, sizeof answer - 1, 0);
  }
  close(s);
  ASSERT_GT(n, 0) << "no discovery answer";
  const int port = nlohmann::json::parse(answer)["AlpacaPort"];
  ASSERT_EQ(port, Rig.Port);

  TAlpacaClient nina(port);
  ASSERT_EQ(nina.Get("/management/v1/configureddevices").Value()[0]["DeviceType"], "Focuser");
  ASSERT_EQ(nina.Put("connected", "Connected=true&ClientID=42&ClientTransactionID=1").Error(), 0);
  for (const int target : {400, 250, 600}) MoveAndLand(target, target);
  const double celsius = nina.Value("temperature");
  EXPECT_TRUE(celsius > -50 && celsius < 50);
  ASSERT_EQ(nina.Put("move", "Position=1400").Error(), 0);
  ASSERT_TRUE(WaitUntil([&] { return nina.Value("position").get<int>() > 800; }, 10000));
  ASSERT_EQ(nina.Put("halt", "").Error(), 0);
  ASSERT_TRUE(nina.WaitIdle(5000));
  EXPECT_LT(nina.Value("position").get<int>(), 1390) << "the halt did not stop the move short";
  ASSERT_EQ(nina.Put("connected", "Connected=false&ClientID=42").Error(), 0);
  EXPECT_EQ(nina.Value("connected"), false);
}

// Each ClientID connects for itself: one client's disconnect leaves the others connected, and
// a client that is not connected still halts another's move.
TEST_F(AlpacaServerTest, OneClientsDisconnectLeavesTheOthersAndHaltsStillStop) {
  TAlpacaClient first(Rig.Port), second(Rig.Port);
  Connect();
  ASSERT_EQ(first.Put("connected", "Connected=true&ClientID=1").Error(), 0);
  ASSERT_EQ(second.Put("connected", "Connected=true&ClientID=2").Error(), 0);
  ASSERT_EQ(first.Put("connected", "Connected=false&ClientID=1").Error(), 0);
  ASSERT_EQ(Client.Put("connected", "Connected=false").Error(), 0);
  EXPECT_EQ(second.Value("connected?ClientID=2"), true);
  StartLongMove(second, "&ClientID=2");
  EXPECT_EQ(first.Put("halt", "ClientID=1").Error(), 0);
  ExpectStoppedShort();
  ASSERT_EQ(second.Put("connected", "Connected=false&ClientID=2").Error(), 0);
  EXPECT_EQ(first.Value("connected"), false);
  EXPECT_EQ(first.Put("move", "Position=10&ClientID=1").Error(), 0x407);
  // Halt is answered even with no client connected.
  EXPECT_EQ(first.Put("halt", "ClientID=1").Error(), 0);
}

// curl -X PUT .../halt sends no Content-Length: an empty form, served at once.
TEST_F(AlpacaServerTest, AHaltWithoutABodyStopsTheMove) {
  Connect();
  StartLongMove(Client);
  const std::string reply = RawExchange(
      Rig.Port,
      "PUT /api/v1/focuser/0/halt HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
  EXPECT_EQ(reply.rfind("HTTP/1.1 200", 0), 0u) << reply;
  EXPECT_NE(reply.find("\"ErrorNumber\":0"), std::string::npos) << reply;
  ExpectStoppedShort();
}

// A web page under another name (DNS rebinding) or of another origin moves nothing.
TEST_F(AlpacaServerTest, AForeignHostOrOriginMovesNothing) {
  Connect();
  MoveAndLand(1400, 1400);
  const std::string port = std::to_string(Rig.Port);
  for (const std::string& head : std::vector<std::string>{
           "Host: attacker.test\r\nOrigin: http://attacker.test\r\n",
           "Host: attacker.test:" + port + "\r\n",
           "Host: 127.0.0.1:" + port + "\r\nOrigin: http://attacker.test\r\n"}) {
    const std::string reply = RawExchange(
        Rig.Port, "PUT /api/v1/focuser/0/move HTTP/1.1\r\n" + head +
                      "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: 12\r\n"
                      "Connection: close\r\n\r\nPosition=100");
    EXPECT_EQ(reply.rfind("HTTP/1.1 403", 0), 0u) << head << reply;
  }
  // A move, had one been taken, would be under way when its reply came.
  EXPECT_EQ(Client.Value("ismoving"), false);
  EXPECT_EQ(Client.Value("position"), 1400);
}

// SIGTERM ends the server while clients keep it busy: a poller on a kept-alive connection, a
// slow sender and an idle kept-alive connection, which is closed.
TEST_F(AlpacaServerTest, SigtermEndsTheServerWhileClientsKeepItBusy) {
  Connect();
  std::atomic<bool> stop{false};
  std::atomic<int> served{0};
  std::thread poller([&] {
    TAlpacaClient busy(Rig.Port);
    while (!stop)
      if (busy.Get("position").Status == 200) ++served;
  });
  const int slow = OpenRaw(Rig.Port);
  send(slow, "PUT /api/v1/foc", 15, MSG_NOSIGNAL);
  const int idle = OpenRaw(Rig.Port);
  const std::string get = "GET /api/v1/focuser/0/name HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
  send(idle, get.data(), get.size(), MSG_NOSIGNAL);
  ASSERT_EQ(ReadReply(idle).rfind("HTTP/1.1 200", 0), 0u);
  char reply[2048];
  ASSERT_TRUE(WaitUntil([&] { return served > 20; }, 10000));
  Rig.Server->Signal(SIGTERM);
  // Killed at the deadline otherwise, which reads as -1.
  EXPECT_EQ(Rig.Server->Wait(10000).Status, 0) << "the server lived on after SIGTERM";
  EXPECT_LE(recv(idle, reply, sizeof reply, 0), 0) << "a kept-alive connection stayed open";
  stop = true;
  poller.join();
  close(idle);
  close(slow);
}

// Slow senders, more than the server has workers, do not hold up a halt sent beside them.
TEST_F(AlpacaServerTest, SlowSendersDoNotHoldUpAHalt) {
  Connect();
  StartLongMove(Client);
  std::vector<int> slow;
  for (int i = 0; i < 40; ++i) {
    slow.push_back(OpenRaw(Rig.Port));
    send(slow.back(), "PUT /api/v1/focuser/0/mo", 24, MSG_NOSIGNAL);
  }
  const std::string reply = RawExchange(
      Rig.Port,
      "PUT /api/v1/focuser/0/halt HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
  EXPECT_NE(reply.find("\"ErrorNumber\":0"), std::string::npos) << reply;
  ExpectStoppedShort();
  for (const int s : slow) close(s);
}

}  // namespace
