#include "mp3enc/psycho/partitions.h"

#include <algorithm>
#include <cmath>

namespace mp3enc {

namespace {
constexpr const char* kModule = "core/psych/enc/l3/psy_conf";
}

bool BuildPartitionTable(const PsyBlockParams& prm, int sampleRate, PartitionTable* out,
                         ErrorChain* err) {
    PartitionTable t;
    const int n = prm.spectrumLines;
    t.lines = n;
    const double hzPerLine = sampleRate / 2.0 / n;
    int s = 0;
    while (s < n) {
        const double z0 = BarkOf(s * hzPerLine);
        int w = 1;
        while (s + w < n && BarkOf((s + w + 1) * hzPerLine) - z0 <= 0.333) ++w;
        if (t.count >= kMaxPartitions) {
            AddError(err, kModule, __LINE__, "MAX_CB too small");
            return false;
        }
        Partition p;
        p.start = s;
        p.width = w;
        p.bark = static_cast<float>(std::min(24.0, 0.5 * (z0 + BarkOf((s + w) * hzPerLine))));
        p.barkInt = std::clamp(static_cast<int>(p.bark), 0, 24);
        p.bmax = prm.thr[kThrBmax + p.barkInt];
        p.rpre = prm.thr[kThrRpre + p.barkInt];
        p.quiet = static_cast<float>(
            std::pow(10.0, (prm.thr[kThrAth + p.barkInt] - prm.thr[kThrAth0]) / 10.0) * w *
            16887.8);
        const float tmnLine = prm.thr[kThrTmnBase] + prm.thr[kThrTmnSlope] * p.bark;
        p.tmn = prm.thr[kThrTmnSlope] <= 0 ? std::min(prm.thr[kThrTmn], tmnLine)
                                           : std::max(prm.thr[kThrTmn], tmnLine);
        p.minRatio = prm.thr[kThrMinRatio + p.barkInt] * 0.01f;
        p.aboveLimit = s >= prm.analysisLimit;
        t.p.push_back(p);
        ++t.count;
        s += w;
    }
    t.lowResCount = t.count;
    for (int i = 1; i < t.count; ++i)
        if (t.p[i].bark - t.p[i - 1].bark <= 0.333f + 1e-4f) {
            t.lowResCount = i;
            break;
        }
    // Spreading weights, kept sparse per maskee.
    const float maskHigh = prm.thr[kThrMaskHigh], maskLow = prm.thr[kThrMaskLow];
    const bool hole = prm.thr[kThrHole] == 0.0f;
    const bool noLow = prm.thr[kThrNoLowSpread] != 0.0f;
    t.first.assign(t.count, 0);
    t.num.assign(t.count, 0);
    t.offset.assign(t.count, 0);
    for (int i = 0; i < t.count; ++i) {
        std::vector<float> row(t.count, 0.0f);
        double sum = 0;
        int lo = t.count, hi = -1;
        for (int j = 0; j < t.count; ++j) {
            const double dz = t.p[i].bark - t.p[j].bark;
            double dzs;
            if (dz >= 0) {
                dzs = dz * maskHigh;
            } else {
                if (noLow) continue;
                dzs = dz * maskLow;
            }
            double h = 0;
            if (hole && dzs >= 0.5 && dzs <= 2.5)
                h = 8 * ((dzs - 0.5) * (dzs - 0.5) - 2 * (dzs - 0.5));
            const double x = dzs + 0.474;
            const double sdb = 15.811 + 7.5 * x - 17.5 * std::sqrt(1 + x * x) + h;
            if (sdb <= -100) continue;
            const double wgt = std::pow(10.0, sdb / 10.0);
            row[j] = static_cast<float>(wgt);
            sum += wgt;
            lo = std::min(lo, j);
            hi = std::max(hi, j);
        }
        t.p[i].norm = sum > 0 ? static_cast<float>(1.0 / sum) : 1.0f;
        t.offset[i] = static_cast<int>(t.weight.size());
        if (hi >= lo) {
            t.first[i] = lo;
            t.num[i] = hi - lo + 1;
            t.weight.insert(t.weight.end(), row.begin() + lo, row.begin() + hi + 1);
        }
    }
    *out = std::move(t);
    return true;
}

bool BuildAdaptTable(const PsyBlockParams& prm, const PartitionTable& pt, AdaptTable* out,
                     ErrorChain* err) {
    AdaptTable a;
    a.bands = prm.sfb.bandCount;
    const double scale =
        static_cast<double>(pt.lines) / prm.lines;  // analysis lines per coding line
    a.begin.push_back(0);
    for (int b = 0; b < a.bands; ++b) {
        const double lo = prm.sfb.start[b] * scale, hi = prm.sfb.start[b + 1] * scale;
        // Noise that the quantizer spreads evenly over the band is heard first where the
        // threshold in quiet is lowest: the band's own is that lowest level on every line. A sum
        // over a band reaching into the steep rise above 15 kHz let its lower part be zeroed.
        double quiet = INFINITY;
        for (int i = 0; i < pt.count; ++i) {
            const Partition& p = pt.p[i];
            const double ov =
                std::min<double>(hi, p.start + p.width) - std::max<double>(lo, p.start);
            if (ov <= 0) continue;
            a.part.push_back(i);
            quiet = std::min<double>(quiet, p.quiet / p.width);
        }
        quiet = std::isfinite(quiet) ? quiet * (hi - lo) : 0;
        if (static_cast<int>(a.part.size()) == a.begin.back()) {
            // A band narrower than a line: take the partition holding its centre.
            const double c = 0.5 * (lo + hi);
            int best = pt.count - 1;
            for (int i = 0; i < pt.count; ++i)
                if (c < pt.p[i].start + pt.p[i].width) {
                    best = i;
                    break;
                }
            a.part.push_back(best);
            quiet += pt.p[best].quiet / pt.p[best].width * (hi - lo);
        }
        a.begin.push_back(static_cast<int>(a.part.size()));
        a.quietFft.push_back(static_cast<float>(quiet));
    }
    if (a.part.empty()) {
        AddError(err, kModule, __LINE__, "GetAdaptBlockParam() failed");
        return false;
    }
    *out = std::move(a);
    return true;
}

void AdaptRatios(const AdaptTable& at, const float* partRatio, int cbMode, float* bandRatio) {
    for (int b = 0; b < at.bands; ++b) {
        const int s = at.begin[b], e = at.begin[b + 1];
        if (b < cbMode) {
            float m = partRatio[at.part[s]];
            for (int k = s + 1; k < e; ++k) m = std::min(m, partRatio[at.part[k]]);
            bandRatio[b] = m;
        } else {
            float sum = 0;
            for (int k = s; k < e; ++k) sum += partRatio[at.part[k]];
            bandRatio[b] = sum / static_cast<float>(e - s);
        }
    }
}

}  // namespace mp3enc
