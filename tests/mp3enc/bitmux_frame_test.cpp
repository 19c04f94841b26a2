#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <vector>

#include "mp3enc/bitstream/bit_buffer.h"
#include "mp3enc/bitstream/multiplexer.h"
#include "mp3enc/bitstream/frame.h"
#include "mp3enc/bitstream/huffman_coder.h"
#include "mp3enc/bitstream/huffman_tables.h"
#include "mp3enc/quantize/scalefactor_bands.h"

using namespace mp3enc;

namespace {

// Reads bits MSB first from a byte vector.
struct Reader {
    const std::vector<uint8_t>& b;
    size_t pos = 0;  // bits
    uint32_t Get(int n) {
        uint32_t v = 0;
        for (int i = 0; i < n; ++i, ++pos) v = (v << 1) | ((b[pos >> 3] >> (7 - (pos & 7))) & 1u);
        return v;
    }
};

struct Header {
    int version, crc, index, srIndex, padding, mode, modeExt, bytes;
};

Header ParseHeader(const std::vector<uint8_t>& s, size_t off) {
    Header h{};
    uint32_t w = (uint32_t(s[off]) << 24) | (uint32_t(s[off + 1]) << 16) |
                 (uint32_t(s[off + 2]) << 8) | s[off + 3];
    uint32_t sync = w >> 21;
    EXPECT_EQ(sync, 0x7FFu);
    int id = (w >> 19) & 3;  // 3 MPEG-1, 2 MPEG-2, 0 MPEG-2.5
    h.version = id == 3 ? 0 : id == 2 ? 1 : 2;
    h.crc = ((w >> 16) & 1) == 0;
    h.index = (w >> 12) & 15;
    h.srIndex = (w >> 10) & 3;
    h.padding = (w >> 9) & 1;
    h.mode = (w >> 6) & 3;
    h.modeExt = (w >> 4) & 3;
    static const int rates[3][3] = {
        {44100, 48000, 32000}, {22050, 24000, 16000}, {11025, 12000, 8000}};
    int rate = rates[h.version][h.srIndex];
    int spf = h.version == 0 ? 1152 : 576;
    h.bytes = spf / 8 * BitRateTable(h.version)[h.index] / rate + h.padding;
    return h;
}

std::vector<Header> SplitFrames(const std::vector<uint8_t>& s, bool* whole) {
    std::vector<Header> v;
    size_t off = 0;
    while (off + 4 <= s.size()) {
        Header h = ParseHeader(s, off);
        if (h.bytes <= 0) break;
        v.push_back(h);
        off += static_cast<size_t>(h.bytes);
    }
    *whole = off == s.size();
    return v;
}

// An empty (silent) coded frame: every granule carries no bits.
CodedFrame SilentFrame() {
    CodedFrame f;
    for (auto& gr : f.gr)
        for (auto& g : gr) g.global_gain = 150;
    return f;
}

}  // namespace

TEST(BitBuffer, RoundTripsAcrossTheWrap) {
    BitBuffer b(96);
    std::mt19937 rng(1);
    std::vector<std::pair<uint32_t, int>> pending;
    for (int round = 0; round < 2000; ++round) {
        int n = 1 + static_cast<int>(rng() % 32);
        if (b.Available() + n < 96) {
            uint32_t v = rng();
            if (n < 32) {
                v &= (1u << n) - 1;
            }
            b.Write(v, n);
            pending.push_back({v, n});
        }
        if (!pending.empty() && (rng() & 1)) {
            auto [v, k] = pending.front();
            pending.erase(pending.begin());
            ASSERT_EQ(b.Read(k), v) << "round " << round;
        }
    }
}

TEST(BitBuffer, WindingMovesPositions) {
    BitBuffer b(64);
    b.Write(0xABCD, 16);
    b.WindWrite(-8);
    b.Write(0x12, 8);
    EXPECT_EQ(b.Available(), 16u);
    EXPECT_EQ(b.Read(16), 0xAB12u);
    b.WindRead(-16);
    EXPECT_EQ(b.Read(8), 0xABu);
}

