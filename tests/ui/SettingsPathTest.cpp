#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "settings/SettingsPath.h"

namespace morvane {
namespace {

TEST(SettingsPath, BesideTheProgramWhenWritableElseTheUsersConfiguration) {
  EXPECT_EQ(SettingsPathFor("/opt/m/", true, "/x", "/home/a"), "/opt/m/Morvane.ini");
  EXPECT_EQ(SettingsPathFor("/usr/bin/", false, "/x/cfg", "/home/a"), "/x/cfg/Morvane/Morvane.ini");
  // Unset or relative: ~/.config.
  EXPECT_EQ(SettingsPathFor("/usr/bin/", false, "", "/home/a"),
            "/home/a/.config/Morvane/Morvane.ini");
  EXPECT_EQ(SettingsPathFor("/usr/bin/", false, "rel", "/home/a"),
            "/home/a/.config/Morvane/Morvane.ini");
}

TEST(SettingsPath, ASimulatedRunKeepsItsOwnFileBegunAsACopy) {
  EXPECT_EQ(SimulatorSettingsPathFor("/opt/m/Morvane.ini"), "/opt/m/Morvane-sim.ini");
  EXPECT_EQ(SimulatorSettingsPathFor("Morvane.ini"), "Morvane-sim.ini");

  const auto dir =
      std::filesystem::temp_directory_path() / ("morvane-sim-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  const std::string real = (dir / "Morvane.ini").string();
  std::ofstream(real) << "[Device/Ports]\nComPort=3\n";
  const std::string sim = SimulatorSettingsPath(real);
  EXPECT_EQ(sim, (dir / "Morvane-sim.ini").string());
  std::ofstream(sim, std::ios::app) << "Left=5\n";
  // Not copied again: the simulated run's own changes stay, and the real file is untouched.
  EXPECT_EQ(SimulatorSettingsPath(real), sim);
  std::stringstream simText, realText;
  simText << std::ifstream(sim).rdbuf();
  realText << std::ifstream(real).rdbuf();
  EXPECT_EQ(simText.str(), "[Device/Ports]\nComPort=3\nLeft=5\n");
  EXPECT_EQ(realText.str(), "[Device/Ports]\nComPort=3\n");
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace morvane
