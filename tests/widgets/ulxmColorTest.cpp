#include "widgets/ulxmColor.h"

#include <gtest/gtest.h>

namespace {

TEST(ColorToQColor, DirectColoursAreBlueGreenRedFromTheTopByteDown) {
  const QPalette Palette;
  EXPECT_EQ(ColorToQColor(0x0000FF, Palette), QColor(255, 0, 0));
  EXPECT_EQ(ColorToQColor(0x00FF00, Palette), QColor(0, 255, 0));
  EXPECT_EQ(ColorToQColor(0xFF0000, Palette), QColor(0, 0, 255));
  EXPECT_EQ(ColorToQColor(0x123456, Palette), QColor(0x56, 0x34, 0x12));
  EXPECT_EQ(ColorToQColor(clDarkGreen, Palette), QColor(0, 87, 0));
  EXPECT_EQ(ColorToQColor(clYellow, Palette), QColor(255, 255, 0));
  // A non-zero byte below the top bit does not change the colour.
  EXPECT_EQ(ColorToQColor(0x02123456, Palette), QColor(0x56, 0x34, 0x12));
}

TEST(ColorToQColor, SystemColoursComeFromTheMatchingPaletteRoles) {
  QPalette Palette;
  Palette.setColor(QPalette::Active, QPalette::Light, QColor(1, 2, 3));
  Palette.setColor(QPalette::Active, QPalette::Shadow, QColor(4, 5, 6));
  Palette.setColor(QPalette::Disabled, QPalette::WindowText, QColor(7, 8, 9));
  Palette.setColor(QPalette::Active, QPalette::WindowText, QColor(70, 80, 90));
  Palette.setColor(QPalette::Active, QPalette::Window, QColor(10, 11, 12));
  Palette.setColor(QPalette::Active, QPalette::Button, QColor(13, 14, 15));

  EXPECT_EQ(ColorToQColor(clBtnHighlight, Palette), QColor(1, 2, 3));
  EXPECT_EQ(ColorToQColor(cl3DDkShadow, Palette), QColor(4, 5, 6));
  EXPECT_EQ(ColorToQColor(clGrayText, Palette), QColor(7, 8, 9));
  EXPECT_EQ(ColorToQColor(clBackground, Palette), QColor(10, 11, 12));
  EXPECT_EQ(ColorToQColor(clBtnFace, Palette), QColor(13, 14, 15));
  EXPECT_EQ(ColorToQColor(clWindowText, Palette), QColor(70, 80, 90));
  // An index with no counterpart falls back to the window background.
  EXPECT_EQ(ColorToQColor(0x80000063, Palette), QColor(10, 11, 12));
}

}  // namespace
