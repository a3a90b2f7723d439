// Discovery in-process on a free loopback port: the port is shared with another Alpaca
// responder, the request is answered with the HTTP port, anything else is not.
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

#include "alpaca/Discovery.h"
#include "alpaca/FreeUdpPort.h"

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

TEST(DiscoveryTest, SharesThePortAndAnswersOnlyTheRequest) {
  const int port = morvane::test::FreeUdpPort();
  TDiscovery first("127.0.0.1", port, 11111);
  TDiscovery second("127.0.0.1", port, 22222);  // another Alpaca server on this host
  ASSERT_TRUE(first.Ok()) << first.Error();
  ASSERT_TRUE(second.Ok()) << second.Error();
  EXPECT_EQ(Ask(port, "hello"), "");
  EXPECT_EQ(Ask(port, "alpacadiscover"), "");
  const std::string answer = Ask(port, "alpacadiscovery1");
  EXPECT_TRUE(answer == "{\"AlpacaPort\":11111}" || answer == "{\"AlpacaPort\":22222}") << answer;
  EXPECT_EQ(first.Answered() + second.Answered(), 1u);
  EXPECT_FALSE(TDiscovery("not an address", port, 1).Ok());
}

}  // namespace
