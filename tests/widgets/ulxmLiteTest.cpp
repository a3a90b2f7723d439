#include "widgets/ulxmLite.h"

#include <QMouseEvent>
#include <QTest>

#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "widgets/WidgetTestUtils.h"

namespace {

class TCountedLite : public TlxmLite {
 public:
  using TlxmLite::TlxmLite;
  int Paints = 0;

 protected:
  void paintEvent(QPaintEvent* Event) override {
    ++Paints;
    TlxmLite::paintEvent(Event);
  }
};

TEST(TlxmLite, NewLightHasItsDefaults) {
  TlxmLite Lite;
  EXPECT_EQ(Lite.size(), QSize(18, 18));
  EXPECT_EQ(Lite.sizeHint(), QSize(18, 18));
  EXPECT_FALSE(Lite.Lit());
  EXPECT_EQ(Lite.OnColor(), 0x00FF00u);
  EXPECT_EQ(Lite.OffColor(), 0x005700u);
  EXPECT_EQ(Lite.Shape(), TlxmLite::lsRound);
  EXPECT_FALSE(Lite.OnChange());
}

TEST(TlxmLite, PropertiesAreReachableByName) {
  TlxmLite Lite;
  EXPECT_TRUE(Lite.setProperty("Lit", true));
  EXPECT_TRUE(Lite.Lit());
  EXPECT_TRUE(Lite.setProperty("Shape", QVariant::fromValue(TlxmLite::lsSquare)));
  EXPECT_EQ(Lite.Shape(), TlxmLite::lsSquare);
  EXPECT_TRUE(Lite.setProperty("OnColor", QVariant::fromValue<TColor>(0x0000FF)));
  EXPECT_EQ(Lite.property("OnColor").value<TColor>(), 0x0000FFu);
}

TEST(TlxmLite, CentreShowsOnColourWhenLitAndOffColourWhenNot) {
  for (const auto Shape : {TlxmLite::lsRound, TlxmLite::lsSquare}) {
    SCOPED_TRACE(Shape);
    TBackdrop Backdrop;
    TlxmLite Lite(&Backdrop);
    Lite.SetShape(Shape);
    EXPECT_EQ(PixelAt(Backdrop.Grab(), 9, 9), DarkGreen);
    Lite.SetLit(true);
    EXPECT_EQ(PixelAt(Backdrop.Grab(), 9, 9), Lime);
    Lite.SetOnColor(0x0000FF);
    EXPECT_EQ(PixelAt(Backdrop.Grab(), 9, 9), QColor(255, 0, 0));
    Lite.SetLit(false);
    Lite.SetOffColor(0x800000);
    EXPECT_EQ(PixelAt(Backdrop.Grab(), 9, 9), QColor(0, 0, 128));
  }
}

TEST(TlxmLite, WideRoundLightIsACircleAtTheLeftOfItsSmallerSide) {
  TBackdrop Backdrop;
  TlxmLite Lite(&Backdrop);
  Lite.resize(30, 12);
  Lite.SetLit(true);
  const QImage Image = Backdrop.Grab();
  // Outline on the box's four sides, (0, 0) to (12, 12) with the far edge outside.
  EXPECT_EQ(PixelAt(Image, 0, 6), Qt::black);
  EXPECT_EQ(PixelAt(Image, 11, 6), Qt::black);
  EXPECT_EQ(PixelAt(Image, 6, 0), Qt::black);
  EXPECT_EQ(PixelAt(Image, 6, 11), Qt::black);
  EXPECT_EQ(PixelAt(Image, 6, 8), Lime);
  // Beyond the box and in the circle's corners, the parent's background.
  EXPECT_EQ(PixelAt(Image, 12, 6), TBackdrop::BackdropColor);
  EXPECT_EQ(PixelAt(Image, 20, 6), TBackdrop::BackdropColor);
  EXPECT_EQ(PixelAt(Image, 29, 11), TBackdrop::BackdropColor);
  EXPECT_EQ(PixelAt(Image, 6, 12), TBackdrop::BackdropColor);
  EXPECT_EQ(PixelAt(Image, 0, 0), TBackdrop::BackdropColor);
  EXPECT_EQ(PixelAt(Image, 11, 11), TBackdrop::BackdropColor);
}

TEST(TlxmLite, DefaultGlintIsWhiteFromFourFourToNineSeven) {
  TBackdrop Backdrop;
  TlxmLite Lite(&Backdrop);
  const QImage Image = Backdrop.Grab();
  for (const QPoint Inside : {QPoint(6, 5), QPoint(4, 5), QPoint(8, 5), QPoint(6, 4), QPoint(6, 6)})
    EXPECT_EQ(PixelAt(Image, Inside.x(), Inside.y()), Qt::white) << Inside.x() << "," << Inside.y();
  for (const QPoint Outside :
       {QPoint(3, 5), QPoint(9, 5), QPoint(6, 3), QPoint(6, 7), QPoint(4, 4), QPoint(8, 6)})
    EXPECT_EQ(PixelAt(Image, Outside.x(), Outside.y()), DarkGreen)
        << Outside.x() << "," << Outside.y();
}

TEST(TlxmLite, RoundLightIsSymmetric) {
  TBackdrop Backdrop;
  TlxmLite Lite(&Backdrop);
  for (const int Side : {18, 12, 25}) {
    SCOPED_TRACE(Side);
    Lite.resize(Side, Side);
    const QImage Image = Backdrop.Grab();
    // The glint breaks the symmetry of the fill, not of the outline and the background around it.
    const auto IsRimOrOutside = [&](int X, int Y) {
      const QColor Color = PixelAt(Image, X, Y);
      return Color == Qt::black ? 1 : Color == TBackdrop::BackdropColor ? 2 : 0;
    };
    for (int Y = 0; Y < Side; ++Y) {
      for (int X = 0; X < Side; ++X) {
        EXPECT_EQ(IsRimOrOutside(X, Y), IsRimOrOutside(Side - 1 - X, Y)) << X << "," << Y;
        EXPECT_EQ(IsRimOrOutside(X, Y), IsRimOrOutside(X, Side - 1 - Y)) << X << "," << Y;
        EXPECT_EQ(IsRimOrOutside(X, Y), IsRimOrOutside(Y, X)) << X << "," << Y;
      }
    }
  }
}

TEST(TlxmLite, WideSquareLightHasItsFillAndTwoPixelBevel) {
  TBackdrop Backdrop;
  TlxmLite Lite(&Backdrop);
  Lite.resize(30, 12);
  Lite.SetShape(TlxmLite::lsSquare);
  const QImage Image = Backdrop.Grab();
  const QColor Hi = TBackdrop::HighlightColor;
  const QColor Sh = TBackdrop::ShadowColor;
  const QColor Bg = TBackdrop::BackdropColor;
  const std::vector<std::pair<QPoint, QColor>> Expected{
      // Outer and inner highlight, top and left.
      {{2, 2}, Hi},
      {{9, 2}, Hi},
      {{2, 9}, Hi},
      {{3, 3}, Hi},
      {{8, 3}, Hi},
      {{3, 8}, Hi},
      // Inner and outer shadow, right and bottom; the outer one lies outside the fill.
      {{9, 4}, Sh},
      {{9, 9}, Sh},
      {{4, 9}, Sh},
      {{10, 3}, Sh},
      {{10, 10}, Sh},
      {{3, 10}, Sh},
      // Corners the bevel lines leave to the fill, and the fill itself.
      {{9, 3}, DarkGreen},
      {{3, 9}, DarkGreen},
      {{4, 4}, DarkGreen},
      {{8, 8}, DarkGreen},
      // Ends the lines do not reach, the margin and the rest of the control.
      {{10, 2}, Bg},
      {{2, 10}, Bg},
      {{1, 1}, Bg},
      {{11, 5}, Bg},
      {{5, 11}, Bg},
      {{20, 5}, Bg}};
  for (const auto& [Point, Color] : Expected)
    EXPECT_EQ(PixelAt(Image, Point.x(), Point.y()), Color) << Point.x() << "," << Point.y();
}

TEST(TlxmLite, SquareLightTooSmallForItsMarginPaintsNothing) {
  TBackdrop Backdrop;
  TlxmLite Lite(&Backdrop);
  Lite.SetShape(TlxmLite::lsSquare);
  Lite.SetLit(true);
  Lite.resize(4, 4);
  const QImage Image = Backdrop.Grab();
  for (int X = 0; X < 5; ++X)
    for (int Y = 0; Y < 5; ++Y) EXPECT_EQ(PixelAt(Image, X, Y), TBackdrop::BackdropColor);
}

class TlxmLiteShown : public testing::Test {
 protected:
  void SetUp() override {
    Lite.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&Lite));
    ASSERT_TRUE(WaitFor([this] { return Lite.Paints > 0; }));
    Lite.SetOnChange([this](QObject* Sender, bool Lit) {
      EXPECT_EQ(Sender, &Lite);
      Changes.push_back(Lit);
    });
  }

  // Lets any pending paint happen.
  int PaintsAfterSettling() {
    SettlePaints();
    return Lite.Paints;
  }

  TCountedLite Lite;
  std::vector<bool> Changes;
};

