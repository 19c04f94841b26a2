#include "mp3enc/psycho/block_switch.h"

#include <algorithm>
#include <cmath>

namespace mp3enc {

namespace {

// Subband groups of the controller, lowest first (32 subbands in all).
constexpr int kGroupWidth[kSwitchBands] = {1, 1, 1, 1, 2, 2, 2, 2, 4, 4, 4, 8};

// Rise of a single band over itself and its neighbours in the recent sub-blocks that counts as
// an attack (dB). Quantization noise sits some 15 to 25 dB under a band's level; a band that
// jumps by more than that spreads audible noise before the jump.
constexpr float kBandRiseDb = 20.0f;
// ...and the band must stand this far above its threshold in quiet (dB): the analysis filter's
// leading tail of a loud click after silence already rises 30 to 40 dB, a sub-block before the
// click itself, and must not move the switch a granule early.
constexpr float kBandLoudDb = 45.0f;
// Within three sub-blocks of near silence (every band within this much of its threshold in
// quiet) a rise only counts from this level on: a fade-in rises sub-block by sub-block from far
// below it, and its long blocks spread no audible noise, while a real onset lands well above it.
constexpr float kNearSilenceDb = 30.0f;
constexpr float kOnsetFromSilenceDb = 65.0f;

// The model's threshold-in-quiet curve, with its cap.
double AthDbSpl(double f) {
    const double k = std::max(f, 20.0) / 1000.0;
    return std::min(3.64 * std::pow(k, -0.8) - 6.5 * std::exp(-0.6 * (k - 3.3) * (k - 3.3)) +
                        1e-3 * k * k * k * k,
                    70.0);
}

}  // namespace

BlockSwitch::BlockSwitch(int sampleRate, int blm) : blm_(blm) {
    highRate_ = sampleRate > 24000;
    base_ = sampleRate > 24000 ? 160.0f : sampleRate > 16000 ? 200.0f : 250.0f;
    int sb = 0;
    for (int b = 0; b < kSwitchBands; ++b) {
        // Energy of six slots of a sine at the threshold of hearing in each subband, with
        // full-scale 16-bit PCM at 96 dB SPL.
        double e = 0;
        for (int i = 0; i < kGroupWidth[b]; ++i, ++sb) {
            const double f = (sb + 0.5) * sampleRate / 64.0;
            const double amp = 32768.0 * std::pow(10.0, (AthDbSpl(f) - 96.0) / 20.0);
            e += 6 * amp * amp / 2;
        }
        quietEnergy_[b] = static_cast<float>(e);
        quietLevel_[b] = e > 0 ? static_cast<float>(10 * std::log10(e) - 5) : -130.0f;
    }
    for (auto& v : fifo_)
        for (int b = 0; b < kSwitchBands; ++b) v[b] = quietLevel_[b];
}

bool BlockSwitch::SubBlock(const float* energy) {
    for (int i = 4; i > 0; --i)
        for (int b = 0; b < kSwitchBands; ++b) fifo_[i][b] = fifo_[i - 1][b];
    for (int b = 0; b < kSwitchBands; ++b)
        fifo_[0][b] = energy[b] >= quietEnergy_[b] ? 10.0f * std::log10(energy[b]) : quietLevel_[b];
    bool attack = false;
    for (int k = 1; k <= sinceAttack_ && !attack; ++k) {
        float rise = 0;
        for (int b = 0; b < kSwitchBands; ++b)
            rise += std::max(0.0f, fifo_[0][b] - fifo_[k][b]) * kGroupWidth[b] / 6.0f;
        if (rise > base_ + 50.0f * (k - 1)) attack = true;
    }
    // A narrow attack (a click over steady tones, a struck resonance) raises a few bands far above
    // what they and their neighbours held just before; the summed rise above misses it when the
    // rest of the spectrum is steady, and its pre-echo is audible all the same.
    bool nearSilence = false;
    for (int k = 1; k <= sinceAttack_ && !nearSilence; ++k) {
        bool quiet = true;
        for (int b = 0; b < kSwitchBands; ++b)
            quiet = quiet && fifo_[k][b] < quietLevel_[b] + kNearSilenceDb;
        nearSilence = quiet;
    }
    for (int b = 0; b < kSwitchBands && !attack && sinceAttack_ > 0; ++b) {
        float before = -1e9f;
        for (int k = 1; k <= sinceAttack_; ++k)
            for (int n = std::max(0, b - 1); n <= std::min(kSwitchBands - 1, b + 1); ++n)
                before = std::max(before, fifo_[k][n]);
        const float loud = nearSilence ? kOnsetFromSilenceDb : kBandLoudDb;
        if (fifo_[0][b] - before > kBandRiseDb && fifo_[0][b] > quietLevel_[b] + loud)
            attack = true;
    }
    bool decay = false;
    for (int k = 1; k <= sinceDecay_ && !decay; ++k) {
        float fall = 0;
        for (int b = 0; b < kSwitchBands; ++b)
            fall += std::max(0.0f, fifo_[k][b] - fifo_[0][b]) * kGroupWidth[b] / 6.0f;
        if (fall > 200.0f) decay = true;
    }
    if (attack) {
        sinceAttack_ = 0;
        prevSubAttack_ = true;
    } else {
        sinceAttack_ = std::min(sinceAttack_ + 1, 3);
    }
    sinceDecay_ = decay ? 0 : std::min(sinceDecay_ + 1, 2);
    if (!attack && !decay) prevSubAttack_ = false;
    return attack;
}

int BlockSwitch::Analyse(const float sb[kSubbands][kSlotsPerGranule]) {
    bool sub[3];
    for (int s = 0; s < 3; ++s) {
        float energy[kSwitchBands];
        int band = 0;
        for (int b = 0; b < kSwitchBands; ++b) {
            double e = 0;
            for (int i = 0; i < kGroupWidth[b]; ++i, ++band)
                for (int t = 6 * s; t < 6 * s + 6; ++t) e += double(sb[band][t]) * sb[band][t];
            energy[b] = static_cast<float>(e);
        }
        sub[s] = SubBlock(energy);
    }
    bool attack = sub[0] || sub[1] || prevSub_[2];
    if (highRate_) attack = attack || sub[2] || prevSub_[1];
    const bool prevAttack = prevGranuleAttack_;
    for (int s = 0; s < 3; ++s) prevSub_[s] = sub[s];
    prevGranuleAttack_ = attack;

    if (blm_ == 1) return 0;
    if (blm_ == 2) return 2;
    const int p = prevType_;
    if (attack) return (p == 0 || p == 3) ? 1 : 2;
    if (p == 1) return 2;  // a start is always followed by a short block
    if (prevAttack && p == 2) return 2;
    if (p == 2) return 3;
    return 0;
}

int JointBlockType(int soFar, int channelType) {
    static constexpr int kTable[4][4] = {
        {0, 1, 2, 3},
        {1, 1, 2, 2},
        {2, 2, 2, 2},
        {3, 2, 2, 3},
    };
    return kTable[soFar & 3][channelType & 3];
}

int ToMixed(int type) {
    return (type >= 1 && type <= 3) ? type + 3 : type;
}

}  // namespace mp3enc
