// Arbitrary text through the CUE parser and, with made-up file lengths, through the disc layout;
// the table of contents of an accepted sheet must be one a drive could report.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "cd/cue.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    tralux::cd::CueSheet sheet;
    std::string why;
    if (!tralux::cd::ParseCue(text, sheet, &why)) return 0;
    if (sheet.tracks.empty() || sheet.tracks.size() > 99 || sheet.files.empty()) __builtin_trap();
    // File lengths taken from the input's own bytes, so the fuzzer steers them too.
    std::vector<std::uint64_t> lengths;
    for (std::size_t i = 0; i < sheet.files.size(); ++i)
        lengths.push_back(size ? (static_cast<std::uint64_t>(data[i % size]) << 10) + i * 37
                               : 1000);
    tralux::cd::ImageLayout layout;
    if (!tralux::cd::BuildImageLayout(sheet, lengths, layout, &why)) return 0;
    const tralux::DiscToc& toc = layout.toc;
    if (toc.tracks.size() != sheet.tracks.size()) __builtin_trap();
    std::uint64_t lba = 0;
    for (const auto& seg : layout.segments) {
        if (seg.startLba != lba || seg.sectors == 0) __builtin_trap();
        if (seg.file >= 0 &&
            seg.fileSector + seg.sectors > lengths[static_cast<std::size_t>(seg.file)])
            __builtin_trap();
        lba += seg.sectors;
    }
    if (lba != toc.leadOutLba) __builtin_trap();
    for (std::size_t i = 0; i < toc.tracks.size(); ++i) {
        const std::uint32_t next =
            i + 1 < toc.tracks.size() ? toc.tracks[i + 1].startLba : toc.leadOutLba;
        if (next <= toc.tracks[i].startLba) __builtin_trap();
    }
    return 0;
}
