#include "engine/dsp/analysis.h"

#include "engine/dsp/equalizer.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <thread>

namespace tralux::dsp {

void AnalysisTables::Reset() {
    for (auto& v : AnalysisTime) v.store(0, std::memory_order_relaxed);
    for (auto& v : AnalysisLevel) v.store(0.0, std::memory_order_relaxed);
    for (auto& band : AnalysisBand)
        for (auto& v : band) v.store(0.0, std::memory_order_relaxed);
    AnalysisIndex.store(0);
}

double BandMagnitudeFloor() {
    return std::log(1.0 / 32768.0) / 4.0;
}

double BandMagnitude(int n, const std::int32_t* spectrum, double lo, double hi, double rate) {
    const double w = rate / n;
    const int half = n / 2;
    double sum = 0.0;
    int count = 0;
    for (int i = 0; i < half; ++i) {
        if (i * w < lo || (i + 1) * w - 1.0 > hi) continue;
        const double re = spectrum[2 * i], im = spectrum[2 * i + 1];
        sum += std::sqrt(re * re + im * im) * (half - i) / half;
        ++count;
    }
    if (count == 0) return 0.0;
    // A silent band would give ln(0); the display turns these values into integers.
    return std::max(std::log(sum / count / 32768.0) / 4.0, BandMagnitudeFloor());
}

int AnalysisOrder(std::uint32_t rate) {
    return rate <= 11025 ? 9 : rate <= 32000 ? 10 : 11;
}

Analyser::Analyser()
    : fft9_(9), fft10_(10), fft11_(11), lastWritten_(std::numeric_limits<double>::quiet_NaN()) {}

void Analyser::Reset(AnalysisTables& tables) {
    tables.Reset();
    frameCount_ = 0;
    frameBytes_ = 0;
}

void Analyser::Advance(std::size_t bytes, int channels, std::uint32_t rate,
                       std::atomic<double>& position) {
    // Someone else set the position (a job start, a seek), or the format changed: count from there.
    const double current = position.load();
    if (!(current == lastWritten_) || channels != positionChannels_ || rate != positionRate_) {
        positionBase_ = current;
        positionBytes_ = 0;
        positionChannels_ = channels;
        positionRate_ = rate;
    }
    positionBytes_ += bytes;
    const double v =
        positionBase_ + static_cast<double>(positionBytes_) / 2.0 / channels / rate * 1000.0;
    position.store(v);
    lastWritten_ = v;
}

void Analyser::AnalyseBlock(const std::int16_t* samples, std::size_t byteCount, int channels,
                            std::uint32_t rate, bool preview, std::atomic<double>& position,
                            AnalysisTables& tables) {
    if (byteCount == 0 || channels < 1 || rate == 0) return;
    if (!preview) {
        Advance(byteCount, channels, rate, position);
        return;
    }
    const int order = AnalysisOrder(rate);
    const int n = 1 << order;
    const std::size_t frameBytes =
        static_cast<std::size_t>(channels) * 2 * static_cast<std::size_t>(n);
    fft::RealFftS16& fft = order == 9 ? fft9_ : order == 10 ? fft10_ : fft11_;
    static constexpr std::array<double, 10> kWeight{1, 1, 1, 1, 1, 1, 2, 4, 8, 16};

    if (channels > 2) {
        Advance(byteCount, channels, rate, position);
        return;
    }
    if (channels != frameChannels_ || rate != frameRate_) {
        frameBytes_ = 0;
        frameChannels_ = channels;
        frameRate_ = rate;
    }
    auto* gathered = reinterpret_cast<std::uint8_t*>(frame_.data());
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(samples);
    std::size_t done = 0;
    while (done < byteCount) {
        const std::size_t take = std::min(frameBytes - frameBytes_, byteCount - done);
        std::memcpy(gathered + frameBytes_, bytes + done, take);
        frameBytes_ += take;
        done += take;
        if (frameBytes_ < frameBytes) {
            Advance(take, channels, rate, position);
            break;
        }
        frameBytes_ = 0;
        ++frameCount_;
        // At 44100 Hz only every second frame of the job is analysed.
        if (!(rate == 44100 && frameCount_ % 2 == 0)) {
            const std::int16_t* f = frame_.data();
            double energy = 0.0;
            for (int i = 0; i < n; ++i) {
                const int v = channels == 1 ? f[i] : (f[2 * i] + f[2 * i + 1]) / 2;
                mono_[static_cast<std::size_t>(i)] = static_cast<std::int16_t>(v);
                energy += static_cast<double>(v) * v;
            }
            fft.Forward(mono_.data(), spectrum_.data());
            // The frame began (frameBytes - take) bytes before this piece of the block.
            const double startMs = position.load() - static_cast<double>(frameBytes - take) / 2.0 /
                                                         channels / rate * 1000.0;
            const int at = tables.AnalysisIndex.load(std::memory_order_relaxed);
            const auto slot = static_cast<std::size_t>(at);
            tables.AnalysisTime[slot].store(static_cast<std::int64_t>(startMs),
                                            std::memory_order_relaxed);
            tables.AnalysisLevel[slot].store(std::sqrt(energy / n) * 1.5 / 32768.0,
                                             std::memory_order_relaxed);
            for (std::size_t b = 0; b < 10; ++b) {
                const double m = BandMagnitude(n, spectrum_.data(), kEqualizerBands[b].lo,
                                               kEqualizerBands[b].hi, rate);
                tables.AnalysisBand[b][slot].store(m * kWeight[b], std::memory_order_relaxed);
            }
            tables.AnalysisIndex.store(at == AnalysisTables::kSize - 1 ? 0 : at + 1);
        }
        Advance(take, channels, rate, position);
        std::this_thread::yield();
    }
}

}  // namespace tralux::dsp
