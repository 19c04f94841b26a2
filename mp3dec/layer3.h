// Layer III frame decoding: side information, main data, spectrum, filter bank.
#pragma once

#include <cstddef>
#include <cstdint>

#include "mp3dec/frame_header.h"
#include "mp3dec/tables.h"

namespace mp3dec::detail {

struct GranuleInfo {
    int part23Length = 0;
    int bigValues = 0;
    int globalGain = 0;
    int scalefacCompress = 0;
    bool windowSwitching = false;
    int blockType = 0;
    bool mixed = false;
    int tableSelect[3] = {0, 0, 0};
    int subblockGain[3] = {0, 0, 0};
    int region0Count = 0;
    int region1Count = 0;
    bool preflag = false;
    bool scalefacScale = false;
    bool count1Table = false;
};

struct SideInfo {
    int mainDataBegin = 0;
    int scfsi[2][4] = {};
    GranuleInfo gr[2][2];  // [granule][channel]
};

// Knuth's subtractive generator (uniform values in [0, 1)) and a 16-bit sign register,
// the random sources of the concealment.
class ConcealRandom {
public:
    void Reset();
    float Uniform();
    bool NextSignNegative();

private:
    int32_t table_[56] = {};
    int next_ = 0;
    int nextP_ = 0;
    int16_t sign_ = 0;
};

// Result codes of DecodeFrame, mapped to status codes by the decoder object.
enum class FrameResult { kOk, kCrcError, kMissingMainData, kConcealed };

class Layer3 {
public:
    Layer3(int rateShift, bool eightBit, bool monoOutput);
    void Reset();

    // Output bytes one frame of `h` needs (float: 4-byte samples).
    size_t OutputBytes(const FrameHeader& h, bool floatOutput) const;

    // `frame` holds the whole frame, header included, with at least 16 bytes readable past its
    // end. `out` must hold OutputBytes(h, floatOutput).
    FrameResult DecodeFrame(const FrameHeader& h, const uint8_t* frame, void* out,
                            bool floatOutput);

    // Streams carrying a Xing or Info tag come from lame-based encoders. They are decoded with
    // the standard band layout like any other: what they encode at 24000 Hz starts band 18 at
    // line 332, and a layout starting it at 330 halves the level of a tone at that edge.
    void SetTaggedEncoder(bool tagged) { taggedEncoder_ = tagged; }
    bool taggedEncoder() const { return taggedEncoder_; }

    int rateShift() const { return rateShift_; }
    bool eightBit() const { return eightBit_; }
    bool monoOutput() const { return mono_; }

private:
    struct History {
        float spectrum[4][576];
        int blockType[4];
        bool mixed[4];
        bool windowSwitching[4];
        bool valid[4];
        int newest;  // ring slot of the last stored granule
        float avg[576];
        float avgEnergy[22];
        bool avgFresh;
    };

    bool ReadSideInfo(const FrameHeader& h, const uint8_t* p, SideInfo& si) const;
    bool DecodeGranule(const FrameHeader& h, SideInfo& si, int gr, const uint8_t* data,
                       size_t& bitPos, size_t endBits);
    bool DecodeChannel(const FrameHeader& h, SideInfo& si, int gr, int ch, const uint8_t* data,
                       size_t& bitPos, size_t granuleEnd);
    void Stereo(const FrameHeader& h, const SideInfo& si, int gr);
    void Reorder(const FrameHeader& h, const GranuleInfo& g, float* xr);
    void AliasReduce(const FrameHeader& h, const GranuleInfo& g, float* xr);
    void StoreHistory(int ch, const GranuleInfo& g, const float* xr);
    void Conceal(int ch, const FrameHeader& h, float* xr, GranuleInfo& g);
    void Imdct(int ch, const FrameHeader& h, const GranuleInfo& g, const float* xr, float* sb);
    // The 18 time slots of one granule; `sb` holds 18 values per subband and 4 spare.
    void Synthesize(int ch, const float* sb, float* pcm);
    void Emit(const FrameHeader& h, int gr, float* pcm[2], int outCh, void* out, bool floatOutput);

    const BandTable& Bands(const FrameHeader& h) const { return kBands[h.bandIndex]; }

    int rateShift_;
    bool taggedEncoder_ = false;
    bool eightBit_;
    bool mono_;

    // Reservoir: the main data of preceding frames followed by the current frame's, then 64 zero
    // bytes so that reads running past a granule's end (scalefactors, one code pair) stay inside.
    uint8_t reservoir_[2048 + 1500 + 64];
    size_t reservoirLen_ = 0;

    int scalefac_[2][39] = {};  // long bands 0..21, or short bands as [3 * sfb + window]
    int slen_[2][39] = {};      // bits of each scalefactor (for the intensity limits of MPEG-2)
    float xr_[2][576];
    int nonzero_[2] = {0, 0};  // lines that may be nonzero per channel

    float overlap_[2][576];
    float synth_[2][64 * 32];  // ring of the synthesis vectors V
    int synthPos_[2] = {0, 0};
    History history_[2];
    ConcealRandom random_;
};

}  // namespace mp3dec::detail
