#include "platform/media_loader/media_names.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <utility>

namespace tralux::platform {

bool LooksLikeMediaContainer(const std::uint8_t* h, std::size_t size) {
    auto at = [&](std::size_t offset, const char* magic) {
        const std::size_t n = std::strlen(magic);
        return size >= offset + n && std::memcmp(h + offset, magic, n) == 0;
    };
    static constexpr std::uint8_t kAsf[] = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11};
    return at(0, "fLaC") || at(0, "OggS") || at(0, "FORM") || at(4, "ftyp") || at(0, "MAC ") ||
           at(0, "wvpk") || at(0, "caff") || at(0, "TTA1") ||
           (size >= sizeof kAsf && std::memcmp(h, kAsf, sizeof kAsf) == 0);
}

std::string MediaCodecDisplayName(const std::string& decoder) {
    static const std::pair<const char*, const char*> kNames[] = {{"flac", "FLAC"},
                                                                 {"vorbis", "Vorbis"},
                                                                 {"libvorbis", "Vorbis"},
                                                                 {"opus", "Opus"},
                                                                 {"libopus", "Opus"},
                                                                 {"aac", "AAC"},
                                                                 {"alac", "ALAC"},
                                                                 {"mp3float", "MP3"},
                                                                 {"mp3", "MP3"},
                                                                 {"mp2float", "MP2"},
                                                                 {"mp2", "MP2"},
                                                                 {"ape", "APE"},
                                                                 {"wavpack", "WavPack"},
                                                                 {"wmav1", "WMA"},
                                                                 {"wmav2", "WMA"},
                                                                 {"wmapro", "WMA Pro"},
                                                                 {"wmalossless", "WMA Lossless"},
                                                                 {"tta", "TTA"},
                                                                 {"ac3", "AC-3"},
                                                                 {"eac3", "E-AC-3"},
                                                                 {"dca", "DTS"}};
    for (const auto& [name, shown] : kNames)
        if (decoder == name) return shown;
    if (decoder.rfind("pcm_", 0) == 0) return "PCM";
    if (decoder.rfind("adpcm_", 0) == 0) return "ADPCM";
    std::string upper = decoder;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return upper;
}

const std::vector<std::string>& MediaInputExtensions() {
    static const std::vector<std::string> kExtensions{
        ".flac", ".ogg", ".oga", ".opus", ".m4a", ".m4b", ".mp4", ".aac", ".aif", ".aiff", ".aifc",
        ".ape",  ".wv",  ".mp2", ".mpc",  ".wma", ".asf", ".tta", ".caf", ".ac3", ".spx"};
    return kExtensions;
}

bool IsInputExtension(std::string extension) {
    for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (extension == ".wav" || extension == ".mp3") return true;
    const auto& media = MediaInputExtensions();
    return std::find(media.begin(), media.end(), extension) != media.end();
}

}  // namespace tralux::platform
