#include "engine/playback/playback.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "engine/job/engine_state.h"
#include "engine/job/errors.h"
#include "platform/notify/notifier.h"

namespace tralux {

namespace {

using Clock = std::chrono::steady_clock;
using audio::WaveHeader;

constexpr int kHeaderCount = 100;
constexpr std::uint32_t kDefaultStallMs = 3000;
constexpr const char* kCaption = "Quorvatix Tralux";

struct Session {
    audio::WaveFormat format{};
    std::array<std::vector<std::uint8_t>, 2> buffers;
    int lastQueued = 1;  // the first buffer filled is 0
    std::size_t fillCount = 0;
    std::size_t threshold = 0;
    std::array<WaveHeader, kHeaderCount> headers;
    std::array<std::atomic<bool>, kHeaderCount> inUse{};
    int nextHeader = 0;
    // Written buffers not yet heard; the device thread decrements it.
    std::atomic<int> queued{0};
    std::atomic<bool> clockLive{true};
    // Read by the device thread and the user interface too.
    std::atomic<std::uint32_t> clockStartMs{0};
    std::atomic<bool> clockStarted{false};
    // Last, so it is destroyed first: no callback may outlive the headers.
    std::unique_ptr<audio::WaveOutDevice> device;

    ~Session() {
        clockLive.store(false);  // at process exit the job state may already be gone
        if (device) {
            device->Reset();
            device->Close();
            device.reset();
        }
    }
};

std::atomic<audio::WaveOut*> g_waveOut{nullptr};
std::atomic<std::uint32_t> g_stallMs{kDefaultStallMs};

std::mutex g_sessionMutex;  // guards the two pointers below, never held while waiting on the device
std::unique_ptr<Session> g_session;
Session* g_closing = nullptr;
std::thread g_closer;
std::mutex g_closerMutex;

audio::WaveFormat g_format{};
std::mutex g_formatMutex;

// Joins the background close at process exit.
struct CloserJoin {
    ~CloserJoin() { WaitForPlaybackClosed(); }
} g_closerJoin;

audio::WaveOut& System() {
    audio::WaveOut* w = g_waveOut.load();
    return w ? *w : audio::AlsaWaveOut();
}

void SleepMs(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

void UpdateClock(Session& s) {
    if (!s.clockLive.load() || !s.device || !s.clockStarted.load()) return;
    const std::uint64_t played = s.device->PlayedFrames();
    const std::uint64_t heardMs =
        s.clockStartMs.load() + played * 1000 / std::max<std::uint32_t>(s.format.SamplesPerSec, 1);
    std::uint32_t origin = PlaybackTickMs() - static_cast<std::uint32_t>(heardMs);
    if (origin == 0) origin = 1;  // 0 means "not started"
    Engine().ClockOriginMs.store(origin);
}

void OnDone(Session* s, WaveHeader* h) {
    for (int i = 0; i < 100 && s->device && s->device->Unprepare(h) == audio::kWaveStillPlaying;
         ++i)
        SleepMs(1);
    const std::ptrdiff_t index = h - s->headers.data();
    if (index < 0 || index >= kHeaderCount)
        ShowMessage("HEADER NOT FOUNT", "InternalError", MessageIcon::Error);
    else
        s->inUse[static_cast<std::size_t>(index)].store(false);
    s->queued.fetch_sub(1);
    UpdateClock(*s);
}

// Queues the buffer being filled. The count covers only buffers the device took.
void QueueFilled(Session& s) {
    const int which = 1 - s.lastQueued;
    const int index = s.nextHeader;
    WaveHeader& h = s.headers[static_cast<std::size_t>(index)];
    s.inUse[static_cast<std::size_t>(index)].store(true);
    h.Data = s.buffers[static_cast<std::size_t>(which)].data();
    h.Bytes = s.fillCount;
    s.nextHeader = (index + 1) % kHeaderCount;
    s.lastQueued = which;
    EngineState& e = Engine();
    if (!s.clockStarted.load()) {
        s.clockStartMs.store(e.PlaybackStartMs.load());
        s.clockStarted.store(true);
        if (e.ClockOriginMs.load() == 0)
            e.ClockOriginMs.store(PlaybackTickMs() - s.clockStartMs.load());
    }
    if (s.device->Prepare(&h) != audio::kWaveOk) {
        s.inUse[static_cast<std::size_t>(index)].store(false);
        s.fillCount = 0;  // lost with the failure; never retried at close
        ShowMessage("Error in prepare header", kCaption, MessageIcon::Error);
        throw JobError(kErrOpenDevice);
    }
    // Counted before the write: the device may finish it before Write returns.
    s.queued.fetch_add(1);
    if (s.device->Write(&h) != audio::kWaveOk) {
        s.queued.fetch_sub(1);
        s.device->Unprepare(&h);
        s.inUse[static_cast<std::size_t>(index)].store(false);
        s.fillCount = 0;
        ShowMessage("Error in waveOutWrite", kCaption, MessageIcon::Error);
        throw JobError(kErrOpenDevice);
    }
    s.fillCount = 0;
}

// Waits (bounded) for every queued buffer to be heard, then closes the device.
void DrainAndClose(Session& s) {
    if (!s.device) return;
    const auto rate = std::max<std::uint32_t>(s.format.AvgBytesPerSec, 1);
    std::uint64_t queuedBytes = 0;
    for (std::size_t i = 0; i < kHeaderCount; ++i)
        if (s.inUse[i].load()) queuedBytes += s.headers[i].Bytes;
    const auto deadline =
        Clock::now() + std::chrono::milliseconds(queuedBytes * 1000 / rate + g_stallMs.load());
    while (s.queued.load() > 0 && Clock::now() < deadline) SleepMs(5);
    // A device that stopped answering is cut off rather than waited for forever.
    if (s.queued.load() > 0) s.device->Reset();
    for (std::size_t i = 0; i < kHeaderCount; ++i) {
        if (!s.inUse[i].load()) continue;
        for (int n = 0; n < 100 && s.device->Unprepare(&s.headers[i]) == audio::kWaveStillPlaying;
             ++n)
            SleepMs(1);
        s.inUse[i].store(false);
    }
    if (s.device->Close() == audio::kWaveStillPlaying) {
        s.device->Reset();
        s.device->Close();
    }
    s.device.reset();
}

int OpenWithFallback(Session& s) {
    audio::WaveOut& sys = System();
    const int count = sys.DeviceCount();
    if (count <= 0) throw JobError(kErrNoSoundDevice);
    Session* raw = &s;
    auto done = [raw](WaveHeader* h) { OnDone(raw, h); };
    const int last = count - 1;
    if (sys.Query(last, s.format) == audio::kWaveOk &&
        sys.Open(last, s.format, done, s.device) == audio::kWaveOk)
        return audio::kWaveOk;
    s.device.reset();
    int r = sys.Query(audio::kWaveMapper, s.format);
    if (r == audio::kWaveOk) r = sys.Open(audio::kWaveMapper, s.format, done, s.device);
    if (r != audio::kWaveOk) s.device.reset();
    return r;
}

}  // namespace

bool PrepareOutputFormat(bool openDevice, const StreamInfo& info, audio::WaveFormat& format) {
    EngineState& e = Engine();
    e.SourceRate.store(info.SampleRate);
    e.SourceChannels.store(info.Channels);
    const std::uint16_t channels = e.OutputChannels.load();
    const std::uint32_t rate = e.OutputRate.load();
    format = audio::WaveFormat{};
    format.FormatTag = 1;
    format.Channels = channels;
    format.SamplesPerSec = rate;
    format.AvgBytesPerSec = rate * channels * 2;
    format.BlockAlign = static_cast<std::uint16_t>(channels * 2);
    format.BitsPerSample = 16;
    format.ExtraSize = 0;
    {
        std::lock_guard lock(g_formatMutex);
        g_format = format;
    }
    if (!openDevice) return true;

    WaitForPlaybackClosed();  // a stopped preview may still be playing out
    auto s = std::make_unique<Session>();
    s->format = format;
    s->threshold = QueueThreshold();
    const std::size_t capacity = s->threshold + format.AvgBytesPerSec + 4096;
    for (auto& b : s->buffers) b.reserve(capacity);
    const int r = OpenWithFallback(*s);
    if (r != audio::kWaveOk) {
        ShowDeviceError(r);
        throw JobError(0);
    }
    std::lock_guard lock(g_sessionMutex);
    g_session = std::move(s);
    return true;
}

void PrepareOutputFormat(const StreamInfo& info) {
    audio::WaveFormat format;
    PrepareOutputFormat(Engine().OutputMode.load() == kModePreview, info, format);
}

audio::WaveFormat CurrentOutputFormat() {
    std::lock_guard lock(g_formatMutex);
    return g_format;
}

std::size_t QueueThreshold() {
    const EngineState& e = Engine();
    return static_cast<std::size_t>(e.OutputRate.load()) * e.OutputChannels.load() / 2;
}

void ResetPlayback() {
    std::unique_ptr<Session> stale;
    {
        std::lock_guard lock(g_sessionMutex);
        stale = std::move(g_session);
    }
    stale.reset();
    Engine().ClockOriginMs.store(0);
}

std::size_t QueuePlayback(const std::uint8_t* samples, std::size_t byteCount) {
    Session* s;
    {
        std::lock_guard lock(g_sessionMutex);
        s = g_session.get();
    }
    if (!s || !s->device) throw JobError(kErrPlayback);
    EngineState& e = Engine();
    // At most one buffer in the device while the other fills; a stop leaves at once, before
    // anything is appended to a buffer the device may still be reading.
    const auto stallLimit = std::chrono::milliseconds(g_stallMs.load() + 1000);
    auto lastProgress = Clock::now();
    int seen = s->queued.load();
    while (s->queued.load() > 1) {
        if (e.StopRequested.load()) return 0;
        SleepMs(10);
        const int now = s->queued.load();
        if (now != seen) {
            seen = now;
            lastProgress = Clock::now();
        } else if (Clock::now() - lastProgress > stallLimit) {
            throw JobError(kErrPlayback);  // the device stopped taking sound
        }
    }
    if (e.StopRequested.load()) return 0;
    auto& buffer = s->buffers[static_cast<std::size_t>(1 - s->lastQueued)];
    if (buffer.size() < s->fillCount + byteCount) buffer.resize(s->fillCount + byteCount);
    std::copy(samples, samples + byteCount,
              buffer.begin() + static_cast<std::ptrdiff_t>(s->fillCount));
    s->fillCount += byteCount;
    UpdateClock(*s);
    if (s->fillCount < s->threshold) return 0;
    QueueFilled(*s);
    return byteCount;
}

void ClosePlayback(bool drain) {
    std::unique_ptr<Session> s;
    {
        std::lock_guard lock(g_sessionMutex);
        s = std::move(g_session);
    }
    if (!s) return;
    if (drain) {
        // The last partial buffer is heard too.
        if (s->fillCount > 0 && s->device) QueueFilled(*s);
        DrainAndClose(*s);
        return;
    }
    s->clockLive.store(false);
    WaitForPlaybackClosed();
    std::lock_guard closerLock(g_closerMutex);
    {
        std::lock_guard lock(g_sessionMutex);
        g_closing = s.get();
    }
    g_closer = std::thread([session = std::move(s)]() mutable {
        DrainAndClose(*session);
        std::lock_guard lock(g_sessionMutex);
        g_closing = nullptr;
        session.reset();
    });
}

void WaitForPlaybackClosed() {
    std::lock_guard lock(g_closerMutex);
    if (g_closer.joinable()) g_closer.join();
}

void DiscardPlayback() {
    std::lock_guard lock(g_sessionMutex);
    if (g_closing && g_closing->device) g_closing->device->Reset();
}

int QueuedBufferCount() {
    std::lock_guard lock(g_sessionMutex);
    return g_session ? g_session->queued.load() : 0;
}

std::uint32_t PlaybackTickMs() {
    return static_cast<std::uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch())
            .count());
}

