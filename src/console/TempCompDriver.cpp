#include "console/TempCompDriver.h"

#include <cmath>
#include <vector>

#include "controller/Objects.h"

namespace morvane {

namespace {
// GetTemperature's value when the module gave none.
constexpr double NoReading = -99.0;
}  // namespace

TTempCompDriver::TTempCompDriver(TFocusControl& controller, QObject* parent)
    : QObject(parent), FController(controller) {
  FTimer.setInterval(DefaultIntervalMs);
  connect(&FTimer, &QTimer::timeout, this, &TTempCompDriver::Tick);
}

void TTempCompDriver::SetSettings(const TCompensationSettings& in) {
  const TCompensationSettings s = NormalisedCompensation(in);
  FController.ApproachMode.store(s.BacklashMode);
  FController.ApproachCodes.store(s.BacklashCodes);
  if (s.TempComp && !FSettings.TempComp) FReferencePending = true;
  // A reference no tube has (a file written by hand) is none: the next reading is taken.
  if (s.TempComp && !TTempCompRule::Plausible(s.TempReference)) FReferencePending = true;
  if (!s.TempComp) FReferencePending = false;
  FSettings = s;
  while (FReadings.size() > static_cast<size_t>(FSettings.TempSamples)) FReadings.pop_front();
  if (FSettings.TempComp) {
    if (!FTimer.isActive()) FTimer.start();
  } else {
    FTimer.stop();
    FKnowsCount = false;
    FAbsentTicks = 0;
  }
}

void TTempCompDriver::SetIntervalMs(int ms) {
  FTimer.setInterval(ms);
}

void TTempCompDriver::Hold(const std::string& holder) {
  FHolders.insert(holder);
  Report(TTempCompAction::taHeld, 0);
}

void TTempCompDriver::Release(const std::string& holder) {
  if (FHolders.erase(holder) == 0 || Held()) return;
  // Told as the hold was, whatever a tick said meanwhile: the status line must not keep
  // saying "held".
  if (FLastAction == TTempCompAction::taHeld) FLastAction = TTempCompAction::taNone;
  if (OnStatus) OnStatus("Temperature compensation released");
}

bool TTempCompDriver::Busy() const {
  // The idle flags themselves: Idle() would record what it saw and could swallow the idle
  // report a motion thread is about to make.
  return !FController.PortOpen() || FController.MovementRunning() || FController.CoarseRunning() ||
         FController.Paused.load() || !(FController.RunIdle.load() && FController.NudgeIdle.load());
}

bool TTempCompDriver::PermitMissing() const {
  TCameraControl* camera = FController.CameraControl.load();
  return FController.SBIGInterlock.load() && !(camera && camera->State());
}

void TTempCompDriver::Tick() {
  if (!FSettings.TempComp) return;
  TTempCompInput in;
  in.Held = Held();
  in.PermitMissing = PermitMissing();
  in.Idle = !Busy();
  in.Reference = FSettings.TempReference;
  in.Coefficient = FSettings.TempCoefficient;
  in.DeadBand = FSettings.TempDeadBand;
  if (in.Idle && FOwnMoveRunning) {
    FOwnMoveRunning = false;
    FOwnCount = FController.CTSCount();
  }
  // Nothing is read while the focuser is not free: the reading would only wait.
  if (!in.Idle || in.Held || in.PermitMissing) {
    // Nothing read yet: why it waits is the news, not a reading that was never asked for.
    if (FReadings.empty()) {
      Report(in.Held            ? TTempCompAction::taHeld
             : in.PermitMissing ? TTempCompAction::taNoPermit
                                : TTempCompAction::taBusy,
             0);
      return;
    }
    in.ReadingValid = true;
    in.Average = FReadings.back();
    const TTempCompDecision d = TTempCompRule::Decide(in);
    if (d.Action != TTempCompAction::taMove) Report(d.Action, 0);
    return;
  }
  // Without a module every probe holds the GUI thread through its time-outs (about two
  // seconds): after the module was found absent, it is looked for again only now and then.
  if (FAbsentTicks > 0) {
    --FAbsentTicks;
    Report(TTempCompAction::taReadingFailed, 0);
    return;
  }
  const double t = FController.ReadTemperature();
  if (t <= NoReading && !FController.LastTCAvail()) FAbsentTicks = AbsentRetryTicks;
  const TReadingVerdict verdict = t > NoReading ? TakeReading(t) : TReadingVerdict::rvOutOfRange;
  if (t <= NoReading) {
    FReadings.clear();
    FUnconfirmed.reset();
  }
  // A reading out of range is told as one; a jump not yet confirmed as a failed reading.
  in.ReadingValid = t > NoReading && verdict != TReadingVerdict::rvJump;
  if (verdict == TReadingVerdict::rvOutOfRange) {
    in.Average = t;
  } else if (in.ReadingValid) {
    const std::vector<double> samples(FReadings.begin(), FReadings.end());
    in.Average = TTempCompRule::Median(samples);
  }
  // The reading took a while: a move may have started meanwhile.
  in.Idle = !Busy();
  const int32_t count = FController.CTSCount();
  const bool refocused = FKnowsCount && count != FOwnCount;
  if (in.ReadingValid && (FReferencePending || refocused) &&
      in.Average >= TTempCompRule::LowestCelsius && in.Average <= TTempCompRule::HighestCelsius) {
    FReferencePending = false;
    FKnowsCount = true;
    FOwnCount = count;
    FSettings.TempReference = in.Average;
    if (OnReferenceTaken) OnReferenceTaken(FSettings);
    Report(TTempCompAction::taNone, 0);
    return;
  }
  if (!FKnowsCount) {
    FKnowsCount = true;
    FOwnCount = count;
  }
  const TTempCompDecision d = TTempCompRule::Decide(in);
  if (d.Action == TTempCompAction::taMove) {
    // A move the travel limits refuse is not made, and the reference stays: the focus is
    // still owed the codes once the limits allow them.
    if (const std::string refused = FController.LimitRefusal(int64_t{count} + d.Codes);
        !refused.empty()) {
      if (OnStatus) OnStatus("Temperature compensation: " + refused);
      return;
    }
    FSettings.TempReference = d.NewReference;
    FOwnMoveRunning = true;
    FOwnCount = count + d.Codes;
    FLastMove = d.Codes;
    FController.MoveBy(d.Codes);
    if (OnReferenceTaken) OnReferenceTaken(FSettings);
  }
  Report(d.Action, d.Codes);
}

TReadingVerdict TTempCompDriver::TakeReading(double celsius) {
  const std::optional<double> last =
      FReadings.empty() ? std::nullopt : std::optional<double>(FReadings.back());
  const TReadingVerdict v = TTempCompRule::CheckReading(celsius, last, FUnconfirmed);
  const std::optional<double> before = FUnconfirmed;
  FUnconfirmed.reset();
  if (v == TReadingVerdict::rvJump) FUnconfirmed = celsius;
  if (v != TReadingVerdict::rvTaken) return v;
  // A jump confirmed: the samples from before it belong to another temperature.
  if (last && std::abs(celsius - *last) > TTempCompRule::MostStepCelsius) {
    FReadings.clear();
    if (before) FReadings.push_back(*before);
  }
  FReadings.push_back(celsius);
  while (FReadings.size() > static_cast<size_t>(FSettings.TempSamples)) FReadings.pop_front();
  return v;
}

void TTempCompDriver::Report(TTempCompAction a, int32_t codes) {
  const bool changed = a != FLastAction;
  FLastAction = a;
  if (!OnStatus) return;
  // A move is told each time; a state only when it changes (busy is no news).
  if (a == TTempCompAction::taMove)
    OnStatus("Temperature compensation moved the focuser by " + std::to_string(codes) + " codes");
  else if (changed && a != TTempCompAction::taBusy)
    OnStatus(TempCompStateText(a));  // "" once all is well again
}

}  // namespace morvane
