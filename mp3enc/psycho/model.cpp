#include "mp3enc/psycho/model.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <deque>
#include <mutex>

#include "mp3enc/filterbank/mdct.h"
#include "mp3enc/filterbank/polyphase.h"
#include "mp3enc/psycho/partitions.h"
#include "mp3enc/psycho/block_switch.h"
#include "mp3enc/psycho/channel_threshold.h"
#include "mp3enc/psycho/fft_window.h"
#include "mp3enc/stereo/intensity.h"

namespace mp3enc {

namespace {

constexpr const char* kModule = "core/psych/enc/l3/psymain";
constexpr int kHistory = 2048;
// Offsets into the PCM history of the transforms centred on the granule being coded.
constexpr int kLongFftStart = 143;
constexpr int kShortFftStart = 335;
constexpr float kSqrtHalf = 0.70710678f;

// Natural-order index of line j of short window w (18 sb + 6 w + k).
inline int ShortIndex(int j, int w) {
    return 18 * (j / 6) + 6 * w + (j % 6);
}

}  // namespace

class PsyModelImpl {
public:
    struct Channel {
        PolyphaseAnalysis poly;
        alignas(16) float sbOld[kSubbands][kSlotsPerGranule] = {};
        alignas(16) float sbPrev[kSubbands][kSlotsPerGranule] = {};
        alignas(16) float sbCur[kSubbands][kSlotsPerGranule] = {};
        float hist[kHistory] = {};
        BlockSwitch sw;
        ThresholdChannel thr;
        alignas(16) float xr[576] = {};  // natural hybrid order
        float longRe[512], longIm[512];
        float shortRe[3][128], shortIm[3][128];
        float ratioLong[kSfbMaxLong] = {};
        float ratioShort[3][kSfbMaxShort] = {};
        Channel(int rate, int blm) : sw(rate, blm) {}
    };

    PsyModelConfig config;
    PsyParams params;
    PartitionTable lpt, spt;
    AdaptTable lat, sat;
    bool mpeg1 = true;
    bool mixedAllowed = false;
    int isBoundLong = kSfbMaxLong, isBoundShort = kSfbMaxShort;
    std::vector<std::unique_ptr<Channel>> ch;
    RealFft fftLong{1024}, fftShort{256};
    float winLong[1024], winShort[256];
    float scratch[1024];
    bool msFavouredBefore = false;
    bool msFrame = false, isFrame = false;
    long granule = 0;
    PsyGranuleOutput out;
    // Mid/side partition data of the current granule.
    std::vector<float> eM, eS, thrMS, partRatio;

