#pragma once
// Constant tuning tables of the encoder (stream parameter rows, codParam, thrParam, sfbParam)
// and the per-stream parameter set built from them with the options applied.
#include <span>

#include "mp3enc/config/errors.h"
#include "mp3enc/config/options.h"

namespace mp3enc {

// ---- Stream parameter rows (configuration list and stream-parameter check) ----
struct StreamParamRow {
    int bitRateBelow;   // upper bit-rate limit (exclusive), bit/s
    int lowestRate;     // lowest sample rate, Hz (0: invalid row)
    int preferredRate;  // preferred sample rate, Hz (0: bit rate invalid for this mode)
    int highestRate;    // highest sample rate, Hz
    int intensity;      // intensity stereo allowed
    int midSide;        // mid/side stereo allowed
    int fullSearch;     // full Huffman search
};
// Rows for mono (channels == 1) or stereo (otherwise), in table order.
std::span<const StreamParamRow> StreamParamRows(int channels);
// First row whose upper limit exceeds the bit rate, or null.
const StreamParamRow* FindStreamParamRow(int channels, int bitRate);

// The nine ISO sample rates, ascending.
std::span<const int> IsoSampleRates();
bool IsIsoSampleRate(int rate);

// ---- codParam ----
constexpr int kCodSetSize = 13;
// Indices into a codParam block set.
enum CodIndex : int {
    kCodBandwidth = 0,
    kCodPeMin = 1,
    kCodPeMax = 2,
    kCodShape0 = 3,
    kCodMinBitSp = 9,
    kCodMaxBitSp = 10
};
struct CodParamRow {
    int bitRateLow;         // per-channel bit rate, inclusive
    int bitRateHigh;        // per-channel bit rate, exclusive
    int sampleRateLow;      // inclusive
    int sampleRateHigh;     // inclusive
    float stereoBandwidth;  // Hz
    float longSet
        [kCodSetSize];  // [0] mono bandwidth, [1] peMin, [2] peMax, [3..8] shape, [9] minBitSp, [10] maxBitSp
    float shortSet[kCodSetSize];  // same layout for short blocks
};
std::span<const CodParamRow> CodParamRows();  // 38 rows

// ---- thrParam ----
constexpr int kThrSetSize = 121;
// Named indices into a thrParam block set.
enum ThrIndex : int {
    kThrToneLimitFreq = 0,  // Hz
    kThrAth0 = 1,           // reference level of the threshold in quiet (dB)
    kThrAth = 2,            // [2..26] threshold in quiet per Bark 0..24 (dB)
    kThrBmax = 27,          // [27..51] per-Bark SNR offset (dB)
    kThrNoLowSpread = 52,   // nonzero: no spreading towards lower frequencies
    kThrHole = 53,          // 0: hole in the spreading function on; nonzero: off
    kThrMaskLow = 54,
    kThrMaskHigh = 55,
    kThrMinRatio = 58,  // [58..82] per-Bark minimum ratio x 100
    kThrTmn = 83,       // dB
    kThrTmnBase = 84,   // TMN per partition = min/max(TMN, [84] + [85] * z)
    kThrTmnSlope = 85,
    kThrNmt = 86,           // dB
    kThrChaosDefault = 87,  // chaos of lines without a usable prediction
    kThrFixedSnr = 90,      // SNR (dB) above the analysis limit
    kThrRpmin = 91,
    kThrRpre = 92,    // [92..116] pre-echo ratio per Bark
    kThrRpre2 = 117,  // factor on the threshold two blocks back
    kThrCbMode = 118,
    kThrChaosMethod = 119,
    kThrToneCombLimitFreq = 120,
};
struct ThrParamRow {
    int bitRateLow;   // per-channel bit rate, inclusive
    int bitRateHigh;  // inclusive
    float longSet[kThrSetSize];
    float shortSet[kThrSetSize];
};
std::span<const ThrParamRow> ThrParamRows();  // ten rows

// ---- sfbParam ----
constexpr int kSfbMaxLong = 22;
constexpr int kSfbMaxShort = 13;
struct SfbTable {
    int lineCount = 0;                // 576 long, 192 short
    int bandCount = 0;                // 22 long, 13 short
    int highestLine = 0;              // highest coded line (start of the last band)
    int width[kSfbMaxLong] = {};      // band widths in lines
    int start[kSfbMaxLong + 1] = {};  // band starts; start[bandCount] == lineCount
    bool operator==(const SfbTable&) const = default;
};

// Block kinds of the lookups: 0 long, 2 short (1 and 3 read the long tables).
// Each returns false and appends the module's message on failure.
bool GetSfbParam(int sampleRate, int blockKind, SfbTable* out, ErrorChain* err);
bool GetThrParam(int bitRatePerChannel, bool stereo, int blockKind, float out[kThrSetSize],
                 ErrorChain* err);
bool GetCodParam(int bitRatePerChannel, int sampleRate, bool stereo, int blockKind,
                 float out[kCodSetSize], ErrorChain* err);

// ---- Parameter set of one block kind with options applied and derived limits ----
struct PsyBlockParams {
    float thr[kThrSetSize] = {};  // thrParam set (options applied)
    float cod[kCodSetSize] = {};  // codParam set (options applied)
    SfbTable sfb;                 // scalefactor bands (highest line possibly raised)
    int lines = 576;              // coding lines: 576 long, 192 short
    int spectrumLines = 512;      // model lines: 512 long, 128 short
    float bandwidth = 0;          // Hz
    int lowpassLine = 0;          // coding lines at and above are cleared
    int analysisLimit = 0;        // model lines analysed
    int toneLimit = 0;            // model lines with tonality measured
    int combLimit = 0;            // model lines of the peak filter in chaos method 4
    int chaosMethod = 0;
    int cbMode = 0;
    int peMin = 0, peMax = 0;
    float minBitSp = 0, maxBitSp = 0;
    float shape[6] = {};  // the six bit-reservoir shape values
    bool operator==(const PsyBlockParams&) const = default;
};

struct PsyParams {
    int sampleRate = 0;
    int bitRatePerChannel = 0;
    bool stereo = false;
    PsyBlockParams lng;   // long blocks
    PsyBlockParams shrt;  // short blocks
    // Flags read from the option store.
    bool lpAdjust = false, noBmax = false, noCmdct = false, cst = false, preNoTone = false;
    bool mixed = false, starving = false;
    int blm = 0;  // 0 automatic, 1 only long, 2 only short
};

// Looks up all tables, applies the options of the store (may be null or closed) and
// computes the derived limits. False with the error appended when a lookup fails.
bool BuildPsyParams(OptionStore* options, int sampleRate, int bitRatePerChannel, bool stereo,
                    PsyParams* out, ErrorChain* err);

// Bark value of a frequency in Hz.
double BarkOf(double hz);

}  // namespace mp3enc
