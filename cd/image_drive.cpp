#include "cd/image_drive.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "cd/subchannel.h"

namespace tralux::cd {

std::atomic<int> ImageDevice::openCount_{0};

namespace {

bool Fail(std::string* error, const std::string& text) {
    if (error) *error = text;
    return false;
}

bool ParseUnsigned(std::string_view s, std::uint64_t max, std::uint64_t& out) {
    if (s.empty() || s.size() > 19) return false;
    std::uint64_t v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + static_cast<std::uint64_t>(c - '0');
    }
    if (v > max) return false;
    out = v;
    return true;
}

bool ParsePercent(std::string_view s, double& out) {
    // Digits with an optional fraction: "5", "0.5", "12.25".
    const auto dot = s.find('.');
    std::uint64_t whole = 0, frac = 0;
    if (!ParseUnsigned(s.substr(0, dot), 100, whole)) return false;
    double value = static_cast<double>(whole);
    if (dot != std::string_view::npos) {
        const std::string_view f = s.substr(dot + 1);
        if (f.empty() || f.size() > 6 || !ParseUnsigned(f, 999999, frac)) return false;
        double scale = 1;
        for (std::size_t i = 0; i < f.size(); ++i) scale *= 10;
        value += static_cast<double>(frac) / scale;
    }
    if (value > 100.0) return false;
    out = value;
    return true;
}

ScsiOutcome Check(std::uint8_t key, std::uint8_t asc, std::uint8_t ascq = 0) {
    ScsiOutcome o;
    o.delivered = true;
    o.status = kStatusCheckCondition;
    o.senseKey = key;
    o.asc = asc;
    o.ascq = ascq;
    return o;
}

ScsiOutcome Good(std::size_t asked, std::size_t given) {
    ScsiOutcome o;
    o.delivered = true;
    o.residual = static_cast<std::uint32_t>(asked > given ? asked - given : 0);
    return o;
}

void PutMsf(std::uint8_t* p, std::uint32_t lba) {
    const std::uint32_t f = lba + kLeadInFrames;
    p[0] = 0;
    p[1] = static_cast<std::uint8_t>(f / (60 * 75));
    p[2] = static_cast<std::uint8_t>(f / 75 % 60);
    p[3] = static_cast<std::uint8_t>(f % 75);
}

}  // namespace

