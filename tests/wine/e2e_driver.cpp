// Drives the recorder's dialogs from another process for the end-to-end tests under
// Wine: fills fields, clicks buttons, reads texts and message boxes, and shows a moving
// test-pattern window. One command per run; the result goes to standard output and the
// exit code is 0 on success, 1 on failure (with a line on standard error).
#include <windows.h>

#include <commctrl.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

const char kCaption[] = "Pemlo Recorder";

struct Found {
    HWND window = nullptr;
    int controlId = 0;
    const char* caption = nullptr;
};

// A top-level dialog of this caption that has control `controlId`.
BOOL CALLBACK findDialog(HWND window, LPARAM param) {
    Found* f = reinterpret_cast<Found*>(param);
    char caption[256] = {0};
    char cls[64] = {0};
    GetWindowTextA(window, caption, sizeof caption);
    GetClassNameA(window, cls, sizeof cls);
    if (std::strcmp(cls, "#32770") == 0 && std::strcmp(caption, f->caption) == 0 &&
        (f->controlId == 0 || GetDlgItem(window, f->controlId) != nullptr)) {
        f->window = window;
        return FALSE;
    }
    return TRUE;
}

HWND dialogWith(const char* caption, int controlId) {
    Found f;
    f.caption = caption;
    f.controlId = controlId;
    EnumWindows(findDialog, reinterpret_cast<LPARAM>(&f));
    return f.window;
}

HWND mainDialog() {
    return dialogWith(kCaption, 103);
}
HWND progressDialog() {
    return dialogWith(kCaption, 153);
}

// The recorder runs in a Wine virtual desktop, which may not exist yet when the driver
// starts; its windows are looked for there.
bool enterDesktop() {
    static bool entered = false;
    const char* name = std::getenv("PEMLO_DESKTOP");
    if (!entered && name != nullptr) {
        if (HDESK desktop = OpenDesktopA(name, 0, FALSE, GENERIC_ALL)) {
            entered = SetThreadDesktop(desktop) != FALSE;
        }
    }
    return entered || name == nullptr;
}

HWND waitFor(HWND (*find)(), int timeoutMs) {
    for (int waited = 0; waited <= timeoutMs; waited += 50) {
        if (!enterDesktop()) {
            Sleep(50);
            continue;
        }
        if (HWND w = find()) {
            return w;
        }
        Sleep(50);
    }
    return nullptr;
}

std::string textOf(HWND window) {
    char text[1024] = {0};
    DWORD_PTR got = 0;
    SendMessageTimeoutA(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text),
                        SMTO_ABORTIFHUNG, 2000, &got);
    return text;
}

// The text of one part of another process's status bar: SB_GETTEXT fills a buffer in
// the status bar's own process, so the buffer is made there and read back.
std::string statusPart(HWND bar, int part) {
    DWORD pid = 0;
    GetWindowThreadProcessId(bar, &pid);
    HANDLE process =
        OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
    if (process == nullptr) {
        return "";
    }
    char text[256] = {0};
    void* remote = VirtualAllocEx(process, nullptr, sizeof text, MEM_COMMIT, PAGE_READWRITE);
    if (remote != nullptr) {
        DWORD_PTR length = 0;
        if (SendMessageTimeoutA(bar, SB_GETTEXTLENGTHA, static_cast<WPARAM>(part), 0,
                                SMTO_ABORTIFHUNG, 2000, &length) &&
            LOWORD(length) < sizeof text &&
            SendMessageTimeoutA(bar, SB_GETTEXTA, static_cast<WPARAM>(part),
                                reinterpret_cast<LPARAM>(remote), SMTO_ABORTIFHUNG, 2000,
                                nullptr)) {
            SIZE_T got = 0;
            ReadProcessMemory(process, remote, text, sizeof text - 1, &got);
        }
        VirtualFreeEx(process, remote, 0, MEM_RELEASE);
    }
    CloseHandle(process);
    return text;
}

