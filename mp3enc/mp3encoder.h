#pragma once
// MP3 encoder object: configuration list, settings record, integer-ratio rate converter,
// and the choice between the direct engine and the core engine.
#include <cstdint>

namespace mp3enc {

struct Mp3EncoderSettings {
    int32_t inputFormat = 0;  // 0 interleaved int16, 1 interleaved float (full scale 32768)
    int32_t paddingMode = 0;  // 0 ISO, 1 never, 2 always
    int32_t intensityAllowed = 1;
    int32_t reservedFlag = 1;  // kept, never consulted
    int32_t monoConfigs = 1;   // offer mono configurations for stereo input
    int32_t crc = 0;
    int32_t vbrQuality = 0;  // 0 = constant bit rate
    int32_t privateBit = 0;
    int32_t copyrightBit = 0;
    int32_t originalBit = 0;
    float bandwidth = 0;  // Hz, 0 = automatic; holds the bandwidth in use after init
    int32_t delay = 0;    // leading samples before the first input sample
};

struct Mp3Configuration {
    int32_t sampleRate;
    int32_t channels;
    int32_t bitRate;
};

struct Mp3ConfigurationList {
    int32_t count;
    Mp3Configuration entries[64];
};

class Mp3Encoder;

// Returns null when the encoder cannot be set up for the input.
Mp3Encoder* Mp3EncoderCreate(float sampleRate, int channels, int qualityLevel);
int Mp3EncoderDelete(Mp3Encoder* handle);
const Mp3ConfigurationList* Mp3EncoderGetConfigurations(Mp3Encoder* handle);
int Mp3EncoderSelectConfiguration(Mp3Encoder* handle, const Mp3Configuration* configuration);
Mp3EncoderSettings* Mp3EncoderGetSettings(Mp3Encoder* handle);
int Mp3EncoderSetSettings(Mp3Encoder* handle, const Mp3EncoderSettings* settings);
// Returns the bytes written to output, or -1 on error. byteCount 0 asks for the end of the
// stream: repeat such calls until one returns 0.
int Mp3EncoderEncode(Mp3Encoder* handle, const void* samples, int byteCount, int* consumed,
                     uint8_t* output, int outputCapacity);

// Current stream parameters (for callers and tests).
struct Mp3EncoderStatus {
    int outputRate;
    int outputChannels;
    int bitRate;
    int engine;  // 0 none, 1 direct, 2 core
    int converterOn;
    int minOutputSpace;
};
int Mp3EncoderGetStatus(Mp3Encoder* handle, Mp3EncoderStatus* status);

// Default bit rate for an output rate and channel count (bit/s; 0 for unknown rates).
int Mp3DefaultBitRate(int sampleRate, int channels);

}  // namespace mp3enc
