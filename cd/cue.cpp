#include "cd/cue.h"

#include <algorithm>
#include <cctype>
#include <optional>

namespace tralux::cd {
namespace {

constexpr std::uint32_t kMaxDiscSectors = 100u * 60u * 75u;  // far beyond any CD

bool SetError(std::string* error, std::size_t line, const std::string& text) {
    if (error) *error = (line ? "line " + std::to_string(line) + ": " : std::string()) + text;
    return false;
}

std::string Upper(std::string_view s) {
    std::string u(s);
    for (char& c : u) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return u;
}

// Splits one line into words; a quoted word keeps its blanks (no escapes, as in the format).
std::vector<std::string> Words(std::string_view line) {
    std::vector<std::string> words;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
        if (i >= line.size()) break;
        std::string w;
        if (line[i] == '"') {
            ++i;
            while (i < line.size() && line[i] != '"') w += line[i++];
            if (i < line.size()) ++i;
        } else {
            while (i < line.size() && line[i] != ' ' && line[i] != '\t') w += line[i++];
        }
        words.push_back(std::move(w));
    }
    return words;
}

std::optional<std::uint32_t> Number(std::string_view s, std::uint32_t max) {
    if (s.empty() || s.size() > 9) return std::nullopt;
    std::uint32_t v = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return std::nullopt;
        v = v * 10 + static_cast<std::uint32_t>(c - '0');
    }
    if (v > max) return std::nullopt;
    return v;
}

// mm:ss:ff in CD frames.
std::optional<std::uint32_t> Msf(std::string_view s) {
    const auto a = s.find(':');
    if (a == std::string_view::npos) return std::nullopt;
    const auto b = s.find(':', a + 1);
    if (b == std::string_view::npos) return std::nullopt;
    const auto m = Number(s.substr(0, a), 999);
    const auto sec = Number(s.substr(a + 1, b - a - 1), 59);
    const auto f = Number(s.substr(b + 1), 74);
    if (!m || !sec || !f) return std::nullopt;
    return (*m * 60 + *sec) * 75 + *f;
}

}  // namespace

const CueIndex* CueTrack::Index(int n) const {
    for (const CueIndex& i : indexes)
        if (i.number == n) return &i;
    return nullptr;
}

