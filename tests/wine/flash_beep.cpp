// A flash-and-beep scene for the sound-sync tests under Wine: a borderless square
// window that is black, and every PERIOD ms turns red for 300 ms while a 150 ms beep of
// 1 kHz starts playing on the default wave-output device at the same moment.
//   pemlo_flash_beep.exe X Y SIDE PERIOD_MS COUNT
// Exits once the last flash is over.
#include <windows.h>

#include <mmsystem.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

bool lit = false;

LRESULT CALLBACK sceneProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_PAINT) {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(window, &ps);
        RECT r;
        GetClientRect(window, &r);
        HBRUSH b = CreateSolidBrush(lit ? RGB(255, 0, 0) : RGB(0, 0, 0));
        FillRect(dc, &r, b);
        DeleteObject(b);
        EndPaint(window, &ps);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

void pumpUntil(DWORD when) {
    while (static_cast<LONG>(when - timeGetTime()) > 0) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            DispatchMessageA(&msg);
        }
        Sleep(1);
    }
}

void show(HWND window, bool on) {
    lit = on;
    InvalidateRect(window, nullptr, FALSE);
    UpdateWindow(window);
    GdiFlush();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 6) {
        std::fprintf(stderr, "usage: pemlo_flash_beep X Y SIDE PERIOD_MS COUNT\n");
        return 1;
    }
    const int x = std::atoi(argv[1]);
    const int y = std::atoi(argv[2]);
    const int side = std::atoi(argv[3]);
    const DWORD period = static_cast<DWORD>(std::atoi(argv[4]));
    const int count = std::atoi(argv[5]);
    timeBeginPeriod(1);

    WNDCLASSA wc{};
    wc.lpfnWndProc = sceneProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "PemloFlashBeep";
    RegisterClassA(&wc);
    HWND window = CreateWindowExA(WS_EX_TOPMOST | WS_EX_TOOLWINDOW | WS_EX_NOACTIVATE,
                                  wc.lpszClassName, "flash", WS_POPUP | WS_VISIBLE, x, y, side,
                                  side, nullptr, nullptr, wc.hInstance, nullptr);
    if (window == nullptr) {
        std::fprintf(stderr, "cannot create the scene window\n");
        return 1;
    }

    WAVEFORMATEX format{};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = 1;
    format.nSamplesPerSec = 22050;
    format.wBitsPerSample = 16;
    format.nBlockAlign = 2;
    format.nAvgBytesPerSec = 44100;
    HWAVEOUT out = nullptr;
    if (waveOutOpen(&out, WAVE_MAPPER, &format, 0, 0, CALLBACK_NULL) != MMSYSERR_NOERROR) {
        std::fprintf(stderr, "cannot open the wave-output device\n");
        return 1;
    }
    std::vector<short> beep(22050 * 150 / 1000);
    for (size_t i = 0; i < beep.size(); ++i) {
        beep[i] = static_cast<short>(16000 * std::sin(2 * 3.14159265358979 * 1000.0 * i / 22050));
    }
    std::vector<WAVEHDR> headers(static_cast<size_t>(count));
    for (WAVEHDR& h : headers) {
        h.lpData = reinterpret_cast<LPSTR>(beep.data());
        h.dwBufferLength = static_cast<DWORD>(beep.size() * 2);
        waveOutPrepareHeader(out, &h, sizeof h);
    }

    show(window, false);
    DWORD next = timeGetTime() + period;
    for (int i = 0; i < count; ++i) {
        pumpUntil(next);
        show(window, true);
        waveOutWrite(out, &headers[static_cast<size_t>(i)], sizeof(WAVEHDR));
        pumpUntil(next + 300);
        show(window, false);
        next += period;
    }
    pumpUntil(timeGetTime() + 300);
    waveOutReset(out);
    for (WAVEHDR& h : headers) {
        waveOutUnprepareHeader(out, &h, sizeof h);
    }
    waveOutClose(out);
    DestroyWindow(window);
    timeEndPeriod(1);
    return 0;
}
