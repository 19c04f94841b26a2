#include "engine/outputs/mp3_input.h"

#include <algorithm>
#include <cstring>

#include "engine/job/errors.h"

// Placeholder until the decoder lands: no MPEG stream is recognised.
namespace tralux {

bool ProbeMp3(File&, StreamInfo&, bool) { return false; }
bool Mp3InputOpen() { return false; }
void Mp3InputClose() {}
std::size_t Mp3SourceLoop(File&, const StreamInfo&) { throw JobError(kErrCodecInit); }

bool ReadId3v1(File& file, std::string& title, std::string& artist, std::string& comment) {
    const std::uint64_t keep = file.Position();
    const std::uint64_t length = file.Length();
    if (length < 128) return false;
    std::uint8_t tag[128];
    file.Seek(length - 128);
    const bool ok = file.ReadExact(tag, sizeof tag);
    file.Seek(keep);
    if (!ok || std::memcmp(tag, "TAG", 3) != 0) return false;
    auto field = [&](int offset) {
        std::string s(reinterpret_cast<const char*>(tag + offset), 30);
        s.resize(std::strlen(s.c_str()));
        while (!s.empty() && s.back() == ' ') s.pop_back();
        return s;
    };
    title = field(3);
    artist = field(33);
    comment = field(97);
    return true;
}

}  // namespace tralux
