// MPEG audio Layer III decoder: stream information (probe, VBR headers, seeking) and a
// frame decoder fed with compressed bytes in arbitrary pieces.
//
// Every object is reached through a handle (a magic value and the object's address); all
// state is per object, so separate objects may be used from separate threads.
#pragma once

#include <cstddef>
#include <cstdint>

namespace mp3dec {

// 32-bit status codes; the top two bits give the class: 00 success, 01 information (output
// valid), 10 warning (no frame this time), 11 error.
using Status = uint32_t;
inline constexpr Status kOk = 0x00000000u;
inline constexpr Status kErrParameter = 0xC0000001u;
inline constexpr Status kErrMemory = 0xC0000002u;
inline constexpr Status kErrHandle = 0xC0000003u;
inline constexpr Status kIoGeneric = 0x80010001u;
inline constexpr Status kIoOpen = 0x80010002u;
inline constexpr Status kIoClose = 0x80010003u;
inline constexpr Status kIoRead = 0x80010004u;
inline constexpr Status kInfoCrc = 0x41010001u;
inline constexpr Status kInfoMainData = 0x41010002u;
inline constexpr Status kErrDecoder = 0xC1010001u;
inline constexpr Status kErrLayer = 0xC1010002u;
inline constexpr Status kErrBufferTooSmall = 0xC1010003u;
inline constexpr Status kSyncSearched = 0x81010001u;
inline constexpr Status kSyncLost = 0x81010002u;
inline constexpr Status kSyncNeedData = 0x81010003u;
inline constexpr Status kSyncEof = 0x81010004u;

// Classes 00 and 01: the frame was produced.
inline bool StatusOutputValid(Status s) {
    return (s >> 30) <= 1;
}
// The text of any code ("(Ri3Zav) unknown SSC" for codes not in the table).
const char* StatusText(Status s);

// ---------------------------------------------------------------------------------------------
// Stream information

struct Mp3StreamInfo {
    int bitrate = 0;   // bit/s (average over the probed frames, or from the VBR header)
    int channels = 0;  // of the first frame
    int sampleRate = 0;
    int64_t durationMs = 0;
    bool variableBitrate = false;
    bool vbrHeader = false;  // a Xing, Info or VBRI header was found
    bool seekTable = false;
    int64_t fileLength = 0;        // bytes the duration and seek positions are computed over
    int64_t firstFrameOffset = 0;  // byte offset of the first frame within the probed bytes
    int64_t frames = 0;            // frame count from the VBR header, 0 when unknown
    int samplesPerFrame = 0;
};

inline constexpr uint32_t kInfoMagic = 0x4933704Du;  // the bytes "Mp3I" in memory order
class InfoObject;
struct Mp3InfoHandle {
    uint32_t magic = 0;
    InfoObject* object = nullptr;
};

Status Mp3InfoCreate(Mp3InfoHandle& handle);
Status Mp3InfoDelete(Mp3InfoHandle& handle);  // clears the handle
// Examines the start of a stream. An ID3 version 2 tag at the start is skipped when it lies
// within `length`; seek offsets are counted from bytes[0]. `fileLength` counts from bytes[0].
bool Mp3InfoProbe(Mp3InfoHandle handle, const uint8_t* bytes, size_t length, int64_t fileLength);
const Mp3StreamInfo* Mp3InfoGet(Mp3InfoHandle handle);  // null for a bad handle
int64_t Mp3InfoSeekOffset(Mp3InfoHandle handle, int64_t milliseconds);
int64_t Mp3InfoSeekPercent(Mp3InfoHandle handle, double percent);

// Size of an ID3 version 2 tag (header, body and footer) starting at bytes[0], or 0 when there
// is none. Needs the 10 header bytes.
size_t Mp3Id3v2Size(const uint8_t* bytes, size_t length);

// Length in bytes of the Layer III frame whose header starts at bytes[0] (4 bytes needed), and
// its samples per channel; 0 when the bytes are not a usable header (free format included).
int Mp3FrameLength(const uint8_t* bytes, size_t length, int& samplesPerFrame);

// ---------------------------------------------------------------------------------------------
// Decoder

struct Mp3FrameProperties {
    int version = 0;     // 0 MPEG-1, 1 MPEG-2, 2 MPEG-2.5
    int sampleRate = 0;  // of the stream
    int outputRate = 0;  // after the rate shift
    int channels = 0;    // of the stream
    int outputChannels = 0;
    int bitrate = 0;
    int samplesPerFrame = 0;   // per channel, at the output rate
    int64_t frameOffset = -1;  // input position of the frame (see Mp3DecoderSetPosition)
};

inline constexpr uint32_t kDecoderMagic = 0x00726973u;
class DecoderObject;
struct Mp3DecoderHandle {
    uint32_t magic = 0;
    DecoderObject* object = nullptr;
};

// rateShift 0, 1 or 2 divides the output rate by 1, 2 or 4.
Status Mp3DecoderCreate(Mp3DecoderHandle& handle, int rateShift, bool eightBit, bool monoOutput);
Status Mp3DecoderDelete(Mp3DecoderHandle& handle);  // clears the handle
Status Mp3DecoderReset(Mp3DecoderHandle handle);
Status Mp3DecoderFeed(Mp3DecoderHandle handle, const uint8_t* bytes, size_t length,
                      size_t& accepted);
// One frame of interleaved PCM (16-bit, or unsigned 8-bit), `produced` in bytes.
Status Mp3DecoderDecode(Mp3DecoderHandle handle, void* output, size_t capacity, size_t& produced);
// One frame of interleaved float samples (full scale +-1.0, not clipped), `produced` in bytes.
Status Mp3DecoderDecodeFloat(Mp3DecoderHandle handle, float* output, size_t capacityBytes,
                             size_t& produced);
Status Mp3DecoderProperties(Mp3DecoderHandle handle, Mp3FrameProperties& properties);
// Declares the stream position of the next byte to be fed; frames then report their offsets.
Status Mp3DecoderSetPosition(Mp3DecoderHandle handle, int64_t position);
// Declares that the stream carries a Xing or Info tag (Mp3StreamInfo::vbrHeader), as made by
// lame-based encoders. Decoding does not depend on it: such streams use the standard band
// layout at every rate. Kept across resets.
Status Mp3DecoderSetTaggedEncoder(Mp3DecoderHandle handle, bool tagged);
Status Mp3DecoderFreeSpace(Mp3DecoderHandle handle, size_t& bytes);
Status Mp3DecoderInputRate(Mp3DecoderHandle handle, int& bytesPerSecond);
Status Mp3DecoderEndOfInput(Mp3DecoderHandle handle);
bool Mp3DecoderIsEof(Mp3DecoderHandle handle);

// Bytes of the decoder's input ring.
inline constexpr size_t kInputRingBytes = 8192;
// Size of one decoder object, input ring included.
size_t Mp3DecoderObjectBytes();

}  // namespace mp3dec
