#pragma once
// The programs' logo in the console window (Windows GDI). Elsewhere there is no console window
// to draw into and the call does nothing.

namespace platform {

// Finds the console window by giving the console the unique title `findTitle` for a moment
// (the previous title is restored at once), then copies bitmap resource `resourceId` of the
// running executable to (x, y) of that window. Nothing is drawn when the window or the bitmap
// cannot be found.
void drawConsoleLogo(const char* findTitle, int resourceId, int x, int y);

}  // namespace platform
