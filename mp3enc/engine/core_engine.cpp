#include "mp3enc/engine/core_engine.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "mp3enc/bitstream/frame.h"
#include "mp3enc/config/tuning.h"

namespace mp3enc {
namespace {

constexpr const char* kModule = "wrappers/enc/l3/encifc";
#define ENC_ERROR(chain, msg) AddError(&(chain), kModule, __LINE__, (msg))

constexpr int kListRates[] = {8000,   16000,  18000,  20000,  24000, 32000,  40000,
                              48000,  56000,  64000,  80000,  96000, 112000, 128000,
                              160000, 192000, 224000, 256000, 320000};

void CastFloat(const void* src, int bytes, float* dst, int cap, int ch, int* used, int* made) {
    int frames = std::min(bytes / (4 * ch), cap / ch);
    std::memcpy(dst, src, static_cast<size_t>(frames) * ch * 4);
    *used = frames * ch * 4;
    *made = frames * ch;
}

void CastInt16(const void* src, int bytes, float* dst, int cap, int ch, int* used, int* made) {
    int frames = std::min(bytes / (2 * ch), cap / ch);
    const uint8_t* p = static_cast<const uint8_t*>(src);
    for (int i = 0; i < frames * ch; ++i)
        dst[i] = static_cast<float>(static_cast<int16_t>(p[2 * i] | (p[2 * i + 1] << 8)));
    *used = frames * ch * 2;
    *made = frames * ch;
}

}  // namespace

ErrorChain CreateEncoderConfig(std::unique_ptr<EncoderConfig>* out) {
    *out = std::make_unique<EncoderConfig>();
    return {};
}

ErrorChain SetEncoderConfig(EncoderConfig* cfg, int code, const void* value) {
    ErrorChain err;
    if (!cfg) {
        ENC_ERROR(err, "invalid function parameter");
        return err;
    }
    auto i32 = [&]() { return value ? *static_cast<const int32_t*>(value) : 0; };
    switch (code) {
        case kCfgQuality:
            cfg->quality = i32();
            break;
        case kCfgNoIntensity:
            cfg->intensityOff = 1;
            break;
        case kCfgMonoListing:
            cfg->monoListing = 1;
            break;
        case kCfgPadding:
            cfg->paddingMode = i32();
            break;
        case kCfgNoTrace:
            cfg->optionTrace = 0;
            break;
        case kCfgHeaderFlags:
            cfg->headerFlags = i32();
            break;
        case kCfgEmphasis:
            cfg->emphasis = i32();
            break;
        case kCfgBandwidth:
            cfg->bandwidth = value ? *static_cast<const float*>(value) : 0.0f;
            break;
        default:
            ENC_ERROR(err, "invalid function parameter");
    }
    return err;
}

bool BitRateCodable(int rate, int channels, int bitRate) {
    int v = VersionOfRate(rate);
    if (v < 0 || channels < 1 || channels > 2) return false;
    if (bitRate < MinBitRate(v) || bitRate > MaxBitRate(v)) return false;
    int perChannel = bitRate / channels;
    if (perChannel < 8000 || perChannel > 160000) return false;
    // The smallest frame used must hold header and side information.
    const int* t = BitRateTable(v);
    int low = 0;
    for (int i = 1; i < 15; ++i)
        if (t[i] && t[i] <= bitRate) low = t[i];
    if (low == 0) return false;
    int spf = v == 0 ? 1152 : 576;
    int side = v == 0 ? (channels == 2 ? 32 : 17) : (channels == 2 ? 17 : 9);
    return spf / 8 * low / rate > 4 + 2 + side;
}

ErrorChain EnumEncoderConfigs(float inputRate, int inputChannels, const EncoderConfig& cfg,
                              std::vector<EncConfigEntry>* entries) {
    entries->clear();
    ErrorChain err;
    if (inputChannels < 1 || inputChannels > 2) {
        ENC_ERROR(err, "wrong number of channels on input");
        return err;
    }
    const int inRate = static_cast<int>(std::lround(inputRate));
    for (int ch = cfg.monoListing ? 1 : inputChannels; ch <= inputChannels; ++ch) {
        for (int br : kListRates) {
            if (ch == 1 ? (br < 8000 || br > 128000) : (br < 20000 || br > 320000)) continue;
            const StreamParamRow* row = FindStreamParamRow(ch, br);
            if (!row || row->preferredRate == 0) continue;
            for (int rate : IsoSampleRates()) {
                if (rate > inRate || rate < row->lowestRate || rate > row->highestRate) continue;
                if (cfg.quality <= 6 && inRate % rate != 0) continue;
                if (!BitRateCodable(rate, ch, br)) continue;
                int flags = (row->midSide ? 1 : 0) | (row->intensity && !cfg.intensityOff ? 2 : 0);
                entries->push_back({ch, rate, br, rate == row->preferredRate, ch == 2 ? flags : 0,
                                    row->fullSearch});
            }
        }
    }
    return err;
}

ErrorChain CheckStreamParams(const InputFormat& in, StreamParams* sp, const EncoderConfig& cfg) {
    ErrorChain err;
    if (sp->bitRate < 8000) {
        ENC_ERROR(err, "bitrates < 8000 not supported by ISO MPEG Layer-3");
        return err;
    }
    if (sp->bitRate > 320000) {
        ENC_ERROR(err, "bitrates > 320000 not supported by ISO MPEG Layer-3");
        return err;
    }
    int ch = sp->channels == 1 ? 1 : 2;
    const StreamParamRow* row = FindStreamParamRow(ch, sp->bitRate);
    if (!row || row->preferredRate == 0) {
        ENC_ERROR(err, "bitrate invalid for this mode");
        return err;
    }
    sp->sampleRate = static_cast<float>(row->preferredRate);
    if (cfg.quality <= 6) {
        const int inRate = static_cast<int>(std::lround(in.sampleRate));
        for (int i = 1; i <= 6; ++i) {
            if (inRate % i) continue;
            int r = inRate / i;
            if (r >= row->lowestRate && r <= row->highestRate && IsIsoSampleRate(r)) {
                sp->sampleRate = static_cast<float>(r);
                break;
            }
        }
    }
    sp->stereoFlags = (row->midSide ? 1 : 0) | (row->intensity && !cfg.intensityOff ? 2 : 0);
    sp->fullSearch = cfg.quality <= 2 ? 0 : cfg.quality <= 7 ? row->fullSearch : 1;
    return err;
}

ErrorChain CreateEncoder(std::unique_ptr<CoreEngine>* out, const InputFormat& in,
                         const StreamParams& spIn, const EncoderConfig& cfg) {
    out->reset();
    ErrorChain err;
    StreamParams sp = spIn;
    if (sp.channels < 1 || sp.channels > 2 || in.channels < 1 || in.channels > 2) {
        ENC_ERROR(err, "wrong number of channels on input");
        return err;
    }
    const int R = static_cast<int>(std::lround(sp.sampleRate));
    if (!BitRateCodable(R, sp.channels, sp.bitRate)) {
        ENC_ERROR(err, "bitrate invalid for this mode");
        return err;
    }
    auto e = std::make_unique<CoreEngine>();
    e->in = in;
    e->sp = sp;
    e->cfg = cfg;
    if (in.sampleType == 0)
        e->cast = CastFloat;
    else if (in.sampleType == 1)
        e->cast = CastInt16;
    else
        e->cast = in.castFunc;
    if (!e->cast) {
        ENC_ERROR(err, "invalid castFunc");
        return err;
    }
    if (sp.channels == 1) sp.stereoFlags = 0;
    e->granulesPerFrame = R >= 32000 ? 2 : 1;
    e->minOutputSpace = 5500;

    FrontEndParams fp;
    fp.sampleRate = R;
    fp.channels = sp.channels;
    fp.bitRate = sp.bitRate;
    fp.midSide = (sp.stereoFlags & 1) != 0;
    fp.intensity = false;  // intensity coding is not offered by the loops
    fp.bandwidth = cfg.bandwidth > 0 ? std::min(cfg.bandwidth, R / 2.0f) : 0.0f;
    std::string why;
    auto front = CreateFrontEnd(fp, &why);
    if (!front) {
        ENC_ERROR(err, why.empty() ? "out of memory" : why);
        return err;
    }
    e->bandwidth = front->Bandwidth();
    const int frontDelay = front->Delay();

    // Fractional converter in front of the model.
    const int inRate = static_cast<int>(std::lround(in.sampleRate));
    double ratio = static_cast<double>(R) / inRate;
    double cutoff = 0.5 * inRate * std::min(1.0, ratio);
    if (cfg.quality >= 1) cutoff = std::min(cutoff, static_cast<double>(e->bandwidth));
    if (!e->conv.Init(inRate, R, sp.channels, cutoff)) {
        ENC_ERROR(err, "flfChunkBufInit() failed");
        return err;
    }

    PipelineConfig pc;
    pc.channels = sp.channels;
    pc.bs.sampleRate = R;
    pc.bs.bitRate = sp.bitRate;
    pc.bs.crc = sp.crc;
    pc.bs.privateBit = cfg.headerFlags & 1;
    pc.bs.copyrightBit = (cfg.headerFlags >> 1) & 1;
    pc.bs.homeBit = (cfg.headerFlags >> 2) & 1;
    pc.bs.emphasis = cfg.emphasis & 3;
    pc.bs.stereoMode = sp.channels == 1       ? 3
                       : (sp.stereoFlags & 4) ? 2
                       : (sp.stereoFlags & 3) ? 1
                                              : 0;
    pc.bs.paddingMode = std::clamp(cfg.paddingMode, 0, 2);
    pc.bs.bitstreamMode = kAlternating;
    pc.loop.hfs = sp.fullSearch != 0;
    pc.loop.amp = cfg.quality <= 6 ? 2 : 1;
    pc.loop.mol = cfg.quality <= 6 ? 14 : 400;
    pc.loop.itm = 2;
    std::string perr = e->pipe.Create(pc, std::move(front));
    if (!perr.empty()) {
        AddError(&err, "core/bitmux/enc/l3/bit_enc", 0, perr);
        ENC_ERROR(err, "CreateBitstreamEncoder() failed");
        return err;
    }
    // The stream carries the model's and the converter's delay before the first sample.
    e->delay = frontDelay + e->conv.Delay();
    e->remainingDelay = e->delay;
    BitRatePeriod(sp.bitRate, R, pc.bs.paddingMode, &e->paddingPeriod, &e->bytesPerPeriod);
    e->extraGranules = e->granulesPerFrame;
    for (auto& p : e->planar) p.assign(576, 0.0f);
    e->block.resize(static_cast<size_t>(in.channels) * 576);
    *out = std::move(e);
    return err;
}

namespace {

bool EncodeGranule(CoreEngine* e, ErrorChain& err) {
    const int ch = e->sp.channels;
    for (int i = 0; i < 576; ++i)
        for (int c = 0; c < ch; ++c)
            e->planar[c][static_cast<size_t>(i)] = e->granule[static_cast<size_t>(i * ch + c)];
    const float* p[2] = {e->planar[0].data(), e->planar[1].data()};
    e->scratch.clear();
    std::string why = e->pipe.EncodeGranule(p, e->scratch);
    if (!why.empty()) {
        AddError(&err, "core/psych/enc/l3/psymain", 0, why);
        ENC_ERROR(err, "AdvanceLoopKernel() failed");
        return false;
    }
    e->pending.insert(e->pending.end(), e->scratch.begin(), e->scratch.end());
    e->samplesEncoded += 576;
    ++e->granules;
    return true;
}

void Hand(CoreEngine* e, uint8_t* output, int capacity, int* written) {
    int n = static_cast<int>(
        std::min<size_t>(e->pending.size(), static_cast<size_t>(capacity - *written)));
    std::copy(e->pending.begin(), e->pending.begin() + n, output + *written);
    e->pending.erase(e->pending.begin(), e->pending.begin() + n);
    *written += n;
}

// Appends converted samples (output channel layout) to the granule buffer.
void Feed(CoreEngine* e, const float* frames, int count) {
    e->resampled.clear();
    e->conv.Process(frames, count, e->resampled);
    e->granule.insert(e->granule.end(), e->resampled.begin(), e->resampled.end());
}

}  // namespace

ErrorChain EncodeBuffer(CoreEngine* e, const void* samples, int byteCount, uint8_t* output,
                        int capacity, int* consumed, int* written) {
    ErrorChain err;
    *consumed = 0;
    *written = 0;
    if (!e) {
        ENC_ERROR(err, "invalid function parameter");
        return err;
    }
    if (capacity < e->minOutputSpace) return err;  // nothing written, nothing consumed
    Hand(e, output, capacity, written);
    const int inCh = e->in.channels, outCh = e->sp.channels;
    const size_t granuleValues = static_cast<size_t>(576 * outCh);
    for (;;) {
        if (capacity - *written < e->minOutputSpace || !e->pending.empty()) return err;
        switch (e->flushState) {
            case 0: {
                if (byteCount - *consumed <= 0) {
                    if (byteCount == 0) {
                        e->flushState = 1;
                        continue;
                    }
                    return err;
                }
                int used = 0, made = 0;
                e->cast(static_cast<const uint8_t*>(samples) + *consumed, byteCount - *consumed,
                        e->block.data(), static_cast<int>(e->block.size()), inCh, &used, &made);
                if (used <= 0) return err;  // less than one sample frame left
                *consumed += used;
                int frames = made / inCh;
                const float scale = 32768.0f / (e->in.fullScale > 0 ? e->in.fullScale : 32768.0f);
                if (inCh > outCh) {
                    for (int i = 0; i < frames; ++i)
                        e->block[static_cast<size_t>(i)] =
                            (e->block[static_cast<size_t>(2 * i)] +
                             e->block[static_cast<size_t>(2 * i + 1)]) *
                            0.5f * scale;
                } else {
                    for (int i = 0; i < made; ++i) e->block[static_cast<size_t>(i)] *= scale;
                }
                Feed(e, e->block.data(), frames);
                while (e->granule.size() >= granuleValues) {
                    if (!EncodeGranule(e, err)) return err;
                    e->granule.erase(e->granule.begin(),
                                     e->granule.begin() + static_cast<long>(granuleValues));
                    Hand(e, output, capacity, written);
                }
                break;
            }
            case 1: {
                // Drain the converter's tail, then the last partial granule zero-padded.
                if (!e->conv.bypass()) {
                    std::vector<float> zeros(static_cast<size_t>(e->conv.TailFrames() * outCh),
                                             0.0f);
                    Feed(e, zeros.data(), e->conv.TailFrames());
                }
                while (e->granule.size() >= granuleValues) {
                    if (!EncodeGranule(e, err)) return err;
                    e->granule.erase(e->granule.begin(),
                                     e->granule.begin() + static_cast<long>(granuleValues));
                }
                long held = static_cast<long>(e->granule.size()) / outCh;
                e->granule.resize(granuleValues, 0.0f);
                e->remainingDelay -= 576 - held;
                e->flushState = 2;
                if (!EncodeGranule(e, err)) return err;
                Hand(e, output, capacity, written);
                break;
            }
            case 2:
                std::fill(e->granule.begin(), e->granule.end(), 0.0f);
                if (e->remainingDelay > 0) {
                    if (!EncodeGranule(e, err)) return err;
                    e->remainingDelay -= 576;
                    Hand(e, output, capacity, written);
                } else {
                    e->flushState = 3;
                }
                break;
            case 3:
                if (e->granules % e->granulesPerFrame != 0) {
                    if (!EncodeGranule(e, err)) return err;
                    Hand(e, output, capacity, written);
                } else {
                    e->flushState = 4;
                }
                break;
            case 4:
                for (int i = 0; i < e->extraGranules; ++i)
                    if (!EncodeGranule(e, err)) return err;
                Hand(e, output, capacity, written);
                e->flushState = 5;
                break;
            case 5:
                if (e->granules % (static_cast<long>(e->paddingPeriod) * e->granulesPerFrame) !=
                    0) {
                    if (!EncodeGranule(e, err)) return err;
                    Hand(e, output, capacity, written);
                } else {
                    e->flushState = 6;
                }
                break;
            case 6:
                e->scratch.clear();
                e->pipe.Flush(e->scratch);
                e->pending.insert(e->pending.end(), e->scratch.begin(), e->scratch.end());
                e->flushState = 7;
                Hand(e, output, capacity, written);
                return err;
            default:
                return err;
        }
    }
}

void GetEncoderInfo(const CoreEngine* e, EncoderInfo* info) {
    info->bandwidth = e->bandwidth;
    info->delay = e->delay;
    info->paddingPeriod = e->paddingPeriod;
    info->bytesPerPeriod = e->bytesPerPeriod;
    info->minOutputSpace = e->minOutputSpace;
}

void DeleteEncoder(std::unique_ptr<CoreEngine>* e) {
    e->reset();
}

}  // namespace mp3enc
