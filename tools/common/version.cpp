#include "tools/common/version.h"

#include <cstdio>

#include "pemlo_version.h"

namespace pemlo::tools {

int printVersion(const char* tool) {
    std::printf("%s %s\n", tool, PEMLO_VERSION);
    return std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 1;
}

}  // namespace pemlo::tools