    void Advance(const float* samples);

private:
    void Spectra(Channel& c);
    void MidSideDecision(int gif);
    void MidSidePartitions(const float* reL, const float* imL, const float* reR, const float* imR,
                           int lines, const PartitionTable& pt, int limit);
    void Ratios(const PartitionTable& pt, const float* e, const float* thr, const AdaptTable& at,
                int cbMode, float* bandRatio);
    void Intensity(int code, int gif, float ratioLong[2][kSfbMaxLong],
                   float ratioShort[2][3][kSfbMaxShort]);
    void Coding(int chIndex, int code, const float* ratioLong,
                const float (*ratioShort)[kSfbMaxShort]);
};

void PsyModelImpl::Spectra(Channel& c) {
    for (int i = 0; i < 1024; ++i) scratch[i] = c.hist[kLongFftStart + i] * winLong[i];
    fftLong.Forward(scratch, c.longRe, c.longIm);
    for (int w = 0; w < 3; ++w) {
        const float* src = c.hist + kShortFftStart + 192 * w;
        for (int i = 0; i < 256; ++i) scratch[i] = src[i] * winShort[i];
        fftShort.Forward(scratch, c.shortRe[w], c.shortIm[w]);
    }
}

void PsyModelImpl::MidSidePartitions(const float* reL, const float* imL, const float* reR,
                                     const float* imR, int lines, const PartitionTable& pt,
                                     int limit) {
    (void)lines;
    for (int b = 0; b < pt.count; ++b) {
        const Partition& p = pt.p[b];
        double em = 0, es = 0;
        const int end = std::min(p.start + p.width, limit);
        for (int k = p.start; k < end; ++k) {
            const float mr = reL[k] + reR[k], mi = imL[k] + imR[k];
            const float sr = reL[k] - reR[k], si = imL[k] - imR[k];
            em += mr * mr + mi * mi;
            es += sr * sr + si * si;
        }
        eM[b] = static_cast<float>(0.5 * em);
        eS[b] = static_cast<float>(0.5 * es);
    }
}

void PsyModelImpl::Ratios(const PartitionTable& pt, const float* e, const float* thr,
                          const AdaptTable& at, int cbMode, float* bandRatio) {
    for (int b = 0; b < pt.count; ++b) {
        // Silent or sub-threshold partitions allow as much noise as signal; never 0/0.
        const float r = e[b] > 0 ? thr[b] / e[b] : 1.0f;
        partRatio[b] = std::isfinite(r) ? std::min(r, 1.0f) : 1.0f;
    }
    AdaptRatios(at, partRatio.data(), cbMode, bandRatio);
}

void PsyModelImpl::MidSideDecision(int gif) {
    Channel& L = *ch[0];
    Channel& R = *ch[1];
    // Long analysis decides; the comparison runs every granule, the frame's first decides.
    MidSidePartitions(L.longRe, L.longIm, R.longRe, R.longIm, 512, lpt, params.lng.analysisLimit);
    for (int b = 0; b < lpt.count; ++b)
        thrMS[b] = std::min(L.thr.Long().thr[b], R.thr.Long().thr[b]);
    const float peM = PerceptualEntropy(lpt, eM.data(), thrMS.data());
    const float peS = PerceptualEntropy(lpt, eS.data(), thrMS.data());
    const float peL = L.thr.Long().pe, peR = R.thr.Long().pe;
    const float f = msFavouredBefore ? 1.6f : 1.4f;
    const bool favoured = peM + peS < f * (peL + peR);
    msFavouredBefore = favoured;
    if (gif == 0) msFrame = config.midSide && favoured;
}

void PsyModelImpl::Intensity(int code, int gif, float ratioLong[2][kSfbMaxLong],
                             float ratioShort[2][3][kSfbMaxShort]) {
    PsyStereoOutput& st = out.stereo;
    st = PsyStereoOutput();
    st.midSide = msFrame;
    float* xl = ch[0]->xr;
    float* xrr = ch[1]->xr;
    const bool isShort = code == kBlockShort;
    const bool mixed = code >= kBlockStartMixed;
    const SfbTable& ls = params.lng.sfb;
    const SfbTable& ss = params.shrt.sfb;
    // Band sums from the lowest band that may be coded in intensity; each granule (each
    // window) then starts its region where the channels stay alike up to the top.
    double sl[kSfbMaxLong] = {}, sr[kSfbMaxLong] = {}, sx[kSfbMaxLong] = {};
    double ssl[3][kSfbMaxShort] = {}, ssr[3][kSfbMaxShort] = {}, ssx[3][kSfbMaxShort] = {};
    int boundLong = kSfbMaxLong, boundShort[3] = {kSfbMaxShort, kSfbMaxShort, kSfbMaxShort};
    const double minCorr = config.isMinCorr;
    if (config.intensity && !mixed && !isShort && isBoundLong < kSfbMaxLong - 1) {
        for (int b = isBoundLong; b < kSfbMaxLong - 1; ++b)
            for (int j = ls.start[b]; j < ls.start[b + 1]; ++j) {
                sl[b] += double(xl[j]) * xl[j];
                sr[b] += double(xrr[j]) * xrr[j];
                sx[b] += double(xl[j] + xrr[j]) * (xl[j] + xrr[j]);
            }
        boundLong = IntensityBound(sl, sr, sx, isBoundLong, kSfbMaxLong - 1, minCorr);
        if (boundLong >= kSfbMaxLong - 1) boundLong = kSfbMaxLong;
    }
    if (kIntensityInShortBlocks && config.intensity && isShort && !mixed &&
        isBoundShort < kSfbMaxShort - 1) {
        for (int w = 0; w < 3; ++w) {
            for (int b = isBoundShort; b < kSfbMaxShort - 1; ++b)
                for (int j = ss.start[b]; j < ss.start[b + 1]; ++j) {
                    const int i = ShortIndex(j, w);
                    ssl[w][b] += double(xl[i]) * xl[i];
                    ssr[w][b] += double(xrr[i]) * xrr[i];
                    ssx[w][b] += double(xl[i] + xrr[i]) * (xl[i] + xrr[i]);
                }
            boundShort[w] =
                IntensityBound(ssl[w], ssr[w], ssx[w], isBoundShort, kSfbMaxShort - 1, minCorr);
            if (boundShort[w] >= kSfbMaxShort - 1) boundShort[w] = kSfbMaxShort;
        }
    }
    if (gif == 0) {
        // Held for the frame: used when the first granule has an intensity region that is not
        // dominated by opposite-phase content.
        isFrame = false;
        const int from =
            isShort ? std::min({boundShort[0], boundShort[1], boundShort[2]}) : boundLong;
        if (config.intensity && from < (isShort ? kSfbMaxShort : kSfbMaxLong)) {
            double ex = 0, ref = 0;
            for (int j = ls.start[isBoundLong]; j < 576; ++j) {
                const double l = xl[j], r = xrr[j];
                ex += (l + r) * (l + r);
                ref += l * l + r * r;
            }
            isFrame = ref <= 0 || ex >= 0.5 * ref;
            // A second coded channel (side, or right) that is silent below the region would
            // have every band under the bound marked "not intensity": more bits than the
            // region saves.
            double first = 0, second = 0;
            for (int j = 0; j < ls.start[isBoundLong]; ++j) {
                const double l = xl[j], r = xrr[j];
                first += msFrame ? (l + r) * (l + r) : l * l;
                second += msFrame ? (l - r) * (l - r) : r * r;
            }
            if (second < 1e-3 * first) isFrame = false;
        }
    }
    st.intensity = isFrame;
    if (!isFrame || mixed) return;
    auto position = [&](double eL, double eR, double eX, float* level) {
        eL = std::max(eL, 1e-10);
        eR = std::max(eR, 1e-10);
        eX = std::max(eX, 1e-10);
        int pos;
        double lf;
        if (mpeg1) {
            const double y = std::sqrt(eL / std::max({eR, 1e-10 * eL, 1e-10}));
            pos = static_cast<int>(std::lround(std::atan(y) * 12 / M_PI));
            if (pos == 0 && y > 0.03) pos = 1;
            if (pos == 6 && y < 33) pos = 5;
            lf = (std::sqrt(eL) + std::sqrt(eR)) / std::sqrt(eX);
        } else {
            // intensity_scale 1: one step of d is a factor 2 in energy.
            const int d = static_cast<int>(1.4426950408889634 * std::log(eL / eR));
            pos = d >= 0 ? (2 * d > 4 ? 6 : 2 * d) : std::min(-2 * d - 1, 5);
            lf = std::sqrt(std::max(eL, eR) / eX);
        }
        *level = static_cast<float>(std::min(lf, 4.0));
        return pos;
    };
    if (!isShort) {
        st.isBoundLong = boundLong;
        if (boundLong >= kSfbMaxLong) return;
        float level[kSfbMaxLong] = {};
        for (int b = boundLong; b < kSfbMaxLong - 1; ++b)
            st.isPosLong[b] = position(sl[b], sr[b], sx[b], &level[b]);
        st.isPosLong[kSfbMaxLong - 1] = st.isPosLong[kSfbMaxLong - 2];
        level[kSfbMaxLong - 1] = level[kSfbMaxLong - 2];
        for (int b = boundLong; b < kSfbMaxLong; ++b) {
            ratioLong[0][b] = std::min(ratioLong[0][b], ratioLong[1][b]);
            for (int j = ls.start[b]; j < ls.start[b + 1]; ++j) {
                xl[j] = (xl[j] + xrr[j]) * level[b];
                xrr[j] = 0;
            }
        }
    } else {
        for (int w = 0; w < 3; ++w) {
            st.isBoundShort[w] = boundShort[w];
            if (boundShort[w] >= kSfbMaxShort) continue;
            float level[kSfbMaxShort] = {};
            for (int b = boundShort[w]; b < kSfbMaxShort - 1; ++b)
                st.isPosShort[b][w] = position(ssl[w][b], ssr[w][b], ssx[w][b], &level[b]);
            st.isPosShort[kSfbMaxShort - 1][w] = st.isPosShort[kSfbMaxShort - 2][w];
            level[kSfbMaxShort - 1] = level[kSfbMaxShort - 2];
            for (int b = boundShort[w]; b < kSfbMaxShort; ++b) {
                ratioShort[0][w][b] = std::min(ratioShort[0][w][b], ratioShort[1][w][b]);
                for (int j = ss.start[b]; j < ss.start[b + 1]; ++j) {
                    const int i = ShortIndex(j, w);
                    xl[i] = (xl[i] + xrr[i]) * level[b];
                    xrr[i] = 0;
                }
            }
        }
    }
}

void PsyModelImpl::Coding(int c, int code, const float* ratioLong,
                          const float (*ratioShort)[kSfbMaxShort]) {
    PsyChannelOutput& o = out.ch[c];
    float* x = ch[c]->xr;
    const SfbTable& ls = params.lng.sfb;
    const SfbTable& ss = params.shrt.sfb;
    const bool isShort = code == kBlockShort || code == kBlockShortMixed;
    const bool mixed = code >= kBlockStartMixed;
    o.blockType = code;
    o.mixed = mixed;
    std::fill(&o.xminLong[0], &o.xminLong[0] + kSfbMaxLong, 0.0f);
    std::fill(&o.energyLong[0], &o.energyLong[0] + kSfbMaxLong, 0.0f);
    std::fill(&o.xminShort[0][0], &o.xminShort[0][0] + 3 * kSfbMaxShort, 0.0f);
    std::fill(&o.energyShort[0][0], &o.energyShort[0][0] + 3 * kSfbMaxShort, 0.0f);
    auto longXmin = [&](int b, double e) {
        o.energyLong[b] = static_cast<float>(e);
        o.xminLong[b] =
            e > 0 ? std::max(static_cast<float>(ratioLong[b] * e * 0.5 + 2.5e-6 * lat.quietFft[b]),
                             1e-12f)
                  : 1.0f;
    };
    if (!isShort) {
        const int clear = std::min(params.lng.lowpassLine, ls.highestLine);
        for (int j = clear; j < 576; ++j) x[j] = 0;
        for (int b = 0; b < kSfbMaxLong; ++b) {
            double e = 0;
            for (int j = ls.start[b]; j < ls.start[b + 1]; ++j) e += double(x[j]) * x[j];
            longXmin(b, e);
        }
        o.longBands = kSfbMaxLong;
        std::memcpy(o.spectrum, x, sizeof(o.spectrum));
        return;
    }
    const int longBands = mixed ? (mpeg1 ? 8 : 6) : 0;
    const int firstShort = mixed ? 3 : 0;
    for (int b = 0; b < longBands; ++b) {
        double e = 0;
        for (int j = ls.start[b]; j < ls.start[b + 1]; ++j) e += double(x[j]) * x[j];
        longXmin(b, e);
    }
    o.longBands = longBands;
    const int clear = std::min(params.shrt.lowpassLine, ss.highestLine);
    for (int w = 0; w < 3; ++w) {
        for (int j = std::max(clear, ss.start[firstShort]); j < 192; ++j) x[ShortIndex(j, w)] = 0;
        for (int b = firstShort; b < kSfbMaxShort; ++b) {
            double e = 0;
            for (int j = ss.start[b]; j < ss.start[b + 1]; ++j) {
                const float v = x[ShortIndex(j, w)];
                e += double(v) * v;
            }
            o.energyShort[b][w] = static_cast<float>(e);
            // Floored so that a vanishing band never hands the loops a zero to divide by.
            o.xminShort[b][w] =
                e > 0 ? std::max(static_cast<float>(ratioShort[w][b] * e), 1e-12f) : 1.0f;
        }
    }
    ReorderShort(x, ss.start, firstShort, o.spectrum);
}

void PsyModelImpl::Advance(const float* samples) {
    const int nch = config.channels;
    const int gif = static_cast<int>(granule % config.granulesPerFrame);
    out.granuleInFrame = gif;
    int joint = kBlockLong;
    int types[2] = {0, 0};
    for (int c = 0; c < nch; ++c) {
        Channel& C = *ch[c];
        std::memmove(C.hist, C.hist + 576, (kHistory - 576) * sizeof(float));
        float* dst = C.hist + kHistory - 576;
        const float* src = samples + 576 * c;
        // Non-finite or absurd input must not poison the model.
        for (int i = 0; i < 576; ++i)
            dst[i] = std::isfinite(src[i]) ? std::clamp(src[i], -1e6f, 1e6f) : 0.0f;
        std::memcpy(C.sbOld, C.sbPrev, sizeof(C.sbOld));
        std::memcpy(C.sbPrev, C.sbCur, sizeof(C.sbPrev));
        C.poly.Process(dst, C.sbCur);
        types[c] = C.sw.Analyse(C.sbCur);
        FrequencyInversion(C.sbCur);
        joint = JointBlockType(joint, types[c]);
    }
    const int code = mixedAllowed ? ToMixed(joint) : joint;
    for (int c = 0; c < nch; ++c) {
        Channel& C = *ch[c];
        C.sw.SetUsedType(joint);
        HybridMdct(C.sbOld, C.sbPrev, code, C.xr);
        Spectra(C);
        const float* sr[3] = {C.shortRe[0], C.shortRe[1], C.shortRe[2]};
        const float* si[3] = {C.shortIm[0], C.shortIm[1], C.shortIm[2]};
        C.thr.Process(C.longRe, C.longIm, sr, si);
        Ratios(lpt, C.thr.Long().e.data(), C.thr.Long().thr.data(), lat, params.lng.cbMode,
               C.ratioLong);
        for (int w = 0; w < 3; ++w)
            Ratios(spt, C.thr.Short(w).e.data(), C.thr.Short(w).thr.data(), sat, params.shrt.cbMode,
                   C.ratioShort[w]);
        PsyChannelOutput& o = out.ch[c];
        o.peLong = C.thr.Long().pe;
        for (int w = 0; w < 3; ++w) o.peShort[w] = C.thr.Short(w).pe;
    }
    const bool isShort = code == kBlockShort || code == kBlockShortMixed;
    float ratioLong[2][kSfbMaxLong];
    float ratioShort[2][3][kSfbMaxShort];
    for (int c = 0; c < nch; ++c) {
        std::memcpy(ratioLong[c], ch[c]->ratioLong, sizeof(ratioLong[c]));
        std::memcpy(ratioShort[c], ch[c]->ratioShort, sizeof(ratioShort[c]));
    }
    if (nch == 2) {
        if (config.midSide) MidSideDecision(gif);
        Intensity(code, gif, ratioLong, ratioShort);
        if (msFrame) {
            // Thresholds and entropies of the coded mid and side signals.
            Channel& L = *ch[0];
            Channel& R = *ch[1];
            float msLong[2][kSfbMaxLong], msShort[2][3][kSfbMaxShort];
            // Long (eM/eS/thrMS hold the long analysis from the decision).
            Ratios(lpt, eM.data(), thrMS.data(), lat, params.lng.cbMode, msLong[0]);
            Ratios(lpt, eS.data(), thrMS.data(), lat, params.lng.cbMode, msLong[1]);
            out.ch[0].peLong = PerceptualEntropy(lpt, eM.data(), thrMS.data());
            out.ch[1].peLong = PerceptualEntropy(lpt, eS.data(), thrMS.data());
            for (int w = 0; w < 3; ++w) {
                MidSidePartitions(L.shortRe[w], L.shortIm[w], R.shortRe[w], R.shortIm[w], 128, spt,
                                  params.shrt.analysisLimit);
                for (int b = 0; b < spt.count; ++b)
                    thrMS[b] = std::min(L.thr.Short(w).thr[b], R.thr.Short(w).thr[b]);
                Ratios(spt, eM.data(), thrMS.data(), sat, params.shrt.cbMode, msShort[0][w]);
                Ratios(spt, eS.data(), thrMS.data(), sat, params.shrt.cbMode, msShort[1][w]);
                out.ch[0].peShort[w] = PerceptualEntropy(spt, eM.data(), thrMS.data());
                out.ch[1].peShort[w] = PerceptualEntropy(spt, eS.data(), thrMS.data());
            }
            // Rotate the lines below the intensity region; bands there take the M/S ratios.
            const PsyStereoOutput& st = out.stereo;
            const bool mixed = code >= kBlockStartMixed;
            float* xl = L.xr;
            float* xrr = R.xr;
            auto rotate = [&](int i) {
                const float l = xl[i], r = xrr[i];
                xl[i] = (l + r) * kSqrtHalf;
                xrr[i] = (l - r) * kSqrtHalf;
            };
            const SfbTable& ls = params.lng.sfb;
            const SfbTable& ss = params.shrt.sfb;
            if (!isShort || mixed) {
                const int bound = (st.intensity && !mixed) ? st.isBoundLong : kSfbMaxLong;
                const int lastLine = isShort ? 36 : ls.start[bound];
                for (int i = 0; i < lastLine; ++i) rotate(i);
                for (int b = 0; b < bound && ls.start[b] < lastLine; ++b)
                    for (int c = 0; c < 2; ++c) ratioLong[c][b] = msLong[c][b];
            }
            if (isShort) {
                const int first = mixed ? 3 : 0;
                for (int w = 0; w < 3; ++w) {
                    const int bound = (st.intensity && !mixed) ? st.isBoundShort[w] : kSfbMaxShort;
                    for (int b = first; b < bound; ++b) {
                        for (int j = ss.start[b]; j < ss.start[b + 1]; ++j)
                            rotate(ShortIndex(j, w));
                        for (int c = 0; c < 2; ++c) ratioShort[c][w][b] = msShort[c][w][b];
                    }
                }
            }
        }
    } else {
        out.stereo = PsyStereoOutput();
    }
    for (int c = 0; c < nch; ++c) {
        Coding(c, code, ratioLong[c], ratioShort[c]);
        PsyChannelOutput& o = out.ch[c];
        o.pe = isShort ? o.peShort[0] + o.peShort[1] + o.peShort[2] : o.peLong;
    }
    ++granule;
}

namespace {

// The partition and adaptation tables depend only on the block parameters and the rate, and
// take longer to build than a short file takes to encode: each set is built once and copied
// into later models.
struct ModelTables {
    int sampleRate = 0;
    PsyBlockParams lng, shrt;
    PartitionTable lpt, spt;
    AdaptTable lat, sat;
};

constexpr std::size_t kCachedTableSets = 8;

bool LoadTables(const PsyParams& p, int sampleRate, PsyModelImpl& impl, ErrorChain* err) {
    static std::mutex mutex;
    static std::deque<ModelTables> cache;  // most recently built first
    auto take = [&impl](const ModelTables& t) {
        impl.lpt = t.lpt;
        impl.spt = t.spt;
        impl.lat = t.lat;
        impl.sat = t.sat;
    };
    {
        std::lock_guard lock(mutex);
        for (const ModelTables& t : cache)
            if (t.sampleRate == sampleRate && t.lng == p.lng && t.shrt == p.shrt) {
                take(t);
                return true;
            }
    }
    ModelTables t{sampleRate, p.lng, p.shrt, {}, {}, {}, {}};
    if (!BuildPartitionTable(p.lng, sampleRate, &t.lpt, err) ||
        !BuildPartitionTable(p.shrt, sampleRate, &t.spt, err)) {
        AddError(err, kModule, __LINE__, "GetCbParam() failed");
        return false;
    }
    if (!BuildAdaptTable(p.lng, t.lpt, &t.lat, err) ||
        !BuildAdaptTable(p.shrt, t.spt, &t.sat, err)) {
        AddError(err, kModule, __LINE__, "GetAdaptBlockParam() failed");
        return false;
    }
    take(t);
    std::lock_guard lock(mutex);
    cache.push_front(std::move(t));
    if (cache.size() > kCachedTableSets) cache.pop_back();
    return true;
}

}  // namespace

std::unique_ptr<PsychoacousticModel> PsychoacousticModel::Create(const PsyModelConfig& config,
                                                                 OptionStore* options,
                                                                 ErrorChain* err) {
    if (config.channels > 2) {
        AddError(err, kModule, __LINE__, "invalid procedure parameters");
        return nullptr;
    }
    if (config.channels < 1) {
        AddError(err, kModule, __LINE__, "only mono and stereo case implemented");
        return nullptr;
    }
    if (!IsIsoSampleRate(config.sampleRate)) {
        AddError(err, kModule, __LINE__, "not a valid ISO sampling rate");
        return nullptr;
    }
    auto impl = std::make_unique<PsyModelImpl>();
    impl->config = config;
    impl->config.granulesPerFrame = std::max(1, config.granulesPerFrame);
    if (config.channels == 1) impl->config.midSide = impl->config.intensity = false;
    PsyParams& p = impl->params;
    if (!BuildPsyParams(options, config.sampleRate, config.bitRate / config.channels,
                        config.channels == 2, &p, err)) {
        AddError(err, kModule, __LINE__, "GetPsyBlockParam() failed");
        return nullptr;
    }
    // A lower threshold in quiet is a higher reference level of the same curve.
    p.lng.thr[kThrAth0] += config.quietLowerDb;
    p.shrt.thr[kThrAth0] += config.quietLowerDb;
    if (!LoadTables(p, config.sampleRate, *impl, err)) return nullptr;
    impl->mpeg1 = config.sampleRate >= 32000;
    // 8000 Hz short bands do not start the short part at line 36: no mixed blocks there.
    impl->mixedAllowed = p.mixed && config.sampleRate != 8000;
    CalculateWindow(impl->winLong, 1024, 0);
    CalculateWindow(impl->winShort, 256, 2);
    for (int c = 0; c < config.channels; ++c) {
        impl->ch.push_back(std::make_unique<PsyModelImpl::Channel>(config.sampleRate, p.blm));
        impl->ch.back()->thr.Init(impl->params, &impl->lpt, &impl->spt);
    }
    const int maxCb = std::max(impl->lpt.count, impl->spt.count);
    impl->eM.assign(maxCb, 0.0f);
    impl->eS.assign(maxCb, 0.0f);
    impl->thrMS.assign(maxCb, 0.0f);
    impl->partRatio.assign(maxCb, 0.0f);
    // Intensity region: from a fraction of the bandwidth that grows with the bit rate.
    if (impl->config.intensity) {
        const int bpc = config.bitRate / config.channels;
        const double frac = bpc <= 32000 ? 0.5 : bpc <= 48000 ? 0.65 : 0.8;
        const double startHz = config.isFromHz > 0 ? config.isFromHz : frac * p.lng.bandwidth;
        const double nyq = config.sampleRate / 2.0;
        int b = 0;
        while (b < kSfbMaxLong - 1 && p.lng.sfb.start[b] * nyq / 576 < startHz) ++b;
        impl->isBoundLong = b;
        b = 0;
        while (b < kSfbMaxShort - 1 && p.shrt.sfb.start[b] * nyq / 192 < startHz) ++b;
        impl->isBoundShort = b;
    }
    impl->out.channels = config.channels;
    return std::unique_ptr<PsychoacousticModel>(new PsychoacousticModel(std::move(impl)));
}

PsychoacousticModel::PsychoacousticModel(std::unique_ptr<PsyModelImpl> impl)
    : impl_(std::move(impl)) {}
PsychoacousticModel::~PsychoacousticModel() = default;
void PsychoacousticModel::Advance(const float* samples) {
    impl_->Advance(samples);
}
const PsyGranuleOutput& PsychoacousticModel::Output() const {
    return impl_->out;
}
const PsyParams& PsychoacousticModel::Params() const {
    return impl_->params;
}
float PsychoacousticModel::Bandwidth() const {
    return impl_->params.lng.bandwidth;
}
const PsyModelConfig& PsychoacousticModel::Config() const {
    return impl_->config;
}
const float* PsychoacousticModel::LongTonality(int channel, int* count) const {
    const auto& t = impl_->ch[static_cast<size_t>(channel)]->thr.Long().tone;
    if (count) *count = static_cast<int>(t.size());
    return t.data();
}

}  // namespace mp3enc
