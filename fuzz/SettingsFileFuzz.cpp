// Fuzz entry for the settings file: any bytes as Morvane.ini, loaded into the staged settings
// and saved back. What is saved must load as the same settings, a second save must leave the
// file as the first left it, and the keys a save does not write must keep their values.
#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "settings/FileOps.h"
#include "settings/Profile.h"
#include "settings/SettingsFile.h"
#include "settings/SettingsHost.h"
#include "settings/StagedSettings.h"

namespace {

using namespace morvane;

// A save's flushes to disk cost time and prove nothing here.
class TUnsyncedFileOps : public TFileOps {
 public:
  int Sync(int) override { return 0; }
};

class TRecordingHost : public TSettingsHost {
 public:
  int Left() const override { return FLeft; }
  void SetLeft(int left) override { FLeft = left; }
  int Top() const override { return FTop; }
  void SetTop(int top) override { FTop = top; }
  int AppliedVoice() const override { return FVoice; }
  void SetAppliedVoice(int voice) override { FVoice = voice; }
  void ShowInformationMessage(const std::string&) override { ++FMessages; }

  int FLeft = -1, FTop = -1, FVoice = -9, FMessages = 0;
};

// The folder the settings file is written in, made once per process and removed at its end.
class TScratchFolder {
 public:
  TScratchFolder() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/morvane-fuzz-XXXXXX";
    if (!mkdtemp(pattern.data())) std::abort();
    FPath = pattern;
  }
  ~TScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(FPath, ignored);
  }
  std::string File() const { return FPath + "/Morvane.ini"; }

 private:
  std::string FPath;
};

void Check(bool holds) {
  if (!holds) std::abort();
}

std::string FileText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

bool SameSettings(const TStagedSettings& a, const TStagedSettings& b) {
  return a.ComPortRG.ItemIndex() == b.ComPortRG.ItemIndex() &&
         a.CommandRG.ItemIndex() == b.CommandRG.ItemIndex() &&
         a.VoiceRG.ItemIndex() == b.VoiceRG.ItemIndex() &&
         a.NudgeTimeSE.Value() == b.NudgeTimeSE.Value() &&
         a.CloseNudgeTimeSE.Value() == b.CloseNudgeTimeSE.Value() &&
         a.NudgeDelaySE.Value() == b.NudgeDelaySE.Value() &&
         a.StopFactorSE.Value() == b.StopFactorSE.Value() &&
         a.CodesPerRevSE.Value() == b.CodesPerRevSE.Value() &&
         a.TravelPerRevSE.Value() == b.TravelPerRevSE.Value() &&
         a.ReverseDirCB.Checked() == b.ReverseDirCB.Checked() &&
         a.DualSenseCB.Checked() == b.DualSenseCB.Checked() &&
         a.SavePosCB.Checked() == b.SavePosCB.Checked();
}

// Values of keys the settings save leaves alone.
struct TUntouched {
  std::optional<std::string> StayOnTop, Left, Top, Other;
  bool operator==(const TUntouched&) const = default;
};

TUntouched UntouchedOf(const std::string& path) {
  const TProfileText profile = ReadProfileFile(path);
  return {profile.ReadString("FocusControl", "StayOnTop"), profile.ReadString("Position", "Left"),
          profile.ReadString("Position", "Top"), profile.ReadString("Device/Ports", "Other")};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const TScratchFolder folder;
  static TUnsyncedFileOps ops;
  const std::string path = folder.File();
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    Check(out.good());
  }
  const TUntouched before = UntouchedOf(path);

  TStagedSettings first;
  TRecordingHost firstHost;
  LoadSettings(path, first, firstHost, ops);
  Check(firstHost.FMessages == 0);  // a file was there: nothing to tell the operator
  Check(firstHost.FVoice == first.VoiceRG.ItemIndex());

  SaveSettings(path, first, ops);
  const std::string saved = FileText(path);
  Check(UntouchedOf(path) == before);

  TStagedSettings second;
  TRecordingHost secondHost;
  LoadSettings(path, second, secondHost, ops);
  Check(SameSettings(first, second));
  Check(firstHost.FLeft == secondHost.FLeft && firstHost.FTop == secondHost.FTop);

  SaveSettings(path, second, ops);
  Check(FileText(path) == saved);
  return 0;
}
