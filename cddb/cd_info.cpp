#include "cddb/cd_info.h"

#include <cstdio>

namespace tralux::cddb {
namespace {

bool StartsWith(std::string_view s, std::string_view prefix) {
    return s.substr(0, prefix.size()) == prefix;
}

// The value as the line gives it: only the line end goes.
void Append(std::string& to, std::string_view text) {
    while (!text.empty() && (text.back() == '\r' || text.back() == '\n')) text.remove_suffix(1);
    to.append(text);
}

// "KEYWORDn=" with n written without leading zeros; -1 when the line is not of that form.
long IndexedKeyword(std::string_view line, std::string_view keyword, std::string_view& value) {
    if (!StartsWith(line, keyword)) return -1;
    std::size_t pos = keyword.size();
    const std::size_t digits = pos;
    long n = 0;
    while (pos < line.size() && line[pos] >= '0' && line[pos] <= '9') {
        if (pos - digits >= 3) return -1;  // no disc has a thousand tracks
        n = n * 10 + (line[pos] - '0');
        ++pos;
    }
    if (pos == digits || pos >= line.size() || line[pos] != '=') return -1;
    if (line[digits] == '0' && pos - digits > 1) return -1;
    value = line.substr(pos + 1);
    return n;
}

}  // namespace

std::string DiscIdText(std::uint32_t discId) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%08x", static_cast<unsigned>(discId));
    return buf;
}

std::string ShortDiscIdText(std::uint32_t discId) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%x", static_cast<unsigned>(discId));
    return buf;
}

std::string PlaceholderTrackTitle(int trackNumber) {
    return "音樂 CD, 音軌#" + std::to_string(trackNumber);
}

std::string DefaultTrackTitle(int trackNumber) {
    return PlaceholderTrackTitle(trackNumber);
}

bool IsPlaceholderInfo(const CdInfo& info) {
    for (std::size_t i = 0; i < info.tracks.size(); ++i) {
        const std::string_view t = TrimBlanks(info.tracks[i].title);
        if (!t.empty() && t != PlaceholderTrackTitle(static_cast<int>(i + 1))) return false;
    }
    return true;
}

void SplitDiscTitle(std::string_view discTitle, std::string& artist, std::string& album) {
    const std::string_view whole = TrimBlanks(discTitle);
    const std::size_t cut = whole.find(" / ");
    if (cut == std::string_view::npos) {
        artist = album = std::string(whole);
        return;
    }
    artist = std::string(TrimBlanks(whole.substr(0, cut)));
    album = std::string(TrimBlanks(whole.substr(cut + 3)));
    if (artist.empty()) artist = album;
    if (album.empty()) album = artist;
}

std::string StripControls(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == '\t') {
            out.push_back(' ');
            continue;
        }
        if (c < 0x20 || c == 0x7F) continue;
        // U+0080..U+009F: C2 80..C2 9F in UTF-8.
        if (c == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
            static_cast<unsigned char>(text[i + 1]) <= 0x9F) {
            ++i;
            continue;
        }
        out.push_back(text[i]);
    }
    return out;
}

void ResetForDisc(CdInfo& info, std::uint32_t discId, std::size_t trackCount) {
    info.Clear();
    info.discIdText = DiscIdText(discId);
    info.tracks.resize(trackCount);
    for (std::size_t i = 0; i < trackCount; ++i)
        info.tracks[i].title = PlaceholderTrackTitle(static_cast<int>(i + 1));
}

