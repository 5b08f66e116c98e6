// The Windows screen source: a copy of the whole display of the default adapter (with
// Direct3D 9 in the product, with GDI when built with PEMLO_GDI_CAPTURE) and the mouse
// cursor drawn with GDI over the colour key into a 32 x 32 DIB section.
#pragma once

#include <windows.h>

#include <string>

#include <d3d9.h>

#include "capture/frame_spool.h"
#include "capture/screen_source.h"

namespace pemlo {

struct ScreenGrabber final : ScreenSource {
    // Direct3D 9 source.
    IDirect3D9* d3d = nullptr;
    D3DDISPLAYMODE displayMode{};
    IDirect3DDevice9* device = nullptr;
    IDirect3DSurface9* surface = nullptr;
    // GDI source: a 32-bit top-down DIB section the size of the display.
    HDC screenCopyDc = nullptr;
    HBITMAP screenCopyBitmap = nullptr;
    HGDIOBJ screenCopyOld = nullptr;
    unsigned char* screenCopyBits = nullptr;
    int screenWidth = 0;
    int screenHeight = 0;
    // Cursor drawing (kept until the program ends).
    HWND desktopWindow = nullptr;
    BITMAPINFO cursorBitmapInfo{};
    HDC cursorDc = nullptr;
    HBITMAP cursorBitmap = nullptr;
    unsigned char* cursorImage = nullptr;
    HBRUSH keyBrush = nullptr;
    HCURSOR cursor = nullptr;  // the cursor of the last query

    int lockFrame(ScreenImage& image) override;
    int unlockFrame() override;
    int queryCursor(CursorState& state) override;
    const unsigned char* drawCursor() override;
    int cursorHotspot(int32_t& x, int32_t& y) override;
    uint32_t nowMs() override;
    void frameDone() override;
    void release() override;
};

// Creates the display copy, the frame spool of `area` (kFrameSpoolName and its index in
// `folder`, the index starting with `description`) and the cursor objects. `window` is not used. 1
// when everything exists, 0 at the first failing step (what was made so far is left for
// captureRelease).
int grabberOpen(ScreenGrabber& grabber, FrameSpool& spool, HWND window, const CaptureArea& area,
                const std::string& folder, const std::string& description);

// The display part of grabberOpen, one per source.
int grabberOpenDisplay(ScreenGrabber& grabber);

}  // namespace pemlo
