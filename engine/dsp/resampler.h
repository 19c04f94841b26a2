#pragma once
// Sample-rate conversion with the equalizer applied in the same transforms.
//
// Output comes in frames of 2048 samples at the output rate, hop 1024, joined by a linear
// crossfade (ceil), clipped to +-32767 (+-8388607 for 24-bit samples). Two paths:
//   same rate          pass-through when the equalizer is off, else frames of the input;
//   any other ratio    a band-limited (windowed-sinc) filter evaluated at each output's
//                      position; it keeps 91 % of the lower Nyquist frequency and removes
//                      everything above it by at least 100 dB (aliases on the way down, images
//                      on the way up). Frames wait for the filter's reach past their end.
// Inputs above 48 kHz are first halved (once or more, while the result stays at least the
// output rate) by a linear-phase decimator, where the filter would cost most.
// All channels advance in lockstep, so an equalizer change is picked up at the same frame
// for both, and one switch value is used per block.
//
// Output position j corresponds to input position j * SourceRate / OutputRate exactly (kept in
// integers across calls, so long jobs do not drift), and Flush drains everything: the output
// of a job lasts ceil(input samples * OutputRate / SourceRate) samples.
#include <array>
#include <complex>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "engine/dsp/decimator.h"
#include "engine/dsp/equalizer.h"
#include "engine/dsp/polyphase.h"
#include "fft/fft.h"

namespace tralux::dsp {

// Where a frame gets its equalizer: the provider rebuilds the response when the user
// interface asked for it; called once before every frame.
class EqualizerSource {
public:
    virtual ~EqualizerSource() = default;
    virtual void RefreshIfChanged() = 0;
    virtual const EqualizerResponseTable& Response() const = 0;
    virtual float Gain() const = 0;
};

// Sample: int16_t, or int32_t holding 24-bit values (deep sources: the frames' precision is kept
// instead of being rounded to 16 bits at the edges).
template <class Sample>
class BasicResampler {
public:
    static constexpr int kFrame = 2048;
    static constexpr int kHop = 1024;

    BasicResampler();
    ~BasicResampler();
    BasicResampler(const BasicResampler&) = delete;
    BasicResampler& operator=(const BasicResampler&) = delete;

    // channels: how many channels go through (1 or 2). Rates must be nonzero.
    void Start(std::uint32_t sourceRate, std::uint32_t outputRate, int channels);
    // Releases all buffers; harmless when called again or before Start.
    void Free();
    bool Started() const { return started_; }

    // Takes count samples of each channel; returns the number of output samples per channel,
    // readable through Output(ch) until the next call. eq may be null when eqOn is false.
    std::size_t Process(const Sample* const* in, std::size_t count, bool eqOn, EqualizerSource* eq);
    // Pads the last frame with silence and returns everything still held. Later calls of
    // Process or Flush return 0.
    std::size_t Flush(EqualizerSource* eq);
    const Sample* Output(int ch) const { return chan_[static_cast<std::size_t>(ch)].out.data(); }

private:
    enum class Path { Same, Filter };
    struct Channel {
        std::vector<Sample> hist;  // hist[0] is input sample histBase_
        std::array<Sample, kFrame> overlap{};
        std::vector<Sample> out;
        // The filter's output for the second half of the frame at tailAt, before the
        // equalizer: the next frame's first half.
        std::array<double, kHop> tail{};
        std::int64_t tailAt = -1;
    };

    void StartConverter(std::uint32_t sourceRate, std::uint32_t outputRate, int channels);
    std::size_t Convert(const Sample* const* in, std::size_t count, bool eqOn, EqualizerSource* eq);
    // Runs the decimators' output through to whole samples in decimated_.
    void Decimate(const Sample* const* in, std::size_t count, bool flush);

    std::int64_t InputFloor(std::int64_t outIndex) const;  // floor(outIndex * sr / or)
    std::int64_t InputCeil(std::int64_t outIndex) const;
    // One past the last input sample the frame at output index j reads.
    std::int64_t FrameEnd(std::int64_t j) const;
    void Append(const Sample* const* in, std::size_t count);
    void AppendSilence(std::int64_t count);
    void EnsureHist(std::size_t size);
    void EnsureOut(std::size_t size);
    void Compact();
    void RunFrame(std::int64_t j, std::size_t outAt, bool eqOn, EqualizerSource* eq);
    void FillFrame(Channel& c, std::int64_t j);
    std::size_t LeavePassThrough(const Sample* const* in, std::size_t count);
    Sample HistAt(const Channel& c, std::int64_t abs) const {
        return c.hist[static_cast<std::size_t>(abs - histBase_)];
    }

    bool started_ = false;
    bool finished_ = false;
    std::uint32_t sr_ = 0, or_ = 0;  // sr_: the converter's input, after decimation
    std::uint32_t callerRate_ = 0;   // the rate Process takes
    std::int64_t callerReal_ = 0;    // samples Process took
    std::vector<HalfDecimator> decimators_;
    std::array<std::vector<float>, 2> decA_, decB_;
    std::array<std::vector<Sample>, 2> decimated_;
    int channels_ = 0;
    double r_ = 1.0;  // output / source, rounded through single precision
    Path path_ = Path::Same;

    std::array<Channel, 2> chan_;
    std::int64_t histBase_ = 0;  // input index of hist[0]
    std::size_t histLen_ = 0;
    std::int64_t inEnd_ = 0;   // input index one past the last sample held (padding included)
    std::int64_t inReal_ = 0;  // input samples received
    std::int64_t outPos_ = 0;  // output index of the next frame (everything before it emitted)
    bool firstFrame_ = true;
    bool fadeFromRaw_ = false;  // first frame after pass-through crossfades from the input
    bool passThrough_ = false;  // last block went straight through
    bool lastEqOn_ = false;
    std::int64_t context_ = 0;  // input kept before the next frame's span

    std::unique_ptr<fft::RealFft> fft11_;
    std::unique_ptr<PolyphaseFilter> filter_;
    std::vector<float> span_;  // the frame's input as the filter reads it
    std::vector<double> x_;
    std::vector<std::complex<double>> spec_;
    std::array<Sample, kFrame> frame_{};
};

using Resampler = BasicResampler<std::int16_t>;
using WideResampler = BasicResampler<std::int32_t>;
extern template class BasicResampler<std::int16_t>;
extern template class BasicResampler<std::int32_t>;

}  // namespace tralux::dsp
