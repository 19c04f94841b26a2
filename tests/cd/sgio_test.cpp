// The SG_IO road: the exact command blocks the transport sends, checked against a recording
// port that answers like a drive (an image drive behind it), and the rules of resending.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <memory>

#include "cd/aspi.h"
#include "cd/image_drive.h"
#include "cd/sgio_device.h"
#include "cd_fixture.h"

namespace tralux::test {
namespace {

struct Sent {
    std::vector<std::uint8_t> cdb;
    int direction = 0;
    unsigned length = 0, timeout = 0;
    unsigned char senseLength = 0;
    int interfaceId = 0;
};

enum Fate {
    kAnswer,
    kMediumError,
    kUnitAttention,
    kGoodButNoData,
    kIoctlFails,          // SG_IO itself fails (EIO)
    kInterrupted,         // SG_IO fails with EINTR
    kHostError,           // the host adapter reports an error, status GOOD
    kDriverTimeout,       // the driver reports a time-out, status GOOD
    kDescriptorMedium,    // descriptor-format sense: medium error
    kDescriptorAttention  // descriptor-format sense: unit attention
};

struct Recording {
    std::vector<Sent> sent;
    std::vector<cdrom_read_audio> rawReads;
    // Decides a READ CD's fate: one of the Fate values.
    std::function<int(std::uint32_t lba)> readCd = [](std::uint32_t) { return 0; };
    std::function<bool()> rawRead = [] { return true; };
};

class RecordingPort final : public cd::SgioPort {
public:
    RecordingPort(std::shared_ptr<Recording> r, std::unique_ptr<cd::ImageDevice> drive)
        : r_(std::move(r)), drive_(std::move(drive)) {}
    int SgIo(sg_io_hdr_t& h) override {
        Sent s;
        s.cdb.assign(h.cmdp, h.cmdp + h.cmd_len);
        s.direction = h.dxfer_direction;
        s.length = h.dxfer_len;
        s.timeout = h.timeout;
        s.senseLength = h.mx_sb_len;
        s.interfaceId = h.interface_id;
        r_->sent.push_back(s);
        auto* sense = static_cast<std::uint8_t*>(h.sbp);
        auto check = [&](std::uint8_t key, std::uint8_t asc) {
            h.status = cd::kStatusCheckCondition;
            h.masked_status = 0x01;  // CHECK CONDITION, shifted
            h.driver_status = 0x08;
            h.info = SG_INFO_CHECK;
            std::memset(sense, 0, h.mx_sb_len);
            sense[0] = 0x70;
            sense[2] = key;
            sense[7] = 6;
            sense[12] = asc;
            h.sb_len_wr = h.mx_sb_len;
            return 0;
        };
        if (s.cdb[0] == cd::kOpReadCd) {
            const std::uint32_t lba = cd::Be32(s.cdb.data() + 2);
            auto descriptor = [&](std::uint8_t key, std::uint8_t asc) {
                check(0, 0);
                std::memset(sense, 0, h.mx_sb_len);
                sense[0] = 0x72;
                sense[1] = key;
                sense[2] = asc;
                h.sb_len_wr = 8;
                return 0;
            };
            switch (r_->readCd(lba)) {
                case kMediumError:
                    return check(cd::kSenseMediumError, 0x11);
                case kUnitAttention:
                    return check(cd::kSenseUnitAttention, 0x28);
                case kGoodButNoData:
                    h.status = 0;
                    h.resid = 0;
                    return 0;  // "success", nothing written
                case kIoctlFails:
                    errno = EIO;
                    return -1;
                case kInterrupted:
                    errno = EINTR;
                    return -1;
                case kHostError:
                    h.status = 0;
                    h.host_status = 0x07;  // DID_ERROR
                    return 0;
                case kDriverTimeout:
                    h.status = 0;
                    h.driver_status = 0x06;  // DRIVER_TIMEOUT
                    return 0;
                case kDescriptorMedium:
                    return descriptor(cd::kSenseMediumError, 0x11);
                case kDescriptorAttention:
                    return descriptor(cd::kSenseUnitAttention, 0x28);
                default:
                    break;
            }
        }
        const cd::ScsiOutcome o =
            drive_->Execute({h.cmdp, h.cmd_len},
                            h.dxfer_direction == SG_DXFER_FROM_DEV ? cd::ScsiDirection::In
                                                                   : cd::ScsiDirection::None,
                            static_cast<std::uint8_t*>(h.dxferp), h.dxfer_len);
        if (!o.Good()) return check(o.senseKey, o.asc);
        h.status = 0;
        h.resid = static_cast<int>(o.residual);
        return 0;
    }
    int ReadAudio(cdrom_read_audio& r) override {
        r_->rawReads.push_back(r);
        if (!r_->rawRead()) {
            errno = EIO;
            return -1;
        }
        return drive_->ReadAudio(r.addr.lba, static_cast<std::uint32_t>(r.nframes), r.buf) ? 0 : -1;
    }

private:
    std::shared_ptr<Recording> r_;
    std::unique_ptr<cd::ImageDevice> drive_;
};

class SgioTest : public CdTest {
protected:
    void SetUp() override {
        CdTest::SetUp();
        img_ = BuildImage(dir_, ThreeTrackSpec());
        ASSERT_TRUE(cd::LoadImageDisc(img_.cuePath, disc_));
        rec_ = std::make_shared<Recording>();
        cd::SetCdDriveSourceForTesting(
            {[] {
                 return std::vector<cd::CdDriveSlot>{{0, "/dev/sr0", false}};
             },
             [this](const cd::CdDriveSlot&, std::string*) -> std::unique_ptr<cd::CdDevice> {
                 return std::make_unique<cd::SgioDevice>(
                     std::make_unique<RecordingPort>(rec_, cd::ImageDevice::Open(disc_, {})));
             }});
    }
    std::vector<Sent> Blocks(std::uint8_t op) const {
        std::vector<Sent> v;
        for (const Sent& s : rec_->sent)
            if (s.cdb[0] == op) v.push_back(s);
        return v;
    }
    BuiltImage img_;
    cd::ImageDisc disc_;
    std::shared_ptr<Recording> rec_;
};

using B = std::vector<std::uint8_t>;

TEST_F(SgioTest, RipSendsTheTabledCommandBlocks) {
    const Bytes got = Rip('D', 2, false);
    ASSERT_TRUE(got == img_.Track(1)) << FirstDifference(got, img_.Track(1));
    for (const Sent& s : rec_->sent) {
        EXPECT_EQ(s.interfaceId, 'S');
        EXPECT_EQ(s.timeout, 30000u);
        EXPECT_EQ(s.senseLength, 14);
    }
    const auto inquiry = Blocks(cd::kOpInquiry);
    ASSERT_FALSE(inquiry.empty());
    EXPECT_EQ(inquiry[0].cdb, (B{0x12, 0, 0, 0, 36, 0}));
    EXPECT_EQ(inquiry[0].direction, SG_DXFER_FROM_DEV);
    EXPECT_EQ(inquiry[0].length, 36u);
    const auto toc = Blocks(cd::kOpReadToc);
    ASSERT_FALSE(toc.empty());
    EXPECT_EQ(toc[0].cdb, (B{0x43, 0, 0, 0, 0, 0, 0, 0x03, 0x24, 0}));
    EXPECT_EQ(toc[0].length, 804u);
    const auto capacity = Blocks(cd::kOpReadCapacity);
    ASSERT_EQ(capacity.size(), 1u);
    EXPECT_EQ(capacity[0].cdb, (B{0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(capacity[0].length, 8u);

    // The warm-up sector, then chunks of 20 from the track's absolute start.
    const auto reads = Blocks(cd::kOpReadCd);
    const std::uint32_t start = img_.starts[1], length = img_.starts[2] - start;
    ASSERT_EQ(reads.size(), 1 + (length + 19) / 20);
    auto readCd = [](std::uint32_t lba, std::uint8_t count) {
        return B{0xBE,
                 0,
                 0,
                 static_cast<std::uint8_t>(lba >> 16),
                 static_cast<std::uint8_t>(lba >> 8),
                 static_cast<std::uint8_t>(lba),
                 0,
                 0,
                 count,
                 0xF0,
                 0,
                 0};
    };
    EXPECT_EQ(reads[0].cdb, readCd(start, 1));
    EXPECT_EQ(reads[1].cdb, readCd(start, 20));
    EXPECT_EQ(reads[1].length, 20u * 2352);
    EXPECT_EQ(reads[1].direction, SG_DXFER_FROM_DEV);
    EXPECT_EQ(reads.back().cdb, readCd(start + (length - 1) / 20 * 20,
                                       static_cast<std::uint8_t>((length - 1) % 20 + 1)));
    for (const Sent& s : reads) EXPECT_LE(cd::Be32(s.cdb.data() + 2) + s.cdb[8], img_.LeadOut());
}

TEST_F(SgioTest, AFailedCommandIsSentOnceMore) {
    ASSERT_TRUE(cd::AspiOpen());
    std::uint8_t cdb[12] = {0xBE, 0, 0, 0, 0, 10, 0, 0, 2, 0xF0, 0, 0};
    int failures = 1;
    rec_->readCd = [&](std::uint32_t) { return failures-- > 0 ? kMediumError : kAnswer; };
    EXPECT_TRUE(
        cd::AspiExecute({0, 0}, cd::ScsiDirection::In, 2 * 2352, cd::TransferBuffer(), 12, cdb));
    EXPECT_EQ(Blocks(cd::kOpReadCd).size(), 2u);

    rec_->sent.clear();
    rec_->readCd = [](std::uint32_t) { return kMediumError; };
    EXPECT_FALSE(
        cd::AspiExecute({0, 0}, cd::ScsiDirection::In, 2 * 2352, cd::TransferBuffer(), 12, cdb));
    EXPECT_EQ(Blocks(cd::kOpReadCd).size(), 2u);

    // UNIT ATTENTION: the medium may have changed; the block is not sent again.
    rec_->sent.clear();
    rec_->readCd = [](std::uint32_t) { return kUnitAttention; };
    EXPECT_FALSE(
        cd::AspiExecute({0, 0}, cd::ScsiDirection::In, 2 * 2352, cd::TransferBuffer(), 12, cdb));
    EXPECT_EQ(Blocks(cd::kOpReadCd).size(), 1u);
    cd::AspiClose();
}

TEST_F(SgioTest, ASuccessThatDeliveredNothingIsAReadFailure) {
    ASSERT_TRUE(cd::AspiOpen());
    rec_->readCd = [](std::uint32_t) { return kGoodButNoData; };
    EXPECT_THROW(cd::CdReadSectors({0, 0}, 10, 1), cd::CdReadFailure);
    rec_->readCd = [](std::uint32_t) { return kAnswer; };
    EXPECT_NO_THROW(cd::CdReadSectors({0, 0}, 10, 1));
    cd::AspiClose();
}

// Errors from the middle of a track: a passing one is sent again and the rip stays exact; one
// that lasts fails the track; UNIT ATTENTION (the disc may have changed) fails it at once.
TEST_F(SgioTest, DeviceErrorsMidTrack) {
    const std::uint32_t mid = img_.starts[1] + 45;
    auto fate = [&](Fate f, bool lasting) {
        auto once = std::make_shared<bool>(false);
        rec_->readCd = [=](std::uint32_t lba) {
            if (lba < mid || (*once && !lasting)) return kAnswer;
            *once = true;
            return f;
        };
    };
    for (bool jitter : {false, true}) {
        for (Fate f : {kIoctlFails, kInterrupted, kHostError, kDriverTimeout, kMediumError,
                       kDescriptorMedium}) {
            fate(f, false);
            const Bytes got = Rip('D', 2, jitter);
            EXPECT_TRUE(got == img_.Track(1)) << "fate " << f << " jitter " << jitter << ": "
                                              << FirstDifference(got, img_.Track(1));
            if (f == kInterrupted) continue;  // retried by the kernel call itself
            fate(f, true);
            StreamInfo info = Track('D', 2);
            CollectSink sink;
            EXPECT_THROW(cd::CdRipTrack(sink, info, {0, jitter}), cd::CdReadFailure) << f;
            EXPECT_FALSE(sink.finished);
        }
        for (Fate f : {kUnitAttention, kDescriptorAttention}) {
            fate(f, false);
            rec_->sent.clear();
            StreamInfo info = Track('D', 2);
            CollectSink sink;
            EXPECT_THROW(cd::CdRipTrack(sink, info, {0, jitter}), cd::CdReadFailure)
                << "fate " << f << " jitter " << jitter;
            EXPECT_FALSE(sink.finished);
            // Not sent again, and nothing read after it.
            const auto reads = Blocks(cd::kOpReadCd);
            ASSERT_FALSE(reads.empty());
            EXPECT_GE(cd::Be32(reads.back().cdb.data() + 2), mid);
            EXPECT_EQ(
                std::count_if(reads.begin(), reads.end(),
                              [&](const Sent& s) { return cd::Be32(s.cdb.data() + 2) >= mid; }),
                1);
        }
    }
}

TEST_F(SgioTest, AWarmUpFailureMovesToTheRawRoadWithItsAttempts) {
    // Every READ CD fails; the raw road (CDROMREADAUDIO) fails 24 times, then reads.
    rec_->readCd = [](std::uint32_t) { return kMediumError; };
    int rawFailures = 24;
    rec_->rawRead = [&] { return rawFailures-- <= 0; };
    const Bytes got = Rip('D', 1, false);
    ASSERT_TRUE(got == img_.Track(0)) << FirstDifference(got, img_.Track(0));
    ASSERT_GE(rec_->rawReads.size(), 25u);
    EXPECT_EQ(rec_->rawReads[0].addr_format, CDROM_LBA);
    EXPECT_EQ(rec_->rawReads[0].addr.lba, 0);
    EXPECT_EQ(rec_->rawReads[0].nframes, 20);

    // 25 failures in a row fail the chunk; its first sector alone fails three times over: the
    // track ends with a read failure.
    rec_->rawReads.clear();
    rec_->rawRead = [] { return false; };
    StreamInfo info = Track('D', 1);
    CollectSink sink;
    EXPECT_THROW(cd::CdRipTrack(sink, info, {0, false}), cd::CdReadFailure);
    EXPECT_EQ(rec_->rawReads.size(), 4u * 25);
}

TEST_F(SgioTest, UnitAttentionAfterADiscChangeDoesNotHideTheDrive) {
    // The first command after a disc change answers UNIT ATTENTION; INQUIRY passes it by.
    cd::SetCdDriveSourceForTesting(
        {[] {
             return std::vector<cd::CdDriveSlot>{{0, "/dev/sr0", false}};
         },
         [this](const cd::CdDriveSlot&, std::string*) -> std::unique_ptr<cd::CdDevice> {
             cd::JitterSettings j;
             EXPECT_TRUE(cd::ParseJitter("attention,shift=0", j));
             return std::make_unique<cd::SgioDevice>(
                 std::make_unique<RecordingPort>(rec_, cd::ImageDevice::Open(disc_, j)));
         }});
    const Bytes got = Rip('D', 3, false);
    EXPECT_TRUE(got == img_.Track(2));
}

TEST(SgioOpenTest, ReasonsNameTheDevice) {
    std::string why;
    EXPECT_EQ(cd::SgioDevice::Open("/nonexistent/sr9", &why), nullptr);
    EXPECT_NE(why.find("/nonexistent/sr9"), std::string::npos);
    EXPECT_NE(cd::CdromGroupHint("/dev/sr0").find("cdrom"), std::string::npos);
}

TEST_F(SgioTest, ADriveTheUserMayNotOpenIsNamedWithTheReason) {
    cd::SetCdDriveSourceForTesting(
        {[] {
             return std::vector<cd::CdDriveSlot>{{0, "/dev/sr0", false}};
         },
         [](const cd::CdDriveSlot& s, std::string* why) -> std::unique_ptr<cd::CdDevice> {
             *why = cd::CdromGroupHint(s.source);
             return nullptr;
         }});
    StreamInfo info;
    info.trackNumber = 1;
    info.lengthSectors = 100;
    info.driveLetter = 'D';
    CollectSink sink;
    EXPECT_THROW(cd::CdRipTrack(sink, info, {0, false}), cd::CdTrackNotFound);
    const auto m = notes_.Messages();
    ASSERT_FALSE(m.empty());
    EXPECT_NE(m.back().text.find("D: (/dev/sr0)"), std::string::npos) << m.back().text;
    EXPECT_NE(m.back().text.find("cdrom"), std::string::npos) << m.back().text;
    std::string reason;
    DiscToc toc;
    EXPECT_FALSE(cd::ReadDiscTocWithReason("D:/", toc, &reason));
    EXPECT_NE(reason.find("cdrom"), std::string::npos);
}

}  // namespace
}  // namespace tralux::test
