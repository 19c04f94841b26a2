#include "mp3enc/filterbank/polyphase.h"

#include <cmath>
#include <cstring>

#include "mp3enc/config/wide_clones.h"

namespace mp3enc {

const int kPrototypeHalf[257] = {
    0,      -1,     -1,     -1,     -1,     -1,     -1,     -2,     -2,     -2,     -2,     -3,
    -3,     -4,     -4,     -5,     -5,     -6,     -7,     -7,     -8,     -9,     -10,    -11,
    -13,    -14,    -16,    -17,    -19,    -21,    -24,    -26,    -29,    -31,    -35,    -38,
    -41,    -45,    -49,    -53,    -58,    -63,    -68,    -73,    -79,    -85,    -91,    -97,
    -104,   -111,   -117,   -125,   -132,   -139,   -147,   -154,   -161,   -169,   -176,   -183,
    -190,   -196,   -202,   -208,   213,    218,    222,    225,    228,    228,    228,    227,
    224,    221,    215,    208,    200,    189,    177,    163,    146,    127,    106,    83,
    57,     29,     -2,     -36,    -72,    -111,   -153,   -197,   -244,   -294,   -347,   -401,
    -459,   -519,   -581,   -645,   -711,   -779,   -848,   -919,   -991,   -1064,  -1137,  -1210,
    -1283,  -1356,  -1428,  -1498,  -1567,  -1634,  -1698,  -1759,  -1817,  -1870,  -1919,  -1962,
    -2001,  -2032,  -2057,  -2075,  -2085,  -2087,  -2080,  -2063,  2037,   2000,   1952,   1893,
    1822,   1739,   1644,   1535,   1414,   1280,   1131,   970,    794,    605,    402,    185,
    -45,    -288,   -545,   -814,   -1095,  -1388,  -1692,  -2006,  -2330,  -2663,  -3004,  -3351,
    -3705,  -4063,  -4425,  -4788,  -5153,  -5517,  -5879,  -6237,  -6589,  -6935,  -7271,  -7597,
    -7910,  -8209,  -8491,  -8755,  -8998,  -9219,  -9416,  -9585,  -9727,  -9838,  -9916,  -9959,
    -9966,  -9935,  -9863,  -9750,  -9592,  -9389,  -9139,  -8840,  -8492,  -8092,  -7640,  -7134,
    6574,   5959,   5288,   4561,   3776,   2935,   2037,   1082,   70,     -998,   -2122,  -3300,
    -4533,  -5818,  -7154,  -8540,  -9975,  -11455, -12980, -14548, -16155, -17799, -19478, -21189,
    -22929, -24694, -26482, -28289, -30112, -31947, -33791, -35640, -37489, -39336, -41176, -43006,
    -44821, -46617, -48390, -50137, -51853, -53534, -55178, -56778, -58333, -59838, -61289, -62684,
    -64019, -65290, -66494, -67629, -68692, -69679, -70590, -71420, -72169, -72835, -73415, -73908,
    -74313, -74630, -74856, -74992, 75038,
};

namespace {

struct Tables {
    alignas(32) float reversedWindow[512];  // C[511 - m]
    alignas(32) float cosByColumn[32][32];  // [n][k] = cos((2k + 1) n pi / 64)
    float window[512];                      // C[i]
    Tables() {
        for (int i = 0; i < 512; ++i) {
            double d;
            if (i <= 256) {
                d = kPrototypeHalf[i];
            } else {
                const int m = 512 - i;
                d = (m % 64 == 0) ? kPrototypeHalf[m] : -kPrototypeHalf[m];
            }
            window[i] = static_cast<float>(d / 65536.0 / 32.0);
        }
        for (int m = 0; m < 512; ++m) reversedWindow[m] = window[511 - m];
        for (int k = 0; k < 32; ++k)
            for (int n = 0; n < 32; ++n)
                cosByColumn[n][k] = static_cast<float>(std::cos((2 * k + 1) * n * M_PI / 64.0));
    }
};

// Built once, never written afterwards.
const Tables& GetTables() {
    static const Tables t;
    return t;
}

}  // namespace

const float* AnalysisWindow() {
    return GetTables().window;
}

PolyphaseAnalysis::PolyphaseAnalysis() {
    Reset();
}

void PolyphaseAnalysis::Reset() {
    std::memset(hist_, 0, sizeof(hist_));
}

// The sums below are written out in a fixed order, eight outputs at a time, so that a wider
// vector unit gives the very same values (the stream must not depend on the machine); the
// compiler must keep that order.
MP3ENC_WIDE_CLONES MP3ENC_KEEP_SUM_ORDER void PolyphaseAnalysis::Process(
    const float* pcm, float out[kSubbands][kSlotsPerGranule]) {
    typedef float V8 __attribute__((vector_size(32), aligned(4)));
    const Tables& T = GetTables();
    std::memcpy(hist_ + 480, pcm, 576 * sizeof(float));
    for (int t = 0; t < kSlotsPerGranule; ++t) {
        // The window covers the 512 samples ending with the newest of this slot.
        const float* s = hist_ + 32 * t + 32 + 480 - 512;
        // Y[i] = sum_j Z[i + 64 j] with Z[i] = C[i] x[i], x[i] at s[511 - i]; yr[63 - i] = Y[i].
        float yr[64];
        for (int i = 0; i < 64; i += 8) {
            V8 z[8];
            for (int q = 0; q < 8; ++q) {
                V8 w, x;
                std::memcpy(&w, T.reversedWindow + i + 64 * q, sizeof w);
                std::memcpy(&x, s + i + 64 * q, sizeof x);
                z[q] = w * x;
            }
            const V8 y = (((z[6] + z[7]) + (z[4] + z[5])) + (z[2] + z[3])) + (z[0] + z[1]);
            std::memcpy(yr + i, &y, sizeof y);
        }
        auto Y = [&](int i) { return yr[63 - i]; };
        // cos((2k+1)(i-16)pi/64) folded onto a 32-point cosine transform.
        float a[32];
        a[0] = Y(16);
        for (int n = 1; n < 16; ++n) a[n] = Y(16 + n) + Y(16 - n);
        a[16] = Y(32) + Y(0);
        for (int n = 17; n < 32; ++n) a[n] = Y(16 + n) - Y(80 - n);
        for (int k = 0; k < 32; k += 8) {
            // Four partial sums over n = l mod 4, each of eight products in a fixed tree.
            V8 part[4];
            for (int l = 0; l < 4; ++l) {
                V8 p[8];
                for (int b = 0; b < 8; ++b) {
                    V8 c;
                    std::memcpy(&c, T.cosByColumn[4 * b + l] + k, sizeof c);
                    p[b] = c * a[4 * b + l];
                }
                part[l] = (((p[2] + p[3]) + (p[1] + p[0])) + (p[4] + p[5])) + (p[6] + p[7]);
            }
            const V8 sum = (part[0] + part[2]) + (part[1] + part[3]);
            for (int j = 0; j < 8; ++j) out[k + j][t] = sum[j];
        }
    }
    std::memmove(hist_, hist_ + 576, 480 * sizeof(float));
}

}  // namespace mp3enc
