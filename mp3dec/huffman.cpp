#include "mp3dec/huffman.h"

#include <algorithm>

namespace mp3dec::detail {

const HuffSelect kHuffSelect[32] = {{-1, 0}, {1, 0},   {2, 0},   {3, 0},  {-1, 0}, {5, 0},  {6, 0},
                                    {7, 0},  {8, 0},   {9, 0},   {10, 0}, {11, 0}, {12, 0}, {13, 0},
                                    {-1, 0}, {15, 0},  {16, 1},  {16, 2}, {16, 3}, {16, 4}, {16, 6},
                                    {16, 8}, {16, 10}, {16, 13}, {17, 4}, {17, 5}, {17, 6}, {17, 7},
                                    {17, 8}, {17, 9},  {17, 11}, {17, 13}};

namespace {

constexpr int kRootBits = 8;

HuffLookup Build(const HuffSource& src) {
    HuffLookup out;
    if (!src.codes) return out;
    const int count = src.width * src.width;
    int maxLen = 0;
    for (int i = 0; i < count; ++i) maxLen = std::max<int>(maxLen, src.lengths[i]);
    const int root = std::min(maxLen, kRootBits);
    out.rootBits = root;
    out.entries.assign(size_t{1} << root, HuffEntry{0, 0, 0});
    // Longest code below each root prefix decides that prefix's second-level size.
    std::vector<int> subBits(size_t{1} << root, 0);
    for (int i = 0; i < count; ++i) {
        const int len = src.lengths[i];
        if (len > root) {
            const unsigned prefix = src.codes[i] >> (len - root);
            subBits[prefix] = std::max(subBits[prefix], len - root);
        }
    }
    for (size_t p = 0; p < subBits.size(); ++p) {
        if (subBits[p] == 0) continue;
        out.entries[p] = HuffEntry{static_cast<uint16_t>(out.entries.size()),
                                   static_cast<uint8_t>(root), static_cast<uint8_t>(subBits[p])};
        out.entries.resize(out.entries.size() + (size_t{1} << subBits[p]), HuffEntry{0, 0, 0});
    }
    for (int i = 0; i < count; ++i) {
        const int len = src.lengths[i];
        const unsigned code = src.codes[i];
        // Symbols store x in the high nibble and y in the low one.
        const uint16_t sym = static_cast<uint16_t>(((i / src.width) << 4) | (i % src.width));
        if (len <= root) {
            const unsigned first = code << (root - len);
            for (unsigned k = 0; k < (1u << (root - len)); ++k)
                out.entries[first + k] = HuffEntry{sym, static_cast<uint8_t>(len), 0};
        } else {
            const HuffEntry link = out.entries[code >> (len - root)];
            const int rest = len - root;
            const unsigned tail = code & ((1u << rest) - 1);
            const unsigned first = link.sym + (tail << (link.sub - rest));
            for (unsigned k = 0; k < (1u << (link.sub - rest)); ++k)
                out.entries[first + k] = HuffEntry{sym, static_cast<uint8_t>(rest), 0};
        }
    }
    return out;
}

}  // namespace

const HuffLookup* HuffLookups() {
    static const std::vector<HuffLookup> tables = [] {
        std::vector<HuffLookup> t;
        for (int i = 0; i < kHuffSourceCount; ++i) t.push_back(Build(kHuffSources[i]));
        return t;
    }();
    return tables.data();
}

bool HuffSourceIsComplete(int source) {
    const HuffSource& src = kHuffSources[source];
    if (!src.codes) return true;
    const int count = src.width * src.width;
    // Kraft sum must be exactly one and no code may be a prefix of another.
    uint64_t kraft = 0;
    for (int i = 0; i < count; ++i) kraft += uint64_t{1} << (32 - src.lengths[i]);
    if (kraft != (uint64_t{1} << 32)) return false;
    for (int i = 0; i < count; ++i)
        for (int j = 0; j < count; ++j) {
            if (i == j || src.lengths[i] > src.lengths[j]) continue;
            if ((src.codes[j] >> (src.lengths[j] - src.lengths[i])) == src.codes[i]) return false;
        }
    return true;
}

}  // namespace mp3dec::detail
