#pragma once
// Partition tables of the model (one third of a Bark on the analysis lines), spreading
// weights, and the adaptation tables from partitions to scalefactor bands.
#include <vector>

#include "mp3enc/config/errors.h"
#include "mp3enc/config/tuning.h"

namespace mp3enc {

constexpr int kMaxPartitions = 115;

struct Partition {
    int start = 0;            // first analysis line
    int width = 0;            // lines
    float bark = 0;           // mean of its edge values, at most 24
    int barkInt = 0;          // integer Bark 0..24
    float bmax = 0;           // SNR offset, dB
    float rpre = 0;           // pre-echo ratio
    float quiet = 0;          // threshold in quiet (energy)
    float norm = 0;           // spreading normalization
    float tmn = 0;            // tone masking noise, dB
    float minRatio = 0;       // per-Bark minimum ratio
    bool aboveLimit = false;  // starts at or above the analysis limit
};

struct PartitionTable {
    int count = 0;
    int lowResCount = 0;  // partitions of low spectral resolution (lowest ones)
    int lines = 0;        // analysis lines (512 or 128)
    std::vector<Partition> p;
    // Sparse spreading weights per maskee i: maskers first[i] .. first[i] + num[i] - 1.
    std::vector<int> first, num, offset;
    std::vector<float> weight;
};

bool BuildPartitionTable(const PsyBlockParams& params, int sampleRate, PartitionTable* out,
                         ErrorChain* err);

// Scalefactor band b takes partitions part[begin[b] .. begin[b+1]); quietFft[b] is the
// threshold in quiet over the band's frequency range.
struct AdaptTable {
    int bands = 0;
    std::vector<int> begin;
    std::vector<int> part;
    std::vector<float> quietFft;
};

bool BuildAdaptTable(const PsyBlockParams& params, const PartitionTable& pt, AdaptTable* out,
                     ErrorChain* err);

// Adapted threshold ratio per band: mean of the partitions' ratios, minimum in the lowest
// cbMode bands.
void AdaptRatios(const AdaptTable& at, const float* partRatio, int cbMode, float* bandRatio);

}  // namespace mp3enc
