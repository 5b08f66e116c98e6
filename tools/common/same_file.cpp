#include "tools/common/same_file.h"

#include <sys/stat.h>
#include <unistd.h>

namespace pemlo::tools {

std::string sameFileAs(const std::string& output, const std::vector<std::string>& inputs) {
    struct stat out = {};
    if (::stat(output.c_str(), &out) != 0) {
        return "";
    }
    for (const std::string& input : inputs) {
        if (input.empty()) {
            continue;
        }
        struct stat in = {};
        const int rc = input == "-" ? ::fstat(STDIN_FILENO, &in) : ::stat(input.c_str(), &in);
        if (rc == 0 && in.st_dev == out.st_dev && in.st_ino == out.st_ino) {
            return input;
        }
    }
    return "";
}

}  // namespace pemlo::tools
