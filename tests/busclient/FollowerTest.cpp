// The follower's pure parts by table: the count to client position mapping with and without
// travel limits, a move followed from the call to its end, and what an announcement changes.
#include <gtest/gtest.h>

#include <vector>

#include "busclient/Follower.h"

using namespace morvane;

namespace {

TFocuserState Limits(bool set, int32_t lower, int32_t upper, int32_t scale = 5000) {
  TFocuserState s;
  s.PositionScale = scale;
  s.LimitsSet = set;
  s.LowerLimit = lower;
  s.UpperLimit = upper;
  return s;
}

TEST(ClientScale, FollowsTheLimitsWhenSet) {
  const struct {
    TFocuserState State;
    int64_t Max;
    int64_t TopCount;
    bool FromLimits;
  } rows[] = {
      {Limits(false, 0, 0), 5000, 5000, false},
      {Limits(false, 100, 900), 5000, 5000, false},  // limits not set: their values mean nothing
      {Limits(true, 100, 900), 800, 900, true},
      {Limits(true, -300, 700), 1000, 700, true},
      {Limits(true, 0, 1), 1, 1, true},             // the narrowest span
      {Limits(true, 500, 500), 5000, 5000, false},  // no span: the scale
      {Limits(true, 900, 100), 5000, 5000, false},  // upside down: the scale
      {Limits(true, -1000000000, 1000000000), 2000000000, 1000000000, true},  // beyond int32
  };
  for (const auto& r : rows) {
    const TClientScale s = ClientScale(r.State);
    EXPECT_EQ(s.Max, r.Max) << r.State.LowerLimit << ".." << r.State.UpperLimit;
    EXPECT_EQ(s.TopCount, r.TopCount) << r.State.LowerLimit << ".." << r.State.UpperLimit;
    EXPECT_EQ(s.FromLimits, r.FromLimits);
  }
  // A client's own scale where the user kept one, unless limits are set.
  EXPECT_EQ(ClientScale(Limits(false, 0, 0), 1500).Max, 1500);
  EXPECT_EQ(ClientScale(Limits(true, 100, 900), 1500).Max, 800);
}

TEST(ClientScale, CountAndPositionMapBothWays) {
  const TClientScale plain = ClientScale(Limits(false, 0, 0, 100000));
  const TClientScale limited = ClientScale(Limits(true, 200, 1200));
  const struct {
    TClientScale Scale;
    int64_t Count;
    int64_t Position;
    bool InRange;
  } rows[] = {
      {plain, 0, 100000, true},  // reset all the way out: the top of the range
      {plain, 100000, 0, true},   {plain, 40, 99960, true},  {plain, -1, 100001, false},
      {plain, 100001, -1, false}, {limited, 1200, 0, true},  // the upper limit, all the way in
      {limited, 200, 1000, true}, {limited, 700, 500, true}, {limited, 199, 1001, false},
      {limited, 1201, -1, false},
  };
  for (const auto& r : rows) {
    EXPECT_EQ(ClientPosition(r.Count, r.Scale), r.Position) << r.Count;
    EXPECT_EQ(CountAt(r.Position, r.Scale), r.Count) << r.Position;
    EXPECT_EQ(PositionInRange(r.Position, r.Scale), r.InRange) << r.Position;
  }
}

// One step of a followed move: an idle announcement, a quiet look, or a stop asked for.
enum class TStep { Busy, Idle, Quiet, Stop };
struct TStepAt {
  TStep Step;
  int32_t Count;
  const char* Fault;
};

TEST(MoveTracker, FromTheCallToTheEnd) {
  const struct {
    const char* Name;
    int64_t Target;
    int32_t CountAtCall;
    bool IdleAtCall;
    bool Followed;
    std::vector<TStepAt> Steps;
    TMoveEnd End;  // at the last step; every earlier one gives meNone
  } rows[] = {
      {"landed",
       500,
       0,
       true,
       true,
       {{TStep::Busy, 10, ""}, {TStep::Idle, 500, ""}},
       TMoveEnd::meLanded},
      {"within tolerance",
       500,
       0,
       true,
       true,
       {{TStep::Busy, 10, ""}, {TStep::Idle, 501, ""}},
       TMoveEnd::meLanded},
      {"short of it",
       500,
       0,
       true,
       true,
       {{TStep::Busy, 10, ""}, {TStep::Idle, 300, ""}},
       TMoveEnd::meShort},
      {"stalled",
       500,
       0,
       true,
       true,
       {{TStep::Busy, 10, ""}, {TStep::Idle, 300, "The focuser stalled"}},
       TMoveEnd::meFault},
      {"stopped by this client",
       500,
       0,
       true,
       true,
       {{TStep::Busy, 10, ""}, {TStep::Stop, 200, ""}, {TStep::Idle, 500, ""}},
       TMoveEnd::meStopped},
      {"idle before busy is the last move's end",
       500,
       0,
       true,
       true,
       {{TStep::Idle, 0, ""}, {TStep::Busy, 10, ""}, {TStep::Idle, 500, ""}},
       TMoveEnd::meLanded},
      {"start never seen, idle at the target",
       500,
       0,
       true,
       true,
       {{TStep::Quiet, 500, ""}},
       TMoveEnd::meLanded},
      {"start never seen, idle elsewhere",
       500,
       0,
       true,
       true,
       {{TStep::Quiet, 0, ""}},
       TMoveEnd::meShort},
      {"quiet while busy waits",
       500,
       0,
       true,
       true,
       {{TStep::Busy, 10, ""}, {TStep::Quiet, 20, ""}, {TStep::Idle, 500, ""}},
       TMoveEnd::meLanded},
      {"at the target already", 500, 500, true, false, {{TStep::Idle, 500, ""}}, TMoveEnd::meNone},
      {"at the target while another move runs",
       500,
       500,
       false,
       true,
       {{TStep::Busy, 510, ""}, {TStep::Idle, 500, ""}},
       TMoveEnd::meLanded},
  };
  for (const auto& r : rows) {
    TMoveTracker t(1);
    EXPECT_EQ(t.Issue(r.Target, r.CountAtCall, r.IdleAtCall), r.Followed) << r.Name;
    TMoveEnd end = TMoveEnd::meNone;
    for (size_t i = 0; i < r.Steps.size(); ++i) {
      const TStepAt& s = r.Steps[i];
      TFocuserState state;
      state.Position = s.Count;
      state.LastFault = s.Fault;
      state.Idle = s.Step != TStep::Busy;
      if (s.Step == TStep::Stop) {
        t.Stopping();
        continue;
      }
      end = s.Step == TStep::Quiet ? t.OnQuiet(state) : t.OnIdle(state.Idle, state);
      if (i + 1 < r.Steps.size()) {
        EXPECT_EQ(end, TMoveEnd::meNone) << r.Name << " step " << i;
      }
    }
    EXPECT_EQ(end, r.End) << r.Name;
    EXPECT_FALSE(t.Pending() && end != TMoveEnd::meNone) << r.Name;
  }
}

TEST(MoveTracker, ARunningMoveFollowedToItsEnd) {
  TMoveTracker t;
  t.FollowRunning();
  TFocuserState state;
  state.Position = 77;                            // no target: wherever it stops
  EXPECT_EQ(t.OnQuiet(state), TMoveEnd::meNone);  // already seen busy
  EXPECT_EQ(t.OnIdle(true, state), TMoveEnd::meLanded);
  EXPECT_FALSE(t.Pending());
}

TEST(FocuserFollower, AnnouncementsChangeTheState) {
  TFocuserFollower f;
  TFocuserState start;
  start.Position = 10;
  start.PortOpen = true;
  f.Reset(start);

  TNotification same;
  same.Position = 10;
  same.Idle = true;  // a repeated idle still tells a move's end
  TFollowed d = f.Apply(same);
  EXPECT_FALSE(d.Position);
  EXPECT_TRUE(d.Idle);

  TNotification limits;
  limits.LimitsSet = true;
  limits.LowerLimit = 0;
  limits.UpperLimit = 4000;
  limits.PortProblem = "gone";
  d = f.Apply(limits);
  EXPECT_TRUE(d.Scale);
  EXPECT_EQ(f.Scale(), (TClientScale{4000, 4000, true}));
  EXPECT_EQ(f.State().PortProblem, "gone");

  TNotification gone;
  gone.ServiceOwned = false;
  d = f.Apply(gone);
  EXPECT_TRUE(d.Gone);
  EXPECT_FALSE(f.State().PortOpen);
  EXPECT_EQ(f.Scale().Max, DefaultPositionScale);
}

}  // namespace
