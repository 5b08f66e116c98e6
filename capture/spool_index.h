// The frame spool's index on disk: the file beside the spool that makes the spool
// describe itself, so that a later start of the program can read a recording that
// was never finished (the program killed, Windows or the power gone).
//
// Layout, little-endian:
//   header  "PEMLOIX1", capture left, top, width, height (signed 32-bit each), the
//           length of the recording's description (unsigned 32-bit, at most
//           kSpoolDescriptionMax) and the description's bytes, then zlib's crc32 of all
//           of the header before it;
//   records one of kSpoolRecordBytes per frame, in recording order, each written after
//           the frame's blocks: raw size, frame block size, cursor block size (-1: no
//           cursor), tile count, the grab's clock reading, cursor x and y (16 bits), the
//           frame's number (0, 1, 2, ...), and the crc32 of the 28 bytes before it
//           followed by the frame's cursor block and frame block.
//   pauses  a record of the same size where the recording paused or went on, between the
//           records of the frames around it: kSpoolPauseMark (where a frame's raw size
//           would be), 1 for a pause or 2 for going on, the clock reading, 12 zero
//           bytes, the number of the frame that follows, and the crc32 of the 28 bytes
//           before it.
// The blocks themselves are in the spool, back to back in the same order. A record
// whose crc32 does not match its blocks, whose number is out of turn, or that is cut
// short ends the readable recording: everything before it is whole.
//
// The description is the caller's (what the output phase needs besides the frames);
// this unit only keeps it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/byte_order.h"  // the index's fields, as its readers decode them

namespace pemlo {

struct FrameRecord;
struct CaptureArea;

inline constexpr const char kSpoolIndexMagic[8] = {'P', 'E', 'M', 'L', 'O', 'I', 'X', '1'};
constexpr uint32_t kSpoolRecordBytes = 32;
constexpr uint32_t kSpoolDescriptionMax = 65536;
// The header without its description.
constexpr uint32_t kSpoolHeaderFixedBytes = 8 + 16 + 4;

// The header for `area` and `description` (which must not exceed kSpoolDescriptionMax).
std::vector<unsigned char> spoolIndexHeader(const CaptureArea& area,
                                            const std::string& description);

// Parses the fixed part of a header (kSpoolHeaderFixedBytes): the area and the length of
// the description that follows. False for another magic or a length over the limit.
bool spoolIndexHeaderStart(const unsigned char* fixed, CaptureArea& area,
                           uint32_t& descriptionLength);
// Whether the crc32 stored after the header's `size` bytes (fixed part and description)
// matches them.
bool spoolIndexHeaderIntact(const unsigned char* header, uint32_t size, uint32_t storedCrc);

// The crc32 of frame `number`'s record fields followed by its blocks (either may be
// null with size 0).
uint32_t spoolRecordCrc(const FrameRecord& record, uint32_t number, const unsigned char* cursor,
                        uint32_t cursorSize, const unsigned char* frame, uint32_t frameSize);
// Encodes frame `number`'s record with its crc32.
void spoolEncodeRecord(const FrameRecord& record, uint32_t number, uint32_t crc,
                       unsigned char out[kSpoolRecordBytes]);
// Decodes a record; the crc32 is returned, not checked (it needs the blocks).
void spoolDecodeRecord(const unsigned char in[kSpoolRecordBytes], FrameRecord& record,
                       uint32_t& number, uint32_t& crc);

// The first field of a pause record: no frame's raw size is this large.
constexpr uint32_t kSpoolPauseMark = 0xFFFFFFFFU;

// Encodes a pause (`resume` 0) or the recording going on (`resume` 1) at `clockMs`,
// before frame `number`, with its crc32.
void spoolEncodePause(int resume, uint32_t clockMs, uint32_t number,
                      unsigned char out[kSpoolRecordBytes]);
// Whether a record read from the index is a pause record (by its first field).
bool spoolIsPauseRecord(const unsigned char in[kSpoolRecordBytes]);
// Decodes a pause record. False when its crc32 does not match or its kind is unknown.
bool spoolDecodePause(const unsigned char in[kSpoolRecordBytes], int& resume, uint32_t& clockMs,
                      uint32_t& number);

}  // namespace pemlo
