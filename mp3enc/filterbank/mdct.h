#pragma once
// MDCT stage of the hybrid filterbank: the forward transform that the standard's hybrid
// synthesis inverts, for every block type, with the aliasing-reduction butterflies.
#include "mp3enc/filterbank/polyphase.h"

namespace mp3enc {

// Window of one block type (0 long, 1 start, 2 short (12 taps), 3 stop) as the standard
// defines it for the inverse transform.
const float* ImdctWindow(int blockType);
// Aliasing-reduction coefficients cs[i], ca[i], i = 0..7.
const float* AliasCs();
const float* AliasCa();

// Negates odd slots of odd subbands (the synthesis inverts them back).
void FrequencyInversion(float sb[kSubbands][kSlotsPerGranule]);

// Transforms the 36 subband samples per subband (prev = older granule, cur = newer) into 576
// lines. blockType 0..6. Long blocks come out as 18 lines per subband with the butterflies
// applied; short windows as out[18 sb + 6 w + k] (k: line within the window), with the
// lowest two subbands long for the mixed short type.
void HybridMdct(const float prev[kSubbands][kSlotsPerGranule],
                const float cur[kSubbands][kSlotsPerGranule], int blockType, float out[576]);

// Reorders short-window lines from out[18 sb + 6 w + k] into band, window, line order using
// short band starts (per window, 14 entries); bands below firstBand keep their place.
void ReorderShort(const float* in, const int* shortStart, int firstBand, float* out);

}  // namespace mp3enc
