#pragma once
#include <algorithm>
#include <cstdint>
#include <string>

namespace mp3enc {

// Layer III bit-rate tables (bit/s) by index 0..14; 0 marks a missing entry.
// Index 0 holds the lowest free-format rate.
const int* BitRateTable(int version);
// Table index of an exact rate (1..14), or -1.
int BitRateIndex(int version, int bitRate);
// Version of a sample rate: 0 MPEG-1, 1 MPEG-2, 2 MPEG-2.5; -1 for others.
int VersionOfRate(int sampleRate);
// ISO sampling-frequency index (0..2), or -1.
int SampleRateIndex(int sampleRate);
// Lowest and highest bit rate a version's table can code in a frame.
int MinBitRate(int version);
int MaxBitRate(int version);

// Padding period of a bit rate: the frames of one cycle of alternating table rates, and
// the bytes that cycle holds (1 byte for a period governed by ISO padding).
void BitRatePeriod(int bitRate, int sampleRate, int paddingMode, int* period, int* bytes);

enum BitstreamMode { kIsoRate = 0, kAlternating = 1, kFreeFormat = 2 };

struct FrameRecord {
    int frameBytes = 0;
    int padding = 0;
    int bitRateIndex = 0;
    int mainDataBegin = 0;  // bytes
    int resInUse = 0;       // reservoir bits in use
    int resFree = 0;        // reservoir bits free
    int nominalBits = 0;
};

// Frame sizing, padding and reservoir bookkeeping for one stream.
class Framer {
public:
    // Returns an empty string on success, else the failure text.
    std::string Init(int bitRate, int sampleRate, int version, int mode, int paddingMode);
    // Sets up the next frame (call once per frame).
    FrameRecord Setup();
    // Variable bit rate: sets up the next frame at table index `index`, unpadded.
    FrameRecord SetupAt(int index);
    // Books the bits a written frame used; returns the stuffing bits.
    int Book(int mainDataBitsAvailable, int bitsUsed);
    // Bits needed to complete the last frame's slot at the end of the stream.
    int FlushBits() const { return resInUse_ + 8 * byteDiff_; }
    void ClearReservoir() {
        resInUse_ = 0;
        byteDiff_ = 0;
    }
    void LimitReservoir(int bits) {
        resMax_ = std::min(resMax_, std::max(0, bits) / 8 * 8);
        resFree_ = resMax_;
    }

    int samplesPerFrame() const { return spf_; }
    int reservoirMax() const { return resMax_; }
    int resInUse() const { return resInUse_; }
    int resFree() const { return resFree_; }
    int byteDiff() const { return byteDiff_; }
    int mode() const { return mode_; }
    int BytesAtRate(int rate) const;  // without padding

private:
    int bitRate_ = 0, spf_ = 1152, rate_ = 44100, version_ = 0, mode_ = 0, padMode_ = 0;
    const int* table_ = nullptr;
    long padRem_ = 0;
    int resMax_ = 0, resInUse_ = 0, resFree_ = 0;
    int byteDiff_ = 0;
    int deviation_ = 0, devLimit_ = 0;
    int lowIndex_ = 0, highIndex_ = 0;
};

}  // namespace mp3enc
