#pragma once

#include <QRect>

#include <array>
#include <vector>

// A rectangle as the lights are drawn: right and bottom lie just outside it.
struct TLiteRect {
  int Left = 0;
  int Top = 0;
  int Right = 0;
  int Bottom = 0;

  bool IsEmpty() const { return Right <= Left || Bottom <= Top; }
  bool operator==(const TLiteRect&) const = default;
};

enum class TBevelTone { Highlight, Shadow };

// A horizontal or vertical line from (X1, Y1) towards (X2, Y2); the end point is not drawn.
struct TLiteLine {
  int X1 = 0;
  int Y1 = 0;
  int X2 = 0;
  int Y2 = 0;
  TBevelTone Tone = TBevelTone::Highlight;

  bool operator==(const TLiteLine&) const = default;
};

// The square light: the client area shrunk by 2 on every side, cut square at its smaller edge.
TLiteRect SquareLiteRect(int Width, int Height);

// The two-pixel bevel of a square light, in drawing order: two highlight lines on the top and
// left, then two shadow lines on the right and bottom, one pixel beyond the filled square.
std::array<TLiteLine, 8> SquareLiteBevel(const TLiteRect& Square);

// The round light's box, (0, 0) to (S, S) with S the smaller side.
TLiteRect RoundLiteRect(int Width, int Height);

// The glint's box inside a round light of side Side.
TLiteRect RoundLiteGlint(int Side);

// One row of an ellipse: the pixels from Left up to, not including, Right.
struct TEllipseRow {
  int Y = 0;
  int Left = 0;
  int Right = 0;

  bool operator==(const TEllipseRow&) const = default;
};

// The rows of the ellipse inscribed in Box, top to bottom: the pixels whose centres lie inside it.
// Empty rows are left out.
std::vector<TEllipseRow> EllipseRows(const TLiteRect& Box);

// The one-pixel rim of a filled ellipse: its pixels that have a neighbour above, below, left or
// right outside it, as runs one pixel high.
std::vector<TLiteRect> EllipseOutline(const std::vector<TEllipseRow>& Rows);

// The pixels a line covers, as a rectangle one pixel thick (empty for a zero-length line).
TLiteRect LinePixels(const TLiteLine& Line);

inline QRect ToQRect(const TLiteRect& Rect) {
  return QRect(Rect.Left, Rect.Top, Rect.Right - Rect.Left, Rect.Bottom - Rect.Top);
}

// Where a label draws its caption: inset 2 pixels at the left and top, 1 at the right and bottom.
inline QRect LabelTextRect(int Width, int Height) {
  return QRect(2, 2, Width - 3, Height - 3);
}
