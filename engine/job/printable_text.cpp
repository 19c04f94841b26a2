#include "engine/job/printable_text.h"

#include <cstdio>

namespace tralux {

namespace {

// The length of the valid UTF-8 sequence at `s[i]` (its code point in `cp`), 0 if none.
std::size_t Utf8At(std::string_view s, std::size_t i, char32_t& cp) {
    const auto b = [&](std::size_t k) { return static_cast<unsigned char>(s[i + k]); };
    const unsigned char c = b(0);
    std::size_t n = 0;
    char32_t min = 0;
    if (c < 0x80) {
        cp = c;
        return 1;
    } else if (c >= 0xC2 && c <= 0xDF) {
        n = 2, cp = c & 0x1F, min = 0x80;
    } else if (c >= 0xE0 && c <= 0xEF) {
        n = 3, cp = c & 0x0F, min = 0x800;
    } else if (c >= 0xF0 && c <= 0xF4) {
        n = 4, cp = c & 0x07, min = 0x10000;
    } else {
        return 0;
    }
    if (i + n > s.size()) return 0;
    for (std::size_t k = 1; k < n; ++k) {
        if ((b(k) & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (b(k) & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return n;
}

bool Escaped(char32_t cp) {
    return cp < 0x20 || (cp >= 0x7F && cp <= 0x9F) || cp == 0x061C || cp == 0x200E ||
           cp == 0x200F || (cp >= 0x2028 && cp <= 0x202E) || (cp >= 0x2066 && cp <= 0x2069);
}

}  // namespace

std::string Printable(std::string_view text, bool keepLineBreaks) {
    std::string out;
    out.reserve(text.size());
    char buf[12];
    for (std::size_t i = 0; i < text.size();) {
        char32_t cp = 0;
        const std::size_t n = Utf8At(text, i, cp);
        if (n == 0) {
            std::snprintf(buf, sizeof buf, "\\x%02x", static_cast<unsigned char>(text[i]));
            out += buf;
            ++i;
            continue;
        }
        if (!Escaped(cp) || (keepLineBreaks && cp == '\n')) {
            out.append(text, i, n);
        } else if (cp == '\n') {
            out += "\\n";
        } else if (cp == '\r') {
            out += "\\r";
        } else if (cp == '\t') {
            out += "\\t";
        } else {
            std::snprintf(buf, sizeof buf, cp < 0x80 ? "\\x%02x" : "\\u%04x",
                          static_cast<unsigned>(cp));
            out += buf;
        }
        i += n;
    }
    return out;
}

}  // namespace tralux
