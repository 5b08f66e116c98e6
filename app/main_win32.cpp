// Program entry: the common controls, then the main dialog until it ends.
#include <windows.h>

#include <commctrl.h>

#include "app/recorder_win32.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof controls;
    controls.dwICC = 0xFFFF;  // every class
    InitCommonControlsEx(&controls);
    pemlo::Recorder& recorder = pemlo::theRecorder();
    recorder.instance = instance;
    const INT_PTR result = DialogBoxParamA(instance, MAKEINTRESOURCEA(pemlo::kMainDialogTemplate),
                                           nullptr, pemlo::mainDialogProc, 0);
    return static_cast<int>(result);
}
