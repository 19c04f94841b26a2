#include "mp3enc/filterbank/mdct.h"

#include <cmath>
#include <cstring>

#include "mp3enc/config/errors.h"
#include "mp3enc/config/wide_clones.h"

namespace mp3enc {

namespace {

struct MdctTables {
    float win[4][36];
    float longCos[18][36];          // cos(pi/72 (2i + 19)(2k + 1)) / 9
    float longCosByColumn[36][24];  // [i][k], k from 18 on zero
    float shortCos[6][12];          // cos(pi/24 (2i + 7)(2k + 1)) / 3
    float cs[8], ca[8];
    MdctTables() {
        for (int i = 0; i < 36; ++i)
            win[0][i] = static_cast<float>(std::sin(M_PI / 36 * (i + 0.5)));
        for (int i = 0; i < 18; ++i) win[1][i] = win[0][i];
        for (int i = 18; i < 24; ++i) win[1][i] = 1.0f;
        for (int i = 24; i < 30; ++i)
            win[1][i] = static_cast<float>(std::sin(M_PI / 12 * (i - 18 + 0.5)));
        for (int i = 30; i < 36; ++i) win[1][i] = 0.0f;
        for (int i = 0; i < 36; ++i)
            win[2][i] = i < 12 ? static_cast<float>(std::sin(M_PI / 12 * (i + 0.5))) : 0.0f;
        for (int i = 0; i < 6; ++i) win[3][i] = 0.0f;
        for (int i = 6; i < 12; ++i)
            win[3][i] = static_cast<float>(std::sin(M_PI / 12 * (i - 6 + 0.5)));
        for (int i = 12; i < 18; ++i) win[3][i] = 1.0f;
        for (int i = 18; i < 36; ++i) win[3][i] = win[0][i];
        for (int k = 0; k < 18; ++k)
            for (int i = 0; i < 36; ++i)
                longCos[k][i] =
                    static_cast<float>(std::cos(M_PI / 72 * (2 * i + 19) * (2 * k + 1)) / 9.0);
        for (int i = 0; i < 36; ++i)
            for (int k = 0; k < 24; ++k) longCosByColumn[i][k] = k < 18 ? longCos[k][i] : 0.0f;
        for (int k = 0; k < 6; ++k)
            for (int i = 0; i < 12; ++i)
                shortCos[k][i] =
                    static_cast<float>(std::cos(M_PI / 24 * (2 * i + 7) * (2 * k + 1)) / 3.0);
        static const double c[8] = {-0.6, -0.535, -0.33, -0.185, -0.095, -0.041, -0.0142, -0.0037};
        for (int i = 0; i < 8; ++i) {
            const double sq = std::sqrt(1.0 + c[i] * c[i]);
            cs[i] = static_cast<float>(1.0 / sq);
            ca[i] = static_cast<float>(c[i] / sq);
        }
    }
};

const MdctTables& Tables() {
    static const MdctTables t;
    return t;
}

// The sums are written out in a fixed order, eight outputs at a time, so that a wider vector
// unit gives the very same values (the stream must not depend on the machine); the compiler
// must keep that order.
MP3ENC_WIDE_CLONES MP3ENC_KEEP_SUM_ORDER void LongMdct(const float* prev, const float* cur,
                                                       const float* win, float* out) {
    typedef float V8 __attribute__((vector_size(32), aligned(4)));
    const MdctTables& T = Tables();
    float z[36];
    for (int i = 0; i < 18; ++i) z[i] = prev[i] * win[i];
    for (int i = 0; i < 18; ++i) z[18 + i] = cur[i] * win[18 + i];
    float o[24];
    for (int k = 0; k < 24; k += 8) {
        // Four partial sums over i = l mod 4, each of nine products in a fixed tree.
        V8 part[4];
        for (int l = 0; l < 4; ++l) {
            V8 p[9];
            for (int b = 0; b < 9; ++b) {
                V8 c;
                std::memcpy(&c, T.longCosByColumn[4 * b + l] + k, sizeof c);
                p[b] = c * z[4 * b + l];
            }
            part[l] = (((p[0] + p[1]) + (p[2] + p[3])) + ((p[4] + p[5]) + p[6])) + (p[7] + p[8]);
        }
        const V8 sum = (part[0] + part[2]) + (part[1] + part[3]);
        std::memcpy(o + k, &sum, sizeof sum);
    }
    std::memcpy(out, o, 18 * sizeof(float));
}

void ShortMdct(const float* prev, const float* cur, float* out) {
    const MdctTables& T = Tables();
    float x[36];
    std::memcpy(x, prev, 18 * sizeof(float));
    std::memcpy(x + 18, cur, 18 * sizeof(float));
    for (int w = 0; w < 3; ++w) {
        float z[12];
        for (int i = 0; i < 12; ++i) z[i] = x[6 + 6 * w + i] * T.win[2][i];
        for (int k = 0; k < 6; ++k) {
            float acc = 0;
            for (int i = 0; i < 12; ++i) acc += T.shortCos[k][i] * z[i];
            out[6 * w + k] = acc;
        }
    }
}

void Butterflies(float* x, int lastBoundary) {
    const MdctTables& T = Tables();
    for (int sb = 1; sb <= lastBoundary; ++sb) {
        float* lo = x + 18 * sb - 1;
        float* hi = x + 18 * sb;
        for (int i = 0; i < 8; ++i) {
            const float a = lo[-i];
            const float b = hi[i];
            lo[-i] = a * T.cs[i] + b * T.ca[i];
            hi[i] = b * T.cs[i] - a * T.ca[i];
        }
    }
}

}  // namespace

const float* ImdctWindow(int blockType) {
    if (blockType < 0 || blockType > 3)
        FatalError("CalculateWindow() called with invalid window type", __FILE__, __LINE__);
    return Tables().win[blockType];
}
const float* AliasCs() {
    return Tables().cs;
}
const float* AliasCa() {
    return Tables().ca;
}

void FrequencyInversion(float sb[kSubbands][kSlotsPerGranule]) {
    for (int b = 1; b < kSubbands; b += 2)
        for (int t = 1; t < kSlotsPerGranule; t += 2) sb[b][t] = -sb[b][t];
}

void HybridMdct(const float prev[kSubbands][kSlotsPerGranule],
                const float cur[kSubbands][kSlotsPerGranule], int blockType, float out[576]) {
    if (blockType < 0 || blockType > 6) FatalError("invalid window type", __FILE__, __LINE__);
    const bool mixed = blockType >= 4;
    const int base = mixed ? blockType - 3 : blockType;
    const MdctTables& T = Tables();
    for (int sb = 0; sb < kSubbands; ++sb) {
        const bool lowMixed = mixed && sb < 2;
        if (base == 2 && !lowMixed) {
            ShortMdct(prev[sb], cur[sb], out + 18 * sb);
        } else {
            LongMdct(prev[sb], cur[sb], T.win[lowMixed ? 0 : base], out + 18 * sb);
        }
    }
    if (base != 2) {
        Butterflies(out, 31);
    } else if (mixed) {
        Butterflies(out, 1);
    }
}

void ReorderShort(const float* in, const int* shortStart, int firstBand, float* out) {
    if (firstBand > 0) std::memcpy(out, in, sizeof(float) * 3 * shortStart[firstBand]);
    for (int b = firstBand; b < 13; ++b) {
        const int s = shortStart[b];
        const int e = shortStart[b + 1];
        float* dst = out + 3 * s;
        for (int w = 0; w < 3; ++w)
            for (int j = s; j < e; ++j) *dst++ = in[18 * (j / 6) + 6 * w + (j % 6)];
    }
}

}  // namespace mp3enc
