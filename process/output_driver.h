// The output phase: replays the frame spool (and the sound spool) into the finished FLV
// file, one frame at a time, with a preview, the progress and a BMP thumbnail.
#pragma once

#include <string>

#include "capture/frame_spool.h"
#include "flv/flv_writer.h"
#include "platform/file.h"
#include "process/progress_sink.h"

namespace pemlo {

// One output job: what the recording was and what to make of it.
struct OutputJob {
    CaptureArea capture;  // the rectangle of the screen the frames were cropped to
    int outputWidth = 0;  // the video's size, never larger than the capture
    int outputHeight = 0;
    int recordAudio = 0;         // 1: the sound spool goes into the file
    File* soundSpool = nullptr;  // 22,050 Hz mono 16-bit; needed only with recordAudio
    std::string thumbnailPath;
    unsigned threads = 0;  // threads to work with; 0: one per processor
};

// Turns every spooled frame into a video tag of the output size (cropped to the capture
// rectangle, cursor drawn, scaled by area averaging, watermarked), writes the sound
// that has fallen due after each frame as audio tags when recordAudio is 1, shows a
// preview and the progress after each frame, writes the thumbnail after the first and
// the tenth frame, and finishes the file. The bytes are the same whatever the number of
// threads.
//
// `outputFile` is empty; flvFinish closes it on success. Returns 1 when the FLV is
// complete and closed. Returns 0 at the first failure, for settings it cannot honour
// (an output larger than the capture, a spool without frames, sound requested without
// a spool) and when `progress` asks to stop; what was written stays as it is and the
// file stays open.
int runOutputDriver(const OutputJob& job, FrameSpool& frames, FlvWriter& writer, File& outputFile,
                    ProgressSink& progress);

}  // namespace pemlo