TEST(HuffmanTables, EveryTableIsACompletePrefixCode) {
    auto check = [](const uint16_t* codes, const uint8_t* lens, int n, int id) {
        // Kraft sum in units of 2^-20.
        long long sum = 0;
        for (int i = 0; i < n; ++i) sum += 1LL << (20 - lens[i]);
        EXPECT_EQ(sum, 1LL << 20) << "table " << id;
        for (int i = 0; i < n; ++i) {
            for (int j = 0; j < n; ++j) {
                if (i != j && lens[i] <= lens[j]) {
                    ASSERT_NE(codes[j] >> (lens[j] - lens[i]), codes[i])
                        << "table " << id << " " << i << "," << j;
                }
            }
        }
    };
    for (int t = 1; t < 32; ++t) {
        const HuffTable& h = kHuffTables[t];
        if (t == 4 || t == 14) {
            EXPECT_EQ(h.xlen, 0);
            continue;
        }
        check(h.codes, h.lens, h.xlen * h.xlen, t);
    }
    check(kCount1CodeA, kCount1LenA, 16, 32);
    EXPECT_EQ(kHuffTables[16].linbits, 1);
    EXPECT_EQ(kHuffTables[23].linbits, 13);
    EXPECT_EQ(kHuffTables[24].linbits, 4);
    EXPECT_EQ(kHuffTables[31].linbits, 13);
}

// The chosen table codes the region in the bits it reports, and none of the tables of its
// size (and kind: escape or not) that can code the region is cheaper.
TEST(HuffmanTables, ChosenTableIsTheCheapestOfItsSize) {
    std::mt19937 rng(3);
    for (int top : {1, 2, 3, 4, 5, 6, 7, 8, 15, 16, 40, 300, kMaxQuantValue}) {
        for (int len : {2, 18, 576}) {
            int ix[576] = {};
            for (int i = 0; i < len; ++i) ix[i] = static_cast<int>(rng() % (top + 1));
            ix[rng() % len] = top;
            int bits = -1;
            const int chosen = ChooseTable(ix, 0, len, &bits);
            ASSERT_GT(chosen, 0);
            EXPECT_EQ(CountPairBits(ix, 0, len, chosen), bits) << top << "/" << len;
            const HuffTable& c = kHuffTables[chosen];
            for (int t = 1; t < 32; ++t) {
                const HuffTable& h = kHuffTables[t];
                if (h.xlen != c.xlen || (h.linbits > 0) != (c.linbits > 0)) continue;
                if (h.linbits && top - 15 >= (1 << h.linbits)) continue;
                EXPECT_LE(bits, CountPairBits(ix, 0, len, t)) << top << "/" << len << " " << t;
            }
        }
    }
}

TEST(Framer, IsoPaddingAt44100And128k) {
    Framer f;
    ASSERT_EQ(f.Init(128000, 44100, 0, kAlternating, 0), "");
    EXPECT_EQ(f.mode(), kIsoRate);  // a table rate needs no alternation
    FrameRecord a = f.Setup(), b = f.Setup();
    EXPECT_EQ(a.frameBytes, 417);
    EXPECT_EQ(b.frameBytes, 418);
    EXPECT_EQ(a.bitRateIndex, 9);
    long total = a.frameBytes + b.frameBytes;
    for (int i = 2; i < 441; ++i) total += f.Setup().frameBytes;
    EXPECT_EQ(total, 441L * 128000 * 1152 / 8 / 44100);
    EXPECT_EQ(f.byteDiff(), 0);
}

TEST(Framer, PaddingModesNeverAndAlways) {
    for (int mode : {1, 2}) {
        Framer f;
        ASSERT_EQ(f.Init(128000, 44100, 0, kAlternating, mode), "");
        for (int i = 0; i < 50; ++i) EXPECT_EQ(f.Setup().padding, mode == 2 ? 1 : 0);
    }
}

