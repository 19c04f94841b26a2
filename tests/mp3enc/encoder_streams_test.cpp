// Streams from every listed configuration, read back by the peer decoders.
#include <gtest/gtest.h>
#include "support/require.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "mp3enc/bitstream/frame.h"
#include "mp3encoder.h"

using namespace mp3enc;

namespace {

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

bool HaveTool(const char* name) {
    std::string cmd = std::string("command -v ") + name + " >/dev/null 2>&1";
    return std::system(cmd.c_str()) == 0;
}

std::string Run(const std::string& cmd) {
    std::string out;
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return "popen failed";
    char buf[512];
    while (fgets(buf, sizeof buf, p)) out += buf;
    pclose(p);
    return out;
}

std::string TempPath(const std::string& name) {
    const char* dir = std::getenv("TMPDIR");
    return std::string(dir ? dir : "/tmp") + "/tralux_mp3enc_" + std::to_string(getpid()) + "_" +
           name;
}

// A tone plus quiet noise; stereo channels differ.
std::vector<int16_t> Signal(int rate, int ch, int frames, unsigned seed) {
    std::mt19937 rng(seed);
    std::normal_distribution<float> nd(0, 300);
    std::vector<int16_t> v(static_cast<size_t>(frames * ch));
    for (int i = 0; i < frames; ++i)
        for (int c = 0; c < ch; ++c) {
            double s = 7000 * std::sin(2 * M_PI * 440 * (c + 1) * i / rate) + nd(rng);
            v[static_cast<size_t>(i * ch + c)] =
                static_cast<int16_t>(std::clamp(s, -32768.0, 32767.0));
        }
    return v;
}

struct Encoded {
    std::vector<uint8_t> bytes;
    int delay = 0;
};

bool EncodeWith(int inRate, int inCh, const Mp3Configuration& c, const std::vector<int16_t>& pcm,
                Encoded* out) {
    Mp3Encoder* e = Mp3EncoderCreate(static_cast<float>(inRate), inCh, 0);
    if (!e) return false;
    if (!Mp3EncoderSelectConfiguration(e, &c)) {
        Mp3EncoderDelete(e);
        return false;
    }
    out->delay = Mp3EncoderGetSettings(e)->delay;
    std::vector<uint8_t> buf(8192);
    const uint8_t* p = reinterpret_cast<const uint8_t*>(pcm.data());
    int left = static_cast<int>(pcm.size() * 2);
    std::mt19937 rng(5);
    while (left > 0) {
        int blk = std::min(left, static_cast<int>(4 * inCh * (1 + rng() % 1500)));
        int used = 0;
        int w = Mp3EncoderEncode(e, p, blk, &used, buf.data(), 8192);
        if (w < 0) {
            Mp3EncoderDelete(e);
            return false;
        }
        out->bytes.insert(out->bytes.end(), buf.begin(), buf.begin() + w);
        p += used;
        left -= used;
    }
    for (;;) {
        int used = 0;
        int w = Mp3EncoderEncode(e, nullptr, 0, &used, buf.data(), 8192);
        if (w < 0) {
            Mp3EncoderDelete(e);
            return false;
        }
        if (w == 0) break;
        out->bytes.insert(out->bytes.end(), buf.begin(), buf.begin() + w);
    }
    Mp3EncoderDelete(e);
    return true;
}

struct FrameScan {
    int frames = 0;
    bool whole = false;
    int badIndex = 0, badMode = 0, badExt = 0, badPadding = 0;
};

FrameScan Scan(const std::vector<uint8_t>& s, int rate, int ch, bool plainStereo = false) {
    FrameScan r;
    const int v = VersionOfRate(rate);
    const int spf = v == 0 ? 1152 : 576;
    size_t off = 0;
    while (off + 4 <= s.size()) {
        uint32_t w = (uint32_t(s[off]) << 24) | (uint32_t(s[off + 1]) << 16) |
                     (uint32_t(s[off + 2]) << 8) | s[off + 3];
        if ((w >> 21) != 0x7FF) break;
        int index = (w >> 12) & 15, pad = (w >> 9) & 1, mode = (w >> 6) & 3, ext = (w >> 4) & 3;
        if (index == 0 || index == 15) {
            ++r.badIndex;
            break;
        }
        if (mode != (ch == 1 ? 3 : 1) && !(plainStereo && ch == 2 && mode == 0)) ++r.badMode;
        int rateOfIndex = BitRateTable(v)[index];
        // Intensity only in MPEG-1 stereo at up to 96 kbit/s.
        if ((ext & 1) && (v != 0 || rateOfIndex > 96000)) ++r.badExt;
        if (rateOfIndex == 0) {
            ++r.badIndex;
            break;
        }
        int bytes = spf / 8 * rateOfIndex / rate + pad;
        ++r.frames;
        off += static_cast<size_t>(bytes);
    }
    r.whole = off == s.size();
    return r;
}

void CheckPeers(const std::string& path, const std::string& what) {
    if (HaveTool("ffmpeg")) {
        std::string err = Run("ffmpeg -nostdin -v error -i '" + path + "' -f null - 2>&1");
        EXPECT_EQ(err, "") << what;
    }
    if (HaveTool("mpg123")) {
        std::string err = Run("mpg123 -q -t '" + path + "' 2>&1");
        EXPECT_EQ(err, "") << what;
    }
}

std::vector<int16_t> DecodeFfmpeg(const std::string& path, int ch) {
    std::string raw = path + ".raw";
    Run("ffmpeg -nostdin -v error -y -i '" + path + "' -f s16le -ac " + std::to_string(ch) + " '" +
        raw + "' 2>&1");
    std::ifstream f(raw, std::ios::binary);
    std::vector<char> b((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    std::remove(raw.c_str());
    std::vector<int16_t> v(b.size() / 2);
    for (size_t i = 0; i < v.size(); ++i)
        v[i] = static_cast<int16_t>(static_cast<uint8_t>(b[2 * i]) |
                                    (static_cast<uint8_t>(b[2 * i + 1]) << 8));
    return v;
}

}  // namespace

TEST(EncoderStreams, EveryListedConfigurationDecodesCleanly) {
    TRALUX_REQUIRE(HaveTool("ffmpeg") || HaveTool("mpg123"), "ffmpeg or mpg123");
    const double seconds = kSanitized ? 0.25 : 0.8;
    int checked = 0;
    for (int rate : {8000, 11025, 16000, 22050, 32000, 44100}) {
        for (int ch : {1, 2}) {
            Mp3Encoder* probe = Mp3EncoderCreate(static_cast<float>(rate), ch, 0);
            ASSERT_NE(probe, nullptr) << rate << " " << ch;
            const Mp3ConfigurationList* l = Mp3EncoderGetConfigurations(probe);
            std::vector<Mp3Configuration> cfgs(l->entries, l->entries + l->count);
            Mp3EncoderDelete(probe);
            const int frames = static_cast<int>(seconds * rate);
            auto pcm = Signal(rate, ch, frames, static_cast<unsigned>(rate + ch));
            for (const Mp3Configuration& c : cfgs) {
                if (c.sampleRate != rate || c.channels != ch) continue;
                std::string what = std::to_string(rate) + " Hz " + std::to_string(ch) + " ch " +
                                   std::to_string(c.bitRate);
                Encoded enc;
                ASSERT_TRUE(EncodeWith(rate, ch, c, pcm, &enc)) << what;
                FrameScan s = Scan(enc.bytes, rate, ch);
                EXPECT_TRUE(s.whole) << what;
                EXPECT_EQ(s.badIndex + s.badMode + s.badExt, 0) << what;
                // Decoded length covers input plus delay, and overshoots by less than the flush.
                const int spf = VersionOfRate(rate) == 0 ? 1152 : 576;
                int period = 1, bytes = 0;
                BitRatePeriod(c.bitRate, rate, 0, &period, &bytes);
                long decoded = static_cast<long>(s.frames) * spf;
                EXPECT_GE(decoded, frames + enc.delay) << what;
                EXPECT_LT(decoded - (frames + enc.delay), (period + 2L) * spf + 576) << what;
                std::string path = TempPath("cfg.mp3");
                std::ofstream(path, std::ios::binary)
                    .write(reinterpret_cast<const char*>(enc.bytes.data()),
                           static_cast<std::streamsize>(enc.bytes.size()));
                CheckPeers(path, what);
                std::remove(path.c_str());
                ++checked;
            }
        }
    }
    EXPECT_GT(checked, 50);
}

TEST(EncoderStreams, SineAt128kDecodesWithHighSnr) {
    TRALUX_REQUIRE_TOOL("ffmpeg");
    for (int ch : {1, 2}) {
        const int rate = 44100, frames = rate * 2;
        std::vector<int16_t> pcm(static_cast<size_t>(frames * ch));
        for (int i = 0; i < frames; ++i)
            for (int c = 0; c < ch; ++c)
                pcm[static_cast<size_t>(i * ch + c)] =
                    static_cast<int16_t>(16000 * std::sin(2 * M_PI * 1000 * i / rate));
        Encoded enc;
        ASSERT_TRUE(EncodeWith(rate, ch, {rate, ch, 128000}, pcm, &enc));
        std::string path = TempPath("sine.mp3");
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(enc.bytes.data()),
                   static_cast<std::streamsize>(enc.bytes.size()));
        auto dec = DecodeFfmpeg(path, ch);
        std::remove(path.c_str());
        ASSERT_GE(dec.size(), pcm.size() + static_cast<size_t>(enc.delay * ch));
        double sig = 0, err = 0;
        for (size_t i = static_cast<size_t>(ch * 4000); i < pcm.size(); ++i) {
            double ref = pcm[i], got = dec[i + static_cast<size_t>(enc.delay * ch)];
            sig += ref * ref;
            err += (got - ref) * (got - ref);
        }
        double snr = 10 * std::log10(sig / std::max(err, 1e-9));
        RecordProperty("snr_db_" + std::to_string(ch), std::to_string(snr));
        EXPECT_GE(snr, 40.0) << ch << " channels";
    }
}

TEST(EncoderStreams, CrcAndPaddingModesStayReadable) {
    TRALUX_REQUIRE(HaveTool("ffmpeg") || HaveTool("mpg123"), "ffmpeg or mpg123");
    const int rate = 44100, ch = 2, frames = rate / 2;
    auto pcm = Signal(rate, ch, frames, 3);
    for (int crc : {0, 1}) {
        for (int pad : {0, 1, 2}) {
            Mp3Encoder* e = Mp3EncoderCreate(rate, ch, 0);
            ASSERT_NE(e, nullptr);
            Mp3EncoderSettings s = *Mp3EncoderGetSettings(e);
            s.crc = crc;
            s.paddingMode = pad;
            ASSERT_EQ(Mp3EncoderSetSettings(e, &s), 1);
            std::vector<uint8_t> bytes, buf(8192);
            int used = 0;
            const uint8_t* p = reinterpret_cast<const uint8_t*>(pcm.data());
            int left = static_cast<int>(pcm.size() * 2);
            while (left > 0) {
                int w = Mp3EncoderEncode(e, p, std::min(left, 9000), &used, buf.data(), 8192);
                ASSERT_GE(w, 0);
                bytes.insert(bytes.end(), buf.begin(), buf.begin() + w);
                p += used;
                left -= used;
            }
            for (int w; (w = Mp3EncoderEncode(e, nullptr, 0, &used, buf.data(), 8192)) > 0;)
                bytes.insert(bytes.end(), buf.begin(), buf.begin() + w);
            Mp3EncoderDelete(e);
            // protection_bit and padding_bit of every frame.
            size_t off = 0;
            int frames = 0;
            while (off + 4 <= bytes.size()) {
                EXPECT_EQ((bytes[off + 1] & 1) == 0, crc == 1);
                int padBit = (bytes[off + 2] >> 1) & 1;
                if (pad != 0) {
                    EXPECT_EQ(padBit, pad == 2 ? 1 : 0);
                }
                off += static_cast<size_t>(144 * 128000 / rate + padBit);
                ++frames;
            }
            EXPECT_EQ(off, bytes.size());
            std::string path = TempPath("crc.mp3");
            std::ofstream(path, std::ios::binary)
                .write(reinterpret_cast<const char*>(bytes.data()),
                       static_cast<std::streamsize>(bytes.size()));
            CheckPeers(path, "crc " + std::to_string(crc) + " padding " + std::to_string(pad));
            std::remove(path.c_str());
        }
    }
}

// Hard material: full-scale noise, clipped square waves, lone impulses, DC and silence.
TEST(EncoderStreams, HardSignalsStayDecodable) {
    TRALUX_REQUIRE(HaveTool("ffmpeg") || HaveTool("mpg123"), "ffmpeg or mpg123");
    struct Setting {
        int rate, ch, br;
    } settings[] = {{44100, 2, 128000}, {22050, 1, 32000}, {48000, 2, 320000}, {8000, 1, 8000}};
    for (const Setting& st : settings) {
        const int frames = st.rate / 2;
        std::vector<int16_t> pcm(static_cast<size_t>(frames * st.ch));
        std::mt19937 rng(17);
        for (int i = 0; i < frames; ++i) {
            int part = 5 * i / frames;
            for (int c = 0; c < st.ch; ++c) {
                int v = 0;
                switch (part) {
                    case 0:
                        v = static_cast<int>(rng() % 65536) - 32768;
                        break;  // full-scale noise
                    case 1:
                        v = (i / 37) % 2 ? 32767 : -32768;
                        break;  // clipped square
                    case 2:
                        v = i % 3001 == 0 ? 32767 : 0;
                        break;  // impulses
                    case 3:
                        v = 20000;
                        break;  // DC
                    default:
                        v = 0;  // silence
                }
                pcm[static_cast<size_t>(i * st.ch + c)] = static_cast<int16_t>(v);
            }
        }
        Encoded enc;
        std::string what = std::to_string(st.rate) + " " + std::to_string(st.br);
        ASSERT_TRUE(EncodeWith(st.rate, st.ch, {st.rate, st.ch, st.br}, pcm, &enc)) << what;
        FrameScan s = Scan(enc.bytes, st.rate, st.ch);
        EXPECT_TRUE(s.whole) << what;
        EXPECT_EQ(s.badIndex, 0) << what;
        std::string path = TempPath("hard.mp3");
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(enc.bytes.data()),
                   static_cast<std::streamsize>(enc.bytes.size()));
        CheckPeers(path, what);
        std::remove(path.c_str());
    }
}

