// The tools' command lines, read one way: getopt_long over a table of the options each
// tool takes. An option with a value is written `--name VALUE` or `--name=VALUE` (or
// `-c VALUE` when it has a letter); a flag takes no value. Options are read in order, up
// to the first word that is no option (an error: the tools take no operands).
//
// Numbers in values are read by parseWhole and parseWholes alone, so every tool accepts
// the same forms.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace pemlo::tools {

struct OptionSpec {
    const char* name;  // the long name, without "--"
    char letter;       // the one-letter form, or 0
    bool takesValue;
};

// Called for each option read, in order: the option's index in the table and its value
// ("" for a flag). Returns true, or false with one line in `error` to stop the reading.
using OptionTaker =
    std::function<bool(size_t option, const std::string& value, std::string& error)>;

// Reads argv[1] to argv[argc - 1]. Returns 1, or 0 with one line in `error`: an unknown
// option, an option without its value, a stray word, or what `take` refused.
int readOptions(int argc, const char* const* argv, const std::vector<OptionSpec>& options,
                const OptionTaker& take, std::string& error);

// A whole decimal number from low to high: 1 to 9 digits, after a '-' only when low is
// negative, and nothing else.
bool parseWhole(const std::string& text, long low, long high, long& value);
// Exactly `count` such numbers (each from low to high) separated by `separator`.
bool parseWholes(const std::string& text, char separator, size_t count, long low, long high,
                 std::vector<long>& values);

}  // namespace pemlo::tools
