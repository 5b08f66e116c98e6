// Records a few frames of a known test pattern with the real screen grabber and reads
// them back. Built with the GDI source it checks the pixels; with Direct3D 9 (whose
// copy is black under Wine) it checks the sizes and the pitch. Both check the cursor.
// It carries the program's own manifest, so it also reports whether the process is DPI
// aware and the display's DPI; with PEMLO_EXPECT_DPI set (a prefix whose LogPixels was
// changed) both must be as expected and the capture must still hit the physical pixels.
// Writes "PASS" or the failures to capture_probe.txt in the current folder and exits
// with 0 or 1.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "capture/frame_spool.h"
#include "capture/screen_grabber_win32.h"

namespace {

constexpr int kLeft = 100;
constexpr int kTop = 80;
constexpr int kQuadW = 128;
constexpr int kQuadH = 96;
// The cursor first lies over the pattern window (the probe's own cursor), then over
// the desktop, whose cursor belongs to another process (Wine cannot draw that one, and
// such frames are recorded without a cursor).
constexpr int kCursorAtX = 110;
constexpr int kCursorAtY = 90;
constexpr int kDesktopCursorX = 600;
constexpr int kDesktopCursorY = 400;
// Top-left, top-right, bottom-left, bottom-right.
const COLORREF kQuadColours[4] = {RGB(255, 0, 0), RGB(0, 255, 0), RGB(0, 0, 255), RGB(255, 255, 0)};

std::vector<std::string> failures;
std::vector<std::string> notes;

void check(bool ok, const std::string& what) {
    if (!ok) {
        failures.push_back(what);
    }
}

LRESULT CALLBACK patternProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_PAINT) {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(hwnd, &ps);
        for (int q = 0; q < 4; ++q) {
            RECT r{(q % 2) * kQuadW, (q / 2) * kQuadH, (q % 2 + 1) * kQuadW, (q / 2 + 1) * kQuadH};
            HBRUSH b = CreateSolidBrush(kQuadColours[q]);
            FillRect(dc, &r, b);
            DeleteObject(b);
        }
        EndPaint(hwnd, &ps);
        return 0;
    }
    return DefWindowProcA(hwnd, msg, wp, lp);
}

void pump(DWORD ms) {
    const DWORD until = GetTickCount() + ms;
    while (static_cast<LONG>(until - GetTickCount()) > 0) {
        MSG m;
        while (PeekMessageA(&m, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&m);
            DispatchMessageA(&m);
        }
        Sleep(10);
    }
}

