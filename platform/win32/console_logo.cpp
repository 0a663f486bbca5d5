#include "platform/console_logo.h"

#include <windows.h>

#include "platform/clock.h"

namespace platform {

void drawConsoleLogo(const char* findTitle, int resourceId, int x, int y) {
    char saved[1024] = {};
    GetConsoleTitleA(saved, sizeof saved);
    SetConsoleTitleA(findTitle);
    // The console host needs a moment before the new title is visible to FindWindow.
    sleepMs(40);
    HWND window = FindWindowA(nullptr, findTitle);
    SetConsoleTitleA(saved);
    // GetDC(NULL) would be the whole screen: without a console window of our own (a terminal
    // that hosts the console elsewhere, a headless session) there is nothing to draw into.
    if (!window) {
        return;
    }
    HBITMAP bitmap = LoadBitmapA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(resourceId));
    if (!bitmap) {
        return;
    }
    HDC windowDc = GetDC(window);
    if (!windowDc) {
        DeleteObject(bitmap);
        return;
    }
    HDC memoryDc = CreateCompatibleDC(windowDc);
    if (memoryDc) {
        HGDIOBJ previous = SelectObject(memoryDc, bitmap);
        BITMAP info = {};
        GetObjectA(bitmap, sizeof info, &info);
        BitBlt(windowDc, x, y, info.bmWidth, info.bmHeight, memoryDc, 0, 0, SRCCOPY);
        SelectObject(memoryDc, previous);
        DeleteDC(memoryDc);
    }
    DeleteObject(bitmap);
    ReleaseDC(window, windowDc);
}

}  // namespace platform
