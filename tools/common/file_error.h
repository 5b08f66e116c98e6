// One wording for every file failure the tools report: what was being done, the file,
// and the system's reason, e.g. "cannot open 'a.raw': No such file or directory".
#pragma once

#include <cstring>
#include <string>

namespace pemlo::tools {

inline std::string fileError(const std::string& action, const std::string& path, int err) {
    return "cannot " + action + " '" + path + "': " + std::strerror(err);
}

}  // namespace pemlo::tools
