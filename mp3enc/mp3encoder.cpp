#include "mp3encoder.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <deque>
#include <memory>
#include <vector>

#include "mp3enc/engine/direct_engine.h"
#include "mp3enc/engine/core_engine.h"
#include "mp3enc/engine/resampler.h"

namespace mp3enc {

class Mp3Encoder {
public:
    int inChannels = 2;
    float inRate = 44100;
    int sampleType = 1;
    float fullScale = 32768.0f;
    int outRate = 44100, outChannels = 2, bitRate = 128000;
    int quality = 0;
    Mp3EncoderSettings settings;
    std::unique_ptr<EncoderConfig> config;
    std::unique_ptr<CoreEngine> core;
    std::unique_ptr<DirectEngine> direct;
    bool converterOn = false, downMix = false;
    Resampler conv;
    int convDelay = 0;
    int minOutput = 0;
    Mp3ConfigurationList list{};
    // Whole granules are handed to the direct engine; the rest waits here.
    std::vector<float> frames;  // interleaved, engine input layout
    std::vector<float> convIn, convOut;
    std::vector<uint8_t> engineOut;
    std::deque<uint8_t> pending;
    bool ending = false;
    bool tailDone = false;
};

int Mp3DefaultBitRate(int r, int ch) {
    int per = 0;
    switch (r) {
        case 8000:
            per = 8000;
            break;
        case 11025:
        case 12000:
            per = 16000;
            break;
        case 16000:
            per = 24000;
            break;
        case 22050:
        case 24000:
            per = 32000;
            break;
        case 32000:
            per = 48000;
            break;
        case 44100:
        case 48000:
            per = 64000;
            break;
        default:
            per = 0;
    }
    return per * ch;
}

namespace {

bool IntegralRatio(int in, int out) {
    if (out <= 0) return false;
    for (int k : {2, 3, 4, 6})
        if (in == k * out) return true;
    return 2 * in == 3 * out;
}

void TearDown(Mp3Encoder* e) {
    e->core.reset();
    e->direct.reset();
    e->config.reset();
    e->converterOn = e->downMix = false;
    e->frames.clear();
    e->pending.clear();
    e->ending = e->tailDone = false;
}

bool Initialize(Mp3Encoder* e) {
    TearDown(e);
    Mp3EncoderSettings& s = e->settings;
    const int inRate = static_cast<int>(std::lround(e->inRate));
    // Variable bit rate runs on the direct engine at the input's own rate.
    if (s.vbrQuality > 0 && (inRate != e->outRate || inRate < 16000)) return false;
    CreateEncoderConfig(&e->config);
    int32_t q = e->quality == 0 ? 0 : e->quality == 1 ? 5 : 9;
    SetEncoderConfig(e->config.get(), kCfgQuality, &q);
    if (!s.intensityAllowed) SetEncoderConfig(e->config.get(), kCfgNoIntensity, nullptr);
    if (s.monoConfigs) SetEncoderConfig(e->config.get(), kCfgMonoListing, nullptr);
    int32_t pad = s.paddingMode;
    SetEncoderConfig(e->config.get(), kCfgPadding, &pad);
    int32_t flags = (s.privateBit & 1) | ((s.copyrightBit & 1) << 1) | ((s.originalBit & 1) << 2);
    SetEncoderConfig(e->config.get(), kCfgHeaderFlags, &flags);
    if (s.bandwidth > 0) SetEncoderConfig(e->config.get(), kCfgBandwidth, &s.bandwidth);

    const bool equal = inRate == e->outRate;
    const bool integral = IntegralRatio(inRate, e->outRate);
    bool useCore;
    if (s.vbrQuality > 0) {
        useCore = false;
    } else if (e->quality == 0) {
        useCore = !equal && !integral;
    } else {
        useCore =
            (e->bitRate != 320000 && e->bitRate / e->outChannels > 39999) || (!equal && !integral);
    }
    e->sampleType = s.inputFormat == 1 ? 0 : 1;
    if (useCore) {
        InputFormat in;
        in.channels = e->inChannels;
        in.sampleRate = e->inRate;
        in.sampleType = e->sampleType;
        in.fullScale = e->fullScale;
        StreamParams sp;
        sp.channels = e->outChannels;
        sp.bitRate = e->bitRate;
        sp.crc = s.crc;
        if (!CheckStreamParams(in, &sp, *e->config).empty()) return false;
        sp.sampleRate = static_cast<float>(e->outRate);
        if (!CreateEncoder(&e->core, in, sp, *e->config).empty()) return false;
        EncoderInfo info;
        GetEncoderInfo(e->core.get(), &info);
        s.bandwidth = info.bandwidth;
        s.delay = info.delay;
        e->minOutput = info.minOutputSpace;
        return true;
    }
    DirectEngineConfig dc;
    dc.outputRate = e->outRate;
    dc.bitRate = e->bitRate;
    dc.vbr = s.vbrQuality > 0 ? 1 : 0;
    dc.vbrQuality = s.vbrQuality;
    e->converterOn = !equal;
    e->downMix = e->outChannels < e->inChannels;
    dc.inputChannels = e->downMix ? e->outChannels : e->inChannels;
    dc.outputChannels = e->outChannels;
    dc.bandwidth = s.bandwidth;
    dc.intensityOff = s.intensityAllowed ? 0 : 1;
    dc.qualityGiven = e->quality > 0;
    dc.paddingMode = s.paddingMode;
    dc.crc = s.crc;
    dc.privateBit = s.privateBit;
    dc.copyrightBit = s.copyrightBit;
    dc.originalBit = s.originalBit;
    if (CreateDirectEngine(&e->direct, dc) != 0) return false;
    DirectEngineInfo info;
    GetDirectEngineInfo(e->direct.get(), &info);
    s.bandwidth = info.bandwidth;
    s.delay = info.delay;
    e->minOutput = info.minOutputSpace;
    e->convDelay = 0;
    if (e->converterOn || e->downMix) {
        int ch = dc.inputChannels;
        double pass = std::min<double>(info.bandwidth, 0.475 * std::min(inRate, e->outRate));
        if (!e->conv.Init(inRate, e->outRate, ch, pass)) return false;
        e->convDelay = e->conv.Delay();
        s.delay += e->convDelay;
    }
    e->engineOut.resize(static_cast<size_t>(std::max(e->minOutput, 16384)));
    return true;
}

// Converts caller bytes to floats in 16-bit scale, down-mixed when the engine wants fewer channels.
int TakeInput(Mp3Encoder* e, const uint8_t* src, int bytes, int maxFrames) {
    const int ch = e->inChannels;
    const int bps = e->settings.inputFormat == 1 ? 4 : 2;
    const int frames = std::min(bytes / (bps * ch), maxFrames);
    const int outCh = e->downMix ? 1 : ch;
    // Without the rate converter the samples go straight to the engine's queue.
    std::vector<float>& dst = e->converterOn ? e->convIn : e->frames;
    if (e->converterOn) dst.clear();
    const size_t base = dst.size();
    dst.resize(base + static_cast<size_t>(frames * outCh));
    float* o = dst.data() + base;
    auto sample = [&](size_t i) {  // interleaved sample i
        const uint8_t* p = src + i * static_cast<size_t>(bps);
        if (bps == 2) return static_cast<float>(static_cast<int16_t>(p[0] | (p[1] << 8)));
        float f;
        std::memcpy(&f, p, 4);
        return std::isfinite(f) ? f : 0.0f;
    };
    const size_t n = static_cast<size_t>(frames);
    if (e->downMix) {
        for (size_t i = 0; i < n; ++i) o[i] = 0.5f * (sample(2 * i) + sample(2 * i + 1));
    } else {
        for (size_t i = 0; i < n * static_cast<size_t>(ch); ++i) o[i] = sample(i);
    }
    if (e->converterOn) e->conv.Process(e->convIn.data(), frames, e->frames);
    return frames * bps * ch;
}

bool DirectGranule(Mp3Encoder* e, const float* samples, int count) {
    int w = 0;
    int r = DirectEngineEncode(e->direct.get(), samples, count, e->engineOut.data(),
                               static_cast<int>(e->engineOut.size()), &w);
    if (r != kDirectOk) return false;
    e->pending.insert(e->pending.end(), e->engineOut.begin(), e->engineOut.begin() + w);
    return true;
}

int Hand(Mp3Encoder* e, uint8_t* out, int cap) {
    int n = static_cast<int>(std::min<size_t>(e->pending.size(), static_cast<size_t>(cap)));
    std::copy(e->pending.begin(), e->pending.begin() + n, out);
    e->pending.erase(e->pending.begin(), e->pending.begin() + n);
    return n;
}

}  // namespace

Mp3Encoder* Mp3EncoderCreate(float sampleRate, int channels, int qualityLevel) {
    if (channels < 1 || channels > 2 || !(sampleRate > 0) || qualityLevel < 0 || qualityLevel > 2)
        return nullptr;
    auto e = std::make_unique<Mp3Encoder>();
    e->inChannels = channels;
    e->inRate = sampleRate;
    e->quality = qualityLevel;
    e->outRate = static_cast<int>(std::lround(sampleRate));
    e->outChannels = channels;
    e->bitRate = Mp3DefaultBitRate(e->outRate, channels);
    if (!Initialize(e.get())) return nullptr;
    return e.release();
}

int Mp3EncoderDelete(Mp3Encoder* e) {
    if (!e) return 0;
    delete e;
    return 1;
}

const Mp3ConfigurationList* Mp3EncoderGetConfigurations(Mp3Encoder* e) {
    if (!e) return nullptr;
    EncoderConfig cfg;
    cfg.quality = e->quality == 0 ? 0 : e->quality == 1 ? 5 : 9;
    cfg.monoListing = e->settings.monoConfigs ? 1 : 0;
    cfg.intensityOff = e->settings.intensityAllowed ? 0 : 1;
    std::vector<EncConfigEntry> entries;
    EnumEncoderConfigs(e->inRate, e->inChannels, cfg, &entries);
    e->list.count = static_cast<int32_t>(std::min<size_t>(entries.size(), 64));
    for (int i = 0; i < e->list.count; ++i)
        e->list.entries[i] = {entries[static_cast<size_t>(i)].sampleRate,
                              entries[static_cast<size_t>(i)].channels,
                              entries[static_cast<size_t>(i)].bitRate};
    return &e->list;
}

int Mp3EncoderSelectConfiguration(Mp3Encoder* e, const Mp3Configuration* c) {
    if (!e || !c) return 0;
    const int inRate = static_cast<int>(std::lround(e->inRate));
    if (c->sampleRate != 0 || c->bitRate == 0) {
        if (c->channels < 1 || c->channels > e->inChannels || c->sampleRate > inRate) return 0;
        // The version's table must be able to code the bit rate at that rate.
        if (!BitRateCodable(c->sampleRate, c->channels, c->bitRate)) return 0;
        e->outRate = c->sampleRate;
        e->outChannels = c->channels;
        e->bitRate = c->bitRate;
    } else {
        EncoderConfig cfg;
        cfg.quality = e->quality == 0 ? 0 : e->quality == 1 ? 5 : 9;
        cfg.intensityOff = e->settings.intensityAllowed ? 0 : 1;
        InputFormat in;
        in.channels = e->inChannels;
        in.sampleRate = e->inRate;
        StreamParams sp;
        sp.channels = c->channels == 0 ? e->inChannels : c->channels;
        sp.bitRate = c->bitRate;
        ErrorChain err = CheckStreamParams(in, &sp, cfg);
        if (!err.empty() && e->settings.monoConfigs && sp.channels == 2) {
            sp.channels = 1;
            err = CheckStreamParams(in, &sp, cfg);
        }
        if (!err.empty()) return 0;
        int rate = static_cast<int>(sp.sampleRate);
        if (!BitRateCodable(rate, sp.channels, sp.bitRate)) return 0;
        e->outRate = rate;
        e->outChannels = sp.channels;
        e->bitRate = sp.bitRate;
    }
    e->settings.vbrQuality = 0;
    e->settings.bandwidth = 0;
    e->settings.delay = 0;
    return Initialize(e) ? 1 : 0;
}

Mp3EncoderSettings* Mp3EncoderGetSettings(Mp3Encoder* e) {
    return e ? &e->settings : nullptr;
}

int Mp3EncoderSetSettings(Mp3Encoder* e, const Mp3EncoderSettings* s) {
    if (!e || !s) return 0;
    if (s->inputFormat != 0 && s->inputFormat != 1) return 0;
    if (s->paddingMode < 0 || s->paddingMode > 2) return 0;
    if (s->vbrQuality < 0 || s->vbrQuality > 100) return 0;
    float half = (s->vbrQuality > 0 ? e->inRate : static_cast<float>(e->outRate)) / 2.0f;
    if (s->bandwidth > half || s->bandwidth < 0) return 0;
    e->settings = *s;
    if (s->vbrQuality > 0) {
        e->outRate = static_cast<int>(std::lround(e->inRate));
        e->outChannels = e->inChannels;
        e->bitRate = 0;
    }
    return Initialize(e) ? 1 : 0;
}

int Mp3EncoderEncode(Mp3Encoder* e, const void* samples, int byteCount, int* consumed, uint8_t* out,
                     int capacity) {
    if (consumed) *consumed = 0;
    if (!e || !out || byteCount < 0 || (byteCount > 0 && !samples)) return -1;
    if (!e->core && !e->direct) return -1;  // 0 would read as "end of stream"
    if (capacity < e->minOutput) return -1;
    if (e->core) {
        int used = 0, written = 0;
        ErrorChain err =
            EncodeBuffer(e->core.get(), samples, byteCount, out, capacity, &used, &written);
        if (!err.empty()) return -1;
        if (consumed) *consumed = used;
        return written;
    }
    const int engCh = e->downMix ? e->outChannels : e->inChannels;
    const size_t granule = static_cast<size_t>(576 * engCh);
    int written = Hand(e, out, capacity);
    if (byteCount > 0) {
        if (e->ending) return -1;  // input after the end of the stream
        int used = 0;
        const uint8_t* src = static_cast<const uint8_t*>(samples);
        while (used < byteCount && e->pending.empty()) {
            int took = TakeInput(e, src + used, byteCount - used, 576);
            if (took <= 0) break;  // less than one sample frame left
            used += took;
            while (e->frames.size() >= granule) {
                if (!DirectGranule(e, e->frames.data(), static_cast<int>(granule))) return -1;
                e->frames.erase(e->frames.begin(), e->frames.begin() + static_cast<long>(granule));
            }
            written += Hand(e, out + written, capacity - written);
        }
        if (consumed) *consumed = used;
        return written;
    }
    // End of stream: drain the converter, pass the last partial granule, then flush.
    if (!e->ending) {
        e->ending = true;
        if (e->converterOn) {
            std::vector<float> zeros(static_cast<size_t>(e->conv.TailFrames() * engCh), 0.0f);
            e->conv.Process(zeros.data(), e->conv.TailFrames(), e->frames);
        }
        while (e->frames.size() >= granule) {
            if (!DirectGranule(e, e->frames.data(), static_cast<int>(granule))) return -1;
            e->frames.erase(e->frames.begin(), e->frames.begin() + static_cast<long>(granule));
        }
        if (!e->frames.empty()) {
            if (!DirectGranule(e, e->frames.data(), static_cast<int>(e->frames.size()))) return -1;
            e->frames.clear();
        }
    }
    while (written < capacity) {
        if (e->pending.empty() && !DirectGranule(e, nullptr, 0)) return -1;
        if (e->pending.empty()) break;  // the engine has nothing more
        written += Hand(e, out + written, capacity - written);
    }
    return written;
}

int Mp3EncoderGetStatus(Mp3Encoder* e, Mp3EncoderStatus* s) {
    if (!e || !s) return 0;
    s->outputRate = e->outRate;
    s->outputChannels = e->outChannels;
    s->bitRate = e->bitRate;
    s->engine = e->direct ? 1 : e->core ? 2 : 0;
    s->converterOn = e->converterOn;
    s->minOutputSpace = e->minOutput;
    return 1;
}

}  // namespace mp3enc
