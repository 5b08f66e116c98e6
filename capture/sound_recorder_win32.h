// The Windows sound device: WinMM wave input from the wave mapper, with completion
// notices posted to a window as MM_WIM_DATA messages (the WAVEHDR in lParam).
#pragma once

#include <windows.h>

#include <mmsystem.h>

#include <string>

#include "capture/sound_recorder.h"

namespace pemlo {

class WaveInDevice final : public SoundDevice {
  public:
    explicit WaveInDevice(HWND window = nullptr) : window_(window) {}
    ~WaveInDevice() override;
    WaveInDevice(const WaveInDevice&) = delete;
    WaveInDevice& operator=(const WaveInDevice&) = delete;

    void setWindow(HWND window) { window_ = window; }
    HWAVEIN handle() const { return handle_; }

    int open() override;
    int isOpen() const override { return handle_ != nullptr; }
    int prepare(int i) override;
    int queue(int i) override;
    int start() override;
    int reset() override;
    int stop() override;
    int close() override;
    void releaseBuffer(int i) override;
    int bufferOf(const void* notice) const override;
    const unsigned char* bufferData(int i) const override;
    uint32_t bytesRecorded(int i) const override;
    uint32_t nowMs() override;

  private:
    HWND window_;
    HWAVEIN handle_ = nullptr;
    WAVEHDR headers_[kSoundBufferCount]{};
};

// Starts recording into a new kSoundSpoolName with its notes kSoundNotesName in
// `folder` (both kept on disk), with the completion messages going to `window`. 1 on
// success, 0 on failure.
int startSoundRecording(SoundRecorder& recorder, WaveInDevice& device, HWND window,
                        const std::string& folder);

}  // namespace pemlo
