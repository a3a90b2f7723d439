// The spoken readout of the main window: silencing the last voice thread and starting a new
// one that reads CTSLabel at the end of its delay.

#include "ui/fMorvane.h"
#include "ui/voice/VoiceThread.h"
#include "ui_fMorvane.h"

namespace morvane {

namespace {
constexpr int VoiceNone = 2;
}  // namespace

void TMainForm::SilenceVoice() {
  if (VoiceSelection() != VoiceNone && VoiceBusy.load() && FVoiceThreads.Last())
    FVoiceThreads.Last()->Terminate();
}

void TMainForm::SayReadout(int DelayMs) {
  // An empty text: the thread takes the readout as it is when its delay is over.
  FVoiceThreads.Start(ui->CTSLabel, QString(), VoiceSelection(), DelayMs);
}

}  // namespace morvane
