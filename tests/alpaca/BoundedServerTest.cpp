// The HTTP side in-process on a fake link: what one client may hold (size, header lines,
// time), and a seeded fuzz of whole requests through the library's parser and ours.
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <random>
#include <thread>

#include "alpaca/AlpacaServer.h"
#include "alpaca/RawReply.h"
#include "support/FreePort.h"

using namespace morvane::alpaca;

namespace {

class TIdleLink : public TFocuserLink {
 public:
  TFocuserView View() override {
    TFocuserView v;
    v.MorvaneRunning = v.PortOpen = true;
    return v;
  }
  TLinkReply MoveTo(int32_t) override {
    ++Moves;
    return {};
  }
  TLinkReply Stop() override {
    ++Stops;
    return {};
  }
  std::atomic<int> Moves{0};
  std::atomic<int> Stops{0};
};

class TServerRig {
 public:
  explicit TServerRig(TServerLimits limits) : Device(Link, {}) {
    TServerInfo info;
    info.Settings.Port = Port = morvane::test::FreePort();
    Server = std::make_unique<TAlpacaServer>(Device, Link, info, limits);
    std::string error;
    EXPECT_TRUE(Server->Bind(error)) << error;
    Thread = std::thread([this] { Server->Run(); });
  }
  ~TServerRig() {
    Server->Stop();
    Thread.join();
  }
  int Open() {
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(Port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    timeval wait{5, 0};
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    EXPECT_EQ(connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    return s;
  }
  // Sends the bytes, ends the sending side, and reads until the server closes.
  std::string Exchange(const std::string& request) {
    const int s = Open();
    send(s, request.data(), request.size(), MSG_NOSIGNAL);
    shutdown(s, SHUT_WR);
    std::string reply;
    char buf[4096];
    ssize_t n;
    while ((n = recv(s, buf, sizeof buf, 0)) > 0) reply.append(buf, static_cast<size_t>(n));
    close(s);
    return reply;
  }

  TIdleLink Link;
  TAlpacaFocuser Device;
  int Port = 0;
  std::unique_ptr<TAlpacaServer> Server;
  std::thread Thread;
};

const std::string Valid = "GET /api/v1/focuser/0/name HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
const std::string Halt = "PUT /api/v1/focuser/0/halt HTTP/1.1\r\nHost: localhost\r\n\r\n";

bool Ok(const std::string& reply) {
  return reply.rfind("HTTP/1.1 200", 0) == 0 &&
         reply.find("\"ErrorNumber\":0") != std::string::npos;
}

// True once the server has closed the connection (or reset it).
bool ClosedByServer(int s) {
  char c;
  return recv(s, &c, 1, 0) <= 0;
}

TEST(BoundedServerTest, OneClientCannotHoldTooMuch) {
  TServerRig rig({.MaxRequestBytes = 4096,
                  .MaxHeaders = 20,
                  .RequestMs = 800,
                  .KeepAliveMs = 800,
                  .MaxRequestsPerConnection = 100,
                  .Threads = 4});
  EXPECT_EQ(rig.Exchange(Valid).rfind("HTTP/1.1 200", 0), 0u);
  std::string headers = "GET /api/v1/focuser/0/name HTTP/1.1\r\n";
  for (int i = 0; i < 30; ++i) headers += "X-" + std::to_string(i) + ": 1\r\n";
  EXPECT_EQ(rig.Exchange(headers + "\r\n").rfind("HTTP/1.1 431", 0), 0u);
  const std::string big = "PUT /api/v1/focuser/0/move HTTP/1.1\r\nContent-Length: 100000\r\n\r\n" +
                          std::string(100000, 'a');
  EXPECT_EQ(rig.Exchange(big).find("HTTP/1.1 200"), std::string::npos);
  // More stalled half-requests than threads: each is dropped at its deadline, and a client
  // behind them is served.
  std::vector<int> stalled;
  for (int i = 0; i < 6; ++i) {
    stalled.push_back(rig.Open());
    send(stalled.back(), "GET /api/v1/foc", 15, MSG_NOSIGNAL);
  }
  EXPECT_EQ(rig.Exchange(Valid).rfind("HTTP/1.1 200", 0), 0u);
  for (const int s : stalled) {
    char c;
    EXPECT_EQ(recv(s, &c, 1, 0), 0) << "a stalled client was not dropped";
    close(s);
  }
}

TEST(BoundedServerTest, FuzzedRequestsGetAnAnswerOrAClose) {
  TServerRig rig({.RequestMs = 300, .KeepAliveMs = 300, .Threads = 4});
  const std::vector<std::string> seeds = {
      Valid,
      "PUT /api/v1/focuser/0/move HTTP/1.1\r\nContent-Type: application/x-www-form-urlencoded\r\n"
      "Content-Length: 27\r\n\r\nPosition=5&ClientID=%41%42",
      "GET /api/v1/focuser/0/position?ClientTransactionID=1&x=%zz HTTP/1.1\r\n\r\n",
      "PUT /api/v1/focuser/0/connected HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n"
      "10\r\nConnected=true&a\r\n0\r\n\r\n",
      "GET /management/v1/configureddevices HTTP/1.0\r\nRange: bytes=0-5\r\n\r\n"};
  std::mt19937 random(7);
  for (int i = 0; i < 400; ++i) {
    std::string r = seeds[random() % seeds.size()];
    for (int m = static_cast<int>(random() % 6); m > 0 && !r.empty(); --m) {
      const size_t at = random() % r.size();
      switch (random() % 4) {
        case 0:
          r[at] = static_cast<char>(random() % 256);
          break;
        case 1:
          r.insert(at, std::string(1 + random() % 9, "%\r\n: &=?0"[random() % 9]));
          break;
        case 2:
          r.erase(at, 1 + random() % 8);
          break;
        default:
          r.insert(at, r.substr(random() % r.size(), random() % 40));
          break;
      }
    }
    const std::string reply = rig.Exchange(r);
    if (!reply.empty()) {
      EXPECT_EQ(reply.rfind("HTTP/1.", 0), 0u) << r;
    }
  }
  EXPECT_EQ(rig.Exchange(Valid).rfind("HTTP/1.1 200", 0), 0u);
}

}  // namespace

namespace {

// 64 header lines are taken, as documented, whatever the library adds of its own; 65 are not.
TEST(BoundedServerTest, SixtyFourHeaderLinesAreTheBound) {
  TServerRig rig({});
  for (const int lines : {64, 65}) {
    std::string request = "GET /api/v1/focuser/0/name HTTP/1.1\r\nHost: 127.0.0.1\r\n";
    for (int i = 1; i < lines; ++i) request += "X-" + std::to_string(i) + ": 1\r\n";
    EXPECT_EQ(rig.Exchange(request + "\r\n").substr(0, 12),
              lines == 64 ? "HTTP/1.1 200" : "HTTP/1.1 431")
        << lines;
  }
}

// A PUT without Content-Length is an empty form: curl -X PUT's halt is served at once.
TEST(BoundedServerTest, APutWithoutABodyIsAnEmptyForm) {
  TServerRig rig({.RequestMs = 60000});
  const int s = rig.Open();
  send(s, Halt.data(), Halt.size(), MSG_NOSIGNAL);
  // The connection stays open: a reply means the server did not wait for a body.
  const std::string reply = morvane::test::ReadReply(s);
  close(s);
  EXPECT_TRUE(Ok(reply)) << reply;
  EXPECT_EQ(rig.Link.Stops.load(), 1);
  // Any verb and path: no worker waits for a body that has no length.
  for (const char* verb : {"PUT", "POST"}) {
    const std::string reply =
        rig.Exchange(std::string(verb) + " /nowhere HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
    EXPECT_EQ(reply.rfind("HTTP/1.1 404", 0), 0u) << verb << reply;
  }
}

// On loopback only loopback's names are answered, and no web page of another origin.
TEST(BoundedServerTest, ForeignHostsAndOriginsAreRefused) {
  TServerRig rig({});
  ASSERT_TRUE(Ok(rig.Exchange("PUT /api/v1/focuser/0/connect HTTP/1.1\r\n\r\n")));
  const std::string port = std::to_string(rig.Port);
  const std::string move =
      "PUT /api/v1/focuser/0/move HTTP/1.1\r\nContent-Type: application/x-www-form-urlencoded\r\n"
      "Content-Length: 10\r\n";
  for (const std::string& host :
       std::vector<std::string>{"127.0.0.1", "localhost:" + port, "[::1]:" + port}) {
    EXPECT_TRUE(Ok(rig.Exchange(move + "Host: " + host + "\r\n\r\nPosition=5"))) << host;
    EXPECT_TRUE(Ok(
        rig.Exchange(move + "Host: " + host + "\r\nOrigin: http://" + host + "\r\n\r\nPosition=5")))
        << host;
  }
  EXPECT_EQ(rig.Link.Moves.load(), 6);
  for (const std::string& head :
       std::vector<std::string>{"Host: attacker.test\r\n", "Host: attacker.test:" + port + "\r\n",
                                "Host: 127.0.0.1.attacker.test\r\n", "Host: localhost:1\r\n",
                                "Host: 127.0.0.1:" + port + "\r\nOrigin: http://attacker.test\r\n",
                                "Host: 127.0.0.1\r\nOrigin: null\r\n"}) {
    const std::string reply = rig.Exchange(move + head + "\r\nPosition=5");
    EXPECT_EQ(reply.rfind("HTTP/1.1 403", 0), 0u) << head << reply;
    EXPECT_NE(reply.find("text/plain"), std::string::npos) << reply;
  }
  EXPECT_EQ(rig.Link.Moves.load(), 6) << "a refused request moved the focuser";
}

// Slow senders wait in the gate, not on a worker: a halt is answered while more of them than
// workers are still sending, long before their deadline.
TEST(BoundedServerTest, SlowSendersHoldNoWorker) {
  TServerRig rig({.RequestMs = 60000, .KeepAliveMs = 60000, .Threads = 4, .MaxPerPeer = 64});
  std::vector<int> slow;
  for (int i = 0; i < 24; ++i) {
    slow.push_back(rig.Open());
    send(slow.back(), "PUT /api/v1/foc", 15, MSG_NOSIGNAL);
  }
  for (int i = 0; i < 3; ++i) {
    const int s = rig.Open();
    const std::string request = i == 0 ? Halt : Valid;
    send(s, request.data(), request.size(), MSG_NOSIGNAL);
    const std::string reply = morvane::test::ReadReply(s);
    EXPECT_EQ(reply.rfind("HTTP/1.1 200", 0), 0u) << "no reply behind slow senders: " << reply;
    close(s);
  }
  EXPECT_EQ(rig.Link.Stops.load(), 1);
  for (const int s : slow) {
    // Still held open: the replies above did not come from their being dropped.
    pollfd p{s, POLLIN, 0};
    EXPECT_EQ(poll(&p, 1, 0), 0);
    close(s);
  }
}

// One address holds at most MaxPerPeer connections: a new one pushes out its oldest partial
// request first, so that a client's slow connections cannot shut its next request out.
TEST(BoundedServerTest, APeersConnectionsAreBounded) {
  TServerRig rig({.RequestMs = 60000, .KeepAliveMs = 60000, .Threads = 4, .MaxPerPeer = 4});
  const int idle = rig.Open();
  EXPECT_EQ(send(idle, Valid.data(), Valid.size(), MSG_NOSIGNAL),
            static_cast<ssize_t>(Valid.size()));
  ASSERT_EQ(morvane::test::ReadReply(idle).rfind("HTTP/1.1 200", 0), 0u);
  std::vector<int> slow;
  for (int i = 0; i < 5; ++i) {
    slow.push_back(rig.Open());
    send(slow.back(), "GET /api/v1/foc", 15, MSG_NOSIGNAL);
  }
  // Four places: the idle one and three partial ones; the two oldest partial ones went.
  EXPECT_TRUE(ClosedByServer(slow[0]));
  EXPECT_TRUE(ClosedByServer(slow[1]));
  EXPECT_EQ(rig.Exchange(Valid).rfind("HTTP/1.1 200", 0), 0u);
  // The kept-alive connection is still served.
  send(idle, Valid.data(), Valid.size(), MSG_NOSIGNAL);
  EXPECT_EQ(morvane::test::ReadReply(idle).rfind("HTTP/1.1 200", 0), 0u)
      << "the idle connection was pushed out";
  close(idle);
  for (const int s : slow) close(s);
}

// After the stop no request starts, not even one already arriving, and kept-alive connections
// are closed.
TEST(BoundedServerTest, NothingStartsAfterTheStop) {
  TServerRig rig({.RequestMs = 60000, .KeepAliveMs = 60000});
  ASSERT_TRUE(Ok(rig.Exchange("PUT /api/v1/focuser/0/connect HTTP/1.1\r\n\r\n")));
  const int idle = rig.Open();
  send(idle, Valid.data(), Valid.size(), MSG_NOSIGNAL);
  ASSERT_EQ(morvane::test::ReadReply(idle).rfind("HTTP/1.1 200", 0), 0u);
  char reply[1024];
  const std::string move =
      "PUT /api/v1/focuser/0/move HTTP/1.1\r\nHost: 127.0.0.1\r\n"
      "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: 10\r\n\r\nPosition=5";
  const int arriving = rig.Open();
  send(arriving, move.data(), move.size() - 4, MSG_NOSIGNAL);
  rig.Server->Stop();
  send(arriving, move.data() + move.size() - 4, 4, MSG_NOSIGNAL);
  send(idle, move.data(), move.size(), MSG_NOSIGNAL);
  for (const int s : {idle, arriving}) {
    std::string got;
    ssize_t n;
    while ((n = recv(s, reply, sizeof reply, 0)) > 0) got.append(reply, static_cast<size_t>(n));
    EXPECT_EQ(got.find("HTTP/1.1 200"), std::string::npos) << got;
    close(s);
  }
  EXPECT_EQ(rig.Link.Moves.load(), 0) << "a move started after the stop";
  rig.Thread.join();
  rig.Thread = std::thread([] {});
}

}  // namespace
