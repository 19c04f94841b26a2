// Arbitrary bytes as a drive's sub-channel replies: the parsers give well-formed codes or
// nothing, and the pre-gap search over a drive answering with these bytes ends inside the gap
// it may have.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <span>

#include "cd/subchannel.h"

namespace {

using namespace tralux::cd;

// Answers every command with the input's bytes, cyclically; a byte of it chooses the status and
// how much comes short.
class ByteDrive final : public CdDevice {
public:
    explicit ByteDrive(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
    ScsiOutcome Execute(std::span<const std::uint8_t>, ScsiDirection, std::uint8_t* data,
                        std::size_t length) override {
        ScsiOutcome o;
        if (bytes_.empty() || ++calls_ > 4096) return o;
        const std::uint8_t mode = Next();
        o.delivered = (mode & 0x80) == 0;
        if (mode & 0x40) {
            o.status = kStatusCheckCondition;
            o.senseKey = mode & 0x0F;
        }
        for (std::size_t i = 0; i < length; ++i) data[i] = Next();
        o.residual = (mode & 0x20) ? Next() : 0;
        return o;
    }
    bool ReadAudio(std::uint32_t, std::uint32_t, std::uint8_t*) override { return false; }

private:
    std::uint8_t Next() {
        const std::uint8_t b = bytes_[at_];
        at_ = (at_ + 1) % bytes_.size();
        return b;
    }
    std::span<const std::uint8_t> bytes_;
    std::size_t at_ = 0;
    int calls_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> in(data, size);
    if (const auto q = ParseFormattedQ(in)) {
        if (q->adr != 1 || q->track < 1 || (q->track > 99 && q->track != 0xAA)) __builtin_trap();
        if (q->index < 0 || q->index > 99 || q->absoluteLba < -150) __builtin_trap();
    }
    const std::string mcn = ParseMcnReply(in);
    if (!mcn.empty() && (mcn.size() != 13 || !std::all_of(mcn.begin(), mcn.end(), [](char c) {
                             return c >= '0' && c <= '9';
                         })))
        __builtin_trap();
    const std::string isrc = ParseIsrcReply(in, size > 6 ? data[6] : 1);
    if (!isrc.empty() && isrc.size() != 12) __builtin_trap();

    tralux::DiscToc toc;
    toc.tracks = {{1, 150, true}, {2, 900, true}, {3, 905, false}};
    toc.firstTrack = 1, toc.lastTrack = 3, toc.leadOutLba = 3000;
    ByteDrive drive(in);
    const auto gaps = ReadPregaps(drive, toc);
    const std::uint32_t room[3] = {150, 900 - 151, 905 - 901};
    for (std::size_t k = 0; k < gaps.size(); ++k)
        if (gaps[k] && *gaps[k] > room[k]) __builtin_trap();
    return 0;
}
