#include "engine/formats/wav_writer.h"

#include <algorithm>
#include <cstring>

namespace tralux {
namespace {

void Put16(std::uint8_t*& p, std::uint16_t v) {
    *p++ = static_cast<std::uint8_t>(v);
    *p++ = static_cast<std::uint8_t>(v >> 8);
}
void Put32(std::uint8_t*& p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) *p++ = static_cast<std::uint8_t>(v >> (8 * i));
}
void PutId(std::uint8_t*& p, const char* id) {
    std::memcpy(p, id, 4);
    p += 4;
}
void Patch32(File& file, std::uint64_t offset, std::uint64_t value) {
    std::uint8_t b[4];
    std::uint8_t* p = b;
    Put32(p, static_cast<std::uint32_t>(std::min<std::uint64_t>(value, UINT32_MAX)));
    file.Seek(offset);
    file.Write(b, 4);
}

}  // namespace

std::uint64_t WriteWavHeader(File& file, int channels, std::uint32_t rate) {
    std::uint8_t h[44];
    std::uint8_t* p = h;
    PutId(p, "RIFF");
    Put32(p, 0);
    PutId(p, "WAVE");
    PutId(p, "fmt ");
    Put32(p, 16);
    Put16(p, 1);
    Put16(p, static_cast<std::uint16_t>(channels));
    Put32(p, rate);
    Put32(p, rate * static_cast<std::uint32_t>(channels) * 2);
    Put16(p, static_cast<std::uint16_t>(channels * 2));
    Put16(p, 16);
    PutId(p, "data");
    const std::uint64_t dataSizeOffset = file.Position() + static_cast<std::uint64_t>(p - h);
    Put32(p, 0);
    file.Write(h, sizeof h);
    return dataSizeOffset;
}

void WriteInfoItem(const char (&id)[5], const std::string& text, File& file) {
    if (text.empty()) return;
    const std::size_t len = std::min(text.size(), kMaxInfoText);
    // The size counts the terminating zero and, for even lengths, a pad byte.
    const std::uint32_t size = static_cast<std::uint32_t>(len + ((len & 1) ? 1 : 2));
    std::uint8_t buf[8 + kMaxInfoText + 2] = {};
    std::uint8_t* p = buf;
    PutId(p, id);
    Put32(p, size);
    std::memcpy(p, text.data(), len);
    file.Write(buf, 8 + size);
}

void WriteInfoChunk(File& file, const std::string& title, const std::string& artist,
                    const std::string& copyright, bool withTexts, const InfoExtras& extras) {
    std::uint8_t head[12];
    std::uint8_t* p = head;
    PutId(p, "LIST");
    const std::uint64_t sizeOffset = file.Position() + 4;
    Put32(p, static_cast<std::uint32_t>(sizeOffset));
    PutId(p, "INFO");
    file.Write(head, sizeof head);
    if (withTexts) {
        WriteInfoItem("INAM", title, file);
        WriteInfoItem("IART", artist, file);
        WriteInfoItem("ICOP", copyright, file);
        WriteInfoItem("IPRD", extras.album, file);
        WriteInfoItem("ICMT", extras.comment, file);
        WriteInfoItem("ICRD", extras.year, file);
        WriteInfoItem("ITRK", extras.track, file);
        WriteInfoItem("IGNR", extras.genre, file);
    }
    WriteInfoItem("ISFT", kSoftwareCredit, file);
    const std::uint64_t end = file.Position();
    Patch32(file, sizeOffset, end - sizeOffset - 4);
    file.Seek(end);
}

void FinishWav(File& file, std::uint64_t dataSizeOffset, std::uint64_t dataSize) {
    const std::uint64_t length = file.Length();
    Patch32(file, 4, length - 8);
    Patch32(file, dataSizeOffset, dataSize);
    file.Seek(length);
}

}  // namespace tralux
