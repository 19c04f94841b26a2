#include "mp3enc/bitstream/huffman_coder.h"

#include <algorithm>
#include <climits>
#include <cstdint>

#include "mp3enc/bitstream/huffman_tables.h"
#include "mp3enc/config/wide_clones.h"

namespace mp3enc {

int CountPairBits(const int* ix, int begin, int end, int table) {
    const HuffTable& t = kHuffTables[table];
    if (t.xlen == 0) {
        for (int i = begin; i < end; ++i)
            if (ix[i]) return INT_MAX / 4;
        return 0;
    }
    int bits = 0;
    if (t.linbits) {
        for (int i = begin; i < end; i += 2) {
            int x = ix[i], y = ix[i + 1];
            int cx = x, cy = y;
            if (cx >= 15) {
                cx = 15;
                bits += t.linbits;
            }
            if (cy >= 15) {
                cy = 15;
                bits += t.linbits;
            }
            bits += t.lens[cx * 16 + cy] + (x != 0) + (y != 0);
        }
    } else {
        for (int i = begin; i < end; i += 2) {
            int x = ix[i], y = ix[i + 1];
            if (x >= t.xlen || y >= t.xlen) return INT_MAX / 4;
            bits += t.lens[x * t.xlen + y] + (x != 0) + (y != 0);
        }
    }
    return bits;
}

namespace {

// Candidate tables of one magnitude class, counted in a single pass: each pair's code length
// (signs included) for up to four tables packed into 16-bit fields of one word. A region holds
// at most 288 pairs of at most 21 bits, so no field overflows into the next.
struct PackedClass {
    int tables[4] = {-1, -1, -1, -1};
    int n = 0;
    uint64_t lens[256] = {};
};

struct PackedClasses {
    PackedClass c[7];
    PackedClasses() {
        const int sets[7][3] = {{1, -1, -1},  {2, 3, -1},   {5, 6, -1},  {7, 8, 9},
                                {10, 11, 12}, {13, 15, -1}, {16, 24, -1}};
        for (int k = 0; k < 7; ++k) {
            PackedClass& pc = c[k];
            for (int j = 0; j < 3 && sets[k][j] >= 0; ++j) pc.tables[pc.n++] = sets[k][j];
            for (int x = 0; x < 16; ++x)
                for (int y = 0; y < 16; ++y) {
                    uint64_t v = 0;
                    for (int j = 0; j < pc.n; ++j) {
                        const HuffTable& t = kHuffTables[pc.tables[j]];
                        if (x >= t.xlen || y >= t.xlen) continue;
                        uint64_t len = t.lens[x * t.xlen + y] + (x != 0) + (y != 0);
                        v |= len << (16 * j);
                    }
                    pc.lens[x * 16 + y] = v;
                }
        }
    }
};

const PackedClasses& Packed() {
    static const PackedClasses p;
    return p;
}

}  // namespace

MP3ENC_WIDE_CLONES
int ChooseTable(const int* ix, int begin, int end, int* bits) {
    int mx = 0;
    for (int i = begin; i < end; ++i) mx = std::max(mx, ix[i]);
    if (mx == 0) {
        *bits = 0;
        return 0;
    }
    const int k = mx == 1    ? 0
                  : mx == 2  ? 1
                  : mx == 3  ? 2
                  : mx <= 5  ? 3
                  : mx <= 7  ? 4
                  : mx <= 15 ? 5
                             : 6;
    const PackedClass& pc = Packed().c[k];
    uint64_t sum = 0;
    int best = -1, bestBits = INT_MAX;
    if (k < 6) {
        for (int i = begin; i < end; i += 2) sum += pc.lens[(ix[i] << 4) + ix[i + 1]];
        for (int j = 0; j < pc.n; ++j) {
            int b = static_cast<int>((sum >> (16 * j)) & 0xffff);
            if (b < bestBits) {
                bestBits = b;
                best = pc.tables[j];
            }
        }
    } else {
        // Escape tables: one length table per group of eight; only linbits differ.
        int escapes = 0;
        for (int i = begin; i < end; i += 2) {
            int x = ix[i], y = ix[i + 1];
            escapes += (x >= 15) + (y >= 15);
            sum += pc.lens[(std::min(x, 15) << 4) + std::min(y, 15)];
        }
        const int need = mx - 15;
        for (int j = 0; j < 2; ++j) {
            int t = -1;
            for (int c = 16 + 8 * j; c < 24 + 8 * j; ++c)
                if ((1 << kHuffTables[c].linbits) > need) {
                    t = c;
                    break;
                }
            if (t < 0) continue;
            int b = static_cast<int>((sum >> (16 * j)) & 0xffff) + escapes * kHuffTables[t].linbits;
            if (b < bestBits) {
                bestBits = b;
                best = t;
            }
        }
    }
    if (best < 0) {
        *bits = INT_MAX / 4;
        return 0;
    }
    *bits = bestBits;
    return best;
}

MP3ENC_WIDE_CLONES
int ChooseHuffman(GranuleInfo& g, const int* ix, const int* bounds, bool fullSearch, int limit) {
    int i = std::clamp(limit + (limit & 1), 0, 576);
    while (i > 1 && ix[i - 1] == 0 && ix[i - 2] == 0) i -= 2;
    int mx = 0;
    for (int k = 0; k < i; ++k) mx = std::max(mx, ix[k]);
    if (mx > kMaxQuantValue) return -1;
    // count1 region: quadruples of values 0/1 at the end of the coded part.
    int j = i;
    while (j >= 4 && ix[j - 1] <= 1 && ix[j - 2] <= 1 && ix[j - 3] <= 1 && ix[j - 4] <= 1) j -= 4;
    int bitsA = 0, bitsB = 0;
    for (int k = j; k < i; k += 4) {
        int idx = (ix[k] << 3) | (ix[k + 1] << 2) | (ix[k + 2] << 1) | ix[k + 3];
        int signs = ix[k] + ix[k + 1] + ix[k + 2] + ix[k + 3];
        bitsA += kCount1LenA[idx] + signs;
        bitsB += 4 + signs;
    }
    g.count1table_select = bitsB < bitsA ? 1 : 0;
    int bits = std::min(bitsA, bitsB);
    g.count1End = i;
    g.big_values = j / 2;
    int bigEnd = j;

    if (g.block_type != 0) {
        // Switched blocks: one table for both regions, so the implicit region border
        // (which depends on the rate) never changes how the pairs decode.
        int b = 0;
        int t = ChooseTable(ix, 0, bigEnd, &b);
        g.table_select[0] = g.table_select[1] = t;
        g.table_select[2] = 0;
        g.region0_count = g.block_type == 2 ? 8 : 7;
        g.region1_count = 0;
        g.region1Start = bigEnd;
        g.region2Start = bigEnd;
        return bits + b;
    }

    int d = 0;
    while (d < 22 && bounds[d] < bigEnd) ++d;  // bands holding the big values
    auto regionCost = [&](int a, int b, int* table) {
        int s = std::min(bounds[a], bigEnd), e = std::min(bounds[b], bigEnd);
        int c = 0;
        *table = ChooseTable(ix, s, e, &c);
        return c;
    };
    auto evaluate = [&](int r0, int r1, int* tabs) {
        int a1 = std::min(r0, 22), a2 = std::min(r0 + r1, 22);
        int c0 = regionCost(0, a1, &tabs[0]);
        int c1 = regionCost(a1, a2, &tabs[1]);
        int c2 = regionCost(a2, 22, &tabs[2]);
        return c0 + c1 + c2;
    };
    int bestR0 = 1, bestR1 = 1, bestCost = INT_MAX;
    int bestTabs[3] = {0, 0, 0};
    if (!fullSearch || d <= 2) {
        int r0 = std::clamp((d + 1) / 3, 1, 16);
        int r1 = std::clamp((d - r0 + 1) / 2, 1, 8);
        bestR0 = r0;
        bestR1 = r1;
        bestCost = evaluate(r0, r1, bestTabs);
    } else {
        for (int r0 = 1; r0 <= 16; ++r0) {
            for (int r1 = 1; r1 <= 8; ++r1) {
                if (r0 + r1 >= d) break;
                int tabs[3];
                int c = evaluate(r0, r1, tabs);
                if (c < bestCost) {
                    bestCost = c;
                    bestR0 = r0;
                    bestR1 = r1;
                    std::copy(tabs, tabs + 3, bestTabs);
                }
            }
        }
    }
    g.region0_count = bestR0 - 1;
    g.region1_count = bestR1 - 1;
    std::copy(bestTabs, bestTabs + 3, g.table_select);
    g.region1Start = std::min(bounds[std::min(bestR0, 22)], bigEnd);
    g.region2Start = std::min(bounds[std::min(bestR0 + bestR1, 22)], bigEnd);
    return bits + bestCost;
}

}  // namespace mp3enc
