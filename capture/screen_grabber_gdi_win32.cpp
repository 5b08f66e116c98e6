// The display copied with GDI: BitBlt from the screen into a 32-bit top-down DIB section
// the size of the display, laid out like the Direct3D surface (blue, green, red, alpha).
#include <windows.h>

#include "capture/screen_grabber_win32.h"

namespace pemlo {

int grabberOpenDisplay(ScreenGrabber& grabber) {
    grabber.screenWidth = GetSystemMetrics(SM_CXSCREEN);
    grabber.screenHeight = GetSystemMetrics(SM_CYSCREEN);
    if (grabber.screenWidth <= 0 || grabber.screenHeight <= 0) {
        return 0;
    }
    BITMAPINFO info;
    ZeroMemory(&info, sizeof(info));
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = grabber.screenWidth;
    info.bmiHeader.biHeight = -grabber.screenHeight;  // top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    grabber.screenCopyDc = CreateCompatibleDC(nullptr);
    if (grabber.screenCopyDc == nullptr) {
        return 0;
    }
    void* bits = nullptr;
    grabber.screenCopyBitmap =
        CreateDIBSection(grabber.screenCopyDc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (grabber.screenCopyBitmap == nullptr || bits == nullptr) {
        return 0;
    }
    grabber.screenCopyBits = static_cast<unsigned char*>(bits);
    grabber.screenCopyOld = SelectObject(grabber.screenCopyDc, grabber.screenCopyBitmap);
    if (grabber.screenCopyOld == nullptr) {
        return 0;
    }
    return 1;
}

int ScreenGrabber::lockFrame(ScreenImage& image) {
    if (screenCopyDc == nullptr || screenCopyBits == nullptr) {
        return 0;
    }
    HDC screen = GetDC(nullptr);
    if (screen == nullptr) {
        return 0;
    }
    const BOOL copied =
        BitBlt(screenCopyDc, 0, 0, screenWidth, screenHeight, screen, 0, 0, SRCCOPY);
    ReleaseDC(nullptr, screen);
    if (!copied) {
        return 0;
    }
    GdiFlush();
    image.pixels = screenCopyBits;
    image.pitch = static_cast<uint32_t>(screenWidth) * 4;
    image.width = static_cast<uint32_t>(screenWidth);
    image.height = static_cast<uint32_t>(screenHeight);
    return 1;
}

int ScreenGrabber::unlockFrame() {
    return screenCopyBits != nullptr ? 1 : 0;
}

void ScreenGrabber::release() {
    if (screenCopyDc != nullptr) {
        if (screenCopyOld != nullptr) {
            SelectObject(screenCopyDc, screenCopyOld);
            screenCopyOld = nullptr;
        }
        DeleteDC(screenCopyDc);
        screenCopyDc = nullptr;
    }
    if (screenCopyBitmap != nullptr) {
        DeleteObject(screenCopyBitmap);
        screenCopyBitmap = nullptr;
    }
    screenCopyBits = nullptr;
}

}  // namespace pemlo
