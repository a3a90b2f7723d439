#pragma once
// Temporary directories, file helpers, numeric locales and a fake main window for the
// settings tests.

#include <locale.h>
#include <signal.h>
#include <sys/resource.h>

#include <functional>
#include <string>
#include <vector>

#include "settings/SettingsHost.h"

namespace morvane::test {

// A fresh directory, removed with everything in it at the end.
class TTempDir {
 public:
  TTempDir();
  TTempDir(const TTempDir&) = delete;
  TTempDir& operator=(const TTempDir&) = delete;
  ~TTempDir();
  const std::string& Path() const { return FPath; }
  std::string File(const std::string& name) const { return FPath + "/" + name; }
  // Names in the directory, so that a test can see that no temporary file was left behind.
  std::vector<std::string> Names() const;

 private:
  std::string FPath;
};

// Refuses this process writes past `bytes` per file, as a full disk refuses them, until
// destroyed (SIGXFSZ ignored meanwhile, so a refused write fails instead of killing).
class TFileSizeLimit {
 public:
  explicit TFileSizeLimit(unsigned long bytes);
  TFileSizeLimit(const TFileSizeLimit&) = delete;
  TFileSizeLimit& operator=(const TFileSizeLimit&) = delete;
  ~TFileSizeLimit();
  bool Ok() const { return FOk; }

 private:
  struct sigaction FPreviousAction {};
  struct rlimit FPreviousLimit {};
  bool FOk = false;
};

std::string ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::string& bytes);

// Makes the calling thread use a locale's numeric rules until destroyed.
class TScopedNumericLocale {
 public:
  explicit TScopedNumericLocale(locale_t locale);
  TScopedNumericLocale(const TScopedNumericLocale&) = delete;
  TScopedNumericLocale& operator=(const TScopedNumericLocale&) = delete;
  ~TScopedNumericLocale();

 private:
  locale_t FLocale;
  locale_t FPrevious;
};

// A numeric locale whose decimal separator is a comma (de_DE). When the system has none, one is
// compiled with localedef into a cache directory once. Null, with the reason in why, when it
// cannot be had.
locale_t NewCommaLocale(std::string& why);

// The "C" numeric locale.
locale_t NewCLocale();

// Runs body in a child process under an unprivileged user id when this process is root, so
// that file permissions apply; otherwise in a child as is. Returns the child's exit status, or
// -1 when it did not exit normally.
int RunUnprivileged(const std::function<int()>& body);

// A main window that records, in order, what the settings code does to it.
class TFakeHost : public TSettingsHost {
 public:
  int Left() const override { return FLeft; }
  void SetLeft(int left) override;
  int Top() const override { return FTop; }
  void SetTop(int top) override;
  int AppliedVoice() const override { return FAppliedVoice; }
  void SetAppliedVoice(int voice) override;
  void ShowInformationMessage(const std::string& text) override;

  int FLeft = 346;
  int FTop = 240;
  int FAppliedVoice = 7;
  std::vector<std::string> FEvents;
  // Runs when the message box is shown, as if while it stands on the screen.
  std::function<void()> FOnMessage;
};

}  // namespace morvane::test
