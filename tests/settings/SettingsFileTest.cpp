#include "settings/SettingsFile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <filesystem>
#include <functional>
#include <iostream>
#include <random>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "SettingsTestSupport.h"
#include "settings/Profile.h"

namespace morvane {
namespace {

using test::ReadFileBytes;
using test::TFakeHost;
using test::TTempDir;
using test::WriteFileBytes;

const std::string DefaultFile =
    "[Device/Ports]\r\n"
    "ComPort=1\r\n"
    "Commands=1\r\n"
    "Voice=0\r\n"
    "\r\n"
    "[FocusControl]\r\n"
    "NudgeTime=0.015\r\n"
    "CloseNudgeTime=0.01\r\n"
    "NudgeDelay=0.15\r\n"
    "StopFactor=12\r\n"
    "CodesPerRev=512\r\n"
    "TravelPerRev=0.58\r\n"
    "ReverseDirection=0\r\n"
    "HiResPositioning=0\r\n"
    "KeepPosition=1\r\n"
    "StayOnTop=1\r\n"
    "\r\n"
    "[Position]\r\n";

std::string Describe(const TStagedSettings& s) {
  std::ostringstream out;
  out << "Port " << s.ComPortRG.ItemIndex() << ", Mode " << s.CommandRG.ItemIndex() << ", Voice "
      << s.VoiceRG.ItemIndex() << ", NudgeTime " << s.NudgeTimeSE.Value() << ", CloseNudgeTime "
      << s.CloseNudgeTimeSE.Value() << ", NudgeDelay " << s.NudgeDelaySE.Value() << ", StopFactor "
      << s.StopFactorSE.Value() << ", CodesPerRev " << s.CodesPerRevSE.Value() << ", TravelPerRev "
      << s.TravelPerRevSE.Value() << ", Reverse " << s.ReverseDirCB.Checked() << ", DualSense "
      << s.DualSenseCB.Checked() << ", SavePos " << s.SavePosCB.Checked();
  return out.str();
}

// Staged settings that differ in every item from the factory-default file.
TStagedSettings NonDefaultSettings() {
  TStagedSettings s;
  s.ComPortRG.SetItemIndex(4);
  s.CommandRG.SetItemIndex(0);
  s.NudgeTimeSE.SetValue(0.021);
  s.CloseNudgeTimeSE.SetValue(0.007);
  s.NudgeDelaySE.SetValue(0.2);
  s.StopFactorSE.SetValue(20);
  s.CodesPerRevSE.SetValue(1000);
  s.ReverseDirCB.SetChecked(true);
  s.TravelPerRevSE.SetValue(0.75);
  s.SavePosCB.SetChecked(true);
  s.VoiceRG.SetItemIndex(1);
  s.DualSenseCB.SetChecked(true);
  return s;
}

// Fails the n-th file replacement (counting from 1) as a full disk would.
class TFailNthReplacementOps : public TFileOps {
 public:
  explicit TFailNthReplacementOps(int n) : FFailAt(n) {}
  int Rename(const std::string& from, const std::string& to) override {
    if (++FRenames == FFailAt) {
      errno = ENOSPC;
      return -1;
    }
    return TFileOps::Rename(from, to);
  }
  int FRenames = 0;

 private:
  int FFailAt;
};

class SettingsFileTest : public testing::Test {
 protected:
  SettingsFileTest() : FLocale(test::NewCLocale()), FPath(FDir.File("Morvane.ini")) {}

  std::string Value(const char* section, const char* key) const {
    return GetProfileString(FPath, section, key).value_or("<absent>");
  }

  TStagedSettings LoadFrom(const std::string& text) {
    WriteFileBytes(FPath, text);
    TStagedSettings s;
    LoadSettings(FPath, s, FHost);
    return s;
  }

