#include "widgets/ulxmLbl.h"

#include <QHBoxLayout>
#include <QLineEdit>
#include <QTest>

#include <gtest/gtest.h>

#include "widgets/WidgetTestUtils.h"

namespace {

const QColor White(255, 255, 255);

QFont PlainFont(int PixelSize, const QString& Family = QStringLiteral("DejaVu Sans")) {
  QFont Font(Family);
  Font.setPixelSize(PixelSize);
  // Whole-colour glyph pixels, so the text colour can be read back exactly.
  Font.setStyleStrategy(QFont::NoAntialias);
  return Font;
}

// A label on a white background with black text, outside any layout, at a fixed size.
void Prepare(TlxmLbl& Label, int Width, int Height, const QString& Caption) {
  Label.SetAutoSize(false);
  Label.setFont(PlainFont(24));
  QPalette Palette = Label.palette();
  Palette.setColor(QPalette::Active, QPalette::WindowText, Qt::black);
  Palette.setColor(QPalette::Inactive, QPalette::WindowText, Qt::black);
  Label.setPalette(Palette);
  Label.SetColor(clWhite);
  Label.resize(Width, Height);
  Label.SetCaption(Caption);
}

// The bounding box of the pixels inside the frame that are not the background.
QRect InkBox(const QImage& Image, const QColor& Background) {
  QRect Box;
  for (int Y = 1; Y < Image.height() - 1; ++Y)
    for (int X = 1; X < Image.width() - 1; ++X)
      if (Image.pixelColor(X, Y) != Background) Box |= QRect(X, Y, 1, 1);
  return Box;
}

QImage Render(TlxmLbl& Label) {
  return Label.grab().toImage();
}

TEST(DrawnCaption, KeepsAtMostSeventyNineCharacters) {
  EXPECT_EQ(DrawnCaption(QString()), QString());
  EXPECT_EQ(DrawnCaption(QString(79, 'x')), QString(79, 'x'));
  EXPECT_EQ(DrawnCaption(QString(80, 'x')), QString(79, 'x'));
  EXPECT_EQ(DrawnCaption(QString(500, 'x')), QString(79, 'x'));
}

TEST(DrawnCaption, NeverSplitsASurrogatePair) {
  const QString Clef = QString::fromUcs4(U"\U0001D11E");
  ASSERT_EQ(Clef.size(), 2);
  const QString Caption = QString(78, 'x') + Clef + "yy";
  EXPECT_EQ(DrawnCaption(Caption), QString(78, 'x'));
  EXPECT_EQ(DrawnCaption(QString(77, 'x') + Clef + "yy"), QString(77, 'x') + Clef);
}

TEST(TlxmLbl, NewLabelHasItsDefaults) {
  TlxmLbl Label;
  EXPECT_TRUE(Label.LineBorder());
  EXPECT_TRUE(Label.AutoSize());
  EXPECT_FALSE(Label.Transparent());
  EXPECT_TRUE(Label.ShowAccelChar());
  EXPECT_TRUE(Label.ParentColor());
  EXPECT_EQ(Label.Alignment(), TlxmLbl::taLeftJustify);
  EXPECT_TRUE(Label.testAttribute(Qt::WA_OpaquePaintEvent));
  EXPECT_TRUE(Label.setProperty("Alignment", QVariant::fromValue(TlxmLbl::taCenter)));
  EXPECT_EQ(Label.Alignment(), TlxmLbl::taCenter);
  EXPECT_TRUE(Label.setProperty("Caption", QStringLiteral("0042")));
  EXPECT_EQ(Label.Caption(), QStringLiteral("0042"));
}

TEST(TlxmLbl, CentredCaptionWithoutFrameSitsInTheMiddle) {
  TlxmLbl Label;
  Label.SetLineBorder(false);
  Label.SetAlignment(TlxmLbl::taCenter);
  Prepare(Label, 200, 80, QStringLiteral("0000"));
  const QImage Image = Render(Label);
  // No frame: the edges are the background colour.
  for (const QPoint Edge : {QPoint(0, 0), QPoint(100, 0), QPoint(0, 40), QPoint(199, 79)})
    EXPECT_EQ(PixelAt(Image, Edge.x(), Edge.y()), White);
  const QRect Ink = InkBox(Image, White);
  ASSERT_FALSE(Ink.isEmpty());
  const int LeftMargin = Ink.left() - 2;
  const int RightMargin = 198 - Ink.right();
  EXPECT_LE(std::abs(LeftMargin - RightMargin), 3) << LeftMargin << " " << RightMargin;

  // Centred both ways: growing the label by 2n moves the text by n.
  Label.resize(260, 120);
  const QRect Moved = InkBox(Render(Label), White);
  EXPECT_NEAR(Moved.left() - Ink.left(), 30, 1);
  EXPECT_NEAR(Moved.top() - Ink.top(), 20, 1);
  EXPECT_EQ(Moved.size(), Ink.size());
}

TEST(TlxmLbl, FrameIsOneBlackPixelAroundTheBackground) {
  TlxmLbl Label;
  Prepare(Label, 120, 40, QString());
  Label.SetColor(0x00FFFF);
  const QImage Image = Render(Label);
  const QColor Yellow(255, 255, 0);
  for (const QPoint Edge : {QPoint(0, 0), QPoint(60, 0), QPoint(119, 0), QPoint(0, 20),
                            QPoint(119, 20), QPoint(0, 39), QPoint(60, 39), QPoint(119, 39)})
    EXPECT_EQ(PixelAt(Image, Edge.x(), Edge.y()), Qt::black) << Edge.x() << "," << Edge.y();
  for (const QPoint Inside : {QPoint(1, 1), QPoint(118, 38), QPoint(60, 20), QPoint(1, 20)})
    EXPECT_EQ(PixelAt(Image, Inside.x(), Inside.y()), Yellow) << Inside.x() << "," << Inside.y();
}

TEST(TlxmLbl, AlignmentPlacesTheCaptionInsideTheInsets) {
  TlxmLbl Label;
  Prepare(Label, 200, 40, QStringLiteral("I"));
  const QRect Left = InkBox(Render(Label), White);
  Label.SetAlignment(TlxmLbl::taRightJustify);
  const QRect Right = InkBox(Render(Label), White);
  Label.SetAlignment(TlxmLbl::taCenter);
  const QRect Centre = InkBox(Render(Label), White);
  // "I" has a small side bearing; it starts a few pixels after the two-pixel inset.
  EXPECT_GE(Left.left(), 2);
  EXPECT_LE(Left.left(), 7);
  EXPECT_LE(Right.right(), 198);
  EXPECT_GE(Right.right(), 193);
  EXPECT_LT(Left.right(), Centre.left());
  EXPECT_LT(Centre.right(), Right.left());
}

TEST(TlxmLbl, DisabledCaptionIsDrawnInGreyText) {
  TlxmLbl Label;
  Label.SetAlignment(TlxmLbl::taCenter);
  Prepare(Label, 160, 50, QStringLiteral("0000"));
  const QColor Grey = ColorToQColor(clGrayText, Label.palette());
  ASSERT_NE(Grey, White);
  ASSERT_NE(Grey, QColor(Qt::black));

  const QImage Enabled = Render(Label);
  const QRect Ink = InkBox(Enabled, White);
  ASSERT_FALSE(Ink.isEmpty());
  Label.setEnabled(false);
  const QImage Disabled = Render(Label);
  int GreyPixels = 0;
  for (int Y = Ink.top(); Y <= Ink.bottom(); ++Y) {
    for (int X = Ink.left(); X <= Ink.right(); ++X) {
      if (Enabled.pixelColor(X, Y) == Qt::black) {
        EXPECT_EQ(Disabled.pixelColor(X, Y), Grey);
        ++GreyPixels;
      } else {
        EXPECT_EQ(Disabled.pixelColor(X, Y), White);
      }
    }
  }
  EXPECT_GT(GreyPixels, 20);
  // The frame stays black.
  EXPECT_EQ(PixelAt(Disabled, 0, 0), Qt::black);
}

TEST(TlxmLbl, OnlyTheFirstSeventyNineCharactersAreDrawn) {
  TlxmLbl Label;
  Prepare(Label, 1200, 30, QString());
  Label.setFont(PlainFont(10, QStringLiteral("DejaVu Sans Mono")));
  QString Digits;
  for (int I = 0; I < 79; ++I) Digits += QChar('0' + I % 10);

  Label.SetCaption(Digits);
  const QImage Full = Render(Label);
  Label.SetCaption(Digits + QStringLiteral("WWWWWWWWWW"));
  EXPECT_EQ(Render(Label), Full);
  // Each of the 79 is drawn: dropping the last changes the picture.
  Label.SetCaption(Digits.left(78));
  EXPECT_NE(Render(Label), Full);
  // The ink ends well inside the label, so nothing was cut by the label's width.
  EXPECT_LT(InkBox(Full, White).right(), 1000);
}

TEST(TlxmLbl, AmpersandMarksAnAccessKeyUnlessShowAccelCharIsOff) {
  TlxmLbl Label;
  Prepare(Label, 200, 40, QStringLiteral("A&&B"));
  const QImage Escaped = Render(Label);
  Label.SetShowAccelChar(false);
  Label.SetCaption(QStringLiteral("A&B"));
  const QImage Literal = Render(Label);
  EXPECT_EQ(Escaped, Literal);

  Label.SetCaption(QStringLiteral("AB"));
  const QImage Plain = Render(Label);
  Label.SetShowAccelChar(true);
  Label.SetCaption(QStringLiteral("A&B"));
  const QImage Underlined = Render(Label);
  EXPECT_NE(Underlined, Plain);
  // The same two letters, one of them underlined: the ink only grows downwards.
  const QRect PlainInk = InkBox(Plain, White);
  const QRect UnderlinedInk = InkBox(Underlined, White);
  EXPECT_EQ(UnderlinedInk.top(), PlainInk.top());
  EXPECT_GT(UnderlinedInk.bottom(), PlainInk.bottom());
}

TEST(TlxmLbl, AccessKeyFocusesTheFocusControl) {
  QWidget Window;
  auto* const Layout = new QHBoxLayout(&Window);
  auto* const Label = new TlxmLbl;
  auto* const First = new QLineEdit;
  auto* const Edit = new QLineEdit;
  Layout->addWidget(First);
  Layout->addWidget(Label);
  Layout->addWidget(Edit);
  Label->SetCaption(QStringLiteral("&Temp"));
  Label->SetFocusControl(Edit);
  Window.show();
  QApplication::setActiveWindow(&Window);
  ASSERT_TRUE(QTest::qWaitForWindowActive(&Window));
  First->setFocus();
  ASSERT_TRUE(WaitFor([&] { return First->hasFocus(); }));
  QTest::keyClick(&Window, Qt::Key_T, Qt::AltModifier);
  EXPECT_TRUE(Edit->hasFocus());

  // Without the access key mark there is no shortcut.
  First->setFocus();
  ASSERT_TRUE(WaitFor([&] { return First->hasFocus(); }));
  Label->SetShowAccelChar(false);
  QTest::keyClick(&Window, Qt::Key_T, Qt::AltModifier);
  EXPECT_TRUE(First->hasFocus());
}

TEST(TlxmLbl, TransparentLabelShowsItsParentBeneathTheCaption) {
  TBackdrop Backdrop(200, 40);
  TlxmLbl Label(&Backdrop);
  Label.SetAutoSize(false);
  Label.setFont(PlainFont(24));
  Label.resize(200, 40);
  Label.SetCaption(QStringLiteral("0000"));
  Label.SetTransparent(true);
  EXPECT_FALSE(Label.testAttribute(Qt::WA_OpaquePaintEvent));
  const QImage Image = Backdrop.Grab();
  EXPECT_EQ(PixelAt(Image, 0, 0), TBackdrop::BackdropColor);
  EXPECT_EQ(PixelAt(Image, 199, 39), TBackdrop::BackdropColor);
  const QRect Ink = InkBox(Image, TBackdrop::BackdropColor);
  ASSERT_FALSE(Ink.isEmpty());
  EXPECT_EQ(PixelAt(Image, Ink.center().x(), 0), TBackdrop::BackdropColor);

  // Opaque again, it paints its own background and frame.
  Label.SetTransparent(false);
  const QImage Opaque = Backdrop.Grab();
  EXPECT_EQ(PixelAt(Opaque, 0, 0), Qt::black);
}

TEST(TlxmLbl, ParentColorFollowsTheParentUntilColorIsSet) {
  TBackdrop Backdrop(100, 30);
  TlxmLbl Label(&Backdrop);
  Label.SetAutoSize(false);
  Label.resize(100, 30);
  EXPECT_EQ(PixelAt(Backdrop.Grab(), 5, 5), TBackdrop::BackdropColor);
  Label.SetColor(clBtnFace);
  EXPECT_FALSE(Label.ParentColor());
  EXPECT_EQ(PixelAt(Backdrop.Grab(), 5, 5), Label.palette().color(QPalette::Button));
  Label.SetColor(0x0000FF);
  EXPECT_EQ(PixelAt(Backdrop.Grab(), 5, 5), QColor(255, 0, 0));
  Label.SetParentColor(true);
  EXPECT_EQ(PixelAt(Backdrop.Grab(), 5, 5), TBackdrop::BackdropColor);
}

TEST(TlxmLbl, AutoSizeFitsTheCaptionOutsideALayout) {
  QWidget Parent;
  TlxmLbl Label(&Parent);
  Label.setFont(PlainFont(24));
  Label.setGeometry(100, 10, 300, 100);
  Label.SetCaption(QStringLiteral("0000"));
  EXPECT_EQ(Label.size(), Label.sizeHint());
  EXPECT_EQ(Label.pos(), QPoint(100, 10));
  EXPECT_LT(Label.width(), 300);
  const QFontMetrics Metrics(Label.font());
  EXPECT_GE(Label.width(), Metrics.horizontalAdvance(QStringLiteral("0000")) + 3);
  EXPECT_GE(Label.height(), Metrics.height() + 3);

  // Right-justified, it keeps its right edge.
  Label.SetAlignment(TlxmLbl::taRightJustify);
  const int Right = Label.x() + Label.width();
  Label.SetCaption(QStringLiteral("-0012"));
  EXPECT_EQ(Label.x() + Label.width(), Right);

  // Off, it keeps the size it is given.
  Label.SetAutoSize(false);
  Label.resize(300, 100);
  Label.SetCaption(QStringLiteral("0"));
  EXPECT_EQ(Label.size(), QSize(300, 100));
}

TEST(TlxmLbl, ClicksReachOnClickAndOnDblClick) {
  TlxmLbl Label;
  Label.SetAutoSize(false);
  Label.resize(50, 20);
  int Clicks = 0;
  int DoubleClicks = 0;
  Label.SetOnClick([&](QObject* Sender) {
    EXPECT_EQ(Sender, &Label);
    ++Clicks;
  });
  Label.SetOnDblClick([&](QObject*) { ++DoubleClicks; });
  QTest::mouseClick(&Label, Qt::LeftButton, {}, QPoint(10, 10));
  EXPECT_EQ(Clicks, 1);
  QTest::mouseDClick(&Label, Qt::LeftButton, {}, QPoint(10, 10));
  EXPECT_EQ(DoubleClicks, 1);
}

}  // namespace
