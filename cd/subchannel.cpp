#include "cd/subchannel.h"

#include <algorithm>
#include <map>

namespace tralux::cd {
namespace {

std::optional<int> Bcd(std::uint8_t b) {
    if ((b >> 4) > 9 || (b & 0x0F) > 9) return std::nullopt;
    return (b >> 4) * 10 + (b & 0x0F);
}

std::uint8_t ToBcd(std::int64_t v) {
    return static_cast<std::uint8_t>((v / 10 % 10) << 4 | v % 10);
}

// Sends `cdb`, asking again once after a UNIT ATTENTION; the bytes that arrived.
std::optional<std::size_t> Ask(CdDevice& device, std::span<const std::uint8_t> cdb,
                               std::uint8_t* data, std::size_t length,
                               ScsiOutcome* last = nullptr) {
    ScsiOutcome o = device.Execute(cdb, ScsiDirection::In, data, length);
    if (o.UnitAttention()) o = device.Execute(cdb, ScsiDirection::In, data, length);
    if (last) *last = o;
    if (!o.Good()) return std::nullopt;
    return length - std::min<std::size_t>(o.residual, length);
}

std::optional<std::size_t> AskSubChannel(CdDevice& device, std::uint8_t format, int track,
                                         std::uint8_t* reply) {
    // SUBQ set; the track (ISRC) in byte 6; the allocation length in bytes 7-8.
    const std::uint8_t cdb[10] = {kOpReadSubChannel,
                                  0x00,
                                  0x40,
                                  format,
                                  0,
                                  0,
                                  static_cast<std::uint8_t>(track),
                                  0,
                                  static_cast<std::uint8_t>(kSubChannelReplyBytes),
                                  0};
    std::fill(reply, reply + kSubChannelReplyBytes, 0);
    return Ask(device, cdb, reply, kSubChannelReplyBytes);
}

// Reads the Q blocks of a few sectors at a time and says what a sector's Q tells about a
// track's pre-gap.
class QSearch {
public:
    QSearch(CdDevice& device, std::uint32_t leadOut) : device_(device), leadOut_(leadOut) {}

    // 1: `lba` lies in track `n` (its pre-gap, when before the track's start); 0: it lies before
    // track `n`; -1: the sub-channel did not say.
    int Where(std::uint32_t lba, int n) {
        // A few sectors around it: Q blocks may come a sector early or late, and one in about a
        // hundred carries a code instead of a position.
        const std::uint32_t first = lba >= 2 ? lba - 2 : 0;
        const std::uint32_t count = std::min<std::uint32_t>(5, leadOut_ - first);
        std::map<std::int64_t, QFrame> frames;
        if (!Read(first, count, frames)) return -1;
        auto say = [&](std::int64_t at) -> int {
            const auto it = frames.find(at);
            if (it == frames.end()) return -1;
            return it->second.track >= n ? 1 : 0;
        };
        if (const int here = say(lba); here >= 0) return here;
        // Its own block is missing: its neighbours bound it.
        if (say(lba + 1) == 0) return 0;
        if (say(lba - 1) == 1) return 1;
        return say(lba + 1);  // after a boundary this close the sector counts as the gap's
    }

private:
    bool Read(std::uint32_t first, std::uint32_t count, std::map<std::int64_t, QFrame>& frames) {
        if (broken_ || count == 0) return false;
        for (;;) {
            const std::size_t each =
                withAudio_ ? kSectorBytes + kFormattedQBytes : kFormattedQBytes;
            std::uint8_t cdb[12] = {kOpReadCd, 0x00};  // any sector type: data tracks too
            PutBe32(cdb + 2, first);
            cdb[6] = static_cast<std::uint8_t>(count >> 16);
            cdb[7] = static_cast<std::uint8_t>(count >> 8);
            cdb[8] = static_cast<std::uint8_t>(count);
            cdb[9] = withAudio_ ? 0x10 : 0x00;
            cdb[10] = kReadCdFormattedQ;
            buffer_.assign(each * count, 0);
            ScsiOutcome o;
            const auto got = Ask(device_, cdb, buffer_.data(), buffer_.size(), &o);
            if (!got) {
                // Some drives give the Q blocks only beside the sector's own bytes.
                if (!withAudio_ && o.delivered && o.senseKey == kSenseIllegalRequest) {
                    withAudio_ = true;
                    continue;
                }
                if (o.delivered && o.senseKey == kSenseIllegalRequest) broken_ = true;
                return false;
            }
            for (std::size_t at = 0; at + each <= *got; at += each) {
                const std::size_t q = at + (withAudio_ ? kSectorBytes : 0);
                if (auto f = ParseFormattedQ({buffer_.data() + q, kFormattedQBytes}))
                    frames[f->absoluteLba] = *f;
            }
            return true;
        }
    }

