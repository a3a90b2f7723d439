#include "settings/SettingsFile.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string_view>

#include "settings/Profile.h"
#include "settings/ValueText.h"

namespace morvane {

namespace {

constexpr std::string_view DevicePorts = "Device/Ports";
constexpr std::string_view FocusControl = "FocusControl";
constexpr std::string_view Position = "Position";

int ReadInteger(const TProfileText& profile, std::string_view section, std::string_view key,
                int defaultValue) {
  const std::optional<std::string> text = profile.ReadString(section, key);
  const std::optional<int> value = text ? ParseIntegerText(*text) : std::nullopt;
  return value.value_or(defaultValue);
}

bool ReadFlag(const TProfileText& profile, std::string_view section, std::string_view key,
              bool defaultValue) {
  return ReadInteger(profile, section, key, defaultValue ? 1 : 0) != 0;
}

double ReadDecimal(const TProfileText& profile, std::string_view section, std::string_view key,
                   double defaultValue, std::string_view separator) {
  const std::optional<std::string> text = profile.ReadString(section, key);
  const std::optional<double> value = text ? ParseDecimalText(*text, separator) : std::nullopt;
  return value.value_or(defaultValue);
}

// Edits the file's text in memory; Commit replaces the file with the whole result at once, so
// that a save interrupted at any point leaves the old file or the new one, never a mixture.
class TSettingsWriter {
 public:
  TSettingsWriter(const std::string& iniPath, TFileOps& ops) : FPath(iniPath), FOps(ops) {
    const TFileRead read = ReadWholeFile(FPath, FOld);
    // A file that is there but cannot be read must not be replaced by one holding only these keys.
    if (read == TFileRead::frFailed) throw ESettingsWriteError(FPath);
    FExisted = read == TFileRead::frRead;
    FProfile = TProfileText(FOld);
  }

  void WriteString(std::string_view section, std::string_view key, std::string_view value) {
    if (!FProfile.WriteString(section, key, value)) throw ESettingsWriteError(FPath);
  }
  void WriteInteger(std::string_view section, std::string_view key, std::int64_t value) {
    WriteString(section, key, std::to_string(value));
  }
  void WriteFlag(std::string_view section, std::string_view key, bool value) {
    WriteString(section, key, value ? "1" : "0");
  }
  void WriteDecimal(std::string_view section, std::string_view key, double value) {
    WriteString(section, key, FormatDecimal(value, DecimalSeparator()));
  }

  void Commit() {
    if (FExisted && FProfile.Text() == FOld) {
      RemoveStaleTemps(FPath);  // what a killed save left, even when nothing changes now
      return;
    }
    if (!ReplaceWholeFile(FPath, FProfile.Text(), FOps)) throw ESettingsWriteError(FPath);
  }

