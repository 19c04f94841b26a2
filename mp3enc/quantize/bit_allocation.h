#pragma once

namespace mp3enc {

// Shape of the bit-reservoir control for one block kind.
struct ReservoirShape {
    float s[6];      // fullness shape values S1..S6
    float minBitSp;  // spend limits
    float maxBitSp;
    float peMin;  // initial perceptual-entropy window
    float peMax;
};

ReservoirShape DefaultLongShape(float peMin, float peMax);
ReservoirShape DefaultShortShape(float peMin, float peMax);

// Splits a frame's bits over its granules and channels from their perceptual entropy,
// drawing on or saving into the reservoir; the entropy window follows the signal.
class BitAllocator {
public:
    void Init(const ReservoirShape& longShape, const ReservoirShape& shortShape);
    // pe[gr][ch], isShort[gr][ch]; joint[gr]: channels coded jointly share their demand.
    // mainDataBits: frame bits less header and side information; frameBudget: what the
    // granules may use; resInUse / resFree from the frame setup. Fills budgets[gr][ch].
    void Allocate(int granules, int channels, const float pe[2][2], const bool isShort[2][2],
                  const bool joint[2], int mainDataBits, int frameBudget, int resInUse, int resFree,
                  int budgets[2][2]);
    float peMin(bool isShort) const { return w_[isShort].peMin; }
    float peMax(bool isShort) const { return w_[isShort].peMax; }

private:
    float Fraction(const ReservoirShape& sh, float demand, float fill) const;
    void Adapt(ReservoirShape& sh, float demand, float weight, int resFree);
    ReservoirShape w_[2];
};

}  // namespace mp3enc
