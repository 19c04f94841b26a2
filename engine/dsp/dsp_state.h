#pragma once
// The per-job signal stage between the source loops and the sink: 8- to 16-bit widening,
// channel mixing, rate conversion with the equalizer (at 24 bits for deep sources), and the analysis that advances the
// position and feeds the preview display. One DspState per job (or one reused from job to
// job); it is about 150 KB, so keep it on the heap.
//
// How the job drives it (ProcessBlock / FlushPipeline):
//   job start, once the output rate and channels are known:
//       dsp.ResetAnalysis();  dsp.Position().store(0.0);
//       dsp.ResamplerStart({SampleRate, Channels, BitsPerSample, OutputRate, OutputChannels,
//                           /*Preview=*/OutputMode == 0});          // builds the equalizer too
//       (construct the DspState with DspLinks{&e.EqualizerOn, &e.EqualizerLevels,
//        &e.EqualizerChanged, &e.PositionMs} so the user interface's fields are the ones read)
//   source loop sets the start position when it seeks:  dsp.Position().store(StartMs);
//   ProcessBlock, after the StopRequested check, for every block of input PCM as read:
//       auto out = dsp.Process(block, byteCount);  // the block as read: no mixing beforehand;
//                                                  // also runs AnalyseBlock (do not repeat it,
//                                                  // nor advance PositionMs elsewhere)
//       if (!out.empty()) EmitBlock(out.data() as bytes, out.size_bytes());
//   FlushPipeline (harmless to call twice; the second call gets nothing):
//       auto tail = dsp.Flush();                   // also runs AnalyseBlock over the tail
//       if (!tail.empty()) EmitBlock(...);
//       dsp.ResamplerFree();
//   job end: dsp.ResetAnalysis().
// The returned spans stay valid until the next Process/Flush/ResamplerFree call.
// Deep sources (Wide): ProcessWide and FlushWide instead, on full-range 32-bit samples; the
// stage carries 24 bits throughout (never for a preview).
// ResamplerStart throws std::invalid_argument for a rate of 0, channels other than 1 or 2 or
// bits other than 8 or 16: reject such inputs before (unknown format). Everything but the
// controls belongs to the worker thread; the user interface only writes EqualizerOn, the
// levels and EqualizerChanged, and reads PositionMs and the Analysis tables.
#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "engine/dsp/analysis.h"
#include "engine/dsp/equalizer.h"
#include "engine/dsp/pcm.h"
#include "engine/dsp/resampler.h"

namespace tralux::dsp {

struct DspFormat {
    std::uint32_t SourceRate = 44100;
    std::uint16_t SourceChannels = 2;  // 1 or 2
    std::uint16_t BitsPerSample = 16;  // 8 (unsigned) or 16 (signed little-endian)
    std::uint32_t OutputRate = 44100;
    std::uint16_t OutputChannels = 2;  // 1 or 2
    bool Preview = false;              // analyse for the display; otherwise only the position moves
    // Process and Flush run AnalyseBlock over their output (advancing the position). Off: the
    // caller calls AnalyseBlock itself before emitting.
    bool AnalyseOutput = true;
    // Samples come through ProcessWide and keep 24 bits (BitsPerSample is not used).
    bool Wide = false;
};

// Controls the user interface writes while a job runs. A null pointer means the DspState's
// own member of the same name; point them at the job state's fields to share those instead.
struct DspLinks {
    std::atomic<bool>* EqualizerOn = nullptr;
    std::array<std::atomic<int>, kEqualizerLevels>* EqualizerLevels = nullptr;
    std::atomic<bool>* EqualizerChanged = nullptr;
    std::atomic<double>* PositionMs = nullptr;
};

class DspState : private EqualizerSource {
public:
    DspState();
    explicit DspState(const DspLinks& links);
    DspState(const DspState&) = delete;
    DspState& operator=(const DspState&) = delete;
    ~DspState() override;

