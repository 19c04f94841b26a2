#include "engine/formats/riff_reader.h"

#include <array>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <vector>

#include "engine/job/engine_state.h"
#include "engine/inputs/input.h"
#include "engine/formats/tag_reader.h"
#include "engine/job/errors.h"
#include "engine/inputs/mp3_input.h"
#include "platform/notify/notifier.h"

namespace tralux {
namespace {

std::mutex g_cdMutex;
CdInfoProvider g_cdProvider;

std::uint16_t Le16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}
std::uint32_t Le32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

thread_local std::atomic<int>* t_errorTarget = nullptr;

std::atomic<int>& ErrorTarget() {
    return t_errorTarget ? *t_errorTarget : Engine().LastError;
}

bool Fail(int code) {
    ErrorTarget().store(code);
    return false;
}

constexpr std::uint16_t kTagPcm = 1;
constexpr std::uint16_t kTagFloat = 3;
constexpr std::uint16_t kTagExtensible = 0xFFFE;
// Tail shared by the PCM and float sub-format GUIDs after their first two bytes.
constexpr std::uint8_t kSubFormatTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                             0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

// True when the bytes at `at` read as a chunk header whose chunk fits in what is left.
bool ChunkHeaderAt(File& file, std::uint64_t at, std::uint64_t available) {
    std::uint8_t h[8];
    if (available < 8) return false;
    file.Seek(at);
    const bool got = file.ReadExact(h, 8);
    file.Seek(at);
    if (!got) return false;
    for (int i = 0; i < 4; ++i)
        if (h[i] < 0x20 || h[i] > 0x7E) return false;
    return static_cast<std::uint64_t>(Le32(h + 4)) + 8 <= available;
}

bool ReadWave(File& file, StreamInfo& info) {
    std::uint8_t hdr[8];
    // Walk to "fmt ", skipping any chunks before it (pad bytes included).
    for (;;) {
        if (!file.ReadExact(hdr, 8)) return Fail(kErrRead);
        if (std::memcmp(hdr, "fmt ", 4) == 0) break;
        if (std::memcmp(hdr, "data", 4) == 0) return Fail(kErrUnknownFormat);  // data before fmt
        std::uint64_t size = Le32(hdr + 4);
        file.SeekRelative(static_cast<std::int64_t>(size + (size & 1)));
    }
    const std::uint32_t fmtSize = Le32(hdr + 4);
    if (fmtSize < 16) return Fail(kErrUnknownFormat);
    std::uint8_t fmt[40] = {};
    const std::uint32_t want =
        fmtSize < sizeof fmt ? fmtSize : static_cast<std::uint32_t>(sizeof fmt);
    if (!file.ReadExact(fmt, want)) return Fail(kErrRead);

    std::uint16_t tag = Le16(fmt);
    const std::uint16_t channels = Le16(fmt + 2);
    const std::uint32_t rate = Le32(fmt + 4);
    const std::uint32_t avgBytes = Le32(fmt + 8);
    const std::uint16_t blockAlign = Le16(fmt + 12);
    const std::uint16_t bits = Le16(fmt + 14);
    if (tag == kTagExtensible) {
        // cbSize >= 22 carries valid bits, channel mask and the sub-format GUID.
        if (fmtSize < 40 || Le16(fmt + 16) < 22) return Fail(kErrUnknownFormat);
        if (std::memcmp(fmt + 26, kSubFormatTail, sizeof kSubFormatTail) != 0)
            return Fail(kErrCompressedWav);
        tag = Le16(fmt + 24);
    }
    if (tag != kTagPcm && tag != kTagFloat) return Fail(kErrCompressedWav);

    // Header values feed divisions and loops: refuse anything inconsistent.
    const bool bitsOk = tag == kTagPcm ? (bits == 8 || bits == 16 || bits == 24 || bits == 32)
                                       : (bits == 32 || bits == 64);
    if (channels < 1 || channels > 8 || !bitsOk || blockAlign != channels * (bits / 8) ||
        rate < 1000 || rate > 192000)
        return Fail(kErrUnknownFormat);

    info.Channels = channels;
    info.StoredChannels = 0;
    info.ChannelMask = 0;
    if (channels > 2) {
        // 4.0, 5.1, 7.1 ...: mixed down to stereo as they are read.
        info.Channels = 2;
        info.StoredChannels = channels;
        if (Le16(fmt) == kTagExtensible) info.ChannelMask = Le32(fmt + 20);
    }
    info.SampleRate = rate;
    info.BitRate = info.BitRate2 = static_cast<std::uint32_t>(
        std::min<std::uint64_t>(static_cast<std::uint64_t>(avgBytes) * 8, UINT32_MAX));
    info.BlockAlign = blockAlign;
    info.BitsPerSample = bits;
    info.Encoding = tag == kTagFloat ? SampleEncoding::Float : SampleEncoding::Integer;

    // Skip the rest of an oversized fmt chunk in one seek.
    const std::uint64_t rest = static_cast<std::uint64_t>(fmtSize) - want + (fmtSize & 1);
    if (rest) file.SeekRelative(static_cast<std::int64_t>(rest));

    // Walk to "data": LIST, bext, JUNK, fact, cue ... in any number and order.
    for (;;) {
        if (!file.ReadExact(hdr, 8)) return Fail(kErrRead);
        if (std::memcmp(hdr, "data", 4) == 0) break;
        std::uint64_t size = Le32(hdr + 4);
        file.SeekRelative(static_cast<std::int64_t>(size + (size & 1)));
    }
    info.StartOffset = file.Position();
    const std::uint64_t length = file.Length();
    std::uint64_t dataSize = Le32(hdr + 4);
    // A streaming writer's 0xFFFFFFFF or a cut file: the payload ends at the end of the file.
    const std::uint64_t available = length > info.StartOffset ? length - info.StartOffset : 0;
    const std::uint64_t declared = dataSize;
    if (dataSize > available) dataSize = available;
    // A streaming writer that never came back to patch the size leaves 0 with the audio after
    // it; a genuinely empty data chunk is followed by another chunk (or nothing).
    if (dataSize == 0 && available > 0 && !ChunkHeaderAt(file, info.StartOffset, available))
        dataSize = available;
    info.DataSize = dataSize;
    info.CodecName = "PCM";
    const std::uint64_t bytesPerSecond = static_cast<std::uint64_t>(rate) * blockAlign;
    info.DurationMs = static_cast<std::uint32_t>(std::min<double>(
        std::trunc(static_cast<double>(dataSize) * 1000.0 / static_cast<double>(bytesPerSecond)),
        UINT32_MAX));
    // 0xFFFFFFFF is a streaming writer's "unknown"; any other size beyond the file is a cut.
    if (declared > available && declared != 0xFFFFFFFFu)
        info.DeclaredDurationMs = static_cast<std::uint32_t>(
            std::min<double>(std::trunc(static_cast<double>(declared) * 1000.0 /
                                        static_cast<double>(bytesPerSecond)),
                             UINT32_MAX));
    return true;
}

bool ReadCdda(File& file, StreamInfo& info) {
    std::uint8_t b[32];
    if (!file.ReadExact(b, 32)) return false;
    if (std::memcmp(b, "fmt ", 4) != 0 || Le32(b + 4) != 24) return false;
    info.trackNumber = Le16(b + 10);
    // Track 0 would make the job take the file for a WAV with no format.
    if (info.trackNumber < 1 || info.trackNumber > 99) return false;
    info.cdaStartSector = info.readStartSector = Le32(b + 16);
    info.lengthSectors = Le32(b + 20);
    info.StartMsf = Le32(b + 24);
    info.LengthMsf = Le32(b + 28);
    auto msfMs = [](std::uint32_t msf) {
        const std::uint32_t sec = (msf >> 8) & 0xFF, min = (msf >> 16) & 0xFF;
        return (sec + 60 * min) * 1000;
    };
    info.StartOffset = msfMs(info.StartMsf);
    info.DurationMs = msfMs(info.LengthMsf);
    info.BitsPerSample = 16;
    info.Channels = 2;
    info.SampleRate = 44100;
    info.BitRate = info.BitRate2 = 1411200;
    info.DataSize = 0;
    info.BlockAlign = 0;
    info.Title = "音樂 CD, 音軌#" + std::to_string(info.trackNumber);
    info.CodecName = "PCM";
    info.driveLetter = file.Path().empty() ? 0 : file.Path()[0];
    CdInfoProvider provider;
    {
        std::lock_guard lock(g_cdMutex);
        provider = g_cdProvider;
    }
    if (provider) provider(info);
    return true;
}

}  // namespace

