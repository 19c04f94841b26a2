// Arbitrary titles, performers and file names through the CUE writer: every line of the sheet
// is one line (no control characters), every quoted text closes on its line, all of it UTF-8.
#include <cstdint>
#include <string>
#include <string_view>

#include "cd/cue_writer.h"

namespace {

bool ValidUtf8(std::string_view s) {
    for (std::size_t i = 0; i < s.size();) {
        const auto b = static_cast<unsigned char>(s[i]);
        const std::size_t n = b < 0x80         ? 1
                              : (b >> 5) == 6  ? 2
                              : (b >> 4) == 14 ? 3
                              : (b >> 3) == 30 ? 4
                                               : 0;
        if (n == 0 || i + n > s.size()) return false;
        for (std::size_t k = 1; k < n; ++k)
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
        i += n;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The input split at 0xFE bytes into the texts of a two-track disc.
    std::string parts[7];
    std::size_t k = 0;
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0xFE && k < 6)
            ++k;
        else
            parts[k] += static_cast<char>(data[i]);
    }
    tralux::cd::CueOutDisc disc;
    disc.performer = parts[0];
    disc.title = parts[1];
    disc.comment = parts[2];
    disc.tracks = {
        {1, parts[3], parts[4], "", "", 300, 0},
        {2, parts[5], parts[6], parts[0], "", 200, static_cast<std::uint32_t>(size % 400)}};
    const std::string cue = tralux::cd::FormatCueSheet(disc);
    std::size_t start = 0;
    while (start < cue.size()) {
        const std::size_t end = cue.find('\n', start);
        if (end == std::string::npos) __builtin_trap();  // every line ends
        const std::string_view line(cue.data() + start, end - start);
        std::size_t quotes = 0;
        for (char c : line) {
            if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) __builtin_trap();
            quotes += c == '"';
        }
        if (quotes != 0 && quotes != 2) __builtin_trap();
        if (line.size() > 300) __builtin_trap();
        start = end + 1;
    }
    if (!ValidUtf8(cue)) __builtin_trap();
    return 0;
}
