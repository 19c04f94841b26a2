#pragma once
// One CD drive as the transport sees it: a device that answers MMC command blocks (SG_IO on a
// /dev/sr* device, or the image drive's interpreter) and that reads raw audio sectors on the
// raw-read road (CDROMREADAUDIO, or the image drive's own reader).
#include <cstddef>
#include <cstdint>
#include <span>

namespace tralux::cd {

constexpr std::uint32_t kSectorBytes = 2352;
constexpr std::uint32_t kFramesPerSector = 588;  // stereo 16-bit sample frames
constexpr std::uint32_t kSectorsPerSecond = 75;
constexpr std::uint32_t kLeadInFrames = 150;  // MSF 00:02:00 is LBA 0

// MMC operation codes used here.
constexpr std::uint8_t kOpTestUnitReady = 0x00;
constexpr std::uint8_t kOpInquiry = 0x12;
constexpr std::uint8_t kOpReadCapacity = 0x25;
constexpr std::uint8_t kOpReadToc = 0x43;
constexpr std::uint8_t kOpReadCd = 0xBE;

// SAM status bytes and sense keys.
constexpr std::uint8_t kStatusGood = 0x00;
constexpr std::uint8_t kStatusCheckCondition = 0x02;
constexpr std::uint8_t kSenseNotReady = 0x02;
constexpr std::uint8_t kSenseMediumError = 0x03;
constexpr std::uint8_t kSenseIllegalRequest = 0x05;
constexpr std::uint8_t kSenseUnitAttention = 0x06;

enum class ScsiDirection { None, In };

struct ScsiOutcome {
    bool delivered = false;  // the command reached the device and came back
    std::uint8_t status = kStatusGood;
    std::uint8_t senseKey = 0, asc = 0, ascq = 0;
    std::uint32_t residual = 0;  // bytes asked for but not transferred

    bool Good() const { return delivered && status == kStatusGood; }
    bool UnitAttention() const {
        return delivered && status == kStatusCheckCondition && senseKey == kSenseUnitAttention;
    }
};

class CdDevice {
public:
    virtual ~CdDevice() = default;
    // Sends one command block; `data` receives up to `length` bytes for ScsiDirection::In.
    virtual ScsiOutcome Execute(std::span<const std::uint8_t> cdb, ScsiDirection direction,
                                std::uint8_t* data, std::size_t length) = 0;
    // The raw-read road: one attempt at `count` raw 2,352-byte sectors from absolute `lba`.
    virtual bool ReadAudio(std::uint32_t lba, std::uint32_t count, std::uint8_t* out) = 0;
};

inline std::uint16_t Be16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] << 8 | p[1]);
}
inline std::uint32_t Be32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) << 24 | static_cast<std::uint32_t>(p[1]) << 16 |
           static_cast<std::uint32_t>(p[2]) << 8 | p[3];
}
inline void PutBe16(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v >> 8);
    p[1] = static_cast<std::uint8_t>(v);
}
inline void PutBe32(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v >> 24);
    p[1] = static_cast<std::uint8_t>(v >> 16);
    p[2] = static_cast<std::uint8_t>(v >> 8);
    p[3] = static_cast<std::uint8_t>(v);
}

}  // namespace tralux::cd
