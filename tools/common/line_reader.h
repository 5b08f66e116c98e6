// Reading a text input one line at a time, in bounded memory.
//
// The input is opened with openInput (a file, pipe or character device; "-" is standard
// input). A line may hold at most kMaxLineBytes bytes before its end ('\n', a '\r'
// before it is dropped; the last line needs no end): a longer one is an error naming the
// file and the line, so an input without line ends (such as /dev/zero) costs no more
// than that. A failed read names the file and the system's reason.
#pragma once

#include <string>
#include <vector>

namespace pemlo::tools {

inline constexpr size_t kMaxLineBytes = 4096;

class LineReader {
  public:
    LineReader() = default;
    ~LineReader();
    LineReader(const LineReader&) = delete;
    LineReader& operator=(const LineReader&) = delete;

    // 1, or 0 with one line in `error`.
    int open(const std::string& path, std::string& error);
    // 1 with the next line, 0 at the end, -1 with one line in `error`.
    int next(std::string& line, std::string& error);
    // The number of the line last returned (1 for the first).
    int lineNumber() const { return number_; }

  private:
    int fill(std::string& error);

    std::string name_;
    int fd_ = -1;
    int number_ = 0;
    std::vector<char> buffer_ = std::vector<char>(65536);
    size_t at_ = 0;
    size_t end_ = 0;
    bool ended_ = false;
};

}  // namespace pemlo::tools
