#pragma once
// A small wave-out interface: device count, format query, open with a completion callback,
// prepare/write/unprepare of buffers, reset, close, and the position being heard. Result
// codes follow the classic wave-out numbering (0 success; see the constants below).
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

namespace tralux::audio {

enum WaveResult : int {
    kWaveOk = 0,
    kWaveError = 1,
    kWaveBadDeviceId = 2,
    kWaveAllocated = 4,
    kWaveInvalidHandle = 5,
    kWaveNoDriver = 6,
    kWaveNoMemory = 7,
    kWaveNotSupported = 8,
    kWaveInvalidParam = 11,
    kWaveBadFormat = 32,
    kWaveStillPlaying = 33,
    kWaveUnprepared = 34,
};

// The system's default device ("wave mapper").
constexpr int kWaveMapper = -1;

struct WaveFormat {
    std::uint16_t FormatTag = 1;  // PCM
    std::uint16_t Channels = 0;
    std::uint32_t SamplesPerSec = 0;
    std::uint32_t AvgBytesPerSec = 0;
    std::uint16_t BlockAlign = 0;
    std::uint16_t BitsPerSample = 0;
    std::uint16_t ExtraSize = 0;  // PCM carries no extra format bytes
};

// One queued buffer. The device owns the flags while the header is written.
struct WaveHeader {
    const std::uint8_t* Data = nullptr;
    std::size_t Bytes = 0;
    std::atomic<bool> Prepared{false};
    std::atomic<bool> Queued{false};  // written and not yet done
};

// Called on the device's own thread for every header that has finished playing (or was
// dropped by Reset). The header is no longer queued when it is called.
using DoneCallback = std::function<void(WaveHeader*)>;

class WaveOutDevice {
public:
    virtual ~WaveOutDevice() = default;
    virtual int Prepare(WaveHeader* header) = 0;
    // kWaveStillPlaying while the header is queued.
    virtual int Unprepare(WaveHeader* header) = 0;
    virtual int Write(WaveHeader* header) = 0;
    // Stops at once; every queued header completes.
    virtual int Reset() = 0;
    // kWaveStillPlaying while headers are queued; afterwards no callback runs any more.
    virtual int Close() = 0;
    // Sample frames heard since the device was opened.
    virtual std::uint64_t PlayedFrames() = 0;
};

class WaveOut {
public:
    virtual ~WaveOut() = default;
    virtual int DeviceCount() = 0;
    // Whether `device` (or kWaveMapper) takes the format, without opening it for playing.
    virtual int Query(int device, const WaveFormat& format) = 0;
    virtual int Open(int device, const WaveFormat& format, DoneCallback done,
                     std::unique_ptr<WaveOutDevice>& opened) = 0;
};

// The ALSA implementation. TRALUX_AUDIO_DEVICE names the one device it offers (for example
// "pulse", "null" or "plughw:1"); without it there is one device, "default", as long as the
// system has a sound card. The mapper is always "default".
WaveOut& AlsaWaveOut();

}  // namespace tralux::audio
