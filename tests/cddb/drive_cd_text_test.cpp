// CD-Text of a real drive: READ TOC format 5, header first, then the packs.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "cd/drives.h"
#include "cd/scsi.h"
#include "cddb/engine/cd_info_provider.h"

namespace tralux::cddb {
namespace {

// The drive D: whose READ TOC format 5 answers `reply` (or CHECK CONDITION when it is empty).
class CdTextDrive final : public cd::CdDevice {
public:
    explicit CdTextDrive(std::vector<std::uint8_t> reply,
                         std::vector<std::vector<std::uint8_t>>* cdbs)
        : reply_(std::move(reply)), cdbs_(cdbs) {}
    cd::ScsiOutcome Execute(std::span<const std::uint8_t> cdb, cd::ScsiDirection,
                            std::uint8_t* data, std::size_t length) override {
        cdbs_->emplace_back(cdb.begin(), cdb.end());
        cd::ScsiOutcome o;
        o.delivered = true;
        if (cdb[0] != 0x43 || (cdb[2] & 0x0F) != 5 || reply_.empty()) {
            o.status = cd::kStatusCheckCondition;
            o.senseKey = cd::kSenseIllegalRequest;
            return o;
        }
        const std::size_t n = std::min(length, reply_.size());
        std::memcpy(data, reply_.data(), n);
        o.residual = static_cast<std::uint32_t>(length - n);
        return o;
    }
    bool ReadAudio(std::uint32_t, std::uint32_t, std::uint8_t*) override { return false; }

private:
    std::vector<std::uint8_t> reply_;
    std::vector<std::vector<std::uint8_t>>* cdbs_;
};

std::vector<std::uint8_t> Pack(std::uint8_t type, std::uint8_t track, std::uint8_t seq,
                               const char (&text)[13]) {
    std::vector<std::uint8_t> p(18, 0);  // CRC left zero, as many drives return it
    p[0] = type;
    p[1] = track;
    p[2] = seq;
    std::memcpy(p.data() + 4, text, 12);
    return p;
}

class DriveCdTextTest : public ::testing::Test {
protected:
    void Use(std::vector<std::uint8_t> reply) {
        cd::SetCdDriveSourceForTesting(cd::CdDriveSource{
            [] {
                return std::vector<cd::CdDriveSlot>{{'D', "/dev/fake", false}};
            },
            [this, reply](const cd::CdDriveSlot&, std::string*) -> std::unique_ptr<cd::CdDevice> {
                return std::make_unique<CdTextDrive>(reply, &cdbs_);
            }});
    }
    void TearDown() override { cd::SetCdDriveSourceForTesting({}); }
    std::vector<std::vector<std::uint8_t>> cdbs_;
};

TEST_F(DriveCdTextTest, PacksOfARealDrive) {
    std::vector<std::uint8_t> packs;
    for (const auto& p :
         {Pack(0x80, 0, 0, "Album\0One\0Tw"), Pack(0x80, 2, 1, "o\0\0\0\0\0\0\0\0\0\0\0"),
          Pack(0x81, 0, 2, "Band\0\t\0\t\0\0\0\0")})
        packs.insert(packs.end(), p.begin(), p.end());
    std::vector<std::uint8_t> reply(4 + packs.size(), 0);
    cd::PutBe16(reply.data(), static_cast<std::uint32_t>(packs.size() + 2));
    std::copy(packs.begin(), packs.end(), reply.begin() + 4);
    Use(reply);
    const auto info = DriveCdText("D:", 2);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->discTitle, "Band / Album");
    EXPECT_EQ(info->tracks[0].title, "One");
    EXPECT_EQ(info->tracks[1].title, "Two");
    // The header alone first, then exactly the length it gave.
    ASSERT_EQ(cdbs_.size(), 2u);
    EXPECT_EQ(cdbs_[0][2] & 0x0F, 5);
    EXPECT_EQ(cd::Be16(&cdbs_[0][7]), 4u);
    EXPECT_EQ(cd::Be16(&cdbs_[1][7]), reply.size());
}

TEST_F(DriveCdTextTest, NoCdTextOrNoDrive) {
    Use({});
    EXPECT_FALSE(DriveCdText("D:", 2));
    EXPECT_FALSE(DriveCdText("Q:", 2));
    EXPECT_FALSE(DriveCdText("not a root", 2));
    // A header that claims nothing.
    Use({0, 2, 0, 0});
    EXPECT_FALSE(DriveCdText("D:/", 2));
}

}  // namespace
}  // namespace tralux::cddb
