#include "tools/common/version.h"

#include <cstdio>
#include <cstring>

#include "pemlo_version.h"

namespace pemlo::tools {

bool versionRequested(int argc, const char* const* argv) {
    return argc == 2 && std::strcmp(argv[1], "--version") == 0;
}

int printVersion(const char* tool) {
    std::printf("%s %s\n", tool, PEMLO_VERSION);
    return std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 1;
}

}  // namespace pemlo::tools
