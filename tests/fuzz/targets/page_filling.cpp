// libFuzzer entry for the page filling target; the body is in fuzz_bodies.h.
#include <cstddef>
#include <cstdint>

#include "tests/fuzz/fuzz_bodies.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    pemlo::fuzz::pageFilling(data, size);
    return 0;
}