bool ParseJitter(std::string_view text, JitterSettings& s, std::string* error) {
    s = JitterSettings{};
    while (!text.empty() && (text.back() == ' ' || text.back() == '\n')) text.remove_suffix(1);
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    if (text.empty() || text == "0" || text == "off") return true;
    s.on = true;
    if (text == "1" || text == "on") return true;
    std::size_t pos = 0;
    while (pos <= text.size()) {
        std::size_t comma = text.find(',', pos);
        if (comma == std::string_view::npos) comma = text.size();
        const std::string_view item = text.substr(pos, comma - pos);
        pos = comma + 1;
        const auto eq = item.find('=');
        const std::string_view key = item.substr(0, eq);
        const std::string_view value =
            eq == std::string_view::npos ? std::string_view() : item.substr(eq + 1);
        std::uint64_t n = 0;
        if (key == "seed") {
            if (!ParseUnsigned(value, UINT64_MAX / 10, n))
                return Fail(error, "seed: a whole number");
            s.seed = n;
        } else if (key == "shift") {
            if (!ParseUnsigned(value, kMaxJitterFrames, n))
                return Fail(error,
                            "shift: sample frames from 0 to " + std::to_string(kMaxJitterFrames));
            s.maxShiftFrames = static_cast<std::uint32_t>(n);
        } else if (key == "step") {
            if (!ParseUnsigned(value, kMaxJitterFrames, n) || n == 0)
                return Fail(error,
                            "step: sample frames from 1 to " + std::to_string(kMaxJitterFrames));
            s.stepFrames = static_cast<std::uint32_t>(n);
        } else if (key == "share") {
            if (!ParsePercent(value, s.shiftedPercent))
                return Fail(error, "share: a percentage from 0 to 100");
        } else if (key == "fail") {
            if (!ParsePercent(value, s.failPercent))
                return Fail(error, "fail: a percentage from 0 to 100");
        } else if (key == "bad") {
            std::size_t p = 0;
            while (p <= value.size()) {
                std::size_t plus = value.find('+', p);
                if (plus == std::string_view::npos) plus = value.size();
                const std::string_view range = value.substr(p, plus - p);
                const auto dash = range.find('-');
                std::uint64_t a = 0, b = 0;
                if (!ParseUnsigned(range.substr(0, dash), 0xFFFFFF, a))
                    return Fail(error, "bad: LBA or LBA-LBA");
                b = a;
                if (dash != std::string_view::npos &&
                    (!ParseUnsigned(range.substr(dash + 1), 0xFFFFFF, b) || b < a))
                    return Fail(error, "bad: LBA or LBA-LBA");
                s.badSectors.emplace_back(static_cast<std::uint32_t>(a),
                                          static_cast<std::uint32_t>(b));
                if (s.badSectors.size() > 64) return Fail(error, "bad: at most 64 ranges");
                p = plus + 1;
            }
        } else if (key == "speed") {
            if (!ParseUnsigned(value, 1000, n) || n == 0)
                return Fail(error, "speed: 1 to 1000 (times real time)");
            s.speed = static_cast<std::uint32_t>(n);
        } else if (key == "short") {
            if (!ParseUnsigned(value, 1000000, n) || n == 0)
                return Fail(error, "short: every N-th read, N from 1");
            s.shortEvery = static_cast<std::uint32_t>(n);
        } else if (key == "attention" && value.empty()) {
            s.unitAttention = true;
        } else if (!key.empty()) {
            return Fail(error, "unknown key '" + std::string(key) + "'");
        }
        if (comma >= text.size()) break;
    }
    return true;
}

bool ParseReadOffset(std::string_view text, std::int32_t& frames) {
    bool negative = false;
    if (!text.empty() && (text[0] == '-' || text[0] == '+')) {
        negative = text[0] == '-';
        text.remove_prefix(1);
    }
    std::uint64_t n = 0;
    if (!ParseUnsigned(text, kMaxJitterFrames, n)) return false;
    frames = negative ? -static_cast<std::int32_t>(n) : static_cast<std::int32_t>(n);
    return true;
}

