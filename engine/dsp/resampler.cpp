#include "engine/dsp/resampler.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <stdexcept>

namespace tralux::dsp {

namespace {

constexpr int kBins = 1024;  // complex bins of the output frame below Nyquist

// The crossfade: cur fades in over j = 0..1023 while prev fades out, rounded up. The sum is a
// whole number of 1024ths, so the ceiling is exact in integers (the shift floors).
template <class S>
inline S Blend(S cur, S prev, int j) {
    if constexpr (sizeof(S) == 2) {
        return static_cast<S>(-((-(cur * j + (1024 - j) * prev)) >> 10));
    } else {
        const std::int64_t sum = std::int64_t{cur} * j + std::int64_t{1024 - j} * prev;
        return static_cast<S>(-((-sum) >> 10));
    }
}

// 16-bit frames truncate (as they always have); 24-bit ones round to nearest.
template <class S>
inline S Clip(double x) {
    if constexpr (sizeof(S) == 2) {
        const auto v = static_cast<float>(x);
        if (v > 32767.0f) return 32767;
        if (v < -32767.0f) return -32767;
        return static_cast<S>(v);
    } else {
        const double v = std::clamp(x, -8388607.0, 8388607.0);
        return static_cast<S>(v + (v < 0 ? -0.5 : 0.5));  // no library call per sample
    }
}

}  // namespace

template <class S>
BasicResampler<S>::BasicResampler() = default;
template <class S>
BasicResampler<S>::~BasicResampler() = default;

template <class S>
void BasicResampler<S>::Start(std::uint32_t sourceRate, std::uint32_t outputRate, int channels) {
    if (sourceRate == 0 || outputRate == 0) throw std::invalid_argument("sample rate 0");
    if (channels < 1 || channels > 2) throw std::invalid_argument("1 or 2 channels");
    Free();
    callerRate_ = sourceRate;
    callerReal_ = 0;
    // High-rate inputs: halve while the result stays at least the output rate; the filter's
    // cost grows with its input rate. Each stage keeps what the filter keeps (91 % of the
    // output's Nyquist frequency) and removes everything that would fold below the output's
    // Nyquist frequency; one landing on the output rate is the whole anti-alias filter.
    std::uint32_t rate = sourceRate;
    while (sourceRate > 48000 && rate % 2 == 0 && rate / 2 >= outputRate) {
        decimators_.emplace_back(rate, 0.455 * outputRate, rate / 2.0 - outputRate / 2.0, channels);
        rate /= 2;
    }
    StartConverter(rate, outputRate, channels);
}

template <class S>
void BasicResampler<S>::StartConverter(std::uint32_t sourceRate, std::uint32_t outputRate,
                                       int channels) {
    sr_ = sourceRate;
    or_ = outputRate;
    channels_ = channels;
    r_ = static_cast<float>(outputRate) / static_cast<float>(sourceRate);
    context_ = 0;
    fft11_ = std::make_unique<fft::RealFft>(11);
    filter_.reset();
    if (sr_ == or_) {
        path_ = Path::Same;
    } else {
        path_ = Path::Filter;
        filter_ = std::make_unique<PolyphaseFilter>(sr_, or_);
        context_ = filter_->Reach();
    }
    x_.assign(kFrame, 0.0);
    spec_.assign(kBins + 1, {});

    histBase_ = -context_;  // the input before the start is silence
    histLen_ = static_cast<std::size_t>(context_);
    for (auto& c : chan_) {
        c.hist.assign(histLen_ + sr_ + 4 * kFrame, 0);
        c.out.assign(or_ + 4 * kFrame, 0);
        c.overlap.fill(0);
        c.tailAt = -1;
    }
    inEnd_ = inReal_ = outPos_ = 0;
    firstFrame_ = true;
    fadeFromRaw_ = false;
    passThrough_ = false;
    lastEqOn_ = false;
    finished_ = false;
    started_ = true;
}

template <class S>
void BasicResampler<S>::Free() {
    for (auto& c : chan_) {
        std::vector<S>().swap(c.hist);
        std::vector<S>().swap(c.out);
    }
    fft11_.reset();
    filter_.reset();
    std::vector<float>().swap(span_);
    std::vector<double>().swap(x_);
    std::vector<std::complex<double>>().swap(spec_);
    decimators_.clear();
    for (auto* v : {&decA_, &decB_})
        for (auto& c : *v) std::vector<float>().swap(c);
    for (auto& c : decimated_) std::vector<S>().swap(c);
    histLen_ = 0;
    started_ = false;
    finished_ = false;
}

template <class S>
std::int64_t BasicResampler<S>::InputFloor(std::int64_t outIndex) const {
    return outIndex * static_cast<std::int64_t>(sr_) / static_cast<std::int64_t>(or_);
}

template <class S>
std::int64_t BasicResampler<S>::InputCeil(std::int64_t outIndex) const {
    return (outIndex * static_cast<std::int64_t>(sr_) + or_ - 1) / static_cast<std::int64_t>(or_);
}

template <class S>
std::int64_t BasicResampler<S>::FrameEnd(std::int64_t j) const {
    if (path_ == Path::Same) return j + kFrame;
    return InputFloor(j + kFrame - 1) - filter_->Reach() + 1 +
           static_cast<std::int64_t>(filter_->Taps());
}

template <class S>
void BasicResampler<S>::EnsureHist(std::size_t size) {
    for (int ch = 0; ch < channels_; ++ch) {
        auto& h = chan_[static_cast<std::size_t>(ch)].hist;
        if (h.size() < size) h.resize(std::max(size, 2 * h.size()));
    }
}

template <class S>
void BasicResampler<S>::EnsureOut(std::size_t size) {
    for (int ch = 0; ch < channels_; ++ch) {
        auto& o = chan_[static_cast<std::size_t>(ch)].out;
        if (o.size() < size) o.resize(std::max(size, 2 * o.size()));
    }
}

template <class S>
void BasicResampler<S>::Append(const S* const* in, std::size_t count) {
    EnsureHist(histLen_ + count);
    for (int ch = 0; ch < channels_; ++ch)
        if (count)
            std::memcpy(chan_[static_cast<std::size_t>(ch)].hist.data() + histLen_, in[ch],
                        count * sizeof(S));
    histLen_ += count;
    inEnd_ += static_cast<std::int64_t>(count);
}

template <class S>
void BasicResampler<S>::AppendSilence(std::int64_t count) {
    const auto n = static_cast<std::size_t>(count);
    EnsureHist(histLen_ + n);
    for (int ch = 0; ch < channels_; ++ch)
        std::fill_n(chan_[static_cast<std::size_t>(ch)].hist.data() + histLen_, n, S{0});
    histLen_ += n;
    inEnd_ += count;
}

template <class S>
void BasicResampler<S>::Compact() {
    const std::int64_t keepFrom = InputFloor(outPos_) - context_;
    if (keepFrom <= histBase_) return;
    const auto drop = static_cast<std::size_t>(
        std::min<std::int64_t>(keepFrom - histBase_, static_cast<std::int64_t>(histLen_)));
    for (int ch = 0; ch < channels_; ++ch) {
        auto& h = chan_[static_cast<std::size_t>(ch)].hist;
        std::memmove(h.data(), h.data() + drop, (histLen_ - drop) * sizeof(S));
    }
    histLen_ -= drop;
    histBase_ += static_cast<std::int64_t>(drop);
}

template <class S>
std::size_t BasicResampler<S>::LeavePassThrough(const S* const* in, std::size_t count) {
    // Emit what the frames still hold: the held half frame crossfaded into the plain input,
    // then the plain input from there on; nothing repeated, nothing dropped.
    Append(in, count);
    const std::int64_t start = outPos_;
    const auto n = static_cast<std::size_t>(inEnd_ - start);
    EnsureOut(n);
    for (int ch = 0; ch < channels_; ++ch) {
        Channel& c = chan_[static_cast<std::size_t>(ch)];
        for (std::size_t i = 0; i < n; ++i) {
            const S raw = HistAt(c, start + static_cast<std::int64_t>(i));
            c.out[i] = (!firstFrame_ && i < static_cast<std::size_t>(kHop))
                           ? Blend(raw, c.overlap[kHop + i], static_cast<int>(i))
                           : raw;
        }
    }
    outPos_ = inEnd_;
    histBase_ = inEnd_;
    histLen_ = 0;
    firstFrame_ = true;
    fadeFromRaw_ = false;
    return n;
}

template <class S>
void BasicResampler<S>::Decimate(const S* const* in, std::size_t count, bool flush) {
    for (int ch = 0; ch < channels_; ++ch) {
        auto& a = decA_[static_cast<std::size_t>(ch)];
        a.resize(count);
        for (std::size_t i = 0; i < count; ++i) a[i] = in[ch][i];
    }
    auto* cur = &decA_;
    auto* next = &decB_;
    for (HalfDecimator& d : decimators_) {
        for (auto& c : *next) c.clear();
        const float* ptrs[2] = {(*cur)[0].data(), (*cur)[1].data()};
        d.Push(ptrs, (*cur)[0].size(), next->data());
        if (flush) d.Flush(next->data());
        std::swap(cur, next);
    }
    for (int ch = 0; ch < channels_; ++ch) {
        const auto& f = (*cur)[static_cast<std::size_t>(ch)];
        auto& o = decimated_[static_cast<std::size_t>(ch)];
        o.resize(f.size());
        // Rounded to nearest (halves up): the offset keeps the truncated value positive.
        if constexpr (sizeof(S) == 2) {
            for (std::size_t i = 0; i < f.size(); ++i)
                o[i] = static_cast<S>(
                    static_cast<std::int32_t>(std::clamp(f[i], -32768.0f, 32767.0f) + 32768.5f) -
                    32768);
        } else {
            for (std::size_t i = 0; i < f.size(); ++i)
                o[i] = static_cast<S>(std::clamp(static_cast<double>(f[i]), -8388608.0, 8388607.0) +
                                      (f[i] < 0 ? -0.5 : 0.5));
        }
    }
}

template <class S>
std::size_t BasicResampler<S>::Process(const S* const* in, std::size_t count, bool eqOn,
                                       EqualizerSource* eq) {
    if (!started_ || finished_) return 0;
    callerReal_ += static_cast<std::int64_t>(count);
    if (decimators_.empty()) return Convert(in, count, eqOn, eq);
    Decimate(in, count, false);
    const S* ptrs[2] = {decimated_[0].data(), decimated_[1].data()};
    return Convert(ptrs, decimated_[0].size(), eqOn, eq);
}

template <class S>
std::size_t BasicResampler<S>::Convert(const S* const* in, std::size_t count, bool eqOn,
                                       EqualizerSource* eq) {
    if (!eq) eqOn = false;
    lastEqOn_ = eqOn;
    inReal_ += static_cast<std::int64_t>(count);
    if (path_ == Path::Same && !eqOn) {
        if (!passThrough_) {
            passThrough_ = true;
            return LeavePassThrough(in, count);
        }
        EnsureOut(count);
        for (int ch = 0; ch < channels_; ++ch)
            if (count)
                std::memcpy(chan_[static_cast<std::size_t>(ch)].out.data(), in[ch],
                            count * sizeof(S));
        inEnd_ += static_cast<std::int64_t>(count);
        outPos_ = histBase_ = inEnd_;
        return count;
    }
    if (passThrough_) {
        // Frames start where the plain copy stopped; the first one fades in from the input.
        passThrough_ = false;
        histBase_ = outPos_ = inEnd_;
        histLen_ = 0;
        firstFrame_ = true;
        fadeFromRaw_ = inEnd_ > 0;
    }
    Append(in, count);

    const auto pending =
        static_cast<std::uint64_t>(std::max<std::int64_t>(0, inEnd_ - InputCeil(outPos_)));
    const std::uint64_t target =
        static_cast<std::uint64_t>(static_cast<double>(pending * 8 / 10) * r_);
    EnsureOut(static_cast<std::size_t>(target) + kHop);
    std::size_t produced = 0;
    while (target >= produced + kFrame + 1) {
        if (FrameEnd(outPos_) > inEnd_) break;
        RunFrame(outPos_, produced, eqOn, eq);
        outPos_ += kHop;
        produced += kHop;
    }
    Compact();
    return produced;
}

template <class S>
std::size_t BasicResampler<S>::Flush(EqualizerSource* eq) {
    if (!started_ || finished_) return 0;
    if (!decimators_.empty()) {
        // The decimators' tail: straight out when passing through, else into the last frames.
        Decimate(nullptr, 0, true);
        const S* ptrs[2] = {decimated_[0].data(), decimated_[1].data()};
        const std::size_t n = decimated_[0].size();
        if (passThrough_) {
            const std::size_t out = Convert(ptrs, n, false, eq);
            finished_ = true;
            return out;
        }
        Append(ptrs, n);
        inReal_ += static_cast<std::int64_t>(n);
    }
    finished_ = true;
    if (passThrough_) return 0;
    // As long as the caller's input lasts: a halved input may hold half a sample more.
    const std::int64_t total = (callerReal_ * static_cast<std::int64_t>(or_) + callerRate_ - 1) /
                               static_cast<std::int64_t>(callerRate_);
    const std::int64_t start = outPos_;
    if (total <= start) return 0;
    EnsureOut(static_cast<std::size_t>(total - start) + 2 * kFrame);
    const bool eqOn = lastEqOn_ && eq;
    std::size_t produced = 0;
    while (firstFrame_ || outPos_ + kHop < total) {
        const std::int64_t need = FrameEnd(outPos_);
        if (need > inEnd_) AppendSilence(need - inEnd_);
        RunFrame(outPos_, produced, eqOn, eq);
        outPos_ += kHop;
        produced += kHop;
        Compact();
    }
    for (int ch = 0; ch < channels_; ++ch) {
        Channel& c = chan_[static_cast<std::size_t>(ch)];
        std::copy_n(c.overlap.begin() + kHop, kHop,
                    c.out.begin() + static_cast<std::ptrdiff_t>(produced));
    }
    produced += kHop;
    return std::min(produced, static_cast<std::size_t>(total - start));
}

template <class S>
void BasicResampler<S>::FillFrame(Channel& c, std::int64_t j) {
    if (path_ == Path::Same) {
        for (int k = 0; k < kFrame; ++k) x_[static_cast<std::size_t>(k)] = HistAt(c, j + k);
        return;
    }
    // Frames overlap by half: the first half was the previous frame's second.
    std::size_t from = 0;
    if (c.tailAt == j - kHop) {
        std::copy(c.tail.begin(), c.tail.end(), x_.begin());
        from = kHop;
    }
    const std::int64_t first = j + static_cast<std::int64_t>(from);
    const std::int64_t lo = InputFloor(first) - filter_->Reach() + 1;
    const auto n = static_cast<std::size_t>(FrameEnd(j) - lo);
    span_.resize(n);
    for (std::size_t k = 0; k < n; ++k) span_[k] = HistAt(c, lo + static_cast<std::int64_t>(k));
    filter_->Run(span_.data() + filter_->Reach() - 1,
                 first * static_cast<std::int64_t>(sr_) % static_cast<std::int64_t>(or_),
                 kFrame - from, x_.data() + from);
    std::copy_n(x_.begin() + kHop, kHop, c.tail.begin());
    c.tailAt = j;
}

template <class S>
void BasicResampler<S>::RunFrame(std::int64_t j, std::size_t outAt, bool eqOn,
                                 EqualizerSource* eq) {
    if (eq) eq->RefreshIfChanged();
    const float gain = eqOn ? eq->Gain() : 1.0f;
    for (int ch = 0; ch < channels_; ++ch) {
        Channel& c = chan_[static_cast<std::size_t>(ch)];
        bool have = false;
        FillFrame(c, j);
        if (eqOn) {
            if (!have) fft11_->Forward(x_.data(), spec_.data());
            have = true;
            const auto& resp = eq->Response();
            for (std::size_t k = 0; k < kBins; ++k) spec_[k] *= resp[k];
            spec_[kBins] *= resp[kBins - 1];  // Nyquist goes with the top band
        }
        if (have) fft11_->Inverse(spec_.data(), x_.data());
        for (std::size_t k = 0; k < kFrame; ++k)
            frame_[k] = Clip<S>(eqOn ? x_[k] * static_cast<double>(gain) : x_[k]);
        S* out = c.out.data() + outAt;
        for (int i = 0; i < kHop; ++i) {
            if (!firstFrame_)
                out[i] = Blend(frame_[static_cast<std::size_t>(i)],
                               c.overlap[static_cast<std::size_t>(kHop + i)], i);
            else if (fadeFromRaw_)
                out[i] = Blend(frame_[static_cast<std::size_t>(i)], HistAt(c, j + i), i);
            else
                out[i] = frame_[static_cast<std::size_t>(i)];
        }
        c.overlap = frame_;
    }
    firstFrame_ = false;
    fadeFromRaw_ = false;
}

template class BasicResampler<std::int16_t>;
template class BasicResampler<std::int32_t>;

}  // namespace tralux::dsp
