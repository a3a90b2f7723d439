#include "widgets/ulxmGeometry.h"

#include <gtest/gtest.h>

#include <ostream>
#include <vector>

// Readable failure messages.
void PrintTo(const TLiteRect& Rect, std::ostream* Out) {
  *Out << "{" << Rect.Left << ", " << Rect.Top << ", " << Rect.Right << ", " << Rect.Bottom << "}";
}
void PrintTo(const TLiteLine& Line, std::ostream* Out) {
  *Out << "(" << Line.X1 << ", " << Line.Y1 << ") to (" << Line.X2 << ", " << Line.Y2 << ")";
}
void PrintTo(const TEllipseRow& Row, std::ostream* Out) {
  *Out << "row " << Row.Y << ": " << Row.Left << " to " << Row.Right;
}

namespace {

TEST(LiteGeometry, SquareLightIsShrunkByTwoAndCutAtTheSmallerEdge) {
  EXPECT_EQ(SquareLiteRect(18, 18), (TLiteRect{2, 2, 16, 16}));
  EXPECT_EQ(SquareLiteRect(30, 12), (TLiteRect{2, 2, 10, 10}));
  EXPECT_EQ(SquareLiteRect(12, 30), (TLiteRect{2, 2, 10, 10}));
  EXPECT_TRUE(SquareLiteRect(4, 18).IsEmpty());
  EXPECT_FALSE(SquareLiteRect(5, 18).IsEmpty());
}

TEST(LiteGeometry, RoundLightBoxIsSquareFromTheOrigin) {
  EXPECT_EQ(RoundLiteRect(18, 18), (TLiteRect{0, 0, 18, 18}));
  EXPECT_EQ(RoundLiteRect(30, 12), (TLiteRect{0, 0, 12, 12}));
  EXPECT_EQ(RoundLiteRect(12, 30), (TLiteRect{0, 0, 12, 12}));
  EXPECT_TRUE(RoundLiteRect(0, 30).IsEmpty());
  EXPECT_TRUE(RoundLiteRect(-3, 30).IsEmpty());
}

TEST(LiteGeometry, GlintBoxFollowsASixthOfTheSide) {
  EXPECT_EQ(RoundLiteGlint(18), (TLiteRect{4, 4, 9, 7}));
  EXPECT_EQ(RoundLiteGlint(12), (TLiteRect{3, 3, 7, 5}));
  // 2.5 × 5 = 12.5 is cut to 12.
  EXPECT_EQ(RoundLiteGlint(30), (TLiteRect{6, 6, 14, 11}));
  EXPECT_EQ(RoundLiteGlint(35), (TLiteRect{6, 6, 14, 11}));
  EXPECT_EQ(RoundLiteGlint(36), (TLiteRect{7, 7, 17, 13}));
  // Below six pixels there is no glint.
  EXPECT_TRUE(RoundLiteGlint(5).IsEmpty());
}

TEST(LiteGeometry, BevelLinesRunHighlightTopLeftThenShadowBottomRight) {
  const auto Lines = SquareLiteBevel({2, 2, 10, 10});
  constexpr auto Hi = TBevelTone::Highlight;
  constexpr auto Sh = TBevelTone::Shadow;
  const std::array<TLiteLine, 8> Expected{{
      {2, 9, 2, 2, Hi},
      {2, 2, 10, 2, Hi},
      {3, 8, 3, 3, Hi},
      {3, 3, 9, 3, Hi},
      {9, 4, 9, 9, Sh},
      {9, 9, 3, 9, Sh},
      {10, 3, 10, 10, Sh},
      {10, 10, 2, 10, Sh},
  }};
  EXPECT_EQ(Lines, Expected);
}

TEST(LiteGeometry, LinePixelsLeaveOutTheEndPointInEitherDirection) {
  EXPECT_EQ(LinePixels({2, 2, 10, 2}), (TLiteRect{2, 2, 10, 3}));
  EXPECT_EQ(LinePixels({10, 10, 2, 10}), (TLiteRect{3, 10, 11, 11}));
  EXPECT_EQ(LinePixels({10, 3, 10, 10}), (TLiteRect{10, 3, 11, 10}));
  EXPECT_EQ(LinePixels({2, 9, 2, 2}), (TLiteRect{2, 3, 3, 10}));
  EXPECT_TRUE(LinePixels({4, 4, 4, 4}).IsEmpty());
  EXPECT_TRUE(LinePixels({1, 1, 5, 5}).IsEmpty());
}

TEST(LiteGeometry, EllipseRowsHoldThePixelsWhoseCentresAreInside) {
  EXPECT_EQ(EllipseRows({4, 4, 9, 7}), (std::vector<TEllipseRow>{{4, 5, 8}, {5, 4, 9}, {6, 5, 8}}));
  const auto Circle = EllipseRows({0, 0, 12, 12});
  ASSERT_EQ(Circle.size(), 12u);
  EXPECT_EQ(Circle.front(), (TEllipseRow{0, 4, 8}));
  EXPECT_EQ(Circle[5], (TEllipseRow{5, 0, 12}));
  EXPECT_EQ(Circle.back(), (TEllipseRow{11, 4, 8}));
  EXPECT_TRUE(EllipseRows({3, 3, 7, 3}).empty());
  EXPECT_EQ(EllipseRows({2, 2, 3, 3}), (std::vector<TEllipseRow>{{2, 2, 3}}));
}

TEST(LiteGeometry, EllipseOutlineIsTheRimOfTheRows) {
  // A 4 × 4 disc keeps a 2 × 2 inside.
  const auto Small = EllipseRows({0, 0, 4, 4});
  EXPECT_EQ(
      EllipseOutline(Small),
      (std::vector<TLiteRect>{
          {1, 0, 3, 1}, {0, 1, 1, 2}, {3, 1, 4, 2}, {0, 2, 1, 3}, {3, 2, 4, 3}, {1, 3, 3, 4}}));
  // In a larger one the rim leaves the middle of each inner row alone.
  const auto Circle = EllipseRows({0, 0, 12, 12});
  const auto Rim = EllipseOutline(Circle);
  for (const TLiteRect& Run : Rim) EXPECT_EQ(Run.Bottom - Run.Top, 1);
  const auto RimAt = [&](int X, int Y) {
    for (const TLiteRect& Run : Rim)
      if (Y == Run.Top && X >= Run.Left && X < Run.Right) return true;
    return false;
  };
  EXPECT_TRUE(RimAt(0, 6));
  EXPECT_TRUE(RimAt(11, 6));
  EXPECT_TRUE(RimAt(5, 0));
  EXPECT_TRUE(RimAt(5, 11));
  EXPECT_FALSE(RimAt(1, 6));
  EXPECT_FALSE(RimAt(6, 6));
  EXPECT_FALSE(RimAt(5, 1));
}

TEST(LabelGeometry, CaptionRectIsInsetTwoAtTopLeftAndOneAtBottomRight) {
  EXPECT_EQ(LabelTextRect(100, 40), QRect(2, 2, 97, 37));
  EXPECT_EQ(LabelTextRect(100, 40).right(), 98);
  EXPECT_EQ(LabelTextRect(100, 40).bottom(), 38);
}

}  // namespace
