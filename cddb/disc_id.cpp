#include "cddb/disc_id.h"

namespace tralux {
namespace {

constexpr std::uint32_t kLeadIn = 150;  // frames before LBA 0
constexpr std::uint32_t kFramesPerSecond = 75;

std::uint32_t DigitSum(std::uint32_t n) {
    std::uint32_t sum = 0;
    for (; n > 0; n /= 10) sum += n % 10;
    return sum;
}

bool Plausible(const DiscToc& toc) {
    if (toc.tracks.empty() || toc.tracks.size() > 99) return false;
    std::uint32_t previous = 0;
    for (const TocTrack& t : toc.tracks) {
        if (t.startLba < previous) return false;
        previous = t.startLba;
    }
    return toc.leadOutLba > previous;
}

}  // namespace

std::uint32_t DiscLengthSeconds(const DiscToc& toc) {
    if (toc.tracks.empty()) return 0;
    return (toc.leadOutLba + kLeadIn) / kFramesPerSecond -
           (toc.tracks.front().startLba + kLeadIn) / kFramesPerSecond;
}

std::uint32_t QueryLengthSeconds(const DiscToc& toc) {
    return (toc.leadOutLba + kLeadIn) / kFramesPerSecond;
}

std::uint32_t DiscIdFromToc(const DiscToc& toc) {
    if (!Plausible(toc)) return 0;
    std::uint32_t n = 0;
    for (const TocTrack& t : toc.tracks) n += DigitSum((t.startLba + kLeadIn) / kFramesPerSecond);
    const auto count = static_cast<std::uint32_t>(toc.tracks.size());
    return ((n % 255) << 24) | (DiscLengthSeconds(toc) << 8) | count;
}

std::uint32_t ComputeDiscId(const std::string& root, DiscToc* toc) {
    DiscToc local;
    const bool ok = ReadDiscToc(root, local);
    const std::uint32_t id = ok ? DiscIdFromToc(local) : 0;
    if (toc) *toc = id ? local : DiscToc{};
    return id;
}

}  // namespace tralux