bool LoadImageDisc(const std::string& cuePath, ImageDisc& disc, std::string* error) {
    disc = ImageDisc{};
    disc.cuePath = cuePath;
    std::error_code ec;
    const auto size = std::filesystem::file_size(cuePath, ec);
    if (ec) return Fail(error, "cannot read " + cuePath + ": " + ec.message());
    if (size > 1 << 20) return Fail(error, cuePath + ": too large for a CUE sheet");
    std::ifstream in(cuePath, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    if (!in) return Fail(error, "cannot read " + cuePath);
    std::string why;
    if (!ParseCue(text.str(), disc.sheet, &why)) return Fail(error, cuePath + ": " + why);
    const std::filesystem::path folder = std::filesystem::path(cuePath).parent_path();
    std::vector<std::uint64_t> sectors;
    for (const CueFile& f : disc.sheet.files) {
        std::filesystem::path p(f.name);
        if (p.is_relative()) p = folder / p;
        // Sheets written on Windows name files with backslashes.
        if (!std::filesystem::exists(p, ec) && f.name.find('\\') != std::string::npos) {
            std::string n = f.name;
            std::replace(n.begin(), n.end(), '\\', '/');
            p = folder / n;
        }
        const auto bytes = std::filesystem::file_size(p, ec);
        if (ec) return Fail(error, cuePath + ": cannot read " + p.string() + ": " + ec.message());
        disc.filePaths.push_back(p.string());
        sectors.push_back((bytes + kSectorBytes - 1) /
                          kSectorBytes);  // a cut last sector reads as padded
    }
    if (!BuildImageLayout(disc.sheet, sectors, disc.layout, &why))
        return Fail(error, cuePath + ": " + why);
    return true;
}

ImageDevice::ImageDevice(const ImageDisc& disc, const JitterSettings& jitter)
    : disc_(disc),
      jitter_(jitter),
      rng_(jitter.seed),
      attentionPending_(jitter.on && jitter.unitAttention) {
    // Where each track's INDEX 00 lies on the disc: its PREGAP silence and the part of its
    // file before INDEX 01.
    const DiscToc& toc = disc_.layout.toc;
    for (std::size_t k = 0; k < toc.tracks.size(); ++k) {
        const std::uint32_t start = toc.tracks[k].startLba;
        std::uint32_t first = start;
        if (k < disc_.sheet.tracks.size()) {
            const CueTrack& t = disc_.sheet.tracks[k];
            const CueIndex* i0 = t.Index(0);
            const CueIndex* i1 = t.Index(1);
            std::uint64_t gap = t.pregap;
            if (i0 && i1 && i0->file == i1->file) {
                gap += i1->frame - i0->frame;
            } else if (i0) {
                for (const ImageSegment& seg : disc_.layout.segments)
                    if (seg.file == static_cast<int>(i0->file) && seg.fileSector <= i0->frame &&
                        i0->frame < seg.fileSector + seg.sectors &&
                        seg.startLba + (i0->frame - seg.fileSector) < start) {
                        gap = start - (seg.startLba + (i0->frame - seg.fileSector));
                        break;
                    }
            }
            first = static_cast<std::uint32_t>(start - std::min<std::uint64_t>(gap, start));
        }
        index0_.push_back(first);
    }
}

void ImageDevice::QBlock(std::int64_t lba, std::uint8_t* out) const {
    const DiscToc& toc = disc_.layout.toc;
    std::size_t k = 0;
    while (k + 1 < toc.tracks.size() && index0_[k + 1] <= lba) ++k;
    const TocTrack& t = toc.tracks[k];
    const std::uint8_t control = t.audio ? 0x0 : 0x4;
    if (!disc_.sheet.catalog.empty() && lba % 100 == 37) {
        // About one block in a hundred carries the catalog number instead of a position.
        std::fill(out, out + kFormattedQBytes, 0);
        out[0] = static_cast<std::uint8_t>(control << 4 | 2);
        PutBe16(out + 10, QCrc(out));
        return;
    }
    if (lba >= toc.leadOutLba) {
        MakeFormattedQ(out, control, 0xAA, 1, lba - toc.leadOutLba, lba);
        return;
    }
    MakeFormattedQ(out, control, t.number, lba < t.startLba ? 0 : 1, lba - t.startLba, lba);
}

std::unique_ptr<ImageDevice> ImageDevice::Open(const ImageDisc& disc, const JitterSettings& jitter,
                                               std::string* error) {
    std::unique_ptr<ImageDevice> d(new ImageDevice(disc, jitter));
    for (const std::string& path : disc.filePaths) {
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            Fail(error, "cannot open " + path + ": " + std::strerror(errno));
            return nullptr;  // the destructor closes what was opened
        }
        d->fds_.push_back(fd);
    }
    ++openCount_;
    return d;
}

ImageDevice::~ImageDevice() {
    for (int fd : fds_) ::close(fd);
    if (fds_.size() == disc_.filePaths.size()) --openCount_;
}

int ImageDevice::OpenCount() {
    return openCount_.load();
}

