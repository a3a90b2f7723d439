#pragma once
// What the settings file operations need of the main window.

#include <string>

namespace morvane {

class TSettingsHost {
 public:
  virtual ~TSettingsHost() = default;

  // The main window's edges in screen pixels; setting one moves the window at once.
  virtual int Left() const = 0;
  virtual void SetLeft(int left) = 0;
  virtual int Top() const = 0;
  virtual void SetTop(int top) = 0;

  // The voice choice last loaded or applied (0 female, 1 male, 2 none, -1 none selected).
  virtual int AppliedVoice() const = 0;
  virtual void SetAppliedVoice(int voice) = 0;

  // An information box (caption "Information", information icon, one OK button). It need not
  // wait for the box to be closed: the window's returns at once, so that nothing waits for
  // an operator who may not be there.
  virtual void ShowInformationMessage(const std::string& text) = 0;
};

}  // namespace morvane
