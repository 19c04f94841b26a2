#include "cd/aspi.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "cd/drives.h"
#include "platform/notify/notifier.h"

namespace tralux::cd {
namespace {

struct DriveHandle {
    CdDriveSlot slot;
    std::unique_ptr<CdDevice> device;
    bool tried = false;
    std::string problem;  // why it could not be opened
};

struct Transport {
    std::unique_ptr<std::uint8_t[]> buffer;
    bool inUse = false;
    std::vector<DriveHandle> drives;
    std::uint32_t leadOut = 0;
    std::unique_ptr<CdDevice> raw;
    std::string rawProblem;
    // A read answered UNIT ATTENTION: the disc may have been changed, so no further read is
    // trusted until the track is found again on the disc in the drive.
    bool mediumMayHaveChanged = false;
};

Transport& T() {
    static Transport t;
    return t;
}

CdDevice* Device(CdDriveAddress a) {
    Transport& t = T();
    if (a.adapter != 0 || a.target >= t.drives.size()) return nullptr;
    DriveHandle& d = t.drives[a.target];
    if (!d.tried) {
        d.tried = true;
        d.device = OpenCdDrive(d.slot, &d.problem);
    }
    return d.device.get();
}

constexpr std::uint8_t kMarker[4] = {0x12, 0x34, 0x56, 0x78};

// Sends a command, once more after a failure. With `whole`, a transfer that came back short
// (GOOD with a residue) is a failure too: the rest of the buffer holds an older read.
bool Send(CdDriveAddress address, ScsiDirection direction, std::uint32_t bufferLength,
          std::uint8_t* buffer, std::uint8_t cdbLength, const std::uint8_t* cdb, bool whole) {
    CdDevice* device = Device(address);
    if (!device) return false;
    for (int attempt = 0; attempt < 2; ++attempt) {
        const ScsiOutcome o = device->Execute({cdb, cdbLength}, direction, buffer, bufferLength);
        if (o.Good() && (!whole || o.residual == 0)) return true;
        if (o.UnitAttention()) {
            if (whole) T().mediumMayHaveChanged = true;
            return false;  // never resent
        }
    }
    return false;
}

}  // namespace

bool AspiOpen() {
    Transport& t = T();
    t.drives.clear();
    t.leadOut = 0;
    t.mediumMayHaveChanged = false;
    if (!t.buffer) {
        t.buffer.reset(new (std::nothrow) std::uint8_t[kTransferBufferBytes]);
        if (!t.buffer) {
            ShowMessage("ASPI failure", "Quorvatix Tralux", MessageIcon::Error);
            t.inUse = false;
            return false;
        }
    }
    for (const CdDriveSlot& s : ListCdDrives()) t.drives.push_back({s, nullptr, false, {}});
    t.inUse = true;
    return true;
}

void AspiClose() {
    Transport& t = T();
    t.drives.clear();  // closes every device
    t.raw.reset();
    t.buffer.reset();
    t.inUse = false;
}

bool AspiInUse() {
    return T().inUse;
}
void SetAspiInUse(bool inUse) {
    T().inUse = inUse;
}
std::uint8_t* TransferBuffer() {
    return T().buffer.get();
}
std::uint32_t AspiLeadOut() {
    return T().leadOut;
}

bool AspiExecute(CdDriveAddress address, ScsiDirection direction, std::uint32_t bufferLength,
                 std::uint8_t* buffer, std::uint8_t cdbLength, const std::uint8_t* cdb) {
    return Send(address, direction, bufferLength, buffer, cdbLength, cdb, false);
}

CdDriveAddress AspiFindTrackDrive(StreamInfo& info) {
    Transport& t = T();
    if (!t.inUse) return {0, 0};
    for (std::size_t i = 0; i < t.drives.size() && i < 0xFF; ++i) {
        const CdDriveAddress a{0, static_cast<std::uint8_t>(i)};
        std::uint8_t inquiry[36] = {};
        const std::uint8_t inq[6] = {kOpInquiry, 0, 0, 0, 36, 0};
        if (!AspiExecute(a, ScsiDirection::In, sizeof inquiry, inquiry, sizeof inq, inq) ||
            inquiry[0] != 5)
            continue;
        // A disc change leaves a UNIT ATTENTION pending; TEST UNIT READY takes it (result unused),
        // so READ TOC answers about the disc now in the drive.
        const std::uint8_t tur[6] = {kOpTestUnitReady, 0, 0, 0, 0, 0};
        AspiExecute(a, ScsiDirection::None, 0, nullptr, sizeof tur, tur);
        std::uint8_t answer[804] = {};
        const std::uint8_t toc[10] = {kOpReadToc, 0, 0, 0, 0, 0, 0, 0x03, 0x24, 0};
        if (!AspiExecute(a, ScsiDirection::In, sizeof answer, answer, sizeof toc, toc)) continue;
        DiscToc disc;
        if (!ParseTocResponse(answer, sizeof answer, disc)) continue;
        for (std::size_t k = 0; k < disc.tracks.size(); ++k) {
            const TocTrack& tr = disc.tracks[k];
            if (!tr.audio || tr.number != info.trackNumber) continue;
            const std::uint32_t next =
                k + 1 < disc.tracks.size() ? disc.tracks[k + 1].startLba : disc.leadOutLba;
            if (tr.startLba == info.cdaStartSector && next - tr.startLba == info.lengthSectors) {
                // READ CD takes absolute addresses: no subtraction of the first track's start.
                info.readStartSector = tr.startLba;
                t.leadOut = disc.leadOutLba;
                t.mediumMayHaveChanged = false;
                return a;
            }
        }
    }
    std::string text = "Track not found";
    char letter = info.driveLetter;
    if (letter) {
        letter = static_cast<char>(letter >= 'a' && letter <= 'z' ? letter - 32 : letter);
        bool named = false;
        for (const DriveHandle& d : t.drives)
            if (d.slot.letter == letter) {
                text += ": track " + std::to_string(info.trackNumber) + " of " + DriveLabel(d.slot);
                named = true;
            }
        if (!named) text += ": there is no CD drive " + std::string(1, letter) + ":";
    }
    for (const DriveHandle& d : t.drives)
        if (d.tried && !d.device) text += "\n" + DriveLabel(d.slot) + ": " + d.problem;
    ShowMessage(text, "Quorvatix Tralux", MessageIcon::Error);
    return kNoDrive;
}

std::uint32_t AspiReadCapacity(CdDriveAddress address) {
    if (!T().inUse) return kSectorBytes;
    std::uint8_t answer[8] = {};
    const std::uint8_t cdb[10] = {kOpReadCapacity, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    if (!AspiExecute(address, ScsiDirection::In, sizeof answer, answer, sizeof cdb, cdb)) return 0;
    return Be32(answer + 4);
}

void CdReadSectors(CdDriveAddress address, std::uint32_t lba, std::uint32_t count) {
    Transport& t = T();
    if (!t.buffer || count == 0 || count > kMaxSectorsPerRead) throw CdReadFailure();
    std::uint8_t* buffer = t.buffer.get();
    if (t.inUse) {
        std::memcpy(buffer, kMarker, sizeof kMarker);
        std::uint8_t cdb[12] = {kOpReadCd, 0, 0, 0, 0, 0, 0, 0, 0, 0xF0, 0, 0};
        cdb[3] = static_cast<std::uint8_t>(lba >> 16);
        cdb[4] = static_cast<std::uint8_t>(lba >> 8);
        cdb[5] = static_cast<std::uint8_t>(lba);
        cdb[8] = static_cast<std::uint8_t>(count);
        if (lba > 0xFFFFFF || t.mediumMayHaveChanged) throw CdReadFailure();
        if (!Send(address, ScsiDirection::In, count * kSectorBytes, buffer, sizeof cdb, cdb,
                  true) ||
            std::memcmp(buffer, kMarker, sizeof kMarker) == 0)
            throw CdReadFailure();
        return;
    }
    if (t.raw)
        for (int attempt = 0; attempt < kRawReadAttempts; ++attempt)
            if (t.raw->ReadAudio(lba, count, buffer)) return;
    throw CdReadFailure();
}

void RawDriveOpen(char letter) {
    Transport& t = T();
    t.raw.reset();
    t.rawProblem.clear();
    if (const auto slot = FindCdDrive(letter)) t.raw = OpenCdDrive(*slot, &t.rawProblem);
}

void RawDriveClose() {
    T().raw.reset();
}
bool RawDriveIsOpen() {
    return T().raw != nullptr;
}

std::uint32_t RawDriveLeadOut() {
    Transport& t = T();
    DiscToc toc;
    if (!t.raw || !ReadTocFromDevice(*t.raw, toc)) return 0;
    return toc.leadOutLba;
}

}  // namespace tralux::cd
