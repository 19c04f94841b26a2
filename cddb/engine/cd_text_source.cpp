#include "cddb/engine/cd_info_provider.h"

#include <fstream>
#include <iterator>
#include <vector>

#include "cd/drives.h"
#include "cd/scsi.h"
#include "cddb/cd_text.h"

namespace tralux::cddb {

std::optional<CdInfo> DriveCdText(const std::string& root, std::size_t trackCount) {
    char letter = 0;
    if (!cd::ParseDriveRoot(root, letter)) return std::nullopt;
    const std::optional<cd::CdDriveSlot> slot = cd::FindCdDrive(letter);
    if (!slot) return std::nullopt;
    if (slot->image) {
        // An image drive's CD-Text is the TITLE/PERFORMER lines of its sheet.
        std::ifstream in(slot->source, std::ios::binary);
        std::string text;
        char buf[4096];
        while (in && text.size() < (1u << 20)) {
            in.read(buf, sizeof buf);
            text.append(buf, static_cast<std::size_t>(in.gcount()));
        }
        return ParseCueCdText(text, trackCount);
    }
    std::unique_ptr<cd::CdDevice> device = cd::OpenCdDrive(*slot);
    if (!device) return std::nullopt;
    // READ TOC format 5: the header first for the length, then all packs.
    auto readToc = [&](std::vector<std::uint8_t>& data) {
        std::uint8_t cdb[10] = {0x43, 0, 0x05, 0, 0, 0, 0, 0, 0, 0};
        cd::PutBe16(cdb + 7, static_cast<std::uint32_t>(data.size()));
        const cd::ScsiOutcome o =
            device->Execute(cdb, cd::ScsiDirection::In, data.data(), data.size());
        if (!o.Good() || o.residual > data.size()) return std::size_t{0};
        return data.size() - o.residual;
    };
    std::vector<std::uint8_t> header(4);
    if (readToc(header) < 4) return std::nullopt;
    const std::size_t total = std::min<std::size_t>(cd::Be16(header.data()) + 2u, 0xFFFCu);
    if (total <= 4) return std::nullopt;
    std::vector<std::uint8_t> data(total);
    const std::size_t got = readToc(data);
    if (got < 4) return std::nullopt;
    return ParseCdTextPacks(data.data(), got, trackCount);
}

}  // namespace tralux::cddb
