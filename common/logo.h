#pragma once
// The programs' logo, drawn into the top-left corner of the console window from a bitmap
// resource of the running executable. Nothing happens where there is no such window.

namespace common {

// The title the logo routine gives the console for a moment, to find its window.
inline constexpr const char* kLogoWindowTitle = "Brenvik Korvane x64 ";

inline constexpr int kLauncherLogoResource = 101;  // 150 x 29, 4 bits per pixel
inline constexpr int kLogoResource = 102;          // 150 x 29, 8 bits per pixel

// The plugin's logo routine: resource 102 at (0, 0).
void DrawLogo();
// Draws bitmap resource `resourceId` at (x, y) of the console window, found anew.
void DrawConsoleLogo(int resourceId, int x, int y);

}  // namespace common
