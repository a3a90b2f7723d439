#include "widgets/ulxmColor.h"

#include <QGuiApplication>

namespace {

struct TSystemColorRole {
  std::uint8_t Index;
  QPalette::ColorGroup Group;
  QPalette::ColorRole Role;
};

// The desktop has no palette role of its own; the window background is the nearest.
constexpr TSystemColorRole SystemColorRoles[] = {
    {0x01, QPalette::Active, QPalette::Window},           // desktop background
    {0x05, QPalette::Active, QPalette::Base},             // window
    {0x08, QPalette::Active, QPalette::WindowText},       // window text
    {0x0D, QPalette::Active, QPalette::Highlight},        // highlight
    {0x0E, QPalette::Active, QPalette::HighlightedText},  // highlighted text
    {0x0F, QPalette::Active, QPalette::Button},           // button face
    {0x10, QPalette::Active, QPalette::Mid},              // button shadow
    {0x11, QPalette::Disabled, QPalette::WindowText},     // grey text
    {0x12, QPalette::Active, QPalette::ButtonText},       // button text
    {0x14, QPalette::Active, QPalette::Light},            // button highlight
    {0x15, QPalette::Active, QPalette::Shadow},           // three-dimensional dark shadow
    {0x16, QPalette::Active, QPalette::Midlight},         // three-dimensional light
    {0x17, QPalette::Active, QPalette::ToolTipText},      // tool tip text
    {0x18, QPalette::Active, QPalette::ToolTipBase},      // tool tip background
};

}  // namespace

QColor ColorToQColor(TColor Color, const QPalette& Palette) {
  if ((Color & clSystemColor) != 0) {
    const auto Index = static_cast<std::uint8_t>(Color & 0xFF);
    for (const auto& Entry : SystemColorRoles) {
      if (Entry.Index == Index) return Palette.color(Entry.Group, Entry.Role);
    }
    // Indices without a counterpart fall back to the window background rather than black.
    return Palette.color(QPalette::Active, QPalette::Window);
  }
  return QColor(static_cast<int>(Color & 0xFF), static_cast<int>((Color >> 8) & 0xFF),
                static_cast<int>((Color >> 16) & 0xFF));
}

QColor ColorToQColor(TColor Color) {
  return ColorToQColor(Color, QGuiApplication::palette());
}
