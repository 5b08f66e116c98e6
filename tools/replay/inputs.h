// The recorded-like inputs of pemlo-replay: whole-screen frames, per-frame durations and
// cursor positions, and 22,050 Hz mono 16-bit sound (raw or WAV).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "tools/common/line_reader.h"

namespace pemlo::replay {

// Whole-screen images back to back from a file, a pipe or standard input ("-").
class FrameInput {
  public:
    FrameInput() = default;
    FrameInput(const FrameInput&) = delete;
    FrameInput& operator=(const FrameInput&) = delete;
    ~FrameInput();
    int open(const std::string& path, std::string& error);
    // Reads the next frame of `bytes` bytes: 1 read, 0 clean end, -1 cut short or failed.
    int next(std::vector<unsigned char>& frame, size_t bytes);
    // After -1: the system's reason when a read failed, 0 when the input was cut short.
    int readErrno() const { return readErrno_; }
    // How many frames of `bytes` the input holds when it is a regular file, else 0.
    uint64_t framesInFile(size_t bytes) const;
    const std::string& name() const { return name_; }

  private:
    int fd_ = -1;
    int readErrno_ = 0;
    std::string name_;
};

// One value per line: a duration in milliseconds, or a cursor corner "x y" or "-".
// Lines are bounded in length (tools/common/line_reader.h).
class LineInput {
  public:
    int open(const std::string& path, std::string& error);
    // Reads the next line, trimmed: 1, 0 at the end, -1 with one line in `error`.
    int next(std::string& line, std::string& error);
    int lineNumber() const { return reader_.lineNumber(); }

  private:
    tools::LineReader reader_;
};

// Parses a duration line (0..65535). Returns 1 or 0.
int parseDuration(const std::string& line, uint16_t& ms);
// Parses a cursor line. Returns 1 with `shown` set, or 0 when malformed.
int parseCursor(const std::string& line, bool& shown, int32_t& x, int32_t& y);

// The sound file (a regular file): a WAV must hold 22,050 Hz mono 16-bit PCM; anything
// else is raw.
class SoundInput {
  public:
    SoundInput() = default;
    SoundInput(const SoundInput&) = delete;
    SoundInput& operator=(const SoundInput&) = delete;
    ~SoundInput();
    int open(const std::string& path, std::string& error);
    // Reads up to `max` bytes of samples; returns the count (0 at the end or on failure,
    // then readErrno() is the system's reason, or 0).
    size_t read(unsigned char* data, size_t max);
    int readErrno() const { return readErrno_; }

  private:
    FILE* in_ = nullptr;
    uint64_t left_ = UINT64_MAX;  // bytes of the data chunk not yet read
    int readErrno_ = 0;
};

}  // namespace pemlo::replay
