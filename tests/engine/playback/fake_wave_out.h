#pragma once
// A wave-out system for tests: devices whose answers are set per case, buffers that finish
// only when the test says so (or at once in auto mode), and a log of what happened.
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/audio/wave_out.h"

namespace tralux::test {

class FakeWaveOut;

class FakeDevice final : public audio::WaveOutDevice {
public:
    FakeDevice(FakeWaveOut& owner, audio::DoneCallback done)
        : owner_(owner), done_(std::move(done)) {}
    int Prepare(audio::WaveHeader* h) override;
    int Unprepare(audio::WaveHeader* h) override;
    int Write(audio::WaveHeader* h) override;
    int Reset() override;
    int Close() override;
    std::uint64_t PlayedFrames() override;

    // Finishes the oldest queued buffer as the device thread would; false when none.
    bool CompleteOldest();
    void CallDone(audio::WaveHeader* h) { done_(h); }
    audio::WaveHeader* Oldest() { return queue_.empty() ? nullptr : queue_.front(); }

private:
    FakeWaveOut& owner_;
    audio::DoneCallback done_;
    std::deque<audio::WaveHeader*> queue_;
};

class FakeWaveOut final : public audio::WaveOut {
public:
    int devices = 1;
    int queryResult[4] = {0, 0, 0, 0};  // per device index
    int openResult[4] = {0, 0, 0, 0};
    int mapperQuery = 0, mapperOpen = 0;
    int prepareResult = 0, writeResult = 0;
    bool autoComplete = false;  // buffers finish as soon as they are written
    std::uint64_t playedFrames = 0;

    int DeviceCount() override { return devices; }
    int Query(int device, const audio::WaveFormat& format) override {
        Log("query " + std::to_string(device));
        lastFormat = format;
        return device == audio::kWaveMapper ? mapperQuery : queryResult[device];
    }
    int Open(int device, const audio::WaveFormat& format, audio::DoneCallback done,
             std::unique_ptr<audio::WaveOutDevice>& opened) override {
        Log("open " + std::to_string(device));
        const int r = device == audio::kWaveMapper ? mapperOpen : openResult[device];
        if (r != 0) return r;
        auto d = std::make_unique<FakeDevice>(*this, std::move(done));
        std::lock_guard lock(mutex);
        current = d.get();
        opened = std::move(d);
        return 0;
    }

    bool CompleteOldest() {
        FakeDevice* d;
        {
            std::lock_guard lock(mutex);
            d = current;
        }
        return d && d->CompleteOldest();
    }
    void Log(const std::string& event) {
        std::lock_guard lock(mutex);
        events.push_back(event);
    }
    std::vector<std::string> Events() {
        std::lock_guard lock(mutex);
        return events;
    }
    std::vector<std::vector<std::uint8_t>> Written() {
        std::lock_guard lock(mutex);
        return written;
    }

    std::recursive_mutex mutex;
    std::vector<std::string> events;
    std::vector<std::vector<std::uint8_t>> written;  // copy of every buffer at its write
    FakeDevice* current = nullptr;
    audio::WaveFormat lastFormat{};
};

inline int FakeDevice::Prepare(audio::WaveHeader* h) {
    if (owner_.prepareResult) return owner_.prepareResult;
    h->Prepared.store(true);
    return 0;
}
inline int FakeDevice::Unprepare(audio::WaveHeader* h) {
    if (h->Queued.load()) return audio::kWaveStillPlaying;
    h->Prepared.store(false);
    return 0;
}
inline int FakeDevice::Write(audio::WaveHeader* h) {
    if (owner_.writeResult) return owner_.writeResult;
    {
        std::lock_guard lock(owner_.mutex);
        owner_.events.push_back("write " + std::to_string(h->Bytes));
        owner_.written.emplace_back(h->Data, h->Data + h->Bytes);
        h->Queued.store(true);
        queue_.push_back(h);
    }
    if (owner_.autoComplete) CompleteOldest();
    return 0;
}
inline bool FakeDevice::CompleteOldest() {
    audio::WaveHeader* h;
    {
        std::lock_guard lock(owner_.mutex);
        if (queue_.empty()) return false;
        h = queue_.front();
        queue_.pop_front();
        owner_.events.push_back("done " + std::to_string(h->Bytes));
        h->Queued.store(false);
    }
    done_(h);
    return true;
}
inline int FakeDevice::Reset() {
    owner_.Log("reset");
    while (CompleteOldest()) {
    }
    return 0;
}
inline int FakeDevice::Close() {
    std::lock_guard lock(owner_.mutex);
    if (!queue_.empty()) return audio::kWaveStillPlaying;
    owner_.events.push_back("close");
    if (owner_.current == this) owner_.current = nullptr;
    return 0;
}
inline std::uint64_t FakeDevice::PlayedFrames() {
    return owner_.playedFrames;
}

}  // namespace tralux::test
