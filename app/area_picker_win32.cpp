// The overlay on which the user picks the area to record. It covers the primary display
// (the one the grabber copies) with a still picture of it, dimmed; the rectangle being
// dragged, or the window under the pointer, shows undimmed with its size and position
// beside it. The program is DPI aware, so the pointer, the picture and the numbers are
// all physical pixels.
#include "app/area_picker_win32.h"

#include <algorithm>
#include <string>

#include "app/messages.h"

namespace pemlo {
namespace {

const char kPickerClass[] = "PemloAreaPicker";
// Time the other windows get to repaint where the hidden main dialog was, before the
// picture of the screen is taken.
const DWORD kRepaintWaitMs = 300;
const COLORREF kFrameColour = RGB(0, 120, 215);

// DwmGetWindowAttribute, when the system has it: a window's visible bounds (without the
// invisible resize borders) and whether it is cloaked (present but not shown).
using DwmAttributeFn = HRESULT(WINAPI*)(HWND, DWORD, PVOID, DWORD);
const DWORD kDwmExtendedFrameBounds = 9;
const DWORD kDwmCloaked = 14;

DwmAttributeFn dwmAttribute() {
    static const DwmAttributeFn fn = []() -> DwmAttributeFn {
        HMODULE dwm = LoadLibraryA("dwmapi.dll");
        if (dwm == nullptr) {
            return nullptr;
        }
        FARPROC proc = GetProcAddress(dwm, "DwmGetWindowAttribute");
        return reinterpret_cast<DwmAttributeFn>(reinterpret_cast<void (*)()>(proc));
    }();
    return fn;
}

RECT windowBounds(HWND window) {
    RECT r{};
    if (DwmAttributeFn fn = dwmAttribute()) {
        if (SUCCEEDED(fn(window, kDwmExtendedFrameBounds, &r, sizeof r)) && r.right > r.left &&
            r.bottom > r.top) {
            return r;
        }
    }
    GetWindowRect(window, &r);
    return r;
}

bool isCloaked(HWND window) {
    DWORD cloaked = 0;
    DwmAttributeFn fn = dwmAttribute();
    return fn != nullptr && SUCCEEDED(fn(window, kDwmCloaked, &cloaked, sizeof cloaked)) &&
           cloaked != 0;
}

// The topmost visible top-level window of another process under a point.
struct WindowSearch {
    POINT point{};
    DWORD self = 0;
    RECT bounds{};
    int found = 0;
};

BOOL CALLBACK searchWindowAt(HWND window, LPARAM param) {
    auto* s = reinterpret_cast<WindowSearch*>(param);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process == s->self || !IsWindowVisible(window) || IsIconic(window) ||
        (GetWindowLongPtrA(window, GWL_EXSTYLE) & WS_EX_TRANSPARENT) != 0) {
        return TRUE;
    }
    // The cloaking question goes to the window manager: asked only of a window under
    // the pointer.
    const RECT r = windowBounds(window);
    if (PtInRect(&r, s->point) && !isCloaked(window)) {
        s->bounds = r;
        s->found = 1;
        return FALSE;
    }
    return TRUE;
}

// A 32-bit top-down picture the size of the screen, selected into a DC of its own.
struct Picture {
    HDC dc = nullptr;
    HBITMAP bitmap = nullptr;
    HGDIOBJ old = nullptr;
    unsigned char* bits = nullptr;

    int create(int width, int height) {
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = -height;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        dc = CreateCompatibleDC(nullptr);
        if (dc == nullptr) {
            return 0;
        }
        void* pixels = nullptr;
        bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &pixels, nullptr, 0);
        if (bitmap == nullptr || pixels == nullptr) {
            return 0;
        }
        bits = static_cast<unsigned char*>(pixels);
        old = SelectObject(dc, bitmap);
        return 1;
    }
    void release() {
        if (dc != nullptr && old != nullptr) {
            SelectObject(dc, old);
        }
        if (bitmap != nullptr) {
            DeleteObject(bitmap);
        }
        if (dc != nullptr) {
            DeleteDC(dc);
        }
        *this = Picture{};
    }
};

