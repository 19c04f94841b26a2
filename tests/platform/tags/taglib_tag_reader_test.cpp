#include "platform/tags/taglib_tag_reader.h"

#include <gtest/gtest.h>

#include "engine/formats/riff_reader.h"
#include "engine/formats/tag_reader.h"
#include "engine/outputs/id3v2_writer.h"
#include "engine/outputs/mp3_info_frame.h"
#include "support/wav_builder.h"

namespace tralux::platform {
namespace {

using test::Bytes;

Bytes Str(const std::string& s) {
    return Bytes(s.begin(), s.end());
}
Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes b;
    for (const Bytes& p : parts) b.insert(b.end(), p.begin(), p.end());
    return b;
}
Bytes Utf16Le(const std::u16string& s, bool bom = true) {
    Bytes b;
    if (bom) b = {0xFF, 0xFE};
    for (char16_t c : s) {
        b.push_back(static_cast<std::uint8_t>(c));
        b.push_back(static_cast<std::uint8_t>(c >> 8));
    }
    return b;
}
Bytes Utf16Be(const std::u16string& s) {
    Bytes b;
    for (char16_t c : s) {
        b.push_back(static_cast<std::uint8_t>(c >> 8));
        b.push_back(static_cast<std::uint8_t>(c));
    }
    return b;
}
Bytes Synchsafe(std::size_t v) {
    return {static_cast<std::uint8_t>(v >> 21 & 0x7F), static_cast<std::uint8_t>(v >> 14 & 0x7F),
            static_cast<std::uint8_t>(v >> 7 & 0x7F), static_cast<std::uint8_t>(v & 0x7F)};
}
Bytes Be(std::size_t v, int n) {
    Bytes b;
    for (int i = n - 1; i >= 0; --i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    return b;
}
// Frames: version 2.2 (3-byte ids and sizes), 2.3 (plain sizes), 2.4 (synchsafe sizes).
Bytes Frame22(const char* id, const Bytes& body) {
    return Cat({Str(id), Be(body.size(), 3), body});
}
Bytes Frame23(const char* id, const Bytes& body) {
    return Cat({Str(id), Be(body.size(), 4), {0, 0}, body});
}
Bytes Frame24(const char* id, const Bytes& body) {
    return Cat({Str(id), Synchsafe(body.size()), {0, 0}, body});
}
Bytes Tag(int version, std::uint8_t flags, const Bytes& body) {
    return Cat(
        {Str("ID3"), {static_cast<std::uint8_t>(version), 0, flags}, Synchsafe(body.size()), body});
}
// A few MPEG frames after the tag, as in a real file.
Bytes Audio() {
    Mp3InfoTag t;
    const std::vector<std::uint8_t> f = BuildMp3InfoFrame(44100, 2, t, 0);
    return Cat({f, f, f});
}
Bytes Id3v1(const std::string& title, const std::string& album) {
    Bytes v(128, 0);
    std::copy_n("TAG", 3, v.begin());
    std::copy(title.begin(), title.end(), v.begin() + 3);
    std::copy(album.begin(), album.end(), v.begin() + 63);
    v[127] = 255;
    return v;
}

StreamInfo Read(const Bytes& file) {
    StreamInfo info;
    info.Kind = file.size() >= 4 && file[0] == 'R' ? kKindRiff : kKindMp3;
    ReadInputTagsFromMemory(file.data(), file.size(), info);
    return info;
}

TEST(TagTextToUtf8, KeepsUtf8AndRescuesBig5AndLatin1) {
    EXPECT_EQ(TagTextToUtf8("夏夜的月光"), "夏夜的月光");
    EXPECT_EQ(TagTextToUtf8("\xAA\x4C\xA4\x70\xAB\x42"), "林小雨");  // Big5
    EXPECT_EQ(TagTextToUtf8("Caf\xE9"), "Café");                     // a lone lead byte: Latin-1
    EXPECT_EQ(TagTextToUtf8("M\xFC"
                            "ller"),
              "Müller");  // not a Big5 pair either
    EXPECT_EQ(TagTextToUtf8(std::string("Title   \0\0", 10)), "Title");
    EXPECT_EQ(TagTextToUtf8(""), "");
    // Invalid UTF-8 such as an overlong form is not passed through.
    EXPECT_NE(TagTextToUtf8("\xC0\xAF"), "\xC0\xAF");
}

TEST(ReadInputTags, Id3v22Latin1) {
    const Bytes body =
        Cat({Frame22("TT2", Cat({{0}, Str("Title22")})), Frame22("TP1", Cat({{0}, Str("Art")})),
             Frame22("TAL", Cat({{0}, Str("Alb")})), Frame22("TCR", Cat({{0}, Str("(C) X")})),
             Frame22("TYE", Cat({{0}, Str("1999")})), Frame22("TRK", Cat({{0}, Str("7")})),
             Frame22("COM", Cat({{0}, Str("eng"), {0}, Str("Comment22")}))});
    const StreamInfo info = Read(Cat({Tag(2, 0, body), Audio()}));
    EXPECT_EQ(info.Title, "Title22");
    EXPECT_EQ(info.Artist, "Art");
    EXPECT_EQ(info.Album, "Alb");
    EXPECT_EQ(info.Copyright, "(C) X");
    EXPECT_EQ(info.Year, "1999");
    EXPECT_EQ(info.Track, "7");
    EXPECT_EQ(info.Comment, "Comment22");
}

TEST(ReadInputTags, Id3v23Utf16WithBom) {
    const Bytes body = Cat(
        {Frame23("TIT2", Cat({{1}, Utf16Le(u"夏夜的月光")})),
         Frame23("TPE1", Cat({{1}, Utf16Le(u"林小雨")})), Frame23("TYER", Cat({{0}, Str("1977")})),
         Frame23("COMM", Cat({{1}, Str("chi"), Utf16Le(u""), {0, 0}, Utf16Le(u"好聽")}))});
    const StreamInfo info = Read(Cat({Tag(3, 0, body), Audio()}));
    EXPECT_EQ(info.Title, "夏夜的月光");
    EXPECT_EQ(info.Artist, "林小雨");
    EXPECT_EQ(info.Year, "1977");
    EXPECT_EQ(info.Comment, "好聽");
    EXPECT_EQ(info.Copyright, "");  // a comment is no copyright notice
}

TEST(ReadInputTags, Id3v23Unsynchronised) {
    // "ÿ" in UTF-16 with its BOM puts 0xFF before 0xFE and 0x00: the writer inserted zeros.
    Bytes body = Frame23("TIT2", Cat({{1}, Utf16Le(u"ÿÿ title")}));
    Bytes unsync;
    for (std::size_t i = 0; i < body.size(); ++i) {
        unsync.push_back(body[i]);
        if (body[i] == 0xFF && (i + 1 == body.size() || body[i + 1] >= 0xE0 || body[i + 1] == 0))
            unsync.push_back(0);
    }
    ASSERT_GT(unsync.size(), body.size());
    EXPECT_EQ(Read(Cat({Tag(3, 0x80, unsync), Audio()})).Title, "ÿÿ title");
}

TEST(ReadInputTags, Id3v24ExtendedHeaderFooterUtf8AndUtf16Be) {
    const Bytes extended = Cat({Synchsafe(6), {1, 0}});
    const Bytes frames =
        Cat({Frame24("TIT2", Cat({{3}, Str("夜之歌")})),
             Frame24("TPE1", Cat({{2}, Utf16Be(u"李香蘭")})),
             Frame24("TDRC", Cat({{3}, Str("2001-05")})), Frame24("TRCK", Cat({{3}, Str("3/12")})),
             Frame24("TCOP", Cat({{3}, Str("℗ 1944")})),
             // TagLib counts the footer into the tag size: the last frame is lost.
             Frame24("TSSE", Cat({{3}, Str("x")}))});
    const Bytes body = Cat({extended, frames});
    const Bytes footer = Cat({Str("3DI"), {4, 0, 0x50}, Synchsafe(body.size())});
    const StreamInfo info = Read(Cat({Tag(4, 0x50, body), footer, Audio()}));
    EXPECT_EQ(info.Title, "夜之歌");
    EXPECT_EQ(info.Artist, "李香蘭");
    EXPECT_EQ(info.Year, "2001-05");
    EXPECT_EQ(info.Track, "3/12");
    EXPECT_EQ(info.Copyright, "℗ 1944");
}

TEST(ReadInputTags, Id3v2IsPreferredAndId3v1FillsTheGaps) {
    StreamInfo info;
    info.Kind = kKindMp3;
    info.Title = "v1 title";  // what the probe read from the version 1 tag
    const Bytes file = Cat({Tag(4, 0, Frame24("TIT2", Cat({{3}, Str("v2 title")}))), Audio(),
                            Id3v1("v1 title", "v1 album")});
    ReadInputTagsFromMemory(file.data(), file.size(), info);
    EXPECT_EQ(info.Title, "v2 title");
    EXPECT_EQ(info.Album, "v1 album");
}

TEST(ReadInputTags, HostileTagsChangeNothing) {
    StreamInfo info;
    info.Kind = kKindMp3;
    info.Title = "kept";
    // A size far beyond the file, a frame larger than its tag, a truncated header.
    for (const Bytes& file :
         {Cat({Str("ID3"), {4, 0, 0, 0x7F, 0x7F, 0x7F, 0x7F}}),
          Tag(3, 0, Cat({Str("TIT2"), Be(0x7FFFFFF, 4), {0, 0}, {0}})), Str("ID3\x03")}) {
        ReadInputTagsFromMemory(file.data(), file.size(), info);
        EXPECT_EQ(info.Title, "kept");
    }
}

TEST(ReadInputTags, WavInfoWithBig5AndLatin1Items) {
    Bytes info;
    test::PutId(info, "INFO");
    auto item = [&](const char* id, const std::string& text) {
        Bytes t(text.begin(), text.end());
        t.push_back(0);
        test::PutChunk(info, id, t);
    };
    item("INAM", "夜之歌");
    item("IART", "\xAA\x4C\xA4\x70\xAB\x42");
    item("IPRD", "Album");
    item("ICOP", "(C) 1944");
    item("ICMT", "Caf\xE9");
    item("ICRD", "1944");
    const Bytes wav = test::Riff(
        {{"fmt ", test::FmtPayload(1, 1, 8000, 16)}, {"data", Bytes(1600, 0)}, {"LIST", info}});
    const StreamInfo s = Read(wav);
    EXPECT_EQ(s.Title, "夜之歌");
    EXPECT_EQ(s.Artist, "林小雨");
    EXPECT_EQ(s.Album, "Album");
    EXPECT_EQ(s.Copyright, "(C) 1944");
    EXPECT_EQ(s.Comment, "Café");
    EXPECT_EQ(s.Year, "1944");
}

// The engine's probe reads tags only through the reader the front end installed.
TEST(ReadInputTags, TheEnginesProbeUsesTheInstalledReader) {
    test::TempDir dir;
    const std::string path = dir / "tagged.mp3";
    const std::vector<std::uint8_t> tag = BuildId3v2Tag({"夏夜", "林小雨", "", "", "", "", "", ""});
    test::WriteFile(path, Cat({Bytes(tag.begin(), tag.end()), Audio()}));
    StreamInfo bare;
    SetInputTagReader(nullptr);
    ASSERT_TRUE(ProbeInput(path, bare));
    EXPECT_NE(bare.Artist, "林小雨");
    InstallTagLibReader();
    StreamInfo tagged;
    ASSERT_TRUE(ProbeInput(path, tagged));
    EXPECT_EQ(tagged.Title, "夏夜");
    EXPECT_EQ(tagged.Artist, "林小雨");
}

TEST(Id3v2Writer, WhatWeWriteReadsBack) {
    const Id3v2Texts texts{"夏夜的月光", "林小雨", "專輯", "1977", "3", "好聽", "© 1977", ""};
    const std::vector<std::uint8_t> tag = BuildId3v2Tag(texts);
    ASSERT_GE(tag.size(), 10u);
    EXPECT_EQ(std::string(tag.begin(), tag.begin() + 5), std::string("ID3\x04\x00", 5));
    const std::size_t size =
        std::size_t(tag[6]) << 21 | std::size_t(tag[7]) << 14 | std::size_t(tag[8]) << 7 | tag[9];
    EXPECT_EQ(size + 10, tag.size());
    const StreamInfo info = Read(Cat({Bytes(tag.begin(), tag.end()), Audio()}));
    EXPECT_EQ(info.Title, texts.title);
    EXPECT_EQ(info.Artist, texts.artist);
    EXPECT_EQ(info.Album, texts.album);
    EXPECT_EQ(info.Year, texts.year);
    EXPECT_EQ(info.Track, texts.track);
    EXPECT_EQ(info.Comment, texts.comment);
    EXPECT_EQ(info.Copyright, texts.copyright);

    EXPECT_TRUE(BuildId3v2Tag({}).empty());
    // A very long text is cut on a character boundary.
    std::string longTitle;
    for (int i = 0; i < 3000; ++i) longTitle += "香";
    const std::vector<std::uint8_t> cut = BuildId3v2Tag({longTitle, "", "", "", "", "", "", ""});
    const std::string title = Read(Cat({Bytes(cut.begin(), cut.end()), Audio()})).Title;
    EXPECT_GT(title.size(), 4000u);
    EXPECT_EQ(title.size() % 3, 0u);
    EXPECT_EQ(title.substr(0, 3), "香");
}

}  // namespace
}  // namespace tralux::platform
