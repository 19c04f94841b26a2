#include "mp3dec/layer3.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "mp3dec/huffman.h"
#include "mp3dec/tables.h"

namespace mp3dec::detail {

namespace {

constexpr float kInvSqrt2 = 0.7071067811865476f;
constexpr int kPow43Size = 8207;  // 15 + 2^13 - 1 + 1: the largest value with 13 linbits

// Shared read-only tables, built once on first use.
struct Constants {
    float pow43[kPow43Size];
    float quarterPow[4];  // 2^(i/4)
    float aliasCs[8], aliasCa[8];
    float imdctWindow[4][36];
    float dct4Pre[18];      // 2 cos(pi (2n + 1) / 72): DCT-IV of 18 through a DCT-II
    float lee18[9];         // 1 / (2 cos(pi (2n + 1) / 36))
    float dct9[9][5];       // cos(pi (2n + 1) k / 18)
    float shortCos[12][6];  // cos(pi/24 (2i + 7)(2k + 1))
    float shortWindow[12];
    float synthWindow[512];  // D on the 16-bit scale
    float lee[6][16];        // 1 / (2 cos(pi (2n + 1) / 2N)) for N = 32, 16, 8, 4, 2
    float isRatioL[7], isRatioR[7];
    float lsfIs[2][32];  // intensity factors of MPEG-2: [intensity scale][position]

