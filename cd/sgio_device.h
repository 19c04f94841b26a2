#pragma once
// Linux CD devices (/dev/sr*): MMC command blocks through the SG_IO ioctl, and the raw-read road
// through CDROMREADAUDIO. The ioctls go through a port so tests can record the exact blocks.
#include <linux/cdrom.h>
#include <scsi/sg.h>

#include <memory>
#include <string>

#include "cd/scsi.h"
#include "cd/toc.h"

namespace tralux::cd {

class SgioPort {
public:
    virtual ~SgioPort() = default;
    // Each returns what ioctl(2) returns (0, or -1 with errno set).
    virtual int SgIo(sg_io_hdr_t& header) = 0;
    virtual int ReadAudio(cdrom_read_audio& request) = 0;
};

constexpr unsigned kSgioTimeoutMs = 30000;     // the 30 s every request gets
constexpr unsigned char kSgioSenseBytes = 14;  // fixed-format sense up to the ASC/ASCQ bytes

class SgioDevice final : public CdDevice {
public:
    explicit SgioDevice(std::unique_ptr<SgioPort> port) : port_(std::move(port)) {}

    // Opens a device node. nullptr with a reason; a permission failure says how to join the
    // "cdrom" group instead of pretending there is no drive.
    static std::unique_ptr<SgioDevice> Open(const std::string& path, std::string* error = nullptr);

    ScsiOutcome Execute(std::span<const std::uint8_t> cdb, ScsiDirection direction,
                        std::uint8_t* data, std::size_t length) override;
    bool ReadAudio(std::uint32_t lba, std::uint32_t count, std::uint8_t* out) override;

private:
    std::unique_ptr<SgioPort> port_;
};

// The reason shown for a device the user may not open.
std::string CdromGroupHint(const std::string& path);

}  // namespace tralux::cd
