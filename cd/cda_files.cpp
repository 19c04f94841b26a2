#include "cd/cda_files.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "cd/drives.h"
#include "cd/scsi.h"

namespace tralux::cd {
namespace {

void Put16(std::string& b, std::uint32_t v) {
    b += static_cast<char>(v & 0xFF);
    b += static_cast<char>((v >> 8) & 0xFF);
}
void Put32(std::string& b, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b += static_cast<char>((v >> (8 * i)) & 0xFF);
}
// Frame, second, minute, 0.
std::uint32_t MsfBytes(std::uint32_t frames) {
    const std::uint32_t f = frames % 75, s = frames / 75 % 60,
                        m = std::min<std::uint32_t>(frames / 75 / 60, 255);
    return f | s << 8 | m << 16;
}

// A serial number for the disc (the field is read and ignored): a checksum of its addresses.
std::uint32_t DiscSerial(const DiscToc& toc) {
    std::uint32_t s = toc.leadOutLba;
    for (const TocTrack& t : toc.tracks) s = s * 31 + t.startLba;
    return s;
}

}  // namespace

bool ParseCdaPath(std::string_view path, char& letter, int& track) {
    std::string_view rest;
    if (!ParseDriveRoot(path, letter, &rest)) return false;
    // "TrackNN.cda", any case, one or two digits.
    if (rest.size() < 10 || rest.size() > 11) return false;
    auto lower = [](std::string_view s) {
        std::string l(s);
        for (char& c : l) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return l;
    };
    if (lower(rest.substr(0, 5)) != "track" || lower(rest.substr(rest.size() - 4)) != ".cda")
        return false;
    const std::string_view digits = rest.substr(5, rest.size() - 9);
    int n = 0;
    for (char c : digits) {
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
        n = n * 10 + (c - '0');
    }
    if (n < 1 || n > 99) return false;
    track = n;
    return true;
}

bool BuildCdaFile(const DiscToc& toc, int track, std::uint32_t serial, std::string& bytes) {
    for (std::size_t k = 0; k < toc.tracks.size(); ++k) {
        const TocTrack& t = toc.tracks[k];
        if (t.number != track || !t.audio) continue;
        const std::uint32_t next =
            k + 1 < toc.tracks.size() ? toc.tracks[k + 1].startLba : toc.leadOutLba;
        if (next <= t.startLba) return false;
        const std::uint32_t length = next - t.startLba;
        bytes.clear();
        bytes += "RIFF";
        Put32(bytes, kCdaFileBytes - 8);
        bytes += "CDDAfmt ";
        Put32(bytes, 24);
        Put16(bytes, 1);  // format version
        Put16(bytes, static_cast<std::uint32_t>(track));
        Put32(bytes, serial);
        Put32(bytes, t.startLba);
        Put32(bytes, length);
        Put32(bytes, MsfBytes(t.startLba + kLeadInFrames));
        Put32(bytes, MsfBytes(length));
        return true;
    }
    return false;
}

std::vector<std::string> ListCdaFiles(const std::string& root) {
    std::vector<std::string> files;
    char letter;
    std::string_view rest;
    if (!ParseDriveRoot(root, letter, &rest) || !rest.empty()) return files;
    DiscToc toc;
    if (!ReadDiscToc(std::string(1, letter) + ":", toc)) return files;
    for (const TocTrack& t : toc.tracks) {
        if (!t.audio) continue;
        char name[32];
        std::snprintf(name, sizeof name, "%c:/Track%02u.cda", letter,
                      static_cast<unsigned>(t.number));
        files.emplace_back(name);
    }
    return files;
}

CdRootState InspectCdRoot(const std::string& root, std::string* reason) {
    char letter;
    if (!ParseDriveRoot(root, letter) || !FindCdDrive(letter)) {
        if (reason) *reason = root + ": no such CD drive";
        return CdRootState::NoSuchDrive;
    }
    const auto slot = FindCdDrive(letter);
    std::string why;
    auto device = OpenCdDrive(*slot, &why);
    if (!device) {
        if (reason) *reason = DriveLabel(*slot) + ": " + why;
        return CdRootState::Unusable;
    }
    DiscToc toc;
    if (!ReadTocFromDevice(*device, toc)) {
        if (reason) *reason = DriveLabel(*slot) + ": no readable disc";
        return CdRootState::NoDisc;
    }
    for (const TocTrack& t : toc.tracks)
        if (t.audio) return CdRootState::Audio;
    if (reason) *reason = DriveLabel(*slot) + ": no audio tracks";
    return CdRootState::NotAudio;
}

bool SynthesizeCdaFile(const std::string& path, std::string& bytes) {
    char letter;
    int track;
    if (!ParseCdaPath(path, letter, track)) return false;
    DiscToc toc;
    if (!ReadDiscToc(std::string(1, letter) + ":", toc)) return false;
    return BuildCdaFile(toc, track, DiscSerial(toc), bytes);
}

}  // namespace tralux::cd
