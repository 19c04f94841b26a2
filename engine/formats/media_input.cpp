#include "engine/formats/media_input.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <memory>
#include <vector>

#include "engine/formats/riff_reader.h"
#include "engine/job/engine_state.h"
#include "engine/job/errors.h"
#include "engine/job/job.h"
#include "platform/media/media_decoder.h"
#include "platform/notify/notifier.h"

namespace tralux {
namespace {

std::unique_ptr<platform::MediaDecoder> g_decoder;

void Describe(const platform::MediaDecoder& d, StreamInfo& info) {
    const platform::MediaDescription& m = d.Description();
    info = StreamInfo{};
    info.Kind = kKindMedia;
    info.SampleRate = m.Rate;
    info.MediaChannels = static_cast<std::uint16_t>(m.Channels);
    info.Channels = static_cast<std::uint16_t>(std::min(m.Channels, 2));
    if (m.Channels > 2) {
        info.StoredChannels = static_cast<std::uint16_t>(m.Channels);
        info.ChannelMask = static_cast<std::uint32_t>(m.ChannelMask);
    }
    // The pipeline carries 16 bits; a lossless source's own width is kept for the probe line.
    info.MediaBits = static_cast<std::uint16_t>(m.BitsPerSample);
    info.BitsPerSample = 16;
    info.BlockAlign = static_cast<std::uint16_t>(info.Channels * 2);
    info.BitRate = info.BitRate2 =
        static_cast<std::uint32_t>(std::min<std::int64_t>(m.BitRate, UINT32_MAX));
    info.CodecName = MediaCodecDisplayName(m.Codec);
    if (m.Frames > 0 && m.Rate > 0)
        info.DurationMs = static_cast<std::uint32_t>(
            std::min<std::int64_t>(m.Frames * 1000 / m.Rate, UINT32_MAX));
}

// Reads `frames` frames (or fewer at the end) as the pipeline's interleaved 16-bit stereo or
// mono; -1 on a read error.
long ReadPipelineFrames(platform::MediaDecoder& d, const StreamInfo& info,
                        std::vector<std::int16_t>& stored, std::vector<std::int16_t>& out,
                        std::size_t frames) {
    const std::size_t channels = static_cast<std::size_t>(d.Description().Channels);
    stored.resize(frames * channels);
    const long got = d.Read16(stored.data(), frames);
    if (got <= 0) return got;
    const std::size_t n = static_cast<std::size_t>(got);
    if (channels <= 2) {
        out.assign(stored.begin(), stored.begin() + static_cast<std::ptrdiff_t>(n * channels));
        return got;
    }
    // The WAV reader's mixdown rule, on the decoder's 16-bit samples.
    StreamInfo mix;
    mix.Channels = 2;
    mix.StoredChannels = static_cast<std::uint16_t>(channels);
    mix.ChannelMask = info.ChannelMask;
    mix.BitsPerSample = 16;
    mix.Encoding = SampleEncoding::Integer;
    out.resize(n * 2);
    ConvertStoredSamples(reinterpret_cast<const std::uint8_t*>(stored.data()), n, mix, out.data());
    return got;
}

}  // namespace

bool LooksLikeMediaContainer(const std::uint8_t* h, std::size_t size) {
    auto at = [&](std::size_t offset, const char* magic) {
        const std::size_t n = std::strlen(magic);
        return size >= offset + n && std::memcmp(h + offset, magic, n) == 0;
    };
    static constexpr std::uint8_t kAsf[] = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11};
    return at(0, "fLaC") || at(0, "OggS") || at(0, "FORM") || at(4, "ftyp") || at(0, "MAC ") ||
           at(0, "wvpk") || at(0, "caff") || at(0, "TTA1") ||
           (size >= sizeof kAsf && std::memcmp(h, kAsf, sizeof kAsf) == 0);
}

