// Encoding and checking of the frame spool's index on disk.
#include "capture/spool_index.h"

#include <zlib.h>

#include <cstring>

#include "capture/frame_spool.h"

namespace pemlo {
namespace {

uint32_t crcOf(uint32_t crc, const unsigned char* data, uint32_t size) {
    return data == nullptr || size == 0 ? crc : static_cast<uint32_t>(crc32(crc, data, size));
}

// The record's fields as they go to disk, without the crc32.
void encodeFields(const FrameRecord& r, uint32_t number, unsigned char* out) {
    putLe32(out, r.rawSize);
    putLe32(out + 4, static_cast<uint32_t>(r.frameBlockSize));
    putLe32(out + 8, static_cast<uint32_t>(r.cursorBlockSize));
    putLe32(out + 12, r.tileCount);
    putLe32(out + 16, r.grabMs);
    putLe16(out + 20, r.cursorX);
    putLe16(out + 22, r.cursorY);
    putLe32(out + 24, number);
}

}  // namespace

std::vector<unsigned char> spoolIndexHeader(const CaptureArea& area,
                                            const std::string& description) {
    std::vector<unsigned char> out(kSpoolHeaderFixedBytes + description.size() + 4);
    std::memcpy(out.data(), kSpoolIndexMagic, 8);
    putLe32(&out[8], static_cast<uint32_t>(area.left));
    putLe32(&out[12], static_cast<uint32_t>(area.top));
    putLe32(&out[16], static_cast<uint32_t>(area.width));
    putLe32(&out[20], static_cast<uint32_t>(area.height));
    putLe32(&out[24], static_cast<uint32_t>(description.size()));
    if (!description.empty()) {
        std::memcpy(&out[kSpoolHeaderFixedBytes], description.data(), description.size());
    }
    const auto size = static_cast<uint32_t>(out.size() - 4);
    putLe32(&out[size], crcOf(0, out.data(), size));
    return out;
}

bool spoolIndexHeaderStart(const unsigned char* fixed, CaptureArea& area,
                           uint32_t& descriptionLength) {
    if (std::memcmp(fixed, kSpoolIndexMagic, 8) != 0) {
        return false;
    }
    area.left = static_cast<int32_t>(getLe32(fixed + 8));
    area.top = static_cast<int32_t>(getLe32(fixed + 12));
    area.width = static_cast<int32_t>(getLe32(fixed + 16));
    area.height = static_cast<int32_t>(getLe32(fixed + 20));
    descriptionLength = getLe32(fixed + 24);
    return descriptionLength <= kSpoolDescriptionMax;
}

bool spoolIndexHeaderIntact(const unsigned char* header, uint32_t size, uint32_t storedCrc) {
    return crcOf(0, header, size) == storedCrc;
}

uint32_t spoolRecordCrc(const FrameRecord& record, uint32_t number, const unsigned char* cursor,
                        uint32_t cursorSize, const unsigned char* frame, uint32_t frameSize) {
    unsigned char fields[kSpoolRecordBytes - 4];
    encodeFields(record, number, fields);
    uint32_t crc = crcOf(0, fields, sizeof fields);
    crc = crcOf(crc, cursor, cursorSize);
    return crcOf(crc, frame, frameSize);
}

void spoolEncodeRecord(const FrameRecord& record, uint32_t number, uint32_t crc,
                       unsigned char out[kSpoolRecordBytes]) {
    encodeFields(record, number, out);
    putLe32(out + 28, crc);
}

void spoolDecodeRecord(const unsigned char in[kSpoolRecordBytes], FrameRecord& record,
                       uint32_t& number, uint32_t& crc) {
    record = FrameRecord{};
    record.rawSize = getLe32(in);
    record.frameBlockSize = static_cast<int32_t>(getLe32(in + 4));
    record.cursorBlockSize = static_cast<int32_t>(getLe32(in + 8));
    record.tileCount = getLe32(in + 12);
    record.grabMs = getLe32(in + 16);
    record.cursorX = getLe16(in + 20);
    record.cursorY = getLe16(in + 22);
    number = getLe32(in + 24);
    crc = getLe32(in + 28);
}

void spoolEncodePause(int resume, uint32_t clockMs, uint32_t number,
                      unsigned char out[kSpoolRecordBytes]) {
    std::memset(out, 0, kSpoolRecordBytes);
    putLe32(out, kSpoolPauseMark);
    putLe32(out + 4, resume ? 2 : 1);
    putLe32(out + 8, clockMs);
    putLe32(out + 24, number);
    putLe32(out + 28, crcOf(0, out, kSpoolRecordBytes - 4));
}

bool spoolIsPauseRecord(const unsigned char in[kSpoolRecordBytes]) {
    return getLe32(in) == kSpoolPauseMark;
}

bool spoolDecodePause(const unsigned char in[kSpoolRecordBytes], int& resume, uint32_t& clockMs,
                      uint32_t& number) {
    const uint32_t kind = getLe32(in + 4);
    if (!spoolIsPauseRecord(in) || (kind != 1 && kind != 2) ||
        crcOf(0, in, kSpoolRecordBytes - 4) != getLe32(in + 28)) {
        return false;
    }
    resume = kind == 2 ? 1 : 0;
    clockMs = getLe32(in + 8);
    number = getLe32(in + 24);
    return true;
}

}  // namespace pemlo