    CdDevice& device_;
    std::uint32_t leadOut_;
    bool withAudio_ = false, broken_ = false;
    std::vector<std::uint8_t> buffer_;
};

constexpr std::uint32_t kCommonGap = 150;

std::optional<std::uint32_t> SearchPregap(QSearch& q, int n, std::uint32_t low,
                                          std::uint32_t start) {
    if (start <= low) return 0;
    // The pre-gap ends at the track's start: walk back in doubling steps to a sector before
    // it, then halve the distance between the two.
    int r = q.Where(start - 1, n);
    if (r < 0) return std::nullopt;
    if (r == 0) return 0;
    std::uint32_t in = start - 1, before = low;  // `before` is not yet known to be before
    bool found = false;
    std::uint32_t step = 1;
    // Most pre-gaps last two seconds: two reads settle those, each a seek on a real drive.
    if (start - low > kCommonGap) {
        const std::uint32_t at = start - kCommonGap;
        r = q.Where(at, n);
        if (r < 0) return std::nullopt;
        if (r == 0) {
            before = at;
            found = true;
        } else {
            in = at;
            r = q.Where(at - 1, n);
            if (r < 0) return std::nullopt;
            if (r == 0) return kCommonGap;
            in = at - 1;
            step = kCommonGap;
        }
    }
    while (!found) {
        const std::uint32_t probe = in - low > step ? in - step : low;
        r = q.Where(probe, n);
        if (r < 0) return std::nullopt;
        if (r == 1) {
            in = probe;
            if (probe == low) return start - low;
            step *= 2;
        } else {
            before = probe;
            found = true;
        }
    }
    while (in - before > 1) {
        const std::uint32_t mid = before + (in - before) / 2;
        r = q.Where(mid, n);
        if (r < 0) return std::nullopt;
        (r == 1 ? in : before) = mid;
    }
    return start - in;
}

}  // namespace

std::uint16_t QCrc(const std::uint8_t* q) {
    std::uint16_t crc = 0;
    for (int i = 0; i < 10; ++i) {
        crc ^= static_cast<std::uint16_t>(q[i] << 8);
        for (int b = 0; b < 8; ++b)
            crc = static_cast<std::uint16_t>(crc & 0x8000 ? crc << 1 ^ 0x1021 : crc << 1);
    }
    return static_cast<std::uint16_t>(~crc);
}

std::optional<QFrame> ParseFormattedQ(std::span<const std::uint8_t> b) {
    if (b.size() < kFormattedQBytes) return std::nullopt;
    const std::uint16_t crc = Be16(b.data() + 10);
    if (crc != 0 && crc != QCrc(b.data())) return std::nullopt;
    QFrame f;
    f.control = b[0] >> 4;
    f.adr = b[0] & 0x0F;
    if (f.adr != 1) return std::nullopt;
    const auto track = b[1] == 0xAA ? std::optional<int>(0xAA) : Bcd(b[1]);
    const auto index = Bcd(b[2]);
    const auto m = Bcd(b[7]), s = Bcd(b[8]), fr = Bcd(b[9]);
    if (!track || *track == 0 || !index || !m || !s || !fr || *s > 59 || *fr > 74)
        return std::nullopt;
    f.track = *track;
    f.index = *index;
    f.absoluteLba = (static_cast<std::int64_t>(*m) * 60 + *s) * 75 + *fr - kLeadInFrames;
    return f;
}

void MakeFormattedQ(std::uint8_t* out, std::uint8_t control, int track, int index,
                    std::int64_t relative, std::int64_t lba) {
    std::fill(out, out + kFormattedQBytes, 0);
    out[0] = static_cast<std::uint8_t>(control << 4 | 1);
    out[1] = track == 0xAA ? 0xAA : ToBcd(track);
    out[2] = ToBcd(index);
    const std::int64_t rel = relative < 0 ? -relative : relative;
    out[3] = ToBcd(rel / 4500), out[4] = ToBcd(rel / 75 % 60), out[5] = ToBcd(rel % 75);
    const std::int64_t abs = lba + kLeadInFrames;
    out[7] = ToBcd(abs / 4500), out[8] = ToBcd(abs / 75 % 60), out[9] = ToBcd(abs % 75);
    PutBe16(out + 10, QCrc(out));
}

std::string ParseMcnReply(std::span<const std::uint8_t> r) {
    if (r.size() < 22 || r[4] != kSubChannelMcn || !(r[8] & 0x80)) return {};
    std::string mcn(r.begin() + 9, r.begin() + 22);
    if (!std::all_of(mcn.begin(), mcn.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return {};
    if (mcn.find_first_not_of('0') == std::string::npos) return {};
    return mcn;
}

std::string ParseIsrcReply(std::span<const std::uint8_t> r, int track) {
    if (r.size() < 21 || r[4] != kSubChannelIsrc || !(r[8] & 0x80)) return {};
    // A drive that fills in the track number must name the one asked for.
    if (r[6] != 0 && r[6] != track) return {};
    std::string isrc(r.begin() + 9, r.begin() + 21);
    for (std::size_t i = 0; i < isrc.size(); ++i) {
        char& c = isrc[i];
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        const bool digit = c >= '0' && c <= '9', letter = c >= 'A' && c <= 'Z';
        // Country (two letters), registrant (three letters or digits), year and number.
        if (i < 2 ? !letter : i < 5 ? !(digit || letter) : !digit) return {};
    }
    return isrc;
}

std::string ReadMcn(CdDevice& device) {
    std::uint8_t reply[kSubChannelReplyBytes];
    const auto got = AskSubChannel(device, kSubChannelMcn, 0, reply);
    return got ? ParseMcnReply({reply, *got}) : std::string();
}

std::string ReadIsrc(CdDevice& device, int track) {
    if (track < 1 || track > 99) return {};
    std::uint8_t reply[kSubChannelReplyBytes];
    const auto got = AskSubChannel(device, kSubChannelIsrc, track, reply);
    return got ? ParseIsrcReply({reply, *got}, track) : std::string();
}

std::vector<std::optional<std::uint32_t>> ReadPregaps(CdDevice& device, const DiscToc& toc,
                                                      const std::atomic<bool>* stop) {
    std::vector<std::optional<std::uint32_t>> gaps(toc.tracks.size());
    QSearch q(device, toc.leadOutLba);
    for (std::size_t k = 0; k < toc.tracks.size(); ++k) {
        if (stop && stop->load()) break;
        const std::uint32_t start = toc.tracks[k].startLba;
        const std::uint32_t low = k == 0 ? 0 : toc.tracks[k - 1].startLba + 1;
        if (start > toc.leadOutLba) continue;
        gaps[k] = SearchPregap(q, toc.tracks[k].number, low, start);
    }
    return gaps;
}

}  // namespace tralux::cd
