#include "mp3enc/engine/model_front_end.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace mp3enc {

std::unique_ptr<ModelFrontEnd> ModelFrontEnd::Create(const FrontEndParams& p, std::string* error) {
    // Options live only for the creation; the store is per encoder.
    OptionStore store;
    std::unique_ptr<PsychoacousticModel> model;
    ErrorChain err;
    {
        OptionSession session(&store);
        store.SetOption("noCmdct", "");
        if (p.bandwidth > 0) {
            char bw[32];
            std::snprintf(bw, sizeof bw, "%5.0f", std::min(p.bandwidth, p.sampleRate / 2.0f));
            store.SetOption("bw", bw);
        }
        PsyModelConfig c;
        c.channels = p.channels;
        c.granulesPerFrame = p.sampleRate >= 32000 ? 2 : 1;
        c.sampleRate = p.sampleRate;
        c.bitRate = p.bitRate;
        c.midSide = p.midSide && p.channels == 2;
        c.intensity = p.intensity && p.channels == 2;
        c.isFromHz = p.intensityFromHz;
        c.isMinCorr = p.intensityMinCorrelation;
        c.quietLowerDb = p.quietLowerDb;
        model = PsychoacousticModel::Create(c, &store, &err);
    }
    if (!model) {
        if (error)
            *error = err.empty() ? "CreatePsychoacousticModel() failed" : err.front().message;
        return nullptr;
    }
    auto f = std::unique_ptr<ModelFrontEnd>(new ModelFrontEnd());
    f->model_ = std::move(model);
    f->channels_ = p.channels;
    f->planar_.assign(static_cast<size_t>(576 * p.channels), 0.0f);
    return f;
}

void ModelFrontEnd::Shapes(ReservoirShape* l, ReservoirShape* s) const {
    const PsyParams& p = model_->Params();
    auto fill = [](const PsyBlockParams& b, ReservoirShape* r, const ReservoirShape& dflt) {
        *r = dflt;
        bool any = false;
        for (int i = 0; i < 6; ++i) any = any || b.shape[i] != 0.0f;
        if (any) {
            for (int i = 0; i < 6; ++i) r->s[i] = b.shape[i];
            r->minBitSp = b.minBitSp;
            r->maxBitSp = b.maxBitSp;
        }
        if (b.peMax > 0) {
            r->peMin = static_cast<float>(b.peMin);
            r->peMax = static_cast<float>(b.peMax);
        }
    };
    fill(p.lng, l, DefaultLongShape(PeMin(), PeMax()));
    fill(p.shrt, s, DefaultShortShape(PeMin(), PeMax()));
}

std::string ModelFrontEnd::Analyse(const float* const pcm[2], GranuleAnalysis& out) {
    for (int c = 0; c < channels_; ++c)
        std::memcpy(&planar_[static_cast<size_t>(576 * c)], pcm[c], 576 * sizeof(float));
    model_->Advance(planar_.data());
    const PsyGranuleOutput& o = model_->Output();
    out.midSide = channels_ == 2 && o.stereo.midSide;
    out.msApplied = true;
    // Mixed blocks carry no positions; they are not produced here.
    out.intensity = channels_ == 2 && o.stereo.intensity && !o.ch[0].mixed;
    out.isBands = IntensityBands();
    if (out.intensity) {
        if (o.ch[0].blockType == kBlockShort) {
            for (int b = 0; b < 12; ++b)
                for (int w = 0; w < 3; ++w) out.isBands.pos[3 * b + w] = o.stereo.isPosShort[b][w];
        } else {
            for (int b = 0; b < 21; ++b) out.isBands.pos[b] = o.stereo.isPosLong[b];
        }
    }
    for (int c = 0; c < channels_; ++c) {
        const PsyChannelOutput& pc = o.ch[static_cast<size_t>(c)];
        ChannelAnalysis& a = out.ch[c];
        // Mixed blocks are not produced without the "mixed" option; code them as their plain kind.
        a.blockType = pc.blockType > 3 ? pc.blockType - 3 : pc.blockType;
        std::memcpy(a.xr, pc.spectrum, sizeof(a.xr));
        a.pe = pc.pe;
        if (a.blockType == 2) {
            for (int b = 0; b < 13; ++b)
                for (int w = 0; w < 3; ++w) a.xmin[b * 3 + w] = pc.xminShort[b][w];
        } else {
            for (int b = 0; b < 22; ++b) a.xmin[b] = pc.xminLong[b];
            for (int b = 22; b < 39; ++b) a.xmin[b] = 1.0f;
        }
    }
    return {};
}

}  // namespace mp3enc
