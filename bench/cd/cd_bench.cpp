// CD reading speed on image drives. Prints, for a disc of music and one of near-silence:
//   - the jitter-corrected reader (reads landing early and late, overlap matching) in x CD speed
//     (176,400 bytes/s of audio delivered per second), target >= 100;
//   - the overlap search alone on a 20-sector chunk, in x CD speed;
//   - ripping a track into WAV through the engine with jitter correction off, in x real time,
//     target >= 50;
//   - the same with verification (AccurateRip checksums and copy CRC of every frame, read
//     offset +6), in x real time, target >= 100.
// Usage: bench_cd [minutes=10] [folder=/tmp]
#include <stdlib.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "cd/accuraterip.h"
#include "cd/drives.h"
#include "cd/reader.h"
#include "engine/formats/riff_reader.h"
#include "engine/job/job.h"
#include "platform/notify/notifier.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr double kCdBytesPerSecond = 176400.0;

// One audio track of the given length: music-like noise, or dither around zero.
std::string WriteImage(const std::string& folder, const std::string& name, std::uint32_t sectors,
                       bool nearSilence) {
    const std::string bin = folder + "/" + name + ".bin", cue = folder + "/" + name + ".cue";
    std::ofstream f(bin, std::ios::binary | std::ios::trunc);
    std::vector<std::int16_t> sector(1176);
    std::uint32_t x = 1;
    for (std::uint32_t s = 0; s < sectors; ++s) {
        for (std::size_t i = 0; i < sector.size(); ++i) {
            x = x * 1664525u + 1013904223u;
            sector[i] =
                nearSilence
                    ? static_cast<std::int16_t>(static_cast<int>((x >> 16) % 3) - 1)
                    : static_cast<std::int16_t>(static_cast<int>((s * 1176 + i) % 4001) * 6 -
                                                12000 + static_cast<int>((x >> 16) % 2001) - 1000);
        }
        f.write(reinterpret_cast<const char*>(sector.data()), 2352);
    }
    std::ofstream c(cue, std::ios::trunc);
    c << "FILE \"" << name << ".bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n";
    return cue;
}

class NullSink final : public tralux::cd::CdSink {
public:
    void Block(std::uint8_t*, std::size_t bytes) override { total += bytes; }
    void Finish() override {}
    std::uint64_t total = 0;
};

char ImageLetter() {
    for (const auto& s : tralux::cd::ListCdDrives())
        if (s.image) return s.letter;
    return 0;
}

double JitterRip(const std::string& cue) {
    setenv("TRALUX_CD_IMAGES", cue.c_str(), 1);
    setenv("TRALUX_CD_JITTER", "seed=3,share=25,shift=1176", 1);
    tralux::StreamInfo info;
    const std::string path = std::string(1, ImageLetter()) + ":/Track01.cda";
    if (!tralux::ProbeInput(path, info)) return 0;
    NullSink sink;
    const auto t0 = Clock::now();
    tralux::cd::CdRipTrack(sink, info, {0, true});
    const double s = std::chrono::duration<double>(Clock::now() - t0).count();
    const auto stats = tralux::cd::CurrentJitterStats();
    std::printf(
        "    reads %llu, placed by overlap %llu, by vote %llu, overlap at the end %u sectors\n",
        static_cast<unsigned long long>(stats.reads),
        static_cast<unsigned long long>(stats.matched),
        static_cast<unsigned long long>(stats.votes), stats.overlap);
    return static_cast<double>(sink.total) / kCdBytesPerSecond / s;
}

double SearchOnly(bool nearSilence) {
    // A 20-sector chunk read with two sectors of overlap and two of reach on both sides.
    const std::size_t frames = 26 * 588, length = 2 * 588;
    std::vector<std::uint32_t> buffer(frames);
    std::uint32_t x = 5;
    for (auto& f : buffer) {
        x = x * 1664525u + 1013904223u;
        f = nearSilence ? ((x >> 16) % 3) | ((x >> 20) % 3) << 16 : x;
    }
    const std::size_t expected = 2 * 588;
    const int rounds = 20000;
    std::size_t sum = 0;
    const auto t0 = Clock::now();
    for (int r = 0; r < rounds; ++r) {
        const std::size_t actual =
            expected + static_cast<std::size_t>(r % 1000) - 500;  // early and late
        const auto m = tralux::cd::FindOverlap(buffer, std::span(buffer).subspan(actual, length),
                                               expected, 1176);
        sum += m.offset;
    }
    const double s = std::chrono::duration<double>(Clock::now() - t0).count();
    if (sum == 0) std::printf("(no match)\n");
    return rounds * 20.0 * 2352 / kCdBytesPerSecond / s;
}

