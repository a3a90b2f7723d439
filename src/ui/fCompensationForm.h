#pragma once
// TCompensationForm: the modal "Compensation" dialog of the Focus menu. Its controls hold the
// backlash and temperature compensation settings until OK applies and saves them (Cancel
// changes nothing); it shows compensation's live state, marks focus, and offers the
// coefficient the marks give.

#include <QDialog>
#include <QTimer>

#include <functional>
#include <string>

#include "settings/CompensationSettings.h"
#include "ui/bus/ConsoleActions.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace morvane {

class TTempCompDriver;

class TCompensationForm : public QDialog {
 public:
  TCompensationForm(const TTempCompDriver& driver, std::string marksPath,
                    QWidget* parent = nullptr);

  // Applies and saves the settings OK accepted.
  std::function<void(const TCompensationSettings&)> OnApply;
  // Marks focus here.
  std::function<TMarkOutcome()> OnMark;

  // Fills the controls from the settings in force, before the dialog is shown.
  void Load();
  // The settings the controls hold, read on the settings in force; false, with the problem
  // shown and the keyboard in the field at fault, for a value that is no setting.
  bool ReadControls(TCompensationSettings& s);

  void MarkFocusButtonClick();
  void UseItButtonClick();
  void ClearLogButtonClick();

  void accept() override;

 protected:
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;

 private:
  void ShowLiveState();
  void ShowFit();
  bool Refuse(QLineEdit* edit, const QString& problem);

  const TTempCompDriver& FDriver;
  // The settings as Load showed them: OK applies only what was changed here.
  TCompensationSettings FLoaded;
  std::string FMarksPath;
  QComboBox* BacklashModeCB;
  QLineEdit* BacklashCodesEdit;
  QCheckBox* TempCompCB;
  QLineEdit* CoefficientEdit;
  QLineEdit* SamplesEdit;
  QLineEdit* DeadBandEdit;
  QLabel* ReferenceLabel;
  QLabel* StateLabel;
  QLabel* LastMoveLabel;
  QLabel* FitLabel;
  QLabel* NoteLabel;
  QPushButton* MarkFocusButton;
  QPushButton* UseItButton;
  QPushButton* ClearLogButton;
  bool FHasFit = false;
  double FFitted = 0;
  QTimer FLiveTimer;
};

}  // namespace morvane
