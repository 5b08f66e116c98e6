// The recording settings: the record of the run, the main dialog's settings state and the
// rules that turn the dialog's fields into a valid record.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "platform/file.h"

namespace pemlo {

// Control ids of the main dialog that the settings rules use.
enum MainDialogControl : int {
    kIdFullScreen = 101,
    kIdScreenArea = 102,
    kIdStart = 103,
    kIdBrowse = 104,
    kIdOutputWidthLabel = 105,
    kIdCaptureTop = 113,
    kIdCaptureLeft = 114,
    kIdCaptureWidth = 115,
    kIdCaptureHeight = 116,
    kIdModeList = 121,
    kIdModeLabel = 122,
    kIdOutputPath = 123,
    kIdFrameRate = 124,
    kIdOutputWidth = 125,
    kIdOutputHeight = 126,
    kIdStop = 127,
    kIdAbout = 128,
    kIdStatusBar = 129,
    kIdPause = 130,
    kIdRecordAudio = 160,
    kIdSelectArea = 170,
    kIdBanner = 4001,
};

inline constexpr int kMaxPath = 260;          // characters with the terminator
inline constexpr int kNumberFieldChars = 4;   // numeric fields hold at most 4 digits
inline constexpr int kMaxDisplayModes = 128;  // lines of the mode list

// The one record of the run. Filled by validateSettings at each start; nothing changes it
// while a recording and its output phase run.
struct RecordingSettings {
    std::string outputPath;  // absolute path of the FLV (at most 259 characters)
    int32_t captureLeft = 0;
    int32_t captureTop = 0;
    int32_t captureWidth = 0;
    int32_t captureHeight = 0;
    int32_t outputWidth = 0;   // 1 .. captureWidth
    int32_t outputHeight = 0;  // 1 .. captureHeight
    int32_t framesPerSecond = 0;
    FilePtr outputFile;            // the open output file; null once the FLV is closed
    void* workerThread = nullptr;  // the output phase's thread (a Windows handle)
    int32_t recordAudio = 1;
};

// Sizes of the distinct 16-bit display modes, in enumeration order; entry n is line n of
// the mode list. The Windows side keeps the full mode records at the same indexes.
struct DisplayModeTable {
    struct Size {
        int width = 0;
        int height = 0;
    };
    std::array<Size, kMaxDisplayModes> sizes{};
    int count = 0;
};

// Offers one enumerated mode to the table. Returns the index it was kept at, or -1 when
// it is not 16-bit, has the size of a kept mode, or the table is full.
int keepDisplayMode(DisplayModeTable& table, int width, int height, int bitsPerPixel);
// The mode list's line for a size: "W by H pixels of 16 bits".
std::string modeLineText(int width, int height);

// The settings state of the main dialog beside the record.
struct MainDialogSettings {
    std::string outputPathText;  // the path field as validated and completed
    int fullScreen = 1;
    DisplayModeTable modes;
    int selectedMode = -1;  // index into modes; -1 until a mode is chosen
};

// What the settings rules need from the main dialog; the Windows program implements it
// over the dialog's controls, the tests with plain fields.
class SettingsView {
  public:
    virtual ~SettingsView() = default;
    // The control's text, at most room - 1 characters (room counts the terminator).
    virtual std::string fieldText(int controlId, int room) = 0;
    virtual void setFieldText(int controlId, const std::string& text) = 0;
    // One warning message box with the caption "Error".
    virtual void showError(const std::string& message) = 0;
    // The frame-rate list's selected line, -1 when none.
    virtual int frameRateLine() = 0;
    virtual int screenWidth() = 0;
    virtual int screenHeight() = 0;
};

// Leading decimal number of a text as strtol reads it (blanks, sign, digits); 0 when it
// has no digits.
long leadingNumber(const std::string& text);

// Reads a numeric field (at most 4 characters). Returns the value when it lies in 0..9999
// (0 only when zeroAllowed); otherwise shows "The value for field '<name>' is required."
// and returns -1.
int readNumberField(SettingsView& view, const char* fieldName, int controlId, int zeroAllowed);

// Appends ".flv" to a path text that holds neither ".flv" nor ".FLV". Returns 0 when
// there is no room for it within kMaxPath characters (the text is then unchanged).
int completeFlvPath(std::string& pathText);

// The thumbnail path beside an output path: in the file name, every ".flv" and then every
// ".FLV" becomes ".bmp" (case-sensitive, every occurrence); a name that holds neither gets
// ".bmp" appended. Folder names are never changed, so the thumbnail stays beside the FLV.
std::string thumbnailPathFor(const std::string& outputPath);

// Whether a full-screen start switches the display mode: only when a mode was chosen.
int fullScreenSwitchesMode(const MainDialogSettings& dialog);

// Turns the dialog's fields into `settings`. Returns 1, or 0 after showing one message.
int validateSettings(RecordingSettings& settings, MainDialogSettings& dialog, SettingsView& view);

// Writes positive sizes into the output size fields; other values leave them alone.
void mirrorOutputSize(SettingsView& view, long width, long height);

// The capture timer's period for a frame rate (clamped to 1..10).
int timerPeriodMs(int framesPerSecond);

}  // namespace pemlo
