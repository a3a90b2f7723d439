// The driver's one check of a client's numbers, at the edges of each property's range, and
// the mapping of INDI's position to Morvane's count.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "indi_morvane_focus/FocuserRequest.h"

using namespace morvane;

namespace {

using P = TRequestProperty;
constexpr double NaN = std::numeric_limits<double>::quiet_NaN();
constexpr double Inf = std::numeric_limits<double>::infinity();

TEST(FocuserRequest, EdgesOfEachRange) {
  const TRequestView view{100, 5000, true};  // INDI position 4900
  const struct {
    P Property;
    double Value;
    bool Ok;
    int64_t Result;  // the target count, the milliseconds or the maximum
  } rows[] = {
      {P::Absolute, 0, true, 5000},
      {P::Absolute, 5000, true, 0},
      {P::Absolute, 4900.4, true, 100},
      {P::Absolute, -0.1, false, 0},
      {P::Absolute, 5000.1, false, 0},
      {P::Absolute, 4294967196.0, false, 0},
      {P::Absolute, NaN, false, 0},
      {P::Absolute, -Inf, false, 0},
      {P::Relative, 1, true, 101},
      {P::Relative, 4900, true, 5000},
      {P::Relative, 4901, false, 0},
      {P::Relative, 0.9, false, 0},
      {P::Relative, NaN, false, 0},
      {P::Timer, 0, true, 0},
      {P::Timer, 60000, true, 60000},
      {P::Timer, 60000.5, false, 0},
      {P::Timer, 65536.4, false, 0},
      {P::Timer, -1, false, 0},
      {P::Timer, Inf, false, 0},
      {P::Max, 1000, true, 1000},
      {P::Max, 1e6, true, 1000000},
      {P::Max, 999, false, 0},
      {P::Max, NaN, false, 0},
      {P::Coefficient, -10000, true, -10000},
      {P::Coefficient, 10000.01, false, 0},
      {P::Coefficient, NaN, false, 0},
      {P::DeadBand, 1, true, 1},
      {P::DeadBand, 0.9, false, 0},
      {P::DeadBand, 10000, true, 10000},
      {P::DeadBand, 10000.5, false, 0},
      {P::Samples, 2.4, true, 2},
      {P::Samples, 100, true, 100},
      {P::Samples, 101, false, 0},
      {P::Samples, -Inf, false, 0},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(testing::Message() << static_cast<int>(row.Property) << " " << row.Value);
    const TFocuserRequest r = CheckRequest(row.Property, row.Value, view);
    EXPECT_EQ(r.Ok, row.Ok) << r.Error;
    EXPECT_EQ(r.Error.empty(), row.Ok);
    if (!r.Ok) continue;
    const bool setting =
        row.Property == P::Coefficient || row.Property == P::DeadBand || row.Property == P::Samples;
    const int64_t got = row.Property == P::Timer ? r.Milliseconds
                        : row.Property == P::Max ? r.FocusMax
                        : setting                ? std::llround(r.Setting)
                                                 : r.TargetCount;
    EXPECT_EQ(got, row.Result);
  }
  // Outward raises the position and lowers the count.
  EXPECT_EQ(CheckRequest(P::Relative, 100, {100, 5000, false}).TargetCount, 0);
  EXPECT_FALSE(CheckRequest(P::Relative, 101, {100, 5000, false}).Ok);
}

// With travel limits 400..1200 set, FOCUS_MAX is their span and INDI's 0 the upper limit.
TEST(FocuserRequest, WithinTravelLimits) {
  const struct {
    P Property;
    double Value;
    bool Inward;
    bool Ok;
    int64_t Count;
  } rows[] = {
      {P::Absolute, 0, true, true, 1200},   {P::Absolute, 800, true, true, 400},
      {P::Absolute, 800.6, true, false, 0}, {P::Absolute, 300, true, true, 900},
      {P::Relative, 1, true, true, 1001},   {P::Relative, 200, true, true, 1200},
      {P::Relative, 201, true, false, 0},   {P::Relative, 600, false, true, 400},
      {P::Relative, 601, false, false, 0},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(testing::Message() << static_cast<int>(row.Property) << " " << row.Value);
    const TRequestView view{1000, 800, row.Inward, 1200};  // INDI position 200
    const TFocuserRequest r = CheckRequest(row.Property, row.Value, view);
    EXPECT_EQ(r.Ok, row.Ok) << r.Error;
    if (r.Ok) {
      EXPECT_EQ(r.TargetCount, row.Count);
    }
  }
}

}  // namespace
