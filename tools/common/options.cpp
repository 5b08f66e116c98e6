#include "tools/common/options.h"

#include <getopt.h>

#include <cstdlib>

namespace pemlo::tools {

int readOptions(int argc, const char* const* argv, const std::vector<OptionSpec>& options,
                const OptionTaker& take, std::string& error) {
    // getopt_long wants writable words; it reads copies.
    std::vector<std::string> words(argv, argv + argc);
    std::vector<char*> pointers;
    for (std::string& word : words) {
        pointers.push_back(word.data());
    }
    pointers.push_back(nullptr);
    // '+': stop at the first word that is no option; ':': report a missing value apart.
    std::string letters = "+:";
    std::vector<option> table;
    for (size_t i = 0; i < options.size(); ++i) {
        const int argument = options[i].takesValue ? required_argument : no_argument;
        table.push_back(option{options[i].name, argument, nullptr, static_cast<int>(256 + i)});
        if (options[i].letter != 0) {
            letters += options[i].letter;
            letters += options[i].takesValue ? ":" : "";
        }
    }
    table.push_back(option{nullptr, 0, nullptr, 0});
    const auto indexOfLetter = [&](int letter) {
        for (size_t i = 0; i < options.size(); ++i) {
            if (options[i].letter == letter) {
                return static_cast<int>(i);
            }
        }
        return -1;
    };
    opterr = 0;
    optind = 0;  // start afresh: a program may read more than one command line
    for (;;) {
        const int got = getopt_long(argc, pointers.data(), letters.c_str(), table.data(), nullptr);
        if (got == -1) {
            break;
        }
        const std::string word = pointers[static_cast<size_t>(optind) - 1];
        if (got == '?') {
            error = "unknown option " +
                    (optopt != 0 ? std::string("-") + static_cast<char>(optopt) : word);
            return 0;
        }
        if (got == ':') {
            error = "missing value after " + word;
            return 0;
        }
        const int index = got >= 256 ? got - 256 : indexOfLetter(got);
        const std::string value = optarg != nullptr ? optarg : "";
        if (index < 0 || !take(static_cast<size_t>(index), value, error)) {
            return 0;
        }
    }
    if (optind < argc) {
        error = "unknown option " + std::string(pointers[static_cast<size_t>(optind)]);
        return 0;
    }
    return 1;
}

bool parseWhole(const std::string& text, long low, long high, long& value) {
    const size_t digits = low < 0 && !text.empty() && text[0] == '-' ? 1 : 0;
    if (text.size() <= digits || text.size() - digits > 9 ||
        text.find_first_not_of("0123456789", digits) != std::string::npos) {
        return false;
    }
    const long parsed = std::strtol(text.c_str(), nullptr, 10);
    if (parsed < low || parsed > high) {
        return false;
    }
    value = parsed;
    return true;
}

bool parseWholes(const std::string& text, char separator, size_t count, long low, long high,
                 std::vector<long>& values) {
    values.clear();
    size_t at = 0;
    for (;;) {
        const size_t end = text.find(separator, at);
        long value = 0;
        if (!parseWhole(text.substr(at, end == std::string::npos ? end : end - at), low, high,
                        value)) {
            return false;
        }
        values.push_back(value);
        if (end == std::string::npos) {
            return values.size() == count;
        }
        at = end + 1;
    }
}

}  // namespace pemlo::tools
