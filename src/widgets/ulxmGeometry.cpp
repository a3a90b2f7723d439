#include "widgets/ulxmGeometry.h"

#include <algorithm>
#include <cstdint>

TLiteRect SquareLiteRect(int Width, int Height) {
  TLiteRect Rect{2, 2, Width - 2, Height - 2};
  const int Side = std::min(Rect.Right, Rect.Bottom);
  Rect.Right = Side;
  Rect.Bottom = Side;
  return Rect;
}

std::array<TLiteLine, 8> SquareLiteBevel(const TLiteRect& Square) {
  const int L = Square.Left;
  const int T = Square.Top;
  const int R = Square.Right;
  const int B = Square.Bottom;
  constexpr auto Hi = TBevelTone::Highlight;
  constexpr auto Sh = TBevelTone::Shadow;
  return {{
      {L, B - 1, L, T, Hi},
      {L, T, R, T, Hi},
      {L + 1, B - 2, L + 1, T + 1, Hi},
      {L + 1, T + 1, R - 1, T + 1, Hi},
      {R - 1, T + 2, R - 1, B - 1, Sh},
      {R - 1, B - 1, L + 1, B - 1, Sh},
      {R, T + 1, R, B, Sh},
      {R, B, L, B, Sh},
  }};
}

TLiteRect RoundLiteRect(int Width, int Height) {
  const int Side = std::max(0, std::min(Width, Height));
  return {0, 0, Side, Side};
}

TLiteRect RoundLiteGlint(int Side) {
  const int S = std::max(0, Side) / 6;
  // 2.5 × S cut to a whole number, kept in integers.
  return {S + 1, S + 1, (5 * S) / 2 + 2, 2 * S + 1};
}

TLiteRect LinePixels(const TLiteLine& Line) {
  if (Line.Y1 == Line.Y2) {
    if (Line.X2 > Line.X1) return {Line.X1, Line.Y1, Line.X2, Line.Y1 + 1};
    if (Line.X2 < Line.X1) return {Line.X2 + 1, Line.Y1, Line.X1 + 1, Line.Y1 + 1};
    return {};
  }
  if (Line.X1 == Line.X2) {
    if (Line.Y2 > Line.Y1) return {Line.X1, Line.Y1, Line.X1 + 1, Line.Y2};
    return {Line.X1, Line.Y2 + 1, Line.X1 + 1, Line.Y1 + 1};
  }
  // The lights draw only straight lines.
  return {};
}

std::vector<TEllipseRow> EllipseRows(const TLiteRect& Box) {
  std::vector<TEllipseRow> Rows;
  if (Box.IsEmpty()) return Rows;
  // In half pixels from the centre, a pixel centre (x, y) is inside when
  // (dx / W)² + (dy / H)² <= 1, kept in integers: dx² H² + dy² W² <= W² H².
  const std::int64_t W = Box.Right - Box.Left;
  const std::int64_t H = Box.Bottom - Box.Top;
  for (int Y = Box.Top; Y < Box.Bottom; ++Y) {
    const std::int64_t Dy = 2 * (Y - Box.Top) + 1 - H;
    const std::int64_t Room = W * W * H * H - Dy * Dy * W * W;
    TEllipseRow Row{Y, Box.Right, Box.Right};
    for (int X = Box.Left; X < Box.Right; ++X) {
      const std::int64_t Dx = 2 * (X - Box.Left) + 1 - W;
      if (Dx * Dx * H * H <= Room) {
        Row.Left = std::min(Row.Left, X);
        Row.Right = X + 1;
      }
    }
    if (Row.Left < Row.Right) Rows.push_back(Row);
  }
  return Rows;
}

std::vector<TLiteRect> EllipseOutline(const std::vector<TEllipseRow>& Rows) {
  std::vector<TLiteRect> Runs;
  const auto Covers = [&](std::size_t Index, int X) {
    return Index < Rows.size() && X >= Rows[Index].Left && X < Rows[Index].Right;
  };
  for (std::size_t I = 0; I < Rows.size(); ++I) {
    const TEllipseRow& Row = Rows[I];
    int RunStart = Row.Left;
    bool InRun = false;
    for (int X = Row.Left; X <= Row.Right; ++X) {
      const bool Rim = X < Row.Right && (X == Row.Left || X == Row.Right - 1 || I == 0 ||
                                         !Covers(I - 1, X) || !Covers(I + 1, X));
      if (Rim && !InRun) {
        RunStart = X;
        InRun = true;
      } else if (!Rim && InRun) {
        Runs.push_back({RunStart, Row.Y, X, Row.Y + 1});
        InRun = false;
      }
    }
  }
  return Runs;
}