enum class PickOutcome { Picking, Cancelled, Accepted };

struct Picker {
    int width = 0;
    int height = 0;
    int scale = 1;   // whole multiples of 96 DPI, for the frame's thickness
    Picture screen;  // the screen as it was
    Picture dimmed;  // the same, darker
    Picture canvas;  // what the overlay shows, composed before each paint
    HFONT font = nullptr;
    int pressed = 0;
    ScreenPoint press;
    ScreenPoint pointer;
    int hovering = 0;
    ScreenArea hover;  // the window under the pointer while no button is down
    PickOutcome outcome = PickOutcome::Picking;
    ScreenArea chosen;
};

// The window under a screen point, cut to the screen; width 0 when there is none.
ScreenArea windowAreaAt(const Picker& p, ScreenPoint at) {
    WindowSearch s;
    s.point = POINT{at.x, at.y};
    s.self = GetCurrentProcessId();
    EnumWindows(searchWindowAt, reinterpret_cast<LPARAM>(&s));
    if (!s.found) {
        return ScreenArea{};
    }
    return clipAreaToScreen(s.bounds.left, s.bounds.top, s.bounds.right, s.bounds.bottom, p.width,
                            p.height);
}

// The pointer's position from a mouse message, kept on the screen.
ScreenPoint pointerAt(const Picker& p, HWND window, LPARAM lParam) {
    POINT pt{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
    ClientToScreen(window, &pt);
    return ScreenPoint{std::clamp(static_cast<int>(pt.x), 0, p.width),
                       std::clamp(static_cast<int>(pt.y), 0, p.height)};
}

// A text on a dark box with its top-left corner at (x, y), kept on the screen.
void drawTextBox(Picker& p, const char* text, int x, int y) {
    HDC dc = p.canvas.dc;
    const int length = static_cast<int>(std::char_traits<char>::length(text));
    SIZE size{};
    GetTextExtentPoint32A(dc, text, length, &size);
    const int pad = 4 * p.scale;
    const int boxWidth = size.cx + 2 * pad;
    const int boxHeight = size.cy + 2 * pad;
    x = std::clamp(x, 0, std::max(0, p.width - boxWidth));
    y = std::clamp(y, 0, std::max(0, p.height - boxHeight));
    RECT box{x, y, x + boxWidth, y + boxHeight};
    FillRect(dc, &box, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    TextOutA(dc, x + pad, y + pad, text, length);
}

// Height of a text box, to place the label above or below the rectangle.
int textBoxHeight(const Picker& p) {
    TEXTMETRICA metrics{};
    GetTextMetricsA(p.canvas.dc, &metrics);
    return metrics.tmHeight + 8 * p.scale;
}

void compose(Picker& p) {
    HDC dc = p.canvas.dc;
    BitBlt(dc, 0, 0, p.width, p.height, p.dimmed.dc, 0, 0, SRCCOPY);
    ScreenArea shown;
    if (p.pressed && !isAreaClick(p.press, p.pointer)) {
        shown = areaBetween(p.press, p.pointer);
    } else if (!p.pressed && p.hovering) {
        shown = p.hover;
    }
    if (shown.width > 0 && shown.height > 0) {
        BitBlt(dc, shown.left, shown.top, shown.width, shown.height, p.screen.dc, shown.left,
               shown.top, SRCCOPY);
        // The frame lies outside the area, so every pixel of the area shows as recorded.
        HBRUSH brush = CreateSolidBrush(kFrameColour);
        for (int i = 1; i <= 2 * p.scale; ++i) {
            RECT frame{shown.left - i, shown.top - i, shown.left + shown.width + i,
                       shown.top + shown.height + i};
            FrameRect(dc, &frame, brush);
        }
        DeleteObject(brush);
        const std::string label = areaLabel(shown);
        const int gap = 4 * p.scale;
        const int below = shown.top + shown.height + gap;
        const int labelHeight = textBoxHeight(p);
        const int y = below + labelHeight <= p.height      ? below
                      : shown.top - gap - labelHeight >= 0 ? shown.top - gap - labelHeight
                                                           : shown.top + gap;
        drawTextBox(p, label.c_str(), shown.left, y);
    }
    SIZE hint{};
    GetTextExtentPoint32A(dc, text::kSelectAreaHint,
                          static_cast<int>(std::char_traits<char>::length(text::kSelectAreaHint)),
                          &hint);
    drawTextBox(p, text::kSelectAreaHint, (p.width - hint.cx) / 2, 16 * p.scale);
}

void updateHover(Picker& p, HWND window) {
    const ScreenArea area = windowAreaAt(p, p.pointer);
    const int hovering = area.width > 0 && area.height > 0 ? 1 : 0;
    if (hovering != p.hovering || area.left != p.hover.left || area.top != p.hover.top ||
        area.width != p.hover.width || area.height != p.hover.height) {
        p.hovering = hovering;
        p.hover = area;
        InvalidateRect(window, nullptr, FALSE);
    }
}

// The press and release of the left button: a drag's rectangle or the window clicked.
// An area too small to record is not taken; the overlay stays.
void finishPress(Picker& p, ScreenPoint release) {
    ScreenArea area;
    switch (areaPickKind(p.press, release)) {
        case AreaPickKind::Drag:
            area = areaBetween(p.press, release);
            break;
        case AreaPickKind::Click:
            area = windowAreaAt(p, release);
            break;
        case AreaPickKind::TooSmall:
            return;
    }
    if (isAreaAcceptable(area)) {
        p.chosen = area;
        p.outcome = PickOutcome::Accepted;
    }
}

LRESULT CALLBACK pickerProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTA*>(lParam);
        SetWindowLongPtrA(window, GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* p = reinterpret_cast<Picker*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (p == nullptr) {
        return DefWindowProcA(window, message, wParam, lParam);
    }
    switch (message) {
        case WM_ERASEBKGND:
            return 1;
        case WM_PAINT: {
            PAINTSTRUCT ps;
            HDC dc = BeginPaint(window, &ps);
            compose(*p);
            BitBlt(dc, 0, 0, p->width, p->height, p->canvas.dc, 0, 0, SRCCOPY);
            EndPaint(window, &ps);
            return 0;
        }
        case WM_LBUTTONDOWN:
            p->pressed = 1;
            p->press = p->pointer = pointerAt(*p, window, lParam);
            SetCapture(window);
            InvalidateRect(window, nullptr, FALSE);
            return 0;
        case WM_MOUSEMOVE:
            p->pointer = pointerAt(*p, window, lParam);
            if (p->pressed) {
                InvalidateRect(window, nullptr, FALSE);
            } else {
                updateHover(*p, window);
            }
            return 0;
        case WM_LBUTTONUP:
            if (p->pressed) {
                p->pressed = 0;
                ReleaseCapture();
                p->pointer = pointerAt(*p, window, lParam);
                finishPress(*p, p->pointer);
                updateHover(*p, window);
                InvalidateRect(window, nullptr, FALSE);
            }
            return 0;
        case WM_CAPTURECHANGED:
            if (p->pressed && reinterpret_cast<HWND>(lParam) != window) {
                p->pressed = 0;  // taken away in the middle of a drag: start again
                InvalidateRect(window, nullptr, FALSE);
            }
            return 0;
        case WM_RBUTTONDOWN:
            p->outcome = PickOutcome::Cancelled;
            return 0;
        case WM_KEYDOWN:
            if (wParam == VK_ESCAPE) {
                p->outcome = PickOutcome::Cancelled;
            }
            return 0;
        case WM_CLOSE:
            p->outcome = PickOutcome::Cancelled;
            return 0;
        default:
            return DefWindowProcA(window, message, wParam, lParam);
    }
}

// Serves this thread's messages for a moment, so that the windows of this program
// repaint, while the other programs repaint on their own.
void letTheScreenRepaint() {
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < kRepaintWaitMs) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) {
                PostQuitMessage(static_cast<int>(msg.wParam));
                return;
            }
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        Sleep(10);
    }
}