// The text of a message box: its static controls other than the icon.
BOOL CALLBACK collectStatic(HWND child, LPARAM param) {
    auto* out = reinterpret_cast<std::string*>(param);
    char cls[64] = {0};
    GetClassNameA(child, cls, sizeof cls);
    if (std::strcmp(cls, "Static") == 0) {
        const std::string t = textOf(child);
        if (!t.empty()) {
            *out += t;
        }
    }
    return TRUE;
}

// A visible top-level window of any class with this caption.
struct CaptionSearch {
    const char* caption = nullptr;
    HWND window = nullptr;
};

BOOL CALLBACK findCaption(HWND window, LPARAM param) {
    auto* s = reinterpret_cast<CaptionSearch*>(param);
    char caption[256] = {0};
    GetWindowTextA(window, caption, sizeof caption);
    if (IsWindowVisible(window) && std::strcmp(caption, s->caption) == 0) {
        s->window = window;
        return FALSE;
    }
    return TRUE;
}

HWND windowCaptioned(const char* caption) {
    CaptionSearch s;
    s.caption = caption;
    EnumWindows(findCaption, reinterpret_cast<LPARAM>(&s));
    return s.window;
}

HWND errorBox() {
    return dialogWith("Error", 0);
}

// A Yes/No question of the program (its caption, a No button).
HWND questionBox() {
    return dialogWith(kCaption, IDNO);
}

int fail(const char* what) {
    std::fprintf(stderr, "e2e_driver: %s\n", what);
    return 1;
}

LRESULT CALLBACK patternProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_PAINT) {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(window, &ps);
        RECT r;
        GetClientRect(window, &r);
        const int w = r.right / 2;
        const int h = r.bottom / 2;
        const COLORREF colours[4] = {RGB(255, 0, 0), RGB(0, 255, 0), RGB(0, 0, 255),
                                     RGB(255, 255, 0)};
        for (int i = 0; i < 4; ++i) {
            RECT q = {(i % 2) * w, (i / 2) * h, (i % 2) * w + w, (i / 2) * h + h};
            HBRUSH b = CreateSolidBrush(colours[i]);
            FillRect(dc, &q, b);
            DeleteObject(b);
        }
        EndPaint(window, &ps);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

// A borderless 80 x 80 window of four coloured squares (red, green / blue, yellow) that
// moves from (x0, y0) to (x1, y1) over `ms` milliseconds, then stays there for
// `holdMs`.
int runPattern(int x0, int y0, int x1, int y1, int ms, int holdMs) {
    WNDCLASSA wc{};
    wc.lpfnWndProc = patternProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "PemloTestPattern";
    wc.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));
    RegisterClassA(&wc);
    HWND w = CreateWindowExA(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, wc.lpszClassName, "pattern",
                             WS_POPUP | WS_VISIBLE, x0, y0, 80, 80, nullptr, nullptr, wc.hInstance,
                             nullptr);
    if (w == nullptr) {
        return fail("cannot create the pattern window");
    }
    const DWORD start = GetTickCount();
    for (;;) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            DispatchMessageA(&msg);
        }
        const DWORD t = GetTickCount() - start;
        if (t >= static_cast<DWORD>(ms + holdMs)) {
            break;
        }
        const double f = t >= static_cast<DWORD>(ms) ? 1.0 : static_cast<double>(t) / ms;
        SetWindowPos(w, HWND_TOPMOST, x0 + static_cast<int>((x1 - x0) * f),
                     y0 + static_cast<int>((y1 - y0) * f), 0, 0, SWP_NOSIZE | SWP_NOACTIVATE);
        UpdateWindow(w);
        Sleep(20);
    }
    DestroyWindow(w);
    return 0;
}

