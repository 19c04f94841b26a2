#pragma once
#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include "mp3enc/config/errors.h"
#include "mp3enc/engine/granule_pipeline.h"
#include "mp3enc/engine/resampler.h"

namespace mp3enc {

// Configuration record of the core engine (eight 32-bit fields).
struct EncoderConfig {
    int32_t quality = 9;
    int32_t intensityOff = 0;
    float bandwidth = 0;  // Hz, 0 = none
    int32_t monoListing = 0;
    int32_t paddingMode = 0;
    int32_t optionTrace = 1;
    int32_t headerFlags = 0;  // bit 0 private, bit 1 copyright, bit 2 original
    int32_t emphasis = 0;
};

// Setter codes of SetEncoderConfig.
enum EncoderConfigCode {
    kCfgQuality = 0,
    kCfgNoIntensity = 2,
    kCfgMonoListing = 3,
    kCfgPadding = 4,
    kCfgNoTrace = 5,
    kCfgHeaderFlags = 6,
    kCfgEmphasis = 7,
    kCfgBandwidth = 8
};

// Converts whole sample frames to float; returns through the out counts.
using CastFunc = void (*)(const void* src, int bytes, float* dst, int dstCapacity, int channels,
                          int* bytesConsumed, int* samplesProduced);

struct InputFormat {
    int channels = 2;
    float sampleRate = 44100;
    int sampleType = 1;  // 0 float32 as is, 1 int16, else castFunc
    float fullScale = 32768.0f;
    CastFunc castFunc = nullptr;
};

struct StreamParams {
    int channels = 2;
    float sampleRate = 0;
    int bitRate = 128000;
    int reserved0 = 0;
    int stereoFlags = 0;  // bit 0 mid/side, bit 1 intensity, bit 2 dual channel
    int crc = 0;
    int fullSearch = 0;
    int timeStampInterval = 0;
    int reserved1 = 0, reserved2 = 0;
};

struct EncConfigEntry {
    int channels, sampleRate, bitRate, preferred, stereoFlags, fullSearch;
};

struct EncoderInfo {
    float bandwidth = 0;
    int delay = 0;
    int paddingPeriod = 1;
    int bytesPerPeriod = 0;
    int minOutputSpace = 0;
};

struct CoreEngine {
    InputFormat in;
    StreamParams sp;
    EncoderConfig cfg;
    CastFunc cast = nullptr;
    FramePipeline pipe;
    Resampler conv;
    int granulesPerFrame = 2;
    int minOutputSpace = 5500;
    float bandwidth = 0;
    int delay = 0;  // samples the stream carries before the first input sample
    int flushState = 0;
    long remainingDelay = 0;
    long samplesEncoded = 0;
    long granules = 0;
    int paddingPeriod = 1, bytesPerPeriod = 0;
    int extraGranules = 0;
    std::vector<float> block;  // converted input, interleaved
    std::vector<float> resampled;
    std::vector<float> granule;  // interleaved output-rate samples waiting for a whole granule
    std::vector<float> planar[2];
    std::vector<uint8_t> scratch;
    std::deque<uint8_t> pending;
};

ErrorChain CreateEncoderConfig(std::unique_ptr<EncoderConfig>* out);
ErrorChain SetEncoderConfig(EncoderConfig* cfg, int code, const void* value);
// Bit rates that the given table version can put into frames (no free format).
bool BitRateCodable(int sampleRate, int channels, int bitRate);
ErrorChain EnumEncoderConfigs(float inputRate, int inputChannels, const EncoderConfig& cfg,
                              std::vector<EncConfigEntry>* entries);
ErrorChain CheckStreamParams(const InputFormat& in, StreamParams* sp, const EncoderConfig& cfg);
ErrorChain CreateEncoder(std::unique_ptr<CoreEngine>* out, const InputFormat& in,
                         const StreamParams& sp, const EncoderConfig& cfg);
ErrorChain EncodeBuffer(CoreEngine* e, const void* samples, int byteCount, uint8_t* output,
                        int capacity, int* consumed, int* written);
void GetEncoderInfo(const CoreEngine* e, EncoderInfo* info);
void DeleteEncoder(std::unique_ptr<CoreEngine>* e);

}  // namespace mp3enc
