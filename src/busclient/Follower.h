#pragma once
// Following Morvane's state as a client: the state read once and kept up to date from its
// announcements, and a move this client asked for followed to its end; the scale of a state
// (PositionScale.h). No clock and no bus: the caller feeds what it heard, and asks.

#include <cstdint>
#include <optional>
#include <string>

#include "busclient/FocuserClient.h"
#include "busclient/Notification.h"
#include "busclient/PositionScale.h"

namespace morvane {

// A state's limits when set, otherwise scale (PositionScale, or a client's own).
inline TClientScale ClientScale(const TFocuserState& state, int64_t scale) {
  return ClientScale(state.LimitsSet, state.LowerLimit, state.UpperLimit, scale);
}
inline TClientScale ClientScale(const TFocuserState& state) {
  return ClientScale(state, state.PositionScale);
}

// How a followed move ended.
enum class TMoveEnd {
  meNone,     // not ended (or no move followed)
  meLanded,   // idle within the tolerance of its target
  meShort,    // idle elsewhere: stopped in the window or by another program, or a wait timed out
  meStopped,  // this client asked for a stop
  meFault,    // Morvane stopped the motor itself: LastFault says why
};

// One move a client asked for, from the call to its end: issued, seen busy, idle again; or
// idle at its target already, where Morvane moves nothing and announces nothing.
class TMoveTracker {
 public:
  explicit TMoveTracker(int64_t tolerance = 0) : FTolerance(tolerance) {}

  // A move to target was asked for while Morvane showed count and idle. False when nothing
  // will move (idle at the target already): nothing is followed then.
  bool Issue(int64_t target, int32_t count, bool idle);
  // A move already running is followed to its end (a stop asked for while it runs).
  void FollowRunning();
  // This client asked for a stop: the end is meStopped wherever it lands.
  void Stopping() { FStopping = true; }
  void Forget() { FPending = false; }

  bool Pending() const { return FPending; }
  bool SawBusy() const { return FSawBusy; }
  int64_t Target() const { return FTarget; }

  // Morvane's idle state as announced; the end when this one ended the move.
  TMoveEnd OnIdle(bool idle, const TFocuserState& state);
  // Morvane reads idle and the move was never seen busy (its start may have been missed, or
  // there was nothing to do): the end, once the caller has waited long enough.
  TMoveEnd OnQuiet(const TFocuserState& state);

 private:
  TMoveEnd Ended(const TFocuserState& state);

  int64_t FTolerance;
  bool FPending = false;
  bool FSawBusy = false;
  bool FStopping = false;
  bool FHasTarget = false;
  int64_t FTarget = 0;
};

// What an announcement changed, for a client that shows some of it.
struct TFollowed {
  bool Position = false;
  bool Idle = false;
  bool Running = false;
  bool PortOpen = false;
  bool Trusted = false;
  bool Reverse = false;
  bool Temperature = false;
  bool Scale = false;  // PositionScale or the limits: the client scale may have changed
  bool Gone = false;   // Morvane left the bus: nothing of the state holds
  bool Arrived = false;
};

// Morvane's state as one client knows it: read once (Reset), then every announcement applied.
class TFocuserFollower {
 public:
  void Reset(const TFocuserState& state) { FState = state; }
  TFollowed Apply(const TNotification& n);
  const TFocuserState& State() const { return FState; }
  TClientScale Scale() const { return ClientScale(FState); }

 private:
  TFocuserState FState;
};

}  // namespace morvane
