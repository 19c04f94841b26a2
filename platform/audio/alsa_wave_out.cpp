#include <alsa/asoundlib.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

#include "platform/audio/wave_out.h"

namespace tralux::audio {

namespace {

using Clock = std::chrono::steady_clock;

int ResultFromErrno(int err) {
    switch (err < 0 ? -err : err) {
        case EBUSY:
        case EAGAIN:
            return kWaveAllocated;  // another program holds the card
        case ENOENT:
        case ENXIO:
            return kWaveBadDeviceId;
        case ENODEV:
            return kWaveNoDriver;
        case ENOMEM:
            return kWaveNoMemory;
        case EINVAL:
            return kWaveBadFormat;
        case ENOSYS:
            return kWaveNotSupported;
        default:
            return kWaveError;
    }
}

std::string EnvDevice() {
    const char* name = std::getenv("TRALUX_AUDIO_DEVICE");
    return name ? std::string(name) : std::string();
}

std::string DeviceName(int device) {
    if (device == kWaveMapper) return "default";
    const std::string env = EnvDevice();
    return env.empty() ? "default" : env;
}

int CardCount() {
    int count = 0, card = -1;
    while (snd_card_next(&card) == 0 && card >= 0) ++count;
    return count;
}

// Sets interleaved 16-bit PCM at exactly the format's rate and channels; `apply` false only tests.
int SetHardware(snd_pcm_t* pcm, const WaveFormat& f, bool apply) {
    if (f.FormatTag != 1 || f.BitsPerSample != 16 || f.Channels < 1 || f.Channels > 2 ||
        f.SamplesPerSec == 0)
        return kWaveBadFormat;
    snd_pcm_hw_params_t* hw;
    snd_pcm_hw_params_alloca(&hw);
    if (snd_pcm_hw_params_any(pcm, hw) < 0) return kWaveError;
    if (snd_pcm_hw_params_set_access(pcm, hw, SND_PCM_ACCESS_RW_INTERLEAVED) < 0 ||
        snd_pcm_hw_params_set_format(pcm, hw, SND_PCM_FORMAT_S16_LE) < 0 ||
        snd_pcm_hw_params_set_channels(pcm, hw, f.Channels) < 0 ||
        snd_pcm_hw_params_set_rate(pcm, hw, f.SamplesPerSec, 0) < 0)
        return kWaveBadFormat;
    if (!apply) return kWaveOk;
    // Small device buffer: the caller's own two-buffer queue is the real latency.
    unsigned bufferUs = 200000, periodUs = 20000;
    snd_pcm_hw_params_set_buffer_time_near(pcm, hw, &bufferUs, nullptr);
    snd_pcm_hw_params_set_period_time_near(pcm, hw, &periodUs, nullptr);
    int err = snd_pcm_hw_params(pcm, hw);
    if (err < 0) return ResultFromErrno(err);
    snd_pcm_uframes_t period = 0;
    snd_pcm_hw_params_get_period_size(hw, &period, nullptr);
    snd_pcm_sw_params_t* sw;
    snd_pcm_sw_params_alloca(&sw);
    snd_pcm_sw_params_current(pcm, sw);
    // Start as soon as a period is there, so a short last buffer plays too.
    snd_pcm_sw_params_set_start_threshold(pcm, sw, std::max<snd_pcm_uframes_t>(period, 1));
    err = snd_pcm_sw_params(pcm, sw);
    return err < 0 ? ResultFromErrno(err) : kWaveOk;
}

class AlsaDevice final : public WaveOutDevice {
public:
    AlsaDevice(snd_pcm_t* pcm, const WaveFormat& f, DoneCallback done)
        : pcm_(pcm),
          frameBytes_(f.BlockAlign),
          rate_(f.SamplesPerSec),
          chunkFrames_(std::max<snd_pcm_uframes_t>(f.SamplesPerSec / 50, 64)),
          done_(std::move(done)) {
        measuredAt_ = Clock::now();
        thread_ = std::thread([this] { Run(); });
    }
    ~AlsaDevice() override {
        Stop();
        if (pcm_) snd_pcm_close(pcm_);
    }

