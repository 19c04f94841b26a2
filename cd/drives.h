#pragma once
// The CD drives of this machine as the program names them: the CD devices (/dev/sr0, /dev/sr1,
// ... in number order) and then the image drives named by TRALUX_CD_IMAGES (a colon-separated
// list of .cue paths), lettered from D on. A drive's root is written "D:/" ("D:\" and "D:" are
// accepted too).
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cd/scsi.h"
#include "cd/toc.h"

namespace tralux::cd {

struct CdDriveSlot {
    char letter = 0;     // 'D'..'Z'
    std::string source;  // "/dev/sr0", or the .cue path of an image drive
    bool image = false;
};

// In letter order; at most 23 drives (D to Z).
std::vector<CdDriveSlot> ListCdDrives();
std::optional<CdDriveSlot> FindCdDrive(char letter);  // either case

// Opens a drive for commands and raw reads. nullptr with a reason (permission, a broken sheet,
// a bad TRALUX_CD_JITTER) when it cannot be used.
std::unique_ptr<CdDevice> OpenCdDrive(const CdDriveSlot& slot, std::string* reason = nullptr);

// "D: (/dev/sr0)": how a drive is named to a user.
std::string DriveLabel(const CdDriveSlot& slot);

// "D:", "D:/", "D:\" (any case) name drive D; `rest` is what follows the separator.
bool ParseDriveRoot(std::string_view path, char& letter, std::string_view* rest = nullptr);

// Parses a READ TOC format 0 (LBA form) answer of `length` bytes. The walk is bounded by the
// answer's own data length and by `length`; false for track counts outside 1..99, addresses
// out of order or a missing lead-out.
bool ParseTocResponse(const std::uint8_t* data, std::size_t length, DiscToc& toc);

// READ TOC through the command interface of an open drive (a pending UNIT ATTENTION is
// cleared with TEST UNIT READY first).
bool ReadTocFromDevice(CdDevice& device, DiscToc& toc);

// ReadDiscToc with the reason it failed ("no such drive", "no disc", the permission hint).
bool ReadDiscTocWithReason(const std::string& root, DiscToc& toc, std::string* reason);

// Tests replace the drive list and how a drive opens; an empty source restores the real ones.
struct CdDriveSource {
    std::function<std::vector<CdDriveSlot>()> list;
    std::function<std::unique_ptr<CdDevice>(const CdDriveSlot&, std::string*)> open;
};
void SetCdDriveSourceForTesting(CdDriveSource source);

}  // namespace tralux::cd