 private:
  const std::string& FPath;
  TFileOps& FOps;
  std::string FOld;
  bool FExisted = false;
  TProfileText FProfile;
};

}  // namespace

ESettingsWriteError::ESettingsWriteError(const std::string& iniPath, int error)
    : std::runtime_error("Unable to write to " + iniPath +
                         (error != 0 ? ": " + std::string(std::strerror(error)) : "")),
      FError(error) {}

namespace {

std::string NotAFileMessage(const std::string& iniPath, TPathKind kind) {
  const char* what = kind == TPathKind::pkDirectory ? "a directory"
                     : kind == TPathKind::pkDevice  ? "a device"
                                                    : "not a regular file";
  return "The settings file " + iniPath + " is " + what +
         ". Morvane runs with factory settings and leaves it as it is.";
}

}  // namespace

void LoadSettings(const std::string& iniPath, TStagedSettings& staged, TSettingsHost& host,
                  TFileOps& ops) {
  const TPathKind kind = PathKind(iniPath);
  TProfileText profile;
  if (kind == TPathKind::pkFile) {
    profile = ReadProfileFile(iniPath);
  } else if (kind == TPathKind::pkNothing) {
    host.ShowInformationMessage(MissingSettingsFileMessage);
    WriteDefaultSettingsFile(iniPath, ops);
    profile = ReadProfileFile(iniPath);
  } else {
    // Something that is no settings file stands there: nothing is written over it, and the
    // program runs on the factory settings (the port opens) with the operator told why.
    host.ShowInformationMessage(NotAFileMessage(iniPath, kind));
    profile = TProfileText(FactorySettingsText());
  }
  const std::string separator = DecimalSeparator();

  staged.SavePosCB.SetChecked(ReadFlag(profile, Position, "SavePosition", false));
  if (staged.SavePosCB.Checked()) {
    host.SetLeft(ReadInteger(profile, Position, "Left", 0));
    host.SetTop(ReadInteger(profile, Position, "Top", 0));
  }
  staged.CommandRG.SetItemIndex(ReadInteger(profile, DevicePorts, "Commands", 1));
  // In 64 bits, so that the lowest integer does not wrap round to the highest port.
  const std::int64_t port = std::int64_t{ReadInteger(profile, DevicePorts, "ComPort", 1)} - 1;
  staged.ComPortRG.SetItemIndex(port < -1 ? -1 : static_cast<int>(port));
  staged.NudgeTimeSE.SetValue(ReadDecimal(profile, FocusControl, "NudgeTime", 0, separator));
  staged.CloseNudgeTimeSE.SetValue(
      ReadDecimal(profile, FocusControl, "CloseNudgeTime", 0, separator));
  staged.NudgeDelaySE.SetValue(ReadDecimal(profile, FocusControl, "NudgeDelay", 0, separator));
  staged.StopFactorSE.SetValue(ReadInteger(profile, FocusControl, "StopFactor", 0));
  staged.CodesPerRevSE.SetValue(ReadInteger(profile, FocusControl, "CodesPerRev", 0));
  staged.TravelPerRevSE.SetValue(ReadDecimal(profile, FocusControl, "TravelPerRev", 0, separator));
  staged.ReverseDirCB.SetChecked(ReadFlag(profile, FocusControl, "ReverseDirection", false));
  staged.VoiceRG.SetItemIndex(ReadInteger(profile, DevicePorts, "Voice", 0));
  host.SetAppliedVoice(staged.VoiceRG.ItemIndex());
  staged.DualSenseCB.SetChecked(ReadFlag(profile, FocusControl, "HiResPositioning", false));
}

void SaveSettings(const std::string& iniPath, const TStagedSettings& staged, TFileOps& ops) {
  TSettingsWriter w(iniPath, ops);
  w.WriteInteger(DevicePorts, "ComPort", std::int64_t{staged.ComPortRG.ItemIndex()} + 1);
  w.WriteInteger(DevicePorts, "Commands", staged.CommandRG.ItemIndex());
  w.WriteDecimal(FocusControl, "NudgeTime", staged.NudgeTimeSE.Value());
  w.WriteDecimal(FocusControl, "CloseNudgeTime", staged.CloseNudgeTimeSE.Value());
  w.WriteDecimal(FocusControl, "NudgeDelay", staged.NudgeDelaySE.Value());
  w.WriteInteger(FocusControl, "StopFactor", staged.StopFactorSE.AsInteger());
  w.WriteInteger(FocusControl, "CodesPerRev", staged.CodesPerRevSE.AsInteger());
  w.WriteFlag(FocusControl, "ReverseDirection", staged.ReverseDirCB.Checked());
  w.WriteDecimal(FocusControl, "TravelPerRev", staged.TravelPerRevSE.Value());
  w.WriteFlag(Position, "SavePosition", staged.SavePosCB.Checked());
  w.WriteInteger(DevicePorts, "Voice", staged.VoiceRG.ItemIndex());
  w.WriteFlag(FocusControl, "HiResPositioning", staged.DualSenseCB.Checked());
  w.Commit();
}

void SaveWindowPosition(const std::string& iniPath, const TSettingsHost& host, TFileOps& ops) {
  TSettingsWriter w(iniPath, ops);
  w.WriteInteger(Position, "Left", host.Left());
  w.WriteInteger(Position, "Top", host.Top());
  w.Commit();
}

std::string FactorySettingsText() {
  const std::string separator = DecimalSeparator();
  std::string text;
  auto line = [&text](std::string_view a, std::string_view b = {}) {
    text.append(a).append(b).append("\r\n");
  };
  line("[Device/Ports]");
  line("ComPort=1");
  line("Commands=1");
  line("Voice=0");
  line("");
  line("[FocusControl]");
  line("NudgeTime=", FormatDecimal(0.015, separator));
  line("CloseNudgeTime=", FormatDecimal(0.01, separator));
  line("NudgeDelay=", FormatDecimal(0.15, separator));
  line("StopFactor=", std::to_string(12));
  line("CodesPerRev=512");
  line("TravelPerRev=0.58");
  line("ReverseDirection=0");
  line("HiResPositioning=0");
  line("KeepPosition=1");
  line("StayOnTop=1");
  line("");
  line("[Position]");
  return text;
}

void WriteDefaultSettingsFile(const std::string& iniPath, TFileOps& ops) {
  if (!ReplaceWholeFile(iniPath, FactorySettingsText(), ops))
    throw ESettingsWriteError(iniPath, errno);
}

bool ReadStayOnTopAtStartUp(const std::string& iniPath, TFileOps& ops) {
  if (!FileExists(iniPath)) return false;
  if (!ReadProfileFile(iniPath).KeyExists(FocusControl, "StayOnTop"))
    WriteProfileString(iniPath, FocusControl, "StayOnTop", "1", ops);
  return ReadFlag(ReadProfileFile(iniPath), FocusControl, "StayOnTop", true);
}

}  // namespace morvane
