#include "cd/rip_log.h"

#include <cmath>
#include <cstdio>

namespace tralux::cd {
namespace {

std::string Msf(std::uint32_t sectors) {
    char t[16];
    std::snprintf(t, sizeof t, "%02u:%02u.%02u", sectors / 4500, sectors / 75 % 60, sectors % 75);
    return t;
}

std::string Hex(std::uint32_t v) {
    char t[12];
    std::snprintf(t, sizeof t, "%08x", v);
    return t;
}

std::string List(const std::vector<int>& numbers) {
    std::string s;
    for (int n : numbers) s += (s.empty() ? "" : ", ") + std::to_string(n);
    return s;
}

}  // namespace

std::string RipVerdict(const std::vector<RipLogTrack>& tracks) {
    std::vector<int> failed, mismatched, absent, differ, unchecked;
    for (const RipLogTrack& t : tracks) {
        if (t.error.empty() && t.testCrc && *t.testCrc != t.sums.crc) differ.push_back(t.number);
        if (!t.error.empty())
            failed.push_back(t.number);
        else if (!t.checked)
            unchecked.push_back(t.number);
        else if (t.accurateRip.kind == ArTrackResult::Mismatch)
            mismatched.push_back(t.number);
        else if (t.accurateRip.kind == ArTrackResult::Absent)
            absent.push_back(t.number);
    }
    if (tracks.empty()) return "no tracks ripped";
    if (failed.empty() && mismatched.empty() && absent.empty() && differ.empty() &&
        unchecked.empty())
        return "all tracks accurately ripped";
    std::string s;
    auto part = [&](const std::vector<int>& v, const char* what) {
        if (v.empty()) return;
        s += (s.empty() ? "" : "; ") + std::string(v.size() == 1 ? "track " : "tracks ") + List(v) +
             what;
    };
    part(failed, " failed");
    part(mismatched, " did not match the database");
    part(absent, " not in the database");
    part(differ, " test and copy differ");
    part(unchecked, " not checked against the database");
    return s;
}

std::string FormatRipLog(const RipLog& log) {
    std::string s;
    auto line = [&](const std::string& text) { s += text + "\n"; };
    line(log.program + " rip log");
    line("date: " + log.date);
    line("");
    line("drive: " + log.drive);
    std::string offset = (log.readOffset > 0 ? "+" : "") + std::to_string(log.readOffset);
    line("read offset: " + offset + " samples (" + log.readOffsetSource + ")");
    line(std::string("jitter correction: ") + (log.jitter ? "on" : "off"));
    line(std::string("test and copy: ") + (log.testCopy ? "on" : "off"));
    if (!log.offsetFinding.empty()) line("offset search: " + log.offsetFinding);
    line("");
    line("disc: " + (log.performer.empty() ? std::string("?") : log.performer) + " / " +
         (log.title.empty() ? std::string("?") : log.title));
    line("CD information: " + log.infoSource);
    line("AccurateRip: " + log.database);
    if (!log.catalog.empty()) line("media catalog number: " + log.catalog);
    if (!log.hiddenAudio.empty()) line(log.hiddenAudio);
    line("");
    line("table of contents");
    line("  track  start     length    first LBA  pre-gap");
    for (std::size_t k = 0; k < log.toc.tracks.size(); ++k) {
        const TocTrack& t = log.toc.tracks[k];
        const std::uint32_t next =
            k + 1 < log.toc.tracks.size() ? log.toc.tracks[k + 1].startLba : log.toc.leadOutLba;
        char row[128];
        std::snprintf(
            row, sizeof row, "  %2u     %s  %s  %9u  %s%s", static_cast<unsigned>(t.number),
            Msf(t.startLba).c_str(), Msf(next - t.startLba).c_str(), t.startLba,
            Msf(k < log.pregaps.size() ? log.pregaps[k] : 0).c_str(), t.audio ? "" : "  data");
        line(row);
    }
    line("  lead-out at LBA " + std::to_string(log.toc.leadOutLba));
    if (!log.pregapNote.empty()) line("  " + log.pregapNote);
    for (const RipLogTrack& t : log.tracks) {
        line("");
        char head[32];
        std::snprintf(head, sizeof head, "track %02d", t.number);
        line(head);
        if (!t.error.empty()) {
            line("  not ripped: " + t.error);
            continue;
        }
        line("  file: " + t.file);
        line("  pre-gap: " + Msf(t.pregapSectors));
        if (!t.isrc.empty()) line("  ISRC: " + t.isrc);
        char peak[32];
        std::snprintf(peak, sizeof peak, "%.1f %%", t.peak * 100.0 / 32768.0);
        line(std::string("  peak level: ") + peak);
        if (t.testCrc) {
            line("  test CRC: " + Hex(*t.testCrc));
            line("  copy CRC: " + Hex(t.sums.crc) +
                 (*t.testCrc == t.sums.crc ? "  (same)" : "  (differs: the two reads disagree)"));
        } else {
            line("  copy CRC: " + Hex(t.sums.crc));
        }
        line("  AccurateRip v1 " + Hex(t.sums.v1) + ", v2 " + Hex(t.sums.v2) + ": " +
             (t.checked ? ArResultText(t.accurateRip) : std::string("not looked up")));
        if (t.paddedFrames)
            line("  " + std::to_string(t.paddedFrames) +
                 " samples beyond the disc's edge could not be read: silence put in their place");
        if (t.overreadFrames)
            line("  " + std::to_string(t.overreadFrames) +
                 " samples read past the lead-out (the drive reads there)");
    }
    line("");
    line(RipVerdict(log.tracks));
    return s;
}

}  // namespace tralux::cd
