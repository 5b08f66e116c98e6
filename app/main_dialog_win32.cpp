// The main dialog's settings: initialisation, the settings commands, Save As and the
// Windows side of the settings rules.
#include <windows.h>

#include <commctrl.h>
#include <commdlg.h>

#include <cstdio>
#include <vector>

#include "app/area_picker_win32.h"
#include "app/messages.h"
#include "app/recorder_win32.h"

namespace pemlo {
namespace {

// The settings rules' view of the main dialog.
class DialogView final : public SettingsView {
  public:
    explicit DialogView(HWND dialog) : dialog_(dialog) {}
    std::string fieldText(int controlId, int room) override {
        std::vector<char> text(static_cast<size_t>(room) + 1, '\0');
        SendDlgItemMessageA(dialog_, controlId, WM_GETTEXT, static_cast<WPARAM>(room),
                            reinterpret_cast<LPARAM>(text.data()));
        return text.data();
    }
    void setFieldText(int controlId, const std::string& text) override {
        SendDlgItemMessageA(dialog_, controlId, WM_SETTEXT, 0,
                            reinterpret_cast<LPARAM>(text.c_str()));
    }
    void showError(const std::string& message) override {
        pemlo::showError(dialog_, message.c_str());
    }
    int frameRateLine() override {
        return static_cast<int>(SendDlgItemMessageA(dialog_, kIdFrameRate, CB_GETCURSEL, 0, 0));
    }
    int screenWidth() override { return GetSystemMetrics(SM_CXSCREEN); }
    int screenHeight() override { return GetSystemMetrics(SM_CYSCREEN); }

  private:
    HWND dialog_;
};

void redraw(HWND dialog) {
    RedrawWindow(dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN);
}

void showAbout(HWND dialog) {
    MessageBoxA(dialog,
                "Pemlo Recorder 1.0\n"
                "Records the screen and sound into Flash Video (FLV) files.\n\n"
                "F2 starts a recording and F3 stops it, whichever program has the focus.\n\n"
                "Written by the Pemlo Recorder developers.",
                "About Pemlo Recorder", MB_OK | MB_ICONINFORMATION);
}

// "Select area...": the area picked on the screen becomes a screen-area choice with the
// output size of the area, and the focus goes to Start.
void selectArea(Recorder& r, HWND dialog) {
    ScreenArea area;
    r.state.selectingArea = 1;
    const int picked = pickScreenArea(r.instance, dialog, area);
    r.state.selectingArea = 0;
    if (!picked) {
        return;
    }
    CheckRadioButton(dialog, kIdFullScreen, kIdScreenArea, kIdScreenArea);
    onSettingsCommand(r, dialog, kIdScreenArea, BN_CLICKED);
    DialogView view(dialog);
    showPickedArea(view, area);
    SendMessageA(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(dialog, kIdStart)),
                 TRUE);
}

}  // namespace

void showError(HWND owner, const char* message) {
    MessageBoxA(owner, message, text::kErrorCaption, MB_OK | MB_ICONWARNING);
}

void setStatusText(HWND dialog, const char* text) {
    SendDlgItemMessageA(dialog, kIdStatusBar, SB_SETTEXTA, 0, reinterpret_cast<LPARAM>(text));
}

void setPaceText(HWND dialog, const char* text) {
    SendDlgItemMessageA(dialog, kIdStatusBar, SB_SETTEXTA, 1, reinterpret_cast<LPARAM>(text));
}

void setControlDisabled(HWND dialog, int controlId, int disabled) {
    HWND control = GetDlgItem(dialog, controlId);
    LONG style = GetWindowLongA(control, GWL_STYLE);
    style = disabled ? (style | WS_DISABLED) : (style & ~WS_DISABLED);
    SetWindowLongA(control, GWL_STYLE, style);
}