// An ordinary window (not topmost) of the four coloured squares, w x h pixels at (x, y),
// that stays still for `ms` milliseconds or until it is closed: a window to click.
int runStill(int x, int y, int w, int h, int ms) {
    WNDCLASSA wc{};
    wc.lpfnWndProc = patternProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "PemloTestStill";
    wc.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));
    RegisterClassA(&wc);
    HWND window = CreateWindowExA(0, wc.lpszClassName, "still", WS_POPUP | WS_VISIBLE, x, y, w, h,
                                  nullptr, nullptr, wc.hInstance, nullptr);
    if (window == nullptr) {
        return fail("cannot create the still window");
    }
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < static_cast<DWORD>(ms) && IsWindow(window)) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            DispatchMessageA(&msg);
        }
        Sleep(20);
    }
    DestroyWindow(window);
    return 0;
}

// Key-downs of F4 the key-log window received: plain, and with Ctrl held.
int keylogF4 = 0;
int keylogCtrlF4 = 0;

LRESULT CALLBACK keylogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_KEYDOWN && wParam == VK_F4 && (lParam & (1L << 30)) == 0) {
        if ((GetKeyState(VK_CONTROL) & 0x8000) != 0) {
            ++keylogCtrlF4;
        } else {
            ++keylogF4;
        }
        return 0;
    }
    if (message == WM_PAINT) {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(window, &ps);
        RECT r;
        GetClientRect(window, &r);
        HBRUSH b = CreateSolidBrush(RGB(0, 255, 0));
        FillRect(dc, &r, b);
        DeleteObject(b);
        EndPaint(window, &ps);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

// A green window of w x h pixels at (x, y) that takes the keyboard focus for `ms`
// milliseconds (another program than the recorder, as a user's would be), then prints
// the first key-downs of F4 it received: "F4 N, Ctrl+F4 M".
int runKeylog(int x, int y, int w, int h, int ms) {
    WNDCLASSA wc{};
    wc.lpfnWndProc = keylogProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "PemloTestKeylog";
    RegisterClassA(&wc);
    HWND window = CreateWindowExA(WS_EX_TOPMOST, wc.lpszClassName, "keylog", WS_POPUP | WS_VISIBLE,
                                  x, y, w, h, nullptr, nullptr, wc.hInstance, nullptr);
    if (window == nullptr) {
        return fail("cannot create the key-log window");
    }
    SetForegroundWindow(window);
    SetFocus(window);
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < static_cast<DWORD>(ms) && IsWindow(window)) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        Sleep(10);
    }
    DestroyWindow(window);
    std::printf("F4 %d, Ctrl+F4 %d\n", keylogF4, keylogCtrlF4);
    return 0;
}

// An unseen window (off the screen) that does nothing for `ms` milliseconds: it holds
// the virtual desktop, which ends with its last program. It waits for its timer rather
// than polling, so that it costs the tests nothing while they measure.
int runHold(int ms) {
    WNDCLASSA wc{};
    wc.lpfnWndProc = DefWindowProcA;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "PemloTestHold";
    RegisterClassA(&wc);
    HWND window = CreateWindowExA(WS_EX_TOOLWINDOW | WS_EX_NOACTIVATE, wc.lpszClassName, "hold",
                                  WS_POPUP | WS_VISIBLE, -300, -300, 80, 80, nullptr, nullptr,
                                  wc.hInstance, nullptr);
    if (window == nullptr || SetTimer(window, 1, static_cast<UINT>(ms), nullptr) == 0) {
        return fail("cannot create the holding window");
    }
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0 && msg.message != WM_TIMER) {
        DispatchMessageA(&msg);
    }
    DestroyWindow(window);
    return 0;
}

