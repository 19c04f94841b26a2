#pragma once
// The CD transport on Linux: the "ASPI" road sends MMC
// command blocks to every drive of ListCdDrives (SG_IO on /dev/sr*, the interpreter of an image
// drive); the raw-read road reads audio sectors with CDROMREADAUDIO (or the image drive's reader)
// from the drive named by the track's letter. One process-wide instance; one track at a time.
#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>

#include "cd/scsi.h"
#include "engine/job/stream_info.h"

namespace tralux::cd {

// The engine's code for a sector read failure.
constexpr int kSectorReadFailure = 123;
constexpr std::size_t kTransferBufferBytes = 130000;  // 55 sectors
constexpr std::uint32_t kMaxSectorsPerRead = kTransferBufferBytes / kSectorBytes;
constexpr int kRawReadAttempts = 25;

// Raised by CdReadSectors (and the reader) when sectors cannot be read.
class CdReadFailure : public std::exception {
public:
    const char* what() const noexcept override { return "Failed to read sector"; }
};

// Adapter 0, target = index of the drive in ListCdDrives (letter D is target 0).
struct CdDriveAddress {
    std::uint8_t adapter = 0;
    std::uint8_t target = 0;
    bool operator==(const CdDriveAddress&) const = default;
};
constexpr CdDriveAddress kNoDrive{0xFF, 0xFF};

// Allocates the transfer buffer and takes the list of drives. True when the command road is
// usable (always on Linux once the buffer exists); false only when the buffer cannot be had.
bool AspiOpen();
// Closes every drive the transport opened and releases the buffer. Safe at any time.
void AspiClose();
bool AspiInUse();
void SetAspiInUse(bool inUse);

// Sends one command block to a drive: true when it completed with GOOD status. A failure is
// sent once more, except a CHECK CONDITION with UNIT ATTENTION, which fails at once.
bool AspiExecute(CdDriveAddress address, ScsiDirection direction, std::uint32_t bufferLength,
                 std::uint8_t* buffer, std::uint8_t cdbLength, const std::uint8_t* cdb);

// The drive whose disc holds the item's track (number, start and length as its .cda records
// them), or kNoDrive after showing "Track not found" through the notifier (naming drives that
// could not be opened, and why). Sets readStartSector to the track's absolute start. Without
// the command road: (0, 0) at once.
CdDriveAddress AspiFindTrackDrive(StreamInfo& info);
// The lead-out of the drive found last (absolute LBA); 0 when unknown.
std::uint32_t AspiLeadOut();

// The block length READ CAPACITY reports; 2,352 on the raw road; 0 on failure.
std::uint32_t AspiReadCapacity(CdDriveAddress address);

// Fills the start of the transfer buffer with `count` raw sectors from absolute `lba`, or
// raises CdReadFailure. On the command road: READ CD, with the marker check; a transfer that
// comes back short is sent once more, then fails. On the raw road: up to 25 attempts.
void CdReadSectors(CdDriveAddress address, std::uint32_t lba, std::uint32_t count);
std::uint8_t* TransferBuffer();

// The raw-read road's drive, named by its letter. A failed open is not reported here (every raw
// read then fails).
void RawDriveOpen(char letter);
void RawDriveClose();
bool RawDriveIsOpen();
// READ TOC on the raw drive; its lead-out, 0 when unknown.
std::uint32_t RawDriveLeadOut();

}  // namespace tralux::cd
