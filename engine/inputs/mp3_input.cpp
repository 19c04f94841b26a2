#include "engine/inputs/mp3_input.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <vector>

#include "engine/job/errors.h"
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

// Walks the frame headers from the frame at `at` (frame 0): the offsets of frames `first` and
// `last` (first <= last) and the samples per frame. False when the headers stop before `last`.
bool FrameOffsets(File& file, std::uint64_t at, std::uint64_t first, std::uint64_t last,
                  std::uint64_t& firstAt, std::uint64_t& lastAt, int& samplesPerFrame) {
    const std::uint64_t keep = file.Position();
    std::vector<std::uint8_t> buf(65536);
    std::uint64_t bufAt = 0;
    std::size_t got = 0;
    bool ok = false;
    for (std::uint64_t i = 0;; ++i) {
        if (at < bufAt || at + 4 > bufAt + got) {
            file.Seek(at);
            bufAt = at;
            got = file.Read(buf.data(), buf.size());
            if (got < 4) break;
        }
        int spf = 0;
        const int length =
            mp3dec::Mp3FrameLength(buf.data() + (at - bufAt), got - (at - bufAt), spf);
        if (length <= 0 || (i > 0 && spf != samplesPerFrame)) break;
        samplesPerFrame = spf;
        if (i == first) firstAt = at;
        if (i == last) {
            lastAt = at;
            ok = true;
            break;
        }
        at += static_cast<std::uint64_t>(length);
    }
    file.Seek(keep);
    return ok;
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

namespace {

class Mp3Input final : public Input {
public:
    Mp3Input(File& file, const StreamInfo& info, const InputOptions& options)
        : file_(file), info_(info), exactSeek_(options.exactSeek) {
        if (!pair_.Open()) throw JobError(kErrCodecInit);
    }

    const StreamInfo& Describe() const override { return info_; }

    void Seek(std::uint64_t frame) override {
        startFrame_ = frame;
        started_ = false;
    }

    std::size_t Read(std::uint8_t* buffer, std::size_t bytes) override {
        const std::size_t frameBytes = static_cast<std::size_t>(info_.Channels) * 2;
        bytes -= bytes % frameBytes;
        std::size_t done = 0;
        while (done < bytes) {
            if (leftUsed_ == leftover_.size()) {
                std::uint8_t* block = nullptr;
                std::size_t n = 0;
                if (!Next(block, n)) break;
                leftover_.assign(block, block + n);
                leftUsed_ = 0;
            }
            const std::size_t n = std::min(bytes - done, leftover_.size() - leftUsed_);
            std::copy_n(leftover_.data() + leftUsed_, n, buffer + done);
            leftUsed_ += n;
            done += n;
        }
        return done;
    }

    // Block by block as decoded: no copying.
    void Pump(BlockSink& sink) override {
        if (leftUsed_ < leftover_.size()) {
            sink.Block(leftover_.data() + leftUsed_, leftover_.size() - leftUsed_);
            leftUsed_ = leftover_.size();
        }
        std::uint8_t* block = nullptr;
        std::size_t n = 0;
        while (Next(block, n)) sink.Block(block, n);
    }

    void Finish() override { pair_.Close(); }

private:
    void Start() {
        started_ = true;
        ended_ = true;  // until the stream is found
        const std::uint64_t rate = info_.SampleRate ? info_.SampleRate : 1;
        // The millisecond the frame was taken from (the seek table counts in milliseconds).
        const std::uint32_t startMs =
            static_cast<std::uint32_t>((startFrame_ * 1000 + rate - 1) / rate);
        // Probe again from the start of the file: the VBR table lives in the first frame.
        const std::int64_t start = ProbeFromStart(file_, pair_.info);
        if (start < 0) return;
        // A Xing/Info/VBRI frame is a header, not audio; its extension tells how many samples
        // the encoder put before the first input sample and after the last one.
        headerAt_ =
            static_cast<std::uint64_t>(start + mp3dec::Mp3InfoGet(pair_.info)->firstFrameOffset);
        Mp3InfoTag tag;
        hasHeaderFrame_ = ReadHeaderFrame(file_, headerAt_, tag);
        const std::size_t frameBytes = static_cast<std::size_t>(info_.Channels) * 2;
        const std::uint64_t lead = hasHeaderFrame_ && tag.hasExtension
                                       ? static_cast<std::uint64_t>(tag.delay + kMp3DecoderDelay)
                                       : 0;
        skipBytes_ = holdBytes_ = 0;
        warmUntil_ = -1;
        if (hasHeaderFrame_ && tag.hasExtension)
            holdBytes_ =
                static_cast<std::size_t>(std::max(0, tag.padding - kMp3DecoderDelay)) * frameBytes;
        // An exact start decodes from the first frame and drops what lies before it (frame
        // offsets alone are up to a frame early, and a VBR table is coarser still). A preview
        // decodes from a few frames before the one holding the start, found by walking the frame
        // headers (the bit reservoir and the overlap need those frames; their sound is dropped),
        // so it starts at once and at the same sample; where the walk fails, at the frame.
        const bool exact = startFrame_ > 0 && exactSeek_;
        std::int64_t offset = 0;
        if (startFrame_ == 0 || exact) {
            offset = start + mp3dec::Mp3InfoSeekOffset(pair_.info, 0);
            skipBytes_ = static_cast<std::size_t>(startFrame_ + lead) * frameBytes;
        } else {
            constexpr std::uint64_t kWarmFrames = 10;
            const int spf = mp3dec::Mp3InfoGet(pair_.info)->samplesPerFrame;
            std::uint64_t audioAt = headerAt_, warmAt = 0, targetAt = 0;
            bool walk = spf > 0;
            if (hasHeaderFrame_) {
                std::uint8_t head[4] = {};
                file_.Seek(headerAt_);
                int headerSpf = 0;
                const int length = file_.ReadExact(head, sizeof head)
                                       ? mp3dec::Mp3FrameLength(head, sizeof head, headerSpf)
                                       : 0;
                audioAt = headerAt_ + static_cast<std::uint64_t>(std::max(length, 0));
                walk = walk && length > 0;
            }
            const std::uint64_t target = startFrame_ + lead;
            const std::uint64_t frame = spf > 0 ? target / static_cast<std::uint64_t>(spf) : 0;
            const std::uint64_t warm = frame > kWarmFrames ? frame - kWarmFrames : 0;
            int walkedSpf = 0;
            if (walk && FrameOffsets(file_, audioAt, warm, frame, warmAt, targetAt, walkedSpf) &&
                walkedSpf == spf) {
                offset = static_cast<std::int64_t>(warmAt);
                warmUntil_ = static_cast<std::int64_t>(targetAt);
                skipBytes_ =
                    static_cast<std::size_t>(target - frame * static_cast<std::uint64_t>(spf)) *
                    frameBytes;
            } else {
                offset = start +
                         mp3dec::Mp3InfoSeekOffset(pair_.info, static_cast<std::int64_t>(startMs));
            }
        }
        file_.Seek(static_cast<std::uint64_t>(offset));
        mp3dec::Mp3DecoderReset(pair_.decoder);
        mp3dec::Mp3DecoderSetPosition(pair_.decoder, offset);
        mp3dec::Mp3DecoderSetTaggedEncoder(pair_.decoder,
                                           mp3dec::Mp3InfoGet(pair_.info)->vbrHeader);
        pending_.clear();
        pending_.reserve(kBatchBytes + kOutputBytes + holdBytes_);
        handed_ = 0;
        leftover_.clear();
        leftUsed_ = 0;
        fill_ = used_ = 0;
        ended_ = false;
        eof_ = false;
    }

    // The next block of audio; false at the end of the stream.
    bool Next(std::uint8_t*& out, std::size_t& outBytes) {
        if (!started_) Start();
        if (!pair_.decoder.object) return false;
        // What was handed out last time leaves the front of pending_ now.
        if (handed_ > 0) {
            pending_.erase(pending_.begin(),
                           pending_.begin() + static_cast<std::ptrdiff_t>(handed_));
            handed_ = 0;
        }
        while (!eof_ && !mp3dec::Mp3DecoderIsEof(pair_.decoder)) {
            if (used_ == fill_ && !ended_) {
                fill_ = file_.Read(input_.data(), input_.size());
                used_ = 0;
                // The decoder still holds whole frames when the file runs out: mark the end and
                // keep decoding until it reports the end of the data.
                if (fill_ < input_.size()) {
                    mp3dec::Mp3DecoderEndOfInput(pair_.decoder);
                    ended_ = true;
                }
            }
            if (used_ < fill_) {
                std::size_t accepted = 0;
                mp3dec::Mp3DecoderFeed(pair_.decoder, input_.data() + used_, fill_ - used_,
                                       accepted);
                used_ += accepted;
            }
            std::size_t produced = 0;
            const mp3dec::Status s =
                mp3dec::Mp3DecoderDecode(pair_.decoder, output_.data(), output_.size(), produced);
            if (!mp3dec::StatusOutputValid(s) || produced == 0) continue;
            mp3dec::Mp3FrameProperties p;
            mp3dec::Mp3DecoderProperties(pair_.decoder, p);
            if (hasHeaderFrame_ && p.frameOffset == static_cast<std::int64_t>(headerAt_)) continue;
            if (p.frameOffset < warmUntil_) continue;  // a preview's warm-up frames
            std::uint8_t* block = output_.data();
            std::size_t bytes = produced;
            // Frames may switch between mono and stereo: every block keeps the announced format.
            const int channels = info_.Channels;
            if (p.outputChannels != channels && channels >= 1 && channels <= 2) {
                const auto* in = reinterpret_cast<const std::int16_t*>(output_.data());
                auto* conv = reinterpret_cast<std::int16_t*>(converted_.data());
                const std::size_t frames =
                    produced / 2 / static_cast<std::size_t>(p.outputChannels);
                if (channels == 1) {
                    for (std::size_t i = 0; i < frames; ++i)
                        conv[i] = static_cast<std::int16_t>((in[2 * i] + in[2 * i + 1]) / 2);
                    bytes = frames * 2;
                } else {
                    for (std::size_t i = 0; i < frames; ++i) conv[2 * i] = conv[2 * i + 1] = in[i];
                    bytes = frames * 4;
                }
                block = converted_.data();
            }
            const std::size_t skip = std::min(skipBytes_, bytes);
            skipBytes_ -= skip;
            pending_.insert(pending_.end(), block + skip, block + bytes);
            // Frames go on in batches: one pass through the pipeline and one write per batch.
            if (pending_.size() >= holdBytes_ + kBatchBytes) {
                handed_ = pending_.size() - holdBytes_;
                out = pending_.data();
                outBytes = handed_;
                return true;
            }
        }
        eof_ = true;
        if (pending_.size() > holdBytes_) {
            handed_ = pending_.size() - holdBytes_;
            out = pending_.data();
            outBytes = handed_;
            return true;
        }
        return false;
    }

    File& file_;
    StreamInfo info_;
    bool exactSeek_;
    DecoderPair pair_;
    std::uint64_t startFrame_ = 0;
    bool started_ = false;
    std::uint64_t headerAt_ = 0;
    bool hasHeaderFrame_ = false;
    std::size_t skipBytes_ = 0, holdBytes_ = 0;
    std::int64_t warmUntil_ = -1;        // frames before this offset only prepare the decoder
    std::vector<std::uint8_t> pending_;  // held back until it is known not to be end padding
    std::size_t handed_ = 0;             // front bytes of pending_ already handed out
    std::vector<std::uint8_t> input_ = std::vector<std::uint8_t>(kInputBytes);
    std::size_t fill_ = 0, used_ = 0;
    bool ended_ = false, eof_ = false;
    std::vector<std::uint8_t> output_ = std::vector<std::uint8_t>(kOutputBytes);
    std::vector<std::uint8_t> converted_ = std::vector<std::uint8_t>(kOutputBytes);
    std::vector<std::uint8_t> leftover_;  // Read's part of a block not yet taken
    std::size_t leftUsed_ = 0;
};

}  // namespace

std::unique_ptr<Input> OpenMp3Input(File& file, const StreamInfo& info,
                                    const InputOptions& options) {
    return std::make_unique<Mp3Input>(file, info, options);
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
