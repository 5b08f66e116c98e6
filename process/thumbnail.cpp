#include "process/thumbnail.h"

#include <algorithm>

#include "platform/byte_order.h"
#include "platform/file.h"

namespace pemlo {

void previewSize(int outputWidth, int outputHeight, int& previewWidth, int& previewHeight) {
    previewWidth = 0;
    previewHeight = 0;
    if (outputWidth <= 0 || outputHeight <= 0) {
        return;
    }
    const int64_t w = outputWidth;
    const int64_t h = outputHeight;
    int64_t pw = 0;
    int64_t ph = 0;
    if (w > (4 * h) / 3) {
        pw = std::min<int64_t>(w, kPreviewMaxWidth);
        ph = (h * pw) / w;
    } else {
        ph = std::min<int64_t>(h, kPreviewMaxHeight);
        pw = (w * ph) / h;
    }
    pw -= pw % 4;
    previewWidth = static_cast<int>(pw);
    previewHeight = static_cast<int>(ph);
}

BitmapInfoHeader previewBitmapInfo(int width, int height) {
    BitmapInfoHeader info;
    info.biWidth = width;
    info.biHeight = height;
    const uint32_t rowBytes = ((static_cast<uint32_t>(width) * 24 + 31) / 32) * 4;
    info.biSizeImage = rowBytes * static_cast<uint32_t>(height);
    return info;
}

int writeThumbnail(const std::string& path, const BitmapInfoHeader& info, const uint8_t* pixels) {
    if (pixels == nullptr || info.biSize != kBmpInfoHeaderBytes || info.biClrUsed != 0) {
        return 0;
    }
    FilePtr file = createFile(path);
    if (file == nullptr) {
        return 0;
    }
    return writeThumbnailFile(*file, info, pixels);
}

int writeThumbnailFile(File& file, const BitmapInfoHeader& info, const uint8_t* pixels) {
    if (pixels == nullptr || info.biSize != kBmpInfoHeaderBytes || info.biClrUsed != 0) {
        file.close();
        return 0;
    }
    const uint32_t offset = kBmpFileHeaderBytes + info.biSize + 4 * info.biClrUsed;
    uint8_t fileHeader[kBmpFileHeaderBytes] = {'B', 'M'};
    putLe32(fileHeader + 2, offset + info.biSizeImage);
    putLe32(fileHeader + 10, offset);

    uint8_t infoHeader[kBmpInfoHeaderBytes] = {};
    putLe32(infoHeader, info.biSize);
    putLe32(infoHeader + 4, static_cast<uint32_t>(info.biWidth));
    putLe32(infoHeader + 8, static_cast<uint32_t>(info.biHeight));
    putLe16(infoHeader + 12, info.biPlanes);
    putLe16(infoHeader + 14, info.biBitCount);
    putLe32(infoHeader + 16, info.biCompression);
    putLe32(infoHeader + 20, info.biSizeImage);
    putLe32(infoHeader + 24, static_cast<uint32_t>(info.biXPelsPerMeter));
    putLe32(infoHeader + 28, static_cast<uint32_t>(info.biYPelsPerMeter));
    putLe32(infoHeader + 32, info.biClrUsed);
    putLe32(infoHeader + 36, info.biClrImportant);

    const bool written = file.write(fileHeader, sizeof fileHeader) == sizeof fileHeader &&
                         file.write(infoHeader, sizeof infoHeader) == sizeof infoHeader &&
                         file.write(pixels, info.biSizeImage) == info.biSizeImage;
    const bool closed = file.close();
    return written && closed ? 1 : 0;
}

}  // namespace pemlo