void initMainDialog(Recorder& r, HWND dialog) {
    SendMessageA(dialog, WM_SETICON, ICON_SMALL,
                 reinterpret_cast<LPARAM>(LoadIconA(r.instance, MAKEINTRESOURCEA(kSmallIcon))));
    SendMessageA(dialog, WM_SETICON, ICON_BIG,
                 reinterpret_cast<LPARAM>(LoadIconA(r.instance, MAKEINTRESOURCEA(kLargeIcon))));
    redraw(dialog);

    for (int id : {kIdCaptureTop, kIdCaptureLeft, kIdCaptureWidth, kIdCaptureHeight, kIdOutputWidth,
                   kIdOutputHeight}) {
        SendDlgItemMessageA(dialog, id, EM_LIMITTEXT, kNumberFieldChars, 0);
    }
    SendDlgItemMessageA(dialog, kIdOutputPath, EM_LIMITTEXT, kMaxPath, 0);
    // The status bar: the status on the left, the pace of a recording on the right.
    RECT bar{};
    GetClientRect(GetDlgItem(dialog, kIdStatusBar), &bar);
    const int parts[2] = {(bar.right - bar.left) * 2 / 5, -1};
    SendDlgItemMessageA(dialog, kIdStatusBar, SB_SETPARTS, 2, reinterpret_cast<LPARAM>(parts));
    setStatusText(dialog, text::kStatusIdle);

    DEVMODEA mode{};
    mode.dmSize = sizeof mode;
    for (DWORD n = 0; EnumDisplaySettingsA(nullptr, n, &mode) == TRUE; ++n) {
        const int kept = keepDisplayMode(r.dialog.modes, static_cast<int>(mode.dmPelsWidth),
                                         static_cast<int>(mode.dmPelsHeight),
                                         static_cast<int>(mode.dmBitsPerPel));
        if (kept < 0) {
            continue;
        }
        r.modes[kept] = mode;
        const std::string line =
            modeLineText(static_cast<int>(mode.dmPelsWidth), static_cast<int>(mode.dmPelsHeight));
        SendDlgItemMessageA(dialog, kIdModeList, CB_ADDSTRING, 0,
                            reinterpret_cast<LPARAM>(line.c_str()));
        if (mode.dmPelsWidth == 640 && mode.dmPelsHeight == 480) {
            SendDlgItemMessageA(dialog, kIdModeList, CB_SELECTSTRING, static_cast<WPARAM>(-1),
                                reinterpret_cast<LPARAM>(line.c_str()));
            SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(kIdModeList, CBN_SELCHANGE), 0);
        }
    }
    if (r.dialog.modes.count == 0) {
        // No 16-bit mode at all: a full-screen recording takes the screen as it is.
        DialogView view(dialog);
        mirrorOutputSize(view, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
    }

    CheckDlgButton(dialog, kIdFullScreen, BST_CHECKED);
    CheckDlgButton(dialog, kIdRecordAudio, BST_CHECKED);
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(kIdFullScreen, BN_CLICKED), 0);
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(kIdRecordAudio, BN_CLICKED), 0);

    for (const char* rate : text::kFrameRates) {
        SendDlgItemMessageA(dialog, kIdFrameRate, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(rate));
    }
    SendDlgItemMessageA(dialog, kIdFrameRate, CB_SELECTSTRING, static_cast<WPARAM>(-1),
                        reinterpret_cast<LPARAM>(text::kFrameRates[text::kDefaultFrameRateLine]));
}

void onSettingsCommand(Recorder& r, HWND dialog, int controlId, int notification) {
    DialogView view(dialog);
    switch (controlId) {
        case kIdFullScreen:
        case kIdScreenArea: {
            const int full = controlId == kIdFullScreen ? 1 : 0;
            for (int id = kIdCaptureTop; id <= 120; ++id) {
                setControlDisabled(dialog, id, full);
            }
            setControlDisabled(dialog, kIdModeList, !full);
            setControlDisabled(dialog, kIdModeLabel, !full);
            r.dialog.fullScreen = full;
            redraw(dialog);
            break;
        }
        case kIdBrowse:
            chooseOutputFile(dialog);
            break;
        case kIdCaptureWidth:
        case kIdCaptureHeight:
            if (notification == EN_CHANGE) {
                const long value = leadingNumber(view.fieldText(controlId, kNumberFieldChars + 1));
                if (controlId == kIdCaptureWidth) {
                    mirrorOutputSize(view, value, 0);
                } else {
                    mirrorOutputSize(view, 0, value);
                }
            }
            break;
        case kIdModeList:
            if (notification == CBN_SELCHANGE) {
                const int n =
                    static_cast<int>(SendDlgItemMessageA(dialog, kIdModeList, CB_GETCURSEL, 0, 0));
                if (n >= 0 && n < r.dialog.modes.count) {
                    r.dialog.selectedMode = n;
                    r.selectedMode = r.modes[n];
                    mirrorOutputSize(view, r.dialog.modes.sizes[n].width,
                                     r.dialog.modes.sizes[n].height);
                }
            }
            break;
        case kIdAbout:
            showAbout(dialog);
            break;
        case kIdSelectArea:
            selectArea(r, dialog);
            break;
        case kIdRecordAudio:
            r.settings.recordAudio = IsDlgButtonChecked(dialog, kIdRecordAudio) == BST_CHECKED;
            redraw(dialog);
            break;
        default:
            break;
    }
}

void chooseOutputFile(HWND dialog) {
    static char path[kMaxPath];
    path[0] = '\0';
    OPENFILENAMEA ofn{};
    ofn.lStructSize = OPENFILENAME_SIZE_VERSION_400A;
    ofn.hwndOwner = dialog;
    ofn.lpstrFilter = "Flash Video Files (*.flv)\0*.flv\0All Files (*.*)\0*.*\0";
    ofn.lpstrFile = path;
    ofn.nMaxFile = kMaxPath;
    ofn.lpstrDefExt = "flv";
    ofn.Flags = OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY | OFN_PATHMUSTEXIST | OFN_EXPLORER;
    if (GetSaveFileNameA(&ofn)) {
        SendDlgItemMessageA(dialog, kIdOutputPath, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(path));
    }
}

int validateSettings(Recorder& r, HWND dialog) {
    DialogView view(dialog);
    return validateSettings(r.settings, r.dialog, view);
}

}  // namespace pemlo
