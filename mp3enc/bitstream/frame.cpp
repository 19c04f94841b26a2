#include "mp3enc/bitstream/frame.h"

#include <algorithm>
#include <numeric>

namespace mp3enc {
namespace {
constexpr int kRates[3][15] = {
    {8000, 32000, 40000, 48000, 56000, 64000, 80000, 96000, 112000, 128000, 160000, 192000, 224000,
     256000, 320000},
    {4000, 8000, 16000, 24000, 32000, 40000, 48000, 56000, 64000, 80000, 96000, 112000, 128000,
     144000, 160000},
    {4000, 8000, 16000, 24000, 32000, 40000, 48000, 56000, 64000, 0, 0, 0, 0, 0, 0}};
}  // namespace

const int* BitRateTable(int version) {
    return (version >= 0 && version <= 2) ? kRates[version] : nullptr;
}

int BitRateIndex(int version, int bitRate) {
    const int* t = BitRateTable(version);
    if (!t) return -1;
    for (int i = 1; i < 15; ++i)
        if (t[i] == bitRate) return i;
    return -1;
}

int VersionOfRate(int r) {
    switch (r) {
        case 32000:
        case 44100:
        case 48000:
            return 0;
        case 16000:
        case 22050:
        case 24000:
            return 1;
        case 8000:
        case 11025:
        case 12000:
            return 2;
        default:
            return -1;
    }
}

int SampleRateIndex(int r) {
    switch (r) {
        case 44100:
        case 22050:
        case 11025:
            return 0;
        case 48000:
        case 24000:
        case 12000:
            return 1;
        case 32000:
        case 16000:
        case 8000:
            return 2;
        default:
            return -1;
    }
}

int MinBitRate(int version) {
    return version == 0 ? 32000 : 8000;
}
int MaxBitRate(int version) {
    return version == 0 ? 320000 : version == 1 ? 160000 : 64000;
}

int Framer::BytesAtRate(int rate) const {
    return static_cast<int>(static_cast<int64_t>(spf_ / 8) * rate / rate_);
}

std::string Framer::Init(int bitRate, int sampleRate, int version, int mode, int paddingMode) {
    bitRate_ = bitRate;
    rate_ = sampleRate;
    version_ = version;
    padMode_ = (paddingMode >= 0 && paddingMode <= 2) ? paddingMode : 0;
    if (sampleRate <= 0 || bitRate <= 0) return "bitrate too low";
    int64_t perGranule = static_cast<int64_t>(bitRate) * 576 / sampleRate;
    if (version == 0) {
        spf_ = 1152;
        resMax_ = static_cast<int>(std::clamp<int64_t>(2 * (3840 - perGranule), 0, 4088));
    } else if (version == 1 || version == 2) {
        spf_ = 576;
        resMax_ = static_cast<int>(std::clamp<int64_t>(7680 - perGranule, 0, 2040));
    } else {
        return "unknown bitstream type";
    }
    table_ = kRates[version];
    if (mode == kIsoRate) {
        if (BitRateIndex(version, bitRate) < 0) return "non-ISO bitrate";
    } else if (mode == kAlternating) {
        if (BitRateIndex(version, bitRate) >= 0) {
            mode = kIsoRate;
        } else {
            // Neighbours are searched from index 1: index 0 (free format) never codes a frame.
            lowIndex_ = highIndex_ = -1;
            for (int i = 1; i < 15; ++i) {
                if (table_[i] == 0) break;
                if (table_[i] < bitRate) lowIndex_ = i;
                if (table_[i] > bitRate && highIndex_ < 0) highIndex_ = i;
            }
            if (lowIndex_ < 0) return "bitrate too low";
            if (highIndex_ < 0) return "bitrate too high";
            devLimit_ = BytesAtRate(bitRate) - BytesAtRate(table_[lowIndex_]);
            deviation_ = 0;
        }
    } else if (mode == kFreeFormat) {
        if (bitRate < table_[0]) return "bitrate too low";
    } else {
        return "unknown bitstream mode";
    }
    mode_ = mode;
    // Whole bytes, and main_data_begin (9 or 8 bits) must be able to address all of it.
    resMax_ = std::min((resMax_ + 7) / 8 * 8, version == 0 ? 511 * 8 : 255 * 8);
    resInUse_ = 0;
    resFree_ = resMax_;
    byteDiff_ = 0;
    padRem_ = (static_cast<int64_t>(spf_ / 8) * bitRate) % sampleRate;
    return {};
}

FrameRecord Framer::Setup() {
    FrameRecord f;
    f.mainDataBegin = resInUse_ / 8 + byteDiff_;
    int pad = 0;
    if (padMode_ == 0) {
        padRem_ -= (static_cast<int64_t>(spf_ / 8) * bitRate_) % rate_;
        if (padRem_ < 0) {
            padRem_ += rate_;
            pad = 1;
        }
    } else if (padMode_ == 2) {
        pad = 1;
    }
    int nominal = pad + BytesAtRate(bitRate_);
    int index = 0;
    int bytes = 0;
    if (mode_ == kIsoRate) {
        index = BitRateIndex(version_, bitRate_);
        bytes = BytesAtRate(table_[index]) + pad;
    } else if (mode_ == kAlternating) {
        index = (deviation_ < devLimit_) ? highIndex_ : lowIndex_;
        deviation_ += BytesAtRate(table_[index]) - BytesAtRate(bitRate_);
        bytes = BytesAtRate(table_[index]) + pad;
    } else {
        index = 0;
        bytes = BytesAtRate(bitRate_) + pad;
    }
    byteDiff_ += bytes - nominal;
    resFree_ = std::max(0, resMax_ - 8 * byteDiff_);
    f.frameBytes = bytes;
    f.padding = pad;
    f.bitRateIndex = index;
    f.resInUse = resInUse_;
    f.resFree = resFree_;
    f.nominalBits = 8 * nominal;
    return f;
}

FrameRecord Framer::SetupAt(int index) {
    FrameRecord f;
    f.mainDataBegin = resInUse_ / 8 + byteDiff_;
    const int bytes = BytesAtRate(table_[index]);
    resFree_ = std::max(0, resMax_ - 8 * byteDiff_);
    f.frameBytes = bytes;
    f.bitRateIndex = index;
    f.resInUse = resInUse_;
    f.resFree = resFree_;
    f.nominalBits = 8 * bytes;
    return f;
}

int Framer::Book(int available, int used) {
    int total = resInUse_ + (available - used);
    int kept = std::min(total, resFree_);
    int rem = ((kept % 8) + 8) % 8;
    kept -= rem;
    if (kept < 0) kept = 0;
    int stuffing = rem;
    if (total > resFree_) stuffing += total - resFree_;
    resInUse_ = kept;
    return stuffing;
}

void BitRatePeriod(int B, int R, int paddingMode, int* period, int* bytes) {
    int V = R >= 32000 ? 144 : 72;
    int A = paddingMode == 2 ? 1 : 0;
    *period = 1;
    if (paddingMode == 0 && (static_cast<long>(V) * B) % R != 0) {
        *bytes = 1;
        return;
    }
    const int* t = BitRateTable(VersionOfRate(R));
    int N = 0, O = 0;
    if (t) {
        for (int i = 1; i < 15; ++i) {
            if (t[i] == 0) break;
            if (t[i] <= B) N = t[i];
            if (t[i] > B && O == 0) O = t[i];
        }
    }
    if (N == B || O == 0 || N == 0) {
        *bytes = static_cast<int>(static_cast<long>(V) * B / R) + A;
        return;
    }
    int g = std::gcd(O - B, B - N);
    *period = (O - N) / g;
    *bytes = static_cast<int>(static_cast<long>(V) * N / R) * ((O - B) / g) +
             static_cast<int>(static_cast<long>(V) * O / R) * ((B - N) / g) + *period * A;
}

}  // namespace mp3enc
