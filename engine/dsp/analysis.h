#pragma once
// Spectrum analysis of the output for the preview display, and the progress position.
#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>

#include "fft/fft.h"

namespace tralux::dsp {

// Ring of 1024 entries with one write index for all tables. Written by the worker, read by
// the display without locking: entries are relaxed atomics, so a reader may see a mix of old
// and new entries but never a torn value.
struct AnalysisTables {
    static constexpr int kSize = 1024;
    std::array<std::atomic<std::int64_t>, kSize> AnalysisTime{};  // PositionMs at the frame start
    std::array<std::atomic<double>, kSize> AnalysisLevel{};
    std::array<std::array<std::atomic<double>, kSize>, 10> AnalysisBand{};  // bands 1..10 as [0..9]
    std::atomic<int> AnalysisIndex{0};

    void Reset();
};

// What BandMagnitude stores for a silent band: the value of a one-LSB magnitude.
double BandMagnitudeFloor();

// Weighted mean magnitude of the bins of [lo, hi] Hz in an N-point spectrum ((re, im) pairs, at
// least N/2 of them), as ln(mean / 32768) / 4; 0.0 when no bin falls in the band; never below
// BandMagnitudeFloor().
double BandMagnitude(int n, const std::int32_t* spectrum, double lo, double hi, double rate);

// Frame order of the analysis for an output rate: 9 up to 11025 Hz, 10 up to 32000 Hz, else 11.
int AnalysisOrder(std::uint32_t rate);

class Analyser {
public:
    Analyser();
    // Clears the tables and the frame count.
    void Reset(AnalysisTables& tables);
    // One block of output PCM (16-bit interleaved). Always advances position by the block's
    // duration; in preview also analyses it, frame by frame, into the tables. A frame may span
    // blocks: decoders and the converter hand over pieces shorter than a frame (1152 or 1024
    // samples against 2048 at 44100 Hz), which would otherwise never be analysed.
    void AnalyseBlock(const std::int16_t* samples, std::size_t byteCount, int channels,
                      std::uint32_t rate, bool preview, std::atomic<double>& position,
                      AnalysisTables& tables);

private:
    void Advance(std::size_t bytes, int channels, std::uint32_t rate,
                 std::atomic<double>& position);

    fft::RealFftS16 fft9_, fft10_, fft11_;
    std::array<std::int16_t, 2048> mono_{};
    std::array<std::int16_t, 2 * 2048> frame_{};  // the frame being gathered, interleaved
    std::size_t frameBytes_ = 0;
    int frameChannels_ = 0;
    std::uint32_t frameRate_ = 0;
    std::array<std::int32_t, 2 * 1025> spectrum_{};
    std::uint64_t frameCount_ = 0;  // analysis frames of the job so far
    // The position is kept as base + bytes emitted since, so block sizes do not add rounding.
    double positionBase_ = 0.0;
    std::uint64_t positionBytes_ = 0;
    int positionChannels_ = 0;
    std::uint32_t positionRate_ = 0;
    double lastWritten_;
};

}  // namespace tralux::dsp
