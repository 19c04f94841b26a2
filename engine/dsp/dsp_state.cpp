#include "engine/dsp/dsp_state.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace tralux::dsp {

DspState::DspState() : DspState(DspLinks{}) {}

DspState::DspState(const DspLinks& links)
    : on_(links.EqualizerOn ? links.EqualizerOn : &EqualizerOn),
      levels_(links.EqualizerLevels ? links.EqualizerLevels : &EqualizerLevels),
      changed_(links.EqualizerChanged ? links.EqualizerChanged : &EqualizerChanged),
      position_(links.PositionMs ? links.PositionMs : &PositionMs) {
    for (auto& l : EqualizerLevels) l.store(50);
    response_.fill(1.0);
}

DspState::~DspState() = default;

void DspState::ResamplerStart(const DspFormat& format) {
    if (format.SourceChannels < 1 || format.SourceChannels > 2 || format.OutputChannels < 1 ||
        format.OutputChannels > 2)
        throw std::invalid_argument("1 or 2 channels");
    if (!format.Wide && format.BitsPerSample != 8 && format.BitsPerSample != 16)
        throw std::invalid_argument("8 or 16 bits");
    if (format.Wide && format.Preview) throw std::invalid_argument("no deep preview");
    if (format.SourceRate == 0 || format.OutputRate == 0)
        throw std::invalid_argument("sample rate 0");
    started_ = false;
    format_ = format;
    converterChannels_ = (format.SourceChannels == 2 && format.OutputChannels == 2) ? 2 : 1;
    if (format.Wide) {
        resampler_.Free();
        if (!wide_) wide_ = std::make_unique<WideResampler>();
        wide_->Start(format.SourceRate, format.OutputRate, converterChannels_);
    } else {
        resampler_.Start(format.SourceRate, format.OutputRate, converterChannels_);
    }
    BuildEqualizerResponse();
    started_ = true;
}

void DspState::ResamplerFree() {
    resampler_.Free();
    started_ = false;
    std::vector<std::uint8_t>().swap(mixed8_);
    for (auto& p : planar_) std::vector<std::int16_t>().swap(p);
    std::vector<std::int16_t>().swap(out_);
    wide_.reset();
    for (auto& p : planar32_) std::vector<std::int32_t>().swap(p);
    std::vector<std::int32_t>().swap(out32_);
}

void DspState::BuildEqualizerResponse() {
    changed_->store(false);
    std::array<int, kEqualizerLevels> levels{};
    for (std::size_t i = 0; i < levels.size(); ++i) levels[i] = (*levels_)[i].load();
    gain_ = dsp::BuildEqualizerResponse(levels, format_.SourceRate, format_.OutputRate, response_);
}

void DspState::RefreshIfChanged() {
    if (changed_->load()) BuildEqualizerResponse();
}

std::size_t DspState::Resample(const std::int16_t* const* channels, std::size_t count,
                               bool equalizerOn) {
    return resampler_.Process(channels, count, equalizerOn, this);
}

void DspState::ResetAnalysis() {
    analyser_.Reset(Analysis);
}

void DspState::AnalyseBlock(const std::int16_t* samples, std::size_t byteCount, int channels,
                            std::uint32_t rate) {
    analyser_.AnalyseBlock(samples, byteCount, channels, rate, format_.Preview, *position_,
                           Analysis);
}

std::span<const std::int16_t> DspState::Process(const std::uint8_t* block, std::size_t byteCount) {
    if (!started_ || format_.Wide) return {};
    const std::size_t frameBytes =
        std::size_t{format_.SourceChannels} * (format_.BitsPerSample / 8);
    const std::size_t frames = byteCount / frameBytes;
    const bool eight = format_.BitsPerSample == 8;
    for (auto& p : planar_) Grow(p, frames);
    if (format_.SourceChannels == 2 && format_.OutputChannels == 1) {
        if (eight) {
            Grow(mixed8_, frames);
            MixStereoToMono8(block, frames, mixed8_.data());
            Widen8(mixed8_.data(), frames, planar_[0].data());
        } else {
            Grow(planar_[1], 2 * frames);
            Load16(block, 2 * frames, planar_[1].data());
            MixStereoToMono16(planar_[1].data(), frames, planar_[0].data());
        }
    } else if (format_.SourceChannels == 2) {
        Grow(planar_[1], 2 * frames);
        Grow(out_, 2 * frames);
        if (eight)
            Widen8(block, 2 * frames, out_.data());
        else
            Load16(block, 2 * frames, out_.data());
        Deinterleave(out_.data(), frames, planar_[0].data(), planar_[1].data());
    } else {
        if (eight)
            Widen8(block, frames, planar_[0].data());
        else
            Load16(block, frames, planar_[0].data());
    }
    const std::int16_t* in[2] = {planar_[0].data(), planar_[1].data()};
    // The switch is read once per block, for both channels.
    const std::size_t n = Resample(in, frames, on_->load());
    return Finish(n);
}

std::span<const std::int16_t> DspState::Flush() {
    if (!started_ || format_.Wide) return {};
    return Finish(resampler_.Flush(this));
}

std::span<const std::int16_t> DspState::Finish(std::size_t n) {
    const int outCh = format_.OutputChannels;
    Grow(out_, n * static_cast<std::size_t>(outCh));
    if (outCh == 1)
        std::copy_n(resampler_.Output(0), n, out_.data());
    else if (converterChannels_ == 1)
        MonoToStereo(resampler_.Output(0), n, out_.data());
    else
        Interleave(resampler_.Output(0), resampler_.Output(1), n, out_.data());
    const std::size_t samples = n * static_cast<std::size_t>(outCh);
    if (format_.AnalyseOutput) AnalyseBlock(out_.data(), samples * 2, outCh, format_.OutputRate);
    return {out_.data(), samples};
}

std::span<const std::int32_t> DspState::ProcessWide(const std::int32_t* samples,
                                                    std::size_t frames) {
    if (!started_ || !format_.Wide) return {};
    for (auto& p : planar32_) Grow(p, frames);
    Load24(samples, frames, format_.SourceChannels, format_.OutputChannels == 1,
           planar32_[0].data(), planar32_[1].data());
    const std::int32_t* in[2] = {planar32_[0].data(), planar32_[1].data()};
    return FinishWide(wide_->Process(in, frames, on_->load(), this));
}

std::span<const std::int32_t> DspState::FlushWide() {
    if (!started_ || !format_.Wide) return {};
    return FinishWide(wide_->Flush(this));
}

std::span<const std::int32_t> DspState::FinishWide(std::size_t n) {
    const int outCh = format_.OutputChannels;
    const std::size_t samples = n * static_cast<std::size_t>(outCh);
    Grow(out32_, samples);
    Store24(wide_->Output(0), converterChannels_ == 2 ? wide_->Output(1) : nullptr, n, outCh == 2,
            out32_.data());
    // Never a preview: only the position moves, which needs the size alone.
    if (format_.AnalyseOutput)
        analyser_.AnalyseBlock(nullptr, samples * 2, outCh, format_.OutputRate, false, *position_,
                               Analysis);
    return {out32_.data(), samples};
}

}  // namespace tralux::dsp
