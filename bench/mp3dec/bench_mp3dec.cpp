// Decoding speed beside mpg123 on the same file: 60 s of 128 kbit/s stereo 44100 Hz made with
// lame from a synthetic music-like signal. Prints both times and the speed ratio.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "mp3dec/mp3dec.h"

namespace {

double Seconds(std::chrono::steady_clock::time_point a, std::chrono::steady_clock::time_point b) {
    return std::chrono::duration<double>(b - a).count();
}

// Decodes the whole file to 16-bit PCM; returns the number of output bytes.
size_t DecodeOnce(const std::vector<uint8_t>& bytes) {
    mp3dec::Mp3DecoderHandle h;
    mp3dec::Mp3DecoderCreate(h, 0, false, false);
    std::vector<int16_t> out(1152 * 2);
    size_t pos = 0, total = 0;
    bool ended = false;
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
        if (mp3dec::StatusOutputValid(s)) total += produced;
    }
    mp3dec::Mp3DecoderDelete(h);
    return total;
}

}  // namespace

int main(int argc, char** argv) {
    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / "tralux_bench_mp3dec";
    fs::create_directories(dir);
    const std::string wav = (dir / "music.wav").string(), mp3 = (dir / "music.mp3").string();
    if (argc > 1) {
        fs::copy_file(argv[1], mp3, fs::copy_options::overwrite_existing);
    } else if (!fs::exists(mp3)) {
        const std::string make =
            "sox -n -r 44100 -c 2 -b 16 '" + wav +
            "' synth 60 pluck 220 pluck 330 pluck 440 synth 60 pinknoise mix 2>/dev/null && "
            "lame --quiet -b 128 '" +
            wav + "' '" + mp3 + "'";
        if (std::system(make.c_str()) != 0) {
            std::fprintf(stderr, "cannot make the test stream (sox and lame needed)\n");
            return 1;
        }
    }
    std::ifstream in(mp3, std::ios::binary);
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                     std::istreambuf_iterator<char>());

    const int runs = 7;
    double ours = 1e9;
    size_t pcmBytes = 0;
    for (int i = 0; i < runs; ++i) {
        const auto a = std::chrono::steady_clock::now();
        pcmBytes = DecodeOnce(bytes);
        ours = std::min(ours, Seconds(a, std::chrono::steady_clock::now()));
    }
    double peer = 1e9;
    bool peerOk = true;
    const std::string cmd = "mpg123 -q -s '" + mp3 + "' > /dev/null 2>&1";
    for (int i = 0; i < runs && peerOk; ++i) {
        const auto a = std::chrono::steady_clock::now();
        peerOk = std::system(cmd.c_str()) == 0;
        peer = std::min(peer, Seconds(a, std::chrono::steady_clock::now()));
    }
    const double audioSeconds = pcmBytes / 4.0 / 44100.0;
    std::printf("mp3dec: %.3f s for %.1f s of audio (%.0fx real time)\n", ours, audioSeconds,
                audioSeconds / ours);
    if (peerOk) {
        std::printf("mpg123 -q -s: %.3f s\n", peer);
        std::printf("speed ratio (mpg123 time / mp3dec time): %.2f\n", peer / ours);
    } else {
        std::printf("mpg123 not available\n");
    }
    std::printf("decoder object: %zu bytes, of which the input ring is %zu\n",
                mp3dec::Mp3DecoderObjectBytes(), mp3dec::kInputRingBytes);
    return 0;
}
