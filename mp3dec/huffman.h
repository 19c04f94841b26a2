// Table-driven Huffman decoding for Layer III spectral values.
#pragma once

#include <cstdint>
#include <vector>

namespace mp3dec::detail {

// Code words of one table as the standard lists them: codes[x * width + y].
struct HuffSource {
    const uint16_t* codes;
    const uint8_t* lengths;
    int width;
};

// 0..15 big-value tables by number, 16 = table 16 codes, 17 = table 24 codes,
// 18 = quadruple table A, 19 = quadruple table B.
inline constexpr int kHuffSourceCount = 20;
extern const HuffSource kHuffSources[kHuffSourceCount];

// One lookup entry: a leaf gives the symbol and the bits it consumes at this level;
// a link (sub != 0) points at a second-level table indexed by `sub` further bits.
struct HuffEntry {
    uint16_t sym;
    uint8_t len;
    uint8_t sub;
};

struct HuffLookup {
    std::vector<HuffEntry> entries;
    int rootBits = 0;
};

// Big-value table selection: which lookup and how many linbits, per table_select 0..31.
struct HuffSelect {
    int lookup;  // -1 for table 0 (all zero) and for the invalid tables 4 and 14
    int linbits;
};
extern const HuffSelect kHuffSelect[32];

// Decoding structures built once from the code words and never changed afterwards.
const HuffLookup* HuffLookups();

// Checks the code words form a complete prefix code (used by tests).
bool HuffSourceIsComplete(int source);

}  // namespace mp3dec::detail
