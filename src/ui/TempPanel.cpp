// The temperature panel of the main window. Its menu item stays hidden in this layout; until
// the panel's exchanges with the module are built its handlers do nothing.

#include "ui/fMorvane.h"

namespace morvane {

void TMainForm::Temp1Click() {}
void TMainForm::GetTempButtonClick() {}
void TMainForm::GetCalButtonClick() {}
void TMainForm::SetCalButtonClick() {}
void TMainForm::ResetTCClick() {}
void TMainForm::EnableSBClick() {}
void TMainForm::Timer1Timer() {}
void TMainForm::FocusControlAvailChange(TFocusControl* /*Sender*/, bool /*TCAvailValue*/) {}

}  // namespace morvane