bool fileExists(const char* name) {
    return GetFileAttributesA(name) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace

int main() {
#ifdef PEMLO_GDI_CAPTURE
    const bool gdi = true;
#else
    const bool gdi = false;
#endif
    WNDCLASSA wc{};
    wc.lpfnWndProc = patternProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "PemloPattern";
    wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
    RegisterClassA(&wc);
    HWND pattern =
        CreateWindowExA(WS_EX_TOPMOST, "PemloPattern", "pattern", WS_POPUP | WS_VISIBLE, kLeft,
                        kTop, 2 * kQuadW, 2 * kQuadH, nullptr, nullptr, wc.hInstance, nullptr);
    check(pattern != nullptr, "pattern window not created");
    SetCursorPos(kCursorAtX, kCursorAtY);
    pump(700);

    HDC screenDc = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screenDc, LOGPIXELSX);
    ReleaseDC(nullptr, screenDc);
    // Windows Vista and later; looked up, as the program is built for Windows XP.
    using DpiAwareQuery = BOOL(WINAPI*)();
    const auto isDpiAware = reinterpret_cast<DpiAwareQuery>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("user32.dll"), "IsProcessDPIAware")));
    const int aware = isDpiAware != nullptr && isDpiAware() ? 1 : 0;
    notes.push_back("dpi-aware " + std::to_string(aware) + " logpixels " + std::to_string(dpi));
    if (const char* expect = std::getenv("PEMLO_EXPECT_DPI")) {
        check(aware == 1, "the process is not DPI aware");
        check(dpi == std::atoi(expect), "display DPI " + std::to_string(dpi));
    }
    RECT placed{};
    GetWindowRect(pattern, &placed);
    check(placed.left == kLeft && placed.top == kTop && placed.right == kLeft + 2 * kQuadW &&
              placed.bottom == kTop + 2 * kQuadH,
          "pattern window at " + std::to_string(placed.left) + "," + std::to_string(placed.top) +
              " to " + std::to_string(placed.right) + "," + std::to_string(placed.bottom));
    POINT cursorAt{};
    GetCursorPos(&cursorAt);
    check(cursorAt.x == kCursorAtX && cursorAt.y == kCursorAtY,
          "cursor at " + std::to_string(cursorAt.x) + "," + std::to_string(cursorAt.y));

    pemlo::ScreenGrabber grabber;
    pemlo::FrameSpool spool;
    const int screenW = GetSystemMetrics(SM_CXSCREEN);
    const int screenH = GetSystemMetrics(SM_CYSCREEN);
    const int opened = pemlo::grabberOpen(
        grabber, spool, pattern, pemlo::CaptureArea{0, 0, screenW, screenH}, ".", "capture probe");
    check(opened == 1, "grabberOpen failed");
    if (opened == 1) {
        // Each step of a recording tick on its own, so a failure names its step.
        pemlo::ScreenImage image;
        if (grabber.lockFrame(image) != 1) {
            check(false, "display copy failed");
        } else {
            check(grabber.unlockFrame() == 1, "unlock failed");
        }
        pemlo::CursorState state;
        check(grabber.queryCursor(state) == 1, "cursor query failed");
        check(state.showing == 1, "cursor not showing");
        check(grabber.drawCursor() != nullptr, "cursor drawing failed");
    }
    const int ownCursorFrames = 3;
    const int frames = 5;
    for (int i = 0; opened == 1 && i < frames; ++i) {
        if (i == ownCursorFrames) {
            SetCursorPos(kDesktopCursorX, kDesktopCursorY);
            pump(100);
        }
        check(pemlo::spoolRecordFrame(spool) == 1,
              "spoolRecordFrame failed at frame " + std::to_string(i));
        pump(100);
    }
    check(!opened || fileExists(pemlo::kFrameSpoolName), "spool file missing while open");

    // The screen as the frames read back build it up, packed BGR, rows top-down.
    std::vector<unsigned char> picture(size_t(screenW) * size_t(screenH) * 3);
    pemlo::SpoolFrame frame;
    int read = 0;
    for (int i = 0; opened == 1 && i < frames; ++i) {
        if (pemlo::spoolReadFrame(spool, frame) != 1) {
            check(false, "spoolReadFrame failed at frame " + std::to_string(i));
            break;
        }
        ++read;
        uint64_t area = 0;
        for (uint32_t t = 0; t < frame.tileCount; ++t) {
            const pemlo::SpoolTile& tile = frame.tiles[t];
            area += uint64_t(tile.width) * tile.height;
            for (uint32_t y = 0; y < tile.height; ++y) {
                std::memcpy(&picture[(size_t(tile.y + y) * screenW + tile.x) * 3],
                            tile.pixels + size_t(y) * tile.width * 3, size_t(tile.width) * 3);
            }
        }
        const int last = frame.last;
        const uint16_t duration = frame.durationMs;
        const int present = frame.cursorPresent;
        const uint16_t cx = frame.cursorX;
        const uint16_t cy = frame.cursorY;
        const std::vector<unsigned char> cursor(frame.cursor,
                                                frame.cursor + pemlo::kCursorImageBytes);
        const std::string f = "frame " + std::to_string(i) + ": ";
        check(last == (i == frames - 1 ? 1 : 0), f + "wrong last flag");
        check(frame.width == uint32_t(screenW) && frame.height == uint32_t(screenH),
              f + "frame size is not the display's");
        check(i > 0 || area == uint64_t(screenW) * uint64_t(screenH),
              f + "the first frame does not cover the display");
        check(i == frames - 1 || (duration >= 60 && duration < 2000),
              f + "duration " + std::to_string(duration));
        notes.push_back(f + "tiles " + std::to_string(frame.tileCount) + " duration " +
                        std::to_string(duration) + " cursor " + std::to_string(present) + " at " +
                        std::to_string(int16_t(cx)) + "," + std::to_string(int16_t(cy)));
        const bool own = i < ownCursorFrames;
        check(!own || present == 1, f + "no cursor");
        if (present == 1) {
            int key = 0;
            for (uint32_t p = 0; p < pemlo::kCursorImageBytes; p += 3) {
                key += cursor[p] == 255 && cursor[p + 1] == 240 && cursor[p + 2] == 255;
            }
            check(key > 0 && key < 1024,
                  f + "cursor image has " + std::to_string(key) + " key pixels of 1024");
            const int x = static_cast<int16_t>(cx);
            const int y = static_cast<int16_t>(cy);
            const int atX = own ? kCursorAtX : kDesktopCursorX;
            const int atY = own ? kCursorAtY : kDesktopCursorY;
            check(x <= atX && x > atX - 32 && y <= atY && y > atY - 32,
                  f + "cursor corner " + std::to_string(x) + "," + std::to_string(y));
        }
        if (gdi) {
            for (int q = 0; q < 4; ++q) {
                const int px = kLeft + (q % 2) * kQuadW + kQuadW / 2;
                const int py = kTop + (q / 2) * kQuadH + kQuadH / 2;
                const unsigned char* at = &picture[(size_t(py) * screenW + px) * 3];
                const COLORREF want = kQuadColours[q];
                char got[64];
                std::snprintf(got, sizeof got, "%u,%u,%u", at[2], at[1], at[0]);
                check(at[2] == GetRValue(want) && at[1] == GetGValue(want) &&
                          at[0] == GetBValue(want),
                      f + "quadrant " + std::to_string(q) + " is " + got);
            }
        }
    }
    check(read == frames, "read " + std::to_string(read) + " frames");
    check(pemlo::spoolFrameCount(spool) == frames, "frame count");
    pemlo::captureRelease(spool);
    // The spools stay on disk after release; whoever ends the recording deletes them.
    check(!opened || (fileExists(pemlo::kFrameSpoolName) && fileExists(pemlo::kFrameIndexName)),
          "spool or index missing after release");
    DeleteFileA(pemlo::kFrameSpoolName);
    DeleteFileA(pemlo::kFrameIndexName);

    FILE* out = std::fopen("capture_probe.txt", "w");
    if (out == nullptr) {
        return 2;
    }
    std::fprintf(out, "source %s display %dx%d\n", gdi ? "gdi" : "d3d", screenW, screenH);
    for (const std::string& n : notes) {
        std::fprintf(out, "%s\n", n.c_str());
    }
    for (const std::string& f : failures) {
        std::fprintf(out, "FAIL %s\n", f.c_str());
    }
    if (failures.empty()) {
        std::fprintf(out, "PASS\n");
    }
    std::fclose(out);
    return failures.empty() ? 0 : 1;
}
