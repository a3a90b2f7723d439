// The HTTP side in-process on a fake link: what one client may hold (size, header lines,
// time), and a seeded fuzz of whole requests through the library's parser and ours.
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <random>
#include <thread>

#include "alpaca/AlpacaServer.h"
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
  TLinkReply MoveTo(int32_t) override { return {}; }
  TLinkReply Stop() override { return {}; }
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

const std::string Valid = "GET /api/v1/focuser/0/name HTTP/1.1\r\nHost: x\r\n\r\n";

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
