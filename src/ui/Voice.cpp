// The spoken readout of the main window. Until the voice thread is built, the readout is
// announced by nothing and there is nothing to silence.

#include "ui/fMorvane.h"

namespace morvane {

void TMainForm::SilenceVoice() {}

void TMainForm::SayReadout(int /*DelayMs*/) {}

}  // namespace morvane