TEST(Framer, NonIsoRatesAlternateNeighbouringIndexes) {
    // 16000 Hz at 20000 bit/s: 72 and 108 byte frames, period 2.
    Framer f;
    ASSERT_EQ(f.Init(20000, 16000, 1, kAlternating, 0), "");
    long total = 0;
    for (int i = 0; i < 100; ++i) {
        FrameRecord r = f.Setup();
        EXPECT_EQ(r.bitRateIndex, i % 2 == 0 ? 3 : 2);
        EXPECT_EQ(r.padding, 0);
        total += r.frameBytes;
    }
    EXPECT_EQ(total, 100L * 90);
    // 22050 Hz mono at 20000 bit/s: indexes of 16 and 24 kbit/s, deviation within one step.
    Framer g;
    ASSERT_EQ(g.Init(20000, 22050, 1, kAlternating, 0), "");
    int seen[15] = {};
    for (int i = 0; i < 1000; ++i) {
        FrameRecord r = g.Setup();
        ++seen[r.bitRateIndex];
        EXPECT_GE(g.byteDiff(), 0);
        EXPECT_LE(g.byteDiff(), 78 - 52);
    }
    EXPECT_GT(seen[2], 400);
    EXPECT_GT(seen[3], 400);
    EXPECT_EQ(seen[2] + seen[3], 1000);
}

TEST(Framer, RejectsRatesTheTableCannotCode) {
    Framer f;
    EXPECT_EQ(f.Init(128000, 44100, 0, kIsoRate, 0), "");
    EXPECT_EQ(f.Init(130000, 44100, 0, kIsoRate, 0), "non-ISO bitrate");
    EXPECT_EQ(f.Init(6000, 22050, 1, kAlternating, 0), "bitrate too low");
    EXPECT_EQ(f.Init(70000, 8000, 2, kAlternating, 0), "bitrate too high");
    EXPECT_EQ(f.Init(64000, 44100, 3, kAlternating, 0), "unknown bitstream type");
    EXPECT_EQ(f.Init(64000, 44100, 0, 7, 0), "unknown bitstream mode");
    BitstreamEncoder e;
    BitstreamConfig c;
    c.sampleRate = 44100;
    c.bitRate = 24000;  // below what MPEG-1 frames can signal
    EXPECT_NE(e.Create(c), "");
    c.sampleRate = 11025;
    c.bitRate = 80000;  // MPEG-2.5 ends at 64 kbit/s
    EXPECT_NE(e.Create(c), "");
    c.sampleRate = 44000;
    c.bitRate = 128000;
    EXPECT_EQ(e.Create(c), "invalid samplerate");
    c.sampleRate = 44100;
    c.stereoMode = 4;
    EXPECT_EQ(e.Create(c), "erroneous stereo mode");
}

TEST(Framer, ReservoirMaximumFitsMainDataBegin) {
    Framer f;
    ASSERT_EQ(f.Init(32000, 48000, 0, kAlternating, 0), "");
    EXPECT_LE(f.reservoirMax(), 511 * 8);
    EXPECT_EQ(f.reservoirMax() % 8, 0);
    ASSERT_EQ(f.Init(8000, 8000, 2, kAlternating, 0), "");
    EXPECT_LE(f.reservoirMax(), 255 * 8);
    // 32000 Hz stereo at 256 kbit/s leaves no reservoir at all.
    ASSERT_EQ(f.Init(256000, 32000, 0, kAlternating, 0), "");
    EXPECT_EQ(f.reservoirMax(), 0);
}

