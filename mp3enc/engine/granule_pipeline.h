#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "mp3enc/bitstream/multiplexer.h"
#include "mp3enc/quantize/bit_allocation.h"
#include "mp3enc/quantize/loop.h"
#include "mp3enc/engine/front_end.h"

namespace mp3enc {

struct PipelineConfig {
    BitstreamConfig bs;
    LoopOptions loop;
    int channels = 2;
    // Variable bit rate 0 (best) .. 9, or -1 for the constant rate of bs.bitRate.
    int vbrLevel = -1;
};

// Bit rate per channel whose threshold settings the model uses at variable-rate level 0 (best)
// .. 9.
int VbrModelRate(int level, int sampleRate);

// Front end, loop kernel, bit allocation and multiplexer chained granule by granule.
class FramePipeline {
public:
    std::string Create(const PipelineConfig& cfg, std::unique_ptr<FrontEnd> front);
    // pcm: planar 576 samples per channel. Appends finished frames to out.
    std::string EncodeGranule(const float* const pcm[2], std::vector<uint8_t>& out);
    void Flush(std::vector<uint8_t>& out);
    int granulesPerFrame() const { return bs_.granules(); }
    long granuleCount() const { return granules_; }
    const FrontEnd& front() const { return *front_; }
    const BitstreamEncoder& bitstream() const { return bs_; }
    int frameModeExtension() const { return lastModeExt_; }

private:
    void VariableFrame(std::vector<uint8_t>& out);

    PipelineConfig cfg_;
    std::unique_ptr<FrontEnd> front_;
    BitstreamEncoder bs_;
    LoopKernel loop_;
    BitAllocator alloc_;
    GranuleAnalysis ga_;
    float pe_[2][2] = {};
    bool short_[2][2] = {};
    bool joint_[2] = {};
    bool frameMs_ = false;
    bool frameIs_ = false;
    long granules_ = 0;
    int lastModeExt_ = 0;
    float vbrPe_ = 0;  // running mean of a channel granule's perceptual entropy
};

}  // namespace mp3enc
