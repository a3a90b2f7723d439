// The server's own settings file: the UniqueID made once and kept, values out of range
// ignored, the step size from Morvane's file.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "alpaca/AlpacaSettings.h"

using namespace morvane::alpaca;

namespace {

TEST(AlpacaSettingsTest, TheUniqueIdIsMadeOnceAndKept) {
  const auto dir = std::filesystem::temp_directory_path() /
                   ("morvane-alpaca-settings-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  const std::string path = (dir / "Alpaca.ini").string();
  std::ofstream(path) << "[Alpaca]\nPort=0\nMaxStep=-5\nDiscoveryPort=4000\nListen=10.0.0.2\n"
                      << "MorvaneSettings=" << (dir / "Morvane.ini").string() << "\n";
  std::ofstream(dir / "Morvane.ini")
      << "[FocusControl]\r\nCodesPerRev=1024\r\nTravelPerRev=0.5\r\n";
  std::string warning;
  const TAlpacaSettings first = LoadAlpacaSettings(path, warning);
  EXPECT_EQ(warning, "");
  EXPECT_EQ(first.UniqueID.size(), 36u);
  EXPECT_EQ(first.UniqueID[14], '4');
  EXPECT_EQ(first.Port, 11111);
  EXPECT_EQ(first.MaxStep, 10000);
  EXPECT_EQ(first.DiscoveryPort, 4000);
  EXPECT_EQ(first.Listen, "10.0.0.2");
  EXPECT_EQ(LoadAlpacaSettings(path, warning).UniqueID, first.UniqueID);
  EXPECT_NE(NewUniqueId(), first.UniqueID);
  EXPECT_DOUBLE_EQ(StepSizeUm(first.MorvaneSettings), 12.4023);
  EXPECT_DOUBLE_EQ(StepSizeUm((dir / "missing.ini").string()), 28.7734);
  std::filesystem::remove_all(dir);
}

}  // namespace