void SetCdInfoProvider(CdInfoProvider provider) {
    std::lock_guard lock(g_cdMutex);
    g_cdProvider = std::move(provider);
}

std::string RepairInputPath(const std::string& path) {
    std::error_code ec;
    if (std::filesystem::exists(path, ec)) return path;
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return path;
    std::string repaired = path.substr(0, slash + 1) + " " + path.substr(slash + 1);
    return std::filesystem::exists(repaired, ec) ? repaired : path;
}

void SetProbeErrorTarget(std::atomic<int>* target) {
    t_errorTarget = target;
}

bool ReadRiffInput(File& file, StreamInfo& info, bool clear) {
    if (clear) {
        info = StreamInfo{};
        info.Kind = kKindRiff;
    }
    std::uint8_t b[8];
    if (!file.ReadExact(b, 8)) return Fail(kErrRead);
    if (std::memcmp(b + 4, "WAVE", 4) == 0) return ReadWave(file, info);
    if (std::memcmp(b + 4, "CDDA", 4) == 0) return ReadCdda(file, info);
    return false;
}

bool ProbeInput(const std::string& rawPath, StreamInfo& info) {
    const std::string path = RepairInputPath(rawPath);
    File file;
    if (!file.TryOpen(path, File::Mode::Read)) return Fail(kErrOpen);
    try {
        std::uint8_t kind[4];
        const int before = ErrorTarget().load();
        if (!file.ReadExact(kind, 4)) return Fail(kErrUnknownFormat);
        const std::uint32_t k = Le32(kind);
        if (k == kKindRiff) {
            if (ReadRiffInput(file, info, true)) {
                ReadInputTags(path, info);
                return true;
            }
        } else if (k == kKindRealMedia || k == kKindRealAudio) {
            ShowMessage(kRealMediaMessage, "Quorvatix Tralux");
            return false;
        }
        // Kinds added at startup (the system's decoders) come before the MPEG probe, as in a job.
        for (const InputKind& added : InputKinds()) {
            const std::string_view name = added.name;
            if (name == "real" || name == "cd" || name == "wav" || name == "mp3") continue;
            file.Seek(0);
            if (added.probe(file, info)) {
                ErrorTarget().store(before);
                ReadInputTags(path, info);
                return true;
            }
        }
        file.Seek(4);
        // MPEG audio inside a RIFF/WAVE (format 0x55) is taken as MPEG audio: the WAV reader's
        // refusal is no longer the verdict.
        if (ProbeMp3(file, info, true)) {
            ErrorTarget().store(before);
            ReadInputTags(path, info);
            return true;
        }
        return Fail(kErrUnknownFormat);
    } catch (const FileError&) {
        return false;
    }
}