void ImageDevice::ReadFrames(std::int64_t first, std::uint32_t frames, std::uint8_t* out) const {
    std::memset(out, 0, static_cast<std::size_t>(frames) * 4);
    const std::int64_t last = first + frames;  // exclusive
    for (const ImageSegment& seg : disc_.layout.segments) {
        const std::int64_t segFirst = static_cast<std::int64_t>(seg.startLba) * kFramesPerSector;
        const std::int64_t segLast =
            segFirst + static_cast<std::int64_t>(seg.sectors) * kFramesPerSector;
        const std::int64_t a = std::max(first, segFirst), b = std::min(last, segLast);
        if (a >= b || seg.file < 0) continue;
        std::uint8_t* dst = out + (a - first) * 4;
        const std::size_t bytes = static_cast<std::size_t>(b - a) * 4;
        const off_t offset = static_cast<off_t>(seg.fileSector * kSectorBytes +
                                                static_cast<std::uint64_t>(a - segFirst) * 4);
        std::size_t done = 0;
        while (done < bytes) {
            const ssize_t r = ::pread(fds_[static_cast<std::size_t>(seg.file)], dst + done,
                                      bytes - done, offset + static_cast<off_t>(done));
            if (r < 0 && errno == EINTR) continue;
            if (r <= 0) break;  // a cut last sector reads as silence
            done += static_cast<std::size_t>(r);
        }
        if (disc_.sheet.files[static_cast<std::size_t>(seg.file)].bigEndian)
            for (std::size_t i = 0; i + 1 < bytes; i += 2) std::swap(dst[i], dst[i + 1]);
    }
}

bool ImageDevice::JitteredRead(std::uint32_t lba, std::uint32_t count, std::uint8_t* out) {
    ++reads_;
    std::int32_t shift = 0;
    if (jitter_.on) {
        for (const auto& [a, b] : jitter_.badSectors)
            if (lba <= b && a < static_cast<std::uint64_t>(lba) + count) return false;
        std::uniform_real_distribution<double> percent(0.0, 100.0);
        if (jitter_.failPercent > 0 && percent(rng_) < jitter_.failPercent) return false;
        const std::uint32_t steps = jitter_.maxShiftFrames / jitter_.stepFrames;
        if (steps > 0 && jitter_.shiftedPercent > 0 && percent(rng_) < jitter_.shiftedPercent) {
            std::uniform_int_distribution<std::int32_t> pick(1,
                                                             static_cast<std::int32_t>(2 * steps));
            const std::int32_t k = pick(rng_);
            const std::int32_t s =
                k <= static_cast<std::int32_t>(steps) ? -k : k - static_cast<std::int32_t>(steps);
            shift = s * static_cast<std::int32_t>(jitter_.stepFrames);
        }
    }
    shifts_.push_back(shift);
    if (jitter_.speed) Pace(count);
    ReadFrames(static_cast<std::int64_t>(lba) * kFramesPerSector + shift - readOffset_,
               count * kFramesPerSector, out);
    return true;
}

void ImageDevice::Pace(std::uint32_t sectors) {
    // A clock rather than a sleep per read: the time the files take counts towards the speed,
    // and a run of reads keeps the drive's rate however the reads are cut.
    using Clock = std::chrono::steady_clock;
    const auto now = Clock::now();
    if (paceNext_ < now) paceNext_ = now;
    paceNext_ += std::chrono::microseconds(static_cast<std::uint64_t>(sectors) * 1000000 /
                                           (kSectorsPerSecond * jitter_.speed));
    // Short naps: whoever waits on the read (a stop) never waits long.
    for (auto t = Clock::now(); t < paceNext_; t = Clock::now())
        std::this_thread::sleep_for(
            std::min<Clock::duration>(paceNext_ - t, std::chrono::milliseconds(20)));
}

bool ImageDevice::ShortTransfer() {
    return jitter_.on && jitter_.shortEvery > 0 && ++transfers_ % jitter_.shortEvery == 0;
}

bool ImageDevice::ReadAudio(std::uint32_t lba, std::uint32_t count, std::uint8_t* out) {
    const std::uint64_t end = static_cast<std::uint64_t>(lba) + count;
    if (count == 0 || end > ReadableEnd()) return false;
    if (ShortTransfer()) return false;  // no residue to report on this road: the read fails
    return JitteredRead(lba, count, out);
}

