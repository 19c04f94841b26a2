#pragma once
// Block-switching controller: attack detection on the subband signal and window-type
// sequencing per channel, the joint decision across channels and the mixed conversion.
#include "mp3enc/filterbank/polyphase.h"

namespace mp3enc {

constexpr int kSwitchBands = 12;

class BlockSwitch {
public:
    // blm: 0 automatic, 1 only long, 2 only short.
    BlockSwitch(int sampleRate, int blm);
    // Analyses the newest granule of subband samples (three sub-blocks of six slots) and
    // returns the channel's window type (0..3) for the granule before it.
    int Analyse(const float sb[kSubbands][kSlotsPerGranule]);
    // The window type that was finally used (after the joint decision), before mixing.
    void SetUsedType(int type) { prevType_ = type; }
    bool lastGranuleAttack() const { return prevGranuleAttack_; }
    float quietLevel(int band) const { return quietLevel_[band]; }

private:
    bool SubBlock(const float* energy);
    int blm_;
    bool highRate_;
    float base_;
    float quietLevel_[kSwitchBands];
    float quietEnergy_[kSwitchBands];
    float fifo_[5][kSwitchBands];  // [0] newest
    int sinceAttack_ = 3;
    int sinceDecay_ = 2;
    bool prevSubAttack_ = false;
    bool prevGranuleAttack_ = false;
    bool prevSub_[3] = {false, false, false};
    int prevType_ = 0;
};

// Folds one channel's type into the types so far (start from long).
int JointBlockType(int soFar, int channelType);
// With the mixed option: start -> 4, short -> 5, stop -> 6.
int ToMixed(int type);

}  // namespace mp3enc
