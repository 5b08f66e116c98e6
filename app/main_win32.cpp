// Program entry (placeholder until the dialogs exist).
#include <windows.h>
#include <zlib.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    MessageBoxA(nullptr, zlibVersion(), "Pemlo Recorder", MB_OK);
    return 0;
}
