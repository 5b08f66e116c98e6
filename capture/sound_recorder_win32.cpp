// WinMM wave input behind the sound device: kSoundBufferCount 10,240-byte buffers,
// completion notices posted to a window as MM_WIM_DATA with the WAVEHDR in lParam.
#include <windows.h>

#include <mmsystem.h>

#include <cstdlib>

#include "capture/sound_recorder_win32.h"

namespace pemlo {

WaveInDevice::~WaveInDevice() {
    if (handle_ != nullptr) {
        waveInReset(handle_);
        close();
    }
    for (int i = 0; i < kSoundBufferCount; ++i) {
        releaseBuffer(i);
    }
}

int WaveInDevice::open() {
    WAVEFORMATEX format;
    ZeroMemory(&format, sizeof(format));
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = 1;
    format.nSamplesPerSec = kSoundSampleRate;
    format.wBitsPerSample = 16;
    format.nBlockAlign = static_cast<WORD>(format.nChannels * format.wBitsPerSample / 8);
    format.nAvgBytesPerSec = format.nSamplesPerSec * format.nBlockAlign;
    format.cbSize = 0;
    HWAVEIN h = nullptr;
    if (waveInOpen(&h, WAVE_MAPPER, &format, reinterpret_cast<DWORD_PTR>(window_), 0,
                   CALLBACK_WINDOW) != MMSYSERR_NOERROR) {
        return 0;
    }
    handle_ = h;
    return 1;
}

int WaveInDevice::prepare(int i) {
    if (i < 0 || i >= kSoundBufferCount || handle_ == nullptr) {
        return 0;
    }
    WAVEHDR& header = headers_[i];
    ZeroMemory(&header, sizeof(header));
    header.dwBufferLength = kSoundBufferBytes;
    header.lpData = static_cast<LPSTR>(std::malloc(kSoundBufferBytes));
    if (header.lpData == nullptr) {
        return 0;
    }
    if (waveInPrepareHeader(handle_, &header, sizeof(WAVEHDR)) != MMSYSERR_NOERROR) {
        std::free(header.lpData);
        header.lpData = nullptr;
        return 0;
    }
    return 1;
}

int WaveInDevice::queue(int i) {
    if (i < 0 || i >= kSoundBufferCount || handle_ == nullptr) {
        return 0;
    }
    return waveInAddBuffer(handle_, &headers_[i], sizeof(WAVEHDR)) == MMSYSERR_NOERROR ? 1 : 0;
}

int WaveInDevice::start() {
    return handle_ != nullptr && waveInStart(handle_) == MMSYSERR_NOERROR ? 1 : 0;
}

int WaveInDevice::reset() {
    return handle_ != nullptr && waveInReset(handle_) == MMSYSERR_NOERROR ? 1 : 0;
}

int WaveInDevice::stop() {
    return handle_ != nullptr && waveInStop(handle_) == MMSYSERR_NOERROR ? 1 : 0;
}

int WaveInDevice::close() {
    if (handle_ == nullptr) {
        return 0;
    }
    // The reset has handed every buffer back, so they can be unprepared now; their data
    // and recorded counts stay for the completion messages still to be handled.
    for (WAVEHDR& header : headers_) {
        if ((header.dwFlags & WHDR_PREPARED) != 0 && (header.dwFlags & WHDR_INQUEUE) == 0) {
            waveInUnprepareHeader(handle_, &header, sizeof(WAVEHDR));
        }
    }
    if (waveInClose(handle_) != MMSYSERR_NOERROR) {
        return 0;
    }
    handle_ = nullptr;
    return 1;
}

void WaveInDevice::releaseBuffer(int i) {
    if (i < 0 || i >= kSoundBufferCount) {
        return;
    }
    WAVEHDR& header = headers_[i];
    if (handle_ != nullptr && (header.dwFlags & WHDR_PREPARED) != 0) {
        waveInUnprepareHeader(handle_, &header, sizeof(WAVEHDR));
    }
    std::free(header.lpData);
    header.lpData = nullptr;
    header.dwBytesRecorded = 0;
}

int WaveInDevice::bufferOf(const void* notice) const {
    for (int i = 0; i < kSoundBufferCount; ++i) {
        if (notice == &headers_[i]) {
            return i;
        }
    }
    return -1;
}

const unsigned char* WaveInDevice::bufferData(int i) const {
    return reinterpret_cast<const unsigned char*>(headers_[i].lpData);
}

uint32_t WaveInDevice::bytesRecorded(int i) const {
    return headers_[i].dwBytesRecorded;
}

uint32_t WaveInDevice::nowMs() {
    return timeGetTime();  // the clock the screen grabber times the frames with
}

int startSoundRecording(SoundRecorder& recorder, WaveInDevice& device, HWND window,
                        const std::string& folder) {
    device.setWindow(window);
    FilePtr notes = createKeptFile(folder + "\\" + kSoundNotesName);
    if (notes == nullptr) {
        return 0;
    }
    // A spool that cannot be created is reported by the first append.
    return startSoundRecording(recorder, device, createKeptFile(folder + "\\" + kSoundSpoolName),
                               std::move(notes));
}

}  // namespace pemlo
