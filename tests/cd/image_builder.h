#pragma once
// Builds CUE/BIN images for the CD tests from generated audio, and keeps the whole disc's bytes
// (silence the drive makes up included) to compare rips against.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "support/wav_builder.h"

namespace tralux::test {

struct ImageSpec {
    struct Track {
        std::uint32_t sectors = 0;  // content from INDEX 01 on
        bool audio = true;
        std::uint32_t gapSectors = 0;     // silence in the file before INDEX 01 (INDEX 00)
        std::uint32_t pregapSectors = 0;  // PREGAP: silence that is not in the file
        // Tone: 441 Hz, a period of exactly 100 frames (an overlap search finds it everywhere).
        enum class Content { Music, NearSilence, Silence, Tone } content = Content::Music;
    };
    std::uint32_t hiddenSectors = 0;  // audio before track 1's INDEX 01 (hidden track one audio)
    std::vector<Track> tracks;
    bool bigEndian = false;  // MOTOROLA
};

struct BuiltImage {
    std::string cuePath, binPath;
    Bytes disc;                         // every sector of the disc from LBA 0 to the lead-out
    std::vector<std::uint32_t> starts;  // absolute start of each track, then the lead-out
    Bytes Track(std::size_t i) const {  // the bytes a rip of track i+1 must give
        return Bytes(disc.begin() + starts[i] * 2352ll, disc.begin() + starts[i + 1] * 2352ll);
    }
    std::uint32_t LeadOut() const { return starts.back(); }
};

// Deterministic noise-like audio: no two tracks alike, no period a search could lock onto.
inline void AppendContent(Bytes& b, std::uint32_t sectors, std::uint32_t seed,
                          ImageSpec::Track::Content kind) {
    std::uint64_t x = 0x9E3779B97F4A7C15ull * (seed + 1);
    for (std::uint32_t i = 0; i < sectors * 588; ++i) {
        for (int ch = 0; ch < 2; ++ch) {
            x ^= x << 13;
            x ^= x >> 7;
            x ^= x << 17;
            std::int32_t v = 0;
            if (kind == ImageSpec::Track::Content::Music)
                v = static_cast<std::int32_t>((i * (seed + 3) + ch * 977) % 4001) * 6 - 12000 +
                    static_cast<std::int32_t>(x % 2001) - 1000;
            else if (kind == ImageSpec::Track::Content::NearSilence)
                v = static_cast<std::int32_t>(x % 3) - 1;  // dither around zero
            else if (kind == ImageSpec::Track::Content::Tone)
                v = static_cast<std::int32_t>(i % 100 < 50 ? i % 50 : 50 - i % 50) * 400 - 10000 +
                    ch * 7;
            Put16(b, static_cast<std::uint16_t>(static_cast<std::int16_t>(v)));
        }
    }
}

inline std::string Msf(std::uint32_t f) {
    char t[16];
    std::snprintf(t, sizeof t, "%02u:%02u:%02u", f / 4500, f / 75 % 60, f % 75);
    return t;
}

inline BuiltImage BuildImage(const TempDir& dir, const ImageSpec& layout,
                             const std::string& name = "disc") {
    BuiltImage img;
    img.binPath = dir / (name + ".bin");
    img.cuePath = dir / (name + ".cue");
    Bytes file;
    std::string cue = "REM generated\nFILE \"" + name + ".bin\" " +
                      (layout.bigEndian ? "MOTOROLA" : "BINARY") + "\n";
    auto silence = [](Bytes& b, std::uint32_t sectors) { b.insert(b.end(), sectors * 2352ull, 0); };
    if (layout.hiddenSectors)
        AppendContent(file, layout.hiddenSectors, 100, ImageSpec::Track::Content::Music);
    img.disc = file;
    for (std::size_t t = 0; t < layout.tracks.size(); ++t) {
        const ImageSpec::Track& tr = layout.tracks[t];
        char head[64];
        std::snprintf(head, sizeof head, "  TRACK %02zu %s\n", t + 1,
                      tr.audio ? "AUDIO" : "MODE1/2352");
        cue += head;
        cue += "    TITLE \"Song " + std::to_string(t + 1) + "\"\n";
        if (tr.pregapSectors) cue += "    PREGAP " + Msf(tr.pregapSectors) + "\n";
        const std::uint32_t fileSector = static_cast<std::uint32_t>(file.size() / 2352);
        if (t == 0 && layout.hiddenSectors) cue += "    INDEX 00 00:00:00\n";
        if (tr.gapSectors) {
            cue += "    INDEX 00 " + Msf(fileSector) + "\n";
            silence(file, tr.gapSectors);
            silence(img.disc, tr.gapSectors);
        }
        silence(img.disc, tr.pregapSectors);
        cue += "    INDEX 01 " + Msf(static_cast<std::uint32_t>(file.size() / 2352)) + "\n";
        img.starts.push_back(static_cast<std::uint32_t>(img.disc.size() / 2352));
        Bytes content;
        if (tr.audio) {
            AppendContent(content, tr.sectors, static_cast<std::uint32_t>(t + 1), tr.content);
        } else {
            for (std::uint32_t i = 0; i < tr.sectors * 2352; ++i)
                content.push_back(static_cast<std::uint8_t>(i * 7 + t));
        }
        file.insert(file.end(), content.begin(), content.end());
        img.disc.insert(img.disc.end(), content.begin(), content.end());
    }
    img.starts.push_back(static_cast<std::uint32_t>(img.disc.size() / 2352));
    Bytes stored = file;
    if (layout.bigEndian)
        for (std::size_t i = 0; i + 1 < stored.size(); i += 2) std::swap(stored[i], stored[i + 1]);
    WriteFile(img.binPath, stored);
    WriteFile(img.cuePath, Bytes(cue.begin(), cue.end()));
    return img;
}

// Three tracks with silence between them: the usual test disc.
inline ImageSpec ThreeTrackSpec() {
    ImageSpec s;
    s.tracks = {{300, true, 0, 0}, {260, true, 75, 0}, {140, true, 60, 0}};
    return s;
}

}  // namespace tralux::test