double RipToWav(const std::string& cue, const std::string& out, bool verify = false) {
    setenv("TRALUX_CD_IMAGES", cue.c_str(), 1);
    unsetenv("TRALUX_CD_JITTER");
    tralux::EngineState& e = tralux::Engine();
    e.OutputFormat.store(tralux::kFormatWav);
    e.OutputRate.store(44100);
    e.OutputChannels.store(2);
    e.EqualizerOn.store(false);
    e.StartMs.store(0);
    const std::string path = std::string(1, ImageLetter()) + ":/Track01.cda";
    tralux::StreamInfo info;
    if (!tralux::ProbeInput(path, info)) return 0;
    tralux::cd::TrackChecksummer sums(std::uint64_t{info.lengthSectors} * 588, true, true);
    if (verify) {
        e.CdReadOffset.store(6);
        e.CdTap = [&sums](const std::uint8_t* d, std::size_t n) { sums.Add(d, n); };
    }
    const auto t0 = Clock::now();
    tralux::Engine().ReplaceOutput.store(true);  // its own scratch output, rewritten per run
    if (!tralux::StartConversion(path, out, 0, tralux::kModeConvert)) return 0;
    tralux::WaitForJob();
    const double s = std::chrono::duration<double>(Clock::now() - t0).count();
    e.CdTap = nullptr;
    e.CdReadOffset.store(0);
    if (e.LastError.load() != 0) return 0;
    if (verify) {
        const auto r = sums.Result();
        std::printf("    v1 %08x v2 %08x crc %08x\n", r.v1, r.v2, r.crc);
    }
    return info.lengthSectors / 75.0 / s;
}

}  // namespace

int main(int argc, char** argv) {
    const double minutes = argc > 1 ? std::atof(argv[1]) : 10.0;
    const std::string folder = argc > 2 ? argv[2] : "/tmp";
    const auto sectors = static_cast<std::uint32_t>(minutes * 60 * 75);
    tralux::RecordingNotifier quiet;
    tralux::SetNotifier(&quiet);
    const std::string music = WriteImage(folder, "tralux-bench-music", sectors, false);
    const std::string hush = WriteImage(folder, "tralux-bench-hush", sectors, true);
    std::printf("jitter-corrected reading, %.1f min per disc (target >= 100x CD speed)\n", minutes);
    const double jm = JitterRip(music);
    std::printf("  music:         x %.0f CD speed\n", jm);
    const double jh = JitterRip(hush);
    std::printf("  near-silence:  x %.0f CD speed\n", jh);
    std::printf("overlap search alone, 20-sector chunks\n");
    std::printf("  music:         x %.0f CD speed\n", SearchOnly(false));
    std::printf("  near-silence:  x %.0f CD speed\n", SearchOnly(true));
    std::printf("image into WAV, jitter correction off (target >= 50x real time)\n");
    const double wav = RipToWav(music, folder + "/tralux-bench-cd.wav");
    std::printf("  x %.0f real time\n", wav);
    std::printf("image into WAV with verification and read offset (target >= 100x real time)\n");
    const double verified = RipToWav(music, folder + "/tralux-bench-cd.wav", true);
    std::printf("  x %.0f real time\n", verified);
    for (const char* n : {"music", "hush"}) {
        std::filesystem::remove(folder + "/tralux-bench-" + n + ".bin");
        std::filesystem::remove(folder + "/tralux-bench-" + n + ".cue");
    }
    std::filesystem::remove(folder + "/tralux-bench-cd.wav");
    const bool ok = jm >= 100 && jh >= 100 && wav >= 50 && verified >= 100;
    std::printf("%s\n", ok ? "all targets met" : "TARGET MISSED");
    return ok ? 0 : 1;
}
