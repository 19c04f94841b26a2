#pragma once
// Intensity stereo on the coding side: which streams may use it, and the right channel's
// scalefactors of a granule coded with it (positions above the bound, "not intensity" where a
// decoder would otherwise take a band for intensity).
#include "mp3enc/quantize/scalefactor_bands.h"

namespace mp3enc {

// Position of a band that is not coded in intensity (MPEG-1 is_pos 7).
constexpr int kIntensityIllegal = 7;

// Short blocks keep both channels: with intensity in them castanets lost 0.3 to 0.5 ODG and
// hits after silence 0.5 at 64 kbit/s (PEAQ), and no signal gained.
constexpr bool kIntensityInShortBlocks = false;

// Intensity positions of one granule: per scalefactor (22 long bands, or band * 3 + window for
// short blocks), 0..6, or -1 below the bound.
struct IntensityBands {
    int pos[39];
    IntensityBands() {
        for (int& p : pos) p = -1;
    }
};

// Whether a constant-rate stream may code intensity: two channels, MPEG-1 (the only
// scalefactor layout written for it) and at most 96 kbit/s, where the bits it saves in the
// high bands are worth more than the lost stereo image there.
bool IntensityAllowed(int bitRate, int channels, int sampleRate);

// Lowest frequency coded in intensity for a stream (Hz).
float IntensityFromHz(int bitRate, int channels, float bandwidth);

// First band of a granule's intensity region: the lowest band from `lowest` on above which
// every band's channels are alike enough for one waveform to serve both (normalized
// correlation of the lines at least `minCorrelation`; empty bands count as alike); `bands`
// when there is none. eL, eR: the channels' energies per band, eX: that of their sum.
int IntensityBound(const double* eL, const double* eR, const double* eX, int lowest, int bands,
                   double minCorrelation);

// Normalized correlation a stream's intensity bands need.
double IntensityMinCorrelation(int bitRate, int channels);

// The scalefactors to write for a right channel coded with intensity. A decoder starts the
// intensity region right above the highest band holding a nonzero right line, so bands from
// there up to the bound carry kIntensityIllegal and decode as plain (or mid/side) stereo with
// a silent right channel, as coded. Where the left channel's band is silent too, any value
// decodes to silence: those get 0, the cheapest. q, left: the quantized lines of both channels
// in coding order; sf: the loop's scalefactors (21 long or 36 short); out receives as many.
void IntensityScalefactors(const IntensityBands& is, bool isShort, const SfbBounds& sfb,
                           const int* q, const int* left, const int* sf, int* out);

}  // namespace mp3enc
