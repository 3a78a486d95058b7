#pragma once

// The interface colours the user can pick as the theme, indexed by the setting selectedTheme.
// The first is the house red the window starts with.

#include <QColor>
#include <QString>

#include <array>

namespace kivo::app {

struct ThemeColor {
    const char* name; // shown as the swatch's tooltip
    const char* hex;
};

inline constexpr std::array<ThemeColor, 8> kThemeColors { {
    { "Red", "EF5356" },
    { "Orange", "F0A876" },
    { "Yellow", "F0E176" },
    { "Green", "76F0A1" },
    { "Cyan", "76E8F0" },
    { "Blue", "76A5F0" },
    { "Purple", "B876F0" },
    { "Pink", "F0A1D4" },
} };

// A stored index outside the palette means the first colour.
inline int themeIndex(int selectedTheme)
{
    return selectedTheme >= 0 && selectedTheme < int(kThemeColors.size()) ? selectedTheme : 0;
}

inline QColor themeColor(int selectedTheme)
{
    return QColor(QLatin1Char('#') + QLatin1String(kThemeColors[std::size_t(themeIndex(selectedTheme))].hex));
}

} // namespace kivo::app
