#pragma once
#include "mp3enc/bitstream/multiplexer.h"

namespace mp3enc {

// Largest magnitude the escape tables can code (15 + 2^13 - 1).
constexpr int kMaxQuantValue = 8206;

// Bits to code the pairs of absolute values ix[begin..end) with a table (signs included).
int CountPairBits(const int* absIx, int begin, int end, int table);
// Cheapest table for the pairs in [begin, end); its bit count in *bits.
int ChooseTable(const int* absIx, int begin, int end, int* bits);

// Huffman choice of a granule: big_values, count1, regions and tables; returns the part3
// bit count, or -1 when a value is above what any table can code. longBounds are the 23
// long scalefactor band borders (lines) of the stream's rate. Lines from limit on must be 0.
int ChooseHuffman(GranuleInfo& g, const int* absIx, const int* longBounds, bool fullSearch,
                  int limit = 576);

}  // namespace mp3enc
