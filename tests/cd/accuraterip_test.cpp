// Verification pieces on images: checksums against a plain computation over the image's samples,
// the disc ids and database files, the read offset of the reader, and the CUE sheet's texts.
#include <stdlib.h>

#include "cd/accuraterip.h"
#include "cd/cue_writer.h"
#include "cd/rip_log.h"
#include "ar_reference.h"
#include "cd_fixture.h"

namespace tralux::test {
namespace {

cd::TrackChecksums Sums(const Bytes& track, bool first, bool last, std::size_t block) {
    cd::TrackChecksummer s(track.size() / 4, first, last);
    for (std::size_t at = 0; at < track.size(); at += block)
        s.Add(track.data() + at, std::min(block, track.size() - at));
    return s.Result();
}

void ExpectSame(const cd::TrackChecksums& a, const cd::TrackChecksums& b, const char* what) {
    EXPECT_EQ(a.v1, b.v1) << what;
    EXPECT_EQ(a.v2, b.v2) << what;
    EXPECT_EQ(a.crc, b.crc) << what;
}

class VerifyTest : public CdTest {};

TEST_F(VerifyTest, ChecksumsMatchAPlainComputation) {
    const BuiltImage img = BuildImage(dir_, ThreeTrackSpec());
    const std::uint8_t digits[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    EXPECT_EQ(cd::Crc32(0, digits, 9), 0xCBF43926u);
    for (std::size_t t = 0; t < 3; ++t) {
        const Bytes track = img.Track(t);
        // Every first/last combination on every track, in blocks that do not divide a sector.
        for (int rule = 0; rule < 4; ++rule) {
            const bool first = rule & 1, last = rule & 2;
            ExpectSame(
                Sums(track, first, last, 4 * 1001), Reference(track, first, last),
                ("track " + std::to_string(t + 1) + " rule " + std::to_string(rule)).c_str());
        }
    }
    // v2 differs from v1 once products pass 32 bits (loud samples late in a track).
    const cd::TrackChecksums s = Sums(img.Track(0), true, false, 2352);
    EXPECT_NE(s.v1, s.v2);
    // A track shorter than the skipped stretch counts nothing.
    const Bytes tiny(4 * 1000, 0x7F);
    EXPECT_EQ(Sums(tiny, false, true, 4000).v1, 0u);
}

TEST_F(VerifyTest, DiscIdsAndDatabaseFiles) {
    DiscToc toc;
    toc.tracks = {{1, 0, true}, {2, 22000, true}, {3, 41000, true}};
    toc.leadOutLba = 60000;
    cd::ArDiscIds ids;
    ASSERT_TRUE(cd::ArIdsFromToc(toc, 0x1e02b203, ids));
    EXPECT_EQ(ids.id1, 0u + 22000 + 41000 + 60000);
    EXPECT_EQ(ids.id2, 1u * 1 + 22000 * 2 + 41000 * 3 + 60000 * 4);  // offsets at least 1
    EXPECT_EQ(cd::ArUrlPath(ids), "/accuraterip/8/7/0/dBAR-003-0001e078-000635d9-1e02b203.bin");
    // A data session after the audio ends the audio 11,400 sectors before it.
    toc.tracks.push_back({4, 70000, false});
    toc.leadOutLba = 90000;
    ASSERT_TRUE(cd::ArIdsFromToc(toc, 1, ids));
    EXPECT_EQ(ids.tracks, 3u);
    EXPECT_EQ(ids.id1, 0u + 22000 + 41000 + 58600);
    DiscToc data;
    data.tracks = {{1, 0, false}};
    EXPECT_FALSE(cd::ArIdsFromToc(data, 1, ids));

    // Two pressings; one file cut short and one with a zero track count are refused.
    auto put = [](Bytes& b, std::uint32_t v) { Put32(b, v); };
    Bytes file;
    for (int pressing = 0; pressing < 2; ++pressing) {
        file.push_back(2);
        put(file, 10), put(file, 20), put(file, 30);
        for (int t = 0; t < 2; ++t) {
            file.push_back(static_cast<std::uint8_t>(5 + pressing));
            put(file, 0x100u * (pressing + 1) + t), put(file, 0);
        }
    }
    const auto parsed = cd::ParseArDatabase(file);
    ASSERT_TRUE(parsed);
    ASSERT_EQ(parsed->size(), 2u);
    EXPECT_EQ((*parsed)[1].tracks[1].crc, 0x201u);
    EXPECT_EQ((*parsed)[1].tracks[1].confidence, 6);
    EXPECT_FALSE(cd::ParseArDatabase(std::span(file.data(), file.size() - 1)));
    EXPECT_FALSE(cd::ParseArDatabase({}));
    Bytes zero(13, 0);
    EXPECT_FALSE(cd::ParseArDatabase(zero));

    // Verdicts: the best matching pressing, v1 or v2; the best stored confidence otherwise.
    const cd::ArDiscIds disc{10, 20, 30, 2};
    auto verify = [&](std::uint32_t track, std::uint32_t v1, std::uint32_t v2) {
        return cd::ArVerify(*parsed, disc, track, {v1, v2, 0});
    };
    EXPECT_EQ(cd::ArResultText(verify(1, 0x100, 7)), "accurately ripped (confidence 5, v1)");
    EXPECT_EQ(cd::ArResultText(verify(2, 9, 0x201)), "accurately ripped (confidence 6, v2)");
    EXPECT_EQ(cd::ArResultText(verify(2, 9, 9)), "does not match (best confidence 6)");
    EXPECT_EQ(cd::ArResultText(verify(3, 0x100, 0)), "not in database");
    EXPECT_STREQ(cd::ArResultWord(cd::ArVerify(*parsed, {10, 21, 30, 2}, 1, {0x100, 0, 0})),
                 "absent");
}

// A drive whose offset correction is N, read with offset N, gives the image's exact samples;
// what lies before sector 0 comes back as silence, and so does what lies past the lead-out
// unless the drive reads there.
TEST_F(VerifyTest, ReadOffsetGivesBackTheImage) {
    const BuiltImage img = BuildImage(dir_, ThreeTrackSpec());
    UseImages(img.cuePath);
    const char d = FirstImageLetter();
    for (const std::int32_t offset : {6, -472, 667}) {
        setenv("TRALUX_CD_OFFSET", std::to_string(offset).c_str(), 1);
        for (const bool overread : {false, true}) {
            setenv("TRALUX_CD_OVERREAD", overread ? "1" : "0", 1);
            for (const bool jitter : {false, true}) {
                for (int t = 1; t <= 3; ++t) {
                    StreamInfo info = Track(d, t);
                    CollectSink sink;
                    cd::CdRipRequest request;
                    request.jitter = jitter;
                    request.readOffset = offset;
                    cd::CdRipTrack(sink, info, request);
                    Bytes want = img.Track(static_cast<std::size_t>(t - 1));
                    const std::size_t n = static_cast<std::size_t>(std::abs(offset));
                    const bool pastEnd = t == 3 && offset > 0, beforeStart = t == 1 && offset < 0;
                    if (pastEnd && !overread) std::fill(want.end() - n * 4, want.end(), 0);
                    if (beforeStart) std::fill(want.begin(), want.begin() + n * 4, 0);
                    EXPECT_EQ(FirstDifference(sink.bytes(), want), "equal")
                        << "offset " << offset << " overread " << overread << " jitter " << jitter
                        << " track " << t;
                    const cd::CdEdges edges = cd::LastTrackEdges();
                    EXPECT_EQ(edges.padded, (pastEnd && !overread) || beforeStart ? n : 0u);
                    EXPECT_EQ(edges.overread, pastEnd && overread ? n : 0u);
                }
            }
        }
    }
    unsetenv("TRALUX_CD_OVERREAD");
    // Without the correction the audio is shifted.
    setenv("TRALUX_CD_OFFSET", "6", 1);
    EXPECT_NE(Rip(d, 2, false), img.Track(1));
    unsetenv("TRALUX_CD_OFFSET");
}

TEST_F(VerifyTest, CueSheetTextsAndGaps) {
    EXPECT_EQ(cd::CueText("  say \"hi\"\tnow\x01 "), "say 'hi' now");
    EXPECT_EQ(cd::CueText("a\xff\xc0z"), "a??z");
    const std::string longText(300, 'x');
    EXPECT_EQ(cd::CueText(longText).size(), 255u);
    std::string chinese;
    for (int i = 0; i < 100; ++i) chinese += "春";  // 3 bytes each: the cut falls on a boundary
    EXPECT_EQ(cd::CueText(chinese).size(), 255u);

    cd::CueOutDisc disc;
    disc.performer = "歌手";
    disc.title = "專輯";
    disc.discId = "1e02b203";
    disc.tracks = {{1, "01 A.wav", "A", "", "", 300, 0}, {2, "02 B.wav", "B", "", "", 200, 75}};
    const std::string cue = cd::FormatCueSheet(disc);
    EXPECT_EQ(cue,
              "REM DISCID 1e02b203\n"
              "PERFORMER \"歌手\"\n"
              "TITLE \"專輯\"\n"
              "FILE \"01 A.wav\" WAVE\n"
              "  TRACK 01 AUDIO\n"
              "    TITLE \"A\"\n"
              "    INDEX 01 00:00:00\n"
              "  TRACK 02 AUDIO\n"
              "    TITLE \"B\"\n"
              "    INDEX 00 00:03:00\n"
              "FILE \"02 B.wav\" WAVE\n"
              "    INDEX 01 00:00:00\n");
}

TEST_F(VerifyTest, LogVerdict) {
    std::vector<cd::RipLogTrack> tracks(3);
    for (int i = 0; i < 3; ++i) {
        tracks[static_cast<std::size_t>(i)].number = i + 1;
        tracks[static_cast<std::size_t>(i)].accurateRip.kind = cd::ArTrackResult::Match;
    }
    EXPECT_EQ(cd::RipVerdict(tracks), "all tracks accurately ripped");
    tracks[0].error = "Failed to read sector";
    tracks[2].accurateRip.kind = cd::ArTrackResult::Mismatch;
    EXPECT_EQ(cd::RipVerdict(tracks), "track 1 failed; track 3 did not match the database");
    tracks[1].testCrc = 1;  // the copy's CRC is 0
    EXPECT_NE(cd::RipVerdict(tracks).find("track 2 test and copy differ"), std::string::npos);
}

}  // namespace
}  // namespace tralux::test
