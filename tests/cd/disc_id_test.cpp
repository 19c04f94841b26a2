// Disc identifiers against libdiscid's freedb identifiers, for random tables of contents and for
// image drives read through the transport.
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>

#include "cd_fixture.h"
#include "cddb/cd_info.h"
#include "cddb/disc_id.h"
#include "cddb/protocol.h"
#include "support/require.h"

#if TRALUX_HAVE_DISCID
#include <discid/discid.h>
#endif

namespace tralux::test {
namespace {

#if TRALUX_HAVE_DISCID
// libdiscid wants absolute offsets with the 150-frame lead-in, offsets[0] the lead-out.
std::string Reference(const DiscToc& toc) {
    int offsets[100] = {};
    offsets[0] = static_cast<int>(toc.leadOutLba + 150);
    for (const TocTrack& t : toc.tracks) offsets[t.number] = static_cast<int>(t.startLba + 150);
    DiscId* d = discid_new();
    std::string id;
    if (discid_put(d, toc.firstTrack, toc.lastTrack, offsets)) id = discid_get_freedb_id(d);
    discid_free(d);
    return id;
}

std::string Hex(std::uint32_t id) {
    char text[16];
    std::snprintf(text, sizeof text, "%08x", static_cast<unsigned>(id));
    return text;
}

DiscToc RandomToc(std::mt19937& rng) {
    DiscToc toc;
    const int count = std::uniform_int_distribution<int>(1, 99)(rng);
    std::uint32_t lba = std::uniform_int_distribution<std::uint32_t>(0, 40000)(rng);
    for (int i = 1; i <= count; ++i) {
        toc.tracks.push_back({static_cast<std::uint8_t>(i), lba, true});
        lba += std::uniform_int_distribution<std::uint32_t>(4, 4000)(rng);
    }
    toc.leadOutLba = lba;
    toc.firstTrack = 1;
    toc.lastTrack = static_cast<std::uint8_t>(count);
    return toc;
}
#endif

void SkipWithoutLibdiscid() {
#if !TRALUX_HAVE_DISCID
    if (::tralux::test::InCi())
        FAIL() << "libdiscid-dev is missing (scripts/install-deps.sh installs it)";
    GTEST_SKIP() << "libdiscid-dev is not installed";
#endif
}

TEST(DiscIdTest, EqualsLibdiscidForRandomTables) {
    SkipWithoutLibdiscid();
#if TRALUX_HAVE_DISCID
    std::mt19937 rng(11);
    for (int i = 0; i < 2000; ++i) {
        const DiscToc toc = RandomToc(rng);
        const std::string want = Reference(toc);
        ASSERT_FALSE(want.empty());
        ASSERT_EQ(Hex(DiscIdFromToc(toc)), want)
            << "tracks " << toc.tracks.size() << " lead-out " << toc.leadOutLba;
    }
#endif
}

TEST(DiscIdTest, RefusesImpossibleTables) {
    DiscToc toc;
    EXPECT_EQ(DiscIdFromToc(toc), 0u);  // no tracks
    for (int i = 1; i <= 100; ++i)
        toc.tracks.push_back(
            {static_cast<std::uint8_t>(i), static_cast<std::uint32_t>(i * 100), true});
    toc.leadOutLba = 20000;
    EXPECT_EQ(DiscIdFromToc(toc), 0u);  // 100 tracks
    toc.tracks.resize(3);
    EXPECT_NE(DiscIdFromToc(toc), 0u);
    toc.leadOutLba = 300;  // lead-out before the last track
    EXPECT_EQ(DiscIdFromToc(toc), 0u);
}

// A checksum byte below 0x10 keeps its leading zero on the wire: ids are always eight digits.
TEST(DiscIdTest, SmallChecksumsAreQueriedWithEightDigits) {
    DiscToc toc;
    toc.tracks = {{1, 0, true}};
    toc.firstTrack = toc.lastTrack = 1;
    toc.leadOutLba = 75 * 200;
    const std::uint32_t id = DiscIdFromToc(toc);
    ASSERT_EQ(id >> 24, 2u);  // 00:02 -> digit sum 2
    const std::string text = cddb::DiscIdText(id);
    EXPECT_EQ(text.size(), 8u);
    EXPECT_EQ(text.substr(0, 2), "02");
    const std::string url = cddb::QueryUrl("http://127.0.0.1/cddb.cgi", id, toc);
    EXPECT_NE(url.find("cmd=cddb+query+" + text + "+1+150+"), std::string::npos) << url;
}

class DriveDiscIdTest : public CdTest {};

TEST_F(DriveDiscIdTest, ImageDrivesGiveThePublishedIdentifier) {
    SkipWithoutLibdiscid();
#if TRALUX_HAVE_DISCID
    ImageSpec hidden = ThreeTrackSpec();
    hidden.hiddenSectors = 2250;
    const BuiltImage a = BuildImage(dir_, ThreeTrackSpec(), "a");
    const BuiltImage b = BuildImage(dir_, hidden, "b");
    UseImages(a.cuePath + ":" + b.cuePath);
    const char d = FirstImageLetter();
    for (const auto& [letter, img] : {std::pair{d, &a}, std::pair{static_cast<char>(d + 1), &b}}) {
        DiscToc toc;
        const std::uint32_t id = ComputeDiscId(std::string(1, letter) + ":", &toc);
        ASSERT_NE(id, 0u);
        ASSERT_EQ(toc.tracks.size(), 3u);
        EXPECT_EQ(toc.tracks[0].startLba, img->starts[0]);
        EXPECT_EQ(toc.leadOutLba, img->LeadOut());
        EXPECT_EQ(Hex(id), Reference(toc));
    }
    EXPECT_EQ(ComputeDiscId("Q:"), 0u);
#endif
}

}  // namespace
}  // namespace tralux::test
