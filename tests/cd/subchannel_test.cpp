// The Q sub-channel: reply parsers on byte arrays laid out as MMC has them, and the catalog
// number, ISRCs and pre-gaps asked of an image drive, also through a drive with quirks.
#include "cd/subchannel.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

#include "cd/image_drive.h"
#include "support/wav_builder.h"

namespace tralux::cd {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes McnReply(const char* digits, bool valid = true) {
    Bytes r(24, 0);
    r[3] = 20;
    r[4] = 0x02;
    r[8] = valid ? 0x80 : 0;
    std::memcpy(r.data() + 9, digits, std::strlen(digits));
    return r;
}

Bytes IsrcReply(const char* code, int track) {
    Bytes r(24, 0);
    r[3] = 20;
    r[4] = 0x03;
    r[5] = 0x01;
    r[6] = static_cast<std::uint8_t>(track);
    r[8] = 0x80;
    std::memcpy(r.data() + 9, code, std::strlen(code));
    return r;
}

TEST(SubChannelReplies, FormattedQBlocks) {
    // Track 1, index 1, at 00:02:00 absolute: the CRC is CCITT over ten bytes, inverted.
    const std::uint8_t first[10] = {0x01, 0x01, 0x01, 0, 0, 0, 0, 0x00, 0x02, 0x00};
    EXPECT_EQ(QCrc(first), 0x5a28);

    std::uint8_t q[16];
    MakeFormattedQ(q, 0, 12, 0, -40, 20000);
    auto f = ParseFormattedQ(q);
    ASSERT_TRUE(f);
    EXPECT_EQ(f->track, 12);
    EXPECT_EQ(f->index, 0);
    EXPECT_EQ(f->absoluteLba, 20000);

    MakeFormattedQ(q, 0, 0xAA, 1, 3, 300000);  // lead-out, past 60 minutes
    f = ParseFormattedQ(q);
    ASSERT_TRUE(f);
    EXPECT_EQ(f->track, 0xAA);
    EXPECT_EQ(f->absoluteLba, 300000);

    MakeFormattedQ(q, 0, 3, 1, 0, 1000);
    q[10] = q[11] = 0;  // a drive that passes no CRC
    EXPECT_TRUE(ParseFormattedQ(q));

    MakeFormattedQ(q, 0, 3, 1, 0, 1000);
    q[2] ^= 0x01;  // a read error the CRC catches
    EXPECT_FALSE(ParseFormattedQ(q));

    auto broken = [](auto change) {
        std::uint8_t b[16];
        MakeFormattedQ(b, 0, 3, 1, 0, 1000);
        change(b);
        PutBe16(b + 10, QCrc(b));
        return ParseFormattedQ(b).has_value();
    };
    EXPECT_FALSE(broken([](std::uint8_t* b) { b[0] = 0x02; }));  // ADR 2: a catalog block
    EXPECT_FALSE(broken([](std::uint8_t* b) { b[1] = 0x1A; }));  // not BCD
    EXPECT_FALSE(broken([](std::uint8_t* b) { b[1] = 0x00; }));  // track 0 is the lead-in
    EXPECT_FALSE(broken([](std::uint8_t* b) { b[9] = 0x75; }));  // frame 75
    EXPECT_FALSE(ParseFormattedQ(std::span(q, 15)));
}

TEST(SubChannelReplies, CatalogNumber) {
    EXPECT_EQ(ParseMcnReply(McnReply("0724384960650")), "0724384960650");
    EXPECT_EQ(ParseMcnReply(McnReply("0724384960650", false)), "");  // MCVAL clear
    EXPECT_EQ(ParseMcnReply(McnReply("0000000000000")), "");
    EXPECT_EQ(ParseMcnReply(McnReply("07243849606 0")), "");
    const Bytes whole = McnReply("0724384960650");
    EXPECT_EQ(ParseMcnReply(std::span(whole).first(21)), "");  // cut short
    Bytes wrongFormat = whole;
    wrongFormat[4] = 0x03;
    EXPECT_EQ(ParseMcnReply(wrongFormat), "");
}

TEST(SubChannelReplies, Isrc) {
    EXPECT_EQ(ParseIsrcReply(IsrcReply("USRC17607839", 2), 2), "USRC17607839");
    EXPECT_EQ(ParseIsrcReply(IsrcReply("gbaye0601498", 7), 7), "GBAYE0601498");
    EXPECT_EQ(ParseIsrcReply(IsrcReply("USRC17607839", 0), 5), "USRC17607839");
    EXPECT_EQ(ParseIsrcReply(IsrcReply("USRC17607839", 3), 2), "");  // another track's
    EXPECT_EQ(ParseIsrcReply(IsrcReply("1SRC17607839", 2), 2), "");  // country not letters
    EXPECT_EQ(ParseIsrcReply(IsrcReply("USRC1760783X", 2), 2), "");
    EXPECT_EQ(ParseIsrcReply(IsrcReply("", 2), 2), "");
    Bytes unset = IsrcReply("USRC17607839", 2);
    unset[8] = 0;
    EXPECT_EQ(ParseIsrcReply(unset, 2), "");
}

// The command blocks as MMC lays them out: a drive reads these bytes, not our image drive.
TEST(SubChannelReplies, CommandBlocks) {
    struct Recorder final : CdDevice {
        std::vector<Bytes> cdbs;
        ScsiOutcome Execute(std::span<const std::uint8_t> cdb, ScsiDirection, std::uint8_t*,
                            std::size_t) override {
            cdbs.emplace_back(cdb.begin(), cdb.end());
            return {};  // never delivered
        }
        bool ReadAudio(std::uint32_t, std::uint32_t, std::uint8_t*) override { return false; }
    } drive;
    EXPECT_EQ(ReadMcn(drive), "");
    EXPECT_EQ(ReadIsrc(drive, 7), "");
    DiscToc toc;
    toc.tracks = {{1, 0, true}, {2, 1000, true}};
    toc.firstTrack = 1, toc.lastTrack = 2, toc.leadOutLba = 2000;
    // Track 1 at LBA 0 has nothing before it to ask about.
    EXPECT_EQ(ReadPregaps(drive, toc), (std::vector<std::optional<std::uint32_t>>{0u, {}}));
    ASSERT_GE(drive.cdbs.size(), 3u);
    EXPECT_EQ(drive.cdbs[0], (Bytes{0x42, 0, 0x40, 0x02, 0, 0, 0, 0, 24, 0}));
    EXPECT_EQ(drive.cdbs[1], (Bytes{0x42, 0, 0x40, 0x03, 0, 0, 7, 0, 24, 0}));
    // Track 2's last sector before its start and two on either side: Q blocks only.
    EXPECT_EQ(drive.cdbs[2], (Bytes{0xBE, 0, 0, 0, 0x03, 0xE5, 0, 0, 5, 0x00, 0x02, 0}));
}

// A drive in front of the image drive: READ CD with Q only refused, and Q blocks one sector
// late (the block for LBA n+1 comes with sector n).
class QuirkyDrive final : public CdDevice {
public:
    QuirkyDrive(CdDevice& inner, bool refuseQOnly, bool late, bool noQ = false)
        : inner_(inner), refuseQOnly_(refuseQOnly), late_(late), noQ_(noQ) {}
    ScsiOutcome Execute(std::span<const std::uint8_t> cdb, ScsiDirection d, std::uint8_t* data,
                        std::size_t length) override {
        if (cdb.size() >= 12 && cdb[0] == kOpReadCd && cdb[10] == kReadCdFormattedQ &&
            (noQ_ || (refuseQOnly_ && cdb[9] == 0))) {
            ScsiOutcome o;
            o.delivered = true;
            o.status = kStatusCheckCondition;
            o.senseKey = kSenseIllegalRequest;
            o.asc = 0x24;
            return o;
        }
        if (cdb.size() >= 12 && cdb[0] == kOpReadCd && cdb[10] == kReadCdFormattedQ && late_) {
            Bytes moved(cdb.begin(), cdb.end());
            PutBe32(moved.data() + 2, Be32(cdb.data() + 2) + 1);
            return inner_.Execute(moved, d, data, length);
        }
        return inner_.Execute(cdb, d, data, length);
    }
    bool ReadAudio(std::uint32_t lba, std::uint32_t count, std::uint8_t* out) override {
        return inner_.ReadAudio(lba, count, out);
    }

private:
    CdDevice& inner_;
    bool refuseQOnly_, late_, noQ_;
};

class SubChannelDrive : public ::testing::Test {
protected:
    void SetUp() override {
        // 1,200 sectors of file. Track 1 has 75 sectors before its INDEX 01; track 2's INDEX 00
        // falls on a sector whose Q block carries the catalog number (LBA 337); track 3's
        // pre-gap is PREGAP silence; track 4 has none; track 5 is data.
        std::ofstream(dir_ / "d.bin", std::ios::binary) << std::string(1200 * 2352, '\0');
        std::ofstream(dir_ / "d.cue") << "CATALOG 0724384960650\n"
                                         "FILE \"d.bin\" BINARY\n"
                                         "  TRACK 01 AUDIO\n    ISRC USRC17607839\n"
                                         "    INDEX 00 00:00:00\n    INDEX 01 00:01:00\n"
                                         "  TRACK 02 AUDIO\n"
                                         "    INDEX 00 00:04:37\n    INDEX 01 00:06:37\n"
                                         "  TRACK 03 AUDIO\n    PREGAP 00:01:00\n"
                                         "    INDEX 01 00:09:00\n"
                                         "  TRACK 04 AUDIO\n    INDEX 01 00:10:00\n"
                                         "  TRACK 05 MODE1/2352\n"
                                         "    INDEX 00 00:11:00\n    INDEX 01 00:12:00\n";
        std::string why;
        ASSERT_TRUE(LoadImageDisc(dir_ / "d.cue", disc_, &why)) << why;
        device_ = ImageDevice::Open(disc_, JitterSettings{}, &why);
        ASSERT_TRUE(device_) << why;
    }
    std::vector<std::optional<std::uint32_t>> Gaps(CdDevice& d) {
        return ReadPregaps(d, device_->Toc());
    }
    test::TempDir dir_;
    ImageDisc disc_;
    std::unique_ptr<ImageDevice> device_;
    using Gap = std::optional<std::uint32_t>;
    const std::vector<Gap> expected_{75u, 150u, 75u, 0u, 75u};
};

TEST_F(SubChannelDrive, CatalogIsrcAndPregapsFromTheSheet) {
    EXPECT_EQ(ReadMcn(*device_), "0724384960650");
    EXPECT_EQ(ReadIsrc(*device_, 1), "USRC17607839");
    EXPECT_EQ(ReadIsrc(*device_, 2), "");
    EXPECT_EQ(ReadIsrc(*device_, 9), "");  // no such track: the drive refuses
    EXPECT_EQ(Gaps(*device_), expected_);
}

TEST_F(SubChannelDrive, DriveQuirks) {
    QuirkyDrive withAudioOnly(*device_, true, false);
    EXPECT_EQ(Gaps(withAudioOnly), expected_);
    QuirkyDrive late(*device_, false, true);
    EXPECT_EQ(Gaps(late), expected_);
    QuirkyDrive none(*device_, false, false, true);
    EXPECT_EQ(Gaps(none), std::vector<Gap>(5));
    // A stop between tracks leaves the rest unknown.
    const std::atomic<bool> stop{true};
    EXPECT_EQ(ReadPregaps(*device_, device_->Toc(), &stop), std::vector<Gap>(5));
}

}  // namespace
}  // namespace tralux::cd
