// Running pemlo-flvencode and pemlo-replay from the tests through the shell, with their
// standard output and error kept.
#pragma once

#include <string>

#include "tests/tools/tool_test_support.h"

namespace pemlo::testing {

inline const std::string kFlvEncode = PEMLO_FLVENCODE_BIN;
inline const std::string kReplay = PEMLO_REPLAY_BIN;

struct ToolResult {
    int status = -1;  // exit status, or 128 + signal
    std::string out;
    std::string err;
};

// Runs `tool args` in the shell (standard input from /dev/null unless `args` says
// otherwise), its output and errors kept in files of `dir`.
inline ToolResult runTool(const Scratch& dir, const std::string& tool, const std::string& args) {
    const std::string out = dir.path() + ".out";
    const std::string err = dir.path() + ".err";
    ToolResult r;
    // A tool that hangs is ended after two minutes (status 137), not waited for.
    r.status = shell("timeout -s KILL 120 " + quote(tool) + " </dev/null " + args + " >" +
                     quote(out) + " 2>" + quote(err));
    r.out = readBytes(out);
    r.err = readBytes(err);
    std::remove(out.c_str());
    std::remove(err.c_str());
    return r;
}

// A message that is one line, starts with the tool's name and holds every one of `parts`.
inline ::testing::AssertionResult oneLineWith(const ToolResult& r, const std::string& tool,
                                              const std::vector<std::string>& parts) {
    const std::string name = tool.substr(tool.find_last_of('/') + 1) + ": ";
    if (r.err.rfind(name, 0) != 0 || r.err.find('\n') != r.err.size() - 1) {
        return ::testing::AssertionFailure() << "not one line from " << name << ": " << r.err;
    }
    for (const std::string& part : parts) {
        if (r.err.find(part) == std::string::npos) {
            return ::testing::AssertionFailure() << "'" << part << "' missing in: " << r.err;
        }
    }
    return ::testing::AssertionSuccess();
}

}  // namespace pemlo::testing