// Takes the picture of the screen and makes the dimmed copy and the font.
int preparePicker(Picker& p) {
    p.width = GetSystemMetrics(SM_CXSCREEN);
    p.height = GetSystemMetrics(SM_CYSCREEN);
    if (p.width <= 0 || p.height <= 0 || !p.screen.create(p.width, p.height) ||
        !p.dimmed.create(p.width, p.height) || !p.canvas.create(p.width, p.height)) {
        return 0;
    }
    HDC screen = GetDC(nullptr);
    if (screen == nullptr) {
        return 0;
    }
    const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    const BOOL copied =
        BitBlt(p.screen.dc, 0, 0, p.width, p.height, screen, 0, 0, SRCCOPY | CAPTUREBLT);
    ReleaseDC(nullptr, screen);
    if (!copied) {
        return 0;
    }
    GdiFlush();
    const size_t bytes = static_cast<size_t>(p.width) * static_cast<size_t>(p.height) * 4;
    for (size_t i = 0; i < bytes; ++i) {
        p.dimmed.bits[i] = static_cast<unsigned char>(p.screen.bits[i] * 2 / 5);
    }
    p.scale = std::max(1, dpi / 96);
    p.font = CreateFontA(-MulDiv(10, dpi, 72), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                         DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                         DEFAULT_PITCH | FF_SWISS, "Segoe UI");
    if (p.font != nullptr) {
        SelectObject(p.canvas.dc, p.font);
    }
    SetTextColor(p.canvas.dc, RGB(255, 255, 255));
    SetBkMode(p.canvas.dc, TRANSPARENT);
    return 1;
}

