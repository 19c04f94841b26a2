#include "engine/outputs/id3v2_writer.h"

#include "engine/outputs/output.h"

namespace tralux {
namespace {

void PutSynchsafe(std::vector<std::uint8_t>& out, std::size_t v) {
    for (int shift = 21; shift >= 0; shift -= 7)
        out.push_back(static_cast<std::uint8_t>((v >> shift) & 0x7F));
}

// Texts are cut at a frame size that no reader balks at; a cut never splits a UTF-8 sequence.
std::string Limit(const std::string& s) {
    constexpr std::size_t kMax = 4096;
    if (s.size() <= kMax) return s;
    std::size_t n = kMax;
    while (n > 0 && (static_cast<unsigned char>(s[n]) & 0xC0) == 0x80) --n;
    return s.substr(0, n);
}

void PutFrame(std::vector<std::uint8_t>& out, const char* id,
              const std::vector<std::uint8_t>& body) {
    out.insert(out.end(), id, id + 4);
    PutSynchsafe(out, body.size());
    out.push_back(0);
    out.push_back(0);
    out.insert(out.end(), body.begin(), body.end());
}

void PutText(std::vector<std::uint8_t>& out, const char* id, const std::string& text) {
    if (text.empty()) return;
    const std::string t = Limit(text);
    std::vector<std::uint8_t> body{3};  // UTF-8
    body.insert(body.end(), t.begin(), t.end());
    PutFrame(out, id, body);
}

// Readers stop at 16 MB pictures or earlier; a larger one is left out rather than cut.
constexpr std::size_t kMaxPictureBytes = 16u << 20;

void PutPicture(std::vector<std::uint8_t>& out, const CoverArt& cover) {
    if (cover.bytes.empty() || cover.bytes.size() > kMaxPictureBytes) return;
    std::string mime = cover.mimeType;
    if (mime.empty() || mime.find('\0') != std::string::npos)
        mime = cover.bytes.size() >= 4 && cover.bytes[0] == 0x89 && cover.bytes[1] == 'P'
                   ? "image/png"
                   : "image/jpeg";
    const std::string description =
        Limit(cover.description.substr(0, cover.description.find('\0')));
    std::vector<std::uint8_t> body{3};  // UTF-8 description
    body.insert(body.end(), mime.begin(), mime.end());
    body.push_back(0);
    body.push_back(3);  // front cover
    body.insert(body.end(), description.begin(), description.end());
    body.push_back(0);
    body.insert(body.end(), cover.bytes.begin(), cover.bytes.end());
    PutFrame(out, "APIC", body);
}

}  // namespace

std::vector<std::uint8_t> BuildId3v2Tag(const Id3v2Texts& t, const CoverArt* cover) {
    std::vector<std::uint8_t> frames;
    PutText(frames, "TIT2", t.title);
    PutText(frames, "TPE1", t.artist);
    PutText(frames, "TALB", t.album);
    PutText(frames, "TDRC", t.year);
    PutText(frames, "TRCK", t.track);
    PutText(frames, "TCON", t.genre);
    PutText(frames, "TCOP", t.copyright);
    if (!t.comment.empty()) {
        // Encoding, language "und", empty description, then the text.
        const std::string c = Limit(t.comment);
        std::vector<std::uint8_t> body{3, 'u', 'n', 'd', 0};
        body.insert(body.end(), c.begin(), c.end());
        PutFrame(frames, "COMM", body);
    }
    if (cover) PutPicture(frames, *cover);
    if (frames.empty()) return {};
    std::vector<std::uint8_t> tag{'I', 'D', '3', 4, 0, 0};
    PutSynchsafe(tag, frames.size());
    tag.insert(tag.end(), frames.begin(), frames.end());
    return tag;
}

}  // namespace tralux
