// The run log: where it lies, and that it stays within its bound however much is written.

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "settings/RunLog.h"

namespace morvane {
namespace {

namespace fs = std::filesystem;

TEST(RunLogPathFor, StateFolderForInstalledSettingsElseBesideThem) {
  struct TCase {
    std::string Ini, ConfigHome, StateHome, Home, Expected;
  };
  const std::vector<TCase> cases = {
      {"/h/.config/Morvane/Morvane.ini", "", "", "/h", "/h/.local/state/morvane/morvane.log"},
      {"/c/Morvane/Morvane.ini", "/c", "/s", "/h", "/s/morvane/morvane.log"},
      {"/c/Morvane/Morvane-sim.ini", "/c", "/s", "/h", "/s/morvane/morvane-sim.log"},
      // A relative variable is no base folder: home's default is used.
      {"/h/.config/Morvane/Morvane.ini", "rel", "rel", "/h", "/h/.local/state/morvane/morvane.log"},
      // A portable copy, a test's folder: beside the settings.
      {"/opt/m/Morvane.ini", "/c", "/s", "/h", "/opt/m/morvane.log"},
      {"/tmp/t/Morvane-sim.ini", "", "", "/h", "/tmp/t/morvane-sim.log"},
      {"/c/Morvane/Morvane.ini", "", "", "", "/c/Morvane/morvane.log"},
  };
  for (const TCase& c : cases)
    EXPECT_EQ(RunLogPathFor(c.Ini, c.ConfigHome, c.StateHome, c.Home), c.Expected) << c.Ini;
}

class RunLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Dir = fs::temp_directory_path() / ("morvane-runlog-" + std::to_string(getpid()));
    fs::remove_all(Dir);
    fs::create_directories(Dir);
    Path = (Dir / "morvane.log").string();
  }
  void TearDown() override { fs::remove_all(Dir); }
  static std::string Read(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  fs::path Dir;
  std::string Path;
};

TEST_F(RunLogTest, RotationKeepsAtMostKeepFilesEachWithinTheBound) {
  constexpr uintmax_t MaxBytes = 1000;
  {
    TRunLog log(Path, MaxBytes, 3);
    for (int i = 0; i < 200; ++i) log.Write("line " + std::to_string(i));
  }
  std::vector<std::string> files;
  for (const auto& e : fs::directory_iterator(Dir)) files.push_back(e.path().filename().string());
  std::sort(files.begin(), files.end());
  EXPECT_EQ(files, (std::vector<std::string>{"morvane.log", "morvane.log.1", "morvane.log.2"}));
  for (const std::string& f : files) EXPECT_LE(fs::file_size(Dir / f), MaxBytes) << f;
  // The newest line last in the file written now; the files before it hold the lines before.
  const std::string now = Read(Path);
  EXPECT_NE(now.find(" line 199\n"), std::string::npos);
  const std::string before = Read(Path + ".1");
  const size_t last = before.rfind(" line ");
  const int lastBefore = std::stoi(before.substr(last + 6));
  const size_t first = now.find(" line ");
  EXPECT_EQ(std::stoi(now.substr(first + 6)), lastBefore + 1);
  EXPECT_EQ(Read(Path + ".2").find(" line 0\n"), std::string::npos);  // the oldest are gone

  // A log opened again goes on from the file's size, within the same bound.
  {
    TRunLog log(Path, MaxBytes, 3);
    for (int i = 200; i < 260; ++i) log.Write("line " + std::to_string(i));
  }
  EXPECT_LE(fs::file_size(Path), MaxBytes);
  EXPECT_FALSE(fs::exists(Path + ".3"));
}

TEST_F(RunLogTest, ALineIsTimeStampedAndALogThatCannotBeWrittenIsQuiet) {
  {
    TRunLog log(Path);
    log.Write("Port COM 1 (/dev/ttyUSB0) open");
  }
  const std::string text = Read(Path);
  // "YYYY-MM-DD hh:mm:ss.mmm+zzzz line\n"
  ASSERT_GT(text.size(), 29u);
  EXPECT_EQ(text[4], '-');
  EXPECT_EQ(text[10], ' ');
  EXPECT_EQ(text[19], '.');
  EXPECT_EQ(text.substr(text.find(' ', 11) + 1), "Port COM 1 (/dev/ttyUSB0) open\n");
  TRunLog nowhere((Dir / "no-such-folder" / "morvane.log").string());
  nowhere.Write("lost");  // no throw, no file
  EXPECT_FALSE(fs::exists(Dir / "no-such-folder"));
}

}  // namespace
}  // namespace morvane
