// Discovery in-process on a free loopback port: the port is shared with another Alpaca
// responder, the request is answered with the HTTP port, anything else is not.
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

#include "alpaca/Discovery.h"
#include "support/FreePort.h"

using namespace morvane::alpaca;

namespace {

// The answer to one datagram, or "" after a second of silence.
std::string Ask(int port, const std::string& datagram) {
  const int s = socket(AF_INET, SOCK_DGRAM, 0);
  timeval wait{1, 0};
  setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(static_cast<uint16_t>(port));
  to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  sendto(s, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
  char answer[128];
  const ssize_t n = recv(s, answer, sizeof answer, 0);
  close(s);
  return n > 0 ? std::string(answer, static_cast<size_t>(n)) : std::string();
}

// Another responder bound first with either option alone: the port is still shared.
int BindOther(int port, int option) {
  const int s = socket(AF_INET, SOCK_DGRAM, 0);
  const int on = 1;
  setsockopt(s, SOL_SOCKET, option, &on, sizeof on);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  EXPECT_EQ(bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  return s;
}

TEST(DiscoveryTest, SharesThePortAndAnswersOnlyTheRequest) {
  for (const int option : {SO_REUSEADDR, SO_REUSEPORT}) {
    const int port = morvane::test::FreeUdpPort();
    const int other = BindOther(port, option);
    EXPECT_TRUE(TDiscovery("127.0.0.1", port, 1).Ok()) << "option " << option;
    close(other);
  }
  const int port = morvane::test::FreeUdpPort();
  TDiscovery discovery("127.0.0.1", port, 11111);
  ASSERT_TRUE(discovery.Ok()) << discovery.Error();
  EXPECT_EQ(Ask(port, "hello"), "");
  EXPECT_EQ(Ask(port, "alpacadiscover"), "");
  EXPECT_EQ(Ask(port, "alpacadiscovery1"), "{\"AlpacaPort\":11111}");
  EXPECT_EQ(discovery.Answered(), 1u);
  EXPECT_FALSE(TDiscovery("not an address", port, 1).Ok());
}

}  // namespace
