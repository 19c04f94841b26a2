// A `.cda` entry of an image drive through the conversion job: the WAV holds the track's bytes,
// read failures reach LastError as 123, a stop keeps what was read and closes the drive.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "cd/image_drive.h"
#include "cd_fixture.h"
#include "engine/job/errors.h"
#include "engine/job/job.h"

namespace tralux::test {
namespace {

class EngineCdTest : public CdTest {
protected:
    void SetUp() override {
        CdTest::SetUp();
        img_ = BuildImage(dir_, ThreeTrackSpec());
        UseImages(img_.cuePath);
        d_ = FirstImageLetter();
        SetOptionReader([this](std::string_view name) {
            if (name == "Jitter") return jitter_;
            if (name == "PlaceClipInfo") return 0;
            return -1;
        });
        EngineState& e = Engine();
        e.OutputFormat.store(kFormatWav);
        e.OutputRate.store(44100);
        e.OutputChannels.store(2);
        e.EqualizerOn.store(false);
        e.StartMs.store(0);
        e.LastError.store(0);
    }
    void TearDown() override {
        SetOptionReader(nullptr);
        CdTest::TearDown();
    }
    std::string Path(int track) {
        char p[32];
        std::snprintf(p, sizeof p, "%c:/Track%02d.cda", d_, track);
        return p;
    }
    int Convert(int track, const std::string& out) {
        Engine().ReplaceOutput.store(true);  // rounds write the same names
        if (!StartConversion(Path(track), out, 0, kModeConvert)) return -1;
        WaitForJob();
        return Engine().LastError.exchange(0);
    }
    Bytes Payload(const std::string& wav) {
        const Bytes b = ReadFile(wav);
        if (b.size() < 44) return {};
        return Bytes(b.begin() + 44, b.begin() + 44 + Get32(b, 40));
    }
    BuiltImage img_;
    char d_ = 0;
    int jitter_ = 0;
};

TEST_F(EngineCdTest, ATrackEntryConvertsToItsBytes) {
    for (int jitter : {0, 1}) {
        jitter_ = jitter;
        Jitter(jitter ? "seed=5,share=40,fail=2" : "");
        const std::string out = dir_ / "out.wav";
        ASSERT_EQ(Convert(2, out), 0);
        const Bytes pcm = Payload(out);
        EXPECT_TRUE(pcm == img_.Track(1)) << FirstDifference(pcm, img_.Track(1));
    }
    EXPECT_EQ(cd::ImageDevice::OpenCount(), 0);
}

TEST_F(EngineCdTest, ReadFailuresAreReportedNeverAShortSuccess) {
    for (int jitter : {0, 1}) {
        jitter_ = jitter;
        Jitter("shift=0,bad=" + std::to_string(img_.starts[2] - 3));
        const std::string out = dir_ / "short.wav";
        EXPECT_EQ(Convert(2, out), kErrSectorRead);
        EXPECT_EQ(ErrorCodeText(kErrSectorRead), "Failed to read sector");
        // What was read is kept in a well-formed file: most of the track, up to the bad chunk.
        const Bytes file = ReadFile(out);
        ASSERT_GE(file.size(), 44u);
        EXPECT_EQ(Get32(file, 4), file.size() - 8);
        const Bytes pcm = Payload(out);
        EXPECT_GE(pcm.size(), 200u * 2352);
        EXPECT_LT(pcm.size(), img_.Track(1).size());
        EXPECT_TRUE(std::equal(pcm.begin(), pcm.end(), img_.Track(1).begin()));
    }
}

TEST_F(EngineCdTest, AStoppedJobKeepsWhatWasReadAndClosesTheDrive) {
    // A 2× drive: the 4 s track takes two seconds, so the stop lands mid-track.
    Jitter("shift=0,speed=2");
    const std::string out = dir_ / "stop.wav";
    Engine().StopRequested.store(false);
    ASSERT_TRUE(StartConversion(Path(1), out, 0, kModeConvert));
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    Engine().StopRequested.store(true);
    WaitForJob();
    Engine().StopRequested.store(false);
    EXPECT_EQ(Engine().LastError.exchange(0), 0);
    EXPECT_EQ(cd::ImageDevice::OpenCount(), 0);
    EXPECT_FALSE(cd::RawDriveIsOpen());
    const Bytes file = ReadFile(out);
    ASSERT_GE(file.size(), 44u);
    EXPECT_EQ(Get32(file, 4), file.size() - 8);
    const Bytes pcm = Payload(out);
    EXPECT_GT(pcm.size(), 0u);
    EXPECT_LT(pcm.size(), img_.Track(0).size() * 3 / 4);
    EXPECT_EQ(pcm.size() % 4, 0u);
    EXPECT_TRUE(std::equal(pcm.begin(), pcm.end(), img_.Track(0).begin()));
}

TEST_F(EngineCdTest, StartMsSkipsASecond) {
    Engine().StartMs.store(1000);
    const std::string out = dir_ / "late.wav";
    ASSERT_EQ(Convert(3, out), 0);
    const Bytes pcm = Payload(out);
    const Bytes whole = img_.Track(2);
    ASSERT_EQ(pcm.size(), whole.size() - 75 * 2352);
    EXPECT_TRUE(std::equal(pcm.begin(), pcm.end(), whole.begin() + 75 * 2352));
}

TEST_F(EngineCdTest, AMissingDiscFailsToOpen) {
    unsetenv("TRALUX_CD_IMAGES");
    EXPECT_FALSE(StartConversion(Path(1), dir_ / "none.wav", 0, kModeConvert));
    EXPECT_EQ(Engine().LastError.exchange(0), kErrOpen);
}

}  // namespace
}  // namespace tralux::test
