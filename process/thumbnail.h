// The preview picture of the output phase: its size rules, its bitmap description and
// the BMP thumbnail written beside the FLV.
#pragma once

#include <cstdint>
#include <string>

#include "platform/file.h"

namespace pemlo {

// The fields of a Windows BITMAPINFOHEADER, in its order (40 bytes when written).
struct BitmapInfoHeader {
    uint32_t biSize = 40;
    int32_t biWidth = 0;
    int32_t biHeight = 0;  // positive: rows bottom-up
    uint16_t biPlanes = 1;
    uint16_t biBitCount = 24;
    uint32_t biCompression = 0;  // BI_RGB
    uint32_t biSizeImage = 0;
    int32_t biXPelsPerMeter = 0;
    int32_t biYPelsPerMeter = 0;
    uint32_t biClrUsed = 0;
    uint32_t biClrImportant = 0;
};

inline constexpr uint32_t kBmpFileHeaderBytes = 14;
inline constexpr uint32_t kBmpInfoHeaderBytes = 40;
inline constexpr int kPreviewMaxWidth = 240;
inline constexpr int kPreviewMaxHeight = 180;

// The preview size for an output of width x height: at most 240 x 180 with the output's
// shape, the width cut down to a multiple of 4 so that a packed BGR row is also a
// bitmap row. Either side may come out 0 for very narrow or very flat outputs.
void previewSize(int outputWidth, int outputHeight, int& previewWidth, int& previewHeight);

// The bitmap description of a 24-bit bottom-up picture of width x height.
BitmapInfoHeader previewBitmapInfo(int width, int height);

// Writes a BMP file: the 14-byte file header, `info` (with its colour table, none for 24
// bits) and info.biSizeImage bytes of `pixels`. Replaces an existing file. Returns 1 when
// everything was written and the file closed, 0 otherwise.
int writeThumbnail(const std::string& path, const BitmapInfoHeader& info, const uint8_t* pixels);
// The same into a file already created (empty, at offset 0), which it closes in every
// case. 1 when everything was written and the file closed, 0 otherwise.
int writeThumbnailFile(File& file, const BitmapInfoHeader& info, const uint8_t* pixels);

}  // namespace pemlo
