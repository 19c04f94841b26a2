#pragma once
// Per-channel thresholds: chaos measure, partition energies, spreading, tonality, SNR,
// threshold, two-stage pre-echo control and perceptual entropy, for the long analysis and
// the three short windows of a granule.
#include <vector>

#include "mp3enc/config/tuning.h"
#include "mp3enc/psycho/partitions.h"

namespace mp3enc {

// Chaos (unpredictability) per line, 0 (predictable) .. 1. cur/prev1/prev2 are complex
// spectra (re, im) of the current and the two earlier transforms. Lines from toneLimit up,
// and lines where any of the three energies is at most 1e-6, take defaultValue. An unknown
// method is an internal fault.
void CalculateChaosMeasure(int method, const float* re0, const float* im0, const float* re1,
                           const float* im1, const float* re2, const float* im2, int lines,
                           int toneLimit, int combLimit, float defaultValue, float* chaos);

// Perceptual entropy of partitions with energy e and threshold thr.
float PerceptualEntropy(const PartitionTable& pt, const float* e, const float* thr);

// One analysis (long or one short window): partition energies, thresholds and PE.
struct BlockThresholds {
    std::vector<float> e;     // partition energy
    std::vector<float> thr;   // threshold after pre-echo control
    std::vector<float> tone;  // tonality 0 (noise) .. 1 (tone)
    float pe = 0;
};

class ThresholdChannel {
public:
    void Init(const PsyParams& params, const PartitionTable* longPt, const PartitionTable* shortPt);
    // re/im: the long spectrum (512 lines) and the three short ones (128 lines each).
    void Process(const float* longRe, const float* longIm, const float* const shortRe[3],
                 const float* const shortIm[3]);
    const BlockThresholds& Long() const { return long_; }
    const BlockThresholds& Short(int w) const { return short_[w]; }

private:
    struct Fifo {
        std::vector<float> re[3], im[3];  // [0] newest
        void Init(int n);
        void Push(const float* re, const float* im, int n);
    };
    void Block(const PsyBlockParams& prm, const PartitionTable& pt, const Fifo& f,
               std::vector<float>& nb1, std::vector<float>& nb2, BlockThresholds* out);

    const PsyParams* params_ = nullptr;
    const PartitionTable* lpt_ = nullptr;
    const PartitionTable* spt_ = nullptr;
    Fifo longFifo_, shortFifo_;
    std::vector<float> longNb1_, longNb2_, shortNb1_, shortNb2_;
    std::vector<float> chaos_, c_, ecb_, ctb_, nb_, nbPre_;
    BlockThresholds long_, short_[3];
};

}  // namespace mp3enc