bool ParseCue(std::string_view text, CueSheet& sheet, std::string* error) {
    sheet = CueSheet{};
    if (text.size() >= 3 && static_cast<unsigned char>(text[0]) == 0xEF &&
        static_cast<unsigned char>(text[1]) == 0xBB && static_cast<unsigned char>(text[2]) == 0xBF)
        text.remove_prefix(3);
    std::size_t lineNo = 0;
    std::size_t pos = 0;
    bool sawIndexInTrack = false;
    while (pos <= text.size()) {
        std::size_t endLine = text.find_first_of("\r\n", pos);
        if (endLine == std::string_view::npos) endLine = text.size();
        const std::string_view line = text.substr(pos, endLine - pos);
        pos = endLine + 1;
        if (endLine < text.size() && text[endLine] == '\r' && pos < text.size() &&
            text[pos] == '\n')
            ++pos;
        ++lineNo;
        const std::vector<std::string> w = Words(line);
        if (w.empty()) {
            if (endLine >= text.size()) break;
            continue;
        }
        const std::string key = Upper(w[0]);
        CueTrack* track = sheet.tracks.empty() ? nullptr : &sheet.tracks.back();
        if (key == "FILE") {
            if (w.size() < 3) return SetError(error, lineNo, "FILE needs a name and a type");
            const std::string type = Upper(w[2]);
            if (type != "BINARY" && type != "MOTOROLA")
                return SetError(error, lineNo,
                                "only BINARY and MOTOROLA files are supported, not " + w[2]);
            if (w[1].empty()) return SetError(error, lineNo, "empty file name");
            if (sheet.files.size() >= 99) return SetError(error, lineNo, "too many files");
            sheet.files.push_back({w[1], type == "MOTOROLA"});
        } else if (key == "TRACK") {
            if (sheet.files.empty()) return SetError(error, lineNo, "TRACK before FILE");
            if (w.size() < 3) return SetError(error, lineNo, "TRACK needs a number and a mode");
            const auto n = Number(w[1], 99);
            if (!n || *n == 0) return SetError(error, lineNo, "track numbers run from 1 to 99");
            if (track && static_cast<int>(*n) != track->number + 1)
                return SetError(error, lineNo, "track numbers must rise by one");
            if (track && !track->Index(1))
                return SetError(error, lineNo, "previous track has no INDEX 01");
            const std::string mode = Upper(w[2]);
            CueTrack t;
            t.number = static_cast<int>(*n);
            if (mode == "AUDIO")
                t.audio = true;
            else if (mode == "MODE1/2352" || mode == "MODE2/2352")
                t.audio = false;
            else
                return SetError(error, lineNo,
                                "unsupported track mode " + w[2] + " (raw 2352-byte sectors only)");
            sheet.tracks.push_back(std::move(t));
            sawIndexInTrack = false;
        } else if (key == "INDEX") {
            if (!track) return SetError(error, lineNo, "INDEX before TRACK");
            if (w.size() < 3) return SetError(error, lineNo, "INDEX needs a number and a time");
            const auto n = Number(w[1], 99);
            const auto at = Msf(w[2]);
            if (!n || !at) return SetError(error, lineNo, "bad INDEX");
            if (!track->indexes.empty() && static_cast<int>(*n) <= track->indexes.back().number)
                return SetError(error, lineNo, "index numbers must rise");
            if (track->indexes.empty() && *n > 1)
                return SetError(error, lineNo, "a track starts with INDEX 00 or 01");
            const CueIndex idx{static_cast<int>(*n), sheet.files.size() - 1, *at};
            // Positions never go back: later file, or same file and not earlier.
            for (auto t = sheet.tracks.rbegin(); t != sheet.tracks.rend(); ++t) {
                if (t->indexes.empty()) continue;
                const CueIndex& last = t->indexes.back();
                if (last.file == idx.file && idx.frame < last.frame)
                    return SetError(error, lineNo, "INDEX goes back in its file");
                break;
            }
            track->indexes.push_back(idx);
            sawIndexInTrack = true;
        } else if (key == "PREGAP" || key == "POSTGAP") {
            if (!track) return SetError(error, lineNo, key + " before TRACK");
            if (w.size() < 2) return SetError(error, lineNo, key + " needs a time");
            const auto len = Msf(w[1]);
            if (!len) return SetError(error, lineNo, "bad " + key);
            if (key == "PREGAP") {
                if (sawIndexInTrack) return SetError(error, lineNo, "PREGAP after INDEX");
                track->pregap = *len;
            } else {
                if (!track->Index(1)) return SetError(error, lineNo, "POSTGAP before INDEX 01");
                track->postgap = *len;
            }
        } else if (key == "CATALOG" && !track && w.size() > 1) {
            sheet.catalog = w[1].substr(0, 13);
        } else if (key == "ISRC" && track && w.size() > 1) {
            track->isrc = w[1].substr(0, 12);
        } else if (key == "TITLE" || key == "PERFORMER") {
            const std::string value = w.size() > 1 ? w[1] : std::string();
            std::string& target = track ? (key == "TITLE" ? track->title : track->performer)
                                        : (key == "TITLE" ? sheet.title : sheet.performer);
            target = value.substr(0, 255);
        }
        // REM, CDTEXTFILE, FLAGS, SONGWRITER and anything else: ignored.
        if (endLine >= text.size()) break;
    }
    if (sheet.tracks.empty()) return SetError(error, 0, "no TRACK");
    if (!sheet.tracks.back().Index(1)) return SetError(error, 0, "last track has no INDEX 01");
    return true;
}

