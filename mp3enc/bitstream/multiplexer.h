#pragma once
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "mp3enc/bitstream/bit_buffer.h"
#include "mp3enc/bitstream/frame.h"

namespace mp3enc {

// Everything the multiplexer writes for one granule and channel.
struct GranuleInfo {
    int part2_3_length = 0;
    int part2_length = 0;
    int big_values = 0;  // pairs
    int global_gain = 0;
    int scalefac_compress = 0;
    int block_type = 0;  // 0 normal, 1 start, 2 short, 3 stop
    int mixed_block_flag = 0;
    int table_select[3] = {0, 0, 0};
    int subblock_gain[3] = {0, 0, 0};
    int region0_count = 0;
    int region1_count = 0;
    int preflag = 0;
    int scalefac_scale = 0;
    int count1table_select = 0;
    // Line where region 1 and region 2 start, and the end of the count1 region.
    int region1Start = 0;
    int region2Start = 0;
    int count1End = 0;
    // Scalefactors in writing order, in four partitions.
    int partCount[4] = {0, 0, 0, 0};
    int slen[4] = {0, 0, 0, 0};
    int sf[40] = {};
    int ix[576] = {};  // signed quantized lines
};

struct CodedFrame {
    GranuleInfo gr[2][2];
    int modeExtension = 0;  // bit 1 mid/side, bit 0 intensity
};

struct BitstreamConfig {
    int sampleRate = 44100;
    int bitRate = 128000;
    int extraBits = 0;
    int crc = 0;
    int privateBit = 0, copyrightBit = 0, homeBit = 0, emphasis = 0;
    int stereoMode = 1;  // 0 stereo, 1 joint, 2 dual, 3 single channel
    int bitstreamMode = kAlternating;
    int paddingMode = 0;
    int maxReservoirBits = -1;  // a tighter reservoir limit than the framer's, or -1
};

// Frame budget handed to the bit allocation at a frame's first granule.
struct FrameBudget {
    FrameRecord frame;
    int mainDataBits = 0;  // frame bits less header, CRC and side information
    int granuleBits = 0;   // what the granules may use on average (before reservoir)
};

// Writes Layer III frames: header, CRC, side information and main data, with the
// main data multiplexed into the frame slots through the bit reservoir.
class BitstreamEncoder {
public:
    std::string Create(const BitstreamConfig& cfg);
    int channels() const { return channels_; }
    int granules() const { return granules_; }
    int version() const { return version_; }
    int sideInfoBits() const { return sideBits_; }
    int headerBits() const { return hdrBits_; }
    const Framer& framer() const { return framer_; }

    // Sets up the next frame: size, index, padding, reservoir.
    FrameBudget BeginFrame();
    // The same for a variable-bit-rate frame at table index `index`.
    FrameBudget BeginFrameAt(int index);
    // Writes the frame begun last into the multiplexer and appends complete frames to out.
    void WriteFrame(const CodedFrame& f, std::vector<uint8_t>& out);
    // Completes the last frame's slot and drains everything.
    void Flush(std::vector<uint8_t>& out);

    static uint16_t Crc16(const uint8_t* bytes, int bits, uint16_t crc = 0xFFFF);

private:
    void WriteHeader(const FrameRecord& fr, int modeExt);
    void WriteSideInfo(const CodedFrame& f, const FrameRecord& fr);
    void WriteMainData(const GranuleInfo& g);
    void Drain(std::vector<uint8_t>& out);

    BitstreamConfig cfg_;
    Framer framer_;
    int version_ = 0, srIndex_ = 0, channels_ = 2, granules_ = 2;
    int hdrBits_ = 32, crcBits_ = 0, sideBits_ = 256;
    FrameBudget cur_;
    bool begun_ = false;
    BitBuffer header_{8000}, main_{64000}, out_{64000};
    struct Entry {
        int hdr;
        int slot;
    };
    std::array<Entry, 256> queue_{};
    int head_ = 0, tail_ = 0, queued_ = 0;
    std::vector<uint8_t> sideBytes_;
};

}  // namespace mp3enc
