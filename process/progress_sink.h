// Where the output phase shows how far it has come, and where it learns that the user
// wants it to stop. The Windows program shows the preview and the percentage in its
// progress dialog; pemlo-replay draws a bar on the terminal.
#pragma once

#include <cstdint>

#include "process/thumbnail.h"

namespace pemlo {

class ProgressSink {
  public:
    virtual ~ProgressSink() = default;

    // The preview of the frame just written: a 24-bit bottom-up picture described by
    // `info`, whose rows are exactly info.biWidth x 3 bytes. Valid during the call only.
    virtual void showPreview(const BitmapInfoHeader& info, const uint8_t* pixels) = 0;
    // Whether this sink shows previews at all. When it does not, the driver scales a
    // preview only for the thumbnail (after the first and the tenth frame).
    virtual bool showsPreview() const { return true; }
    // Frames written so far, in percent of all frames (0 to 100).
    virtual void setPercent(uint32_t percent) = 0;
    // Asked before each frame; true makes the output phase stop at once.
    virtual bool cancelRequested() = 0;
};

}  // namespace pemlo