bool NeedsSampleConversion(const StreamInfo& info) {
    return info.Encoding == SampleEncoding::Float || info.BitsPerSample > 16 ||
           info.StoredChannels > info.Channels;
}

namespace {

// Left and right weights of each stored channel: front sides in full, centre and surrounds at
// -3 dB on their side (both for a centre), the LFE left out.
void DownmixWeights(const StreamInfo& info, std::vector<std::array<double, 2>>& w) {
    // WAVE speaker bits in order: FL FR FC LFE BL BR FLC FRC BC SL SR, then the top ones.
    static constexpr std::array<std::array<double, 2>, 11> kBySpeaker{{{1, 0},
                                                                       {0, 1},
                                                                       {0.7071, 0.7071},
                                                                       {0, 0},
                                                                       {0.7071, 0},
                                                                       {0, 0.7071},
                                                                       {1, 0},
                                                                       {0, 1},
                                                                       {0.5, 0.5},
                                                                       {0.7071, 0},
                                                                       {0, 0.7071}}};
    w.clear();
    int bit = 0;
    for (int ch = 0; ch < info.StoredChannels; ++ch) {
        if (info.ChannelMask) {
            while (bit < 32 && !(info.ChannelMask >> bit & 1u)) ++bit;
        } else if (info.StoredChannels == 4 && ch == 2) {
            bit = 4;  // quad: FL FR BL BR
        }
        w.push_back(bit < 11 ? kBySpeaker[static_cast<std::size_t>(bit)]
                             : std::array<double, 2>{0.5, 0.5});
        ++bit;
    }
    // Scaled so a signal on every channel at once cannot clip.
    double sum[2] = {0, 0};
    for (const auto& c : w) {
        sum[0] += c[0];
        sum[1] += c[1];
    }
    const double scale = 1.0 / std::max({sum[0], sum[1], 1.0});
    for (auto& c : w) c = {c[0] * scale, c[1] * scale};
}

void ConvertSamples(const std::uint8_t* in, std::size_t n, const StreamInfo& info,
                    std::int16_t* out);

}  // namespace

