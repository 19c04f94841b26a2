#include "mp3enc/psycho/channel_threshold.h"

#include <algorithm>
#include <cmath>

#include "mp3enc/config/errors.h"
#include "mp3enc/config/wide_clones.h"

namespace mp3enc {

namespace {

constexpr float kLn10Over10f = 0.23025850929940458f;

inline bool Silent(float re, float im) {
    return re * re + im * im <= 1e-6f;
}

MP3ENC_WIDE_CLONES
void EuclideanChaos(const float* __restrict re0, const float* __restrict im0,
                    const float* __restrict re1, const float* __restrict im1,
                    const float* __restrict re2, const float* __restrict im2, int from, int to,
                    float def, float* __restrict chaos) {
    // Branch-free so that it vectorizes; silent lines compute garbage that the select drops.
    for (int k = from; k < to; ++k) {
        const float e0 = re0[k] * re0[k] + im0[k] * im0[k];
        const float e1 = re1[k] * re1[k] + im1[k] * im1[k];
        const float e2 = re2[k] * re2[k] + im2[k] * im2[k];
        const bool silent = e0 <= 1e-6f || e1 <= 1e-6f || e2 <= 1e-6f;
        const float r0 = std::sqrt(e0);
        const float r1 = std::sqrt(e1);
        const float r2 = std::sqrt(e2);
        // Predicted phasor u1^2 conj(u2): phase 2 phi1 - phi2, without angles.
        const float inv1 = 1.0f / e1;
        const float sr = (re1[k] * re1[k] - im1[k] * im1[k]) * inv1,
                    si = 2 * re1[k] * im1[k] * inv1;
        const float inv2 = 1.0f / r2;
        const float ur2 = re2[k] * inv2, ui2 = im2[k] * inv2;
        const float pr = sr * ur2 + si * ui2, pi = si * ur2 - sr * ui2;
        const float rhat = 2 * r1 - r2;
        const float dr = re0[k] - rhat * pr, di = im0[k] - rhat * pi;
        const float v = std::sqrt(dr * dr + di * di) / (r0 + std::fabs(rhat));
        chaos[k] = silent ? def : v;
    }
}

void FastEuclideanChaos(const float* re0, const float* im0, const float* re1, const float* im1,
                        const float* re2, const float* im2, int from, int to, float def,
                        float* chaos) {
    for (int k = from; k < to; ++k) {
        if (Silent(re0[k], im0[k]) || Silent(re1[k], im1[k]) || Silent(re2[k], im2[k])) {
            chaos[k] = def;
            continue;
        }
        const float e1 = re1[k] * re1[k] + im1[k] * im1[k];
        const float e2 = re2[k] * re2[k] + im2[k] * im2[k];
        const float dot = re1[k] * re2[k] + im1[k] * im2[k];
        const float pr = (2 * dot * re1[k] - e1 * re2[k]) / e2;
        const float pi = (2 * dot * im1[k] - e1 * im2[k]) / e2;
        const float et = re0[k] * re0[k] + im0[k] * im0[k];
        const float ep = pr * pr + pi * pi;
        const float d = (re0[k] - pr) * (re0[k] - pr) + (im0[k] - pi) * (im0[k] - pi);
        // (sqrt(Et D) - sqrt(D Ep)) / (Et - Ep) reduced, so equal energies do not divide by zero.
        chaos[k] = std::sqrt(d) / (std::sqrt(et) + std::sqrt(ep));
    }
}

// Peak filter on magnitudes; lines [0, to) are written.
void PeakChaos(const float* re0, const float* im0, int to, bool twoPass, float def, float* chaos,
               float* mag) {
    if (to <= 0) return;
    if (to < 6) {
        for (int k = 0; k < to; ++k) chaos[k] = def;
        return;
    }
    if (twoPass) {
        // Magnitudes in two interleaved passes (even lines, then odd lines).
        for (int k = 0; k < to; k += 2) mag[k] = std::sqrt(re0[k] * re0[k] + im0[k] * im0[k]);
        for (int k = 1; k < to; k += 2) mag[k] = std::sqrt(re0[k] * re0[k] + im0[k] * im0[k]);
    } else {
        for (int k = 0; k < to; ++k) mag[k] = std::sqrt(re0[k] * re0[k] + im0[k] * im0[k]);
    }
    for (int k = 2; k < to - 3; ++k) {
        if (mag[k] * mag[k] <= 1e-6f) {
            chaos[k] = def;
            continue;
        }
        float r = (mag[k] - 0.5f * (mag[k - 2] + mag[k + 2])) / mag[k];
        if (r < 0) r = 0;
        chaos[k] = (1 - r) * (1 - r);
    }
    chaos[0] = chaos[1] = chaos[2];
    const float tail = (chaos[to - 6] + chaos[to - 5] + chaos[to - 4]) / 3.0f;
    chaos[to - 3] = chaos[to - 2] = chaos[to - 1] = tail;
}

}  // namespace

void CalculateChaosMeasure(int method, const float* re0, const float* im0, const float* re1,
                           const float* im1, const float* re2, const float* im2, int lines,
                           int toneLimit, int combLimit, float def, float* chaos) {
    toneLimit = std::clamp(toneLimit, 0, lines);
    float mag[512];
    switch (method) {
        case 0:
            EuclideanChaos(re0, im0, re1, im1, re2, im2, 0, toneLimit, def, chaos);
            break;
        case 1:
            FastEuclideanChaos(re0, im0, re1, im1, re2, im2, 0, toneLimit, def, chaos);
            break;
        case 2:
        case 3:
            PeakChaos(re0, im0, toneLimit, method == 3, def, chaos, mag);
            break;
        case 4: {
            const int peakTo = std::min(toneLimit, combLimit + 5);
            PeakChaos(re0, im0, peakTo, false, def, chaos, mag);
            EuclideanChaos(re0, im0, re1, im1, re2, im2, std::max(peakTo, 0), toneLimit, def,
                           chaos);
            break;
        }
        default:
            FatalError("CalculateChaosMeasure() called with unknown chaos method", __FILE__,
                       __LINE__);
    }
    for (int k = toneLimit; k < lines; ++k) chaos[k] = def;
}

float PerceptualEntropy(const PartitionTable& pt, const float* e, const float* thr) {
    float pe = 0;
    int n = 0;
    for (int b = 0; b < pt.count; ++b) {
        if (thr[b] < e[b] && thr[b] > 0) {
            pe += static_cast<float>(pt.p[b].width) * std::log2((e[b] + 0.1f) / thr[b]);
            ++n;
        }
    }
    pe -= 2.32f * static_cast<float>(n);
    return std::max(0.0f, pe);
}

void ThresholdChannel::Fifo::Init(int n) {
    for (int i = 0; i < 3; ++i) {
        re[i].assign(n, 0.0f);
        im[i].assign(n, 0.0f);
    }
}

void ThresholdChannel::Fifo::Push(const float* r, const float* m, int n) {
    std::swap(re[2], re[1]);
    std::swap(im[2], im[1]);
    std::swap(re[1], re[0]);
    std::swap(im[1], im[0]);
    std::copy(r, r + n, re[0].begin());
    std::copy(m, m + n, im[0].begin());
}

void ThresholdChannel::Init(const PsyParams& params, const PartitionTable* longPt,
                            const PartitionTable* shortPt) {
    params_ = &params;
    lpt_ = longPt;
    spt_ = shortPt;
    longFifo_.Init(512);
    shortFifo_.Init(128);
    // The pre-echo FIFOs start with the thresholds in quiet.
    auto quiet = [](const PartitionTable& pt) {
        std::vector<float> q(pt.count);
        for (int b = 0; b < pt.count; ++b) q[b] = pt.p[b].quiet;
        return q;
    };
    longNb1_ = longNb2_ = quiet(*longPt);
    shortNb1_ = shortNb2_ = quiet(*shortPt);
    chaos_.assign(512, 0.0f);
    const int maxCb = std::max(longPt->count, shortPt->count);
    c_.assign(maxCb, 0.0f);
    ecb_.assign(maxCb, 0.0f);
    ctb_.assign(maxCb, 0.0f);
    nb_.assign(maxCb, 0.0f);
    nbPre_.assign(maxCb, 0.0f);
    long_.e.assign(longPt->count, 0.0f);
    long_.thr.assign(longPt->count, 0.0f);
    long_.tone.assign(longPt->count, 0.0f);
    for (auto& s : short_) {
        s.e.assign(shortPt->count, 0.0f);
        s.thr.assign(shortPt->count, 0.0f);
        s.tone.assign(shortPt->count, 0.0f);
    }
}

void ThresholdChannel::Block(const PsyBlockParams& prm, const PartitionTable& pt, const Fifo& f,
                             std::vector<float>& nb1, std::vector<float>& nb2,
                             BlockThresholds* out) {
    const int n = pt.lines;
    CalculateChaosMeasure(prm.chaosMethod, f.re[0].data(), f.im[0].data(), f.re[1].data(),
                          f.im[1].data(), f.re[2].data(), f.im[2].data(), n, prm.toneLimit,
                          prm.combLimit, prm.thr[kThrChaosDefault], chaos_.data());
    const float* re = f.re[0].data();
    const float* im = f.im[0].data();
    const int limit = prm.analysisLimit;
    for (int b = 0; b < pt.count; ++b) {
        const Partition& p = pt.p[b];
        float e = 0, c = 0;
        const int end = std::min(p.start + p.width, limit);
        for (int k = p.start; k < end; ++k) {
            const float en = re[k] * re[k] + im[k] * im[k];
            e += en;
            c += en * chaos_[k];
        }
        out->e[b] = e;
        c_[b] = c;
    }
    const float nmt = prm.thr[kThrNmt];
    const float rpmin = prm.thr[kThrRpmin];
    const float rpre2 = prm.thr[kThrRpre2];
    const float fixedSnr = prm.thr[kThrFixedSnr];
    for (int b = 0; b < pt.count; ++b) {
        const int lo = pt.first[b], num = pt.num[b];
        const float* w = pt.weight.data() + pt.offset[b];
        const float* eb = out->e.data() + lo;
        const float* cbk = c_.data() + lo;
        float ecbf = 0, ctbf = 0;
        for (int j = 0; j < num; ++j) {
            ecbf += eb[j] * w[j];
            ctbf += cbk[j] * w[j];
        }
        const Partition& p = pt.p[b];
        // Single precision throughout: these few values per partition need no more, and
        // double divisions and conversions cost more here than all the sums above.
        // A silent partition counts as noise-like instead of 0/0.
        float cb = ecbf > 0 ? ctbf / ecbf : 0.5f;
        cb = std::clamp(cb, 0.05f, 0.5f);
        const float tone = -std::log10(2 * cb);
        out->tone[b] = tone;
        const float snr = p.aboveLimit ? fixedSnr : nmt * (1 - tone) + p.tmn * tone + p.bmax;
        const float spread = ecbf * p.norm;
        // 10^(-snr/10): exp is several times cheaper than pow.
        nb_[b] = spread * std::exp(-snr * kLn10Over10f) + p.quiet;
        if (params_->preNoTone) {
            const float snrPre = std::max(nmt, p.bmax);
            nbPre_[b] = spread * std::exp(-snrPre * kLn10Over10f) + p.quiet;
        } else {
            nbPre_[b] = nb_[b];
        }
        const float limited = std::min({nb_[b], p.rpre * nb1[b], rpre2 * nb2[b]});
        out->thr[b] = std::max(rpmin * nb_[b], limited);
    }
    for (int b = 0; b < pt.count; ++b) {
        nb2[b] = nb1[b];
        nb1[b] = nbPre_[b];
    }
    out->pe = PerceptualEntropy(pt, out->e.data(), out->thr.data());
}

void ThresholdChannel::Process(const float* longRe, const float* longIm,
                               const float* const shortRe[3], const float* const shortIm[3]) {
    longFifo_.Push(longRe, longIm, 512);
    Block(params_->lng, *lpt_, longFifo_, longNb1_, longNb2_, &long_);
    for (int w = 0; w < 3; ++w) {
        shortFifo_.Push(shortRe[w], shortIm[w], 128);
        Block(params_->shrt, *spt_, shortFifo_, shortNb1_, shortNb2_, &short_[w]);
    }
    if (params_->cst) {
        // Partitions of low spectral resolution: the long ratio replaces a larger short ratio.
        for (int w = 0; w < 3; ++w) {
            BlockThresholds& s = short_[w];
            for (int b = 0; b < spt_->lowResCount; ++b) {
                const Partition& sp = spt_->p[b];
                const double centre = (sp.start + 0.5 * sp.width) * 4.0;  // in long lines
                int lb = 0;
                while (lb + 1 < lpt_->count && lpt_->p[lb + 1].start <= centre) ++lb;
                const float eL = long_.e[lb];
                const float ratioLong = eL > 0 ? long_.thr[lb] / eL : 1.0f;
                if (ratioLong < s.thr[b] / (s.e[b] + 0.0001f)) s.thr[b] = ratioLong * s.e[b];
            }
            s.pe = PerceptualEntropy(*spt_, s.e.data(), s.thr.data());
        }
    }
}

}  // namespace mp3enc
