#include "cd/sgio_device.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tralux::cd {
namespace {

class FdPort final : public SgioPort {
public:
    explicit FdPort(int fd) : fd_(fd) {}
    ~FdPort() override { ::close(fd_); }
    int SgIo(sg_io_hdr_t& h) override { return ::ioctl(fd_, SG_IO, &h); }
    int ReadAudio(cdrom_read_audio& r) override { return ::ioctl(fd_, CDROMREADAUDIO, &r); }

private:
    int fd_;
};

}  // namespace

std::string CdromGroupHint(const std::string& path) {
    return path +
           ": permission denied; add your user to the \"cdrom\" group "
           "(sudo usermod -aG cdrom $USER) and log in again";
}

std::unique_ptr<SgioDevice> SgioDevice::Open(const std::string& path, std::string* error) {
    // Non-blocking, so an empty or closed tray does not hold the open.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        const int err = errno;
        if (error)
            *error = (err == EACCES || err == EPERM) ? CdromGroupHint(path)
                                                     : path + ": " + std::strerror(err);
        return nullptr;
    }
    return std::make_unique<SgioDevice>(std::make_unique<FdPort>(fd));
}

ScsiOutcome SgioDevice::Execute(std::span<const std::uint8_t> cdb, ScsiDirection direction,
                                std::uint8_t* data, std::size_t length) {
    ScsiOutcome o;
    if (cdb.empty() || cdb.size() > 16) return o;
    std::uint8_t command[16] = {};
    std::memcpy(command, cdb.data(), cdb.size());
    std::uint8_t sense[kSgioSenseBytes] = {};
    sg_io_hdr_t h{};
    h.interface_id = 'S';
    h.dxfer_direction =
        direction == ScsiDirection::In && length ? SG_DXFER_FROM_DEV : SG_DXFER_NONE;
    h.cmd_len = static_cast<unsigned char>(cdb.size());
    h.mx_sb_len = kSgioSenseBytes;
    h.dxfer_len = direction == ScsiDirection::In ? static_cast<unsigned>(length) : 0;
    h.dxferp = direction == ScsiDirection::In && length ? data : nullptr;
    h.cmdp = command;
    h.sbp = sense;
    h.timeout = kSgioTimeoutMs;
    int r;
    do {
        r = port_->SgIo(h);
    } while (r < 0 && errno == EINTR);
    if (r < 0) return o;  // never reached the device
    // Host or driver trouble (other than "sense data follows") means the command did not run.
    if (h.host_status != 0 || (h.driver_status & ~0x08u) != 0) return o;
    o.delivered = true;
    o.status = h.status;
    o.residual = h.resid > 0 ? static_cast<std::uint32_t>(h.resid) : 0;
    if (h.status == kStatusCheckCondition && h.sb_len_wr >= 3) {
        const std::uint8_t code = sense[0] & 0x7F;
        if (code == 0x72 || code == 0x73) {  // descriptor format
            o.senseKey = sense[1] & 0x0F;
            o.asc = sense[2];
            o.ascq = sense[3];
        } else {
            o.senseKey = sense[2] & 0x0F;
            o.asc = h.sb_len_wr > 12 ? sense[12] : 0;
            o.ascq = h.sb_len_wr > 13 ? sense[13] : 0;
        }
    }
    return o;
}

bool SgioDevice::ReadAudio(std::uint32_t lba, std::uint32_t count, std::uint8_t* out) {
    cdrom_read_audio r{};
    r.addr.lba = static_cast<int>(lba);
    r.addr_format = CDROM_LBA;
    r.nframes = static_cast<int>(count);
    r.buf = out;
    int rc;
    do {
        rc = port_->ReadAudio(r);
    } while (rc < 0 && errno == EINTR);
    return rc == 0;
}

}  // namespace tralux::cd
