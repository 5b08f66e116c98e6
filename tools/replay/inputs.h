// The recorded-like inputs of pemlo-replay: whole-screen frames, per-frame durations and
// cursor positions, and 22,050 Hz mono 16-bit sound (raw or WAV).
#pragma once

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace pemlo::replay {

// Whole-screen images back to back from a file or standard input.
class FrameInput {
  public:
    FrameInput() = default;
    FrameInput(const FrameInput&) = delete;
    FrameInput& operator=(const FrameInput&) = delete;
    ~FrameInput();
    int open(const std::string& path, std::string& error);
    // Reads the next frame of `bytes` bytes: 1 read, 0 clean end, -1 cut short or failed.
    int next(std::vector<unsigned char>& frame, size_t bytes);

  private:
    FILE* file_ = nullptr;
    bool ownsFile_ = false;
};

// One value per line: a duration in milliseconds, or a cursor corner "x y" or "-".
class LineInput {
  public:
    int open(const std::string& path, std::string& error);
    // Reads the next line; 0 at the end.
    int next(std::string& line);
    int lineNumber() const { return line_; }

  private:
    std::ifstream in_;
    int line_ = 0;
};

// Parses a duration line (0..65535). Returns 1 or 0.
int parseDuration(const std::string& line, uint16_t& ms);
// Parses a cursor line. Returns 1 with `shown` set, or 0 when malformed.
int parseCursor(const std::string& line, bool& shown, int32_t& x, int32_t& y);

// The sound file: a WAV must hold 22,050 Hz mono 16-bit PCM; anything else is raw.
class SoundInput {
  public:
    int open(const std::string& path, std::string& error);
    // Reads up to `max` bytes of samples; returns the count (0 at the end).
    size_t read(unsigned char* data, size_t max);

  private:
    std::ifstream in_;
    uint64_t left_ = UINT64_MAX;  // bytes of the data chunk not yet read
};

}  // namespace pemlo::replay
