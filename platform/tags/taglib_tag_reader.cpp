#include "platform/tags/taglib_tag_reader.h"

#include <iconv.h>

#include <mutex>
#include <vector>

#include <taglib/apefile.h>
#include <taglib/asffile.h>
#include <taglib/asfpicture.h>
#include <taglib/attachedpictureframe.h>
#include <taglib/commentsframe.h>
#include <taglib/fileref.h>
#include <taglib/flacfile.h>
#include <taglib/mp4file.h>
#include <taglib/opusfile.h>
#include <taglib/tpropertymap.h>
#include <taglib/vorbisfile.h>
#include <taglib/xiphcomment.h>
#include <taglib/id3v1tag.h>
#include <taglib/id3v2tag.h>
#include <taglib/infotag.h>
#include <taglib/mpegfile.h>
#include <taglib/tbytevectorstream.h>
#include <taglib/tdebuglistener.h>
#include <taglib/textidentificationframe.h>
#include <taglib/tfilestream.h>
#include <taglib/wavfile.h>

#include "engine/formats/tag_reader.h"

namespace tralux::platform {
namespace {

bool ValidUtf8(std::string_view s) {
    for (std::size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        const std::size_t n = c < 0x80             ? 0
                              : (c & 0xE0) == 0xC0 ? 1
                              : (c & 0xF0) == 0xE0 ? 2
                              : (c & 0xF8) == 0xF0 ? 3
                                                   : 4;
        if (n == 4 || (n == 1 && c < 0xC2) || (n == 3 && c > 0xF4) || i + n >= s.size() + (n == 0))
            return false;
        for (std::size_t k = 1; k <= n; ++k)
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
        i += n + 1;
    }
    return true;
}

bool Big5ToUtf8(std::string_view in, std::string& out) {
    bool doubleByte = false;
    for (std::size_t i = 0; i < in.size(); ++i)
        if (static_cast<unsigned char>(in[i]) >= 0x81) doubleByte = true;
    if (!doubleByte) return false;
    iconv_t cd = iconv_open("UTF-8", "BIG5");
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    std::string src(in);
    out.assign(src.size() * 3 + 4, '\0');
    char* ip = src.data();
    char* op = out.data();
    std::size_t il = src.size(), ol = out.size();
    const std::size_t r = iconv(cd, &ip, &il, &op, &ol);
    iconv_close(cd);
    if (r == static_cast<std::size_t>(-1) || il != 0) return false;
    out.resize(out.size() - ol);
    return true;
}

std::string Latin1ToUtf8(std::string_view in) {
    std::string out;
    for (char ch : in) {
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

// INFO items arrive as raw bytes: our fallback instead of TagLib's UTF-8-only default.
class InfoTextHandler final : public TagLib::RIFF::Info::StringHandler {
public:
    TagLib::String parse(const TagLib::ByteVector& data) const override {
        const std::string text = TagTextToUtf8(std::string_view(data.data(), data.size()));
        return TagLib::String(text, TagLib::String::UTF8);
    }
};

// Malformed tags are expected input, not news for the terminal.
class QuietListener final : public TagLib::DebugListener {
public:
    void printMessage(const TagLib::String&) override {}
};

void SetUpTagLib() {
    static std::once_flag once;
    std::call_once(once, [] {
        static QuietListener quiet;
        static InfoTextHandler handler;
        TagLib::setDebugListener(&quiet);
        TagLib::RIFF::Info::Tag::setStringHandler(&handler);
    });
}

std::string Utf8(const TagLib::String& s) {
    std::string t = s.to8Bit(true);
    while (!t.empty() && (t.back() == ' ' || t.back() == '\0')) t.pop_back();
    return t;
}

void Take(std::string& field, const std::string& text) {
    if (!text.empty()) field = text;
}

void TakeTitle(StreamInfo& info, const std::string& text) {
    if (text.empty()) return;
    info.Title = text;
    info.TitleIsFileName = false;
}

std::string FrameText(const TagLib::ID3v2::Tag& tag, const char* id) {
    const TagLib::ID3v2::FrameList& list = tag.frameList(id);
    return list.isEmpty() ? std::string() : Utf8(list.front()->toString());
}

// Some writers keep the comment in a user text frame described "comment".
std::string UserComment(TagLib::ID3v2::Tag& tag) {
    for (const char* d : {"comment", "COMMENT", "Comment"})
        if (auto* f = TagLib::ID3v2::UserTextIdentificationFrame::find(&tag, d)) {
            const TagLib::StringList fields = f->fieldList();
            if (fields.size() >= 2) return Utf8(fields[1]);
        }
    return {};
}

void ReadMpeg(TagLib::IOStream& stream, StreamInfo& info) {
    TagLib::MPEG::File file(&stream, TagLib::ID3v2::FrameFactory::instance(), false);
    if (!file.isValid()) return;
    // The probe read ID3v1 as raw bytes; make them UTF-8 (old Chinese tags are Big5).
    info.Title = TagTextToUtf8(info.Title);
    info.Artist = TagTextToUtf8(info.Artist);
    info.Comment = TagTextToUtf8(info.Comment);
    if (file.hasID3v1Tag()) {
        const TagLib::ID3v1::Tag* v1 = file.ID3v1Tag();
        Take(info.Album, TagTextToUtf8(v1->album().to8Bit(false)));
        if (v1->year()) info.Year = std::to_string(v1->year());
        if (v1->track()) info.Track = std::to_string(v1->track());
    }
    if (!file.hasID3v2Tag()) return;
    TagLib::ID3v2::Tag& v2 = *file.ID3v2Tag();
    TakeTitle(info, FrameText(v2, "TIT2"));
    Take(info.Artist, FrameText(v2, "TPE1"));
    Take(info.Album, FrameText(v2, "TALB"));
    Take(info.Year, FrameText(v2, "TDRC"));
    Take(info.Track, FrameText(v2, "TRCK"));
    Take(info.Genre, FrameText(v2, "TCON"));
    std::string comment = Utf8(v2.comment());
    if (comment.empty()) comment = UserComment(v2);
    Take(info.Comment, comment);
    Take(info.Copyright, FrameText(v2, "TCOP"));
}

void ReadWav(TagLib::IOStream& stream, StreamInfo& info) {
    TagLib::RIFF::WAV::File file(&stream, false);
    if (!file.isValid() || !file.hasInfoTag()) return;
    const TagLib::RIFF::Info::Tag& tag = *file.InfoTag();
    TakeTitle(info, Utf8(tag.fieldText("INAM")));
    Take(info.Artist, Utf8(tag.fieldText("IART")));
    Take(info.Album, Utf8(tag.fieldText("IPRD")));
    Take(info.Copyright, Utf8(tag.fieldText("ICOP")));
    Take(info.Comment, Utf8(tag.fieldText("ICMT")));
    Take(info.Year, Utf8(tag.fieldText("ICRD")));
    Take(info.Track, Utf8(tag.fieldText("ITRK")));
    Take(info.Genre, Utf8(tag.fieldText("IGNR")));
}

std::string Property(const TagLib::PropertyMap& map, const char* key) {
    const auto it = map.find(key);
    if (it == map.end() || it->second.isEmpty()) return {};
    return Utf8(it->second.front());
}

// FLAC, Ogg, MP4, APE, WavPack, ASF, AIFF ...: TagLib's unified names.
void ReadAnyFile(TagLib::File& file, StreamInfo& info) {
    if (!file.isValid()) return;
    const TagLib::PropertyMap map = file.properties();
    TakeTitle(info, Property(map, "TITLE"));
    Take(info.Artist, Property(map, "ARTIST"));
    Take(info.Album, Property(map, "ALBUM"));
    Take(info.Year, Property(map, "DATE"));
    std::string track = Property(map, "TRACKNUMBER");
    const std::string total = Property(map, "TRACKTOTAL");
    if (!track.empty() && !total.empty() && track.find('/') == std::string::npos)
        track += "/" + total;
    Take(info.Track, track);
    Take(info.Genre, Property(map, "GENRE"));
    Take(info.Comment, Property(map, "COMMENT"));
    Take(info.Copyright, Property(map, "COPYRIGHT"));
}

// The picture called front cover, else the first one.
template <typename List, typename IsFront, typename Take>
bool PickPicture(const List& list, IsFront isFront, Take take) {
    if (list.isEmpty()) return false;
    for (const auto& p : list)
        if (isFront(p)) return take(p), true;
    return take(list.front()), true;
}

bool SetCover(const TagLib::ByteVector& data, const TagLib::String& mime, std::string& outMime,
              std::vector<std::uint8_t>& out) {
    if (data.isEmpty()) return false;
    out.assign(reinterpret_cast<const std::uint8_t*>(data.data()),
               reinterpret_cast<const std::uint8_t*>(data.data()) + data.size());
    outMime = mime.to8Bit(true);
    if (outMime.empty() || outMime.find('/') == std::string::npos) {
        // Older writers leave the type out: PNG has a signature, everything else is JPEG.
        outMime = data.startsWith("\x89PNG") ? "image/png" : "image/jpeg";
    }
    return true;
}

bool XiphCover(const TagLib::List<TagLib::FLAC::Picture*>& list, std::string& mime,
               std::vector<std::uint8_t>& bytes) {
    bool found = false;
    PickPicture(
        list,
        [](TagLib::FLAC::Picture* p) { return p->type() == TagLib::FLAC::Picture::FrontCover; },
        [&](TagLib::FLAC::Picture* p) { found = SetCover(p->data(), p->mimeType(), mime, bytes); });
    return found;
}

bool CoverOf(TagLib::File* file, std::string& mime, std::vector<std::uint8_t>& bytes) {
    if (!file || !file->isValid()) return false;
    if (auto* f = dynamic_cast<TagLib::FLAC::File*>(file))
        return XiphCover(f->pictureList(), mime, bytes);
    if (auto* f = dynamic_cast<TagLib::Ogg::Vorbis::File*>(file))
        return f->tag() && XiphCover(f->tag()->pictureList(), mime, bytes);
    if (auto* f = dynamic_cast<TagLib::Ogg::Opus::File*>(file))
        return f->tag() && XiphCover(f->tag()->pictureList(), mime, bytes);
    if (auto* f = dynamic_cast<TagLib::MP4::File*>(file)) {
        if (!f->tag() || !f->tag()->contains("covr")) return false;
        const TagLib::MP4::CoverArtList covers = f->tag()->item("covr").toCoverArtList();
        if (covers.isEmpty()) return false;
        const TagLib::MP4::CoverArt& c = covers.front();
        return SetCover(c.data(), c.format() == TagLib::MP4::CoverArt::PNG ? "image/png" : "", mime,
                        bytes);
    }
    if (auto* f = dynamic_cast<TagLib::MPEG::File*>(file)) {
        if (!f->hasID3v2Tag()) return false;
        bool found = false;
        const TagLib::ID3v2::FrameList& frames = f->ID3v2Tag()->frameList("APIC");
        PickPicture(
            frames,
            [](TagLib::ID3v2::Frame* p) {
                auto* a = dynamic_cast<TagLib::ID3v2::AttachedPictureFrame*>(p);
                return a && a->type() == TagLib::ID3v2::AttachedPictureFrame::FrontCover;
            },
            [&](TagLib::ID3v2::Frame* p) {
                if (auto* a = dynamic_cast<TagLib::ID3v2::AttachedPictureFrame*>(p))
                    found = SetCover(a->picture(), a->mimeType(), mime, bytes);
            });
        return found;
    }
    if (auto* f = dynamic_cast<TagLib::ASF::File*>(file)) {
        if (!f->tag() || !f->tag()->contains("WM/Picture")) return false;
        const TagLib::ASF::AttributeList list = f->tag()->attribute("WM/Picture");
        if (list.isEmpty()) return false;
        const TagLib::ASF::Picture p = list.front().toPicture();
        return p.isValid() && SetCover(p.picture(), p.mimeType(), mime, bytes);
    }
    return false;
}

void Read(TagLib::IOStream& stream, bool riff, StreamInfo& info) {
    SetUpTagLib();
    try {
        if (riff)
            ReadWav(stream, info);
        else
            ReadMpeg(stream, info);
    } catch (...) {
        // A tag that cannot be read leaves the probe's texts.
    }
}

}  // namespace

std::string TagTextToUtf8(std::string_view bytes) {
    while (!bytes.empty() && (bytes.back() == '\0' || bytes.back() == ' ')) bytes.remove_suffix(1);
    const auto nul = bytes.find('\0');
    if (nul != std::string_view::npos) bytes = bytes.substr(0, nul);
    if (ValidUtf8(bytes)) return std::string(bytes);
    std::string out;
    if (Big5ToUtf8(bytes, out)) return out;
    return Latin1ToUtf8(bytes);
}

namespace {

void ReadTagsOfFile(const std::string& path, StreamInfo& info) {
    if (info.Kind == kKindMedia) {
        SetUpTagLib();
        try {
            TagLib::FileRef ref(path.c_str(), false);
            if (!ref.isNull()) ReadAnyFile(*ref.file(), info);
        } catch (...) {
        }
        return;
    }
    if (info.Kind != kKindMp3 && !(info.Kind == kKindRiff && info.trackNumber == 0)) return;
    TagLib::FileStream stream(path.c_str(), true);
    if (!stream.isOpen()) return;
    Read(stream, info.Kind == kKindRiff, info);
}

bool ReadCoverOfFile(const std::string& path, std::string& mime, std::vector<std::uint8_t>& bytes) {
    SetUpTagLib();
    mime.clear();
    bytes.clear();
    try {
        TagLib::FileRef ref(path.c_str(), false);
        return !ref.isNull() && CoverOf(ref.file(), mime, bytes);
    } catch (...) {
        bytes.clear();
        return false;
    }
}

class TagLibReader final : public InputTagReader {
public:
    void ReadTags(const std::string& path, StreamInfo& info) override {
        ReadTagsOfFile(path, info);
    }
    bool ReadCover(const std::string& path, std::string& mime,
                   std::vector<std::uint8_t>& bytes) override {
        return ReadCoverOfFile(path, mime, bytes);
    }
};

}  // namespace

void InstallTagLibReader() {
    static TagLibReader reader;
    SetInputTagReader(&reader);
}

void ReadInputTagsFromMemory(const std::uint8_t* data, std::size_t size, StreamInfo& info) {
    const TagLib::ByteVector bytes(reinterpret_cast<const char*>(data),
                                   static_cast<unsigned int>(size));
    TagLib::ByteVectorStream stream(bytes);
    if (info.Kind == kKindMedia) {
        SetUpTagLib();
        try {
            // The kind is told by the content, as for a file with an unknown name.
            TagLib::FileRef ref(&stream, false);
            if (ref.isNull()) return;
            ReadAnyFile(*ref.file(), info);
            std::string mime;
            std::vector<std::uint8_t> cover;
            CoverOf(ref.file(), mime, cover);
        } catch (...) {
        }
        return;
    }
    const bool riff =
        size >= 4 && data[0] == 'R' && data[1] == 'I' && data[2] == 'F' && data[3] == 'F';
    Read(stream, riff, info);
}

}  // namespace tralux::platform