TEST_F(TlxmLiteShown, SettingTheCurrentValueNeitherRepaintsNorFiresOnChange) {
  const int Before = PaintsAfterSettling();
  Lite.SetLit(false);
  Lite.SetOnColor(Lite.OnColor());
  Lite.SetOffColor(Lite.OffColor());
  Lite.SetShape(Lite.Shape());
  EXPECT_EQ(PaintsAfterSettling(), Before);
  EXPECT_TRUE(Changes.empty());

  Lite.SetLit(true);
  EXPECT_TRUE(WaitFor([&] { return Lite.Paints > Before; }));
  EXPECT_EQ(Changes, std::vector<bool>{true});
  const int AfterLit = PaintsAfterSettling();
  Lite.SetLit(true);
  EXPECT_EQ(PaintsAfterSettling(), AfterLit);
  EXPECT_EQ(Changes, std::vector<bool>{true});
}

TEST_F(TlxmLiteShown, EachChangeOfAPropertyRepaints) {
  int Before = PaintsAfterSettling();
  Lite.SetOnColor(0x0000FF);
  EXPECT_TRUE(WaitFor([&] { return Lite.Paints > Before; }));
  Before = PaintsAfterSettling();
  Lite.SetOffColor(0x000080);
  EXPECT_TRUE(WaitFor([&] { return Lite.Paints > Before; }));
  Before = PaintsAfterSettling();
  Lite.SetShape(TlxmLite::lsSquare);
  EXPECT_TRUE(WaitFor([&] { return Lite.Paints > Before; }));
  EXPECT_TRUE(Changes.empty());
}

TEST_F(TlxmLiteShown, OnChangeReportsEveryChangeInOrder) {
  Lite.SetLit(true);
  Lite.SetLit(false);
  Lite.SetLit(true);
  EXPECT_EQ(Changes, (std::vector<bool>{true, false, true}));
}

TEST_F(TlxmLiteShown, ClickInsideFiresOnClick) {
  int Clicks = 0;
  Lite.SetOnClick([&](QObject* Sender) {
    EXPECT_EQ(Sender, &Lite);
    ++Clicks;
  });
  QTest::mouseClick(&Lite, Qt::LeftButton, {}, QPoint(9, 9));
  EXPECT_EQ(Clicks, 1);
  QTest::mouseClick(&Lite, Qt::RightButton, {}, QPoint(9, 9));
  EXPECT_EQ(Clicks, 1);
}

}  // namespace