double PlayingPositionMs() {
    {
        std::lock_guard lock(g_sessionMutex);
        if (g_session) UpdateClock(*g_session);
    }
    const std::uint32_t origin = Engine().ClockOriginMs.load();
    if (origin == 0) return Engine().PlaybackStartMs.load();
    return static_cast<double>(static_cast<std::uint32_t>(PlaybackTickMs() - origin));
}

std::string DeviceErrorText(int code) {
    static const char* const kTexts[] = {
        "no error",
        "unspecified error",
        "device ID out of range",
        "driver failed enable",
        "Your Sound Card is used in another application.",
        "device handle is invalid",
        "no device driver present",
        "memory allocation error",
        "function isn't supported",
        "error value out of range",
        "invalid flag passed",
        "invalid parameter passed",
        "handle being used",
        "specified alias not found",
        "bad registry database",
        "registry key not found",
        "registry read error",
        "registry write error",
        "registry delete error",
        "registry value not found",
        "driver does not call DriverCallback",
    };
    if (code >= 0 && code <= 20) return kTexts[code];
    switch (code) {
        case 32:
            return "unsupported wave format";
        case 33:
            return "still something playing";
        case 34:
            return "header not prepared";
        case 35:
            return "device is synchronous";
        default:
            return "unknown MM error";
    }
}

void ShowDeviceError(int code) {
    // No device at all is said in the user's words, not the driver's code.
    const bool none = code == audio::kWaveBadDeviceId || code == audio::kWaveNoDriver;
    ShowMessage(none ? ErrorCodeText(kErrNoSoundDevice) : DeviceErrorText(code), kCaption,
                MessageIcon::Error);
}

void SetWaveOutForTesting(audio::WaveOut* waveOut) {
    g_waveOut.store(waveOut);
}

void SetPlaybackStallLimitForTesting(std::uint32_t ms) {
    g_stallMs.store(ms ? ms : kDefaultStallMs);
}

}  // namespace tralux
