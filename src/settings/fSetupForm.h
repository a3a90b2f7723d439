#pragma once
// TSetupForm: the modal "Setup" dialog. Its controls hold the staged settings for the whole
// run; its buttons apply them to the controller, save them, reload them or set the factory
// values.

#include <QDialog>

#include <memory>
#include <string>

#include "controller/LimitRule.h"
#include "settings/SetupFormHost.h"
#include "settings/StagedSettings.h"

namespace Ui {
class TSetupForm;
}

namespace morvane {

class TFocusControl;

class TSetupForm : public QDialog {
  Q_OBJECT

 public:
  TSetupForm(TFocusControl& control, TSetupFormHost& host, QWidget* parent = nullptr);
  ~TSetupForm() override;

  // Handlers; errors of the settings file (ESettingsWriteError, a file system error) pass
  // through to the caller.
  void FormShow();
  void UpdatePgmParametersButtonClick();
  void SaveSettingsButtonClick();
  void RevertSavedButtonClick();
  void FactoryDefaultsButtonClick();
  void CloseButtonClick();

  // Loads the settings file at the host's IniPath into the controls (writing the factory file
  // first when there is none). The main window calls it each time it is shown, followed by
  // UpdatePgmParametersButtonClick.
  void LoadSettings();

  // The staged settings as the controls hold them, and a store into the controls; every value
  // stored is normalised as its control shows it.
  TStagedSettings Staged() const;
  void SetStaged(const TStagedSettings& staged);

  // The Voice choice the main window reads when it speaks: 0 female, 1 male, 2 none, -1 none
  // selected.
  int VoiceIndex() const;
  // Whether the window position stored at close is to be restored at the next load.
  bool SavePos() const;
  // Whether the last port opening done by Update Parameters succeeded.
  bool PortOpened() const { return FPortOpened; }
  // Opens the applied port again without a message (a device that has appeared since).
  bool ReopenPort();
  // The travel limits the dialog shows (Travel Limits, Lower, Upper): applied with Update
  // Parameters, saved with Save Settings, read again with Revert.
  TTravelLimits Limits() const;
  void ShowLimits(const TTravelLimits& limits);

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void PrepareControls();
  void MakeConnections();
  // Applies the limits shown; false, after a message, when they cannot be set.
  bool ApplyLimits();

  std::unique_ptr<Ui::TSetupForm> ui;
  TFocusControl& FControl;
  TSetupFormHost& FHost;
  bool FPortOpened = false;
};

}  // namespace morvane