    int Prepare(WaveHeader* h) override {
        if (!h || !h->Data || h->Bytes % frameBytes_ != 0) return kWaveInvalidParam;
        h->Prepared.store(true);
        return kWaveOk;
    }
    int Unprepare(WaveHeader* h) override {
        if (!h) return kWaveInvalidParam;
        if (h->Queued.load()) return kWaveStillPlaying;
        h->Prepared.store(false);
        return kWaveOk;
    }
    int Write(WaveHeader* h) override {
        if (!h) return kWaveInvalidParam;
        if (!h->Prepared.load()) return kWaveUnprepared;
        std::lock_guard lock(mutex_);
        if (quit_) return kWaveInvalidHandle;
        h->Queued.store(true);
        queue_.push_back(h);
        wake_.notify_all();
        return kWaveOk;
    }
    int Reset() override {
        std::unique_lock lock(mutex_);
        resetRequested_ = true;
        wake_.notify_all();
        idle_.wait(lock, [this] { return !resetRequested_ || quit_; });
        return kWaveOk;
    }
    int Close() override {
        {
            std::lock_guard lock(mutex_);
            if (!queue_.empty() || !pending_.empty()) return kWaveStillPlaying;
        }
        Stop();
        return kWaveOk;
    }
    std::uint64_t PlayedFrames() override {
        std::lock_guard lock(mutex_);
        std::uint64_t played = played_;
        if (running_) {
            // Between two measurements the device plays on at its rate; a writer blocked in
            // the device for longer says nothing about progress, hence the cap.
            const auto us =
                std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - measuredAt_)
                    .count();
            played +=
                static_cast<std::uint64_t>(std::min<std::int64_t>(us, 50000)) * rate_ / 1000000;
        }
        // Never backwards, even when a measurement falls behind an extrapolation.
        reported_ = std::max(reported_, std::min(played, written_));
        return reported_;
    }

private:
    struct Pending {
        WaveHeader* header;
        std::uint64_t endFrame;
    };

    void Stop() {
        {
            std::lock_guard lock(mutex_);
            if (quit_) return;
            quit_ = true;
            wake_.notify_all();
        }
        if (thread_.joinable()) thread_.join();
        idle_.notify_all();
    }

    // Measures the heard position and completes the buffers that are over.
    void Measure(bool flushAll) {
        snd_pcm_sframes_t delay = 0;
        const snd_pcm_state_t state = snd_pcm_state(pcm_);
        std::uint64_t played;
        bool running = false;
        if (flushAll || state == SND_PCM_STATE_XRUN || state == SND_PCM_STATE_SETUP ||
            state == SND_PCM_STATE_PREPARED) {
            // Nothing left in the device (or it was never started): everything written is over,
            // except while prepared with data waiting for its start.
            if (state == SND_PCM_STATE_PREPARED && !flushAll) {
                played = played_;
            } else {
                played = written_;
            }
        } else if (snd_pcm_delay(pcm_, &delay) == 0) {
            const std::uint64_t d = delay > 0 ? static_cast<std::uint64_t>(delay) : 0;
            played = written_ > d ? written_ - d : 0;
            running = state == SND_PCM_STATE_RUNNING;
        } else {
            played = written_;
        }
        std::deque<WaveHeader*> finished;
        {
            std::lock_guard lock(mutex_);
            // Extrapolate only while the device is seen to move: a sound server may hold the
            // first buffers for a while before it starts.
            running_ = running && played > played_;
            played_ = std::max(played_, played);
            measuredAt_ = Clock::now();
            while (!pending_.empty() && pending_.front().endFrame <= played_) {
                finished.push_back(pending_.front().header);
                pending_.pop_front();
            }
        }
        for (WaveHeader* h : finished) Complete(h);
    }

    bool HasPending() {
        std::lock_guard lock(mutex_);
        return !pending_.empty();
    }

    void Complete(WaveHeader* h) {
        h->Queued.store(false);
        if (done_) done_(h);
    }

    void DropEverything() {
        snd_pcm_drop(pcm_);
        snd_pcm_prepare(pcm_);
        std::deque<WaveHeader*> dropped;
        {
            std::lock_guard lock(mutex_);
            for (const Pending& p : pending_) dropped.push_back(p.header);
            for (WaveHeader* h : queue_) dropped.push_back(h);
            pending_.clear();
            queue_.clear();
            offset_ = 0;
            played_ = written_;
            running_ = false;
        }
        for (WaveHeader* h : dropped) Complete(h);
    }

