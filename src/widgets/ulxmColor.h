#pragma once

#include <QColor>
#include <QPalette>

#include <cstdint>

// A colour as the widgets' properties hold it: 0x00BBGGRR for a direct colour, or a system colour
// index in the low byte with the top bit set.
using TColor = std::uint32_t;

inline constexpr TColor clBlack = 0x000000;
inline constexpr TColor clWhite = 0xFFFFFF;
inline constexpr TColor clLime = 0x00FF00;
inline constexpr TColor clYellow = 0x00FFFF;
inline constexpr TColor clDarkGreen = 0x005700;  // red 0, green 87, blue 0

inline constexpr TColor clSystemColor = 0x80000000;
inline constexpr TColor clBackground = 0x80000001;
inline constexpr TColor clWindowText = 0x80000008;
inline constexpr TColor clBtnFace = 0x8000000F;
inline constexpr TColor clGrayText = 0x80000011;
inline constexpr TColor clBtnHighlight = 0x80000014;
inline constexpr TColor cl3DDkShadow = 0x80000015;

// Resolves system colours against Palette; direct colours ignore it.
QColor ColorToQColor(TColor Color, const QPalette& Palette);
// The same against the application's palette.
QColor ColorToQColor(TColor Color);
