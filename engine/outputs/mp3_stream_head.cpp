#include "engine/outputs/mp3_stream_head.h"

#include <algorithm>
#include <vector>

#include "engine/outputs/id3v2_writer.h"
#include "engine/outputs/mp3_info_frame.h"

namespace tralux {

void Mp3StreamHead::Begin(File& file, std::uint32_t rate, int channels, const TagTexts* tags,
                          const CoverArt* cover) {
    *this = Mp3StreamHead{};
    if (tags) {
        const TagTexts& t = *tags;
        // The third text is the comment when the input had no copyright notice of its own.
        const std::string copyright = t.copyright == t.comment ? std::string() : t.copyright;
        const std::vector<std::uint8_t> tag = BuildId3v2Tag(
            {t.title, t.artist, t.album, t.year, t.track, t.comment, copyright, t.genre}, cover);
        if (!tag.empty()) file.Write(tag.data(), tag.size());
    }
    infoBytes_ = Mp3InfoFrameBytes(rate, channels);
    if (infoBytes_ == 0) return;  // not an MPEG rate: the encoder refuses it anyway
    infoAt_ = file.Position();
    rate_ = rate;
    channels_ = channels;
    Mp3InfoTag placeholder;
    placeholder.encoder = kInfoEncoderName;
    const std::vector<std::uint8_t> frame = BuildMp3InfoFrame(rate, channels, placeholder, 0);
    file.Write(frame.data(), frame.size());
    active_ = true;
}

void Mp3StreamHead::End(File& file, int encoderDelay, bool variable) {
    if (!active_) return;
    active_ = false;
    const std::uint64_t end = file.Length();
    const std::uint64_t audioAt = infoAt_ + infoBytes_;
    // Walk the frames the encoder wrote: their offsets make the seek table, their bytes the CRC.
    std::vector<std::uint32_t> offsets;
    std::uint16_t crc = 0;
    int samplesPerFrame = 0;
    std::vector<std::uint8_t> buf(1 << 16);
    std::uint64_t next = audioAt;  // file offset of the next frame header
    bool walking = true;
    std::uint8_t header[4];
    int headerHave = 0;
    file.Seek(audioAt);
    for (std::uint64_t at = audioAt; at < end;) {
        const std::size_t got = file.Read(
            buf.data(), static_cast<std::size_t>(std::min<std::uint64_t>(buf.size(), end - at)));
        if (got == 0) break;
        crc = Crc16Update(crc, buf.data(), got);
        for (std::size_t i = 0; walking && i < got;) {
            const std::uint64_t pos = at + i;
            if (pos < next + static_cast<std::uint64_t>(headerHave)) {
                i = static_cast<std::size_t>(next + static_cast<std::uint64_t>(headerHave) - at);
                continue;
            }
            header[headerHave++] = buf[i++];
            if (headerHave < 4) continue;
            headerHave = 0;
            Mp3FrameHeader fh;
            if (!ParseMp3FrameHeader(header, 4, fh)) {
                walking = false;
                break;
            }
            samplesPerFrame = fh.samplesPerFrame;
            offsets.push_back(static_cast<std::uint32_t>(next - infoAt_));
            next += static_cast<std::uint64_t>(fh.frameBytes);
        }
        at += got;
    }
    Mp3InfoTag tag;
    tag.encoder = kInfoEncoderName;
    tag.xing = variable;
    tag.frames = static_cast<std::uint32_t>(offsets.size());
    tag.bytes = static_cast<std::uint32_t>(std::min<std::uint64_t>(end - infoAt_, UINT32_MAX));
    tag.toc = BuildMp3Toc(offsets, tag.bytes);
    // The encoder counts the decoder's filter bank in its delay; the field does not.
    tag.delay = std::max(0, encoderDelay - kMp3DecoderDelay);
    const std::int64_t total = static_cast<std::int64_t>(offsets.size()) * samplesPerFrame;
    tag.padding = static_cast<int>(
        std::max<std::int64_t>(0, total - tag.delay - static_cast<std::int64_t>(samples_)));
    const std::vector<std::uint8_t> frame = BuildMp3InfoFrame(rate_, channels_, tag, crc);
    file.Seek(infoAt_);
    file.Write(frame.data(), frame.size());
    file.Seek(end);
}

}  // namespace tralux
