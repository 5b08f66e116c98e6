// libFuzzer entry for the recovered recording target; the body is in
// recovered_recording_body.h.
#include <cstddef>
#include <cstdint>

#include "tests/fuzz/recovered_recording_body.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    pemlo::fuzz::recoveredRecording(data, size);
    return 0;
}
