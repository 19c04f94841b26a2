// Decoding speed beside libmpg123 on the same bytes, in the same process: CPU time of the
// decoding thread, best of several runs, so other work on a shared machine counts little.
// Without arguments it makes three streams with sox and lame from a music-like signal
// (120 s of 128 and 320 kbit/s stereo at 44100 Hz, 64 kbit/s stereo MPEG-2 at 24000 Hz);
// with arguments it measures the given files. Prints one row per file and the ratio
// ours / mpg123 (goal: at most 1.00).
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "mp3dec/mp3dec.h"

#ifdef TRALUX_HAVE_LIBMPG123
#include <mpg123.h>
#else
#include <sys/resource.h>
#endif

namespace {

double CpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

struct Result {
    size_t pcmBytes = 0;
    int sampleRate = 0;
    int channels = 0;
};

// Decodes the whole stream to 16-bit PCM as the engine does: 4096-byte pieces, frame by frame.
Result DecodeOurs(const std::vector<uint8_t>& bytes) {
    mp3dec::Mp3DecoderHandle h;
    mp3dec::Mp3DecoderCreate(h, 0, false, false);
    std::vector<int16_t> out(1152 * 2);
    size_t pos = 0;
    bool ended = false;
    Result r;
    while (!mp3dec::Mp3DecoderIsEof(h)) {
        if (pos < bytes.size()) {
            size_t accepted = 0;
            mp3dec::Mp3DecoderFeed(h, bytes.data() + pos,
                                   std::min<size_t>(4096, bytes.size() - pos), accepted);
            pos += accepted;
        } else if (!ended) {
            mp3dec::Mp3DecoderEndOfInput(h);
            ended = true;
        }
        size_t produced = 0;
        const mp3dec::Status s = mp3dec::Mp3DecoderDecode(h, out.data(), out.size() * 2, produced);
        if (mp3dec::StatusOutputValid(s)) r.pcmBytes += produced;
    }
    mp3dec::Mp3FrameProperties p;
    if (mp3dec::Mp3DecoderProperties(h, p) == mp3dec::kOk) {
        r.sampleRate = p.outputRate;
        r.channels = p.outputChannels;
    }
    mp3dec::Mp3DecoderDelete(h);
    return r;
}

#ifdef TRALUX_HAVE_LIBMPG123
// The peer at its best: its fastest synthesis, frames taken from its own buffer without a copy.
size_t DecodePeer(const std::vector<uint8_t>& bytes, std::string& decoderName) {
    int err = 0;
    mpg123_handle* m = mpg123_new(nullptr, &err);
    if (!m) return 0;
    mpg123_param(m, MPG123_ADD_FLAGS, MPG123_QUIET, 0.0);
    mpg123_param(m, MPG123_REMOVE_FLAGS, MPG123_GAPLESS, 0.0);  // same samples as ours
    mpg123_open_feed(m);
    size_t pos = 0, total = 0;
    for (;;) {
        off_t frame = 0;
        unsigned char* audio = nullptr;
        size_t n = 0;
        const int r = mpg123_decode_frame(m, &frame, &audio, &n);
        total += n;
        if (r == MPG123_NEED_MORE) {
            if (pos >= bytes.size()) break;
            const size_t piece = std::min<size_t>(4096, bytes.size() - pos);
            mpg123_feed(m, bytes.data() + pos, piece);
            pos += piece;
        } else if (r != MPG123_OK && r != MPG123_NEW_FORMAT) {
            break;
        }
    }
    decoderName = mpg123_current_decoder(m);
    mpg123_delete(m);
    return total;
}
#endif

std::vector<uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

}  // namespace

int main(int argc, char** argv) {
    namespace fs = std::filesystem;
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) files.push_back(argv[i]);
    if (files.empty()) {
        const fs::path dir = fs::temp_directory_path() / "tralux_bench_mp3dec";
        fs::create_directories(dir);
        const std::string wav = (dir / "music.wav").string();
        const std::string wav24 = (dir / "music24.wav").string();
        struct Made {
            const char* name;
            const char* lame;
            const std::string* in;
        };
        const Made made[] = {{"128.mp3", "-b 128", &wav}, {"320.mp3", "-b 320", &wav},
                             {"mpeg2_64.mp3", "-b 64", &wav24}};
        for (const Made& m : made) {
            const std::string out = (dir / m.name).string();
            files.push_back(out);
            if (fs::exists(out)) continue;
            // Plucked notes over pink noise with a slow tremolo: transients, block switching
            // and a full spectrum, like music.
            const std::string make =
                "{ [ -f '" + wav + "' ] || sox -n -r 44100 -c 2 -b 16 '" + wav +
                "' synth 120 pluck 220 pluck 330 pluck 440 synth 120 pinknoise mix "
                "tremolo 3 70 gain -3; } && { [ -f '" + wav24 + "' ] || sox '" + wav +
                "' -r 24000 '" + wav24 + "'; } && lame --quiet " + m.lame + " '" + *m.in +
                "' '" + out + "'";
            if (std::system(make.c_str()) != 0) {
                std::fprintf(stderr, "cannot make the test streams (sox and lame needed)\n");
                return 1;
            }
        }
    }

    const int runs = 7;
    std::printf("| file | audio s | mp3dec CPU s | x real time | mpg123 CPU s | mp3dec / mpg123 |\n"
                "|---|---|---|---|---|---|\n");
    std::string peerName = "mpg123 binary";
    for (const std::string& path : files) {
        const std::vector<uint8_t> bytes = ReadFile(path);
        double ours = 1e9, peer = 1e9;
        Result r;
        for (int i = 0; i < runs; ++i) {
            const double a = CpuSeconds();
            r = DecodeOurs(bytes);
            ours = std::min(ours, CpuSeconds() - a);
#ifdef TRALUX_HAVE_LIBMPG123
            const double b = CpuSeconds();
            if (DecodePeer(bytes, peerName) == 0) peer = 0;
            peer = std::min(peer, CpuSeconds() - b);
#else
            // Without the library: the command-line player writing raw samples to /dev/null.
            rusage before{}, after{};
            getrusage(RUSAGE_CHILDREN, &before);
            const std::string cmd = "mpg123 -q -s '" + path + "' > /dev/null 2>&1";
            if (std::system(cmd.c_str()) != 0) peer = 0;
            getrusage(RUSAGE_CHILDREN, &after);
            auto sec = [](const timeval& t) { return t.tv_sec + t.tv_usec * 1e-6; };
            peer = std::min(peer, sec(after.ru_utime) - sec(before.ru_utime) +
                                      sec(after.ru_stime) - sec(before.ru_stime));
#endif
        }
        const double audio =
            r.sampleRate && r.channels ? r.pcmBytes / 2.0 / r.channels / r.sampleRate : 0.0;
        std::printf("| %s | %.1f | %.3f | %.0f | ", fs::path(path).filename().c_str(), audio, ours,
                    audio / ours);
        if (peer > 0)
            std::printf("%.3f | %.2f |\n", peer, ours / peer);
        else
            std::printf("n/a | n/a |\n");
    }
    std::printf("peer: %s; decoder object: %zu bytes, of which the input ring is %zu\n",
                peerName.c_str(), mp3dec::Mp3DecoderObjectBytes(), mp3dec::kInputRingBytes);
    return 0;
}
