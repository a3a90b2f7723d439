#include "busclient/Follower.h"

namespace morvane {

bool TMoveTracker::Issue(int64_t target, int32_t count, bool idle) {
  FTarget = target;
  FHasTarget = true;
  FSawBusy = FStopping = false;
  FPending = !(idle && count == target);
  return FPending;
}

void TMoveTracker::FollowRunning() {
  FPending = FSawBusy = true;
  FStopping = FHasTarget = false;
}

TMoveEnd TMoveTracker::Ended(const TFocuserState& state) {
  FPending = false;
  if (FStopping) return TMoveEnd::meStopped;
  if (!state.LastFault.empty()) return TMoveEnd::meFault;
  if (FHasTarget &&
      (state.Position - FTarget > FTolerance || FTarget - state.Position > FTolerance))
    return TMoveEnd::meShort;
  return TMoveEnd::meLanded;
}

TMoveEnd TMoveTracker::OnIdle(bool idle, const TFocuserState& state) {
  if (!FPending) return TMoveEnd::meNone;
  if (!idle) {
    FSawBusy = true;
    return TMoveEnd::meNone;
  }
  return FSawBusy ? Ended(state) : TMoveEnd::meNone;
}

TMoveEnd TMoveTracker::OnQuiet(const TFocuserState& state) {
  if (!FPending || FSawBusy || !state.Idle) return TMoveEnd::meNone;
  return Ended(state);
}

TFollowed TFocuserFollower::Apply(const TNotification& n) {
  TFollowed f;
  if (n.ServiceOwned) {
    f.Gone = !*n.ServiceOwned;
    f.Arrived = *n.ServiceOwned;
    if (f.Gone) FState = TFocuserState{};
    return f;
  }
  const auto take = [](auto& into, const auto& from, bool& changed) {
    if (!from) return;
    changed = changed || into != *from;
    into = *from;
  };
  bool ignored = false;
  take(FState.ComPort, n.ComPort, ignored);
  take(FState.LastFault, n.LastFault, ignored);
  take(FState.PortDevice, n.PortDevice, ignored);
  take(FState.PortProblem, n.PortProblem, ignored);
  take(FState.PortOpen, n.PortOpen, f.PortOpen);
  take(FState.Position, n.Position, f.Position);
  take(FState.PositionTrusted, n.PositionTrusted, f.Trusted);
  take(FState.ReverseDirection, n.ReverseDirection, f.Reverse);
  take(FState.Running, n.Running, f.Running);
  take(FState.TemperatureAvailable, n.TemperatureAvailable, f.Temperature);
  take(FState.PositionScale, n.PositionScale, f.Scale);
  take(FState.LimitsSet, n.LimitsSet, f.Scale);
  take(FState.LowerLimit, n.LowerLimit, f.Scale);
  take(FState.UpperLimit, n.UpperLimit, f.Scale);
  // Every idle announcement counts, a repeated one too: a move's end is told by it.
  if (n.Idle) {
    FState.Idle = *n.Idle;
    f.Idle = true;
  }
  return f;
}

}  // namespace morvane
