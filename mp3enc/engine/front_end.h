#pragma once
#include <memory>
#include <string>

#include "mp3enc/quantize/bit_allocation.h"
#include "mp3enc/stereo/intensity.h"

namespace mp3enc {

// What the analysis and psychoacoustic model deliver for one granule and channel.
struct ChannelAnalysis {
    int blockType = 0;  // 0 long, 1 start, 2 short, 3 stop
    float xr[576];      // coding spectrum (short blocks: band, window, line)
    float xmin[39];     // allowed distortion: 22 long bands or 13 x 3 short band-windows
    float pe = 0;       // perceptual entropy (bit demand)
};

struct GranuleAnalysis {
    ChannelAnalysis ch[2];
    bool midSide = false;    // mid/side wished for (or, with msApplied, used) in this granule
    bool msApplied = false;  // spectra and allowed distortion are already mid and side
    // Intensity in this granule: ch[0] carries both channels from the bound on, ch[1] nothing.
    bool intensity = false;
    IntensityBands isBands;  // positions of ch[1]'s scalefactors
};

// Analysis filterbank plus psychoacoustic model, one granule at a time.
class FrontEnd {
public:
    virtual ~FrontEnd() = default;
    // pcm: planar, 576 samples per channel.
    virtual std::string Analyse(const float* const pcm[2], GranuleAnalysis& out) = 0;
    // Samples between the input and the decoded output of the whole chain.
    virtual int Delay() const = 0;
    virtual float Bandwidth() const = 0;
    virtual float PeMin() const { return 800.0f; }
    virtual float PeMax() const { return 1500.0f; }
    // Bit-reservoir tuning of the stream (long and short blocks).
    virtual void Shapes(ReservoirShape* longShape, ReservoirShape* shortShape) const {
        *longShape = DefaultLongShape(PeMin(), PeMax());
        *shortShape = DefaultShortShape(PeMin(), PeMax());
    }
};

struct FrontEndParams {
    int sampleRate = 44100;
    int channels = 2;
    int bitRate = 128000;
    bool midSide = true;
    bool intensity = false;
    float intensityFromHz = 0;           // lowest frequency coded in intensity; 0 = the model's own
    float intensityMinCorrelation = -1;  // of the channels' lines in an intensity band
    float bandwidth = 0;                 // Hz; 0 = the model's own choice
    float quietLowerDb = 0;              // threshold in quiet this much below the model's
};

// Builds the encoder's front end.
std::unique_ptr<FrontEnd> CreateFrontEnd(const FrontEndParams& p, std::string* error);

}  // namespace mp3enc
