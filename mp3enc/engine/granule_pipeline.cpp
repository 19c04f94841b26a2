#include "mp3enc/engine/granule_pipeline.h"

#include <algorithm>
#include <cmath>

namespace mp3enc {

std::string FramePipeline::Create(const PipelineConfig& cfg, std::unique_ptr<FrontEnd> front) {
    cfg_ = cfg;
    front_ = std::move(front);
    if (!front_) return "no front end";
    std::string err = bs_.Create(cfg.bs);
    if (!err.empty()) return err;
    if (bs_.channels() != cfg.channels) return "erroneous stereo mode";
    if (!loop_.Create(cfg.bs.sampleRate, cfg.channels, cfg.loop))
        return "CreateLoopKernel() failed";
    ReservoirShape ls, ss;
    front_->Shapes(&ls, &ss);
    alloc_.Init(ls, ss);
    granules_ = 0;
    return {};
}

std::string FramePipeline::EncodeGranule(const float* const pcm[2], std::vector<uint8_t>& out) {
    std::string err = front_->Analyse(pcm, ga_);
    if (!err.empty()) return err;
    const int G = bs_.granules();
    const int gi = static_cast<int>(granules_ % G);
    const int nch = cfg_.channels;
    // Mid/side is signalled per frame: the first granule decides for all of them.
    if (gi == 0) frameMs_ = nch == 2 && ga_.midSide && cfg_.bs.stereoMode == 1;
    // Intensity too: the front end holds its choice for the frame.
    if (gi == 0) frameIs_ = nch == 2 && ga_.intensity && cfg_.bs.stereoMode == 1;
    // Spectra must match what the frame signals: rotate when the granule disagrees.
    const bool haveMs = ga_.msApplied && ga_.midSide;
    if (nch == 2 && haveMs != frameMs_) {
        float* l = ga_.ch[0].xr;
        float* r = ga_.ch[1].xr;
        constexpr float k = 0.70710678f;
        for (int i = 0; i < 576; ++i) {
            float m = (l[i] + r[i]) * k, s = (l[i] - r[i]) * k;
            l[i] = m;
            r[i] = s;
        }
        for (int b = 0; b < 39; ++b) {
            float x = std::min(ga_.ch[0].xmin[b], ga_.ch[1].xmin[b]);
            ga_.ch[0].xmin[b] = ga_.ch[1].xmin[b] = x;
        }
    }
    for (int ch = 0; ch < nch; ++ch) {
        ChannelAnalysis& a = ga_.ch[ch];
        loop_.Prepare(gi, ch, a.blockType, a.xr, a.xmin);
        pe_[gi][ch] = a.pe;
        short_[gi][ch] = a.blockType == 2;
    }
    if (nch == 2) loop_.SetIntensity(gi, 1, frameIs_ ? &ga_.isBands : nullptr);
    joint_[gi] = frameMs_ || frameIs_;
    ++granules_;
    if (gi == G - 1 && cfg_.vbrLevel >= 0) {
        VariableFrame(out);
    } else if (gi == G - 1) {
        FrameBudget fb = bs_.BeginFrame();
        int resInUse = fb.frame.resInUse;
        int resFree = fb.frame.resFree;
        int budgets[2][2] = {};
        alloc_.Allocate(G, nch, pe_, short_, joint_, fb.mainDataBits, fb.granuleBits, resInUse,
                        resFree, budgets);
        CodedFrame frame;
        loop_.RunFrame(budgets, fb.granuleBits + resInUse, frame, nch == 2 && !frameMs_);
        frame.modeExtension = (frameMs_ ? 2 : 0) | (frameIs_ ? 1 : 0);
        lastModeExt_ = frame.modeExtension;
        bs_.WriteFrame(frame, out);
    }
    return {};
}

namespace {

// Mean bit rate per channel (bit/s at 44.1 kHz and above) each level aims at on typical music.
// Level 2 spends 5 % more than the rate whose thresholds it uses: orchestral and quiet blues
// excerpts were the ones short of bits there.
constexpr int kVbrChannelRate[10] = {120000, 110000, 100000, 86000, 80000,
                                     66000,  58000,  50000,  42000, 33000};
constexpr int kVbrModelRate[10] = {120000, 110000, 95000, 86000, 80000,
                                   66000,  58000,  50000, 42000, 33000};
constexpr float kVbrPeRef = 700.0f;

}  // namespace

int VbrModelRate(int level, int sampleRate) {
    const int r = kVbrModelRate[std::clamp(level, 0, 9)];
    return sampleRate >= 32000 ? r : r / 2;
}

void FramePipeline::VariableFrame(std::vector<uint8_t>& out) {
    const int G = bs_.granules();
    const int nch = cfg_.channels;
    const int rate = cfg_.bs.sampleRate;
    const int level = std::clamp(cfg_.vbrLevel, 0, 9);
    // Each channel granule gets bits by its perceptual entropy against the stream's running
    // mean, around the level's mean rate: demanding passages grow, plain ones shrink.
    const float nominal = static_cast<float>(kVbrChannelRate[level]) *
                          (rate >= 32000 ? 1.0f : 0.5f) * 576.0f /
                          static_cast<float>(std::max(rate, 32000));
    int budgets[2][2] = {};
    for (int gr = 0; gr < G; ++gr)
        for (int ch = 0; ch < nch; ++ch) {
            const float pe = pe_[gr][ch];
            vbrPe_ = vbrPe_ <= 0 ? std::max(pe, kVbrPeRef) : 0.995f * vbrPe_ + 0.005f * pe;
            const float ref = std::max(vbrPe_, kVbrPeRef);
            float f = std::clamp(0.35f + 0.65f * pe / ref, 0.35f, 3.0f);
            if (short_[gr][ch]) f *= 1.25f;
            budgets[gr][ch] = std::min(4095, static_cast<int>(nominal * f));
        }
    const Framer& fr = bs_.framer();
    const int* table = BitRateTable(bs_.version());
    int top = 14;
    while (top > 1 && table[top] == 0) --top;
    const int fixedBits = bs_.headerBits() + (cfg_.bs.crc ? 16 : 0) + bs_.sideInfoBits();
    auto mainBits = [&](int i) { return 8 * fr.BytesAtRate(table[i]) - fixedBits; };
    const int resInUse = fr.resInUse();
    // Each channel (mid and side too) loops on its own step and its own budget: with one shared
    // step the side channel took bits by the mid channel's noise level, not its own demand.
    // Not when one channel asks for almost nothing (a silent side channel): its floor of the
    // budget would be lost to the other, which a shared loop can spend (speech -0.70 ODG).
    bool apart = nch == 2;
    for (int gr = 0; gr < G && apart; ++gr)
        apart = std::min(pe_[gr][0], pe_[gr][1]) >= 0.1f * std::max(pe_[gr][0], pe_[gr][1]);
    CodedFrame frame;
    loop_.RunFrame(budgets, mainBits(top) + resInUse, frame, apart);
    int used = cfg_.bs.extraBits;
    for (int gr = 0; gr < G; ++gr)
        for (int ch = 0; ch < nch; ++ch) used += frame.gr[gr][ch].part2_3_length;
    // The smallest frame that holds the main data with what the reservoir lends.
    int index = 1;
    while (index < top && mainBits(index) + resInUse < used) ++index;
    bs_.BeginFrameAt(index);
    frame.modeExtension = (frameMs_ ? 2 : 0) | (frameIs_ ? 1 : 0);
    lastModeExt_ = frame.modeExtension;
    bs_.WriteFrame(frame, out);
}

void FramePipeline::Flush(std::vector<uint8_t>& out) {
    bs_.Flush(out);
}

}  // namespace mp3enc
