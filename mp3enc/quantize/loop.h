#pragma once
#include <cstdint>
#include <vector>

#include "mp3enc/bitstream/multiplexer.h"
#include "mp3enc/quantize/scalefactor_bands.h"
#include "mp3enc/stereo/intensity.h"

namespace mp3enc {

struct LoopOptions {
    int amp = 1;       // amplify mode 0..3
    bool hfs = false;  // full Huffman search in the final pass
    int mol = 400;     // maximum outer loops
    int itm = 2;       // iteration groups 0..3
    // Best pass by the summed excess of noise over the allowed distortion (dB over all bands)
    // instead of the largest single ratio: what one distorted band costs is weighed against
    // how much the others gain.
    bool compareExcess = false;
    // With per-granule groups (itm 2), a frame coded left/right gives each channel its own
    // group and budget: channels of different content no longer share one quantizer step.
    bool leftRightApart = false;
    // The same with one group per frame (itm 3): each channel loops over its granules.
    bool leftRightApartFrame = false;
    // Passes after the best one before the outer loop gives up on turning round.
    int passesPastBest = 4;
    // Above 0, the outer loop also tries a start from scalefactors shaped by the allowed noise:
    // each band's step moves this fraction of the way from the flat one to the step at which
    // every band would be as far over its allowed noise as the others (1: all the way).
    float shapeDepth = 0.0f;
};

// Quantization and rate/distortion loops for one stream, one frame at a time.
class LoopKernel {
public:
    bool Create(int sampleRate, int channels, const LoopOptions& opt);
    int granules() const { return granules_; }

    // Prepares one granule and channel. xr: 576 lines in coding order (short blocks band,
    // window, line). xmin: allowed distortion energy per band: 22 long bands, or 13 x 3
    // short band-windows (band * 3 + window). blockType 0..3.
    void Prepare(int gr, int ch, int blockType, const float* xr, const float* xmin);

    // Codes a prepared right channel with intensity positions (null: without).
    void SetIntensity(int gr, int ch, const IntensityBands* is);

    // Runs the loops over the prepared frame. budgets[gr][ch] are the bit budgets;
    // frameMaxBits is the hard ceiling for all main data of the frame; leftRight: the frame
    // is coded left/right (not mid/side).
    void RunFrame(const int budgets[2][2], int frameMaxBits, CodedFrame& out,
                  bool leftRight = false);

    // Statistics of the last frame (for tests).
    int lastOuterPasses() const { return lastOuter_; }
    int startStep(int gr, int ch) const { return m_[gr][ch].startStep; }

private:
    struct Unit {
        int start, width, sfIndex, pretab, cap;
    };
    struct Member {
        int blockType = 0;
        bool isShort = false;
        float xr34[576];
        float absx[576];
        uint8_t neg[576];  // 1 where the line is negative (bytes so that Prepare vectorizes)
        int nz = 0;        // lines up to the last non-zero one
        std::vector<Unit>* units = nullptr;
        float xmin[39];
        int startStep = 0;
        int step = 0;
        int sf[39] = {};
        int preflag = 0;
        int sfScale = 0;  // scalefac_scale: a scalefactor step is 2 (0) or 4 (1) quarter steps
        bool preflagUsed = false;
        bool canAmplify = true;
        int q[576];
        // Quantizer step (k) each unit was last quantized with, and whether it overflowed.
        int qK[39];
        bool qOver[39];
        int dK[39];  // step of each unit's last noise sum, and that sum
        float dNoise[39];
        bool countValid = false, distValid = false;  // part3 and the distortion match q
        bool overflow = false;
        int part2 = 0, part3 = 0;
        bool intensity = false;
        IntensityBands isBands;
        const int* isLeft = nullptr;  // the left channel's quantized lines
        float nmr[39] = {};
        float maxNmr = 0, meanDistNmr = 0;
        float excessDb = 0;  // sum over distorted bands of 10 log10(NMR)
        int nDist = 0, nBands = 0;
        int budget = 0;
        // best result
        int bestStep = 0, bestSf[39] = {}, bestPreflag = 0, bestSfScale = 0;
    };

    void Quantize(Member& m);
    void Forget(Member& m);  // q no longer matches qK (lines or values replaced)
    int Part2Bits(const Member& m, GranuleInfo* g) const;
    int CountBits(Member& m);
    void Distortion(Member& m);
    bool Amplify(Member& m);
    void Finish(Member& m, GranuleInfo& g, bool fullSearch);
    void RateLoop(std::vector<Member*>& grp, int budget, bool& frameDone);
    int AllowedStep(const Member& m, const Unit& u, float xmin) const;
    void ShapeStart(std::vector<Member*>& grp, int start, float depth);

    int rate_ = 44100, version_ = 0, channels_ = 2, granules_ = 2;
    LoopOptions opt_;
    const SfbBounds* sfb_ = nullptr;
    std::vector<Unit> longUnits_, shortUnits_;
    Member m_[2][2];
    GranuleInfo countScratch_;
    int lastOuter_ = 0;
};

}  // namespace mp3enc