void ConvertStoredSamples(const std::uint8_t* in, std::size_t frames, const StreamInfo& info,
                          std::int16_t* out) {
    if (info.StoredChannels <= info.Channels) {
        ConvertSamples(in, frames * info.Channels, info, out);
        return;
    }
    const std::size_t stored = info.StoredChannels;
    std::vector<std::int16_t> wide(frames * stored);
    ConvertSamples(in, wide.size(), info, wide.data());
    std::vector<std::array<double, 2>> w;
    DownmixWeights(info, w);
    for (std::size_t f = 0; f < frames; ++f) {
        double l = 0, r = 0;
        for (std::size_t c = 0; c < stored; ++c) {
            l += w[c][0] * wide[f * stored + c];
            r += w[c][1] * wide[f * stored + c];
        }
        out[2 * f] = static_cast<std::int16_t>(std::lround(std::clamp(l, -32768.0, 32767.0)));
        out[2 * f + 1] = static_cast<std::int16_t>(std::lround(std::clamp(r, -32768.0, 32767.0)));
    }
}

void MixStoredChannelsWide(const std::int32_t* in, std::size_t frames, const StreamInfo& info,
                           std::int32_t* out) {
    const std::size_t stored = info.StoredChannels;
    std::vector<std::array<double, 2>> w;
    DownmixWeights(info, w);
    constexpr double kLow = -2147483648.0, kHigh = 2147483647.0;
    for (std::size_t f = 0; f < frames; ++f) {
        double l = 0, r = 0;
        for (std::size_t c = 0; c < stored; ++c) {
            l += w[c][0] * in[f * stored + c];
            r += w[c][1] * in[f * stored + c];
        }
        out[2 * f] = static_cast<std::int32_t>(std::llround(std::clamp(l, kLow, kHigh)));
        out[2 * f + 1] = static_cast<std::int32_t>(std::llround(std::clamp(r, kLow, kHigh)));
    }
}

namespace {

void ConvertSamples(const std::uint8_t* in, std::size_t n, const StreamInfo& info,
                    std::int16_t* out) {
    auto clip = [](std::int64_t v) {
        return static_cast<std::int16_t>(v > 32767 ? 32767 : v < -32768 ? -32768 : v);
    };
    auto fromFloat = [&](double x) {
        if (!(x == x)) return std::int16_t{0};  // NaN
        double s = std::nearbyint(x * 32768.0);
        return static_cast<std::int16_t>(s > 32767.0 ? 32767 : s < -32768.0 ? -32768 : s);
    };
    if (info.Encoding == SampleEncoding::Float) {
        if (info.BitsPerSample == 32) {
            for (std::size_t i = 0; i < n; ++i) {
                float f;
                std::memcpy(&f, in + 4 * i, 4);
                out[i] = fromFloat(f);
            }
        } else {
            for (std::size_t i = 0; i < n; ++i) {
                double d;
                std::memcpy(&d, in + 8 * i, 8);
                out[i] = fromFloat(d);
            }
        }
        return;
    }
    if (info.BitsPerSample == 8) {
        for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<std::int16_t>((in[i] - 128) * 256);
    } else if (info.BitsPerSample == 16) {
        for (std::size_t i = 0; i < n; ++i)
            out[i] = static_cast<std::int16_t>(
                static_cast<std::uint16_t>(in[2 * i] | in[2 * i + 1] << 8));
    } else if (info.BitsPerSample == 24) {
        for (std::size_t i = 0; i < n; ++i) {
            const std::uint8_t* p = in + 3 * i;
            std::int32_t v = static_cast<std::int32_t>(static_cast<std::uint32_t>(p[0]) << 8 |
                                                       static_cast<std::uint32_t>(p[1]) << 16 |
                                                       static_cast<std::uint32_t>(p[2]) << 24) >>
                             8;
            out[i] = clip((static_cast<std::int64_t>(v) + 128) >> 8);
        }
    } else if (info.BitsPerSample == 32) {
        for (std::size_t i = 0; i < n; ++i) {
            std::int32_t v = static_cast<std::int32_t>(Le32(in + 4 * i));
            out[i] = clip((static_cast<std::int64_t>(v) + 32768) >> 16);
        }
    }
}

}  // namespace

}  // namespace tralux
