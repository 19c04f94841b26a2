#include "mp3enc/bitstream/multiplexer.h"

#include <cstdlib>

#include "mp3enc/bitstream/huffman_tables.h"

namespace mp3enc {

std::string BitstreamEncoder::Create(const BitstreamConfig& cfg) {
    cfg_ = cfg;
    version_ = VersionOfRate(cfg.sampleRate);
    srIndex_ = SampleRateIndex(cfg.sampleRate);
    if (version_ < 0) return "invalid samplerate";
    if (cfg.stereoMode < 0 || cfg.stereoMode > 3) return "erroneous stereo mode";
    // Free format is never used for coded frames: alternation covers non-table rates.
    int mode = cfg.bitstreamMode == kFreeFormat ? kAlternating : cfg.bitstreamMode;
    if (cfg.bitRate < MinBitRate(version_)) return "bitrate too low";
    if (cfg.bitRate > MaxBitRate(version_)) return "bitrate too high";
    std::string err = framer_.Init(cfg.bitRate, cfg.sampleRate, version_, mode, cfg.paddingMode);
    if (!err.empty()) return err;
    if (cfg.maxReservoirBits >= 0) framer_.LimitReservoir(cfg.maxReservoirBits);
    channels_ = cfg.stereoMode == 3 ? 1 : 2;
    granules_ = version_ == 0 ? 2 : 1;
    hdrBits_ = 32;
    crcBits_ = cfg.crc ? 16 : 0;
    if (version_ == 0)
        sideBits_ = channels_ == 2 ? 256 : 136;
    else
        sideBits_ = channels_ == 2 ? 136 : 72;
    // The smallest frame must hold header, CRC and side information.
    const int* t = BitRateTable(version_);
    int smallest = cfg.bitRate;
    for (int i = 1; i < 15; ++i)
        if (t[i] && t[i] <= cfg.bitRate) smallest = t[i];
    int minBytes = framer_.samplesPerFrame() / 8 * smallest / cfg.sampleRate;
    if (8 * minBytes <= hdrBits_ + crcBits_ + sideBits_ + cfg.extraBits) return "bitrate too low";
    header_.Reset(8000);
    main_.Reset(64000);
    out_.Reset(64000);
    head_ = tail_ = queued_ = 0;
    begun_ = false;
    return {};
}

FrameBudget BitstreamEncoder::BeginFrame() {
    FrameBudget b;
    b.frame = framer_.Setup();
    b.mainDataBits = b.frame.nominalBits - hdrBits_ - crcBits_ - sideBits_;
    b.granuleBits = b.mainDataBits - cfg_.extraBits;
    cur_ = b;
    begun_ = true;
    return b;
}

FrameBudget BitstreamEncoder::BeginFrameAt(int index) {
    FrameBudget b;
    b.frame = framer_.SetupAt(index);
    b.mainDataBits = b.frame.nominalBits - hdrBits_ - crcBits_ - sideBits_;
    b.granuleBits = b.mainDataBits - cfg_.extraBits;
    cur_ = b;
    begun_ = true;
    return b;
}

uint16_t BitstreamEncoder::Crc16(const uint8_t* bytes, int bits, uint16_t crc) {
    for (int i = 0; i < bits; ++i) {
        int bit = (bytes[i >> 3] >> (7 - (i & 7))) & 1;
        int top = (crc >> 15) & 1;
        crc = static_cast<uint16_t>(crc << 1);
        if (top ^ bit) crc ^= 0x8005;
    }
    return crc;
}

void BitstreamEncoder::WriteHeader(const FrameRecord& fr, int modeExt) {
    header_.Write(version_ == 2 ? 0xFFE : 0xFFF, 12);
    header_.Write(version_ == 0 ? 1 : 0, 1);
    header_.Write(1, 2);  // layer III
    header_.Write(cfg_.crc ? 0 : 1, 1);
    header_.Write(static_cast<uint32_t>(fr.bitRateIndex), 4);
    header_.Write(static_cast<uint32_t>(srIndex_), 2);
    header_.Write(static_cast<uint32_t>(fr.padding), 1);
    header_.Write(static_cast<uint32_t>(cfg_.privateBit & 1), 1);
    header_.Write(static_cast<uint32_t>(cfg_.stereoMode), 2);
    header_.Write(static_cast<uint32_t>(cfg_.stereoMode == 1 ? modeExt & 3 : 0), 2);
    header_.Write(static_cast<uint32_t>(cfg_.copyrightBit & 1), 1);
    header_.Write(static_cast<uint32_t>(cfg_.homeBit & 1), 1);
    header_.Write(static_cast<uint32_t>(cfg_.emphasis & 3), 2);
}

namespace {
// Collects bits into bytes (for the CRC) while mirroring them into a bit buffer.
struct SideWriter {
    BitBuffer& buf;
    std::vector<uint8_t>& bytes;
    int nbits = 0;
    void Put(uint32_t v, int n) {
        buf.Write(v, n);
        for (int i = n - 1; i >= 0; --i) {
            if ((nbits & 7) == 0) bytes.push_back(0);
            if ((v >> i) & 1u) bytes.back() |= static_cast<uint8_t>(0x80 >> (nbits & 7));
            ++nbits;
        }
    }
};
}  // namespace

void BitstreamEncoder::WriteSideInfo(const CodedFrame& f, const FrameRecord& fr) {
    sideBytes_.clear();
    SideWriter w{header_, sideBytes_};
    if (version_ == 0) {
        w.Put(static_cast<uint32_t>(fr.mainDataBegin), 9);
        w.Put(0, channels_ == 2 ? 3 : 5);
        for (int ch = 0; ch < channels_; ++ch) w.Put(0, 4);  // scfsi
    } else {
        w.Put(static_cast<uint32_t>(fr.mainDataBegin), 8);
        w.Put(0, channels_ == 2 ? 2 : 1);
    }
    for (int gr = 0; gr < granules_; ++gr) {
        for (int ch = 0; ch < channels_; ++ch) {
            const GranuleInfo& g = f.gr[gr][ch];
            w.Put(static_cast<uint32_t>(g.part2_3_length), 12);
            w.Put(static_cast<uint32_t>(g.big_values), 9);
            w.Put(static_cast<uint32_t>(g.global_gain), 8);
            w.Put(static_cast<uint32_t>(g.scalefac_compress), version_ == 0 ? 4 : 9);
            if (g.block_type != 0) {
                w.Put(1, 1);
                w.Put(static_cast<uint32_t>(g.block_type), 2);
                w.Put(static_cast<uint32_t>(g.mixed_block_flag), 1);
                for (int r = 0; r < 2; ++r) w.Put(static_cast<uint32_t>(g.table_select[r]), 5);
                for (int r = 0; r < 3; ++r) w.Put(static_cast<uint32_t>(g.subblock_gain[r]), 3);
            } else {
                w.Put(0, 1);
                for (int r = 0; r < 3; ++r) w.Put(static_cast<uint32_t>(g.table_select[r]), 5);
                w.Put(static_cast<uint32_t>(g.region0_count), 4);
                w.Put(static_cast<uint32_t>(g.region1_count), 3);
            }
            if (version_ == 0) w.Put(static_cast<uint32_t>(g.preflag), 1);
            w.Put(static_cast<uint32_t>(g.scalefac_scale), 1);
            w.Put(static_cast<uint32_t>(g.count1table_select), 1);
        }
    }
}

void BitstreamEncoder::WriteMainData(const GranuleInfo& g) {
    int k = 0;
    for (int p = 0; p < 4; ++p) {
        for (int i = 0; i < g.partCount[p]; ++i, ++k)
            if (g.slen[p] > 0) main_.Write(static_cast<uint32_t>(g.sf[k]), g.slen[p]);
    }
    // Big values, region by region.
    int end = 2 * g.big_values;
    for (int i = 0; i < end; i += 2) {
        int region = i < g.region1Start ? 0 : (i < g.region2Start ? 1 : 2);
        const HuffTable& t = kHuffTables[g.table_select[region]];
        if (t.xlen == 0) continue;
        int x = g.ix[i], y = g.ix[i + 1];
        int ax = std::abs(x), ay = std::abs(y);
        int cx = ax, cy = ay;
        if (t.linbits) {
            if (cx > 15) cx = 15;
            if (cy > 15) cy = 15;
        }
        int idx = cx * t.xlen + cy;
        // Code, escapes and signs of the pair gathered into one word (at most 47 bits).
        uint64_t acc = t.codes[idx];
        int n = t.lens[idx];
        auto push = [&](uint32_t v, int k) {
            acc = (acc << k) | v;
            n += k;
        };
        if (t.linbits && cx == 15) push(static_cast<uint32_t>(ax - 15), t.linbits);
        if (ax) push(x < 0 ? 1 : 0, 1);
        if (t.linbits && cy == 15) push(static_cast<uint32_t>(ay - 15), t.linbits);
        if (ay) push(y < 0 ? 1 : 0, 1);
        if (n > 32) {
            main_.Write(static_cast<uint32_t>(acc >> 32), n - 32);
            main_.Write(static_cast<uint32_t>(acc), 32);
        } else {
            main_.Write(static_cast<uint32_t>(acc), n);
        }
    }
    for (int i = end; i < g.count1End; i += 4) {
        int v[4] = {g.ix[i], g.ix[i + 1], g.ix[i + 2], g.ix[i + 3]};
        int idx =
            (std::abs(v[0]) << 3) | (std::abs(v[1]) << 2) | (std::abs(v[2]) << 1) | std::abs(v[3]);
        uint32_t acc = g.count1table_select ? static_cast<uint32_t>(15 - idx) : kCount1CodeA[idx];
        int n = g.count1table_select ? 4 : kCount1LenA[idx];
        for (int j = 0; j < 4; ++j)
            if (v[j]) {
                acc = (acc << 1) | (v[j] < 0 ? 1 : 0);
                ++n;
            }
        main_.Write(acc, n);
    }
}

void BitstreamEncoder::WriteFrame(const CodedFrame& f, std::vector<uint8_t>& out) {
    if (!begun_) BeginFrame();
    begun_ = false;
    const FrameRecord& fr = cur_.frame;
    int used = cfg_.extraBits;
    for (int gr = 0; gr < granules_; ++gr)
        for (int ch = 0; ch < channels_; ++ch) used += f.gr[gr][ch].part2_3_length;
    int stuffing = framer_.Book(cur_.mainDataBits, used);

    uint32_t hdrStart = header_.WritePos();
    WriteHeader(fr, f.modeExtension);
    if (cfg_.crc) header_.Write(0, 16);
    WriteSideInfo(f, fr);
    if (cfg_.crc) {
        // CRC over the header's last 16 bits and the side information.
        uint8_t buf[2 + 32];
        // Re-read the header bits just written without consuming them.
        uint32_t hdrWord = 0;
        uint32_t save = header_.ReadPos();
        header_.WindRead(static_cast<int32_t>(hdrStart) - static_cast<int32_t>(save));
        hdrWord = header_.Read(32);
        header_.WindRead(static_cast<int32_t>(save) - static_cast<int32_t>(header_.ReadPos()));
        buf[0] = static_cast<uint8_t>(hdrWord >> 8);
        buf[1] = static_cast<uint8_t>(hdrWord);
        size_t n = sideBytes_.size();
        for (size_t i = 0; i < n; ++i) buf[2 + i] = sideBytes_[i];
        uint16_t crc = Crc16(buf, 16 + sideBits_);
        // Patch the placeholder behind the header.
        uint32_t endPos = header_.WritePos();
        header_.WindWrite(static_cast<int32_t>(hdrStart + 32) - static_cast<int32_t>(endPos));
        header_.Write(crc, 16);
        header_.WindWrite(static_cast<int32_t>(endPos) - static_cast<int32_t>(header_.WritePos()));
    }
    for (int gr = 0; gr < granules_; ++gr)
        for (int ch = 0; ch < channels_; ++ch) WriteMainData(f.gr[gr][ch]);
    while (stuffing > 0) {
        int n = stuffing > 32 ? 32 : stuffing;
        main_.Write(0, n);
        stuffing -= n;
    }
    for (int i = 0; i < cfg_.extraBits; ++i) main_.Write(0, 1);

    int frameBits = 8 * fr.frameBytes;
    int hb = hdrBits_ + crcBits_ + sideBits_;
    queue_[static_cast<size_t>(tail_)] = {hb, frameBits - hb};
    tail_ = (tail_ + 1) % static_cast<int>(queue_.size());
    ++queued_;
    Drain(out);
}

void BitstreamEncoder::Drain(std::vector<uint8_t>& out) {
    // A frame leaves only when its whole slot can be filled.
    while (queued_ > 0) {
        Entry& e = queue_[static_cast<size_t>(head_)];
        if (static_cast<int>(main_.Available()) < e.slot) break;
        out_.CopyFrom(header_, static_cast<uint32_t>(e.hdr));
        out_.CopyFrom(main_, static_cast<uint32_t>(e.slot));
        head_ = (head_ + 1) % static_cast<int>(queue_.size());
        --queued_;
    }
    while (out_.Available() >= 32) {
        const uint32_t w = out_.Read(32);
        const uint8_t b[4] = {static_cast<uint8_t>(w >> 24), static_cast<uint8_t>(w >> 16),
                              static_cast<uint8_t>(w >> 8), static_cast<uint8_t>(w)};
        out.insert(out.end(), b, b + 4);
    }
    while (out_.Available() >= 8) out.push_back(static_cast<uint8_t>(out_.Read(8)));
}

void BitstreamEncoder::Flush(std::vector<uint8_t>& out) {
    // The reservoir bits and the bytes the frames ran above nominal are still open slot space.
    int r = framer_.FlushBits();
    if (r > 8) {
        int bytes = (r - 1) / 8;
        for (int i = 0; i < bytes; ++i) main_.Write((i & 1) ? 0x00 : 0x20, 8);
        r -= 8 * bytes;
    }
    if (r > 0) main_.Write(0, r);
    framer_.ClearReservoir();
    Drain(out);
}

}  // namespace mp3enc