TEST(BitstreamEncoder, CrcCoversHeaderTailAndSideInfo) {
    BitstreamEncoder e;
    BitstreamConfig c;
    c.sampleRate = 44100;
    c.bitRate = 128000;
    c.crc = 1;
    c.stereoMode = 1;
    ASSERT_EQ(e.Create(c), "");
    std::vector<uint8_t> out;
    for (int i = 0; i < 4; ++i) {
        e.BeginFrame();
        CodedFrame f = SilentFrame();
        f.gr[0][0].global_gain = 100 + i;  // vary the side information
        e.WriteFrame(f, out);
    }
    e.Flush(out);
    bool whole = false;
    auto frames = SplitFrames(out, &whole);
    EXPECT_TRUE(whole);
    ASSERT_EQ(frames.size(), 4u);
    size_t off = 0;
    for (auto& h : frames) {
        EXPECT_TRUE(h.crc);
        std::vector<uint8_t> bytes(out.begin() + off + 2, out.begin() + off + 4);
        bytes.insert(bytes.end(), out.begin() + off + 6, out.begin() + off + 6 + 32);
        uint16_t want = BitstreamEncoder::Crc16(bytes.data(), 16 + 256);
        uint16_t got = static_cast<uint16_t>((out[off + 4] << 8) | out[off + 5]);
        EXPECT_EQ(got, want);
        off += static_cast<size_t>(h.bytes);
    }
    // Catalogued check value of CRC-16 with polynomial 0x8005, initial 0xFFFF, unreflected.
    const uint8_t digits[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    EXPECT_EQ(BitstreamEncoder::Crc16(digits, 72), 0xAEE7);
}

namespace {

// Test-side Huffman decoder: linear search of the code tables.
int DecodePair(Reader& r, int table, int* x, int* y) {
    const HuffTable& t = kHuffTables[table];
    if (t.xlen == 0) {
        *x = *y = 0;
        return 0;
    }
    uint32_t code = 0;
    for (int len = 1; len <= 19; ++len) {
        code = (code << 1) | r.Get(1);
        for (int i = 0; i < t.xlen * t.xlen; ++i) {
            if (t.lens[i] == len && t.codes[i] == code) {
                int a = i / t.xlen, b = i % t.xlen;
                if (t.linbits && a == 15) a += static_cast<int>(r.Get(t.linbits));
                if (a && r.Get(1)) a = -a;
                if (t.linbits && b == 15) b += static_cast<int>(r.Get(t.linbits));
                if (b && r.Get(1)) b = -b;
                *x = a;
                *y = b;
                return 0;
            }
        }
    }
    return -1;
}

}  // namespace

// Random spectra coded and multiplexed, then read back through main_data_begin.
TEST(BitstreamEncoder, MainDataRoundTripsThroughTheReservoir) {
    for (int rate : {44100, 22050}) {
        BitstreamEncoder e;
        BitstreamConfig c;
        c.sampleRate = rate;
        c.bitRate = 64000;
        c.stereoMode = 3;
        ASSERT_EQ(e.Create(c), "");
        const SfbBounds* sfb = SfbBoundsFor(rate);
        std::mt19937 rng(7);
        std::vector<uint8_t> out;
        std::vector<std::vector<int>> sent;
        for (int fr = 0; fr < 40; ++fr) {
            FrameBudget b = e.BeginFrame();
            CodedFrame f = SilentFrame();
            int avail = b.mainDataBits + b.frame.resInUse;
            for (int gr = 0; gr < e.granules(); ++gr) {
                GranuleInfo& g = f.gr[gr][0];
                int absIx[576] = {};
                int lines = static_cast<int>(rng() % 200);
                int big = static_cast<int>(rng() % 3000);
                for (int i = 0; i < lines; ++i) {
                    int v = static_cast<int>(rng() % (i < 8 ? big + 1 : 3));
                    absIx[i] = v;
                    g.ix[i] = (rng() & 1) ? -v : v;
                }
                int p3 = ChooseHuffman(g, absIx, sfb->longB, fr % 2 == 1);
                ASSERT_GE(p3, 0);
                g.partCount[0] = 6;
                g.partCount[1] = 5;
                g.partCount[2] = 5;
                g.partCount[3] = 5;
                g.slen[0] = g.slen[1] = 2;
                g.slen[2] = g.slen[3] = 1;
                for (int i = 0; i < 21; ++i) g.sf[i] = i < 11 ? i % 4 : i % 2;
                g.part2_length = 11 * 2 + 10;
                g.part2_3_length = g.part2_length + p3;
                if (g.part2_3_length >
                    avail / e.granules()) {  // too big for this frame: send silence
                    g = GranuleInfo();
                    g.global_gain = 150;
                }
                sent.push_back(std::vector<int>(g.ix, g.ix + 576));
            }
            e.WriteFrame(f, out);
        }
        e.Flush(out);
        bool whole = false;
        auto frames = SplitFrames(out, &whole);
        ASSERT_TRUE(whole);
        ASSERT_EQ(frames.size(), 40u);
        // Rebuild the main-data stream and decode every granule.
        std::vector<uint8_t> mainData;
        size_t off = 0;
        size_t got = 0;
        for (auto& h : frames) {
            Reader side{out, (off + 4) * 8};
            int mdb = static_cast<int>(side.Get(h.version == 0 ? 9 : 8));
            side.Get(h.version == 0 ? 5 + 4 : 1);
            int sideBytes = h.version == 0 ? 17 : 9;
            size_t start = mainData.size() - static_cast<size_t>(mdb);
            ASSERT_LE(static_cast<size_t>(mdb), mainData.size());
            mainData.insert(mainData.end(), out.begin() + off + 4 + sideBytes,
                            out.begin() + off + h.bytes);
            Reader md{mainData, start * 8};
            int ngr = h.version == 0 ? 2 : 1;
            for (int gr = 0; gr < ngr; ++gr) {
                int p23 = static_cast<int>(side.Get(12));
                int bigValues = static_cast<int>(side.Get(9));
                side.Get(8);
                side.Get(h.version == 0 ? 4 : 9);
                ASSERT_EQ(side.Get(1), 0u);
                int tab[3];
                for (int& t : tab) t = static_cast<int>(side.Get(5));
                int r0 = static_cast<int>(side.Get(4)), r1 = static_cast<int>(side.Get(3));
                if (h.version == 0) side.Get(1);
                side.Get(1);
                int c1 = static_cast<int>(side.Get(1));
                size_t begin = md.pos;
                if (p23 > 0) md.Get(32);  // scalefactors
                std::vector<int> ix(576, 0);
                int b1 = sfb->longB[r0 + 1], b2 = sfb->longB[std::min(r0 + r1 + 2, 22)];
                for (int i = 0; i < 2 * bigValues; i += 2) {
                    int t = i < b1 ? tab[0] : i < b2 ? tab[1] : tab[2];
                    ASSERT_EQ(DecodePair(md, t, &ix[i], &ix[i + 1]), 0);
                }
                int i = 2 * bigValues;
                while (md.pos < begin + static_cast<size_t>(p23) && i < 576) {
                    int idx = -1;
                    if (c1) {
                        idx = 15 - static_cast<int>(md.Get(4));
                    } else {
                        uint32_t code = 0;
                        for (int len = 1; len <= 6 && idx < 0; ++len) {
                            code = (code << 1) | md.Get(1);
                            for (int k = 0; k < 16; ++k)
                                if (kCount1LenA[k] == len && kCount1CodeA[k] == code) idx = k;
                        }
                    }
                    for (int k = 0; k < 4; ++k) {
                        int v = (idx >> (3 - k)) & 1;
                        if (v && md.Get(1)) v = -v;
                        ix[static_cast<size_t>(i + k)] = v;
                    }
                    i += 4;
                }
                ASSERT_EQ(md.pos, begin + static_cast<size_t>(p23));
                ASSERT_EQ(ix, sent[got]) << "granule " << got;
                ++got;
            }
            off += static_cast<size_t>(h.bytes);
        }
        EXPECT_EQ(got, sent.size());
    }
}

// Silent frames leave their slots to the reservoir; the flush fills them with 0x20 0x00.
TEST(BitstreamEncoder, FlushFillsTheReservoirWithThePattern) {
    BitstreamEncoder e;
    BitstreamConfig c;
    c.sampleRate = 44100;
    c.bitRate = 128000;
    c.stereoMode = 3;
    ASSERT_EQ(e.Create(c), "");
    std::vector<uint8_t> out;
    for (int i = 0; i < 3; ++i) {
        e.BeginFrame();
        e.WriteFrame(SilentFrame(), out);
    }
    EXPECT_GT(e.framer().resInUse(), 0);
    size_t before = out.size();
    e.Flush(out);
    EXPECT_GT(out.size(), before);
    bool whole = false;
    auto frames = SplitFrames(out, &whole);
    EXPECT_TRUE(whole);
    ASSERT_EQ(frames.size(), 3u);
    // The reservoir's bytes were stuffed or left open; the open ones now hold the pattern,
    // up to the last byte of the stream.
    const size_t last = out.size() - static_cast<size_t>(frames[2].bytes);
    size_t pattern = 0;
    for (size_t i = last + 4 + 17; i + 1 < out.size(); i += 2)
        if (out[i] == 0x20 && out[i + 1] == 0x00) ++pattern;
    EXPECT_GT(pattern, 100u);
    EXPECT_EQ(out.back(), 0x00);  // the last bits are zeros
    // The main_data_begin of the later frames points back into that fill.
    size_t second = static_cast<size_t>(frames[0].bytes);
    int mdb = (out[second + 4] << 1) | (out[second + 5] >> 7);
    EXPECT_GT(mdb, 0);
    EXPECT_LE(mdb, 511);
}
