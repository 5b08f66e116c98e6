#include "app/settings.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "app/messages.h"
#include "app/replace_all.h"

namespace pemlo {

int keepDisplayMode(DisplayModeTable& table, int width, int height, int bitsPerPixel) {
    if (bitsPerPixel != 16) {
        return -1;
    }
    for (int i = 0; i < table.count; ++i) {
        if (table.sizes[i].width == width && table.sizes[i].height == height) {
            return -1;
        }
    }
    if (table.count >= kMaxDisplayModes) {
        return -1;
    }
    table.sizes[table.count] = {width, height};
    return table.count++;
}

std::string modeLineText(int width, int height) {
    char line[64];
    std::snprintf(line, sizeof line, text::kModeLine, width, height);
    return line;
}

long leadingNumber(const std::string& text) {
    return std::strtol(text.c_str(), nullptr, 10);
}

int readNumberField(SettingsView& view, const char* fieldName, int controlId, int zeroAllowed) {
    const long value = leadingNumber(view.fieldText(controlId, kNumberFieldChars + 1));
    if (value >= 0 && value <= 9999 && (value != 0 || zeroAllowed)) {
        return static_cast<int>(value);
    }
    char message[128];
    std::snprintf(message, sizeof message, text::kValueRequired, fieldName);
    view.showError(message);
    return -1;
}

int completeFlvPath(std::string& pathText) {
    if (pathText.find(".flv") != std::string::npos || pathText.find(".FLV") != std::string::npos) {
        return 1;
    }
    if (pathText.size() + 4 > kMaxPath - 1) {
        return 0;
    }
    pathText += ".flv";
    return 1;
}

std::string thumbnailPathFor(const std::string& outputPath) {
    const size_t slash = outputPath.find_last_of("\\/");
    const size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    // The file name in a heap buffer of its own, for replaceAll.
    std::size_t length = outputPath.size() - nameStart;
    char* name = static_cast<char*>(std::malloc(length + 1));
    if (name == nullptr) {
        throw std::bad_alloc();
    }
    std::memcpy(name, outputPath.data() + nameStart, length);
    int lower = 0;
    int upper = 0;
    if (replaceAll(name, length, ".flv", ".bmp", &lower) != 0 ||
        replaceAll(name, length, ".FLV", ".bmp", &upper) != 0) {
        std::free(name);
        throw std::bad_alloc();
    }
    std::string thumbnail = outputPath.substr(0, nameStart) + std::string(name, length);
    std::free(name);
    if (lower + upper == 0) {
        thumbnail = outputPath + ".bmp";
    }
    return thumbnail;
}

int fullScreenSwitchesMode(const MainDialogSettings& dialog) {
    return dialog.fullScreen && dialog.selectedMode >= 0 && dialog.selectedMode < dialog.modes.count
               ? 1
               : 0;
}

int validateSettings(RecordingSettings& settings, MainDialogSettings& dialog, SettingsView& view) {
    std::string path = view.fieldText(kIdOutputPath, kMaxPath);
    if (path.empty()) {
        view.showError(text::kPathRequired);
        return 0;
    }
    const std::string typed = path;
    if (!completeFlvPath(path)) {
        view.showError(text::kPathTooLong);
        return 0;
    }
    if (path != typed) {
        view.setFieldText(kIdOutputPath, path);
    }
    dialog.outputPathText = path;

    if (dialog.fullScreen) {
        settings.captureLeft = 0;
        settings.captureTop = 0;
        if (fullScreenSwitchesMode(dialog)) {
            settings.captureWidth = dialog.modes.sizes[dialog.selectedMode].width;
            settings.captureHeight = dialog.modes.sizes[dialog.selectedMode].height;
        } else {
            // No mode chosen (or none exists): the whole screen as it is now.
            settings.captureWidth = view.screenWidth();
            settings.captureHeight = view.screenHeight();
        }
    } else {
        const int left = readNumberField(view, text::kCaptureLeft, kIdCaptureLeft, 1);
        if (left < 0) {
            return 0;
        }
        const int top = readNumberField(view, text::kCaptureTop, kIdCaptureTop, 1);
        if (top < 0) {
            return 0;
        }
        const int width = readNumberField(view, text::kCaptureWidth, kIdCaptureWidth, 0);
        if (width < 0) {
            return 0;
        }
        const int height = readNumberField(view, text::kCaptureHeight, kIdCaptureHeight, 0);
        if (height < 0) {
            return 0;
        }
        const int cx = view.screenWidth();
        const int cy = view.screenHeight();
        settings.captureLeft = left >= cx ? cx - 1 : left;
        settings.captureTop = top >= cy ? cy - 1 : top;
        settings.captureWidth = width;
        settings.captureHeight = height;
        if (settings.captureLeft + settings.captureWidth > cx) {
            settings.captureWidth = cx - settings.captureLeft;
        }
        if (settings.captureTop + settings.captureHeight > cy) {
            settings.captureHeight = cy - settings.captureTop;
        }
    }

    const int outWidth = readNumberField(view, text::kOutputWidth, kIdOutputWidth, 0);
    if (outWidth < 0) {
        return 0;
    }
    const int outHeight = readNumberField(view, text::kOutputHeight, kIdOutputHeight, 0);
    if (outHeight < 0) {
        return 0;
    }
    settings.outputWidth = outWidth > settings.captureWidth ? settings.captureWidth : outWidth;
    settings.outputHeight = outHeight > settings.captureHeight ? settings.captureHeight : outHeight;

    const int line = view.frameRateLine();
    settings.framesPerSecond = line >= 0 && line < 10 ? line + 1 : text::kDefaultFrameRateLine + 1;
    return 1;
}

void mirrorOutputSize(SettingsView& view, long width, long height) {
    if (width > 0) {
        view.setFieldText(kIdOutputWidth, std::to_string(width));
    }
    if (height > 0) {
        view.setFieldText(kIdOutputHeight, std::to_string(height));
    }
}

int timerPeriodMs(int framesPerSecond) {
    if (framesPerSecond < 1) {
        framesPerSecond = 1;
    }
    if (framesPerSecond > 10) {
        framesPerSecond = 10;
    }
    return 1000 / framesPerSecond;
}

}  // namespace pemlo