bool ParseXmcd(const std::vector<std::string>& lines, CdInfo& info, std::size_t trackCount) {
    info.Clear();
    if (lines.empty()) return false;
    info.tracks.resize(trackCount);
    for (const std::string& raw : lines) {
        // Blanks before the keyword are not part of the value; those after the '=' are.
        std::string_view line = raw;
        while (!line.empty() && (line.front() == ' ' || line.front() == '\t'))
            line.remove_prefix(1);
        std::string* disc = nullptr;
        const std::size_t eq = line.find('=');
        const std::string_view key = line.substr(0, eq);
        if (key == "DISCID")
            disc = &info.discIdText;
        else if (key == "DTITLE")
            disc = &info.discTitle;
        else if (key == "EXTD")
            disc = &info.extended;
        else if (key == "DYEAR")
            disc = &info.year;
        else if (key == "DGENRE")
            disc = &info.genre;
        if (disc) {
            if (eq != std::string_view::npos) Append(*disc, line.substr(eq + 1));
            continue;
        }
        std::string_view value;
        long n = IndexedKeyword(line, "TTITLE", value);
        if (n >= 0) {
            if (static_cast<std::size_t>(n) < trackCount) Append(info.tracks[n].title, value);
            continue;
        }
        n = IndexedKeyword(line, "EXTT", value);
        if (n >= 0 && static_cast<std::size_t>(n) < trackCount)
            Append(info.tracks[n].extended, value);
    }
    auto clean = [](std::string& s) { s = std::string(TrimBlanks(StripControls(s))); };
    for (std::string* s : {&info.discIdText, &info.discTitle, &info.extended, &info.comments,
                           &info.year, &info.genre})
        clean(*s);
    for (CdTrackEntry& t : info.tracks) {
        clean(t.title);
        clean(t.extended);
    }
    return true;
}

std::vector<std::string> DefaultEntry(std::uint32_t discId, std::size_t trackCount,
                                      std::string_view discTitle, std::string_view extended) {
    std::vector<std::string> lines;
    lines.push_back("DTITLE=" + std::string(discTitle));
    lines.push_back("DISCID=" + DiscIdText(discId));
    lines.push_back("EXTD=" + std::string(extended));
    for (std::size_t i = 0; i < trackCount; ++i)
        lines.push_back("TTITLE" + std::to_string(i) + "=" +
                        DefaultTrackTitle(static_cast<int>(i + 1)));
    return lines;
}

void ComputeTrackLengths(CdInfo& info, const DiscToc& toc) {
    // Whole seconds of the absolute positions, as the table of contents gives them in MSF.
    auto seconds = [](std::uint32_t lba) { return (lba + 150) / 75; };
    const std::size_t n = std::min(info.tracks.size(), toc.tracks.size());
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint32_t start = seconds(toc.tracks[i].startLba);
        const std::uint32_t end =
            seconds(i + 1 < toc.tracks.size() ? toc.tracks[i + 1].startLba : toc.leadOutLba);
        info.tracks[i].seconds = end > start ? end - start : 0;
    }
}

bool IsValidUtf8(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        std::size_t len;
        std::uint32_t cp;
        if (c < 0x80) {
            ++i;
            continue;
        }
        if (c >= 0xC2 && c <= 0xDF) {
            len = 2;
            cp = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            len = 3;
            cp = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            len = 4;
            cp = c & 0x07;
        } else
            return false;
        if (i + len > text.size()) return false;
        for (std::size_t k = 1; k < len; ++k) {
            const auto d = static_cast<unsigned char>(text[i + k]);
            if ((d & 0xC0) != 0x80) return false;
            cp = cp << 6 | (d & 0x3F);
        }
        // Overlong forms, surrogates and values past U+10FFFF.
        if ((len == 3 && cp < 0x800) || (len == 4 && cp < 0x10000) || cp > 0x10FFFF ||
            (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += len;
    }
    return true;
}

std::string TruncateUtf8(std::string_view text, std::size_t maxBytes) {
    if (text.size() <= maxBytes) return std::string(text);
    std::size_t end = maxBytes;
    // Step back over continuation bytes to the start of the character that would be cut.
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    return std::string(text.substr(0, end));
}

std::string Latin1ToUtf8(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x80) {
            out.push_back(ch);
        } else {
            out.push_back(static_cast<char>(0xC0 | c >> 6));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

std::string_view TrimBlanks(std::string_view text) {
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    return text;
}

}  // namespace tralux::cddb
