#include "platform/Broadcast.h"

#include <dbus/dbus.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <map>
#include <optional>
#include <set>
#include <thread>
#include <vector>

#include "platform/HelperProcess.h"
#include "platform/Timing.h"
#include "support/BusListener.h"

namespace morvane {
namespace {

using test::TBusListener;
using test::TReceived;

// The table is process-wide and other cases register too, so every case uses names of its own.
std::string UniqueMessageName(const std::string& what) {
  static std::atomic<int> counter{0};
  return "TEST_" + what + "_" + std::to_string(getpid()) + "_" + std::to_string(counter++);
}

TEST(RegisterWindowMessage, GivesIdsFromC000InOrderOfFirstRegistration) {
  const uint32_t first = RegisterWindowMessage(UniqueMessageName("FIRST"));
  const uint32_t second = RegisterWindowMessage(UniqueMessageName("SECOND"));
  EXPECT_GE(first, 0xC000u);
  EXPECT_LE(second, 0xFFFFu);
  EXPECT_EQ(second, first + 1);
}

TEST(RegisterWindowMessage, SameNameInAnyCaseGivesTheSameId) {
  const std::string name = UniqueMessageName("Mixed_Case");
  const uint32_t id = RegisterWindowMessage(name);
  std::string upper = name;
  std::transform(upper.begin(), upper.end(), upper.begin(), ::toupper);
  std::string lower = name;
  std::transform(lower.begin(), lower.end(), lower.begin(), ::tolower);
  EXPECT_EQ(RegisterWindowMessage(upper), id);
  EXPECT_EQ(RegisterWindowMessage(lower), id);
  EXPECT_EQ(RegisterWindowMessage(name), id);
  EXPECT_EQ(RegisteredMessageName(id), name);  // the spelling of the first registration
  EXPECT_NE(RegisterWindowMessage(name + "_"), id);
}

TEST(RegisterWindowMessage, EmptyNameAndUnknownIdsGiveNothing) {
  EXPECT_EQ(RegisterWindowMessage(""), 0u);
  EXPECT_EQ(RegisteredMessageName(0), "");
  EXPECT_EQ(RegisteredMessageName(0xBFFF), "");
  EXPECT_EQ(RegisteredMessageName(0xFFFF), "");
}

TEST(RegisterWindowMessage, ConcurrentRegistrationsAgree) {
  std::vector<std::string> names;
  for (int i = 0; i < 40; ++i) names.push_back(UniqueMessageName("CONCURRENT"));
  std::vector<std::vector<uint32_t>> ids(6, std::vector<uint32_t>(names.size()));
  std::vector<std::thread> threads;
  for (size_t t = 0; t < ids.size(); ++t) {
    threads.emplace_back([&, t] {
      for (size_t k = 0; k < names.size(); ++k) {
        const size_t i = (t % 2 == 0) ? k : names.size() - 1 - k;  // half of them backwards
        ids[t][i] = RegisterWindowMessage(names[i]);
      }
    });
  }
  for (auto& thread : threads) thread.join();
  std::set<uint32_t> distinct;
  for (size_t i = 0; i < names.size(); ++i) {
    for (size_t t = 1; t < ids.size(); ++t) EXPECT_EQ(ids[t][i], ids[0][i]);
    distinct.insert(ids[0][i]);
    EXPECT_EQ(RegisteredMessageName(ids[0][i]), names[i]);
  }
  ASSERT_EQ(distinct.size(), names.size());
  EXPECT_EQ(*distinct.rbegin() - *distinct.begin(), names.size() - 1);  // no gaps
}

class BusBroadcastTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    if (!address || !*address) GTEST_SKIP() << "no session bus (run under dbus-run-session)";
    ASSERT_TRUE(TBusListener::Instance().Ok());
  }

  std::optional<TReceived> Next() { return TBusListener::Instance().Next(FTag); }

  const std::string FTag = UniqueMessageName("TAG") + " ";
};

TEST_F(BusBroadcastTest, SignalCarriesTheNameTextAndLParam) {
  const uint32_t id = RegisterWindowMessage("KS_MESSAGE");
  BusBroadcast(id, FTag + ":F-#", 1);
  const auto got = Next();
  ASSERT_TRUE(got.has_value());
  EXPECT_EQ(got->Member, "KS_MESSAGE");
  EXPECT_EQ(got->Path, MorvaneObjectPath);
  EXPECT_EQ(got->Interface, BroadcastInterface);
  EXPECT_EQ(got->Text, FTag + ":F-#");
  EXPECT_EQ(got->LParam, 1);
}

TEST_F(BusBroadcastTest, BroadcastsArriveInOrder) {
  const uint32_t id = RegisterWindowMessage("MESSAGE_LOGGER");
  for (int i = 0; i < 5; ++i) BusBroadcast(id, FTag + "line " + std::to_string(i), -i);
  for (int i = 0; i < 5; ++i) {
    const auto got = Next();
    ASSERT_TRUE(got.has_value());
    EXPECT_EQ(got->Member, "MESSAGE_LOGGER");
    EXPECT_EQ(got->Text, FTag + "line " + std::to_string(i));
    EXPECT_EQ(got->LParam, -i);
  }
}

TEST_F(BusBroadcastTest, UnknownIdsAndNamesTheBusRefusesSendNothing) {
  BusBroadcast(0xBFFF, FTag + "unregistered", 5);
  BusBroadcast(RegisterWindowMessage(UniqueMessageName("bad-member")), FTag + "not a member name",
               6);
  BusBroadcast(RegisterWindowMessage("AA_KS_MSG"), FTag + "marker", 7);
  const auto got = Next();
  ASSERT_TRUE(got.has_value());
  EXPECT_EQ(got->Text, FTag + "marker");  // the first that arrives
  EXPECT_EQ(got->LParam, 7);
}

TEST_F(BusBroadcastTest, TextThatIsNotUtf8IsRepairedNotDropped) {
  const uint32_t id = RegisterWindowMessage("KS_MSG");
  BusBroadcast(id,
               FTag +
                   "a\xff"
                   "b\xc3\xa9"
                   "c\xe2\x82",
               3);
  BusBroadcast(id, FTag + std::string("cut\0here", 8), 4);
  auto got = Next();
  ASSERT_TRUE(got.has_value());
  EXPECT_EQ(got->Text, FTag +
                           "a?b\xc3\xa9"
                           "c??");
  got = Next();
  ASSERT_TRUE(got.has_value());
  EXPECT_EQ(got->Text, FTag + "cut");
}

// Run in a fresh process: this one may already hold a connection.
TEST(BusBroadcastWithoutBus, ReturnsSilently) {
  std::string output;
  int status = test::RunHelper({"broadcast", "KS_MESSAGE", "no bus", "1"}, &output,
                               {"DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent/morvane-bus"});
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(output, "");
  status =
      test::RunHelper({"broadcast", "KS_MESSAGE", "no bus", "1"}, &output,
                      {"DBUS_SESSION_BUS_ADDRESS=", "XDG_RUNTIME_DIR=/nonexistent", "DISPLAY=:99"});
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(output, "");
}

}  // namespace
}  // namespace morvane