int registerPickerClass(HINSTANCE instance) {
    WNDCLASSA wc{};
    if (GetClassInfoA(instance, kPickerClass, &wc)) {
        return 1;
    }
    wc.lpfnWndProc = pickerProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32515));  // IDC_CROSS
    wc.lpszClassName = kPickerClass;
    return RegisterClassA(&wc) != 0 ? 1 : 0;
}

}  // namespace

int pickScreenArea(HINSTANCE instance, HWND owner, ScreenArea& area) {
    // The button that was clicked may still hold the mouse.
    ReleaseCapture();
    ShowWindow(owner, SW_HIDE);
    letTheScreenRepaint();

    Picker p;
    HWND window = nullptr;
    if (registerPickerClass(instance) && preparePicker(p)) {
        window = CreateWindowExA(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, kPickerClass,
                                 text::kSelectAreaCaption, WS_POPUP, 0, 0, p.width, p.height,
                                 nullptr, nullptr, instance, &p);
    }
    if (window != nullptr) {
        POINT at{};
        GetCursorPos(&at);
        p.pointer = ScreenPoint{static_cast<int>(at.x), static_cast<int>(at.y)};
        p.hover = windowAreaAt(p, p.pointer);
        p.hovering = p.hover.width > 0 && p.hover.height > 0 ? 1 : 0;
        ShowWindow(window, SW_SHOW);
        SetForegroundWindow(window);
        SetFocus(window);
        UpdateWindow(window);
        while (p.outcome == PickOutcome::Picking) {
            MSG msg;
            const BOOL got = GetMessageA(&msg, nullptr, 0, 0);
            if (got <= 0) {
                if (got == 0) {
                    PostQuitMessage(static_cast<int>(msg.wParam));
                }
                p.outcome = PickOutcome::Cancelled;
                break;
            }
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        DestroyWindow(window);
    }
    p.screen.release();
    p.dimmed.release();
    p.canvas.release();
    if (p.font != nullptr) {
        DeleteObject(p.font);
    }
    ShowWindow(owner, SW_SHOW);
    SetForegroundWindow(owner);
    if (p.outcome != PickOutcome::Accepted) {
        return 0;
    }
    area = p.chosen;
    return 1;
}

}  // namespace pemlo
