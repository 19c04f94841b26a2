#include "engine/outputs/mp3_input.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <vector>

#include "engine/job/engine_state.h"
#include "engine/job/errors.h"
#include "engine/job/job.h"
#include "engine/outputs/mp3_info_frame.h"
#include "mp3dec/mp3dec.h"

namespace tralux {

namespace {

constexpr std::size_t kProbeBytes = 8192;
constexpr std::size_t kInputBytes = 16384;
constexpr std::size_t kOutputBytes = 4608;  // one frame of 1152 stereo 16-bit samples
constexpr std::size_t kBatchBytes = 32768;  // decoded bytes handed on at once

// A stream-information object and a decoder created together.
struct DecoderPair {
    mp3dec::Mp3InfoHandle info;
    mp3dec::Mp3DecoderHandle decoder;

    bool Open() {
        Close();
        if (mp3dec::Mp3InfoCreate(info) != mp3dec::kOk) return false;
        if (mp3dec::Mp3DecoderCreate(decoder, 0, false, false) != mp3dec::kOk) {
            Close();
            return false;
        }
        return true;
    }
    void Close() {
        if (info.object) mp3dec::Mp3InfoDelete(info);
        if (decoder.object) mp3dec::Mp3DecoderDelete(decoder);
    }
    ~DecoderPair() { Close(); }
};

// The job's pair; only the job's worker thread touches it.
DecoderPair& JobPair() {
    static DecoderPair pair;
    return pair;
}

// Offset of the first byte after the ID3 version 2 tags at the start of the file.
std::uint64_t SkipId3v2(File& file) {
    const std::uint64_t length = file.Length();
    std::uint64_t at = 0;
    for (int tags = 0; tags < 8 && at + 10 <= length; ++tags) {
        std::uint8_t head[10];
        file.Seek(at);
        if (!file.ReadExact(head, sizeof head)) break;
        const std::size_t size = mp3dec::Mp3Id3v2Size(head, sizeof head);
        if (size == 0) break;
        at = std::min<std::uint64_t>(length, at + size);
    }
    return at;
}

// Probes the stream from the start of the file (after leading tags). Returns the offset the
// probed bytes started at, or -1 when no stream was found.
std::int64_t ProbeFromStart(File& file, const mp3dec::Mp3InfoHandle& info) {
    const std::uint64_t start = SkipId3v2(file);
    const std::uint64_t length = file.Length();
    std::vector<std::uint8_t> bytes(kProbeBytes);
    file.Seek(start);
    const std::size_t got = file.Read(bytes.data(), bytes.size());
    if (got == 0) return -1;
    // Duration and seek positions are computed over the stream alone, without a trailing tag.
    std::uint64_t streamEnd = length;
    if (length >= start + 128) {
        std::uint8_t tag[3];
        file.Seek(length - 128);
        if (file.ReadExact(tag, 3) && std::memcmp(tag, "TAG", 3) == 0) streamEnd = length - 128;
    }
    if (!mp3dec::Mp3InfoProbe(info, bytes.data(), got,
                              static_cast<std::int64_t>(streamEnd - start)))
        return -1;
    return static_cast<std::int64_t>(start);
}

// The header frame at the stream's start, when there is one; the file position is kept.
bool ReadHeaderFrame(File& file, std::uint64_t at, Mp3InfoTag& tag) {
    const std::uint64_t keep = file.Position();
    std::vector<std::uint8_t> frame(2048);
    file.Seek(at);
    const std::size_t got = file.Read(frame.data(), frame.size());
    file.Seek(keep);
    return ReadMp3InfoTag(frame.data(), got, tag);
}

std::string FileTitle(const File& file) {
    return std::filesystem::path(file.Path()).stem().string();
}

}  // namespace

bool ProbeMp3(File& file, StreamInfo& info, bool clear) {
    DecoderPair pair;
    if (!pair.Open()) return false;
    if (clear) {
        info = StreamInfo{};
        info.Kind = kKindMp3;
    }
    const std::uint64_t keep = file.Position();
    const std::int64_t start = ProbeFromStart(file, pair.info);
    if (start >= 0) {
        const mp3dec::Mp3StreamInfo& si = *mp3dec::Mp3InfoGet(pair.info);
        info.SampleRate = static_cast<std::uint32_t>(si.sampleRate);
        info.Channels = static_cast<std::uint16_t>(si.channels);
        info.BitsPerSample = 16;
        info.BitRate = info.BitRate2 = static_cast<std::uint32_t>(si.bitrate);
        info.DataSize = file.Length();
        info.BlockAlign = 1;
        info.CodecName = "MP3";
        info.DurationMs =
            static_cast<std::uint32_t>(std::min<std::int64_t>(si.durationMs, UINT32_MAX));
        info.FirstFrameOffset = static_cast<std::uint64_t>(start + si.firstFrameOffset);
        // With the frame count and the encoder's delay and padding, the length is exact.
        Mp3InfoTag tag;
        if (ReadHeaderFrame(file, info.FirstFrameOffset, tag) && tag.hasFrames &&
            tag.hasExtension && si.samplesPerFrame > 0 && si.sampleRate > 0) {
            const std::int64_t samples =
                static_cast<std::int64_t>(tag.frames) * si.samplesPerFrame - tag.delay -
                tag.padding;
            // A header that leaves no samples means an empty stream, not its frames' length.
            info.DurationMs = static_cast<std::uint32_t>(
                std::clamp<std::int64_t>(samples * 1000 / si.sampleRate, 0, UINT32_MAX));
            // A cut file holds fewer bytes than the header counted: it lasts that share.
            const auto present =
                static_cast<std::uint64_t>(std::max<std::int64_t>(0, si.fileLength));
            if (tag.hasBytes && tag.bytes > present + 4) {
                info.DeclaredDurationMs = info.DurationMs;
                info.DurationMs =
                    static_cast<std::uint32_t>(static_cast<double>(info.DurationMs) *
                                               static_cast<double>(present) / tag.bytes);
            }
        }
        info.TitleIsFileName = true;
        if (ReadId3v1(file, info.Title, info.Artist, info.Comment) && !info.Title.empty())
            info.TitleIsFileName = false;
        else
            info.Title = FileTitle(file);
    }
    file.Seek(keep);
    return info.SampleRate != 0;
}

bool Mp3InputOpen() {
    return JobPair().Open();
}

void Mp3InputClose() {
    JobPair().Close();
}

std::size_t Mp3SourceLoop(File& file, const StreamInfo& info) {
    EngineState& e = Engine();
    DecoderPair& pair = JobPair();
    if (!pair.info.object || !pair.decoder.object) throw JobError(kErrCodecInit);
    const std::uint32_t startMs = e.StartMs.load();
    e.PositionMs.store(startMs);
    e.PlaybackStartMs.store(startMs);

    // Probe again from the start of the file: the VBR table lives in the first frame.
    const std::int64_t start = ProbeFromStart(file, pair.info);
    if (start < 0) return 0;
    // A conversion starts at the exact sample, as WAV input does: decode from the first frame
    // and drop what lies before it (frame offsets alone are up to a frame early, and a VBR
    // table is coarser still). A preview starts at the frame, at once.
    const bool exact = startMs > 0 && e.OutputMode.load() != kModePreview;
    const std::int64_t offset =
        start +
        mp3dec::Mp3InfoSeekOffset(pair.info, exact ? 0 : static_cast<std::int64_t>(startMs));
    // A Xing/Info/VBRI frame is a header, not audio; its extension tells how many samples
    // the encoder put before the first input sample and after the last one.
    const std::uint64_t headerAt =
        static_cast<std::uint64_t>(start + mp3dec::Mp3InfoGet(pair.info)->firstFrameOffset);
    Mp3InfoTag tag;
    const bool hasHeaderFrame = ReadHeaderFrame(file, headerAt, tag);
    const std::size_t frameBytes = static_cast<std::size_t>(info.Channels) * 2;
    std::size_t skipBytes = 0, holdBytes = 0;
    if (exact)
        skipBytes =
            static_cast<std::size_t>(static_cast<double>(info.SampleRate) * startMs / 1000.0) *
            frameBytes;
    if (hasHeaderFrame && tag.hasExtension) {
        if (startMs == 0 || exact)
            skipBytes += static_cast<std::size_t>(tag.delay + kMp3DecoderDelay) * frameBytes;
        holdBytes =
            static_cast<std::size_t>(std::max(0, tag.padding - kMp3DecoderDelay)) * frameBytes;
    }
    file.Seek(static_cast<std::uint64_t>(offset));
    mp3dec::Mp3DecoderReset(pair.decoder);
    mp3dec::Mp3DecoderSetPosition(pair.decoder, offset);
    mp3dec::Mp3DecoderSetTaggedEncoder(pair.decoder, mp3dec::Mp3InfoGet(pair.info)->vbrHeader);
    std::vector<std::uint8_t> pending;  // held back until it is known not to be end padding
    pending.reserve(kBatchBytes + kOutputBytes + holdBytes);

    std::vector<std::uint8_t> input(kInputBytes);
    std::size_t fill = 0, used = 0;  // counts start empty for every loop
    bool ended = false;
    std::vector<std::uint8_t> output(kOutputBytes);
    std::vector<std::uint8_t> converted(kOutputBytes);
    const int channels = info.Channels;
    std::size_t total = 0;
    while (!mp3dec::Mp3DecoderIsEof(pair.decoder)) {
        if (used == fill && !ended) {
            fill = file.Read(input.data(), input.size());
            used = 0;
            // The decoder still holds whole frames when the file runs out: mark the end and
            // keep decoding until it reports the end of the data.
            if (fill < input.size()) {
                mp3dec::Mp3DecoderEndOfInput(pair.decoder);
                ended = true;
            }
        }
        if (used < fill) {
            std::size_t accepted = 0;
            mp3dec::Mp3DecoderFeed(pair.decoder, input.data() + used, fill - used, accepted);
            used += accepted;
        }
        std::size_t produced = 0;
        const mp3dec::Status s =
            mp3dec::Mp3DecoderDecode(pair.decoder, output.data(), output.size(), produced);
        if (!mp3dec::StatusOutputValid(s) || produced == 0) continue;
        mp3dec::Mp3FrameProperties p;
        mp3dec::Mp3DecoderProperties(pair.decoder, p);
        if (hasHeaderFrame && p.frameOffset == static_cast<std::int64_t>(headerAt)) continue;
        std::uint8_t* block = output.data();
        std::size_t bytes = produced;
        // Frames may switch between mono and stereo: every block keeps the announced format.
        if (p.outputChannels != channels && channels >= 1 && channels <= 2) {
            const auto* in = reinterpret_cast<const std::int16_t*>(output.data());
            auto* out = reinterpret_cast<std::int16_t*>(converted.data());
            const std::size_t frames = produced / 2 / static_cast<std::size_t>(p.outputChannels);
            if (channels == 1) {
                for (std::size_t i = 0; i < frames; ++i)
                    out[i] = static_cast<std::int16_t>((in[2 * i] + in[2 * i + 1]) / 2);
                bytes = frames * 2;
            } else {
                for (std::size_t i = 0; i < frames; ++i) out[2 * i] = out[2 * i + 1] = in[i];
                bytes = frames * 4;
            }
            block = converted.data();
        }
        const std::size_t skip = std::min(skipBytes, bytes);
        skipBytes -= skip;
        pending.insert(pending.end(), block + skip, block + bytes);
        // Frames go on in batches: one pass through the pipeline and one write per batch.
        if (pending.size() >= holdBytes + kBatchBytes) {
            const std::size_t n = pending.size() - holdBytes;
            total += ProcessBlock(pending.data(), n, info);
            pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(n));
        }
    }
    if (pending.size() > holdBytes)
        total += ProcessBlock(pending.data(), pending.size() - holdBytes, info);
    return total;
}

bool ReadId3v1(File& file, std::string& title, std::string& artist, std::string& comment) {
    const std::uint64_t keep = file.Position();
    const std::uint64_t length = file.Length();
    if (length < 128) return false;
    std::uint8_t tag[128];
    file.Seek(length - 128);
    const bool ok = file.ReadExact(tag, sizeof tag);
    file.Seek(keep);
    if (!ok || std::memcmp(tag, "TAG", 3) != 0) return false;
    auto field = [&](int offset) {
        std::string s(reinterpret_cast<const char*>(tag + offset), 30);
        s.resize(std::strlen(s.c_str()));
        while (!s.empty() && s.back() == ' ') s.pop_back();
        return s;
    };
    title = field(3);
    artist = field(33);
    comment = field(97);
    return true;
}

}  // namespace tralux
