// The track reader on image drives: exact rips, jitter correction over many seeds, the ends of
// tracks and discs, start offsets, read failures and stopping.
#include <gtest/gtest.h>

#include <memory>

#include "cd/image_drive.h"
#include "cd_fixture.h"

namespace tralux::test {
namespace {

class ReaderTest : public CdTest {};

TEST_F(ReaderTest, WithoutJitterTheRipIsTheImagesBytes) {
    const BuiltImage img = BuildImage(dir_, ThreeTrackSpec());
    UseImages(img.cuePath);
    const char d = FirstImageLetter();
    ASSERT_NE(d, 0);
    for (int t = 1; t <= 3; ++t) {
        const Bytes got = Rip(d, t, false);
        EXPECT_TRUE(got == img.Track(t - 1))
            << "track " << t << ": " << FirstDifference(got, img.Track(t - 1));
    }
    EXPECT_EQ(cd::ImageDevice::OpenCount(), 0);
}

TEST_F(ReaderTest, JitterOnWithAnExactDriveGivesTheSameRip) {
    const BuiltImage img = BuildImage(dir_, ThreeTrackSpec());
    UseImages(img.cuePath);
    const char d = FirstImageLetter();
    const Bytes got = Rip(d, 2, true);
    EXPECT_TRUE(got == img.Track(1)) << FirstDifference(got, img.Track(1));
    // Every chunk after the first was placed by its overlap, none by a vote.
    EXPECT_GT(cd::CurrentJitterStats().matched, 0u);
}

// Reads land early and late by single frames, over many seeds, with failures mixed in:
// every join is seamless and the whole track is where it belongs.
TEST_F(ReaderTest, JitteredReadsStillGiveBitIdenticalTracks) {
    ImageSpec layout = ThreeTrackSpec();
    layout.tracks.push_back({30, true, 40, 0, ImageSpec::Track::Content::NearSilence});
    const BuiltImage img = BuildImage(dir_, layout);
    UseImages(img.cuePath);
    const char d = FirstImageLetter();
    for (int seed = 1; seed <= 24; ++seed) {
        Jitter("seed=" + std::to_string(seed) + ",share=50,fail=3");
        for (int t = 1; t <= 4; ++t) {
            const Bytes got = Rip(d, t, true);
            ASSERT_TRUE(got == img.Track(t - 1)) << "seed " << seed << " track " << t << ": "
                                                 << FirstDifference(got, img.Track(t - 1));
        }
    }
}

// A drive may answer GOOD having moved fewer bytes than asked; the rest of the buffer then
// holds an older read. Such reads are read again; a drive that is always short fails the rip.
TEST_F(ReaderTest, ShortTransfersAreReadAgainAndNeverDelivered) {
    const BuiltImage img = BuildImage(dir_, ThreeTrackSpec());
    UseImages(img.cuePath);
    const char d = FirstImageLetter();
    for (int every : {2, 3})
        for (bool jitter : {false, true}) {
            Jitter("seed=5,short=" + std::to_string(every) + (jitter ? ",share=40" : ",shift=0"));
            for (int t = 1; t <= 3; ++t) {
                const Bytes got = Rip(d, t, jitter);
                ASSERT_TRUE(got == img.Track(t - 1))
                    << "short=" << every << " jitter " << jitter << " track " << t << ": "
                    << FirstDifference(got, img.Track(t - 1));
            }
        }
    Jitter("short=1");
    for (bool jitter : {false, true}) {
        StreamInfo info = Track(d, 2);
        CollectSink sink;
        EXPECT_THROW(cd::CdRipTrack(sink, info, {0, jitter}), cd::CdReadFailure) << jitter;
        EXPECT_FALSE(sink.finished);
    }
}

// Steady tones and digital silence cannot place a read by its overlap; where most reads land
// right the rip is still exact, whether reads land off by whole sectors or by frames.
TEST_F(ReaderTest, PeriodicAndSilentAudioIsExactWhereMostReadsLandRight) {
    using C = ImageSpec::Track::Content;
    ImageSpec layout;
    layout.tracks = {
        {400, true, 0, 0, C::Tone}, {120, true, 0, 0, C::Silence}, {300, true, 0, 0, C::Tone}};
    const BuiltImage img = BuildImage(dir_, layout);
    UseImages(img.cuePath);
    const char d = FirstImageLetter();
    for (const char* j : {"seed=3,shift=588,step=588,share=40", "seed=2,shift=10,share=45",
                          "seed=5,shift=1176,share=30"}) {
        Jitter(j);
        for (int t = 1; t <= 3; ++t) {
            const Bytes got = Rip(d, t, true);
            ASSERT_TRUE(got == img.Track(t - 1))
                << j << " track " << t << ": " << FirstDifference(got, img.Track(t - 1));
        }
    }
}

// A drive that lands off most of the time gives no answer on a tone: the failure says the audio
// could not be verified, and what was established is kept.
TEST_F(ReaderTest, AudioThatCannotBeEstablishedIsReportedAsUnverified) {
    using C = ImageSpec::Track::Content;
    ImageSpec layout;
    layout.tracks = {{200, true, 0, 0, C::Tone}};
    const BuiltImage img = BuildImage(dir_, layout);
    UseImages(img.cuePath);
    Jitter("seed=2,shift=10,share=90");
    StreamInfo info = Track(FirstImageLetter(), 1);
    CollectSink sink;
    EXPECT_THROW(cd::CdRipTrack(sink, info, {0, true}), cd::CdUnverified);
    const auto damage = cd::LastTrackDamage();
    ASSERT_EQ(damage.size(), 1u);
    EXPECT_EQ(damage[0].kind, cd::CdDamage::Unverified);
    EXPECT_EQ(damage[0].firstFrame, sink.bytes().size() / 4);
    const Bytes whole = img.Track(0);
    EXPECT_TRUE(std::equal(sink.bytes().begin(), sink.bytes().end(), whole.begin()));
}

// An unreadable stretch keeps every good sector before it; with skipBad it becomes silence and
// the rest of the track follows, and the stretch is named.
TEST_F(ReaderTest, BadSectorsKeepTheGoodOnesAndMayBeSkipped) {
    const BuiltImage img = BuildImage(dir_, ThreeTrackSpec());
    UseImages(img.cuePath);
    const char d = FirstImageLetter();
    const std::uint32_t bad = img.starts[1] + 50;  // inside track 2
    const Bytes whole = img.Track(1);
    for (bool jitter : {false, true}) {
        Jitter(std::string(jitter ? "seed=4,share=30," : "shift=0,") +
               "bad=" + std::to_string(bad) + "-" + std::to_string(bad + 2));
        StreamInfo info = Track(d, 2);
        CollectSink failed;
        EXPECT_THROW(cd::CdRipTrack(failed, info, {0, jitter}), cd::CdReadFailure);
        ASSERT_EQ(failed.bytes().size(), 50u * 2352) << jitter;
        EXPECT_TRUE(std::equal(failed.bytes().begin(), failed.bytes().end(), whole.begin()));

        info = Track(d, 2);
        CollectSink skipped;
        cd::CdRipTrack(skipped, info, {0, jitter, true});
        Bytes expected = whole;
        std::fill(expected.begin() + 50 * 2352, expected.begin() + 53 * 2352, 0);
        EXPECT_TRUE(skipped.bytes() == expected)
            << jitter << " " << FirstDifference(skipped.bytes(), expected);
        const auto damage = cd::LastTrackDamage();
        ASSERT_EQ(damage.size(), 1u);
        EXPECT_EQ(damage[0].kind, cd::CdDamage::Padded);
        EXPECT_EQ(damage[0].track, 2);
        EXPECT_EQ(damage[0].firstFrame, 50u * 588);
        EXPECT_EQ(damage[0].frames, 3u * 588);
        EXPECT_EQ(cd::DescribeDamage(damage[0]), "音軌 2, 00:00.66, 0.04 秒");
    }
}

// A drive wrapper that keeps the image device alive after the rip, to look at its reads.
class KeptImage final : public cd::CdDevice {
public:
    explicit KeptImage(std::shared_ptr<cd::ImageDevice> d) : d_(std::move(d)) {}
    cd::ScsiOutcome Execute(std::span<const std::uint8_t> cdb, cd::ScsiDirection dir,
                            std::uint8_t* data, std::size_t length) override {
        return d_->Execute(cdb, dir, data, length);
    }
    bool ReadAudio(std::uint32_t lba, std::uint32_t count, std::uint8_t* out) override {
        return d_->ReadAudio(lba, count, out);
    }

private:
    std::shared_ptr<cd::ImageDevice> d_;
};

TEST_F(ReaderTest, ReadsLandingWholeSectorsEarlyOrLateAreJoinedToo) {
    const BuiltImage img = BuildImage(dir_, ThreeTrackSpec());
    cd::ImageDisc disc;
    ASSERT_TRUE(cd::LoadImageDisc(img.cuePath, disc));
    for (int seed = 1; seed <= 12; ++seed) {
        cd::JitterSettings j;
        ASSERT_TRUE(cd::ParseJitter("seed=" + std::to_string(seed) + ",shift=1176,step=588", j));
        std::vector<std::shared_ptr<cd::ImageDevice>> opened;
        cd::SetCdDriveSourceForTesting(
            {[&] {
                 return std::vector<cd::CdDriveSlot>{{0, img.cuePath, true}};
             },
             [&](const cd::CdDriveSlot&, std::string*) -> std::unique_ptr<cd::CdDevice> {
                 opened.push_back(std::shared_ptr<cd::ImageDevice>(cd::ImageDevice::Open(disc, j)));
                 return std::make_unique<KeptImage>(opened.back());
             }});
        for (int t : {1, 3}) {
            const Bytes got = Rip('D', t, true);
            ASSERT_TRUE(got == img.Track(t - 1)) << "seed " << seed << " track " << t << ": "
                                                 << FirstDifference(got, img.Track(t - 1));
        }
        bool early = false, late = false;
        for (const auto& dev : opened)
            for (std::int32_t s : dev->Shifts()) {
                EXPECT_EQ(s % 588, 0);
                early |= s < 0;
                late |= s > 0;
            }
        EXPECT_TRUE(early && late) << "seed " << seed;
    }
}

TEST_F(ReaderTest, ReadsLandingEarlyAndLateBySamplesOccur) {
    const BuiltImage img = BuildImage(dir_, ThreeTrackSpec());
    cd::ImageDisc disc;
    ASSERT_TRUE(cd::LoadImageDisc(img.cuePath, disc));
    cd::JitterSettings j;
    ASSERT_TRUE(cd::ParseJitter("seed=9,share=60,shift=700", j));
    auto dev = std::shared_ptr<cd::ImageDevice>(cd::ImageDevice::Open(disc, j));
    cd::SetCdDriveSourceForTesting(
        {[&] {
             return std::vector<cd::CdDriveSlot>{{0, img.cuePath, true}};
         },
         [&](const cd::CdDriveSlot&, std::string*) -> std::unique_ptr<cd::CdDevice> {
             return std::make_unique<KeptImage>(dev);
         }});
    const Bytes got = Rip('D', 1, true);
    EXPECT_TRUE(got == img.Track(0)) << FirstDifference(got, img.Track(0));
    int early = 0, late = 0, odd = 0;
    for (std::int32_t s : dev->Shifts()) {
        early += s < 0;
        late += s > 0;
        odd += s % 588 != 0;
    }
    EXPECT_GT(early, 0);
    EXPECT_GT(late, 0);
    EXPECT_GT(odd, 0);
}

// Track 1 starts after hidden audio, a data track leads another disc: READ CD takes absolute
// addresses, so both rip the right sectors.
TEST_F(ReaderTest, TracksAreReadAtTheirAbsoluteAddresses) {
    ImageSpec hidden = ThreeTrackSpec();
    hidden.hiddenSectors = 120;
    ImageSpec dataFirst;
    dataFirst.tracks = {{200, false, 0, 0}, {150, true, 0, 150}, {100, true, 30, 0}};
    const BuiltImage a = BuildImage(dir_, hidden, "hidden");
    const BuiltImage b = BuildImage(dir_, dataFirst, "mixed");
    ASSERT_EQ(a.starts[0], 120u);
    UseImages(a.cuePath + ":" + b.cuePath);
    const char d = FirstImageLetter();
    for (bool jitter : {false, true}) {
        EXPECT_TRUE(Rip(d, 1, jitter) == a.Track(0));
        EXPECT_TRUE(Rip(d, 2, jitter) == a.Track(1));
        EXPECT_TRUE(Rip(static_cast<char>(d + 1), 2, jitter) == b.Track(1));
        EXPECT_TRUE(Rip(static_cast<char>(d + 1), 3, jitter) == b.Track(2));
    }
}

TEST_F(ReaderTest, ShortTracksAndTheLastTrackOfTheDisc) {
    ImageSpec layout;
    // 21 sectors: a last chunk of one sector after a full one.
    layout.tracks = {
        {90, true, 0, 0}, {7, true, 0, 0}, {1, true, 0, 0}, {21, true, 0, 0}, {13, true, 0, 0}};
    const BuiltImage img = BuildImage(dir_, layout);
    UseImages(img.cuePath);
    const char d = FirstImageLetter();
    for (bool jitter : {false, true}) {
        for (int seed = 1; seed <= (jitter ? 10 : 1); ++seed) {
            if (jitter) Jitter("seed=" + std::to_string(seed) + ",share=40");
            for (int t = 1; t <= 5; ++t) {
                const Bytes got = Rip(d, t, jitter);
                ASSERT_TRUE(got == img.Track(t - 1))
                    << "jitter " << jitter << " seed " << seed << " track " << t << ": "
                    << FirstDifference(got, img.Track(t - 1));
            }
        }
    }
}

TEST_F(ReaderTest, StartMsBeginsTheRightNumberOfSectorsLater) {
    const BuiltImage img = BuildImage(dir_, ThreeTrackSpec());
    UseImages(img.cuePath);
    const char d = FirstImageLetter();
    const Bytes whole = img.Track(1);
    for (bool jitter : {false, true}) {
        const Bytes got = Rip(d, 2, jitter, 1000);
        ASSERT_EQ(got.size(), whole.size() - 75 * 2352);
        EXPECT_TRUE(std::equal(got.begin(), got.end(), whole.begin() + 75 * 2352));
    }
    // Past the end of the track: nothing to read, and no failure.
    EXPECT_TRUE(Rip(d, 3, false, 60000).empty());
}

// A sector that cannot be read near the end of the track is a failure, never a quietly short
// track, whatever the overlap and however few sectors were left.
TEST_F(ReaderTest, ReadFailuresNearTheEndAreReported) {
    const BuiltImage img = BuildImage(dir_, ThreeTrackSpec());
    UseImages(img.cuePath);
    const char d = FirstImageLetter();
    for (std::uint32_t back : {1u, 5u, 19u, 150u}) {
        const std::uint32_t bad = img.starts[2] - back;  // inside track 2
        Jitter("shift=0,bad=" + std::to_string(bad));
        for (bool jitter : {false, true}) {
            StreamInfo info = Track(d, 2);
            CollectSink sink;
            EXPECT_THROW(cd::CdRipTrack(sink, info, {0, jitter}), cd::CdReadFailure)
                << back << " " << jitter;
            EXPECT_FALSE(sink.finished);
            EXPECT_EQ(cd::ImageDevice::OpenCount(), 0);
        }
    }
}

TEST_F(ReaderTest, TheLastTrackIsReadWithoutTouchingTheLeadOut) {
    const BuiltImage img = BuildImage(dir_, ThreeTrackSpec());
    UseImages(img.cuePath);
    const char d = FirstImageLetter();
    // Any read reaching the lead-out fails with an illegal request; none may be sent.
    for (int seed = 1; seed <= 8; ++seed) {
        Jitter("seed=" + std::to_string(seed) + ",share=50,shift=1176");
        const Bytes got = Rip(d, 3, true);
        ASSERT_TRUE(got == img.Track(2)) << seed << ": " << FirstDifference(got, img.Track(2));
    }
}

TEST_F(ReaderTest, StoppingMidTrackClosesTheDrive) {
    const BuiltImage img = BuildImage(dir_, ThreeTrackSpec());
    UseImages(img.cuePath);
    const char d = FirstImageLetter();
    for (bool jitter : {false, true}) {
        StreamInfo info = Track(d, 1);
        CollectSink sink;
        sink.stopAfter = 3;
        EXPECT_THROW(cd::CdRipTrack(sink, info, {0, jitter}), std::runtime_error);
        EXPECT_EQ(sink.blocks, 3);
        EXPECT_FALSE(sink.finished);
        EXPECT_EQ(cd::ImageDevice::OpenCount(), 0);
        EXPECT_FALSE(cd::RawDriveIsOpen());
        EXPECT_EQ(cd::TransferBuffer(), nullptr);
    }
}

TEST_F(ReaderTest, ATrackNoDriveHoldsIsReportedByName) {
    const BuiltImage img = BuildImage(dir_, ThreeTrackSpec());
    UseImages(img.cuePath);
    const char d = FirstImageLetter();
    StreamInfo info = Track(d, 2);
    info.lengthSectors += 1;  // a .cda of another disc
    CollectSink sink;
    EXPECT_THROW(cd::CdRipTrack(sink, info, {0, false}), cd::CdTrackNotFound);
    const auto m = notes_.Messages();
    ASSERT_FALSE(m.empty());
    EXPECT_NE(m.back().text.find("Track not found"), std::string::npos);
    EXPECT_NE(m.back().text.find(img.cuePath), std::string::npos) << m.back().text;
    EXPECT_EQ(cd::ImageDevice::OpenCount(), 0);
}

// --- the overlap search on its own ---

std::vector<std::uint32_t> Noise(std::size_t n, std::uint32_t seed) {
    std::vector<std::uint32_t> v(n);
    std::uint32_t x = seed * 2654435761u + 1;
    for (auto& f : v) {
        x = x * 1664525u + 1013904223u;
        f = x;
    }
    return v;
}

TEST(OverlapTest, FindsReadsThatLandEarlierAndLater) {
    const auto buf = Noise(20000, 1);
    const std::span<const std::uint32_t> b(buf);
    for (std::int64_t shift : {-1176, -588, -3, -1, 0, 1, 2, 587, 1176}) {
        const std::size_t expected = 5000;
        const std::size_t actual =
            static_cast<std::size_t>(static_cast<std::int64_t>(expected) + shift);
        const auto m = cd::FindOverlap(b, b.subspan(actual, 1176), expected, 1176);
        EXPECT_EQ(m.kind, cd::OverlapMatch::Unique) << shift;
        EXPECT_EQ(m.offset, actual) << shift;
    }
    // Outside the reach it is not found, even though it is in the buffer.
    EXPECT_EQ(cd::FindOverlap(b, b.subspan(5000 + 1200, 1176), 5000, 1176).kind,
              cd::OverlapMatch::None);
}

TEST(OverlapTest, SilenceAndRepeatsCannotPlaceARead) {
    std::vector<std::uint32_t> silence(10000, 0);
    EXPECT_EQ(cd::FindOverlap(silence, std::span(silence).subspan(100, 588), 3000, 1176).kind,
              cd::OverlapMatch::Ambiguous);
    // A period shorter than the reach: two places match.
    std::vector<std::uint32_t> periodic(10000);
    for (std::size_t i = 0; i < periodic.size(); ++i)
        periodic[i] = static_cast<std::uint32_t>(i % 400) * 77;
    EXPECT_EQ(cd::FindOverlap(periodic, std::span(periodic).subspan(3000, 1176), 3000, 1176).kind,
              cd::OverlapMatch::Ambiguous);
    // Near-silence (dither) is distinctive enough.
    std::vector<std::uint32_t> dither(10000);
    std::uint32_t x = 7;
    for (auto& f : dither) {
        x = x * 1103515245u + 12345u;
        f = (x >> 16) % 3;
    }
    const auto m = cd::FindOverlap(dither, std::span(dither).subspan(3100, 1176), 3000, 1176);
    EXPECT_EQ(m.kind, cd::OverlapMatch::Unique);
    EXPECT_EQ(m.offset, 3100u);
}

TEST(OverlapTest, ShortBuffersAndEdges) {
    const auto buf = Noise(3000, 2);
    const std::span<const std::uint32_t> b(buf);
    // The reference at the very start and the very end of the buffer.
    EXPECT_EQ(cd::FindOverlap(b, b.subspan(0, 588), 500, 600).offset, 0u);
    EXPECT_EQ(cd::FindOverlap(b, b.subspan(3000 - 588, 588), 2000, 600).offset, 3000u - 588);
    // A reference longer than the buffer.
    EXPECT_EQ(cd::FindOverlap(b.subspan(0, 100), b.subspan(0, 588), 0, 600).kind,
              cd::OverlapMatch::None);
}

}  // namespace
}  // namespace tralux::test
