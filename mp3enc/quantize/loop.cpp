#include "mp3enc/quantize/loop.h"

#include <algorithm>
#include <array>
#include <bit>
#include <climits>
#include <cmath>

#include "mp3enc/bitstream/frame.h"
#include "mp3enc/bitstream/huffman_coder.h"
#include "mp3enc/config/wide_clones.h"

namespace mp3enc {
namespace {

constexpr int kMinStep = -150;
constexpr int kMaxStep = 105;
constexpr int kPowOffset = 320;  // k = step - d ranges over [-320, 120)

struct Tables {
    std::array<float, 440> quantMul;  // 2^(-3/16 k)
    std::array<float, 440> recon;     // 2^(k/4)
    std::array<float, kMaxQuantValue + 1> pow43;
    Tables() {
        for (int i = 0; i < 440; ++i) {
            int k = i - kPowOffset;
            quantMul[static_cast<size_t>(i)] = static_cast<float>(std::pow(2.0, -3.0 / 16.0 * k));
            recon[static_cast<size_t>(i)] = static_cast<float>(std::pow(2.0, k / 4.0));
        }
        for (int i = 0; i <= kMaxQuantValue; ++i)
            pow43[static_cast<size_t>(i)] =
                static_cast<float>(std::pow(static_cast<double>(i), 4.0 / 3.0));
    }
};

const Tables& T() {
    static const Tables t;
    return t;
}

int NBits(int v) {
    return v > 0 ? static_cast<int>(std::bit_width(static_cast<unsigned>(v))) : 0;
}

// Bits of the largest scalefactor in [from, to).
int MaxBits(const int* sf, int from, int to) {
    int mx = 0;
    for (int i = from; i < to; ++i) mx = std::max(mx, sf[i]);
    return NBits(mx);
}

constexpr int kSlen1[16] = {0, 0, 0, 0, 3, 1, 1, 1, 2, 2, 2, 3, 3, 3, 4, 4};
constexpr int kSlen2[16] = {0, 1, 2, 3, 0, 1, 2, 3, 1, 2, 3, 1, 2, 3, 2, 3};

// The cheapest scalefac_compress whose lengths hold n1 and n2 bits, c1 and c2 scalefactors
// long; -1 when none does.
int CheapestCompress(int n1, int n2, int c1, int c2) {
    int best = -1, bestBits = INT_MAX;
    for (int c = 0; c < 16; ++c) {
        if (kSlen1[c] < n1 || kSlen2[c] < n2) continue;
        int b = c1 * kSlen1[c] + c2 * kSlen2[c];
        if (b < bestBits) {
            bestBits = b;
            best = c;
        }
    }
    return best;
}

// CheapestCompress for every length a scalefactor can have, long (0) and short (1) blocks.
struct CompressTable {
    int8_t best[2][5][4];
    CompressTable() {
        for (int s = 0; s < 2; ++s)
            for (int n1 = 0; n1 < 5; ++n1)
                for (int n2 = 0; n2 < 4; ++n2)
                    best[s][n1][n2] =
                        static_cast<int8_t>(CheapestCompress(n1, n2, s ? 18 : 11, s ? 18 : 10));
    }
};

const CompressTable& Compress() {
    static const CompressTable t;
    return t;
}

}  // namespace

bool LoopKernel::Create(int sampleRate, int channels, const LoopOptions& opt) {
    sfb_ = SfbBoundsFor(sampleRate);
    version_ = VersionOfRate(sampleRate);
    if (!sfb_ || version_ < 0 || channels < 1 || channels > 2) return false;
    rate_ = sampleRate;
    channels_ = channels;
    granules_ = version_ == 0 ? 2 : 1;
    opt_ = opt;
    opt_.amp = std::clamp(opt_.amp, 0, 3);
    opt_.mol = std::clamp(opt_.mol, 1, 1000);
    opt_.itm = std::clamp(opt_.itm, 0, 3);
    longUnits_.clear();
    for (int b = 0; b < 22; ++b)
        longUnits_.push_back({sfb_->longB[b], sfb_->longB[b + 1] - sfb_->longB[b], b < 21 ? b : -1,
                              kPretab[b], b < 11 ? 15 : 7});
    shortUnits_.clear();
    for (int b = 0; b < 13; ++b) {
        int w = sfb_->shortB[b + 1] - sfb_->shortB[b];
        for (int win = 0; win < 3; ++win)
            shortUnits_.push_back(
                {3 * sfb_->shortB[b] + win * w, w, b < 12 ? b * 3 + win : -1, 0, b < 6 ? 15 : 7});
    }
    (void)T();
    (void)Compress();
    return true;
}

MP3ENC_WIDE_CLONES
void LoopKernel::Prepare(int gr, int ch, int blockType, const float* xr, const float* xmin) {
    Member& m = m_[gr][ch];
    m.blockType = blockType;
    m.isShort = blockType == 2;
    m.units = m.isShort ? &shortUnits_ : &longUnits_;
    int nu = static_cast<int>(m.units->size());
    m.nz = 0;
    std::fill(m.q, m.q + 576, 0);
    Forget(m);
    // Branch-free so that it vectorizes. The largest x^(3/4) is taken over the values' bit
    // patterns: for floats that are not negative these order as the values do.
    int32_t mxBits = 0;
    const float* __restrict in = xr;
    uint8_t* __restrict neg = m.neg;
    float* __restrict absx = m.absx;
    float* __restrict xr34 = m.xr34;
    for (int i = 0; i < 576; ++i) {
        float v = in[i];
        v = std::isfinite(v) ? v : 0.0f;
        neg[i] = v < 0;
        const float a = std::fabs(v);
        absx[i] = a;
        const float x34 = std::sqrt(a * std::sqrt(a));
        xr34[i] = x34;
        mxBits = std::max(mxBits, std::bit_cast<int32_t>(x34));
    }
    const float mx = std::bit_cast<float>(mxBits);
    for (int i = 575; i >= 0; --i)
        if (m.absx[i] > 0) {
            m.nz = i + 1;
            break;
        }
    for (int u = 0; u < nu; ++u) {
        float v = xmin ? xmin[u] : 1.0f;
        m.xmin[u] = (std::isfinite(v) && v > 1e-20f) ? v : 1e-20f;
    }
    m.startStep = 0;
    if (mx > 0) {
        double s = std::ceil(7.6943736 * std::log(static_cast<double>(mx)) - 69.3324);
        m.startStep = static_cast<int>(
            std::clamp(s, static_cast<double>(kMinStep), static_cast<double>(kMaxStep)));
    }
}

namespace {

// Quantizes lines [begin, end) with one step multiplier; nonzero when a value overflowed.
// Branch-free so that it vectorizes; any value above the table's reach overflows.
MP3ENC_WIDE_CLONES
int QuantizeLines(const float* __restrict x, int* __restrict q, int begin, int end, float mul) {
    int o = 0;
    for (int i = begin; i < end; ++i) {
        const float v = x[i] * mul + 0.4054f;
        o |= v > static_cast<float>(kMaxQuantValue);
        q[i] = static_cast<int>(
            v > static_cast<float>(kMaxQuantValue) ? static_cast<float>(kMaxQuantValue) : v);
    }
    return o;
}

}  // namespace

void LoopKernel::Quantize(Member& m) {
    const Tables& t = T();
    // Lines from nz on were cleared by Prepare and are never written; the units cover the rest.
    // A unit whose step is the one it was last quantized with keeps its values: the outer loop
    // amplifies a band or two per pass and the rest would come out the same.
    const std::vector<Unit>& units = *m.units;
    int k[39];
    size_t used = 0;
    for (; used < units.size(); ++used) {
        const Unit& u = units[used];
        if (u.start >= m.nz) break;
        int sf = u.sfIndex >= 0 ? m.sf[u.sfIndex] : 0;
        int d = (sf + (m.isShort ? 0 : m.preflag * u.pretab)) << (1 + m.sfScale);
        k[used] = std::clamp(m.step - d, -kPowOffset, 119);
    }
    // Neighbouring units (they follow one another in line order) that need the same new step
    // are quantized in one run.
    bool changed = false;
    for (size_t a = 0; a < used;) {
        if (k[a] == m.qK[a]) {
            ++a;
            continue;
        }
        size_t b = a + 1;
        while (b < used && k[b] == k[a] && k[b] != m.qK[b]) ++b;
        const float mul = t.quantMul[static_cast<size_t>(k[a] + kPowOffset)];
        const Unit& last = units[b - 1];
        const int end = std::min(last.start + last.width, m.nz);
        const bool runOver = QuantizeLines(m.xr34, m.q, units[a].start, end, mul) != 0;
        for (size_t i = a; i < b; ++i) {
            m.qK[i] = k[a];
            m.qOver[i] = false;
        }
        if (runOver) {  // rare: find the units that overflowed
            for (size_t i = a; i < b; ++i) {
                const Unit& u = units[i];
                const int ue = std::min(u.start + u.width, m.nz);
                m.qOver[i] = QuantizeLines(m.xr34, m.q, u.start, ue, mul) != 0;
            }
        }
        changed = true;
        a = b;
    }
    bool over = false;
    for (size_t i = 0; i < used; ++i) over = over || m.qOver[i];
    m.overflow = over;
    if (changed) m.countValid = m.distValid = false;
}

void LoopKernel::Forget(Member& m) {
    std::fill(m.qK, m.qK + 39, INT_MIN);
    std::fill(m.dK, m.dK + 39, INT_MIN);
    m.countValid = m.distValid = false;
}

void LoopKernel::SetIntensity(int gr, int ch, const IntensityBands* is) {
    Member& m = m_[gr][ch];
    m.intensity = is != nullptr && ch == 1;
    if (is) m.isBands = *is;
    m.isLeft = m_[gr][0].q;
    m.countValid = false;
}

int LoopKernel::Part2Bits(const Member& m, GranuleInfo* g) const {
    // With intensity, what is written (and counted) are the positions, not the loop's values.
    int written[39];
    const int* sf = m.sf;
    if (m.intensity) {
        IntensityScalefactors(m.isBands, m.isShort, *sfb_, m.q, m.isLeft, m.sf, written);
        sf = written;
    }
    int need[4] = {0, 0, 0, 0};
    int counts[4];
    if (m.isShort) {
        counts[0] = counts[1] = counts[2] = counts[3] = 9;
        for (int p = 0; p < 4; ++p) need[p] = MaxBits(sf, 9 * p, 9 * p + 9);
    } else {
        counts[0] = 6;
        counts[1] = 5;
        counts[2] = 5;
        counts[3] = 5;
        need[0] = MaxBits(sf, 0, 6);
        need[1] = MaxBits(sf, 6, 11);
        need[2] = MaxBits(sf, 11, 16);
        need[3] = MaxBits(sf, 16, 21);
    }
    int slen[4];
    int sfc = 0;
    if (version_ == 0) {
        int n1 = std::max(need[0], need[1]), n2 = std::max(need[2], need[3]);
        int best = n1 < 5 && n2 < 4
                       ? Compress().best[m.isShort][n1][n2]
                       : CheapestCompress(n1, n2, m.isShort ? 18 : 11, m.isShort ? 18 : 10);
        if (best < 0) best = 15;  // caps keep the values within 4/3 bits
        sfc = best;
        slen[0] = slen[1] = kSlen1[best];
        slen[2] = slen[3] = kSlen2[best];
    } else {
        for (int p = 0; p < 4; ++p) slen[p] = std::min(need[p], p < 2 ? 4 : 3);
        sfc = ((slen[0] * 5 + slen[1]) << 4) + (slen[2] << 2) + slen[3];
    }
    int bits = 0;
    for (int p = 0; p < 4; ++p) bits += counts[p] * slen[p];
    if (g) {
        g->scalefac_compress = sfc;
        for (int p = 0; p < 4; ++p) {
            g->slen[p] = slen[p];
            g->partCount[p] = counts[p];
        }
        int n = m.isShort ? 36 : 21;
        for (int i = 0; i < n; ++i) g->sf[i] = sf[i];
    }
    return bits;
}

int LoopKernel::CountBits(Member& m) {
    Quantize(m);
    m.part2 = Part2Bits(m, nullptr);
    if (m.overflow) {
        m.part3 = 100000;  // above any budget: forces a coarser step
        return m.part2 + m.part3;
    }
    if (m.countValid) return m.part2 + m.part3;
    // Reused: a fresh record would clear 2.4 kB on every count.
    GranuleInfo& g = countScratch_;
    g.block_type = m.blockType;
    int p3 = ChooseHuffman(g, m.q, sfb_->longB, false, m.nz);
    m.part3 = p3 < 0 ? 100000 : p3;
    m.countValid = true;
    return m.part2 + m.part3;
}

void LoopKernel::Distortion(Member& m) {
    if (m.distValid) return;
    m.distValid = true;
    const Tables& t = T();
    m.maxNmr = 0;
    m.nDist = 0;
    m.nBands = 0;
    m.excessDb = 0;
    double sumDist = 0;
    const std::vector<Unit>& units = *m.units;
    for (size_t ui = 0; ui < units.size(); ++ui) {
        const Unit& u = units[ui];
        if (u.sfIndex < 0) continue;
        int sf = m.sf[u.sfIndex];
        int d = (sf + (m.isShort ? 0 : m.preflag * u.pretab)) << (1 + m.sfScale);
        int k = std::clamp(m.step - d, -kPowOffset, 119);
        // A unit's values depend only on its step, so its noise does too.
        if (k != m.dK[ui]) {
            float r = t.recon[static_cast<size_t>(k + kPowOffset)];
            float sum = 0;
            for (int i = u.start; i < u.start + u.width; ++i) {
                float e =
                    m.absx[i] - t.pow43[static_cast<size_t>(std::min(m.q[i], kMaxQuantValue))] * r;
                sum += e * e;
            }
            m.dK[ui] = k;
            m.dNoise[ui] = sum;
        }
        const float noise = m.dNoise[ui];
        float nmr = static_cast<float>(noise / m.xmin[u.sfIndex]);
        m.nmr[u.sfIndex] = nmr;
        ++m.nBands;
        m.maxNmr = std::max(m.maxNmr, nmr);
        if (nmr > 1.0f) {
            ++m.nDist;
            sumDist += nmr;
            m.excessDb += 10.0f * std::log10(nmr);
        }
    }
    m.meanDistNmr = m.nDist ? static_cast<float>(sumDist / m.nDist) : 0.0f;
}

bool LoopKernel::Amplify(Member& m) {
    if (!m.canAmplify || m.nDist == 0) return false;
    float thr = 1.0f;
    switch (opt_.amp) {
        case 0:
            thr = 1.0f;
            break;
        case 1:
            thr = m.maxNmr;
            break;
        case 2:
            thr = (m.nDist == m.nBands) ? m.meanDistNmr : 1.0f;
            break;
        case 3:
            thr = (10 * m.nDist >= 9 * m.nBands) ? m.meanDistNmr : 1.0f;
            break;
    }
    thr = std::max(thr, 1.0f);
    bool changed = false;
    for (const Unit& u : *m.units) {
        if (u.sfIndex < 0) continue;
        if (m.nmr[u.sfIndex] >= thr && m.nmr[u.sfIndex] > 1.0f) {
            if (m.sf[u.sfIndex] + 1 > u.cap) {
                if (m.sfScale == 0) {
                    // Outgrown lengths: double the scalefactor step and halve the scalefactors (rounding
                    // up, so no band loses amplification); the range doubles.
                    m.sfScale = 1;
                    for (int& v : m.sf) v = (v + 1) / 2;
                }
                if (m.sf[u.sfIndex] + 1 > u.cap) {
                    // A scalefactor at its length limit: this member cannot be amplified further.
                    m.canAmplify = false;
                    return changed;
                }
            }
            m.sf[u.sfIndex] += 1;
            changed = true;
        }
    }
    if (!changed) return false;
    int n = m.isShort ? 36 : 21;
    if (!m.isShort && version_ == 0 && !m.preflag && !m.preflagUsed) {
        bool all = true;
        for (int b = 0; b < 21; ++b)
            if (m.sf[b] < kPretab[b]) {
                all = false;
                break;
            }
        if (all) {
            for (int b = 0; b < 21; ++b) m.sf[b] -= kPretab[b];
            m.preflag = 1;
            m.preflagUsed = true;
        }
    }
    int mn = INT_MAX;
    for (int i = 0; i < n; ++i) mn = std::min(mn, m.sf[i]);
    if (mn >= 1 && mn != INT_MAX) {
        for (int i = 0; i < n; ++i) m.sf[i] -= mn;
        m.step = std::max(kMinStep, m.step - 2 * mn * (m.sfScale + 1));
    }
    return true;
}

void LoopKernel::RateLoop(std::vector<Member*>& grp, int budget, bool& frameDone) {
    int n = 0;
    for (Member* m : grp) n += std::max(1, m->nz);
    auto count = [&]() {
        int u = 0;
        for (Member* m : grp) u += CountBits(*m);
        return u;
    };
    int U = count();
    int net = 0;
    bool fine = false;
    for (int iter = 0; iter < 200; ++iter) {
        if (fine && U <= budget) break;
        if (!fine && U == budget) break;
        int t;
        if (fine) {
            t = 1;
        } else {
            double x = 16.0 * (U - budget) / (3.0 * n);
            if (U > budget) {
                t = std::max(1, static_cast<int>(std::lround(x)));
                if (t == 1) fine = true;
            } else {
                t = std::min(-1, static_cast<int>(std::trunc(x - 0.5)));
            }
        }
        if (net + t < 0) t = -net;
        if (t == 0) break;  // already at the finest start step and within budget
        bool changed = false;
        for (Member* m : grp) {
            int ns = std::min(kMaxStep, m->step + t);
            if (ns != m->step) changed = true;
            m->step = ns;
        }
        if (!changed) {
            frameDone = true;
            break;
        }
        net += t;
        U = count();
        if (!fine && t < 0 && U > budget) fine = true;
    }
    // No granule may exceed what part2_3_length can signal.
    for (Member* m : grp) {
        while (m->part2 + m->part3 > 4095 && m->step < kMaxStep) {
            ++m->step;
            CountBits(*m);
        }
    }
}

int LoopKernel::AllowedStep(const Member& m, const Unit& u, float xmin) const {
    const int end = std::min(u.start + u.width, m.nz);
    float energy = 0, mx = 0;
    for (int i = u.start; i < end; ++i) {
        energy += m.absx[i] * m.absx[i];
        mx = std::max(mx, m.xr34[i]);
    }
    if (!(energy > xmin)) return INT_MAX;  // zeroed, the band stays within what it may lose
    const Tables& t = T();
    auto noise = [&](int k) {
        const float mul = t.quantMul[static_cast<size_t>(k + kPowOffset)];
        const float r = t.recon[static_cast<size_t>(k + kPowOffset)];
        float sum = 0;
        for (int i = u.start; i < end; ++i) {
            const int q = std::min(static_cast<int>(m.xr34[i] * mul + 0.4054f), kMaxQuantValue);
            const float e = m.absx[i] - t.pow43[static_cast<size_t>(q)] * r;
            sum += e * e;
        }
        return sum;
    };
    // lo: the finest step without overflow; hi: the first that zeroes every line, whose noise
    // is the band's energy. Noise grows with the step closely enough for a bisection.
    const double l2 = std::log2(static_cast<double>(mx));
    int lo = static_cast<int>(std::ceil(16.0 / 3.0 * (l2 - std::log2(kMaxQuantValue - 1.0))));
    int hi = static_cast<int>(std::ceil(16.0 / 3.0 * (l2 - std::log2(0.5946)))) + 1;
    lo = std::clamp(lo, -kPowOffset, 119);
    hi = std::clamp(hi, lo, 119);
    if (noise(lo) > xmin) return lo;
    while (hi - lo > 1) {
        const int mid = (lo + hi) / 2;
        if (noise(mid) <= xmin)
            lo = mid;
        else
            hi = mid;
    }
    return lo;
}

void LoopKernel::ShapeStart(std::vector<Member*>& grp, int start, float depth) {
    // Each band's coarsest step within its allowed noise, measured from the group's coarsest
    // band: the scalefactors lift every band by depth times that distance, so that one step for
    // the group spreads the noise more as the ear allows. Bands that may be zeroed stay flat.
    int target[4][39];
    int ref = INT_MIN;
    // Short blocks stay flat and out of the reference: shaped, transients (clicks, castanets)
    // lost up to 0.4 ODG.
    for (size_t mi = 0; mi < grp.size(); ++mi) {
        Member& m = *grp[mi];
        if (m.isShort) continue;
        const std::vector<Unit>& units = *m.units;
        for (size_t ui = 0; ui < units.size(); ++ui) {
            const Unit& u = units[ui];
            int t = INT_MAX;
            if (u.sfIndex >= 0 && u.start < m.nz) t = AllowedStep(m, u, m.xmin[u.sfIndex]);
            target[mi][ui] = t;
            if (t != INT_MAX) ref = std::max(ref, t);
        }
    }
    if (ref == INT_MIN) return;
    for (size_t mi = 0; mi < grp.size(); ++mi) {
        Member& m = *grp[mi];
        if (m.isShort) continue;
        const std::vector<Unit>& units = *m.units;
        int lift[39];
        int mn = INT_MAX;
        for (size_t ui = 0; ui < units.size(); ++ui) {
            lift[ui] = -1;
            if (units[ui].sfIndex < 0 || target[mi][ui] == INT_MAX) continue;
            lift[ui] = static_cast<int>(std::lround(depth * (ref - target[mi][ui]) / 2));
            mn = std::min(mn, lift[ui]);
        }
        if (mn == INT_MAX) continue;  // nothing audible: flat
        for (size_t ui = 0; ui < units.size(); ++ui) {
            const Unit& u = units[ui];
            if (u.sfIndex < 0) continue;
            m.sf[u.sfIndex] = lift[ui] < 0 ? 0 : std::min(lift[ui] - mn, u.cap);
        }
        m.step = std::max(kMinStep, start - 2 * mn);
    }
}

void LoopKernel::Finish(Member& m, GranuleInfo& g, bool fullSearch) {
    Quantize(m);
    g = GranuleInfo();
    g.block_type = m.blockType;
    g.mixed_block_flag = 0;
    g.preflag = m.preflag;
    g.scalefac_scale = m.sfScale;
    g.global_gain = std::clamp(m.step + 150, 0, 255);
    int p2 = Part2Bits(m, &g);
    int p3 = m.overflow ? -1 : ChooseHuffman(g, m.q, sfb_->longB, fullSearch);
    if (p3 < 0 || p2 + p3 > 4095) {
        // Cannot happen after the rate loop; keep the stream valid regardless.
        std::fill(m.q, m.q + 576, 0);
        Forget(m);
        p2 = Part2Bits(m, &g);
        p3 = ChooseHuffman(g, m.q, sfb_->longB, false);
    }
    for (int i = 0; i < 576; ++i) g.ix[i] = m.neg[i] ? -m.q[i] : m.q[i];
    g.part2_length = p2;
    g.part2_3_length = p2 + p3;
}

void LoopKernel::RunFrame(const int budgets[2][2], int frameMaxBits, CodedFrame& out,
                          bool leftRight) {
    // Iteration groups.
    std::vector<std::vector<Member*>> groups;
    std::vector<int> groupBudget;
    auto add = [&](std::vector<std::pair<int, int>> idx) {
        std::vector<Member*> g;
        int b = 0;
        for (auto [gr, ch] : idx) {
            g.push_back(&m_[gr][ch]);
            b += std::min(budgets[gr][ch], 4095);
        }
        groups.push_back(g);
        groupBudget.push_back(b);
    };
    const bool apart = leftRight && (opt_.itm == 2 ? opt_.leftRightApart
                                                   : opt_.itm == 3 && opt_.leftRightApartFrame);
    switch (apart ? (opt_.itm == 2 ? 0 : 1) : opt_.itm) {
        case 0:
            for (int gr = 0; gr < granules_; ++gr)
                for (int ch = 0; ch < channels_; ++ch) add({{gr, ch}});
            break;
        case 1:
            for (int ch = 0; ch < channels_; ++ch) {
                std::vector<std::pair<int, int>> v;
                for (int gr = 0; gr < granules_; ++gr) v.push_back({gr, ch});
                add(v);
            }
            break;
        case 2:
            for (int gr = 0; gr < granules_; ++gr) {
                std::vector<std::pair<int, int>> v;
                for (int ch = 0; ch < channels_; ++ch) v.push_back({gr, ch});
                add(v);
            }
            break;
        default: {
            std::vector<std::pair<int, int>> v;
            for (int gr = 0; gr < granules_; ++gr)
                for (int ch = 0; ch < channels_; ++ch) v.push_back({gr, ch});
            add(v);
        }
    }
    lastOuter_ = 0;
    for (size_t gi = 0; gi < groups.size(); ++gi) {
        auto& grp = groups[gi];
        int start = INT_MIN;
        for (Member* m : grp) start = std::max(start, m->startStep);
        for (Member* m : grp) {
            m->step = start;
            std::fill(m->sf, m->sf + 39, 0);
            m->preflag = 0;
            m->sfScale = 0;
            m->preflagUsed = false;
            m->canAmplify = true;
        }
        // With a shaped start, the first pass codes the flat start and the second the shaped
        // one; the outer loop goes on from the better of the two.
        const bool shaped = opt_.shapeDepth > 0;
        float bestMax = INFINITY, bestExcess = INFINITY;
        bool frameDone = false;
        int sinceBest = 0;
        for (int pass = 0; pass < opt_.mol; ++pass) {
            lastOuter_ = std::max(lastOuter_, pass + 1);
            RateLoop(grp, groupBudget[gi], frameDone);
            float groupMax = 0, groupExcess = 0;
            for (Member* m : grp) {
                Distortion(*m);
                groupMax = std::max(groupMax, m->maxNmr);
                groupExcess += m->excessDb;
            }
            const bool better =
                opt_.compareExcess
                    ? groupExcess < bestExcess || (groupExcess == bestExcess && groupMax < bestMax)
                    : groupMax < bestMax;
            if (pass == 0 || better) {
                sinceBest = 0;
                bestMax = groupMax;
                bestExcess = groupExcess;
                for (Member* m : grp) {
                    m->bestStep = m->step;
                    std::copy(m->sf, m->sf + 39, m->bestSf);
                    m->bestPreflag = m->preflag;
                    m->bestSfScale = m->sfScale;
                }
            }
            // Passes that keep losing to the best one rarely turn round: stop after a few.
            if (frameDone || ++sinceBest > opt_.passesPastBest) break;
            if (shaped && pass == 0) {
                // Lifting bands only adds bits: the shaped start needs no finer step than the
                // flat one found, and its rate loop starts there.
                int flat = start;
                for (Member* m : grp) flat = std::max(flat, m->step);
                for (Member* m : grp) {
                    m->step = flat;
                    std::fill(m->sf, m->sf + 39, 0);
                    m->preflag = 0;
                    m->sfScale = 0;
                }
                ShapeStart(grp, flat, opt_.shapeDepth);
                continue;
            }
            if (shaped && pass == 1 && sinceBest > 0) {
                for (Member* m : grp) {
                    m->step = m->bestStep;
                    std::copy(m->bestSf, m->bestSf + 39, m->sf);
                    m->preflag = m->bestPreflag;
                    m->sfScale = m->bestSfScale;
                    m->preflagUsed = m->preflag != 0;
                    CountBits(*m);
                    Distortion(*m);
                }
            }
            bool amplified = false;
            if (opt_.amp == 1) {
                Member* worst = nullptr;
                for (Member* m : grp)
                    if (m->nDist > 0 && m->canAmplify && (!worst || m->maxNmr > worst->maxNmr))
                        worst = m;
                if (worst) amplified = Amplify(*worst);
            } else {
                for (Member* m : grp) amplified = Amplify(*m) || amplified;
            }
            if (!amplified) break;
        }
        for (Member* m : grp) {
            m->step = m->bestStep;
            std::copy(m->bestSf, m->bestSf + 39, m->sf);
            m->preflag = m->bestPreflag;
            m->sfScale = m->bestSfScale;
        }
    }
    out.modeExtension = 0;
    int total = 0;
    for (int gr = 0; gr < granules_; ++gr)
        for (int ch = 0; ch < channels_; ++ch) {
            Finish(m_[gr][ch], out.gr[gr][ch], opt_.hfs);
            total += out.gr[gr][ch].part2_3_length;
        }
    // Hard ceiling of the frame: coarsen the largest granules until the reservoir holds.
    int guard = 0;
    while (total > frameMaxBits && guard++ < 400) {
        int bg = 0, bc = 0;
        for (int gr = 0; gr < granules_; ++gr)
            for (int ch = 0; ch < channels_; ++ch)
                if (out.gr[gr][ch].part2_3_length > out.gr[bg][bc].part2_3_length) {
                    bg = gr;
                    bc = ch;
                }
        Member& m = m_[bg][bc];
        if (m.step >= kMaxStep) {
            std::fill(m.sf, m.sf + 39, 0);
            m.preflag = 0;
            m.sfScale = 0;
            if (m.step >= kMaxStep && out.gr[bg][bc].part2_3_length > 0) {
                std::fill(m.xr34, m.xr34 + 576, 0.0f);
                Forget(m);
            }
        }
        m.step = std::min(kMaxStep, m.step + 4);
        total -= out.gr[bg][bc].part2_3_length;
        Finish(m, out.gr[bg][bc], false);
        total += out.gr[bg][bc].part2_3_length;
    }
}

}  // namespace mp3enc
