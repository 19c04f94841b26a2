#pragma once
// Linear-phase decimation by two, for inputs far above the output rate: the rate converter
// then works at half (or a quarter of) the input rate, where it costs half as much.
//
// Decimated sample m is centred on input sample 2m (no delay), the input before the start and
// after the end counts as silence, and a stream of N samples gives ceil(N / 2).
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace tralux::dsp {

class HalfDecimator {
public:
    // rate: the input rate; everything up to passHz is kept (within 1e-5), everything from
    // stopHz up to rate / 2 is at least 100 dB down. Requires passHz < stopHz < rate / 2.
    HalfDecimator(double rate, double passHz, double stopHz, int channels);

    // Takes count samples per channel; the decimated samples that are complete so far are
    // appended to out[ch].
    void Push(const float* const* in, std::size_t count, std::vector<float>* out);
    // The end of the input: appends the remaining decimated samples.
    void Flush(std::vector<float>* out);

    std::size_t Taps() const { return taps_.size(); }

private:
    void Emit(std::vector<float>* out, std::int64_t limit);

    std::vector<float> taps_;  // centred on half_, zero-padded to a multiple of 8
    std::int64_t half_ = 0;
    int channels_ = 0;
    std::array<std::vector<float>, 2> buf_;  // buf_[ch][0] is input sample base_
    std::int64_t base_ = 0;
    std::int64_t end_ = 0;   // one past the last input sample held (padding included)
    std::int64_t real_ = 0;  // input samples received
    std::int64_t next_ = 0;  // next decimated index
};

}  // namespace tralux::dsp