    void Run() {
        for (;;) {
            WaveHeader* current = nullptr;
            {
                std::unique_lock lock(mutex_);
                wake_.wait_for(lock, std::chrono::milliseconds(10),
                               [this] { return quit_ || resetRequested_ || !queue_.empty(); });
                if (quit_) break;
                if (resetRequested_) {
                    lock.unlock();
                    DropEverything();
                    lock.lock();
                    resetRequested_ = false;
                    idle_.notify_all();
                    continue;
                }
                if (!queue_.empty()) current = queue_.front();
            }
            if (!current) {
                // A short tail below the start threshold would otherwise wait forever.
                if (snd_pcm_state(pcm_) == SND_PCM_STATE_PREPARED && HasPending())
                    snd_pcm_start(pcm_);
                Measure(false);
                continue;
            }
            // One chunk at a time, so completions and resets are seen every few milliseconds.
            const std::size_t totalFrames = current->Bytes / frameBytes_;
            const std::size_t frames = std::min<std::size_t>(chunkFrames_, totalFrames - offset_);
            snd_pcm_sframes_t n =
                frames == 0 ? 0
                            : snd_pcm_writei(pcm_, current->Data + offset_ * frameBytes_, frames);
            if (n == -EPIPE || n == -ESTRPIPE || n == -EINTR) {
                snd_pcm_recover(pcm_, static_cast<int>(n), 1);
                continue;
            }
            if (n < 0) {
                // The device is gone: what is queued cannot play any more.
                DropEverything();
                continue;
            }
            {
                std::lock_guard lock(mutex_);
                written_ += static_cast<std::uint64_t>(n);
                offset_ += static_cast<std::size_t>(n);
                if (offset_ >= totalFrames) {
                    queue_.pop_front();
                    pending_.push_back({current, written_});
                    offset_ = 0;
                }
            }
            Measure(false);
        }
        // Closing: the caller waited for the queue, so whatever remains is dropped.
        snd_pcm_drop(pcm_);
        std::deque<WaveHeader*> left;
        {
            std::lock_guard lock(mutex_);
            for (const Pending& p : pending_) left.push_back(p.header);
            for (WaveHeader* h : queue_) left.push_back(h);
            pending_.clear();
            queue_.clear();
        }
        for (WaveHeader* h : left) Complete(h);
    }

    snd_pcm_t* pcm_;
    const std::size_t frameBytes_;
    const std::uint32_t rate_;
    const snd_pcm_uframes_t chunkFrames_;
    DoneCallback done_;
    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable wake_, idle_;
    std::deque<WaveHeader*> queue_;
    std::deque<Pending> pending_;
    std::size_t offset_ = 0;  // frames of queue_.front() already written
    std::uint64_t written_ = 0, played_ = 0, reported_ = 0;
    Clock::time_point measuredAt_;
    bool running_ = false;
    bool quit_ = false;
    bool resetRequested_ = false;
};

class AlsaWaveOutImpl final : public WaveOut {
public:
    int DeviceCount() override { return EnvDevice().empty() ? (CardCount() > 0 ? 1 : 0) : 1; }

    int Query(int device, const WaveFormat& format) override {
        snd_pcm_t* pcm = nullptr;
        int err = snd_pcm_open(&pcm, DeviceName(device).c_str(), SND_PCM_STREAM_PLAYBACK,
                               SND_PCM_NONBLOCK);
        if (err < 0) return ResultFromErrno(err);
        const int result = SetHardware(pcm, format, false);
        snd_pcm_close(pcm);
        return result;
    }

    int Open(int device, const WaveFormat& format, DoneCallback done,
             std::unique_ptr<WaveOutDevice>& opened) override {
        snd_pcm_t* pcm = nullptr;
        // A blocking open of a busy card would wait for it; ask without blocking, write blocking.
        int err = snd_pcm_open(&pcm, DeviceName(device).c_str(), SND_PCM_STREAM_PLAYBACK,
                               SND_PCM_NONBLOCK);
        if (err < 0) return ResultFromErrno(err);
        err = snd_pcm_nonblock(pcm, 0);
        if (err < 0) {
            snd_pcm_close(pcm);
            return ResultFromErrno(err);
        }
        const int result = SetHardware(pcm, format, true);
        if (result != kWaveOk) {
            snd_pcm_close(pcm);
            return result;
        }
        opened = std::make_unique<AlsaDevice>(pcm, format, std::move(done));
        return kWaveOk;
    }
};

}  // namespace

WaveOut& AlsaWaveOut() {
    static AlsaWaveOutImpl instance;
    return instance;
}

}  // namespace tralux::audio