bool BuildImageLayout(const CueSheet& sheet, const std::vector<std::uint64_t>& fileSectors,
                      ImageLayout& layout, std::string* error) {
    layout = ImageLayout{};
    if (sheet.tracks.empty() || fileSectors.size() != sheet.files.size())
        return SetError(error, 0, "sheet and files do not agree");
    // Silence inserted at a point of a file: postgaps (stage 0) come before the next track's
    // indexes, a pregap (stage 1) between that track's INDEX 00 and INDEX 01.
    struct Insertion {
        std::size_t file;
        std::uint64_t frame;
        int stage;
        std::uint32_t sectors;
    };
    std::vector<Insertion> insertions;
    for (std::size_t t = 0; t < sheet.tracks.size(); ++t) {
        const CueTrack& tr = sheet.tracks[t];
        const CueIndex* one = tr.Index(1);
        if (!one) return SetError(error, 0, "track without INDEX 01");
        for (const CueIndex& i : tr.indexes)
            if (i.frame > fileSectors[i.file])
                return SetError(error, 0, "INDEX beyond the end of its file");
        if (tr.pregap) insertions.push_back({one->file, one->frame, 1, tr.pregap});
        if (tr.postgap) {
            if (t + 1 < sheet.tracks.size()) {
                const CueIndex& next = sheet.tracks[t + 1].indexes.front();
                insertions.push_back({next.file, next.frame, 0, tr.postgap});
            } else {
                const std::size_t f = tr.indexes.back().file;
                insertions.push_back({f, fileSectors[f], 0, tr.postgap});
            }
        }
    }
    std::stable_sort(insertions.begin(), insertions.end(),
                     [](const Insertion& a, const Insertion& b) {
                         if (a.file != b.file) return a.file < b.file;
                         if (a.frame != b.frame) return a.frame < b.frame;
                         return a.stage < b.stage;
                     });

    // Walk the files, emitting runs of data and silence, and note each file's start.
    std::vector<std::uint64_t> fileStart(sheet.files.size(), 0);
    std::uint64_t lba = 0;
    std::size_t next = 0;
    auto emit = [&](int file, std::uint64_t fileSector, std::uint64_t sectors) {
        if (sectors == 0) return;
        layout.segments.push_back({static_cast<std::uint32_t>(lba),
                                   static_cast<std::uint32_t>(sectors), file, fileSector});
        lba += sectors;
    };
    for (std::size_t f = 0; f < sheet.files.size(); ++f) {
        fileStart[f] = lba;
        std::uint64_t at = 0;
        for (; next < insertions.size() && insertions[next].file == f; ++next) {
            const Insertion& ins = insertions[next];
            emit(static_cast<int>(f), at, ins.frame - at);
            at = ins.frame;
            emit(-1, 0, ins.sectors);
            if (lba > kMaxDiscSectors) return SetError(error, 0, "image longer than any CD");
        }
        emit(static_cast<int>(f), at, fileSectors[f] - at);
        if (lba > kMaxDiscSectors) return SetError(error, 0, "image longer than any CD");
    }
    // An index's address: its file's start, its frame, and the silence inserted before it.
    auto address = [&](const CueIndex& i, int stage) {
        std::uint64_t a = fileStart[i.file] + i.frame;
        for (const Insertion& ins : insertions)
            if (ins.file == i.file &&
                (ins.frame < i.frame || (ins.frame == i.frame && ins.stage < stage)))
                a += ins.sectors;
        return a;
    };
    DiscToc& toc = layout.toc;
    for (const CueTrack& tr : sheet.tracks) {
        TocTrack t;
        t.number = static_cast<std::uint8_t>(tr.number);
        t.audio = tr.audio;
        t.startLba = static_cast<std::uint32_t>(address(*tr.Index(1), 2));
        if (!toc.tracks.empty() && t.startLba <= toc.tracks.back().startLba)
            return SetError(error, 0, "track " + std::to_string(tr.number) + " is empty");
        toc.tracks.push_back(t);
    }
    toc.leadOutLba = static_cast<std::uint32_t>(lba);
    if (toc.leadOutLba <= toc.tracks.back().startLba)
        return SetError(error, 0, "last track is empty");
    toc.firstTrack = toc.tracks.front().number;
    toc.lastTrack = toc.tracks.back().number;
    return true;
}

}  // namespace tralux::cd
