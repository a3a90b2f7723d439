#include <gtest/gtest.h>

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

}  // namespace
}  // namespace morvane