std::string MediaCodecDisplayName(const std::string& decoder) {
    static const std::pair<const char*, const char*> kNames[] = {{"flac", "FLAC"},
                                                                 {"vorbis", "Vorbis"},
                                                                 {"libvorbis", "Vorbis"},
                                                                 {"opus", "Opus"},
                                                                 {"libopus", "Opus"},
                                                                 {"aac", "AAC"},
                                                                 {"alac", "ALAC"},
                                                                 {"mp3float", "MP3"},
                                                                 {"mp3", "MP3"},
                                                                 {"mp2float", "MP2"},
                                                                 {"mp2", "MP2"},
                                                                 {"ape", "APE"},
                                                                 {"wavpack", "WavPack"},
                                                                 {"wmav1", "WMA"},
                                                                 {"wmav2", "WMA"},
                                                                 {"wmapro", "WMA Pro"},
                                                                 {"wmalossless", "WMA Lossless"},
                                                                 {"tta", "TTA"},
                                                                 {"ac3", "AC-3"},
                                                                 {"eac3", "E-AC-3"},
                                                                 {"dca", "DTS"}};
    for (const auto& [name, shown] : kNames)
        if (decoder == name) return shown;
    if (decoder.rfind("pcm_", 0) == 0) return "PCM";
    if (decoder.rfind("adpcm_", 0) == 0) return "ADPCM";
    std::string upper = decoder;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return upper;
}

const std::vector<std::string>& MediaInputExtensions() {
    static const std::vector<std::string> kExtensions{
        ".flac", ".ogg", ".oga", ".opus", ".m4a", ".m4b", ".mp4", ".aac", ".aif", ".aiff", ".aifc",
        ".ape",  ".wv",  ".mp2", ".mpc",  ".wma", ".asf", ".tta", ".caf", ".ac3", ".spx"};
    return kExtensions;
}

bool IsInputExtension(std::string extension) {
    for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (extension == ".wav" || extension == ".mp3") return true;
    const auto& media = MediaInputExtensions();
    return std::find(media.begin(), media.end(), extension) != media.end();
}

bool ProbeMedia(const std::string& path, StreamInfo& info) {
    std::string error;
    const auto d = platform::MediaDecoder::Open(path, error);
    if (!d) return false;
    Describe(*d, info);
    return true;
}

bool ProbeMediaMemory(const std::uint8_t* data, std::size_t size, StreamInfo& info) {
    std::string error;
    const auto d = platform::MediaDecoder::OpenMemory(data, size, error);
    if (!d) return false;
    Describe(*d, info);
    return true;
}

bool MediaInputOpen(const std::string& path) {
    std::string error;
    g_decoder = platform::MediaDecoder::Open(path, error);
    if (!g_decoder) {
        ShowMessage("Cannot decode " + path + ": " + error, "Quorvatix Tralux", MessageIcon::Error);
        return false;
    }
    return true;
}

void MediaInputClose() {
    g_decoder.reset();
}

std::size_t MediaSourceLoop(const StreamInfo& info) {
    EngineState& e = Engine();
    if (!g_decoder) throw JobError(kErrCodecInit);
    platform::MediaDecoder& d = *g_decoder;
    const std::uint32_t startMs = e.StartMs.load();
    const std::uint64_t skip =
        static_cast<std::uint64_t>(static_cast<double>(info.SampleRate) * startMs / 1000.0);
    if (skip && !d.Seek(skip)) throw FileError(kCauseGeneric, e.InputPath, d.ErrorText());
    e.PositionMs.store(startMs);
    e.PlaybackStartMs.store(startMs);
    StreamInfo pipe = info;
    pipe.StoredChannels = 0;
    std::vector<std::int16_t> stored, out;
    const std::size_t block = std::max<std::size_t>(info.SampleRate / 4, 1024);
    std::size_t total = 0;
    for (;;) {
        const long got = ReadPipelineFrames(d, info, stored, out, block);
        if (got < 0) throw FileError(kCauseGeneric, e.InputPath, d.ErrorText());
        if (got == 0) break;
        total += ProcessBlock(reinterpret_cast<std::uint8_t*>(out.data()), out.size() * 2, pipe);
    }
    return total;
}

std::uint64_t DecodeMediaMemoryForTesting(const std::uint8_t* data, std::size_t size) {
    std::string error;
    auto d = platform::MediaDecoder::OpenMemory(data, size, error);
    if (!d) return 0;
    StreamInfo info;
    Describe(*d, info);
    std::vector<std::int16_t> stored, out;
    std::uint64_t frames = 0;
    for (int blocks = 0; blocks < 4096; ++blocks) {
        const long got = ReadPipelineFrames(*d, info, stored, out, 4096);
        if (got <= 0) break;
        frames += static_cast<std::uint64_t>(got);
    }
    if (frames > 1000) d->Seek(frames / 2);
    return frames;
}

}  // namespace tralux