ScsiOutcome ImageDevice::Execute(std::span<const std::uint8_t> cdb, ScsiDirection,
                                 std::uint8_t* data, std::size_t length) {
    if (cdb.empty()) return Check(kSenseIllegalRequest, 0x20);
    // As SPC has it, INQUIRY neither reports nor clears a pending UNIT ATTENTION.
    if (attentionPending_ && cdb[0] != kOpInquiry) {
        attentionPending_ = false;
        return Check(kSenseUnitAttention,
                     0x28);  // not ready to ready change, medium may have changed
    }
    const DiscToc& toc = disc_.layout.toc;
    switch (cdb[0]) {
        case kOpTestUnitReady:
            return Good(0, 0);
        case kOpInquiry: {
            if (cdb.size() < 6) return Check(kSenseIllegalRequest, 0x24);
            std::uint8_t r[36] = {};
            r[0] = 0x05;  // CD/DVD device
            r[1] = 0x80;  // removable
            r[2] = 0x05;
            r[3] = 0x32;
            r[4] = 31;
            std::memcpy(r + 8, "TRALUX  ", 8);
            std::memcpy(r + 16, "CUE IMAGE DRIVE ", 16);
            std::memcpy(r + 32, "1.0 ", 4);
            const std::size_t alloc = static_cast<std::size_t>(cdb[3]) << 8 | cdb[4];
            const std::size_t n = std::min({alloc, length, sizeof r});
            if (data) std::memcpy(data, r, n);
            return Good(std::min(alloc, length), n);
        }
        case kOpReadCapacity: {
            std::uint8_t r[8];
            PutBe32(r, toc.leadOutLba - 1);
            PutBe32(r + 4, 2048);
            const std::size_t n = std::min<std::size_t>(length, 8);
            if (data) std::memcpy(data, r, n);
            return Good(length, n);
        }
        case kOpReadToc: {
            if (cdb.size() < 10) return Check(kSenseIllegalRequest, 0x24);
            const bool msf = (cdb[1] & 0x02) != 0;
            if ((cdb[2] & 0x0F) != 0) return Check(kSenseIllegalRequest, 0x24);  // format 0 only
            const std::uint8_t from = cdb[6];
            std::vector<std::uint8_t> r(4);
            auto descriptor = [&](std::uint8_t number, bool audio, std::uint32_t lba) {
                std::uint8_t d[8] = {};
                d[1] = static_cast<std::uint8_t>(0x10 | (audio ? 0x00 : 0x04));
                d[2] = number;
                if (msf)
                    PutMsf(d + 4, lba);
                else
                    PutBe32(d + 4, lba);
                r.insert(r.end(), d, d + 8);
            };
            if (from > toc.lastTrack && from != 0xAA) return Check(kSenseIllegalRequest, 0x24);
            for (const TocTrack& t : toc.tracks)
                if (from != 0xAA && t.number >= from) descriptor(t.number, t.audio, t.startLba);
            descriptor(0xAA, true, toc.leadOutLba);
            PutBe16(r.data(), static_cast<std::uint32_t>(r.size() - 2));
            r[2] = toc.firstTrack;
            r[3] = toc.lastTrack;
            const std::size_t alloc = Be16(cdb.data() + 7);
            const std::size_t n = std::min({alloc, length, r.size()});
            if (data) std::memcpy(data, r.data(), n);
            return Good(std::min(alloc, length), n);
        }
        case kOpReadCd: {
            if (cdb.size() < 12) return Check(kSenseIllegalRequest, 0x24);
            const std::uint32_t lba = Be32(cdb.data() + 2);
            const std::uint32_t count = static_cast<std::uint32_t>(cdb[6]) << 16 |
                                        static_cast<std::uint32_t>(cdb[7]) << 8 | cdb[8];
            const std::uint8_t sectorType = (cdb[1] >> 2) & 0x07;
            // Of the sub-channel, only the formatted Q blocks.
            if (cdb[10] != 0 && cdb[10] != kReadCdFormattedQ)
                return Check(kSenseIllegalRequest, 0x24);
            if (static_cast<std::uint64_t>(lba) + count > ReadableEnd())
                return Check(kSenseIllegalRequest, 0x21);
            if (cdb[10] == kReadCdFormattedQ && count > 0) {
                const bool audio = (cdb[9] & 0xF8) != 0;
                const std::size_t each = (audio ? kSectorBytes : 0) + kFormattedQBytes;
                const std::size_t bytes = count * each;
                if (!data || length < bytes) return Check(kSenseIllegalRequest, 0x24);
                for (std::uint32_t i = 0; i < count; ++i) {
                    std::uint8_t* at = data + i * each;
                    if (audio)
                        ReadFrames(
                            (static_cast<std::int64_t>(lba) + i) * kFramesPerSector - readOffset_,
                            kFramesPerSector, at);
                    QBlock(static_cast<std::int64_t>(lba) + i, at + (audio ? kSectorBytes : 0));
                }
                return Good(bytes, bytes);
            }
            if (count == 0 || (cdb[9] & 0xF8) == 0) return Good(0, 0);
            for (const TocTrack& t : toc.tracks) {
                // Sector type 1 (CD-DA) or 0 (any); data sectors refuse the CD-DA type.
                const std::uint32_t next =
                    &t == &toc.tracks.back() ? toc.leadOutLba : (&t + 1)->startLba;
                if (!t.audio && sectorType == 1 && lba < next && t.startLba < lba + count)
                    return Check(kSenseIllegalRequest, 0x64);
            }
            if (sectorType > 1) return Check(kSenseIllegalRequest, 0x64);
            const std::size_t bytes = static_cast<std::size_t>(count) * kSectorBytes;
            if (!data || length < bytes) return Check(kSenseIllegalRequest, 0x24);
            if (ShortTransfer()) {
                // Half the bytes arrive; the rest of the buffer keeps what it held.
                std::vector<std::uint8_t> whole(bytes);
                if (!JitteredRead(lba, count, whole.data()))
                    return Check(kSenseMediumError, 0x11, 0x05);
                const std::size_t given = bytes / 2 / 4 * 4;
                std::memcpy(data, whole.data(), given);
                return Good(bytes, given);
            }
            if (!JitteredRead(lba, count, data)) return Check(kSenseMediumError, 0x11, 0x05);
            return Good(bytes, bytes);
        }
        case kOpReadSubChannel: {
            if (cdb.size() < 10) return Check(kSenseIllegalRequest, 0x24);
            const std::uint8_t format = cdb[3];
            std::uint8_t r[kSubChannelReplyBytes] = {};
            r[1] = 0x15;  // no audio status to report
            PutBe16(r + 2, kSubChannelReplyBytes - 4);
            r[4] = format;
            const std::string* code = nullptr;
            if (format == kSubChannelMcn) {
                code = &disc_.sheet.catalog;
            } else if (format == kSubChannelIsrc) {
                const auto t = std::find_if(disc_.sheet.tracks.begin(), disc_.sheet.tracks.end(),
                                            [&](const CueTrack& c) { return c.number == cdb[6]; });
                if (t == disc_.sheet.tracks.end()) return Check(kSenseIllegalRequest, 0x24);
                r[5] = t->audio ? 0x01 : 0x41;
                r[6] = cdb[6];
                code = &t->isrc;
            } else {
                return Check(kSenseIllegalRequest, 0x24);
            }
            if (!code->empty()) {
                r[8] = 0x80;
                std::memcpy(r + 9, code->data(), std::min<std::size_t>(code->size(), 13));
            }
            const std::size_t alloc = Be16(cdb.data() + 7);
            const std::size_t n = std::min({alloc, length, sizeof r});
            if (data) std::memcpy(data, r, n);
            return Good(std::min(alloc, length), n);
        }
        default:
            return Check(kSenseIllegalRequest, 0x20);
    }
}

}  // namespace tralux::cd
