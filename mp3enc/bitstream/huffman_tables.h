#pragma once
#include <cstdint>

namespace mp3enc {

// One big-value table: xlen x xlen pairs (values above 15 escape with linbits).
struct HuffTable {
    int xlen;  // 0 for the unused tables 0, 4 and 14
    int linbits;
    const uint16_t* codes;  // index x * xlen + y
    const uint8_t* lens;
};

extern const HuffTable kHuffTables[32];
// count1 table A (variable length); table B codes each quadruple in 4 bits as 15 - index.
extern const uint16_t kCount1CodeA[16];
extern const uint8_t kCount1LenA[16];

}  // namespace mp3enc