    Constants() {
        for (int i = 0; i < kPow43Size; ++i)
            pow43[i] = static_cast<float>(std::pow(double(i), 4.0 / 3.0));
        for (int i = 0; i < 4; ++i) quarterPow[i] = static_cast<float>(std::pow(2.0, i / 4.0));
        const double c[8] = {-0.6, -0.535, -0.33, -0.185, -0.095, -0.041, -0.0142, -0.0037};
        for (int i = 0; i < 8; ++i) {
            const double s = std::sqrt(1.0 + c[i] * c[i]);
            aliasCs[i] = static_cast<float>(1.0 / s);
            aliasCa[i] = static_cast<float>(c[i] / s);
        }
        const double pi = 3.14159265358979323846;
        for (int i = 0; i < 36; ++i) {
            const double l = std::sin(pi / 36 * (i + 0.5));
            imdctWindow[0][i] = static_cast<float>(l);
            double start = i < 18   ? l
                           : i < 24 ? 1.0
                           : i < 30 ? std::sin(pi / 12 * (i - 18 + 0.5))
                                    : 0.0;
            double stop = i < 6    ? 0.0
                          : i < 12 ? std::sin(pi / 12 * (i - 6 + 0.5))
                          : i < 18 ? 1.0
                                   : l;
            imdctWindow[1][i] = static_cast<float>(start);
            imdctWindow[3][i] = static_cast<float>(stop);
            imdctWindow[2][i] = 0.0f;
        }
        for (int n = 0; n < 18; ++n)
            dct4Pre[n] = static_cast<float>(2 * std::cos(pi * (2 * n + 1) / 72));
        for (int n = 0; n < 9; ++n)
            lee18[n] = static_cast<float>(1 / (2 * std::cos(pi * (2 * n + 1) / 36)));
        for (int k = 0; k < 9; ++k)
            for (int n = 0; n < 5; ++n)
                dct9[k][n] = static_cast<float>(std::cos(pi * (2 * n + 1) * k / 18));
        for (int i = 0; i < 12; ++i) {
            for (int k = 0; k < 6; ++k)
                shortCos[i][k] = static_cast<float>(std::cos(pi / 24 * (2 * i + 7) * (2 * k + 1)));
            shortWindow[i] = static_cast<float>(std::sin(pi / 12 * (i + 0.5)));
        }
        for (int i = 0; i < 512; ++i) {
            int32_t d;
            if (i <= 256)
                d = kSynthWindowHalf[i];
            else
                d = (i % 64 == 0) ? kSynthWindowHalf[512 - i] : -kSynthWindowHalf[512 - i];
            synthWindow[i] = static_cast<float>(d / 65536.0 * 32768.0);
        }
        int level = 0;
        for (int n = 32; n >= 2; n /= 2, ++level)
            for (int i = 0; i < n / 2; ++i)
                lee[level][i] =
                    static_cast<float>(1.0 / (2.0 * std::cos(pi * (2 * i + 1) / (2.0 * n))));
        for (int p = 0; p < 7; ++p) {
            const double t = std::tan(p * pi / 12);
            isRatioL[p] = static_cast<float>(t / (1 + t));
            isRatioR[p] = static_cast<float>(1 / (1 + t));
        }
        isRatioL[6] = 1.0f;  // tan(pi/2): everything goes to the left channel
        isRatioR[6] = 0.0f;
        for (int s = 0; s < 2; ++s)
            for (int p = 0; p < 32; ++p) {
                const double io = s ? std::pow(2.0, -0.5) : std::pow(2.0, -0.25);
                lsfIs[s][p] = static_cast<float>(std::pow(io, (p + 1) / 2));
            }
    }
};

const Constants& K() {
    static const Constants k;
    return k;
}

// Big-endian bit reader over a buffer with at least 8 readable bytes past any position read.
struct BitReader {
    const uint8_t* data;
    size_t pos;
    uint32_t Peek(int n) const {
        const uint8_t* p = data + (pos >> 3);
        uint64_t v;
        std::memcpy(&v, p, 8);
#if defined(__GNUC__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
        v = __builtin_bswap64(v);
#else
        v = (uint64_t(p[0]) << 56) | (uint64_t(p[1]) << 48) | (uint64_t(p[2]) << 40) |
            (uint64_t(p[3]) << 32) | (uint64_t(p[4]) << 24) | (uint64_t(p[5]) << 16) |
            (uint64_t(p[6]) << 8) | uint64_t(p[7]);
#endif
        v <<= (pos & 7);
        return n == 0 ? 0 : static_cast<uint32_t>(v >> (64 - n));
    }
    // The next bits at the top of a word; at least 57 of them are valid.
    uint64_t Window() const {
        uint64_t v;
        std::memcpy(&v, data + (pos >> 3), 8);
#if defined(__GNUC__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
        v = __builtin_bswap64(v);
#else
        const uint8_t* p = data + (pos >> 3);
        v = 0;
        for (int i = 0; i < 8; ++i) v = (v << 8) | p[i];
#endif
        return v << (pos & 7);
    }
    uint32_t Read(int n) {
        const uint32_t v = Peek(n);
        pos += n;
        return v;
    }
    int DecodeSym(const HuffLookup& t) {
        const HuffEntry* e = &t.entries[Peek(t.rootBits)];
        if (e->sub) {
            pos += t.rootBits;
            e = &t.entries[e->sym + Peek(e->sub)];
        }
        pos += e->len;
        return e->sym;
    }
};

constexpr float kSign[2] = {1.0f, -1.0f};

// Four lanes of floats: the filter banks run four subbands or four time slots at once.
#if defined(__GNUC__) || defined(__clang__)
using V4 = float __attribute__((vector_size(16)));
#else
struct V4 {
    float v[4];
    float& operator[](int i) { return v[i]; }
    float operator[](int i) const { return v[i]; }
};
inline V4 operator+(V4 a, V4 b) {
    for (int i = 0; i < 4; ++i) a.v[i] += b.v[i];
    return a;
}
inline V4 operator-(V4 a, V4 b) {
    for (int i = 0; i < 4; ++i) a.v[i] -= b.v[i];
    return a;
}
inline V4 operator-(V4 a) {
    for (int i = 0; i < 4; ++i) a.v[i] = -a.v[i];
    return a;
}
inline V4 operator*(V4 a, V4 b) {
    for (int i = 0; i < 4; ++i) a.v[i] *= b.v[i];
    return a;
}
inline V4 operator*(V4 a, float b) {
    for (int i = 0; i < 4; ++i) a.v[i] *= b;
    return a;
}
#endif

inline V4 LoadV4(const float* p) {
    V4 v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
inline void StoreV4(float* p, V4 v) {
    std::memcpy(p, &v, sizeof v);
}

// Rows a..d become columns: a = {a0, b0, c0, d0}, b = {a1, b1, c1, d1} and so on.
inline void Transpose4(V4& a, V4& b, V4& c, V4& d) {
#if defined(__clang__)
    const V4 t0 = __builtin_shufflevector(a, b, 0, 4, 1, 5);
    const V4 t1 = __builtin_shufflevector(a, b, 2, 6, 3, 7);
    const V4 t2 = __builtin_shufflevector(c, d, 0, 4, 1, 5);
    const V4 t3 = __builtin_shufflevector(c, d, 2, 6, 3, 7);
    a = __builtin_shufflevector(t0, t2, 0, 1, 4, 5);
    b = __builtin_shufflevector(t0, t2, 2, 3, 6, 7);
    c = __builtin_shufflevector(t1, t3, 0, 1, 4, 5);
    d = __builtin_shufflevector(t1, t3, 2, 3, 6, 7);
#elif defined(__GNUC__)
    using I4 = int __attribute__((vector_size(16)));
    const V4 t0 = __builtin_shuffle(a, b, I4{0, 4, 1, 5});
    const V4 t1 = __builtin_shuffle(a, b, I4{2, 6, 3, 7});
    const V4 t2 = __builtin_shuffle(c, d, I4{0, 4, 1, 5});
    const V4 t3 = __builtin_shuffle(c, d, I4{2, 6, 3, 7});
    a = __builtin_shuffle(t0, t2, I4{0, 1, 4, 5});
    b = __builtin_shuffle(t0, t2, I4{2, 3, 6, 7});
    c = __builtin_shuffle(t1, t3, I4{0, 1, 4, 5});
    d = __builtin_shuffle(t1, t3, I4{2, 3, 6, 7});
#else
    V4* r[4] = {&a, &b, &c, &d};
    for (int i = 0; i < 4; ++i)
        for (int j = i + 1; j < 4; ++j) std::swap((*r[i])[j], (*r[j])[i]);
#endif
}

// out[k] = sum in[n] cos(pi (2n + 1) k / 18), using the even and odd symmetry of the rows.
template <class T>
inline void Dct9(const T* in, T* out, const float (*c)[5]) {
    const T s0 = in[0] + in[8], s1 = in[1] + in[7], s2 = in[2] + in[6], s3 = in[3] + in[5];
    const T d0 = in[0] - in[8], d1 = in[1] - in[7], d2 = in[2] - in[6], d3 = in[3] - in[5];
    const T m = in[4];
    out[0] = s0 + s1 + s2 + s3 + m;
    for (int k = 2; k < 9; k += 2)
        out[k] = s0 * c[k][0] + s1 * c[k][1] + s2 * c[k][2] + s3 * c[k][3] + m * c[k][4];
    for (int k = 1; k < 9; k += 2)
        out[k] = d0 * c[k][0] + d1 * c[k][1] + d2 * c[k][2] + d3 * c[k][3];
}

// X[k] = sum x[n] cos(pi/18 (n + 1/2)(k + 1/2)): a DCT-II of the pre-weighted input (Lee's
// split into two of 9 points), then X[k] = C[k] - X[k - 1].
template <class T>
inline void DctIV18(const T* x, T* X, const float* pre, const float* lee, const float (*c)[5]) {
    T a[9], b[9], A[9], B[10];
    for (int n = 0; n < 9; ++n) {
        const T lo = x[n] * pre[n], hi = x[17 - n] * pre[17 - n];
        a[n] = lo + hi;
        b[n] = (lo - hi) * lee[n];
    }
    Dct9(a, A, c);
    Dct9(b, B, c);
    B[9] = T{};
    X[0] = A[0] * 0.5f;
    for (int k = 0; k < 9; ++k) {
        if (k > 0) X[2 * k] = A[k] - X[2 * k - 1];
        X[2 * k + 1] = (B[k] + B[k + 1]) - X[2 * k];
    }
}

// One long block of 18 lines: IMDCT, window, overlap-add with the previous block's tail.
template <class T>
inline void LongBlock(const T* in, const float* win, T* saved, T* out) {
    const Constants& k = K();
    T X[18];
    DctIV18(in, X, k.dct4Pre, k.lee18, k.dct9);
    for (int i = 0; i < 9; ++i) out[i] = saved[i] + X[i + 9] * win[i];
    for (int i = 9; i < 18; ++i) out[i] = saved[i] - X[26 - i] * win[i];
    for (int i = 0; i < 9; ++i) saved[i] = -(X[8 - i] * win[18 + i]);
    for (int i = 9; i < 18; ++i) saved[i] = -(X[i - 9] * win[18 + i]);
}

// Overlap buffer layout: four subbands side by side for each of the 18 lines.
inline int OvIdx(int sb, int i) {
    return (sb >> 2) * 72 + i * 4 + (sb & 3);
}

// Where the compiler and the system allow it, the hottest loops also come in a version for
// processors with 8-lane vectors and fused multiply-add, chosen when the program loads. Not under
// ThreadSanitizer: the loader runs the choosing code before that runtime is up, and it crashes.
#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__) && defined(__linux__) && \
    !defined(__SANITIZE_THREAD__)
#define TRALUX_VECTOR_CLONES __attribute__((target_clones("arch=x86-64-v3", "default")))
#else
#define TRALUX_VECTOR_CLONES
#endif

// The synthesis window over the 16 newest vectors V of the ring of 32 (newest at `pos`): 32 outputs, or every
// (2^rateShift)-th of them.
TRALUX_VECTOR_CLONES
void SynthWindow(const float* ring, int pos, int rateShift, const float* window, float* pcm) {
    if (rateShift == 0) {
        float acc[32] = {};
        for (int i = 0; i < 8; ++i) {
            const float* va = ring + 64 * ((pos + 2 * i) & 31);
            const float* vb = ring + 64 * ((pos + 2 * i + 1) & 31) + 32;
            const float* d = window + 64 * i;
            for (int j = 0; j < 32; ++j) acc[j] += va[j] * d[j] + vb[j] * d[32 + j];
        }
        for (int j = 0; j < 32; ++j) pcm[j] = acc[j];
        return;
    }
    const int step = 1 << rateShift;
    for (int j = 0, o = 0; j < 32; j += step, ++o) {
        float acc = 0.0f;
        for (int i = 0; i < 8; ++i) {
            const float* va = ring + 64 * ((pos + 2 * i) & 31);
            const float* vb = ring + 64 * ((pos + 2 * i + 1) & 31) + 32;
            const float* d = window + 64 * i;
            acc += va[j] * d[j] + vb[j] * d[32 + j];
        }
        pcm[o] = acc;
    }
}

// The count1 region by whole quadruples: indexed by the next 10 bits (a code of at most 6 bits
// and up to four sign bits), each entry gives the four values, the bits taken and the position
// after the last nonzero value (0 when all are zero).
struct QuadTable {
    static constexpr int kBits = 10;
    V4 values[1 << kBits];
    uint8_t length[1 << kBits];
    uint8_t last[1 << kBits];
};

const QuadTable* QuadTables() {
    static const auto* tables = [] {
        auto* t = new QuadTable[2];
        for (int table = 0; table < 2; ++table) {
            const HuffLookup& quad = HuffLookups()[18 + table];
            for (unsigned w = 0; w < (1u << QuadTable::kBits); ++w) {
                const HuffEntry& e = quad.entries[w >> (QuadTable::kBits - quad.rootBits)];
                const int q = (e.sym >> 4) * 4 + (e.sym & 15);
                int used = e.len;
                V4 v{};
                for (int i = 0; i < 4; ++i) {
                    if (!((q >> (3 - i)) & 1)) continue;
                    const bool negative = (w >> (QuadTable::kBits - 1 - used)) & 1;
                    ++used;
                    v[i] = negative ? -1.0f : 1.0f;
                }
                t[table].values[w] = v;
                t[table].length[w] = static_cast<uint8_t>(used);
                t[table].last[w] =
                    q ? static_cast<uint8_t>(4 - std::countr_zero(static_cast<unsigned>(q))) : 0;
            }
        }
        return t;
    }();
    return tables;
}

// DCT-II by Lee's recursion: out[k] = sum in[n] cos(pi (2n + 1) k / 2N).
template <int N, class T>
inline void Dct(const T* in, T* out, const float* const* lee) {
    if constexpr (N == 1) {
        out[0] = in[0];
    } else {
        T a[N / 2], b[N / 2], A[N / 2], B[N / 2 + 1];
        const float* f = lee[0];
        for (int n = 0; n < N / 2; ++n) {
            a[n] = in[n] + in[N - 1 - n];
            b[n] = (in[n] - in[N - 1 - n]) * f[n];
        }
        Dct<N / 2>(a, A, lee + 1);
        Dct<N / 2>(b, B, lee + 1);
        B[N / 2] = T{};
        for (int k = 0; k < N / 2; ++k) {
            out[2 * k] = A[k];
            out[2 * k + 1] = B[k] + B[k + 1];
        }
    }
}

inline float Gain(int quarterExp) {
    const Constants& k = K();
    const int e = quarterExp >> 2;
    // Every legal gain is a normal float: build the power of two from its bits.
    if (e > -126 && e < 128)
        return k.quarterPow[quarterExp & 3] *
               std::bit_cast<float>(static_cast<uint32_t>(e + 127) << 23);
    return std::ldexp(k.quarterPow[quarterExp & 3], e);
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Concealment random sources

void ConcealRandom::Reset() {
    // Knuth's subtractive generator seeded with 42.
    constexpr int32_t kBig = 1000000000;
    int32_t mj = 161803398 - 42;
    mj %= kBig;
    table_[55] = mj;
    int32_t mk = 1;
    for (int i = 1; i <= 54; ++i) {
        const int ii = (21 * i) % 55;
        table_[ii] = mk;
        mk = mj - mk;
        if (mk < 0) mk += kBig;
        mj = table_[ii];
    }
    for (int k = 1; k <= 4; ++k)
        for (int i = 1; i <= 55; ++i) {
            table_[i] -= table_[1 + (i + 30) % 55];
            if (table_[i] < 0) table_[i] += kBig;
        }
    next_ = 0;
    nextP_ = 31;
    sign_ = static_cast<int16_t>(1044180 & 0x7FFF);
}

float ConcealRandom::Uniform() {
    constexpr int32_t kBig = 1000000000;
    if (++next_ == 56) next_ = 1;
    if (++nextP_ == 56) nextP_ = 1;
    int32_t mj = table_[next_] - table_[nextP_];
    if (mj < 0) mj += kBig;
    table_[next_] = mj;
    return static_cast<float>(mj * (1.0 / kBig));
}

bool ConcealRandom::NextSignNegative() {
    // 16-bit shift register with feedback taps on bits 0 and 3 when the top bit falls out.
    uint16_t r = static_cast<uint16_t>(sign_);
    if (sign_ < 0)
        r = static_cast<uint16_t>((r & 0x8000u) | ((((r ^ 9u) << 1) & 0xFFu) | 1u) | (r & 0x7F00u));
    else
        r = static_cast<uint16_t>(r << 1);
    if (r == 0) r = 1;
    sign_ = static_cast<int16_t>(r);
    return (r & 0x4000u) != 0;
}

// ---------------------------------------------------------------------------------------------

Layer3::Layer3(int rateShift, bool eightBit, bool monoOutput)
    : rateShift_(rateShift), eightBit_(eightBit), mono_(monoOutput) {
    K();
    HuffLookups();
    QuadTables();
    Reset();
}

void Layer3::Reset() {
    reservoirLen_ = 0;
    std::memset(overlap_, 0, sizeof overlap_);
    std::memset(synth_, 0, sizeof synth_);
    synthPos_[0] = synthPos_[1] = 0;
    std::memset(history_, 0, sizeof history_);
    std::memset(scalefac_, 0, sizeof scalefac_);
    random_.Reset();
}

size_t Layer3::OutputBytes(const FrameHeader& h, bool floatOutput) const {
    const size_t channels = mono_ ? 1 : h.channels;
    const size_t samples = static_cast<size_t>(h.samplesPerFrame()) >> rateShift_;
    if (floatOutput) return samples * channels * 4;
    return samples * channels * (eightBit_ ? 1 : 2);
}

bool Layer3::ReadSideInfo(const FrameHeader& h, const uint8_t* p, SideInfo& si) const {
    BitReader br{p, 0};
    const int nch = h.channels;
    if (h.version == 0) {
        si.mainDataBegin = br.Read(9);
        br.Read(nch == 1 ? 5 : 3);
        for (int ch = 0; ch < nch; ++ch)
            for (int b = 0; b < 4; ++b) si.scfsi[ch][b] = br.Read(1);
    } else {
        si.mainDataBegin = br.Read(8);
        br.Read(nch == 1 ? 1 : 2);
    }
    for (int gr = 0; gr < h.granules; ++gr)
        for (int ch = 0; ch < nch; ++ch) {
            GranuleInfo& g = si.gr[gr][ch];
            g = GranuleInfo{};
            g.part23Length = br.Read(12);
            g.bigValues = br.Read(9);
            g.globalGain = br.Read(8);
            g.scalefacCompress = br.Read(h.version == 0 ? 4 : 9);
            g.windowSwitching = br.Read(1);
            if (g.windowSwitching) {
                g.blockType = br.Read(2);
                g.mixed = br.Read(1);
                for (int i = 0; i < 2; ++i) g.tableSelect[i] = br.Read(5);
                for (int i = 0; i < 3; ++i) g.subblockGain[i] = br.Read(3);
                if (g.blockType == 0) return false;  // reserved with window switching
                g.region0Count = (g.blockType == 2 && !g.mixed) ? 8 : 7;
                g.region1Count = 36;
            } else {
                for (int i = 0; i < 3; ++i) g.tableSelect[i] = br.Read(5);
                g.region0Count = br.Read(4);
                g.region1Count = br.Read(3);
            }
            if (h.version == 0) g.preflag = br.Read(1);
            g.scalefacScale = br.Read(1);
            g.count1Table = br.Read(1);
            if (g.bigValues > 288) return false;
            for (int i = 0; i < 3; ++i)
                if (g.tableSelect[i] == 4 || g.tableSelect[i] == 14) return false;
        }
    return true;
}

// ---------------------------------------------------------------------------------------------
// Main data: scalefactors, Huffman decoding, requantisation

TRALUX_VECTOR_CLONES
bool Layer3::DecodeChannel(const FrameHeader& h, SideInfo& si, int gr, int ch, const uint8_t* data,
                           size_t& bitPos, size_t granuleEnd) {
    GranuleInfo& g = si.gr[gr][ch];
    const BandTable& bands = Bands(h);
    BitReader br{data, bitPos};
    int* sf = scalefac_[ch];
    int* slen = slen_[ch];
    const bool shortBlocks = g.windowSwitching && g.blockType == 2;

    // Scalefactors. Long blocks use sf[0..21]; short blocks sf[3 * sfb + window] for sfb 0..12,
    // mixed blocks sf[0..7] long and then short bands from 3 at 3 * sfb + window + 24.
    if (h.version == 0) {
        static const int kSlen1[16] = {0, 0, 0, 0, 3, 1, 1, 1, 2, 2, 2, 3, 3, 3, 4, 4};
        static const int kSlen2[16] = {0, 1, 2, 3, 0, 1, 2, 3, 1, 2, 3, 1, 2, 3, 2, 3};
        const int s1 = kSlen1[g.scalefacCompress], s2 = kSlen2[g.scalefacCompress];
        if (shortBlocks) {
            int idx = 0;
            if (g.mixed) {
                for (int sfb = 0; sfb < 8; ++sfb) sf[idx++] = br.Read(s1);
                for (int sfb = 3; sfb < 12; ++sfb)
                    for (int w = 0; w < 3; ++w) sf[idx++] = br.Read(sfb < 6 ? s1 : s2);
            } else {
                for (int sfb = 0; sfb < 12; ++sfb)
                    for (int w = 0; w < 3; ++w) sf[idx++] = br.Read(sfb < 6 ? s1 : s2);
            }
            for (int w = 0; w < 3; ++w) sf[idx++] = 0;
        } else {
            static const int kGroup[5] = {0, 6, 11, 16, 21};
            for (int grp = 0; grp < 4; ++grp) {
                const int bits = grp < 2 ? s1 : s2;
                const bool reuse = gr == 1 && si.scfsi[ch][grp];
                for (int sfb = kGroup[grp]; sfb < kGroup[grp + 1]; ++sfb)
                    if (!reuse) sf[sfb] = br.Read(bits);
            }
            sf[21] = 0;
        }
    } else {
        static const uint8_t kNrOfSfb[6][3][4] = {{{6, 5, 5, 5}, {9, 9, 9, 9}, {6, 9, 9, 9}},
                                                  {{6, 5, 7, 3}, {9, 9, 12, 6}, {6, 9, 12, 6}},
                                                  {{11, 10, 0, 0}, {18, 18, 0, 0}, {15, 18, 0, 0}},
                                                  {{7, 7, 7, 0}, {12, 12, 12, 0}, {6, 15, 12, 0}},
                                                  {{6, 6, 6, 3}, {12, 9, 9, 6}, {6, 12, 9, 6}},
                                                  {{8, 8, 5, 0}, {15, 12, 9, 0}, {6, 18, 9, 0}}};
        int sl[4] = {0, 0, 0, 0};
        int tableIdx;
        const int sfc = g.scalefacCompress;
        const bool intensityRight = ch == 1 && (h.modeExt & 1) && h.mode == 1;
        bool preflag = false;
        if (!intensityRight) {
            if (sfc < 400) {
                sl[0] = (sfc >> 4) / 5;
                sl[1] = (sfc >> 4) % 5;
                sl[2] = (sfc & 15) >> 2;
                sl[3] = sfc & 3;
                tableIdx = 0;
            } else if (sfc < 500) {
                const int v = sfc - 400;
                sl[0] = (v >> 2) / 5;
                sl[1] = (v >> 2) % 5;
                sl[2] = v & 3;
                tableIdx = 1;
            } else {
                const int v = sfc - 500;
                sl[0] = v / 3;
                sl[1] = v % 3;
                preflag = true;
                tableIdx = 2;
            }
        } else {
            const int v = sfc >> 1;
            if (v < 180) {
                sl[0] = v / 36;
                sl[1] = (v % 36) / 6;
                sl[2] = (v % 36) % 6;
                tableIdx = 3;
            } else if (v < 244) {
                const int u = v - 180;
                sl[0] = (u % 64) >> 4;
                sl[1] = (u % 16) >> 2;
                sl[2] = u % 4;
                tableIdx = 4;
            } else {
                const int u = v - 244;
                sl[0] = u / 3;
                sl[1] = u % 3;
                tableIdx = 5;
            }
        }
        g.preflag = preflag;  // MPEG-2 signals it through scalefac_compress
        const int blockIdx = shortBlocks ? (g.mixed ? 2 : 1) : 0;
        int idx = 0;
        for (int part = 0; part < 4; ++part)
            for (int n = 0; n < kNrOfSfb[tableIdx][blockIdx][part]; ++n) {
                slen[idx] = sl[part];
                sf[idx++] = br.Read(sl[part]);
            }
        while (idx < 39) {
            slen[idx] = 0;
            sf[idx++] = 0;
        }
        if (shortBlocks && g.mixed) {
            // The MPEG-2 mixed layout has 6 long bands; move the short ones up to the common layout.
            int tmp[39], tmpLen[39];
            std::memcpy(tmp, sf, sizeof tmp);
            std::memcpy(tmpLen, slen, sizeof tmpLen);
            for (int i = 0; i < 39; ++i) sf[i] = 0, slen[i] = 0;
            for (int i = 0; i < 6; ++i) sf[i] = tmp[i], slen[i] = tmpLen[i];
            for (int i = 6; i < 33; ++i) sf[i + 2] = tmp[i], slen[i + 2] = tmpLen[i];
        }
    }
    if (br.pos > granuleEnd) return false;

    // Gain of every band in line order (long bands, or short bands window by window).
    const Constants& k = K();
    float bandGain[40];
    int bandEnd[40];
    int nb = 0;
    {
        const int sfShift = g.scalefacScale ? 4 : 2;  // quarter steps per scalefactor step
        const int base = g.globalGain - 210;
        auto addLong = [&](int sfb) {
            const int pre = g.preflag ? kPretab[sfb] : 0;
            bandGain[nb] = Gain(base - sfShift * (sf[sfb] + pre));
            bandEnd[nb++] = bands.longEdge[sfb + 1];
        };
        if (!shortBlocks) {
            for (int sfb = 0; sfb < 22; ++sfb) addLong(sfb);
        } else {
            int sfbStart = 0, sfIdx = 0, lineStart = 0;
            if (g.mixed) {
                const int longBands = h.version == 0 ? 8 : 6;
                for (int sfb = 0; sfb < longBands; ++sfb) addLong(sfb);
                sfbStart = 3;
                sfIdx = 8;  // common layout: short bands of mixed blocks start at index 8
                lineStart = bands.longEdge[longBands];
            }
            for (int sfb = sfbStart; sfb < 13; ++sfb) {
                const int width = bands.shortEdge[sfb + 1] - bands.shortEdge[sfb];
                for (int w = 0; w < 3; ++w) {
                    const int s = sf[sfIdx + 3 * (sfb - sfbStart) + w];
                    lineStart += width;
                    bandGain[nb] = Gain(base - 8 * g.subblockGain[w] - sfShift * s);
                    bandEnd[nb++] = lineStart;
                }
            }
        }
        bandEnd[nb - 1] = 576;
    }

    // Huffman decoding of the big values and the count1 region, requantised on the way.
    float* xr = xr_[ch];
    const float* pow43 = k.pow43;
    int band = 0;
    float gain = bandGain[0];
    int edge = bandEnd[0];
    int last = 0;
    const HuffLookup* lookups = HuffLookups();
    const int bigEnd = std::min(576, g.bigValues * 2);
    int region1, region2;
    if (g.windowSwitching) {
        region1 = (g.blockType == 2 && !g.mixed) ? bands.shortEdge[3] * 3 : bands.longEdge[8];
        region2 = 576;
    } else {
        region1 = bands.longEdge[std::min(g.region0Count + 1, 22)];
        region2 = bands.longEdge[std::min(g.region0Count + g.region1Count + 2, 22)];
    }
    region1 = std::min(region1, bigEnd);
    region2 = std::min(region2, bigEnd);
    int line = 0;
    for (int region = 0; region < 3; ++region) {
        const int end = region == 0 ? region1 : region == 1 ? region2 : bigEnd;
        const HuffSelect sel = kHuffSelect[g.tableSelect[region]];
        if (sel.lookup < 0) {
            for (; line < end; ++line) xr[line] = 0.0f;
            continue;
        }
        const HuffLookup& t = lookups[sel.lookup];
        const HuffEntry* entries = t.entries.data();
        const int root = t.rootBits;
        const int linbits = sel.linbits;
        for (; line < end; line += 2) {
            while (line >= edge) {
                ++band;
                gain = bandGain[band];
                edge = bandEnd[band];
            }
            // One window holds a whole pair: a code of at most 19 bits, two values of at most
            // 13 linbits and two signs fit the 57 bits it guarantees.
            const uint64_t w = br.Window();
            const HuffEntry* e = &entries[w >> (64 - root)];
            int used = 0;
            if (e->sub) {
                used = root;
                e = &entries[e->sym + ((w << used) >> (64 - e->sub))];
            }
            used += e->len;
            int x = e->sym >> 4, y = e->sym & 15;
            float fx = 0.0f, fy = 0.0f;
            if (x) {
                if (x == 15 && linbits) {
                    x += static_cast<int>((w << used) >> (64 - linbits));
                    used += linbits;
                }
                fx = pow43[x] * gain * kSign[(w << used) >> 63];
                ++used;
                last = line + 1;
            }
            if (y) {
                if (y == 15 && linbits) {
                    y += static_cast<int>((w << used) >> (64 - linbits));
                    used += linbits;
                }
                fy = pow43[y] * gain * kSign[(w << used) >> 63];
                ++used;
                last = line + 2;
            }
            br.pos += static_cast<size_t>(used);
            xr[line] = fx;
            xr[line + 1] = fy;
            if (br.pos > granuleEnd) return false;
        }
    }
    line = bigEnd;
    const QuadTable& quad = QuadTables()[g.count1Table ? 1 : 0];
    while (line + 4 <= 576 && br.pos < granuleEnd) {
        const unsigned at = static_cast<unsigned>(br.Window() >> (64 - QuadTable::kBits));
        const unsigned used = quad.length[at];
        if (br.pos + used > granuleEnd) break;  // runs past the granule
        br.pos += used;
        const V4 v = quad.values[at];
        if (line + 4 <= edge) {
            StoreV4(xr + line, v * gain);
            if (quad.last[at]) last = line + quad.last[at];
            line += 4;
            continue;
        }
        for (int i = 0; i < 4; ++i, ++line) {
            while (line >= edge) {
                ++band;
                gain = bandGain[band];
                edge = bandEnd[band];
            }
            xr[line] = v[i] * gain;
            if (v[i] != 0.0f) last = line + 1;
        }
    }
    for (int i = line; i < 576; ++i) xr[i] = 0.0f;
    bitPos = granuleEnd;
    nonzero_[ch] = last;
    return true;
}

bool Layer3::DecodeGranule(const FrameHeader& h, SideInfo& si, int gr, const uint8_t* data,
                           size_t& bitPos, size_t endBits) {
    for (int ch = 0; ch < h.channels; ++ch) {
        const size_t granuleEnd = bitPos + si.gr[gr][ch].part23Length;
        if (granuleEnd > endBits) return false;
        if (!DecodeChannel(h, si, gr, ch, data, bitPos, granuleEnd)) return false;
    }
    return true;
}

// ---------------------------------------------------------------------------------------------
// Stereo processing

void Layer3::Stereo(const FrameHeader& h, const SideInfo& si, int gr) {
    if (h.channels != 2 || h.mode != 1 || h.modeExt == 0) return;
    const bool ms = h.modeExt & 2;
    const bool is = h.modeExt & 1;
    float* l = xr_[0];
    float* r = xr_[1];
    const Constants& k = K();
    const BandTable& bands = Bands(h);
    const GranuleInfo& g = si.gr[gr][1];
    const int* sf = scalefac_[1];
    const int* slen = slen_[1];
    const bool lsf = h.version != 0;
    const int isScale = g.scalefacCompress & 1;

    // Intensity positions per line; -1 where the line is coded normally.
    int isPos[576];
    std::fill(isPos, isPos + 576, -1);
    if (is) {
        auto invalid = [&](int idx, int pos) {
            if (lsf) return pos == (1 << slen[idx]) - 1;
            return pos >= 7;
        };
        const bool shortBlocks = g.windowSwitching && g.blockType == 2;
        if (!shortBlocks) {
            // Intensity starts above the last band holding nonzero right-channel lines.
            int lastNonzero = -1;
            for (int i = nonzero_[1] - 1; i >= 0; --i)
                if (r[i] != 0.0f) {
                    lastNonzero = i;
                    break;
                }
            int sfb = 0;
            while (sfb < 22 && bands.longEdge[sfb + 1] <= lastNonzero) ++sfb;
            if (lastNonzero >= 0) ++sfb;
            // The top band has no scalefactor of its own. MPEG-1 takes the band below (not intensity
            // coded when that band is under the bound); MPEG-2 then uses position 0, which is legal.
            int prevPos = lsf ? 0 : -1;
            for (; sfb < 22; ++sfb) {
                int pos;
                if (sfb == 21) {
                    pos = prevPos;  // the last band has no scalefactor: take the one below
                } else {
                    pos = sf[sfb];
                    if (invalid(sfb, pos)) pos = -1;
                }
                prevPos = pos;
                for (int i = bands.longEdge[sfb]; i < bands.longEdge[sfb + 1]; ++i) isPos[i] = pos;
            }
        } else {
            const int firstShort = g.mixed ? 3 : 0;
            const int sfBase = g.mixed ? 8 : 0;
            const int lineBase = g.mixed ? bands.longEdge[h.version == 0 ? 8 : 6] : 0;
            bool anyShortNonzero = false;
            for (int w = 0; w < 3; ++w) {
                // Highest short band with nonzero lines in this window.
                int lastBand = firstShort - 1;
                int start = lineBase;
                for (int sfb = firstShort; sfb < 13; ++sfb) {
                    const int width = bands.shortEdge[sfb + 1] - bands.shortEdge[sfb];
                    const int from = start + w * width;
                    for (int i = from; i < from + width; ++i)
                        if (r[i] != 0.0f) lastBand = sfb;
                    start += 3 * width;
                }
                if (lastBand >= firstShort) anyShortNonzero = true;
                start = lineBase;
                int prevPos = lsf ? 0 : -1;
                for (int sfb = firstShort; sfb < 13; ++sfb) {
                    const int width = bands.shortEdge[sfb + 1] - bands.shortEdge[sfb];
                    if (sfb > lastBand) {
                        int pos;
                        if (sfb == 12) {
                            pos = prevPos;
                        } else {
                            const int idx = sfBase + 3 * (sfb - firstShort) + w;
                            pos = sf[idx];
                            if (invalid(idx, pos)) pos = -1;
                        }
                        prevPos = pos;
                        for (int i = start + w * width; i < start + (w + 1) * width; ++i)
                            isPos[i] = pos;
                    } else {
                        prevPos = lsf ? 0 : -1;
                    }
                    start += 3 * width;
                }
            }
            if (g.mixed && !anyShortNonzero) {
                const int longBands = h.version == 0 ? 8 : 6;
                int lastNonzero = -1;
                for (int i = lineBase - 1; i >= 0; --i)
                    if (r[i] != 0.0f) {
                        lastNonzero = i;
                        break;
                    }
                for (int sfb = 0; sfb < longBands; ++sfb) {
                    if (bands.longEdge[sfb + 1] <= lastNonzero + 1 && lastNonzero >= 0) continue;
                    if (lastNonzero >= bands.longEdge[sfb]) continue;
                    int pos = sf[sfb];
                    if (invalid(sfb, pos)) pos = -1;
                    for (int i = bands.longEdge[sfb]; i < bands.longEdge[sfb + 1]; ++i)
                        isPos[i] = pos;
                }
            }
        }
    }

    const int n = std::max(nonzero_[0], nonzero_[1]);
    const int limit = is ? 576 : n;
    for (int i = 0; i < limit; ++i) {
        const int pos = isPos[i];
        if (pos >= 0) {
            const float v = l[i];
            if (!lsf) {
                l[i] = v * k.isRatioL[pos];
                r[i] = v * k.isRatioR[pos];
            } else if (pos == 0) {
                r[i] = v;
            } else if (pos & 1) {
                l[i] = v * k.lsfIs[isScale][pos & 31];
                r[i] = v;
            } else {
                r[i] = v * k.lsfIs[isScale][pos & 31];
            }
        } else if (ms) {
            const float m = l[i], s = r[i];
            l[i] = (m + s) * kInvSqrt2;
            r[i] = (m - s) * kInvSqrt2;
        }
    }
    const int extent = is ? std::max(nonzero_[0], n) : n;
    nonzero_[0] = nonzero_[1] = extent;
}

// ---------------------------------------------------------------------------------------------

void Layer3::Reorder(const FrameHeader& h, const GranuleInfo& g, float* xr) {
    if (!(g.windowSwitching && g.blockType == 2)) return;
    const BandTable& bands = Bands(h);
    const int firstShort = g.mixed ? 3 : 0;
    int start = g.mixed ? bands.longEdge[h.version == 0 ? 8 : 6] : 0;
    float tmp[576];
    for (int sfb = firstShort; sfb < 13; ++sfb) {
        const int width = bands.shortEdge[sfb + 1] - bands.shortEdge[sfb];
        for (int w = 0; w < 3; ++w)
            for (int i = 0; i < width; ++i) tmp[3 * i + w] = xr[start + w * width + i];
        std::memcpy(xr + start, tmp, sizeof(float) * 3 * width);
        start += 3 * width;
    }
}

void Layer3::AliasReduce(const FrameHeader& h, const GranuleInfo& g, float* xr) {
    int bounds = 31;
    if (g.windowSwitching && g.blockType == 2) {
        if (!g.mixed) return;
        bounds = Bands(h).longEdge[h.version == 0 ? 8 : 6] / 18 - 1;
    }
    const Constants& k = K();
    for (int sb = 1; sb <= bounds; ++sb) {
        float* lo = xr + 18 * sb - 1;
        float* hi = xr + 18 * sb;
        for (int i = 0; i < 8; ++i) {
            const float bu = lo[-i], bd = hi[i];
            lo[-i] = bu * k.aliasCs[i] - bd * k.aliasCa[i];
            hi[i] = bd * k.aliasCs[i] + bu * k.aliasCa[i];
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Concealment

void Layer3::StoreHistory(int ch, const GranuleInfo& g, const float* xr) {
    History& hs = history_[ch];
    const int slot = (hs.newest + 1) & 3;
    hs.newest = slot;
    std::memcpy(hs.spectrum[slot], xr, sizeof hs.spectrum[slot]);
    hs.blockType[slot] = g.windowSwitching ? g.blockType : 0;
    hs.mixed[slot] = g.mixed;
    hs.windowSwitching[slot] = g.windowSwitching;
    hs.valid[slot] = true;
    hs.avgFresh = false;
}

void Layer3::Conceal(int ch, const FrameHeader& h, float* xr, GranuleInfo& g) {
    History& hs = history_[ch];
    const BandTable& bands = Bands(h);
    if (!hs.avgFresh) {
        for (int i = 0; i < 576; ++i) {
            float sum = 0.0f;
            for (int back = 0; back < 3; ++back) {
                const int slot = (hs.newest - back) & 3;
                if (hs.valid[slot]) sum += std::fabs(hs.spectrum[slot][i]);
            }
            hs.avg[i] = sum * 0.33333334f;
        }
        for (int b = 0; b < 22; ++b) {
            float e = 0.0f;
            for (int i = bands.longEdge[b]; i < bands.longEdge[b + 1]; ++i)
                e += hs.avg[i] * hs.avg[i];
            hs.avgEnergy[b] = e;
        }
        hs.avgFresh = true;
    }
    const int slot = hs.newest;
    g = GranuleInfo{};
    if (hs.valid[slot]) {
        g.windowSwitching = hs.windowSwitching[slot];
        g.blockType = hs.blockType[slot];
        g.mixed = hs.mixed[slot];
    }
    int last = 0;
    for (int b = 0; b < 22; ++b) {
        const int from = bands.longEdge[b], to = bands.longEdge[b + 1];
        float sumSq = 0.0f;
        for (int i = from; i < to; ++i) {
            float v;
            if (b == 0)
                v = random_.NextSignNegative() ? -hs.avg[i] : hs.avg[i];
            else
                v = random_.Uniform() - 0.5f;
            xr[i] = v;
            sumSq += v * v;
        }
        const float energy = hs.avgEnergy[b];
        // A tiny or zero sum of squares would turn the scale into infinity or NaN.
        float scale = 0.0f;
        if (energy > 0.0f && sumSq > 1e-30f) {
            scale = std::sqrt(energy / sumSq);
            if (!std::isfinite(scale)) scale = 0.0f;
        }
        for (int i = from; i < to; ++i) xr[i] *= scale;
        if (scale != 0.0f) last = to;
    }
    nonzero_[ch] = last;
}

// ---------------------------------------------------------------------------------------------
// IMDCT and synthesis

TRALUX_VECTOR_CLONES
void Layer3::Imdct(int ch, const FrameHeader& h, const GranuleInfo& g, const float* xr,
                   float* out) {
    const Constants& k = K();
    const int limit = 32 >> rateShift_;
    int used = 0;  // subbands holding nonzero lines (after alias reduction)
    for (int i = 575; i >= 0; --i)
        if (xr[i] != 0.0f) {
            used = i / 18 + 1;
            break;
        }
    used = std::min(used, limit);
    float* ov = overlap_[ch];
    // The long subbands of a mixed block use the normal window, whatever the block type.
    const int mixedLong =
        g.windowSwitching && g.mixed ? Bands(h).longEdge[h.version == 0 ? 8 : 6] / 18 : 0;
    const int blockType = g.windowSwitching ? g.blockType : 0;
    auto typeOf = [&](int sb) { return sb < mixedLong ? 0 : blockType; };
    for (int sb0 = 0; sb0 < limit; sb0 += 4) {
        float* sv4 = ov + OvIdx(sb0, 0);
        if (sb0 >= used) {
            for (int i = 0; i < 18; ++i)
                for (int l = 0; l < 4; ++l) out[18 * (sb0 + l) + i] = sv4[4 * i + l];
            std::memset(sv4, 0, sizeof(float) * 72);
            continue;
        }
        const int type = typeOf(sb0);
        if (type != 2 && typeOf(sb0 + 3) == type) {
            V4 in[18], saved[18], o[18];
            const float* x = xr + 18 * sb0;
            for (int i = 0; i < 16; i += 4) {
                in[i] = LoadV4(x + i), in[i + 1] = LoadV4(x + 18 + i);
                in[i + 2] = LoadV4(x + 36 + i), in[i + 3] = LoadV4(x + 54 + i);
                Transpose4(in[i], in[i + 1], in[i + 2], in[i + 3]);
            }
            for (int i = 16; i < 18; ++i) in[i] = V4{x[i], x[18 + i], x[36 + i], x[54 + i]};
            for (int i = 0; i < 18; ++i) saved[i] = LoadV4(sv4 + 4 * i);
            LongBlock(in, k.imdctWindow[type], saved, o);
            for (int i = 0; i < 18; ++i) StoreV4(sv4 + 4 * i, saved[i]);
            float* y = out + 18 * sb0;
            for (int i = 0; i < 16; i += 4) {
                Transpose4(o[i], o[i + 1], o[i + 2], o[i + 3]);
                StoreV4(y + i, o[i]), StoreV4(y + 18 + i, o[i + 1]);
                StoreV4(y + 36 + i, o[i + 2]), StoreV4(y + 54 + i, o[i + 3]);
            }
            for (int i = 16; i < 18; ++i)
                for (int l = 0; l < 4; ++l) y[18 * l + i] = o[i][l];
            continue;
        }
        for (int sb = sb0; sb < sb0 + 4; ++sb) {
            const float* in = xr + 18 * sb;
            float* o = out + 18 * sb;
            float sv[18];
            for (int i = 0; i < 18; ++i) sv[i] = ov[OvIdx(sb, i)];
            if (typeOf(sb) != 2) {
                LongBlock(in, k.imdctWindow[typeOf(sb)], sv, o);
            } else {
                float z[36] = {};
                for (int w = 0; w < 3; ++w) {
                    for (int i = 0; i < 12; ++i) {
                        float s = 0.0f;
                        for (int j = 0; j < 6; ++j) s += in[3 * j + w] * k.shortCos[i][j];
                        z[6 + 6 * w + i] += s * k.shortWindow[i];
                    }
                }
                for (int i = 0; i < 18; ++i) {
                    o[i] = sv[i] + z[i];
                    sv[i] = z[18 + i];
                }
            }
            for (int i = 0; i < 18; ++i) ov[OvIdx(sb, i)] = sv[i];
        }
    }
    // Frequency inversion.
    for (int sb = 1; sb < limit; sb += 2)
        for (int i = 1; i < 18; i += 2) out[18 * sb + i] = -out[18 * sb + i];
}

TRALUX_VECTOR_CLONES
void Layer3::Synthesize(int ch, const float* sb, float* pcm) {
    static const float* const kLee[5] = {K().lee[0], K().lee[1], K().lee[2], K().lee[3],
                                         K().lee[4]};
    const int limit = 32 >> rateShift_;
    float* ring = synth_[ch];
    // Four time slots at once through the DCT; `sb` is readable two values past its 576.
    for (int t0 = 0; t0 < 18; t0 += 4) {
        V4 s[32], x[33];
        for (int i = 0; i < limit; ++i) s[i] = LoadV4(sb + 18 * i + t0);
        for (int i = limit; i < 32; ++i) s[i] = V4{};
        Dct<32>(s, x, kLee);
        x[32] = V4{};
        // Each slot stores its full 64-value vector V one ring entry below the previous slot's;
        // the ring holds 32 entries, so the four new ones never touch the 16 a window reads.
        const int lanes = std::min(4, 18 - t0);
        const int base = synthPos_[ch];
        float* v[4];
        for (int l = 0; l < 4; ++l) v[l] = ring + 64 * ((base - 1 - l) & 31);
        auto put = [&](int at, V4 a, V4 b, V4 c, V4 d) {
            Transpose4(a, b, c, d);
            const V4 rows[4] = {a, b, c, d};
            for (int l = 0; l < lanes; ++l) StoreV4(v[l] + at, rows[l]);
        };
        for (int i = 0; i < 16; i += 4) put(i, x[16 + i], x[17 + i], x[18 + i], x[19 + i]);
        for (int i = 0; i < 32; i += 4) put(16 + i, -x[32 - i], -x[31 - i], -x[30 - i], -x[29 - i]);
        for (int i = 0; i < 16; i += 4) put(48 + i, -x[i], -x[i + 1], -x[i + 2], -x[i + 3]);
        for (int l = 0; l < lanes; ++l)
            SynthWindow(ring, (base - 1 - l) & 31, rateShift_, K().synthWindow,
                        pcm + (t0 + l) * limit);
        synthPos_[ch] = (base - lanes) & 31;
    }
}

void Layer3::Emit(const FrameHeader& h, int gr, float* pcm[2], int outCh, void* out,
                  bool floatOutput) {
    const int n = 576 >> rateShift_;
    const size_t offset = static_cast<size_t>(gr) * n * outCh;
    if (floatOutput) {
        float* o = static_cast<float*>(out) + offset;
        for (int c = 0; c < outCh; ++c)
            for (int i = 0; i < n; ++i) o[i * outCh + c] = pcm[c][i] * 0.000030517578125f;
        return;
    }
    // Adding and removing 1.5 * 2^23 rounds to the nearest integer, ties to even; clamping in
    // floating point first keeps a hostile frame's sums from overflowing an integer.
    auto round16 = [](float v) {
        v = std::min(std::max(v, -32768.0f), 32767.0f);
        return static_cast<int>((v + 12582912.0f) - 12582912.0f);
    };
    if (eightBit_) {
        uint8_t* o = static_cast<uint8_t*>(out) + offset;
        for (int c = 0; c < outCh; ++c)
            for (int i = 0; i < n; ++i)
                o[i * outCh + c] = static_cast<uint8_t>((round16(pcm[c][i]) + 32768) >> 8);
        return;
    }
    int16_t* o = static_cast<int16_t*>(out) + offset;
    if (outCh == 2) {
        const float* l = pcm[0];
        const float* r = pcm[1];
        int i = 0;
#if defined(__SSE2__)
        // The same rounding (the default mode: nearest, ties to even) four pairs at a time.
        const __m128 lo = _mm_set1_ps(-32768.0f), hi = _mm_set1_ps(32767.0f);
        for (; i + 4 <= n; i += 4) {
            const __m128i a = _mm_cvtps_epi32(_mm_min_ps(_mm_max_ps(_mm_loadu_ps(l + i), lo), hi));
            const __m128i b = _mm_cvtps_epi32(_mm_min_ps(_mm_max_ps(_mm_loadu_ps(r + i), lo), hi));
            const __m128i pairs =
                _mm_packs_epi32(_mm_unpacklo_epi32(a, b), _mm_unpackhi_epi32(a, b));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(o + 2 * i), pairs);
        }
#endif
        for (; i < n; ++i) {
            o[2 * i] = static_cast<int16_t>(round16(l[i]));
            o[2 * i + 1] = static_cast<int16_t>(round16(r[i]));
        }
        return;
    }
    for (int i = 0; i < n; ++i) o[i] = static_cast<int16_t>(round16(pcm[0][i]));
}

// ---------------------------------------------------------------------------------------------

FrameResult Layer3::DecodeFrame(const FrameHeader& h, const uint8_t* frame, void* out,
                                bool floatOutput) {
    const int headerBytes = h.crc ? 6 : 4;
    SideInfo si;
    bool structureOk = h.frameBytes >= headerBytes + h.sideInfoBytes;
    if (structureOk) structureOk = ReadSideInfo(h, frame + headerBytes, si);
    bool crcOk = true;
    if (structureOk && h.crc) {
        // CRC-16 (polynomial 0x8005, initial 0xFFFF) over header bytes 2..3 and the side information.
        uint32_t crc = 0xFFFF;
        auto feed = [&](uint8_t byte) {
            for (int b = 7; b >= 0; --b) {
                const uint32_t bit = (byte >> b) & 1;
                const uint32_t top = (crc >> 15) & 1;
                crc = (crc << 1) & 0xFFFF;
                if (top ^ bit) crc ^= 0x8005;
            }
        };
        feed(frame[2]);
        feed(frame[3]);
        for (int i = 0; i < h.sideInfoBytes; ++i) feed(frame[6 + i]);
        const uint32_t stored = (uint32_t(frame[4]) << 8) | frame[5];
        crcOk = crc == stored;
    }

    // Append this frame's main data; the reservoir test uses what was held before it.
    const int mainStart = std::min(h.frameBytes, headerBytes + h.sideInfoBytes);
    const size_t mainBytes =
        h.frameBytes > mainStart ? static_cast<size_t>(h.frameBytes - mainStart) : 0;
    const size_t held = reservoirLen_;
    const size_t keep = std::min<size_t>(held, 511);
    if (held > keep) {
        std::memmove(reservoir_, reservoir_ + held - keep, keep);
        reservoirLen_ = keep;
    }
    const size_t heldBefore = reservoirLen_;
    const size_t take = std::min(mainBytes, sizeof reservoir_ - 64 - reservoirLen_);
    std::memcpy(reservoir_ + reservoirLen_, frame + mainStart, take);
    reservoirLen_ += take;
    std::memset(reservoir_ + reservoirLen_, 0, 64);

    const int outCh = mono_ ? 1 : h.channels;
    FrameResult result = crcOk ? FrameResult::kOk : FrameResult::kCrcError;
    bool concealAll = !crcOk;
    if (!structureOk) {
        concealAll = true;
        result = FrameResult::kConcealed;
    } else if (static_cast<size_t>(si.mainDataBegin) > heldBefore) {
        concealAll = true;
        result = FrameResult::kMissingMainData;
    }
    size_t totalBits = 0;
    if (!concealAll) {
        for (int gr = 0; gr < h.granules; ++gr)
            for (int ch = 0; ch < h.channels; ++ch) totalBits += si.gr[gr][ch].part23Length;
        const size_t available = (static_cast<size_t>(si.mainDataBegin) + take) * 8;
        if (totalBits > available) {
            concealAll = true;
            result = FrameResult::kConcealed;
        }
    }

    const uint8_t* data = reservoir_ + (heldBefore - (concealAll ? 0 : si.mainDataBegin));
    size_t bitPos = 0;
    const size_t endBits = (reservoirLen_ - (heldBefore - (concealAll ? 0 : si.mainDataBegin))) * 8;
    float sbBuf[2][576 + 4];
    for (float* b : sbBuf) std::fill(b + 576, b + 580, 0.0f);
    float pcmBuf[2][32 * 18];
    for (int gr = 0; gr < h.granules; ++gr) {
        bool conceal = concealAll;
        if (!conceal && !DecodeGranule(h, si, gr, data, bitPos, endBits)) {
            conceal = true;
            if (result == FrameResult::kOk) result = FrameResult::kConcealed;
        }
        GranuleInfo g[2];
        if (!conceal) {
            g[0] = si.gr[gr][0];
            g[1] = si.gr[gr][h.channels > 1 ? 1 : 0];
            Stereo(h, si, gr);
        }
        // Mono output of a stereo stream: both channels go through their own IMDCT (their block
        // types may differ), and the mixed subband signal through one synthesis.
        const int transformed = mono_ ? h.channels : outCh;
        for (int c = 0; c < transformed; ++c) {
            float* xr = xr_[c];
            if (!conceal) {
                Reorder(h, g[c], xr);
                AliasReduce(h, g[c], xr);
                StoreHistory(c, g[c], xr);
            } else {
                Conceal(c, h, xr, g[c]);
            }
            Imdct(c, h, g[c], xr, sbBuf[c]);
        }
        const int per = 32 >> rateShift_;
        if (transformed > outCh)
            for (int i = 0; i < 18 * per; ++i) sbBuf[0][i] = (sbBuf[0][i] + sbBuf[1][i]) * 0.5f;
        for (int c = 0; c < outCh; ++c) Synthesize(c, sbBuf[c], pcmBuf[c]);
        float* pcm[2] = {pcmBuf[0], pcmBuf[1]};
        Emit(h, gr, pcm, outCh, out, floatOutput);
    }
    return result;
}

}  // namespace mp3dec::detail
