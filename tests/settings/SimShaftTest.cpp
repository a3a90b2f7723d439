// The simulated focuser's shaft kept across runs: only the file this program writes is taken,
// and an angle written reads back as the same angle.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "SettingsTestSupport.h"
#include "settings/SimShaft.h"

namespace morvane {
namespace {

TEST(SimShaftTest, OnlyTheFileThisProgramWritesIsTaken) {
  struct TCase {
    const char* Text;
    std::optional<double> Shaft;
  };
  const TCase cases[] = {
      {"Shaft=500.125\n", 500.125},
      {"# comment\r\nShaft=-12.5\r\n", -12.5},
      {"Shaft=0", 0.0},
      {"Shaft=1e8\n", 1e8},
      {"Shaft=-100000001\n", std::nullopt},  // beyond any travel
      {"Shaft=nan\n", std::nullopt},
      {"Shaft=inf\n", std::nullopt},
      {"Shaft=\n", std::nullopt},
      {"Shaft= 5\n", std::nullopt},
      {"Shaft=5,5\n", std::nullopt},
      {"Shaft=5\nShaft=6\n", std::nullopt},
      {"Shaft=5\nCount=5\n", std::nullopt},
      {"Count=5\nClosed=1\n", std::nullopt},  // a kept count is no shaft
      {"", std::nullopt},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Text);
    EXPECT_EQ(ParseSimShaft(c.Text), c.Shaft);
  }
  // Written, an angle reads back exactly: the encoder's quarter cycle depends on its last bit.
  for (double shaft : {0.125, 500.37481234567891, -20480.0, 0.1 + 0.2, 1e-9, -0.0}) {
    SCOPED_TRACE(shaft);
    EXPECT_EQ(ParseSimShaft(FormatSimShaft(shaft)), shaft);
  }
}

TEST(SimShaftTest, BesideTheSimulatorsSettingsFile) {
  EXPECT_EQ(SimShaftPathFor("/x/Morvane-sim.ini"), "/x/Morvane-sim-shaft.txt");
  test::TTempDir dir;
  const std::string path = SimShaftPathFor(dir.File("Morvane-sim.ini"));
  EXPECT_EQ(ReadSimShaft(path), std::nullopt);
  ASSERT_TRUE(WriteSimShaft(path, 500.375));
  EXPECT_EQ(ReadSimShaft(path), 500.375);
  test::WriteFileBytes(path, "Sha");
  EXPECT_EQ(ReadSimShaft(path), std::nullopt);
}

}  // namespace
}  // namespace morvane
