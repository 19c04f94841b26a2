#pragma once
#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include "mp3enc/engine/granule_pipeline.h"

namespace mp3enc {

// Configuration record of the direct engine, filled by the Mp3Encoder.
struct DirectEngineConfig {
    int32_t outputRate = 44100;
    int32_t bitRate = 128000;   // bit/s; 0 with variable bit rate
    int32_t inputChannels = 2;  // 1 when the Mp3Encoder already mixes down
    int32_t outputChannels = 2;
    float bandwidth = 0;  // Hz; 0 = automatic
    int32_t intensityOff = 1;
    int32_t vbr = 0;
    int32_t vbrQuality = 0;  // 0..100
    int32_t qualityGiven = 0;
    int32_t paddingMode = 0;
    int32_t crc = 0;
    int32_t privateBit = 0;
    int32_t copyrightBit = 0;
    int32_t originalBit = 0;
};

struct DirectEngineInfo {
    float bandwidth = 0;
    int delay = 0;           // samples
    int minOutputSpace = 0;  // bytes
    int framePeriod = 1;     // frames of one bit-rate alternation cycle
    int bytesPerPeriod = 0;
};

enum DirectResult {
    kDirectOk = 0,
    kDirectBadCount = 1,
    kDirectSmallOutput = 2,
    kDirectOverflow = 4
};

struct DirectEngine {
    DirectEngineConfig cfg;
    int granulesPerFrame = 2;
    int sideBits = 0;
    float bandwidth = 0;
    int minOutputSpace = 0;
    int delay = 0;
    int framePeriod = 1;
    int bytesPerPeriod = 0;
    long granules = 0;
    long zeroSamples = 0;  // silence added at the end
    bool finished = false;
    FramePipeline pipe;
    std::vector<float> planar[2];
    std::vector<uint8_t> scratch;
    std::deque<uint8_t> pending;  // bytes produced but not yet handed out
};

// Bandwidth the engine uses for a configuration without one (Hz).
float DirectEngineBandwidth(int bitRate, int outputChannels, int outputRate, int vbr,
                            int vbrQuality, int headerSideBits);

int CreateDirectEngine(std::unique_ptr<DirectEngine>* engine, const DirectEngineConfig& cfg);
// samples: floats in 16-bit scale, interleaved for two input channels; count over all channels.
int DirectEngineEncode(DirectEngine* e, const float* samples, int sampleCount, uint8_t* output,
                       int capacity, int* bytesWritten);
void GetDirectEngineInfo(const DirectEngine* e, DirectEngineInfo* info);
void DeleteDirectEngine(std::unique_ptr<DirectEngine>* engine);

}  // namespace mp3enc
