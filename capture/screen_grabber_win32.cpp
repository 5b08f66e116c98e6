// The parts of the screen grabber both display sources share: opening, the cursor drawn
// with GDI over the colour key, and the clock.
#include <windows.h>

#include <mmsystem.h>

#include "capture/screen_grabber_win32.h"

namespace pemlo {

int grabberOpen(ScreenGrabber& grabber, FrameSpool& spool, HWND /*window*/, const CaptureArea& area,
                const std::string& folder, const std::string& description) {
    grabber.desktopWindow = GetDesktopWindow();
    if (!grabberOpenDisplay(grabber)) {
        return 0;
    }
    if (!spoolOpen(spool, grabber, area, folder, description)) {
        return 0;
    }
    grabber.desktopWindow = GetDesktopWindow();

    // 32 x 32, 24 bits, rows bottom-up.
    ZeroMemory(&grabber.cursorBitmapInfo, sizeof(grabber.cursorBitmapInfo));
    BITMAPINFOHEADER& header = grabber.cursorBitmapInfo.bmiHeader;
    header.biSize = sizeof(BITMAPINFOHEADER);
    header.biWidth = kCursorSide;
    header.biHeight = kCursorSide;
    header.biPlanes = 1;
    header.biBitCount = 24;
    header.biCompression = BI_RGB;

    grabber.cursorDc = CreateCompatibleDC(nullptr);
    if (grabber.cursorDc == nullptr) {
        return 0;
    }
    void* bits = nullptr;
    grabber.cursorBitmap = CreateDIBSection(grabber.cursorDc, &grabber.cursorBitmapInfo,
                                            DIB_RGB_COLORS, &bits, nullptr, 0);
    if (grabber.cursorBitmap == nullptr || bits == nullptr) {
        return 0;
    }
    grabber.cursorImage = static_cast<unsigned char*>(bits);
    if (SelectObject(grabber.cursorDc, grabber.cursorBitmap) == nullptr) {
        return 0;
    }
    grabber.keyBrush = CreateSolidBrush(RGB(kCursorKeyRed, kCursorKeyGreen, kCursorKeyBlue));
    if (grabber.keyBrush == nullptr) {
        return 0;
    }
    InvalidateRect(grabber.desktopWindow, nullptr, FALSE);
    return 1;
}

int ScreenGrabber::queryCursor(CursorState& state) {
    CURSORINFO info;
    ZeroMemory(&info, sizeof(info));
    info.cbSize = sizeof(CURSORINFO);
    if (!GetCursorInfo(&info)) {
        return 0;
    }
    // Only "showing" counts; a suppressed cursor is not drawn.
    state.showing = info.flags == CURSOR_SHOWING ? 1 : 0;
    state.x = info.ptScreenPos.x;
    state.y = info.ptScreenPos.y;
    cursor = info.hCursor;
    return 1;
}

const unsigned char* ScreenGrabber::drawCursor() {
    if (cursorDc == nullptr || cursorImage == nullptr) {
        return nullptr;
    }
    // The key brush fills the background first, so every pixel the cursor leaves
    // uncovered holds the key colour; a larger cursor keeps its top-left 32 x 32.
    if (!DrawIconEx(cursorDc, 0, 0, cursor, 0, 0, 0, keyBrush, DI_NORMAL | DI_DEFAULTSIZE)) {
        return nullptr;
    }
    GdiFlush();
    return cursorImage;
}

int ScreenGrabber::cursorHotspot(int32_t& x, int32_t& y) {
    ICONINFO info;
    ZeroMemory(&info, sizeof(info));
    if (GetIconInfo(cursor, &info) != 1) {
        return 0;
    }
    x = static_cast<int32_t>(info.xHotspot);
    y = static_cast<int32_t>(info.yHotspot);
    if (info.hbmMask != nullptr) {
        DeleteObject(info.hbmMask);
    }
    if (info.hbmColor != nullptr) {
        DeleteObject(info.hbmColor);
    }
    return 1;
}

uint32_t ScreenGrabber::nowMs() {
    return timeGetTime();
}

void ScreenGrabber::frameDone() {
    InvalidateRect(desktopWindow, nullptr, FALSE);
}

}  // namespace pemlo
