#pragma once
// Psychoacoustic model with its analysis front end: per granule and channel it delivers the
// hybrid filterbank spectrum, the block type, the perceptual entropy, the allowed distortion
// per scalefactor band and the frame's stereo decisions.
#include <array>
#include <memory>

#include "mp3enc/config/errors.h"
#include "mp3enc/config/options.h"
#include "mp3enc/config/tuning.h"

namespace mp3enc {

constexpr int kGranuleSamples = 576;

// Block-type codes (Part of the frame format): mixed variants only with the "mixed" option.
enum BlockTypeCode : int {
    kBlockLong = 0,
    kBlockStart = 1,
    kBlockShort = 2,
    kBlockStop = 3,
    kBlockStartMixed = 4,
    kBlockShortMixed = 5,
    kBlockStopMixed = 6,
};

// Intensity position meaning "this band is not coded in intensity".
constexpr int kNoIntensity = -1;
// MPEG-2/2.5 intensity positions assume intensity_scale 1 (steps of 2^-1/2 in amplitude).
constexpr int kIntensityScaleLsf = 1;

struct PsyChannelOutput {
    // Lines to quantize (16-bit PCM scale), cleared above the low-pass line; short blocks in band,
    // window, line order (mixed: 36 long lines first). With M/S on: 0 = mid, 1 = side. Above the
    // intensity bound channel 0 holds the combined signal and channel 1 zeros.
    alignas(16) float spectrum[kGranuleSamples];
    int blockType = kBlockLong;  // 0..6, identical in all channels of a granule
    bool mixed = false;          // blockType is 4, 5 or 6
    float pe = 0;                // bit demand: long PE, or sum of the three short PEs
    float peLong = 0;            // perceptual entropy of the long analysis
    float peShort[3] = {};       // perceptual entropy of each short window
    int longBands = 0;  // long bands carrying xminLong (22; short: 0; mixed: 8 MPEG-1, 6 otherwise)
    float xminLong[kSfbMaxLong] =
        {};  // allowed distortion energy per long band (1 where the band is empty)
    float xminShort[kSfbMaxShort][3] =
        {};  // allowed distortion energy per short band and window (mixed: from band 3)
    float energyLong[kSfbMaxLong] = {};       // energy of spectrum per long band
    float energyShort[kSfbMaxShort][3] = {};  // energy per short band and window
};

struct PsyStereoOutput {
    bool midSide = false;           // frame uses mid/side (held for every granule of the frame)
    bool intensity = false;         // frame uses intensity (held for every granule of the frame)
    int isBoundLong = kSfbMaxLong;  // first long band coded in intensity (22: none)
    int isBoundShort[3] = {kSfbMaxShort, kSfbMaxShort,
                           kSfbMaxShort};  // first short band per window
    int isPosLong[kSfbMaxLong];  // intensity position per long band, kNoIntensity below the bound
    int isPosShort[kSfbMaxShort][3];  // per short band and window
    PsyStereoOutput() {
        for (auto& p : isPosLong) p = kNoIntensity;
        for (auto& r : isPosShort)
            for (auto& p : r) p = kNoIntensity;
    }
};

struct PsyGranuleOutput {
    int channels = 1;
    int granuleInFrame = 0;              // 0 .. granulesPerFrame-1
    std::array<PsyChannelOutput, 2> ch;  // [channel]; with M/S on, 0 = mid and 1 = side
    PsyStereoOutput stereo;
};

struct PsyModelConfig {
    int channels = 2;          // 1 or 2
    int granulesPerFrame = 2;  // 2 at 32000 Hz and above, else 1
    int sampleRate = 44100;    // one of the nine ISO rates
    int bitRate = 128000;      // total bit rate, bit/s
    bool midSide = true;       // mid/side allowed
    bool intensity = false;    // intensity allowed
    float isFromHz = 0;        // lowest frequency coded in intensity; 0: from the bandwidth
    float isMinCorr = -1;      // correlation of the channels an intensity band needs
    float quietLowerDb = 0;    // threshold in quiet this much below the table's
};

class PsyModelImpl;

class PsychoacousticModel {
public:
    // Builds the model; reads its options from the store (may be null). On failure returns
    // null and appends the reason to err.
    static std::unique_ptr<PsychoacousticModel> Create(const PsyModelConfig& config,
                                                       OptionStore* options, ErrorChain* err);
    ~PsychoacousticModel();

    // One granule: planar input, 576 samples per channel (16-bit PCM scale), channel after
    // channel. The output refers to the granule one step behind the input (look-ahead).
    void Advance(const float* samples);
    const PsyGranuleOutput& Output() const;

    const PsyParams& Params() const;  // tables in use (peMin/peMax, shape values, bit spend)
    float Bandwidth() const;          // bandwidth in use, Hz
    // Samples from the start of the input to the matching sample of a decoder's output.
    static constexpr int kDelay = 1633;
    const PsyModelConfig& Config() const;
    // Tonality per long-analysis partition of a channel in the last granule (diagnostics).
    const float* LongTonality(int channel, int* count) const;

private:
    explicit PsychoacousticModel(std::unique_ptr<PsyModelImpl> impl);
    std::unique_ptr<PsyModelImpl> impl_;
};

}  // namespace mp3enc