// A borderless window of w x h pixels at (x, y) whose every pixel changes about every
// 20 ms (shifting stripes over noise), for `ms` milliseconds: a recording of it has no
// two frames alike, so its output phase takes a while.
int runNoise(int x, int y, int w, int h, int ms) {
    WNDCLASSA wc{};
    wc.lpfnWndProc = DefWindowProcA;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "PemloTestNoise";
    RegisterClassA(&wc);
    HWND window =
        CreateWindowExA(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, wc.lpszClassName, "noise",
                        WS_POPUP | WS_VISIBLE, x, y, w, h, nullptr, nullptr, wc.hInstance, nullptr);
    if (window == nullptr || w <= 0 || h <= 0) {
        return fail("cannot create the noise window");
    }
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = w;
    info.bmiHeader.biHeight = -h;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    unsigned char* bits = static_cast<unsigned char*>(
        std::malloc(static_cast<size_t>(w) * static_cast<size_t>(h) * 4));
    if (bits == nullptr) {
        return fail("no memory for the noise window");
    }
    const DWORD start = GetTickCount();
    uint32_t seed = 12345;
    for (unsigned frame = 0;; ++frame) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            DispatchMessageA(&msg);
        }
        if (GetTickCount() - start >= static_cast<DWORD>(ms)) {
            break;
        }
        unsigned char* p = bits;
        for (int row = 0; row < h; ++row) {
            for (int col = 0; col < w; ++col, p += 4) {
                seed = seed * 1664525u + 1013904223u;
                p[0] = static_cast<unsigned char>(col * 3 + frame * 17 + (seed >> 28));
                p[1] = static_cast<unsigned char>(row * 2 + frame * 11);
                p[2] = static_cast<unsigned char>((col + row) + frame * 29 + (seed >> 29));
                p[3] = 0;
            }
        }
        HDC dc = GetDC(window);
        SetDIBitsToDevice(dc, 0, 0, static_cast<DWORD>(w), static_cast<DWORD>(h), 0, 0, 0,
                          static_cast<UINT>(h), bits, &info, DIB_RGB_COLORS);
        ReleaseDC(window, dc);
        Sleep(20);
    }
    std::free(bits);
    DestroyWindow(window);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        return fail("usage: e2e_driver COMMAND [ARGS]");
    }
    enterDesktop();
    const std::string cmd = argv[1];
    auto arg = [&](int i) { return i < argc ? std::atoi(argv[i]) : 0; };

    if (cmd == "pattern") {
        return runPattern(arg(2), arg(3), arg(4), arg(5), arg(6), arg(7));
    }
    if (cmd == "hold") {  // hold MS
        return runHold(arg(2));
    }
    if (cmd == "still") {  // still X Y W H MS
        return runStill(arg(2), arg(3), arg(4), arg(5), arg(6));
    }
    if (cmd == "keylog") {  // keylog X Y W H MS
        return runKeylog(arg(2), arg(3), arg(4), arg(5), arg(6));
    }
    if (cmd == "noise") {  // noise X Y W H MS
        return runNoise(arg(2), arg(3), arg(4), arg(5), arg(6));
    }
    if (cmd == "wait-main") {  // wait-main TIMEOUT_MS
        return waitFor(mainDialog, arg(2)) ? 0 : fail("no main dialog");
    }
    if (cmd == "wait-progress") {
        return waitFor(progressDialog, arg(2)) ? 0 : fail("no progress dialog");
    }
    if (cmd == "main-gone") {  // main-gone TIMEOUT_MS: 0 once the main dialog has ended
        for (int waited = 0; waited <= arg(2); waited += 50) {
            if (!mainDialog() && !progressDialog()) {
                return 0;
            }
            Sleep(50);
        }
        return fail("the program's dialogs are still there");
    }
    if (cmd == "wait-window" || cmd == "window-gone") {
        // wait-window CAPTION TIMEOUT_MS: prints the window's rectangle "left top right
        // bottom" once a visible window of that caption shows. window-gone CAPTION
        // TIMEOUT_MS: 0 once none shows.
        const char* caption = argc > 2 ? argv[2] : "";
        for (int waited = 0; waited <= arg(3); waited += 50) {
            HWND w = enterDesktop() ? windowCaptioned(caption) : nullptr;
            if (cmd == "wait-window" && w != nullptr) {
                RECT r{};
                GetWindowRect(w, &r);
                std::printf("%ld %ld %ld %ld\n", static_cast<long>(r.left),
                            static_cast<long>(r.top), static_cast<long>(r.right),
                            static_cast<long>(r.bottom));
                return 0;
            }
            if (cmd == "window-gone" && w == nullptr) {
                return 0;
            }
            Sleep(50);
        }
        return fail(cmd == "wait-window" ? "no such window" : "the window is still there");
    }
    if (cmd == "foreground") {  // the caption of the window that has the keyboard
        char caption[256] = {0};
        if (HWND w = GetForegroundWindow()) {
            GetWindowTextA(w, caption, sizeof caption);
        }
        std::printf("%s\n", caption);
        return 0;
    }
    if (cmd == "close-window") {  // close-window CAPTION
        HWND w = windowCaptioned(argc > 2 ? argv[2] : "");
        if (w == nullptr) {
            return fail("no such window");
        }
        PostMessageA(w, WM_CLOSE, 0, 0);
        return 0;
    }
    if (cmd == "focus" || cmd == "shown") {
        // focus: the id of the main dialog's control that has the keyboard focus (0 when
        // none of them has it). shown: 1 when the main dialog is visible.
        HWND main = mainDialog();
        if (!main) {
            return fail("no main dialog");
        }
        if (cmd == "shown") {
            std::printf("%d\n", IsWindowVisible(main) ? 1 : 0);
            return 0;
        }
        GUITHREADINFO info{};
        info.cbSize = sizeof info;
        int id = 0;
        if (GetGUIThreadInfo(GetWindowThreadProcessId(main, nullptr), &info) &&
            info.hwndFocus != nullptr && GetParent(info.hwndFocus) == main) {
            id = GetDlgCtrlID(info.hwndFocus);
        }
        std::printf("%d\n", id);
        return 0;
    }
    if (cmd == "set" || cmd == "get" || cmd == "click" || cmd == "enabled" || cmd == "status" ||
        cmd == "check" || cmd == "close-main" || cmd == "select" || cmd == "texts") {
        HWND main = mainDialog();
        if (!main) {
            return fail("no main dialog");
        }
        if (cmd == "close-main") {
            PostMessageA(main, WM_CLOSE, 0, 0);
            return 0;
        }
        if (cmd == "texts") {  // texts ID...: the controls' texts on one line
            for (int i = 2; i < argc; ++i) {
                std::printf(i > 2 ? " %s" : "%s", textOf(GetDlgItem(main, arg(i))).c_str());
            }
            std::printf("\n");
            return 0;
        }
        if (cmd == "status") {  // status [PART]: the text of a part of the status bar
            if (argc > 2 && arg(2) > 0) {
                std::printf("%s\n", statusPart(GetDlgItem(main, 129), arg(2)).c_str());
            } else {
                std::printf("%s\n", textOf(GetDlgItem(main, 129)).c_str());
            }
            return 0;
        }
        HWND control = GetDlgItem(main, arg(2));
        if (!control) {
            return fail("no such control");
        }
        if (cmd == "set") {
            SendMessageTimeoutA(control, WM_SETTEXT, 0,
                                reinterpret_cast<LPARAM>(argc > 3 ? argv[3] : ""), SMTO_ABORTIFHUNG,
                                2000, nullptr);
        } else if (cmd == "get") {
            std::printf("%s\n", textOf(control).c_str());
        } else if (cmd == "click") {
            PostMessageA(control, BM_CLICK, 0, 0);
        } else if (cmd == "enabled") {
            std::printf("%d\n", IsWindowEnabled(control) ? 1 : 0);
        } else if (cmd == "check") {
            std::printf("%d\n", static_cast<int>(SendMessageA(control, BM_GETCHECK, 0, 0)));
        } else if (cmd == "select") {  // select ID LINE: pick a list line as a user would
            SendMessageA(control, CB_SETCURSEL, static_cast<WPARAM>(arg(3)), 0);
            PostMessageA(main, WM_COMMAND, MAKEWPARAM(arg(2), CBN_SELCHANGE),
                         reinterpret_cast<LPARAM>(control));
        }
        return 0;
    }
    if (cmd == "message") {  // message TIMEOUT_MS: print an error box's text and close it
        HWND box = waitFor(errorBox, arg(2));
        if (!box) {
            return fail("no message box");
        }
        std::string text;
        EnumChildWindows(box, collectStatic, reinterpret_cast<LPARAM>(&text));
        std::printf("%s\n", text.c_str());
        PostMessageA(box, WM_COMMAND, IDOK, 0);
        return 0;
    }
    if (cmd == "question") {  // question TIMEOUT_MS yes|no: print a question's text, answer it
        const std::string answer = argc > 3 ? argv[3] : "";
        if (answer != "yes" && answer != "no") {
            return fail("question: answer yes or no");
        }
        HWND box = waitFor(questionBox, arg(2));
        if (!box) {
            return fail("no question");
        }
        std::string text;
        EnumChildWindows(box, collectStatic, reinterpret_cast<LPARAM>(&text));
        for (char& c : text) {
            c = c == '\n' || c == '\r' ? ' ' : c;
        }
        std::printf("%s\n", text.c_str());
        PostMessageA(box, WM_COMMAND, answer == "yes" ? IDYES : IDNO, 0);
        return 0;
    }
    if (cmd == "no-question") {  // no-question MS: fails when a question shows meanwhile
        for (int waited = 0; waited <= arg(2); waited += 50) {
            enterDesktop();
            if (questionBox()) {
                return fail("a question is showing");
            }
            Sleep(50);
        }
        return 0;
    }
    if (cmd == "no-message") {  // no-message MS: fails when an error box shows meanwhile
        for (int waited = 0; waited <= arg(2); waited += 50) {
            if (errorBox()) {
                return fail("an error message is showing");
            }
            Sleep(50);
        }
        return 0;
    }
    if (cmd == "screen") {  // the display's current size
        enterDesktop();
        std::printf("%dx%d\n", GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
        return 0;
    }
    if (cmd == "f2-then-cancel") {
        // As soon as the progress dialog shows: F2 through the keyboard, then after a
        // moment the status, whether an error box came up, the progress text, and a
        // click on Cancel. One line each.
        HWND progress = waitFor(progressDialog, arg(2));
        if (!progress) {
            return fail("no progress dialog");
        }
        INPUT keys[2] = {};
        keys[0].type = keys[1].type = INPUT_KEYBOARD;
        keys[0].ki.wVk = keys[1].ki.wVk = VK_F2;
        keys[1].ki.dwFlags = KEYEVENTF_KEYUP;
        SendInput(2, keys, sizeof(INPUT));
        Sleep(150);
        HWND main = mainDialog();
        const std::string status = main ? textOf(GetDlgItem(main, 129)) : "";
        const bool message = errorBox() != nullptr;
        const std::string text = textOf(GetDlgItem(progress, 154));
        PostMessageA(progress, WM_COMMAND, MAKEWPARAM(153, BN_CLICKED), 0);
        std::printf("%s\n%s\n%s\n", status.c_str(), message ? "message" : "no message",
                    text.c_str());
        return 0;
    }
    if (cmd == "act-at") {
        // act-at WHEN ACTION TIMEOUT_MS: waits for the progress dialog, then for the
        // moment WHEN, then clicks its button (ACTION "button") or its close box
        // ("close"). WHEN is "open" (at once), a percentage the progress bar has to reach
        // while the output file is still being generated, "last" (the bar is one frame's
        // step short of 100: the last frame is under way) or "done" (after success).
        // Prints the bar's position and the progress text as last seen before acting.
        const std::string when = argc > 2 ? argv[2] : "";
        const std::string action = argc > 3 ? argv[3] : "";
        if (action != "button" && action != "close") {
            return fail("act-at: ACTION is button or close");
        }
        // Looked for every millisecond, so that "open" is the dialog's first moment.
        HWND progress = nullptr;
        for (DWORD begun = GetTickCount(); progress == nullptr; Sleep(1)) {
            progress = progressDialog();
            if (progress == nullptr && GetTickCount() - begun > static_cast<DWORD>(arg(4))) {
                return fail("no progress dialog");
            }
        }
        const int target = std::atoi(when.c_str());
        const DWORD start = GetTickCount();
        DWORD_PTR position = 0;
        int previous = 0;
        int step = 0;  // the largest rise of the bar seen: one frame's share
        std::string text;
        for (;;) {
            SendMessageTimeoutA(GetDlgItem(progress, 151), PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, 2000,
                                &position);
            text = textOf(GetDlgItem(progress, 154));
            const int now = static_cast<int>(position);
            if (now > previous) {
                if (previous > 0 && now - previous > step) {
                    step = now - previous;
                }
                previous = now;
            }
            const bool done = text == "File successfully created.";
            const bool lastUnderWay = step > 0 && now + step >= 100;
            if (when == "open" || done ||
                (when == "last" ? lastUnderWay : when != "done" && now >= target)) {
                break;
            }
            if (GetTickCount() - start > static_cast<DWORD>(arg(4)) || !IsWindow(progress)) {
                return fail("act-at: the moment never came");
            }
            Sleep(1);
        }
        if (action == "button") {
            PostMessageA(progress, WM_COMMAND, MAKEWPARAM(153, BN_CLICKED), 0);
        } else {
            PostMessageA(progress, WM_CLOSE, 0, 0);
        }
        std::printf("%d\n%s\n", static_cast<int>(position), text.c_str());
        return 0;
    }
    if (cmd == "messages") {
        // messages TIMEOUT_MS [CLOSE_PROGRESS]: until the program's dialogs are gone,
        // prints each error box's text and confirms it; with CLOSE_PROGRESS 1 the
        // progress dialog's close box is pressed while the first box still shows. Ends
        // with the number of boxes seen.
        int seen = 0;
        for (int waited = 0; waited <= arg(2); waited += 20) {
            if (HWND box = errorBox()) {
                std::string text;
                EnumChildWindows(box, collectStatic, reinterpret_cast<LPARAM>(&text));
                std::printf("%s\n", text.c_str());
                ++seen;
                if (seen == 1 && arg(3) == 1) {
                    if (HWND progress = progressDialog()) {
                        PostMessageA(progress, WM_CLOSE, 0, 0);
                    }
                    Sleep(500);
                }
                PostMessageA(box, WM_COMMAND, IDOK, 0);
                // The box takes a moment to go; it is not counted twice.
                for (int gone = 0; gone < 100 && IsWindow(box); ++gone) {
                    Sleep(20);
                }
            }
            if (!mainDialog() && !progressDialog() && !errorBox()) {
                std::printf("%d\n", seen);
                return 0;
            }
            Sleep(20);
        }
        return fail("messages: the program's dialogs are still there");
    }
    if (cmd == "progress-text" || cmd == "progress-click" || cmd == "progress-close" ||
        cmd == "wait-finished") {
        HWND progress = progressDialog();
        if (!progress) {
            return fail("no progress dialog");
        }
        if (cmd == "progress-text") {
            std::printf("%s\n", textOf(GetDlgItem(progress, 154)).c_str());
        } else if (cmd == "progress-click") {
            PostMessageA(progress, WM_COMMAND, MAKEWPARAM(153, BN_CLICKED), 0);
        } else if (cmd == "progress-close") {
            PostMessageA(progress, WM_CLOSE, 0, 0);
        } else {  // wait-finished TIMEOUT_MS
            for (int waited = 0; waited <= arg(2); waited += 100) {
                if (textOf(GetDlgItem(progress, 154)) == "File successfully created.") {
                    std::printf("%s\n", textOf(GetDlgItem(progress, 153)).c_str());
                    return 0;
                }
                Sleep(100);
            }
            return fail("the output phase did not finish");
        }
        return 0;
    }
    return fail("unknown command");
}
