// The decoder object: handles, status codes, synchronisation, buffering, output modes and
// damaged input.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "decode_util.h"
#include "mp3dec/huffman.h"
#include "synth_stream.h"
#include "tool_util.h"

namespace {

using namespace mp3dec;
using mp3test::FrameSpec;
using mp3test::MakeFrame;

TEST(StatusText, EveryCodeHasItsText) {
    EXPECT_STREQ(StatusText(kOk), "(Ri3Zav) success: no error");
    EXPECT_STREQ(StatusText(kErrBufferTooSmall), "(Ri3Zav) error: Decoder - buffer is too small");
    EXPECT_STREQ(StatusText(kInfoMainData),
                 "(Ri3Zav) info: Decoder - not enough main data present");
    EXPECT_STREQ(StatusText(kSyncEof), "(Ri3Zav) warning: Decoder - sync eof");
    EXPECT_STREQ(StatusText(kIoRead), "(Ri3Zav) error: I/O - read error");
    EXPECT_STREQ(StatusText(0x12345678u), "(Ri3Zav) unknown SSC");
    EXPECT_TRUE(StatusOutputValid(kInfoCrc));
    EXPECT_FALSE(StatusOutputValid(kSyncNeedData));
    EXPECT_FALSE(StatusOutputValid(kErrDecoder));
}

TEST(Handles, BadHandlesAndParametersAreRefused) {
    Mp3DecoderHandle none;
    size_t n = 1;
    uint8_t buf[16] = {};
    EXPECT_EQ(Mp3DecoderReset(none), kErrHandle);
    EXPECT_EQ(Mp3DecoderFeed(none, buf, 4, n), kErrHandle);
    EXPECT_EQ(n, 0u);
    EXPECT_EQ(Mp3DecoderDecode(none, buf, sizeof buf, n), kErrHandle);
    EXPECT_EQ(Mp3DecoderEndOfInput(none), kErrHandle);
    EXPECT_EQ(Mp3DecoderDelete(none), kErrHandle);
    EXPECT_TRUE(Mp3DecoderIsEof(none));
    Mp3DecoderHandle bad;
    EXPECT_EQ(Mp3DecoderCreate(bad, 3, false, false), kErrParameter);

    Mp3DecoderHandle h;
    ASSERT_EQ(Mp3DecoderCreate(h, 0, false, false), kOk);
    Mp3DecoderHandle wrongMagic = h;
    wrongMagic.magic = kInfoMagic;
    EXPECT_EQ(Mp3DecoderReset(wrongMagic), kErrHandle);
    EXPECT_EQ(Mp3DecoderFeed(h, nullptr, 4, n), kErrParameter);
    EXPECT_EQ(Mp3DecoderDecode(h, nullptr, 4608, n), kErrParameter);
    EXPECT_EQ(Mp3DecoderDelete(h), kOk);
    EXPECT_EQ(h.object, nullptr);
    EXPECT_EQ(Mp3DecoderDelete(h), kErrHandle);

    Mp3InfoHandle info;
    EXPECT_EQ(Mp3InfoGet(info), nullptr);
    EXPECT_FALSE(Mp3InfoProbe(info, buf, sizeof buf, 16));
    EXPECT_EQ(Mp3InfoDelete(info), kErrHandle);
}

// Every code table is a complete prefix code, so any bit pattern decodes to exactly one symbol:
// the codes, put in a binary tree, never pass through or end on another code, and every inner
// node has both branches.
TEST(HuffmanTables, CompletePrefixCodes) {
    using mp3dec::detail::kHuffSources;
    for (int t = 0; t < mp3dec::detail::kHuffSourceCount; ++t) {
        const auto& src = kHuffSources[t];
        if (t == 0 || t == 4 || t == 14) {
            EXPECT_EQ(src.codes, nullptr) << t;  // tables without code words
            continue;
        }
        ASSERT_NE(src.codes, nullptr) << t;
        ASSERT_GE(src.width, 2) << t;
        struct Node {
            int child[2] = {0, 0};
            bool leaf = false;
        };
        std::vector<Node> tree(1);
        for (int i = 0; i < src.width * src.width; ++i) {
            const int len = src.lengths[i];
            ASSERT_TRUE(len >= 1 && len <= 19) << t << " " << i;
            int at = 0;
            for (int b = len - 1; b >= 0; --b) {
                ASSERT_FALSE(tree[at].leaf)
                    << "table " << t << " code " << i << " extends another code";
                const int bit = (src.codes[i] >> b) & 1;
                if (!tree[at].child[bit]) {
                    tree[at].child[bit] = static_cast<int>(tree.size());
                    tree.emplace_back();
                }
                at = tree[at].child[bit];
            }
            ASSERT_FALSE(tree[at].leaf || tree[at].child[0] || tree[at].child[1])
                << "table " << t << " code " << i;
            tree[at].leaf = true;
        }
        for (const Node& n : tree)
            ASSERT_TRUE(n.leaf || (n.child[0] && n.child[1])) << "table " << t << " incomplete";
    }
}

TEST(Decoder, ObjectStaysSmall) {
    EXPECT_LT(Mp3DecoderObjectBytes(), 64 * 1024 + kInputRingBytes);
}

TEST(Feeding, AcceptsWhatFitsTheRing) {
    Mp3DecoderHandle h;
    ASSERT_EQ(Mp3DecoderCreate(h, 0, false, false), kOk);
    std::vector<uint8_t> bytes(10000, 0);
    size_t accepted = 0, free = 0;
    EXPECT_EQ(Mp3DecoderFeed(h, bytes.data(), bytes.size(), accepted), kOk);
    EXPECT_EQ(accepted, kInputRingBytes);
    EXPECT_EQ(Mp3DecoderFreeSpace(h, free), kOk);
    EXPECT_EQ(free, 0u);
    EXPECT_EQ(Mp3DecoderFeed(h, bytes.data(), 10, accepted), kOk);
    EXPECT_EQ(accepted, 0u);
    Mp3DecoderDelete(h);
}

// Stereo MPEG-1 frames need 4608 bytes; a smaller buffer is refused and nothing is consumed.
TEST(Decoding, BufferTooSmallConsumesNothing) {
    FrameSpec s = mp3test::ToneFrame();
    s.mono = false;
    s.bitrateIndex = 9;
    const auto stream = mp3test::Repeat(MakeFrame(s), 3);
    Mp3DecoderHandle h;
    ASSERT_EQ(Mp3DecoderCreate(h, 0, false, false), kOk);
    size_t accepted = 0, produced = 0;
    Mp3DecoderFeed(h, stream.data(), stream.size(), accepted);
    std::vector<uint8_t> out(4608);
    EXPECT_EQ(Mp3DecoderDecode(h, out.data(), 4607, produced), kErrBufferTooSmall);
    EXPECT_EQ(produced, 0u);
    EXPECT_EQ(Mp3DecoderDecode(h, out.data(), 4608, produced), kOk);
    EXPECT_EQ(produced, 4608u);
    Mp3FrameProperties p;
    ASSERT_EQ(Mp3DecoderProperties(h, p), kOk);
    EXPECT_EQ(p.frameOffset, 0);
    EXPECT_EQ(p.channels, 2);
    Mp3DecoderDelete(h);
}

TEST(Sync, JunkBeforeTheStreamCostsOneByteEach) {
    const auto frame = MakeFrame(mp3test::ToneFrame());
    std::vector<uint8_t> stream = {0xFF, 0xFB, 0x00, 0x12, 0xFF, 0xE0, 0x33};  // two false starts
    const auto clean = mp3test::Repeat(frame, 12);
    stream.insert(stream.end(), clean.begin(), clean.end());
    const auto a = mp3test::DecodeAll(clean, 100);
    const auto b = mp3test::DecodeAll(stream, 100);
    EXPECT_EQ(a.frames, 12);
    EXPECT_EQ(b.frames, 12);
    EXPECT_EQ(a.pcm, b.pcm);
}

TEST(Sync, LayerTwoNeverSynchronises) {
    FrameSpec s = mp3test::ToneFrame();
    s.layer = 2;
    const auto stream = mp3test::Repeat(MakeFrame(s), 20);
    const auto d = mp3test::DecodeAll(stream, 500);
    EXPECT_EQ(d.frames, 0);
    for (Status st : d.statuses) EXPECT_NE(st >> 30, 0u);
}

// The end of input still yields the last complete frame, and a file of one frame decodes.
TEST(Sync, OneFrameFileAndLastFrameDecode) {
    const auto frame = MakeFrame(mp3test::ToneFrame());
    EXPECT_EQ(mp3test::DecodeAll(frame, 7).frames, 1);
    EXPECT_EQ(mp3test::DecodeAll(mp3test::Repeat(frame, 5), 64).frames, 5);
    // A truncated last frame is dropped without harm.
    const auto whole = mp3test::Repeat(frame, 5);
    const std::vector<uint8_t> cut(whole.begin(), whole.end() - 30);
    EXPECT_EQ(mp3test::DecodeAll(cut, 64).frames, 4);
}

TEST(Sync, LossResynchronisesOnLaterFrames) {
    const auto frame = MakeFrame(mp3test::ToneFrame());
    auto stream = mp3test::Repeat(frame, 15);
    std::vector<uint8_t> junk(57, 0x5A);
    stream.insert(stream.begin() + 15 * 104 / 2 + 10, junk.begin(), junk.end());  // inside frame 7
    auto tail = mp3test::Repeat(frame, 15);
    stream.insert(stream.end(), tail.begin(), tail.end());
    const auto d = mp3test::DecodeAll(stream, 300);
    EXPECT_GE(d.frames, 27);
    EXPECT_LE(d.frames, 29);
    EXPECT_NE(std::find(d.statuses.begin(), d.statuses.end(), kSyncLost), d.statuses.end());
}

// Output modes against the plain 16-bit stereo decode of the same stream.
class OutputModes : public ::testing::Test {
protected:
    void SetUp() override {
        FrameSpec s = mp3test::ToneFrame();
        s.mono = false;
        s.bitrateIndex = 9;
        s.gr[0].part23 = s.gr[1].part23 = 320;
        stream_ = mp3test::Repeat(MakeFrame(s), 10);
        ref_ = mp3test::DecodeAll(stream_, 1000);
        ASSERT_EQ(ref_.frames, 10);
    }
    std::vector<uint8_t> stream_;
    mp3test::Decoded ref_;
};

TEST_F(OutputModes, HalfAndQuarterRate) {
    const auto half = mp3test::DecodeAll(stream_, 1000, 1);
    EXPECT_EQ(half.sampleRate, 22050);
    EXPECT_EQ(half.pcm.size(), ref_.pcm.size() / 2);
    const auto quarter = mp3test::DecodeAll(stream_, 1000, 2);
    EXPECT_EQ(quarter.sampleRate, 11025);
    EXPECT_EQ(quarter.pcm.size(), ref_.pcm.size() / 4);
    // The tone lies low in the spectrum, so the reduced-rate output keeps its level.
    double e0 = 0, e1 = 0;
    for (int16_t v : ref_.pcm) e0 += double(v) * v;
    for (int16_t v : half.pcm) e1 += double(v) * v;
    EXPECT_NEAR(e1 / half.pcm.size(), e0 / ref_.pcm.size(), 0.05 * e0 / ref_.pcm.size());
}

TEST_F(OutputModes, MonoEightBitAndFloat) {
    const auto mono = mp3test::DecodeAll(stream_, 1000, 0, true);
    EXPECT_EQ(mono.channels, 1);
    ASSERT_EQ(mono.pcm.size(), ref_.pcm.size() / 2);
    for (size_t i = 0; i < mono.pcm.size(); ++i)
        EXPECT_NEAR(mono.pcm[i], (ref_.pcm[2 * i] + ref_.pcm[2 * i + 1]) / 2.0, 1.0);

    Mp3DecoderHandle h8, hf;
    ASSERT_EQ(Mp3DecoderCreate(h8, 0, true, false), kOk);
    ASSERT_EQ(Mp3DecoderCreate(hf, 0, false, false), kOk);
    size_t acc = 0, produced = 0;
    Mp3DecoderFeed(h8, stream_.data(), stream_.size(), acc);
    Mp3DecoderFeed(hf, stream_.data(), stream_.size(), acc);
    std::vector<uint8_t> b8(2304);
    std::vector<float> bf(2304);
    ASSERT_EQ(Mp3DecoderDecode(h8, b8.data(), 2303, produced), kErrBufferTooSmall);
    ASSERT_EQ(Mp3DecoderDecode(h8, b8.data(), b8.size(), produced), kOk);
    EXPECT_EQ(produced, 2304u);
    ASSERT_EQ(Mp3DecoderDecodeFloat(hf, bf.data(), bf.size() * 4, produced), kOk);
    EXPECT_EQ(produced, 2304u * 4);
    for (size_t i = 0; i < 2304; ++i) {
        EXPECT_EQ(b8[i], static_cast<uint8_t>((ref_.pcm[i] + 32768) >> 8));
        EXPECT_NEAR(bf[i] * 32768.0f, ref_.pcm[i], 0.5f);
    }
    Mp3DecoderDelete(h8);
    Mp3DecoderDelete(hf);
}

TEST(Decoding, Mpeg25At8000HzMono) {
    FrameSpec s = mp3test::ToneFrame();
    s.version = 2;
    s.rateIndex = 2;     // 8000 Hz
    s.bitrateIndex = 2;  // 16 kbit/s: 144-byte frames
    s.gr[0].part23 = 320;
    const auto d = mp3test::DecodeAll(mp3test::Repeat(MakeFrame(s), 6), 50);
    EXPECT_EQ(d.frames, 6);
    EXPECT_EQ(d.sampleRate, 8000);
    EXPECT_EQ(d.pcm.size(), 6u * 576);
}

// ---------------------------------------------------------------------------------------------
// Damaged side information: concealed, never decoded past its data.

Status FirstFrameStatus(const std::vector<uint8_t>& stream, std::vector<int16_t>* pcm = nullptr) {
    Mp3DecoderHandle h;
    Mp3DecoderCreate(h, 0, false, false);
    size_t acc = 0, produced = 0;
    Mp3DecoderFeed(h, stream.data(), stream.size(), acc);
    Mp3DecoderEndOfInput(h);
    std::vector<int16_t> out(2304);
    Status s;
    do {
        s = Mp3DecoderDecode(h, out.data(), out.size() * 2, produced);
    } while ((s >> 30) == 2 && s != kSyncEof);
    if (pcm) pcm->assign(out.begin(), out.begin() + produced / 2);
    Mp3DecoderDelete(h);
    return s;
}

TEST(DamagedFrames, SideInformationIsChecked) {
    const FrameSpec good = mp3test::ToneFrame();
    EXPECT_EQ(FirstFrameStatus(mp3test::Repeat(MakeFrame(good), 3)), kOk);

    FrameSpec bigValues = good;
    bigValues.gr[0].bigValues = 289;
    EXPECT_EQ(FirstFrameStatus(mp3test::Repeat(MakeFrame(bigValues), 3)), kInfoCrc);

    FrameSpec blockType = good;
    blockType.gr[1].windowSwitching = true;
    blockType.gr[1].blockType = 0;
    EXPECT_EQ(FirstFrameStatus(mp3test::Repeat(MakeFrame(blockType), 3)), kInfoCrc);

    FrameSpec tooLong = good;
    tooLong.gr[1].part23 = 4095;  // far more than the frame's main data
    EXPECT_EQ(FirstFrameStatus(mp3test::Repeat(MakeFrame(tooLong), 3)), kInfoCrc);

    FrameSpec badTable = good;
    badTable.gr[0].tableSelect[1] = 14;
    EXPECT_EQ(FirstFrameStatus(mp3test::Repeat(MakeFrame(badTable), 3)), kInfoCrc);

    FrameSpec reservoir = good;
    reservoir.mainDataBegin = 300;
    std::vector<int16_t> pcm;
    EXPECT_EQ(FirstFrameStatus(mp3test::Repeat(MakeFrame(reservoir), 3), &pcm), kInfoMainData);
    for (int16_t v : pcm) ASSERT_EQ(v, 0);  // no history yet: silence
}

// Big values whose Huffman codes run past the granule's bits stop there and conceal the granule.
TEST(DamagedFrames, HuffmanDataPastTheGranule) {
    FrameSpec s = mp3test::ToneFrame();
    s.gr[0].bigValues = 200;
    s.gr[0].tableSelect[0] = s.gr[0].tableSelect[1] = s.gr[0].tableSelect[2] = 24;
    s.gr[0].part23 = 40;
    EXPECT_EQ(FirstFrameStatus(mp3test::Repeat(MakeFrame(s), 3)), kInfoCrc);
}

// A frame whose main data lies before what the reservoir holds is concealed from the history:
// sound similar to what came before, not silence.
TEST(Concealment, MissingMainDataOnceHistoryExists) {
    const auto good = MakeFrame(mp3test::ToneFrame());
    FrameSpec far = mp3test::ToneFrame();
    far.mainDataBegin = 400;  // the reservoir holds 4 x 83 = 332 bytes at that point
    auto stream = mp3test::Repeat(good, 4);
    const auto bad = MakeFrame(far);
    stream.insert(stream.end(), bad.begin(), bad.end());
    const auto tail = mp3test::Repeat(good, 3);
    stream.insert(stream.end(), tail.begin(), tail.end());
    const auto d = mp3test::DecodeAll(stream, 104);
    ASSERT_EQ(d.frames, 8);
    ASSERT_GE(d.statuses.size(), 5u);
    EXPECT_EQ(d.statuses[4], kInfoMainData);
    double concealed = 0, before = 0;
    for (size_t i = 0; i < 1152; ++i) {
        concealed += std::abs(double(d.pcm[4 * 1152 + i]));
        before += std::abs(double(d.pcm[3 * 1152 + i]));
    }
    EXPECT_GT(concealed, 0.2 * before);
    EXPECT_LT(concealed, 5.0 * before);
}

TEST(Concealment, CrcFailureConcealsAndReportsIt) {
    FrameSpec s = mp3test::ToneFrame();
    s.crc = true;  // the CRC word is written as 0, which does not match
    const auto d = mp3test::DecodeAll(mp3test::Repeat(MakeFrame(s), 4), 200);
    ASSERT_EQ(d.frames, 4);
    for (Status st : d.statuses) {
        if (StatusOutputValid(st)) {
            EXPECT_EQ(st, kInfoCrc);
        }
    }
}

// After a reset the same bytes decode to the same output as the first time.
TEST(Reset, StartsOverCleanly) {
    const auto stream = mp3test::Repeat(MakeFrame(mp3test::ToneFrame()), 6);
    Mp3DecoderHandle h;
    ASSERT_EQ(Mp3DecoderCreate(h, 0, false, false), kOk);
    size_t acc = 0, produced = 0;
    std::vector<int16_t> first(1152), again(1152);
    Mp3DecoderFeed(h, stream.data(), stream.size(), acc);
    Mp3DecoderEndOfInput(h);
    ASSERT_EQ(Mp3DecoderDecode(h, first.data(), 2304, produced), kOk);
    while (!Mp3DecoderIsEof(h)) Mp3DecoderDecode(h, again.data(), 2304, produced);
    EXPECT_EQ(Mp3DecoderReset(h), kOk);
    EXPECT_FALSE(Mp3DecoderIsEof(h));
    Mp3DecoderFeed(h, stream.data(), stream.size(), acc);
    ASSERT_EQ(Mp3DecoderDecode(h, again.data(), 2304, produced), kOk);
    EXPECT_EQ(first, again);
    Mp3DecoderDelete(h);
}

}  // namespace
