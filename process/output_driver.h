// The output phase: replays the frame spool (and the sound spool) into the finished FLV
// file, one frame at a time, with a preview, the progress and a BMP thumbnail.
#pragma once

#include <string>

#include "capture/frame_spool.h"
#include "flv/flv_writer.h"
#include "platform/file.h"
#include "process/progress_sink.h"

namespace pemlo {

// Turns every spooled frame into a video tag of outputWidth x outputHeight (cropped to
// the capture rectangle, cursor drawn, scaled by area averaging, watermarked), writes
// the sound that has fallen due after each frame as audio tags when recordAudio is 1,
// shows a preview and the progress after each frame, writes the thumbnail after the
// first and the tenth frame, and finishes the file.
//
// `outputFile` is empty; flvFinish closes it on success. `soundSpool` is the recorded
// sound (22,050 Hz mono 16-bit), needed only when recordAudio is 1.
// Returns 1 when the FLV is complete and closed. Returns 0 at the first failure, for
// settings it cannot honour (an output larger than the capture, a spool without
// frames, sound requested without a spool) and when `progress` asks to stop; what was
// written stays as it is and the file stays open.
int runOutputDriver(FlvWriter& writer, FrameSpool& frames, File* soundSpool, int captureLeft,
                    int captureTop, int captureWidth, int captureHeight, int outputWidth,
                    int outputHeight, File& outputFile, ProgressSink& progress, int recordAudio,
                    const std::string& thumbnailPath);

}  // namespace pemlo
