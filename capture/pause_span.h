// One pause of a recording on the recording's millisecond clock (the clock the frames
// are grabbed and the sound notes taken with): from the reading when the pause began to
// the reading when the recording went on. A pause that never ended (the recording
// stopped, or the program died, while paused) has `ended` 0 and cuts everything after
// its beginning. The frame spool keeps the pauses; the sound timeline cuts them.
#pragma once

#include <cstdint>

namespace pemlo {

struct PauseSpan {
    uint32_t beginMs = 0;
    uint32_t endMs = 0;  // meaningful only when ended
    int ended = 0;

    bool operator==(const PauseSpan&) const = default;
};

}  // namespace pemlo
