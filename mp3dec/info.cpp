#include <algorithm>
#include <cmath>
#include <memory>
#include <new>
#include <vector>

#include "mp3dec/frame_finder.h"
#include "mp3dec/mp3dec.h"

namespace mp3dec {

namespace {

uint32_t Be32(const uint8_t* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}
uint32_t Be16(const uint8_t* p) {
    return (uint32_t(p[0]) << 8) | p[1];
}

// Clamp a double into [lo, hi] before it becomes an integer (NaN gives lo).
int64_t ClampToInt(double v, int64_t lo, int64_t hi) {
    if (!(v >= static_cast<double>(lo))) return lo;
    if (v >= static_cast<double>(hi)) return hi;
    return static_cast<int64_t>(v);
}

}  // namespace

class InfoObject {
public:
    const uint32_t magic = kInfoMagic;

    bool Probe(const uint8_t* bytes, size_t length, int64_t fileLength);
    const Mp3StreamInfo& info() const { return info_; }
    int64_t SeekMs(int64_t ms) const;
    int64_t SeekPercent(double percent) const;

private:
    void ParseVbrHeaders(const uint8_t* frame, size_t avail, const detail::FrameHeader& h);
    int64_t End() const { return info_.firstFrameOffset + info_.fileLength; }

    Mp3StreamInfo info_;
    double frameMs_ = 0.0;
    bool hasToc_ = false;
    uint8_t toc_[100] = {};
    std::vector<int64_t> vbriPos_;  // cumulative positions 0..count
    int vbriFramesPerEntry_ = 0;
};

size_t Mp3Id3v2Size(const uint8_t* b, size_t length) {
    if (!b || length < 10) return 0;
    if (b[0] != 'I' || b[1] != 'D' || b[2] != '3' || b[3] == 0xFF || b[4] == 0xFF) return 0;
    if ((b[6] | b[7] | b[8] | b[9]) & 0x80) return 0;  // sizes are 7 bits per byte
    const size_t body = (size_t(b[6]) << 21) | (size_t(b[7]) << 14) | (size_t(b[8]) << 7) | b[9];
    const bool footer = b[3] >= 4 && (b[5] & 0x10);
    return 10 + body + (footer ? 10 : 0);
}

bool InfoObject::Probe(const uint8_t* bytes, size_t length, int64_t fileLength) {
    info_ = Mp3StreamInfo{};
    hasToc_ = false;
    vbriPos_.clear();
    vbriFramesPerEntry_ = 0;
    if (!bytes || length == 0) return false;
    if (fileLength < 0) fileLength = 0;

    size_t start = Mp3Id3v2Size(bytes, length);
    if (start >= length) return false;  // the caller must skip a tag larger than what it gave us

    // Run the frame finder over the bytes alone, as a closed input.
    auto ring = std::make_unique<detail::InputRing>();
    detail::FrameFinder finder;
    finder.Reset();
    size_t fed = start;
    int64_t ringStart = static_cast<int64_t>(start);  // stream offset of the ring's read position
    double sumRate = 0, sumBitrate = 0;
    int frames = 0;
    int firstBitrate = -1;
    bool varies = false;
    detail::FrameHeader first;
    for (;;) {
        fed += ring->Feed(bytes + fed, length - fed);
        detail::FrameHeader h;
        size_t skipped = 0;
        const Status s = finder.Find(*ring, fed == length, h, skipped);
        ringStart += static_cast<int64_t>(skipped);
        if (s == kSyncEof) break;
        if ((s >> 30) == 3) return false;
        if (s != kOk) {
            if (s == kSyncLost) continue;
            if (fed == length && s != kSyncSearched) break;
            continue;
        }
        if (frames == 0) {
            first = h;
            info_.firstFrameOffset = ringStart;
        }
        if (firstBitrate < 0) firstBitrate = h.bitrate;
        if (h.bitrate != firstBitrate) varies = true;
        sumRate += h.sampleRate;
        sumBitrate += h.bitrate;
        ++frames;
        ring->Skip(static_cast<size_t>(h.frameBytes));
        ringStart += h.frameBytes;
    }
    if (frames == 0) return false;

    // Frames may switch between mono and stereo; the first frame's count is the stream's.
    info_.channels = first.channels;
    info_.sampleRate = static_cast<int>(std::lround(sumRate / frames));
    info_.bitrate = static_cast<int>(std::lround(sumBitrate / frames));
    info_.variableBitrate = varies;
    info_.samplesPerFrame = info_.sampleRate <= 24000 ? 576 : 1152;
    info_.fileLength = std::max<int64_t>(0, fileLength - info_.firstFrameOffset);
    frameMs_ = info_.samplesPerFrame * 1000.0 / info_.sampleRate;
    if (info_.bitrate > 0)
        info_.durationMs =
            ClampToInt(info_.fileLength / (info_.bitrate / 8.0) * 1000.0, 0, INT64_MAX / 2);

    const size_t off = static_cast<size_t>(info_.firstFrameOffset);
    // A VBR header and its table lie inside the first frame.
    ParseVbrHeaders(bytes + off, std::min(length - off, static_cast<size_t>(first.frameBytes)),
                    first);
    return true;
}

void InfoObject::ParseVbrHeaders(const uint8_t* f, size_t avail, const detail::FrameHeader& h) {
    const double fileLen = static_cast<double>(info_.fileLength);
    // A frame count that even the smallest frames could not fill the file with is not believed.
    auto plausibleFrames = [&](uint32_t frames) {
        return frames > 0 && frames <= fileLen / 24.0 + 1.0;
    };

    // VBRI: 36 bytes after the frame start.
    if (avail >= 36 + 26 && f[36] == 'V' && f[37] == 'B' && f[38] == 'R' && f[39] == 'I') {
        const uint8_t* v = f + 36;
        const uint32_t version = Be16(v + 4);
        const uint32_t bytes = Be32(v + 10);
        const uint32_t frames = Be32(v + 14);
        const uint32_t entries = Be16(v + 18);
        const uint32_t scale = Be16(v + 20);
        const uint32_t entrySize = Be16(v + 22);
        const uint32_t perEntry = Be16(v + 24);
        const size_t tableBytes = size_t(entries) * entrySize;
        const bool tableOk = entries == 0 || (perEntry > 0 && entrySize >= 1 && entrySize <= 4 &&
                                              36 + 26 + tableBytes <= avail);
        if (version == 1 && plausibleFrames(frames) && tableOk && bytes > 0) {
            info_.vbrHeader = true;
            info_.variableBitrate = true;
            info_.frames = frames;
            info_.fileLength = std::min<int64_t>(bytes, info_.fileLength);
            const double durationMs = frames * frameMs_;
            info_.durationMs = ClampToInt(durationMs, 0, INT64_MAX / 2);
            if (durationMs > 0)
                info_.bitrate =
                    static_cast<int>(ClampToInt(bytes * 8.0 / (durationMs * 0.001), 0, 1 << 30));
            if (entries > 0) {
                vbriPos_.assign(entries + 1, 0);
                const uint8_t* t = v + 26;
                for (uint32_t i = 1; i <= entries; ++i) {
                    uint32_t e = 0;
                    for (uint32_t b = 0; b < entrySize; ++b)
                        e = (e << 8) | t[(i - 1) * entrySize + b];
                    vbriPos_[i] = vbriPos_[i - 1] + static_cast<int64_t>(e) * scale;
                }
                vbriFramesPerEntry_ = static_cast<int>(perEntry);
                info_.seekTable = true;
            }
            return;
        }
    }

    // Xing / Info: after the side information (and the CRC word when present).
    const size_t base = 4 + static_cast<size_t>(h.sideInfoBytes);
    for (size_t pos : {base, base + 2}) {
        if (pos == base + 2 && !h.crc) break;
        if (avail < pos + 8) continue;
        const uint8_t* x = f + pos;
        const bool xing = x[0] == 'X' && x[1] == 'i' && x[2] == 'n' && x[3] == 'g';
        const bool infoTag = x[0] == 'I' && x[1] == 'n' && x[2] == 'f' && x[3] == 'o';
        if (!xing && !infoTag) continue;
        const uint32_t flags = Be32(x + 4);
        size_t p = pos + 8;
        uint32_t frames = 0, bytes = 0;
        if (flags & 1) {
            if (avail < p + 4) return;
            frames = Be32(f + p);
            p += 4;
            if (!plausibleFrames(frames)) return;
        }
        if (flags & 2) {
            if (avail < p + 4) return;
            bytes = Be32(f + p);
            p += 4;
            if (bytes == 0) return;
        }
        const uint8_t* toc = nullptr;
        if (flags & 4) {
            if (avail < p + 100) return;
            toc = f + p;
            p += 100;
        }
        info_.vbrHeader = true;
        if (xing) info_.variableBitrate = true;
        if (flags & 2) info_.fileLength = std::min<int64_t>(bytes, info_.fileLength);
        if (flags & 1) {
            info_.frames = frames;
            const double durationMs = frames * frameMs_;
            info_.durationMs = ClampToInt(durationMs, 0, INT64_MAX / 2);
            // "Info" marks a constant-bit-rate stream: its frames already give the exact rate.
            if (durationMs > 0 && xing)
                info_.bitrate = static_cast<int>(
                    ClampToInt(static_cast<double>(info_.fileLength) * 8.0 / (durationMs * 0.001),
                               0, 1 << 30));
        }
        if (toc) {
            std::copy(toc, toc + 100, toc_);
            hasToc_ = true;
            info_.seekTable = true;
        }
        return;
    }
}

int64_t InfoObject::SeekPercent(double percent) const {
    if (!(percent >= 0.0)) percent = 0.0;
    if (percent > 100.0) percent = 100.0;
    const double len = static_cast<double>(info_.fileLength);
    double rel;
    if (hasToc_) {
        const int i = std::min(99, static_cast<int>(percent));
        const double a = toc_[i];
        const double b = i == 99 ? 256.0 : toc_[i + 1];
        rel = (a + (percent - i) * (b - a)) * len / 256.0;
    } else {
        rel = percent / 100.0 * len;
    }
    return info_.firstFrameOffset + ClampToInt(rel, 0, info_.fileLength);
}

int64_t InfoObject::SeekMs(int64_t ms) const {
    if (ms < 0) ms = 0;
    if (info_.durationMs > 0 && ms > info_.durationMs) ms = info_.durationMs;
    if (hasToc_) {
        if (info_.durationMs <= 0) return info_.firstFrameOffset;
        return SeekPercent(static_cast<double>(ms) / static_cast<double>(info_.durationMs) * 100.0);
    }
    if (!vbriPos_.empty() && vbriFramesPerEntry_ > 0 && frameMs_ > 0) {
        const double frame = ms / frameMs_;
        const int64_t count = static_cast<int64_t>(vbriPos_.size()) - 1;
        const int64_t e =
            std::min<int64_t>(count, ClampToInt(frame / vbriFramesPerEntry_, 0, count));
        const double a = static_cast<double>(vbriPos_[e]);
        double b, span;
        if (e < count) {
            b = static_cast<double>(vbriPos_[e + 1]);
            span = vbriFramesPerEntry_;
        } else {
            b = static_cast<double>(info_.fileLength);
            span = static_cast<double>(info_.frames) - static_cast<double>(e) * vbriFramesPerEntry_;
        }
        double frac =
            span > 0 ? (frame - static_cast<double>(e) * vbriFramesPerEntry_) / span : 0.0;
        frac = std::clamp(frac, 0.0, 1.0);
        return info_.firstFrameOffset + ClampToInt(a + frac * (b - a), 0, info_.fileLength);
    }
    const double rel = info_.bitrate / 8.0 * static_cast<double>(ms) * 0.001;
    return info_.firstFrameOffset + ClampToInt(rel, 0, info_.fileLength);
}

namespace {
InfoObject* Get(Mp3InfoHandle h) {
    if (h.magic != kInfoMagic || !h.object || h.object->magic != kInfoMagic) return nullptr;
    return h.object;
}
}  // namespace

Status Mp3InfoCreate(Mp3InfoHandle& handle) {
    handle = Mp3InfoHandle{};
    InfoObject* obj = new (std::nothrow) InfoObject();
    if (!obj) return kErrMemory;
    handle.magic = kInfoMagic;
    handle.object = obj;
    return kOk;
}

Status Mp3InfoDelete(Mp3InfoHandle& handle) {
    InfoObject* o = Get(handle);
    if (!o) return kErrHandle;
    delete o;
    handle = Mp3InfoHandle{};
    return kOk;
}

bool Mp3InfoProbe(Mp3InfoHandle handle, const uint8_t* bytes, size_t length, int64_t fileLength) {
    InfoObject* o = Get(handle);
    return o && o->Probe(bytes, length, fileLength);
}

const Mp3StreamInfo* Mp3InfoGet(Mp3InfoHandle handle) {
    InfoObject* o = Get(handle);
    return o ? &o->info() : nullptr;
}

int64_t Mp3InfoSeekOffset(Mp3InfoHandle handle, int64_t milliseconds) {
    InfoObject* o = Get(handle);
    return o ? o->SeekMs(milliseconds) : 0;
}

int64_t Mp3InfoSeekPercent(Mp3InfoHandle handle, double percent) {
    InfoObject* o = Get(handle);
    return o ? o->SeekPercent(percent) : 0;
}

int Mp3FrameLength(const uint8_t* bytes, size_t length, int& samplesPerFrame) {
    samplesPerFrame = 0;
    detail::FrameHeader h;
    if (!bytes || length < 4 ||
        !detail::ParseHeader((uint32_t(bytes[0]) << 24) | (uint32_t(bytes[1]) << 16) |
                                 (uint32_t(bytes[2]) << 8) | bytes[3],
                             h))
        return 0;
    samplesPerFrame = h.samplesPerFrame();
    return h.frameBytes;
}

}  // namespace mp3dec
