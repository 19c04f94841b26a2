// CUE sheets, the image drive's answers, the jitter syntax, drive letters and the .cda entries.
#include <gtest/gtest.h>

#include "cd/cda_files.h"
#include "cd/cue.h"
#include "cd/image_drive.h"
#include "cd_fixture.h"

namespace tralux::test {
namespace {

TEST(CueTest, ReadsTheUsualSheet) {
    cd::CueSheet s;
    std::string why;
    ASSERT_TRUE(
        cd::ParseCue("\xEF\xBB\xBFREM GENRE Rock\r\nPERFORMER \"The Band\"\r\nTITLE \"Album\"\r\n"
                     "FILE \"my disc.bin\" BINARY\r\n  TRACK 01 AUDIO\r\n    TITLE \"One\"\r\n"
                     "    INDEX 01 00:00:00\r\n  TRACK 02 AUDIO\r\n    PERFORMER Someone\r\n"
                     "    INDEX 00 03:10:20\r\n    INDEX 01 03:12:20\r\n  track 03 mode1/2352\r\n"
                     "    PREGAP 00:02:00\r\n    INDEX 01 05:00:00\r\n",
                     s, &why))
        << why;
    ASSERT_EQ(s.files.size(), 1u);
    EXPECT_EQ(s.files[0].name, "my disc.bin");
    EXPECT_EQ(s.title, "Album");
    EXPECT_EQ(s.performer, "The Band");
    ASSERT_EQ(s.tracks.size(), 3u);
    EXPECT_EQ(s.tracks[0].title, "One");
    EXPECT_EQ(s.tracks[1].performer, "Someone");
    EXPECT_EQ(s.tracks[1].Index(0)->frame, (3u * 60 + 10) * 75 + 20);
    EXPECT_FALSE(s.tracks[2].audio);
    EXPECT_EQ(s.tracks[2].pregap, 150u);

    cd::ImageLayout layout;
    ASSERT_TRUE(cd::BuildImageLayout(s, {30000}, layout, &why)) << why;
    const DiscToc& toc = layout.toc;
    ASSERT_EQ(toc.tracks.size(), 3u);
    EXPECT_EQ(toc.tracks[1].startLba, (3u * 60 + 12) * 75 + 20);
    EXPECT_EQ(toc.tracks[2].startLba, 5u * 60 * 75 + 150);  // the PREGAP is silence before INDEX 01
    EXPECT_EQ(toc.leadOutLba, 30000u + 150);
}

TEST(CueTest, RefusesWhatNoDriveCouldPlay) {
    cd::CueSheet s;
    std::string why;
    const char* bad[] = {
        "",
        "TRACK 01 AUDIO\nINDEX 01 00:00:00\n",                          // no FILE
        "FILE a.wav WAVE\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n",         // not raw sectors
        "FILE a.bin BINARY\nTRACK 01 MODE1/2048\nINDEX 01 00:00:00\n",  // cooked sectors
        "FILE a.bin BINARY\nTRACK 01 AUDIO\n",                          // no INDEX 01
        "FILE a.bin BINARY\nTRACK 01 AUDIO\nINDEX 01 00:00:00\nTRACK 03 AUDIO\nINDEX 01 01:00:00\n",
        "FILE a.bin BINARY\nTRACK 01 AUDIO\nINDEX 01 00:10:00\nTRACK 02 AUDIO\nINDEX 01 00:05:00\n",
        "FILE a.bin BINARY\nTRACK 01 AUDIO\nINDEX 01 00:60:00\n",  // 60 seconds
        "FILE a.bin BINARY\nTRACK 01 AUDIO\nINDEX 01 00:00:75\n",  // 75 frames
        "FILE a.bin BINARY\nTRACK 00 AUDIO\nINDEX 01 00:00:00\n",
        "FILE a.bin BINARY\nTRACK 100 AUDIO\nINDEX 01 00:00:00\n",
        "FILE a.bin BINARY\nINDEX 01 00:00:00\n",
    };
    for (const char* text : bad) EXPECT_FALSE(cd::ParseCue(text, s, &why)) << text;
    // Lay-out faults: an index beyond its file, an empty track.
    ASSERT_TRUE(cd::ParseCue(
        "FILE a.bin BINARY\nTRACK 01 AUDIO\nINDEX 01 00:00:00\nTRACK 02 AUDIO\nINDEX 01 00:10:00\n",
        s));
    cd::ImageLayout layout;
    EXPECT_FALSE(cd::BuildImageLayout(s, {100}, layout));
    EXPECT_TRUE(cd::BuildImageLayout(s, {751}, layout));
    EXPECT_FALSE(cd::BuildImageLayout(s, {750}, layout));  // track 2 would be empty
}

TEST(CueTest, SeveralFilesAndGapsOutsideThem) {
    cd::CueSheet s;
    ASSERT_TRUE(cd::ParseCue(
        "FILE \"a.bin\" BINARY\nTRACK 01 AUDIO\nINDEX 01 00:00:00\nPOSTGAP 00:01:00\n"
        "FILE \"b.bin\" MOTOROLA\nTRACK 02 AUDIO\nPREGAP 00:00:30\nINDEX 01 00:00:00\n",
        s));
    EXPECT_TRUE(s.files[1].bigEndian);
    cd::ImageLayout layout;
    ASSERT_TRUE(cd::BuildImageLayout(s, {1000, 500}, layout));
    EXPECT_EQ(layout.toc.tracks[1].startLba, 1000u + 75 + 30);
    EXPECT_EQ(layout.toc.leadOutLba, 1605u);
    ASSERT_EQ(layout.segments.size(), 4u);
    EXPECT_EQ(layout.segments[1].file, -1);
    EXPECT_EQ(layout.segments[1].sectors, 75u);  // track 1's postgap, then track 2's pregap
    EXPECT_EQ(layout.segments[2].file, -1);
    EXPECT_EQ(layout.segments[2].sectors, 30u);
    EXPECT_EQ(layout.segments[3].fileSector, 0u);
}

TEST(JitterSyntaxTest, KeysDefaultsAndMistakes) {
    cd::JitterSettings j;
    ASSERT_TRUE(cd::ParseJitter("", j));
    EXPECT_FALSE(j.on);
    ASSERT_TRUE(cd::ParseJitter("off", j));
    EXPECT_FALSE(j.on);
    ASSERT_TRUE(cd::ParseJitter("1", j));
    EXPECT_TRUE(j.on);
    EXPECT_EQ(j.maxShiftFrames, 1176u);
    EXPECT_EQ(j.seed, 1u);
    ASSERT_TRUE(cd::ParseJitter(
        "seed=42,shift=2940,step=588,share=12.5,fail=0.5,bad=10-20+99,attention,short=3,speed=8",
        j));
    EXPECT_EQ(j.seed, 42u);
    EXPECT_EQ(j.maxShiftFrames, 2940u);
    EXPECT_EQ(j.stepFrames, 588u);
    EXPECT_DOUBLE_EQ(j.shiftedPercent, 12.5);
    EXPECT_DOUBLE_EQ(j.failPercent, 0.5);
    ASSERT_EQ(j.badSectors.size(), 2u);
    EXPECT_EQ(j.badSectors[0], (std::pair<std::uint32_t, std::uint32_t>{10, 20}));
    EXPECT_EQ(j.badSectors[1], (std::pair<std::uint32_t, std::uint32_t>{99, 99}));
    EXPECT_TRUE(j.unitAttention);
    EXPECT_EQ(j.shortEvery, 3u);
    EXPECT_EQ(j.speed, 8u);
    for (const char* bad : {"shift=2941", "step=0", "fail=101", "share=-1", "bad=20-10", "seed=x",
                            "wobble=3", "short=0", "short=", "speed=0"})
        EXPECT_FALSE(cd::ParseJitter(bad, j)) << bad;
}

class ImageDriveTest : public CdTest {};

TEST_F(ImageDriveTest, AnswersLikeADrive) {
    ImageSpec layout = ThreeTrackSpec();
    layout.bigEndian = true;
    const BuiltImage img = BuildImage(dir_, layout);
    cd::ImageDisc disc;
    std::string why;
    ASSERT_TRUE(cd::LoadImageDisc(img.cuePath, disc, &why)) << why;
    auto dev = cd::ImageDevice::Open(disc, {});
    ASSERT_TRUE(dev);
    EXPECT_EQ(cd::ImageDevice::OpenCount(), 1);

    std::uint8_t answer[804] = {};
    const std::uint8_t inquiry[6] = {0x12, 0, 0, 0, 36, 0};
    EXPECT_TRUE(dev->Execute(inquiry, cd::ScsiDirection::In, answer, 36).Good());
    EXPECT_EQ(answer[0], 5);

    const std::uint8_t msfToc[10] = {0x43, 0x02, 0, 0, 0, 0, 0, 0x03, 0x24, 0};
    ASSERT_TRUE(dev->Execute(msfToc, cd::ScsiDirection::In, answer, sizeof answer).Good());
    EXPECT_EQ(cd::Be16(answer), 2 + 4 * 8);
    EXPECT_EQ(answer[4 + 8 + 2], 2);  // track 2, at its absolute MSF with the lead-in
    const std::uint32_t f = img.starts[1] + 150;
    EXPECT_EQ(answer[4 + 8 + 5], f / 4500);
    EXPECT_EQ(answer[4 + 8 + 6], f / 75 % 60);
    EXPECT_EQ(answer[4 + 8 + 7], f % 75);

    // A short allocation length cuts the answer; the header still tells the whole length.
    std::uint8_t small[12] = {};
    const std::uint8_t shortToc[10] = {0x43, 0, 0, 0, 0, 0, 0, 0, 12, 0};
    const cd::ScsiOutcome o = dev->Execute(shortToc, cd::ScsiDirection::In, small, sizeof small);
    EXPECT_TRUE(o.Good());
    DiscToc toc;
    EXPECT_FALSE(cd::ParseTocResponse(small, sizeof small, toc));

    std::vector<std::uint8_t> sectors(3 * 2352);
    const std::uint32_t lba = img.starts[1];
    std::uint8_t readCd[12] = {
        0xBE, 0,    0, 0, static_cast<std::uint8_t>(lba >> 8), static_cast<std::uint8_t>(lba), 0, 0,
        3,    0xF0, 0, 0};
    ASSERT_TRUE(dev->Execute(readCd, cd::ScsiDirection::In, sectors.data(), sectors.size()).Good());
    EXPECT_TRUE(std::equal(sectors.begin(), sectors.end(),
                           img.disc.begin() + lba * 2352ll));  // MOTOROLA swapped

    // Reads reaching into the lead-out are refused.
    const std::uint32_t last = img.LeadOut() - 2;
    std::uint8_t pastEnd[12] = {0xBE,
                                0,
                                0,
                                0,
                                static_cast<std::uint8_t>(last >> 8),
                                static_cast<std::uint8_t>(last),
                                0,
                                0,
                                3,
                                0xF0,
                                0,
                                0};
    const cd::ScsiOutcome refused =
        dev->Execute(pastEnd, cd::ScsiDirection::In, sectors.data(), sectors.size());
    EXPECT_EQ(refused.status, cd::kStatusCheckCondition);
    EXPECT_EQ(refused.senseKey, cd::kSenseIllegalRequest);
    EXPECT_EQ(refused.asc, 0x21);
    EXPECT_FALSE(dev->ReadAudio(last, 3, sectors.data()));
    EXPECT_TRUE(dev->ReadAudio(last, 2, sectors.data()));

    const std::uint8_t unknown[6] = {0x1B, 0, 0, 0, 0, 0};
    EXPECT_EQ(dev->Execute(unknown, cd::ScsiDirection::None, nullptr, 0).senseKey,
              cd::kSenseIllegalRequest);
    dev.reset();
    EXPECT_EQ(cd::ImageDevice::OpenCount(), 0);
}

TEST_F(ImageDriveTest, DrivesAreLetteredAndListTheirTracks) {
    ImageSpec dataFirst;
    dataFirst.tracks = {{100, false, 0, 0}, {80, true, 0, 150}, {40, true, 20, 0}};
    const BuiltImage a = BuildImage(dir_, ThreeTrackSpec(), "a");
    const BuiltImage b = BuildImage(dir_, dataFirst, "b");
    UseImages(a.cuePath + ":" + dir_ / "missing.cue" + ":" + b.cuePath);
    const char d = FirstImageLetter();
    ASSERT_NE(d, 0);
    const auto slot = cd::FindCdDrive(static_cast<char>(d + 2));
    ASSERT_TRUE(slot);
    EXPECT_EQ(slot->source, b.cuePath);
    EXPECT_EQ(cd::DriveLabel(*slot),
              std::string(1, static_cast<char>(d + 2)) + ": (" + b.cuePath + ")");

    const std::string root = std::string(1, d) + ":/";
    EXPECT_EQ(cd::ListCdaFiles(root),
              (std::vector<std::string>{root + "Track01.cda", root + "Track02.cda",
                                        root + "Track03.cda"}));
    EXPECT_EQ(cd::ListCdaFiles(std::string(1, static_cast<char>(d + 32)) + ":\\").size(), 3u);
    EXPECT_TRUE(cd::ListCdaFiles(std::string(1, static_cast<char>(d + 1)) + ":/")
                    .empty());  // unreadable sheet
    std::string reason;
    DiscToc toc;
    EXPECT_FALSE(
        cd::ReadDiscTocWithReason(std::string(1, static_cast<char>(d + 1)) + ":", toc, &reason));
    EXPECT_NE(reason.find("missing.cue"), std::string::npos);
    // Data tracks have no .cda entry.
    const std::string third = std::string(1, static_cast<char>(d + 2)) + ":/";
    EXPECT_EQ(cd::ListCdaFiles(third),
              (std::vector<std::string>{third + "Track02.cda", third + "Track03.cda"}));
    EXPECT_TRUE(cd::ListCdaFiles("Z:/").empty());

    // The synthesized file, byte for byte.
    std::string cda;
    ASSERT_TRUE(cd::SynthesizeCdaFile(third + "track03.CDA", cda));
    ASSERT_EQ(cda.size(), 44u);
    const Bytes bytes(cda.begin(), cda.end());
    EXPECT_EQ(cda.substr(0, 16), std::string("RIFF\x24\0\0\0CDDAfmt ", 16));
    EXPECT_EQ(Get32(bytes, 16), 24u);
    EXPECT_EQ(bytes[22], 3);
    EXPECT_EQ(Get32(bytes, 28), b.starts[2]);
    EXPECT_EQ(Get32(bytes, 32), b.LeadOut() - b.starts[2]);
    const std::uint32_t f = b.starts[2] + 150;
    EXPECT_EQ(Get32(bytes, 36), (f % 75) | (f / 75 % 60) << 8 | (f / 4500) << 16);
    EXPECT_FALSE(cd::SynthesizeCdaFile(third + "Track01.cda", cda));  // the data track
    EXPECT_FALSE(cd::SynthesizeCdaFile(third + "Track04.cda", cda));
}

TEST_F(ImageDriveTest, RootsTellWhatTheyHold) {
    ImageSpec dataOnly;
    dataOnly.tracks = {{100, false, 0, 0}};
    const BuiltImage a = BuildImage(dir_, ThreeTrackSpec(), "a");
    const BuiltImage b = BuildImage(dir_, dataOnly, "b");
    WriteFile(dir_ / "empty.cue", Bytes{'R', 'E', 'M'});
    UseImages(a.cuePath + ":" + b.cuePath + ":" + dir_ / "empty.cue");
    const char d = FirstImageLetter();
    std::string why;
    EXPECT_EQ(cd::InspectCdRoot(std::string(1, d) + ":/"), cd::CdRootState::Audio);
    EXPECT_EQ(cd::InspectCdRoot(std::string(1, static_cast<char>(d + 1)) + ":\\", &why),
              cd::CdRootState::NotAudio);
    EXPECT_NE(why.find(b.cuePath), std::string::npos) << why;
    EXPECT_EQ(cd::InspectCdRoot(std::string(1, static_cast<char>(d + 2)) + ":", &why),
              cd::CdRootState::Unusable);
    EXPECT_NE(why.find("no TRACK"), std::string::npos) << why;
    EXPECT_EQ(cd::InspectCdRoot("Z:/"), cd::CdRootState::NoSuchDrive);
    EXPECT_EQ(cd::InspectCdRoot("/media/cdrom"), cd::CdRootState::NoSuchDrive);
}

TEST_F(ImageDriveTest, TheProbeReadsATracksEntry) {
    const BuiltImage img = BuildImage(dir_, ThreeTrackSpec());
    UseImages(img.cuePath);
    const char d = FirstImageLetter();
    for (const char* form : {"%c:/Track02.cda", "%c:\\TRACK02.CDA"}) {
        char path[32];
        std::snprintf(path, sizeof path, form, d);
        StreamInfo info;
        ASSERT_TRUE(ProbeInput(path, info)) << path;
        EXPECT_EQ(info.trackNumber, 2);
        EXPECT_EQ(info.cdaStartSector, img.starts[1]);
        EXPECT_EQ(info.lengthSectors, img.starts[2] - img.starts[1]);
        EXPECT_EQ(info.driveLetter, d);
        EXPECT_EQ(info.SampleRate, 44100u);
        EXPECT_EQ(info.Title, "音樂 CD, 音軌#2");
    }
    StreamInfo info;
    char missing[32];
    std::snprintf(missing, sizeof missing, "%c:/Track07.cda", d);
    EXPECT_FALSE(ProbeInput(missing, info));
}

TEST(DriveRootTest, Forms) {
    char letter = 0;
    std::string_view rest;
    EXPECT_TRUE(cd::ParseDriveRoot("D:", letter, &rest));
    EXPECT_EQ(letter, 'D');
    EXPECT_TRUE(cd::ParseDriveRoot("e:\\", letter, &rest));
    EXPECT_EQ(letter, 'E');
    EXPECT_TRUE(cd::ParseDriveRoot("D:/Track01.cda", letter, &rest));
    EXPECT_EQ(rest, "Track01.cda");
    EXPECT_FALSE(cd::ParseDriveRoot("/D:/", letter));
    EXPECT_FALSE(cd::ParseDriveRoot("DD:/", letter));
    EXPECT_FALSE(cd::ParseDriveRoot("D:x", letter));
    int track = 0;
    EXPECT_TRUE(cd::ParseCdaPath("D:/Track7.cda", letter, track));
    EXPECT_EQ(track, 7);
    EXPECT_FALSE(cd::ParseCdaPath("D:/Track00.cda", letter, track));
    EXPECT_FALSE(cd::ParseCdaPath("D:/Track100.cda", letter, track));
    EXPECT_FALSE(cd::ParseCdaPath("D:/Song01.cda", letter, track));
}

TEST(TocResponseTest, TheWalkStaysInsideTheAnswer) {
    // Header says 3 tracks; the data length covers only two descriptors and no lead-out.
    std::uint8_t r[804] = {};
    cd::PutBe16(r, 2 + 2 * 8);
    r[2] = 1;
    r[3] = 3;
    for (int i = 0; i < 4; ++i) {
        r[4 + 8 * i + 2] = static_cast<std::uint8_t>(i < 3 ? i + 1 : 0xAA);
        cd::PutBe32(r + 4 + 8 * i + 4, static_cast<std::uint32_t>(1000 * i));
    }
    DiscToc toc;
    EXPECT_FALSE(cd::ParseTocResponse(r, sizeof r, toc));
    cd::PutBe16(r, 2 + 4 * 8);
    ASSERT_TRUE(cd::ParseTocResponse(r, sizeof r, toc));
    EXPECT_EQ(toc.tracks.size(), 3u);
    EXPECT_EQ(toc.leadOutLba, 3000u);
    EXPECT_FALSE(cd::ParseTocResponse(r, 4 + 3 * 8, toc));  // cut before the lead-out
    r[3] = 100;
    EXPECT_FALSE(cd::ParseTocResponse(r, sizeof r, toc));
    r[3] = 3;
    r[2] = 0;
    EXPECT_FALSE(cd::ParseTocResponse(r, sizeof r, toc));
}

}  // namespace
}  // namespace tralux::test
