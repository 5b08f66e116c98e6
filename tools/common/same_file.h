// Whether an output would be one of the inputs under another name.
//
// Two names are the same file when, after following links, they have the same device
// and inode (hard links, symbolic links and "./a" against "a" all count). "-" stands for
// standard input, compared through its descriptor. An output that does not exist yet is
// no input.
#pragma once

#include <string>
#include <vector>

namespace pemlo::tools {

// The first of `inputs` that is the same file as `output`, or "" when none is.
std::string sameFileAs(const std::string& output, const std::vector<std::string>& inputs);

}  // namespace pemlo::tools