// Rate conversion in front of the engines: the reported delay lines the decoded tone up
// with the input, and the tail of the converter is in the stream.
TEST(EncoderStreams, ConvertedRatesKeepTheToneAndTheDelay) {
    TRALUX_REQUIRE_TOOL("ffmpeg");
    struct Case {
        int in, out, br, ch;
    } cases[] = {{44100, 22050, 64000, 2},
                 {48000, 32000, 128000, 2},
                 {48000, 16000, 48000, 1},
                 {44100, 32000, 128000, 2}};
    for (const Case& c : cases) {
        const int frames = c.in;
        std::vector<int16_t> pcm(static_cast<size_t>(frames * 2));
        for (int i = 0; i < frames; ++i)
            pcm[static_cast<size_t>(2 * i)] = pcm[static_cast<size_t>(2 * i + 1)] =
                static_cast<int16_t>(12000 * std::sin(2 * M_PI * 700.0 * i / c.in));
        Encoded enc;
        std::string what = std::to_string(c.in) + "->" + std::to_string(c.out);
        ASSERT_TRUE(EncodeWith(c.in, 2, {c.out, c.ch, c.br}, pcm, &enc)) << what;
        std::string path = TempPath("conv.mp3");
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(enc.bytes.data()),
                   static_cast<std::streamsize>(enc.bytes.size()));
        auto dec = DecodeFfmpeg(path, c.ch);
        std::remove(path.c_str());
        const long outFrames = static_cast<long>(frames) * c.out / c.in;
        ASSERT_GE(static_cast<long>(dec.size()) / c.ch, outFrames + enc.delay) << what;
        double sig = 0, err = 0;
        for (long i = 2000; i < outFrames - 100; ++i) {
            double ref = 12000 * std::sin(2 * M_PI * 700.0 * i / c.out);
            double got = dec[static_cast<size_t>((i + enc.delay) * c.ch)];
            sig += ref * ref;
            err += (got - ref) * (got - ref);
        }
        EXPECT_GE(10 * std::log10(sig / err), 40.0) << what;
    }
}