    // Own controls (used unless linked elsewhere). Levels: ten bands low to high, then master.
    std::atomic<bool> EqualizerOn{false};
    std::array<std::atomic<int>, kEqualizerLevels> EqualizerLevels;
    std::atomic<bool> EqualizerChanged{false};
    std::atomic<double> PositionMs{0.0};
    AnalysisTables Analysis;

    std::atomic<bool>& EqualizerSwitch() { return *on_; }
    std::array<std::atomic<int>, kEqualizerLevels>& Levels() { return *levels_; }
    std::atomic<bool>& ChangeRequest() { return *changed_; }
    std::atomic<double>& Position() { return *position_; }
    const DspFormat& Format() const { return format_; }

    // Prepares the converter for a job and builds the equalizer response.
    void ResamplerStart(const DspFormat& format);
    // Low level: count 16-bit samples for each converter channel (one channel when the output
    // is mono or the input is mono, else two), with the switch value taken once for all.
    // Returns output samples per channel, read through ResampledChannel().
    std::size_t Resample(const std::int16_t* const* channels, std::size_t count, bool equalizerOn);
    const std::int16_t* ResampledChannel(int ch) const { return resampler_.Output(ch); }
    // Frees the converter's buffers; harmless when repeated or after a job that never started.
    void ResamplerFree();

    // Reads the levels, rebuilds the response and master gain, clears EqualizerChanged.
    void BuildEqualizerResponse();
    const EqualizerResponseTable& EqualizerResponse() const { return response_; }
    float EqualizerGain() const { return gain_; }

    void ResetAnalysis();
    void AnalyseBlock(const std::int16_t* samples, std::size_t byteCount, int channels,
                      std::uint32_t rate);

    // The ProcessBlock stage: one block of input PCM (whole frames of the source format) to
    // interleaved 16-bit PCM at the output rate and channel count. Mixes stereo to mono before
    // converting, converts mono once and doubles it for stereo output. Runs AnalyseBlock over
    // the result (unless AnalyseOutput is off). Empty before ResamplerStart and after Flush.
    std::span<const std::int16_t> Process(const std::uint8_t* block, std::size_t byteCount);
    // Drains everything still held (the last frame padded with silence); the job's output then
    // lasts ceil(input frames * OutputRate / SourceRate) frames. Runs AnalyseBlock over it
    // (unless AnalyseOutput is off).
    // A second call returns nothing.
    std::span<const std::int16_t> Flush();

    // The same for a Wide format: interleaved full-range 32-bit frames in, full-range 32-bit
    // samples out (the low byte zero). The position advances; nothing is analysed for display.
    std::span<const std::int32_t> ProcessWide(const std::int32_t* samples, std::size_t frames);
    std::span<const std::int32_t> FlushWide();

private:
    void RefreshIfChanged() override;
    const EqualizerResponseTable& Response() const override { return response_; }
    float Gain() const override { return gain_; }
    std::span<const std::int16_t> Finish(std::size_t perChannel);
    std::span<const std::int32_t> FinishWide(std::size_t perChannel);
    template <class T>
    static void Grow(std::vector<T>& v, std::size_t n) {
        if (v.size() < n) v.resize(n);
    }

    std::atomic<bool>* on_;
    std::array<std::atomic<int>, kEqualizerLevels>* levels_;
    std::atomic<bool>* changed_;
    std::atomic<double>* position_;

    DspFormat format_{};
    bool started_ = false;
    int converterChannels_ = 1;
    Resampler resampler_;
    Analyser analyser_;
    EqualizerResponseTable response_{};
    float gain_ = 1.0f;
    std::vector<std::uint8_t> mixed8_;
    std::array<std::vector<std::int16_t>, 2> planar_;
    std::vector<std::int16_t> out_;
    std::unique_ptr<WideResampler> wide_;  // only while a deep source runs
    std::array<std::vector<std::int32_t>, 2> planar32_;
    std::vector<std::int32_t> out32_;
};

}  // namespace tralux::dsp
