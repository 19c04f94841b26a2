#include "engine/outputs/wma_output.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <tuple>

#include "engine/job/engine_state.h"
#include "engine/job/errors.h"
#include "engine/job/job.h"
#include "engine/job/job_fixture.h"
#include "platform/notify/notifier.h"
#include "platform/wma/wma_file_writer.h"
#include "platform/wma/wma_output_kind.h"
#include "engine/outputs/output.h"
#include "support/wav_builder.h"
#include "support/require.h"

namespace tralux {
namespace {

// The writer driven the way a job drives it, one call at a time.
std::unique_ptr<Output> g_wma;
void WmaWriterStart(const std::string& path, int channels, std::uint32_t rate, int kbps) {
    platform::RegisterWmaOutput();
    const EngineState& e = Engine();
    OutputSettings s;
    s.path = path;
    s.channels = channels;
    s.rate = rate;
    s.kbps = kbps;
    s.tags.title = e.TagTitle;
    s.tags.artist = e.TagArtist;
    s.tags.copyright = e.TagCopyright;
    s.placeTags = ReadEngineOption("PlaceClipInfo") != 0;
    g_wma.reset();
    g_wma = FindOutputKind(kFormatWma)->open(s);
}
std::size_t WmaWriterFeed(const std::uint8_t* pcm, std::size_t bytes) {
    if (!g_wma) throw JobError(kErrCodecInit);
    g_wma->Write(pcm, bytes);
    return bytes;
}
void WmaWriterFinish() {
    if (auto out = std::move(g_wma)) out->Finish();
}
void WmaWriterClose() {
    g_wma.reset();
}

using Key = std::tuple<int, std::uint32_t, int>;
Key KeyOf(const WmaCombination& c) {
    return {c.kbps, c.rate, c.channels};
}

// Tries every listed combination on the real encoder: the accepted table must be exactly what
// it opens for, so the settings dialog never offers a combination that fails at the job.
TEST(WmaCombinations, AcceptedTableMatchesTheEncoder) {
    const auto listed = WmaListedCombinations();
    ASSERT_EQ(listed.size(), 32u);
    std::set<Key> opened, refused;
    for (const WmaCombination& c : listed) {
        std::string why;
        if (platform::WmaEncoderAccepts(c.kbps * 1000, c.rate, c.channels, &why)) {
            opened.insert(KeyOf(c));
        } else {
            refused.insert(KeyOf(c));
            EXPECT_FALSE(why.empty()) << c.kbps << " " << c.rate << " " << c.channels;
        }
    }
    std::set<Key> table;
    for (const WmaCombination& c : WmaAcceptedCombinations()) table.insert(KeyOf(c));
    EXPECT_EQ(table, opened);
    EXPECT_EQ(opened.size(), 15u);
    EXPECT_EQ(refused.size(), 17u);
    for (const Key& k : refused) EXPECT_LT(std::get<0>(k), 24);
    for (const Key& k : opened) EXPECT_GE(std::get<0>(k), 32);
}

TEST(WmaCombinations, NothingLeftAtTheLowRates) {
    for (const WmaCombination& c : WmaAcceptedCombinations()) {
        EXPECT_GE(c.rate, 22050u);
        EXPECT_TRUE(IsWmaCombinationAccepted(c.kbps, c.rate, c.channels));
        EXPECT_EQ(WmaCombinationProblem(c.kbps, c.rate, c.channels), "");
    }
    EXPECT_TRUE(IsWmaCombinationAccepted(64, 44100, 2));
    EXPECT_FALSE(
        IsWmaCombinationAccepted(64, 44100, 1));  // the encoder would take it; never offered
    EXPECT_FALSE(IsWmaCombinationAccepted(16, 22050, 1));
}

TEST(WmaCombinations, RefusalSaysWhy) {
    const std::string low = WmaCombinationProblem(16, 22050, 1);
    EXPECT_NE(low.find("16 kBps"), std::string::npos);
    EXPECT_NE(low.find("24 kBps"), std::string::npos);
    const std::string unlisted = WmaCombinationProblem(160, 32000, 1);
    EXPECT_NE(unlisted.find("160 kBps at 32000 Hz mono"), std::string::npos);
}

// Peers: ffprobe reads the file back, ffmpeg decodes it. Missing tools skip the checks on a
// developer machine and fail under CI.
bool PeersPresent() {
    if (test::HaveTool("ffprobe") && test::HaveTool("ffmpeg")) return true;
    if (::tralux::test::InCi()) ADD_FAILURE() << "ffprobe/ffmpeg missing under CI";
    return false;
}

std::string Capture(const std::string& command) {
    std::string out;
    if (FILE* p = popen(command.c_str(), "r")) {
        char buf[4096];
        std::size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
        pclose(p);
    }
    return out;
}

// "key=value" lines of ffprobe, tags as "TAG:title".
std::map<std::string, std::string> Probe(const std::string& path) {
    const std::string text = Capture(
        "ffprobe -v error -show_entries stream=codec_name,sample_rate,channels:"
        "format=duration:format_tags -of default=nw=1 '" +
        path + "' 2>/dev/null");
    std::map<std::string, std::string> fields;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(pos, end - pos);
        const auto eq = line.find('=');
        if (eq != std::string::npos) {
            std::string key = line.substr(0, eq);
            std::transform(key.begin(), key.end(), key.begin(),
                           [](unsigned char c) { return std::tolower(c); });
            fields[key] = line.substr(eq + 1);
        }
        pos = end + 1;
    }
    return fields;
}

// ffmpeg's decoding as mono 16-bit samples at the file's rate; empty when it fails.
std::vector<double> Decode(const std::string& path, const std::string& raw) {
    std::vector<double> v;
    if (std::system(("ffmpeg -v error -y -i '" + path + "' -ac 1 -f s16le -acodec pcm_s16le '" +
                     raw + "' 2>/dev/null")
                        .c_str()) != 0)
        return v;
    const test::Bytes b = test::ReadFile(raw);
    for (std::size_t i = 0; i + 1 < b.size(); i += 2)
        v.push_back(static_cast<std::int16_t>(static_cast<std::uint16_t>(b[i] | b[i + 1] << 8)));
    return v;
}

double Goertzel(const std::vector<double>& x, std::size_t from, std::size_t n, double freq,
                double rate) {
    const double w = 2 * M_PI * freq / rate, c = 2 * std::cos(w);
    double s1 = 0, s2 = 0;
    for (std::size_t i = from; i < from + n; ++i) {
        const double s0 = x[i] + c * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    return std::sqrt(std::max(0.0, s1 * s1 + s2 * s2 - c * s1 * s2)) / static_cast<double>(n);
}

std::vector<std::int16_t> Sine(double freq, std::uint32_t rate, int channels, std::size_t frames,
                               double amplitude) {
    std::vector<std::int16_t> v(frames * static_cast<std::size_t>(channels));
    for (std::size_t i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c)
            v[i * static_cast<std::size_t>(channels) + static_cast<std::size_t>(c)] =
                static_cast<std::int16_t>(std::lround(
                    amplitude * std::sin(2 * M_PI * freq * static_cast<double>(i) / rate)));
    return v;
}

class WmaOutputTest : public test::JobFixture {
protected:
    void SetUp() override {
        JobFixture::SetUp();
        EngineState& e = Engine();
        e.OutputFormat.store(kFormatWma);
        e.TagTitle = "夏夜的月光";
        e.TagArtist = "林小雨 & Band";
        e.TagCopyright = "© 1977 雨聲唱片";
    }
    void TearDown() override {
        JobFixture::TearDown();
        WmaWriterClose();
    }
    int JobCode(const std::function<void()>& f) {
        try {
            f();
        } catch (const JobError& e) {
            return e.code();
        }
        return -1;
    }
};

TEST_F(WmaOutputTest, FileReadsBackWithCodecDurationTagsAndTone) {
    if (!PeersPresent()) GTEST_SKIP() << "ffprobe/ffmpeg not installed";
    const std::string out = dir_ / "tone.wma";
    const std::size_t frames = 44100 * 2 + 777;  // not a whole number of encoder frames
    const auto pcm = test::Pcm16(Sine(1000, 44100, 2, frames, 16384));
    WmaWriterStart(out, 2, 44100, 128);
    // Block sizes unrelated to the encoder's frame size.
    const std::size_t blocks[] = {4, 17 * 4, 4096 * 4, 1000 * 4, 44100 * 4};
    std::size_t at = 0, k = 0;
    while (at < pcm.size()) {
        const std::size_t n = std::min(blocks[k++ % 5], pcm.size() - at);
        EXPECT_EQ(WmaWriterFeed(pcm.data() + at, n), n);
        at += n;
    }
    WmaWriterFinish();
    WmaWriterClose();  // already released: nothing happens
    EXPECT_TRUE(notes_.Messages().empty());

    auto p = Probe(out);
    EXPECT_EQ(p["codec_name"], "wmav2");
    EXPECT_EQ(p["sample_rate"], "44100");
    EXPECT_EQ(p["channels"], "2");
    const double seconds = static_cast<double>(frames) / 44100;
    ASSERT_FALSE(p["duration"].empty());
    EXPECT_NEAR(std::stod(p["duration"]), seconds, 2048.0 / 44100 + 0.001);  // within one frame
    EXPECT_EQ(p["tag:title"], "夏夜的月光");
    EXPECT_EQ(p["tag:artist"], "林小雨 & Band");
    EXPECT_EQ(p["tag:copyright"], "© 1977 雨聲唱片");

    const auto x = Decode(out, dir_ / "tone.raw");
    ASSERT_GT(x.size(), 44100u);
    // Well inside the file: the level is kept and the energy sits at 1 kHz.
    const std::size_t from = 22050, n = 44100;
    const double at1k = Goertzel(x, from, n, 1000, 44100);
    EXPECT_NEAR(20 * std::log10(at1k * 2 / 16384), 0.0, 1.0);
    for (double other : {500.0, 1500.0, 2000.0, 3000.0, 5000.0})
        EXPECT_LT(Goertzel(x, from, n, other, 44100), at1k / 300) << other;  // 50 dB below
}

TEST_F(WmaOutputTest, NoTagsWhenPlaceClipInfoIsOff) {
    if (!PeersPresent()) GTEST_SKIP() << "ffprobe/ffmpeg not installed";
    options_["PlaceClipInfo"] = 0;
    const std::string out = dir_ / "plain.wma";
    const auto pcm = test::Pcm16(Sine(440, 32000, 1, 32000, 8000));
    WmaWriterStart(out, 1, 32000, 32);
    WmaWriterFeed(pcm.data(), pcm.size());
    WmaWriterFinish();
    auto p = Probe(out);
    EXPECT_EQ(p["codec_name"], "wmav2");
    EXPECT_EQ(p.count("tag:title"), 0u);
    EXPECT_EQ(p.count("tag:artist"), 0u);
}

TEST_F(WmaOutputTest, RefusedCombinationIs108WithAClearMessageAndNoFile) {
    const std::string out = dir_ / "low.wma";
    EXPECT_EQ(JobCode([&] { WmaWriterStart(out, 1, 22050, 16); }), kErrCodecInit);
    ASSERT_EQ(notes_.Messages().size(), 1u);
    EXPECT_NE(notes_.Messages()[0].text.find("16 kBps is too low"), std::string::npos)
        << notes_.Messages()[0].text;
    EXPECT_EQ(notes_.Messages()[0].icon, MessageIcon::Error);
    EXPECT_FALSE(std::filesystem::exists(out));
    // Nothing was kept: feeding fails, closing is harmless.
    EXPECT_EQ(JobCode([&] { WmaWriterFeed(nullptr, 0); }), kErrCodecInit);
    WmaWriterClose();
    WmaWriterFinish();
}

TEST_F(WmaOutputTest, UncreatableFileIs108WithTheReason) {
    EXPECT_EQ(JobCode([&] { WmaWriterStart(dir_ / "missing/x.wma", 2, 44100, 64); }),
              kErrCodecInit);
    ASSERT_EQ(notes_.Messages().size(), 1u);
    EXPECT_NE(notes_.Messages()[0].text.find("missing/x.wma"), std::string::npos);
}

TEST_F(WmaOutputTest, HalfFramesAreRefusedNotMisaligned) {
    WmaWriterStart(dir_ / "odd.wma", 2, 44100, 64);
    const std::uint8_t three[3] = {1, 2, 3};
    EXPECT_EQ(JobCode([&] { WmaWriterFeed(three, 3); }), kErrCodecInit);
    EXPECT_EQ(notes_.Messages().size(), 1u);
    WmaWriterClose();  // the failure was already shown once
    EXPECT_EQ(notes_.Messages().size(), 1u);
}

TEST_F(WmaOutputTest, ConversionJobWritesAPlayableTaggedFile) {
    if (!PeersPresent()) GTEST_SKIP() << "ffprobe/ffmpeg not installed";
    options_["MSABitRate"] = 64;
    test::WriteFile(dir_ / "in.wav",
                    test::SimpleWav(Sine(1000, 44100, 2, 44100 * 3, 12000), 2, 44100));
    ASSERT_TRUE(StartConversion(dir_ / "in.wav", dir_ / "in.wma", 0, kModeConvert));
    WaitForJob();
    EXPECT_EQ(Engine().LastError.load(), 0);
    auto p = Probe(dir_ / "in.wma");
    EXPECT_EQ(p["codec_name"], "wmav2");
    EXPECT_NEAR(std::stod(p["duration"].empty() ? "0" : p["duration"]), 3.0,
                2048.0 / 44100 + 0.001);
    EXPECT_EQ(p["tag:title"], "夏夜的月光");
}

TEST_F(WmaOutputTest, StoppedJobIsFinishedAndPlayable) {
    if (!PeersPresent()) GTEST_SKIP() << "ffprobe/ffmpeg not installed";
    options_["MSABitRate"] = 64;
    test::WriteFile(dir_ / "long.wav",
                    test::SimpleWav(Sine(1000, 44100, 2, 44100 * 120, 12000), 2, 44100));
    Engine().PositionMs.store(0);  // the previous job's position must not count
    ASSERT_TRUE(StartConversion(dir_ / "long.wav", dir_ / "long.wma", 0, kModeConvert));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (Engine().PositionMs.load() < 2000 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    Engine().StopRequested.store(true);
    WaitForJob();
    EXPECT_EQ(Engine().LastError.load(), 0);
    EXPECT_FALSE(Engine().JobRunning.load());
    auto p = Probe(dir_ / "long.wma");
    EXPECT_EQ(p["codec_name"], "wmav2");
    ASSERT_FALSE(p["duration"].empty());
    const double seconds = std::stod(p["duration"]);
    EXPECT_GT(seconds, 1.0);
    EXPECT_LT(seconds, 119.0);
    const auto x = Decode(dir_ / "long.wma", dir_ / "long.raw");
    EXPECT_NEAR(static_cast<double>(x.size()) / 44100, seconds, 0.1);
}

TEST_F(WmaOutputTest, JobWithARefusedBitRateEndsWith108) {
    options_["MSABitRate"] = 16;
    Engine().OutputRate.store(22050);
    Engine().OutputChannels.store(1);
    test::WriteFile(dir_ / "in.wav", test::SimpleWav(Sine(1000, 22050, 1, 22050, 12000), 1, 22050));
    ASSERT_TRUE(StartConversion(dir_ / "in.wav", dir_ / "in.wma", 0, kModeConvert));
    WaitForJob();
    EXPECT_EQ(Engine().LastError.exchange(0), kErrCodecInit);
    ASSERT_FALSE(notes_.Messages().empty());
    EXPECT_NE(notes_.Messages()[0].text.find("too low"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(dir_ / "in.wma"));
}

}  // namespace
}  // namespace tralux