// Quality levels 1 and 2 take the core engine for rich bit rates (full Huffman search,
// long outer loops); their streams must read as cleanly.
TEST(EncoderStreams, CoreEngineQualityLevels) {
    TRALUX_REQUIRE(HaveTool("ffmpeg") || HaveTool("mpg123"), "ffmpeg or mpg123");
    struct Case {
        int q, rate, ch, br;
    } cases[] = {
        {1, 44100, 2, 128000}, {2, 44100, 2, 192000}, {2, 22050, 1, 64000}, {1, 32000, 1, 56000}};
    for (const Case& c : cases) {
        const int frames = c.rate / (kSanitized ? 8 : 3);
        auto pcm = Signal(c.rate, c.ch, frames, 9);
        Mp3Encoder* e = Mp3EncoderCreate(static_cast<float>(c.rate), c.ch, c.q);
        ASSERT_NE(e, nullptr);
        Mp3Configuration cfg{c.rate, c.ch, c.br};
        ASSERT_EQ(Mp3EncoderSelectConfiguration(e, &cfg), 1);
        Mp3EncoderStatus st;
        Mp3EncoderGetStatus(e, &st);
        EXPECT_EQ(st.engine, 2);
        std::vector<uint8_t> bytes, buf(8192);
        const uint8_t* p = reinterpret_cast<const uint8_t*>(pcm.data());
        int left = static_cast<int>(pcm.size() * 2), used = 0;
        while (left > 0) {
            int w = Mp3EncoderEncode(e, p, left, &used, buf.data(), 8192);
            ASSERT_GE(w, 0);
            bytes.insert(bytes.end(), buf.begin(), buf.begin() + w);
            p += used;
            left -= used;
        }
        for (int w; (w = Mp3EncoderEncode(e, nullptr, 0, &used, buf.data(), 8192)) > 0;)
            bytes.insert(bytes.end(), buf.begin(), buf.begin() + w);
        Mp3EncoderDelete(e);
        std::string what = "quality " + std::to_string(c.q) + " " + std::to_string(c.rate) + " " +
                           std::to_string(c.br);
        // Rows without mid/side and intensity code plain stereo.
        FrameScan s = Scan(bytes, c.rate, c.ch, true);
        EXPECT_TRUE(s.whole) << what;
        EXPECT_EQ(s.badIndex + s.badMode, 0) << what;
        std::string path = TempPath("q.mp3");
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        CheckPeers(path, what);
        std::remove(path.c_str());
    }
}