  test::TScopedNumericLocale FLocale;
  TTempDir FDir;
  const std::string FPath;
  TFakeHost FHost;
};

TEST_F(SettingsFileTest, MissingFileIsAnnouncedThenWrittenThenLoaded) {
  bool existedDuringMessage = true;
  FHost.FOnMessage = [&] { existedDuringMessage = FileExists(FPath); };
  TStagedSettings s;
  LoadSettings(FPath, s, FHost);

  EXPECT_FALSE(existedDuringMessage);
  EXPECT_EQ(FHost.FEvents,
            (std::vector<std::string>{
                "Message: MORVANE.INI is missing....  A factory default INI is being installed",
                "AppliedVoice=0"}));
  EXPECT_EQ(ReadFileBytes(FPath), DefaultFile);
  EXPECT_EQ(s.ComPortRG.ItemIndex(), 0);
  EXPECT_EQ(s.CommandRG.ItemIndex(), 1);
  EXPECT_EQ(s.VoiceRG.ItemIndex(), 0);
  EXPECT_EQ(s.NudgeTimeSE.Value(), 0.015);
  EXPECT_EQ(s.CloseNudgeTimeSE.Value(), 0.01);
  EXPECT_EQ(s.NudgeDelaySE.Value(), 0.15);
  EXPECT_EQ(s.StopFactorSE.Value(), 12);
  EXPECT_EQ(s.CodesPerRevSE.Value(), 512);
  EXPECT_EQ(s.TravelPerRevSE.Value(), 0.58);
  EXPECT_FALSE(s.ReverseDirCB.Checked());
  EXPECT_FALSE(s.DualSenseCB.Checked());
  EXPECT_FALSE(s.SavePosCB.Checked());
  EXPECT_EQ(FHost.FLeft, 346);
  EXPECT_EQ(FHost.FTop, 240);
}

TEST_F(SettingsFileTest, DefaultFileReplacesWhateverWasThere) {
  WriteFileBytes(FPath, "[Position]\r\nLeft=5\r\n" + std::string(1000, ';'));
  WriteDefaultSettingsFile(FPath);
  EXPECT_EQ(ReadFileBytes(FPath), DefaultFile);
}

TEST_F(SettingsFileTest, UnwritableDefaultFileStopsTheLoadBeforeReading) {
  WriteFileBytes(FDir.File("plain"), "x");
  const std::string path = FDir.File("plain/Morvane.ini");
  TStagedSettings s = NonDefaultSettings();
  try {
    LoadSettings(path, s, FHost);
    FAIL() << "no error raised";
  } catch (const ESettingsWriteError& e) {
    EXPECT_EQ(std::string(e.what()), "Unable to write to " + path + ": Not a directory");
  }
  EXPECT_EQ(Describe(s), Describe(NonDefaultSettings()));
  ASSERT_EQ(FHost.FEvents.size(), 1u);
  EXPECT_EQ(FHost.FEvents[0].rfind("Message: ", 0), 0u);
}

// Fails every write as a full disk does.
class TNoRoomOps : public TFileOps {
 public:
  ssize_t Write(int, const void*, size_t) override {
    errno = ENOSPC;
    return -1;
  }
};

TEST_F(SettingsFileTest, AFailedDefaultFileNamesTheSystemsReason) {
  const auto messageOf = [](const std::function<void()>& write) -> std::string {
    try {
      write();
    } catch (const ESettingsWriteError& e) {
      return e.what();
    }
    return "no error raised";
  };
  const std::string missing = FDir.File("gone/Morvane.ini");
  EXPECT_EQ(messageOf([&] { WriteDefaultSettingsFile(missing); }),
            "Unable to write to " + missing + ": No such file or directory");
  TNoRoomOps noRoom;
  EXPECT_EQ(messageOf([&] { WriteDefaultSettingsFile(FPath, noRoom); }),
            "Unable to write to " + FPath + ": No space left on device");
  EXPECT_TRUE(FDir.Names().empty());
  // A folder the user may not write, as an installed program's is.
  ASSERT_EQ(::chmod(FDir.Path().c_str(), 0555), 0);
  const int status = test::RunUnprivileged([&] {
    const std::string message = messageOf([&] { WriteDefaultSettingsFile(FPath); });
    return message == "Unable to write to " + FPath + ": Permission denied" ? 0 : 1;
  });
  ASSERT_EQ(::chmod(FDir.Path().c_str(), 0755), 0);
  EXPECT_EQ(status, 0) << "another message";
}

TEST_F(SettingsFileTest, AbsentKeysTakeTheirDefaultsNormalised) {
  const TStagedSettings s = LoadFrom("");
  EXPECT_EQ(Describe(s),
            "Port 0, Mode 1, Voice 0, NudgeTime 0.005, CloseNudgeTime 0.005, NudgeDelay 0.05, "
            "StopFactor 1, CodesPerRev 256, TravelPerRev 0.2, Reverse 0, DualSense 0, SavePos 0");
  EXPECT_EQ(FHost.FEvents, std::vector<std::string>{"AppliedVoice=0"});
  EXPECT_EQ(ReadFileBytes(FPath), "");
}

TEST_F(SettingsFileTest, PortAndModeChoicesAreClamped) {
  EXPECT_EQ(LoadFrom("[Device/Ports]\nComPort=0\n").ComPortRG.ItemIndex(), -1);
  EXPECT_EQ(LoadFrom("[Device/Ports]\nComPort=35\n").ComPortRG.ItemIndex(), 19);
  EXPECT_EQ(LoadFrom("[Device/Ports]\nComPort=20\n").ComPortRG.ItemIndex(), 19);
  EXPECT_EQ(LoadFrom("[Device/Ports]\nComPort=-2147483648\n").ComPortRG.ItemIndex(), -1);
  EXPECT_EQ(LoadFrom("[Device/Ports]\nComPort=0x3\n").ComPortRG.ItemIndex(), 2);
  EXPECT_EQ(LoadFrom("[Device/Ports]\nComPort=COM3\n").ComPortRG.ItemIndex(), 0);
  EXPECT_EQ(LoadFrom("[Device/Ports]\nCommands=7\n").CommandRG.ItemIndex(), 1);
  EXPECT_EQ(LoadFrom("[Device/Ports]\nCommands=-4\n").CommandRG.ItemIndex(), -1);
  EXPECT_EQ(LoadFrom("[Device/Ports]\nCommands=0\n").CommandRG.ItemIndex(), 0);
  EXPECT_EQ(LoadFrom("[Device/Ports]\nCommands=x\n").CommandRG.ItemIndex(), 1);
}

TEST_F(SettingsFileTest, NoPortSelectedIsSavedAsZero) {
  TStagedSettings s = LoadFrom(DefaultFile);
  s.ComPortRG.SetItemIndex(-1);
  SaveSettings(FPath, s);
  EXPECT_EQ(Value("Device/Ports", "ComPort"), "0");
  TStagedSettings again;
  LoadSettings(FPath, again, FHost);
  EXPECT_EQ(again.ComPortRG.ItemIndex(), -1);
}

TEST_F(SettingsFileTest, VoiceIsClampedAndBecomesTheAppliedVoice) {
  EXPECT_EQ(LoadFrom("[Device/Ports]\nVoice=5\n").VoiceRG.ItemIndex(), 2);
  EXPECT_EQ(FHost.FAppliedVoice, 2);
  EXPECT_EQ(LoadFrom("[Device/Ports]\nVoice=-3\n").VoiceRG.ItemIndex(), -1);
  EXPECT_EQ(FHost.FAppliedVoice, -1);
  EXPECT_EQ(LoadFrom("[Device/Ports]\nVoice=1\n").VoiceRG.ItemIndex(), 1);
  EXPECT_EQ(FHost.FAppliedVoice, 1);
}

TEST_F(SettingsFileTest, DecimalItemsAreClampedAndRounded) {
  EXPECT_EQ(LoadFrom("[FocusControl]\nNudgeTime=0.5\n").NudgeTimeSE.Value(), 0.1);
  EXPECT_EQ(LoadFrom("[FocusControl]\nNudgeTime=abc\n").NudgeTimeSE.Value(), 0.005);
  EXPECT_EQ(LoadFrom("[FocusControl]\nNudgeTime=0.0126\n").NudgeTimeSE.Value(), 0.013);
  EXPECT_EQ(LoadFrom("[FocusControl]\nNudgeTime=\n").NudgeTimeSE.Value(), 0.005);
  EXPECT_EQ(LoadFrom("[FocusControl]\nNudgeTime=-1\n").NudgeTimeSE.Value(), 0.005);
  EXPECT_EQ(LoadFrom("[FocusControl]\nCloseNudgeTime=0.0074\n").CloseNudgeTimeSE.Value(), 0.007);
  EXPECT_EQ(LoadFrom("[FocusControl]\nCloseNudgeTime=1\n").CloseNudgeTimeSE.Value(), 0.1);
  EXPECT_EQ(LoadFrom("[FocusControl]\nNudgeDelay=0.04\n").NudgeDelaySE.Value(), 0.05);
  EXPECT_EQ(LoadFrom("[FocusControl]\nNudgeDelay=0.3004\n").NudgeDelaySE.Value(), 0.3);
  EXPECT_EQ(LoadFrom("[FocusControl]\nNudgeDelay=\"0.25\"\n").NudgeDelaySE.Value(), 0.25);
  EXPECT_EQ(LoadFrom("[FocusControl]\nTravelPerRev=1.5\n").TravelPerRevSE.Value(), 1.0);
  EXPECT_EQ(LoadFrom("[FocusControl]\nTravelPerRev=0.1\n").TravelPerRevSE.Value(), 0.2);
  EXPECT_EQ(LoadFrom("[FocusControl]\nTravelPerRev=0,6\n").TravelPerRevSE.Value(), 0.2);
}

TEST_F(SettingsFileTest, WholeNumberItemsReadIntegersOnly) {
  EXPECT_EQ(LoadFrom("[FocusControl]\nStopFactor=0x0C\n").StopFactorSE.Value(), 12);
  EXPECT_EQ(LoadFrom("[FocusControl]\nStopFactor=0X1f\n").StopFactorSE.Value(), 31);
  EXPECT_EQ(LoadFrom("[FocusControl]\nStopFactor=99\n").StopFactorSE.Value(), 50);
  EXPECT_EQ(LoadFrom("[FocusControl]\nStopFactor=50\n").StopFactorSE.Value(), 50);
  EXPECT_EQ(LoadFrom("[FocusControl]\nStopFactor=12.5\n").StopFactorSE.Value(), 1);
  EXPECT_EQ(LoadFrom("[FocusControl]\nStopFactor=0x\n").StopFactorSE.Value(), 1);
  EXPECT_EQ(LoadFrom("[FocusControl]\nStopFactor=-3\n").StopFactorSE.Value(), 1);
  EXPECT_EQ(LoadFrom("[FocusControl]\nCodesPerRev=2000\n").CodesPerRevSE.Value(), 1024);
  EXPECT_EQ(LoadFrom("[FocusControl]\nCodesPerRev=0x200\n").CodesPerRevSE.Value(), 512);
  EXPECT_EQ(LoadFrom("[FocusControl]\nStopFactor=12\n").CodesPerRevSE.Value(), 256);
}

TEST_F(SettingsFileTest, FlagsAreIntegersTrueWhenNotZero) {
  EXPECT_TRUE(LoadFrom("[FocusControl]\nReverseDirection=7\n").ReverseDirCB.Checked());
  EXPECT_TRUE(LoadFrom("[FocusControl]\nReverseDirection=-1\n").ReverseDirCB.Checked());
  EXPECT_TRUE(LoadFrom("[FocusControl]\nReverseDirection=0x10\n").ReverseDirCB.Checked());
  EXPECT_FALSE(LoadFrom("[FocusControl]\nReverseDirection=0x0\n").ReverseDirCB.Checked());
  EXPECT_FALSE(LoadFrom("[FocusControl]\nReverseDirection=0\n").ReverseDirCB.Checked());
  EXPECT_FALSE(LoadFrom("[FocusControl]\nReverseDirection=true\n").ReverseDirCB.Checked());
  EXPECT_TRUE(LoadFrom("[FocusControl]\nHiResPositioning=1\n").DualSenseCB.Checked());
  EXPECT_FALSE(LoadFrom("[FocusControl]\nHiResPositioning=yes\n").DualSenseCB.Checked());
  EXPECT_TRUE(LoadFrom("[Position]\nSavePosition=2\n").SavePosCB.Checked());
}

TEST_F(SettingsFileTest, NonZeroFlagIsWrittenBackAsOne) {
  TStagedSettings s = LoadFrom("[FocusControl]\r\nReverseDirection=7\r\n");
  ASSERT_TRUE(s.ReverseDirCB.Checked());
  SaveSettings(FPath, s);
  EXPECT_EQ(Value("FocusControl", "ReverseDirection"), "1");
}

TEST_F(SettingsFileTest, SavedPositionMovesTheWindowLeftThenTop) {
  LoadFrom("[Position]\r\nSavePosition=1\r\nLeft=-100\r\nTop=0x20\r\n");
  EXPECT_EQ(FHost.FEvents, (std::vector<std::string>{"Left=-100", "Top=32", "AppliedVoice=0"}));
  FHost.FEvents.clear();
  LoadFrom("[Position]\r\nSavePosition=1\r\n");
  EXPECT_EQ(FHost.FEvents, (std::vector<std::string>{"Left=0", "Top=0", "AppliedVoice=0"}));
}

TEST_F(SettingsFileTest, PositionIsNotUsedWithoutSavePosition) {
  LoadFrom("[Position]\r\nSavePosition=0\r\nLeft=10\r\nTop=20\r\n");
  LoadFrom("[Position]\r\nLeft=10\r\nTop=20\r\n");
  EXPECT_EQ(FHost.FEvents, (std::vector<std::string>{"AppliedVoice=0", "AppliedVoice=0"}));
  EXPECT_EQ(FHost.FLeft, 346);
  EXPECT_EQ(FHost.FTop, 240);
}

TEST_F(SettingsFileTest, NamesInAnotherCaseReadTheSame) {
  std::string lower;
  for (char c : DefaultFile)
    lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  std::string upper;
  for (char c : DefaultFile)
    upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  const std::string expected = Describe(LoadFrom(DefaultFile));
  EXPECT_EQ(Describe(LoadFrom(lower)), expected);
  EXPECT_EQ(Describe(LoadFrom(upper)), expected);
  EXPECT_EQ(LoadFrom("[ focuscontrol ]\nnudgetime = 0.02\n").NudgeTimeSE.Value(), 0.02);
}

TEST_F(SettingsFileTest, SaveReplacesInPlaceAndAddsSavePosition) {
  WriteFileBytes(FPath, DefaultFile);
  SaveSettings(FPath, NonDefaultSettings());
  EXPECT_EQ(ReadFileBytes(FPath),
            "[Device/Ports]\r\n"
            "ComPort=5\r\n"
            "Commands=0\r\n"
            "Voice=1\r\n"
            "\r\n"
            "[FocusControl]\r\n"
            "NudgeTime=0.021\r\n"
            "CloseNudgeTime=0.007\r\n"
            "NudgeDelay=0.2\r\n"
            "StopFactor=20\r\n"
            "CodesPerRev=1000\r\n"
            "TravelPerRev=0.75\r\n"
            "ReverseDirection=1\r\n"
            "HiResPositioning=1\r\n"
            "KeepPosition=1\r\n"
            "StayOnTop=1\r\n"
            "\r\n"
            "[Position]\r\n"
            "SavePosition=1\r\n");
  EXPECT_EQ(FDir.Names(), std::vector<std::string>{"Morvane.ini"});
}

TEST_F(SettingsFileTest, SaveKeepsEveryOtherLineOfAHandEditedFile) {
  const std::string before =
      "; Focuser on the east pier\n"
      "[devices]\n"
      "COM5 = /dev/ttyUSB0\n"
      "\n"
      "[DEVICE/PORTS]\n"
      "comport = 2   \n"
      "; Direct wiring since 2019\n"
      "Commands=1\n"
      "\n"
      "[FocusControl]\n"
      "StayOnTop=0\n"
      "Extra=keep me\n"
      "\n"
      "[Position]\n"
      "Left=40\n"
      "Top=50\n";
  WriteFileBytes(FPath, before);
  SaveSettings(FPath, NonDefaultSettings());
  EXPECT_EQ(ReadFileBytes(FPath),
            "; Focuser on the east pier\n"
            "[devices]\n"
            "COM5 = /dev/ttyUSB0\n"
            "\n"
            "[DEVICE/PORTS]\n"
            "comport = 5   \n"
            "; Direct wiring since 2019\n"
            "Commands=0\n"
            "Voice=1\r\n"
            "\n"
            "[FocusControl]\n"
            "StayOnTop=0\n"
            "Extra=keep me\n"
            "NudgeTime=0.021\r\n"
            "CloseNudgeTime=0.007\r\n"
            "NudgeDelay=0.2\r\n"
            "StopFactor=20\r\n"
            "CodesPerRev=1000\r\n"
            "ReverseDirection=1\r\n"
            "TravelPerRev=0.75\r\n"
            "HiResPositioning=1\r\n"
            "\n"
            "[Position]\n"
            "Left=40\n"
            "Top=50\n"
            "SavePosition=1\r\n");
}

TEST_F(SettingsFileTest, SaveIsOneReplacementAndAFailedOneChangesNothing) {
  WriteFileBytes(FPath, DefaultFile);
  TFailNthReplacementOps ops(1);
  try {
    SaveSettings(FPath, NonDefaultSettings(), ops);
    ADD_FAILURE() << "no error raised";
  } catch (const ESettingsWriteError& e) {
    EXPECT_EQ(std::string(e.what()), "Unable to write to " + FPath);
  }
  EXPECT_EQ(ops.FRenames, 1);
  EXPECT_EQ(ReadFileBytes(FPath), DefaultFile);
  EXPECT_EQ(FDir.Names(), std::vector<std::string>{"Morvane.ini"});
  // Into no file: the keys in the order they were written one at a time before.
  ::unlink(FPath.c_str());
  SaveSettings(FPath, NonDefaultSettings());
  EXPECT_EQ(ReadFileBytes(FPath),
            "[Device/Ports]\r\nComPort=5\r\nCommands=0\r\nVoice=1\r\n[FocusControl]\r\n"
            "NudgeTime=0.021\r\nCloseNudgeTime=0.007\r\nNudgeDelay=0.2\r\nStopFactor=20\r\n"
            "CodesPerRev=1000\r\nReverseDirection=1\r\nTravelPerRev=0.75\r\n"
            "HiResPositioning=1\r\n[Position]\r\nSavePosition=1\r\n");
}

// Something other than a file where the settings file should be: the operator is told what,
// the factory settings are loaded, and nothing is written over it or beside it.
TEST_F(SettingsFileTest, ADirectoryOrDeviceInThePlaceOfTheFileIsNamedAndLeftAlone) {
  ASSERT_EQ(::mkdir(FPath.c_str(), 0755), 0);
  for (const auto& [path, what] : std::vector<std::pair<std::string, std::string>>{
           {FPath, "a directory"}, {"/dev/null", "a device"}}) {
    SCOPED_TRACE(path);
    FHost.FEvents.clear();
    TStagedSettings s = NonDefaultSettings();
    LoadSettings(path, s, FHost);
    EXPECT_EQ(FHost.FEvents, (std::vector<std::string>{
                                 "Message: The settings file " + path + " is " + what +
                                     ". Morvane runs with factory settings and leaves it as it is.",
                                 "AppliedVoice=0"}));
    EXPECT_EQ(s.CommandRG.ItemIndex(), 1);
    EXPECT_EQ(s.ComPortRG.ItemIndex(), 0);
    EXPECT_EQ(s.StopFactorSE.Value(), 12);
    EXPECT_THROW(SaveSettings(path, s), ESettingsWriteError);
    EXPECT_THROW(SaveWindowPosition(path, FHost), ESettingsWriteError);
  }
  EXPECT_EQ(FDir.Names(), std::vector<std::string>{"Morvane.ini"});
  EXPECT_TRUE(std::filesystem::is_empty(FPath));
}

TEST_F(SettingsFileTest, SaveToAReadOnlyFileRaisesAndChangesNothing) {
  WriteFileBytes(FPath, DefaultFile);
  ASSERT_EQ(::chmod(FPath.c_str(), 0444), 0);
  ASSERT_EQ(::chmod(FDir.Path().c_str(), 0777), 0);
  const int status = test::RunUnprivileged([&] {
    try {
      SaveSettings(FPath, NonDefaultSettings());
    } catch (const ESettingsWriteError& e) {
      return std::string(e.what()) == "Unable to write to " + FPath ? 0 : 2;
    }
    return 1;
  });
  EXPECT_EQ(status, 0) << "1: nothing raised; 2: another message";
  EXPECT_EQ(ReadFileBytes(FPath), DefaultFile);
}

TEST_F(SettingsFileTest, SaveWhereNoFileCanBeRaises) {
  WriteFileBytes(FDir.File("plain"), "x");
  const std::string path = FDir.File("plain/Morvane.ini");
  try {
    SaveSettings(path, NonDefaultSettings());
    FAIL() << "no error raised";
  } catch (const ESettingsWriteError& e) {
    EXPECT_EQ(std::string(e.what()), "Unable to write to " + path);
  }
}

TEST_F(SettingsFileTest, SaveOnAFullDiskRaisesAndKeepsTheFile) {
  WriteFileBytes(FPath, DefaultFile);
  std::string error;
  {
    test::TFileSizeLimit fullDisk(100);  // bytes, less than the file
    ASSERT_TRUE(fullDisk.Ok());
    try {
      SaveSettings(FPath, NonDefaultSettings());
    } catch (const ESettingsWriteError& e) {
      error = e.what();
    }
  }

  EXPECT_EQ(error, "Unable to write to " + FPath);
  EXPECT_EQ(ReadFileBytes(FPath), DefaultFile);
  EXPECT_EQ(FDir.Names(), std::vector<std::string>{"Morvane.ini"});
}

// A process saving two sets of settings by turns is killed at random moments: each file it
// leaves is wholly the one set or the other, and the next save clears the temporary files
// that the killed writers left.
TEST_F(SettingsFileTest, KilledSavesLeaveAWholeFileAndTheNextSaveNoTemporaryFile) {
  const TStagedSettings sets[2] = {NonDefaultSettings(), TStagedSettings()};
  std::string texts[2];
  for (int i : {0, 1}) {
    SaveSettings(FPath, sets[i]);
    texts[i] = ReadFileBytes(FPath);
  }
  std::mt19937 random(15);
  int mixed = 0;
  constexpr int Kills = 300;
  for (int kill = 0; kill < Kills; ++kill) {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      try {
        for (unsigned n = 0;; ++n) SaveSettings(FPath, sets[n % 2]);
      } catch (...) {
        ::_exit(1);
      }
    }
    ::usleep(random() % 3000);
    ::kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the saving process failed";
    mixed += ReadFileBytes(FPath) != texts[0] && ReadFileBytes(FPath) != texts[1];
  }
  std::cout << Kills << " kills: " << mixed << " files mixed\n";
  EXPECT_EQ(mixed, 0);
  SaveSettings(FPath, sets[0]);
  EXPECT_EQ(ReadFileBytes(FPath), texts[0]);
  EXPECT_EQ(FDir.Names(), std::vector<std::string>{"Morvane.ini"});
}

TEST_F(SettingsFileTest, SaveThenLoadGivesTheSameStagedSettings) {
  const TStagedSettings saved = NonDefaultSettings();
  SaveSettings(FPath, saved);
  TStagedSettings loaded;
  LoadSettings(FPath, loaded, FHost);
  EXPECT_EQ(Describe(loaded), Describe(saved));
  EXPECT_EQ(FHost.FAppliedVoice, 1);

  TStagedSettings edge;
  edge.ComPortRG.SetItemIndex(19);
  edge.CommandRG.SetItemIndex(-1);
  edge.VoiceRG.SetItemIndex(-1);
  edge.NudgeTimeSE.SetValue(0.1);
  edge.CloseNudgeTimeSE.SetValue(0.005);
  edge.NudgeDelaySE.SetValue(0.3);
  edge.StopFactorSE.SetValue(1);
  edge.CodesPerRevSE.SetValue(1024);
  edge.TravelPerRevSE.SetValue(0.2);
  edge.SavePosCB.SetChecked(false);
  SaveSettings(FPath, edge);
  LoadSettings(FPath, loaded, FHost);
  EXPECT_EQ(Describe(loaded), Describe(edge));
}

TEST_F(SettingsFileTest, WindowPositionIsWrittenLeftThenTop) {
  WriteFileBytes(FPath, DefaultFile);
  FHost.FLeft = -1280;
  FHost.FTop = 15;
  SaveWindowPosition(FPath, FHost);
  EXPECT_EQ(ReadFileBytes(FPath), DefaultFile + "Left=-1280\r\nTop=15\r\n");

  FHost.FLeft = 7;
  FHost.FTop = 8;
  TFailNthReplacementOps ops(1);
  EXPECT_THROW(SaveWindowPosition(FPath, FHost, ops), ESettingsWriteError);
  EXPECT_EQ(Value("Position", "Left"), "-1280");
  EXPECT_EQ(Value("Position", "Top"), "15");
}

TEST_F(SettingsFileTest, WindowPositionIsUsedOnlyWithSavePosition) {
  WriteFileBytes(FPath, DefaultFile);
  FHost.FLeft = 11;
  FHost.FTop = 22;
  SaveWindowPosition(FPath, FHost);
  FHost.FLeft = FHost.FTop = 500;
  TStagedSettings s;
  LoadSettings(FPath, s, FHost);
  EXPECT_EQ(FHost.FLeft, 500);
  s.SavePosCB.SetChecked(true);
  SaveSettings(FPath, s);
  LoadSettings(FPath, s, FHost);
  EXPECT_EQ(FHost.FLeft, 11);
  EXPECT_EQ(FHost.FTop, 22);
}

TEST_F(SettingsFileTest, StayOnTopWithoutAFileIsANormalWindowAndWritesNothing) {
  EXPECT_FALSE(ReadStayOnTopAtStartUp(FPath));
  EXPECT_FALSE(FileExists(FPath));
  EXPECT_TRUE(FDir.Names().empty());
}

TEST_F(SettingsFileTest, StayOnTopIsAddedWhenMissingAndThenRead) {
  WriteFileBytes(FPath, "[FocusControl]\r\nStopFactor=12\r\n\r\n[Position]\r\n");
  EXPECT_TRUE(ReadStayOnTopAtStartUp(FPath));
  EXPECT_EQ(ReadFileBytes(FPath),
            "[FocusControl]\r\nStopFactor=12\r\nStayOnTop=1\r\n\r\n[Position]\r\n");

  WriteFileBytes(FPath, "[Position]\r\n");
  EXPECT_TRUE(ReadStayOnTopAtStartUp(FPath));
  EXPECT_EQ(ReadFileBytes(FPath), "[Position]\r\n[FocusControl]\r\nStayOnTop=1\r\n");
}

TEST_F(SettingsFileTest, StoredStayOnTopIsReadAndLeftAlone) {
  for (const auto& [text, expected] :
       std::vector<std::pair<std::string, bool>>{{"[FocusControl]\r\nStayOnTop=0\r\n", false},
                                                 {"[focuscontrol]\r\nstayontop=2\r\n", true},
                                                 {"[FocusControl]\r\nStayOnTop=\r\n", true},
                                                 {"[FocusControl]\r\nStayOnTop=no\r\n", true}}) {
    WriteFileBytes(FPath, text);
    EXPECT_EQ(ReadStayOnTopAtStartUp(FPath), expected) << text;
    EXPECT_EQ(ReadFileBytes(FPath), text);
  }
}

TEST_F(SettingsFileTest, StayOnTopOnAReadOnlyFileDoesNotStopTheStart) {
  WriteFileBytes(FPath, "[FocusControl]\r\n");
  ASSERT_EQ(::chmod(FPath.c_str(), 0444), 0);
  ASSERT_EQ(::chmod(FDir.Path().c_str(), 0755), 0);
  const int status = test::RunUnprivileged([&] { return ReadStayOnTopAtStartUp(FPath) ? 0 : 1; });
  EXPECT_EQ(status, 0);
  EXPECT_EQ(ReadFileBytes(FPath), "[FocusControl]\r\n");
}

}  // namespace
}  // namespace morvane
