#include "cd/drives.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <mutex>

#include "cd/image_drive.h"
#include "cd/sgio_device.h"

namespace tralux::cd {
namespace {

std::mutex g_sourceMutex;
CdDriveSource g_source;

// "sr12" -> 12; -1 for anything else.
int SrNumber(const std::string& name) {
    if (name.size() < 3 || name.compare(0, 2, "sr") != 0) return -1;
    int n = 0;
    for (std::size_t i = 2; i < name.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(name[i])) || n > 9999) return -1;
        n = n * 10 + (name[i] - '0');
    }
    return n;
}

std::vector<int> DeviceNumbers(const std::filesystem::path& folder) {
    std::vector<int> numbers;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end;
         it.increment(ec)) {
        const int n = SrNumber(it->path().filename().string());
        if (n >= 0) numbers.push_back(n);
    }
    std::sort(numbers.begin(), numbers.end());
    return numbers;
}

std::vector<CdDriveSlot> RealDrives() {
    std::vector<CdDriveSlot> slots;
    // sysfs knows every CD device, even one whose node udev has not made readable.
    std::vector<int> numbers = DeviceNumbers("/sys/class/block");
    if (numbers.empty()) numbers = DeviceNumbers("/dev");
    for (int n : numbers) slots.push_back({0, "/dev/sr" + std::to_string(n), false});
    if (const char* images = std::getenv("TRALUX_CD_IMAGES")) {
        const std::string list = images;
        std::size_t pos = 0;
        while (pos <= list.size()) {
            std::size_t colon = list.find(':', pos);
            if (colon == std::string::npos) colon = list.size();
            if (colon > pos) slots.push_back({0, list.substr(pos, colon - pos), true});
            pos = colon + 1;
        }
    }
    if (slots.size() > 23) slots.resize(23);
    for (std::size_t i = 0; i < slots.size(); ++i) slots[i].letter = static_cast<char>('D' + i);
    return slots;
}

std::unique_ptr<CdDevice> OpenRealDrive(const CdDriveSlot& slot, std::string* reason) {
    if (!slot.image) return SgioDevice::Open(slot.source, reason);
    JitterSettings jitter;
    std::string why;
    const char* env = std::getenv("TRALUX_CD_JITTER");
    if (env && !ParseJitter(env, jitter, &why)) {
        if (reason) *reason = "TRALUX_CD_JITTER: " + why;
        return nullptr;
    }
    if (const char* speed = std::getenv("TRALUX_CD_SPEED"); speed && *speed && !jitter.speed) {
        char* end = nullptr;
        const long n = std::strtol(speed, &end, 10);
        if (*end || n < 1 || n > 1000) {
            if (reason) *reason = "TRALUX_CD_SPEED: 1 to 1000 (times real time)";
            return nullptr;
        }
        jitter.speed = static_cast<std::uint32_t>(n);
    }
    ImageDisc disc;
    if (!LoadImageDisc(slot.source, disc, &why)) {
        if (reason) *reason = why;
        return nullptr;
    }
    auto device = ImageDevice::Open(disc, jitter, &why);
    if (!device && reason) *reason = why;
    if (device) {
        const char* offset = std::getenv("TRALUX_CD_OFFSET");
        std::int32_t frames = 0;
        if (offset && *offset && !ParseReadOffset(offset, frames)) {
            if (reason) *reason = "TRALUX_CD_OFFSET: a whole number of samples, at most 5 sectors";
            return nullptr;
        }
        device->SetReadOffset(frames);
        const char* overread = std::getenv("TRALUX_CD_OVERREAD");
        device->SetOverread(overread && std::string_view(overread) == "1");
    }
    return device;
}

}  // namespace

void SetCdDriveSourceForTesting(CdDriveSource source) {
    std::lock_guard lock(g_sourceMutex);
    g_source = std::move(source);
}

std::vector<CdDriveSlot> ListCdDrives() {
    CdDriveSource source;
    {
        std::lock_guard lock(g_sourceMutex);
        source = g_source;
    }
    if (source.list) {
        std::vector<CdDriveSlot> slots = source.list();
        for (std::size_t i = 0; i < slots.size(); ++i) slots[i].letter = static_cast<char>('D' + i);
        return slots;
    }
    return RealDrives();
}

std::optional<CdDriveSlot> FindCdDrive(char letter) {
    const char upper = static_cast<char>(std::toupper(static_cast<unsigned char>(letter)));
    for (const CdDriveSlot& s : ListCdDrives())
        if (s.letter == upper) return s;
    return std::nullopt;
}

std::unique_ptr<CdDevice> OpenCdDrive(const CdDriveSlot& slot, std::string* reason) {
    CdDriveSource source;
    {
        std::lock_guard lock(g_sourceMutex);
        source = g_source;
    }
    if (source.open) return source.open(slot, reason);
    return OpenRealDrive(slot, reason);
}

std::string DriveLabel(const CdDriveSlot& slot) {
    return std::string(1, slot.letter) + ": (" + slot.source + ")";
}

bool ParseDriveRoot(std::string_view path, char& letter, std::string_view* rest) {
    if (path.size() < 2 || path[1] != ':' || !std::isalpha(static_cast<unsigned char>(path[0])))
        return false;
    if (path.size() > 2 && path[2] != '/' && path[2] != '\\') return false;
    letter = static_cast<char>(std::toupper(static_cast<unsigned char>(path[0])));
    if (rest) *rest = path.size() > 3 ? path.substr(3) : std::string_view();
    return true;
}

bool ParseTocResponse(const std::uint8_t* data, std::size_t length, DiscToc& toc) {
    toc = DiscToc{};
    if (length < 4) return false;
    const std::size_t total =
        std::min<std::size_t>(length, static_cast<std::size_t>(Be16(data)) + 2);
    const std::uint8_t first = data[2], last = data[3];
    if (first < 1 || last > 99 || first > last) return false;
    bool leadOut = false;
    for (std::size_t at = 4; at + 8 <= total; at += 8) {
        const std::uint8_t* d = data + at;
        const std::uint8_t number = d[2];
        const std::uint32_t address = Be32(d + 4);
        if (number == 0xAA) {
            toc.leadOutLba = address;
            leadOut = true;
            break;
        }
        if (number < first || number > last) return false;
        if (!toc.tracks.empty() &&
            (number != toc.tracks.back().number + 1 || address <= toc.tracks.back().startLba))
            return false;
        toc.tracks.push_back({number, address, (d[1] & 0x04) == 0});
    }
    if (!leadOut || toc.tracks.empty() || toc.tracks.size() > 99 ||
        toc.leadOutLba <= toc.tracks.back().startLba) {
        toc = DiscToc{};
        return false;
    }
    toc.firstTrack = toc.tracks.front().number;
    toc.lastTrack = toc.tracks.back().number;
    return true;
}

bool ReadTocFromDevice(CdDevice& device, DiscToc& toc) {
    const std::uint8_t tur[6] = {kOpTestUnitReady, 0, 0, 0, 0, 0};
    device.Execute(tur, ScsiDirection::None, nullptr, 0);
    std::uint8_t cdb[10] = {kOpReadToc, 0, 0, 0, 0, 0, 0, 0x03, 0x24, 0};
    std::uint8_t answer[804];
    for (int attempt = 0; attempt < 2; ++attempt) {
        std::fill(std::begin(answer), std::end(answer), 0);
        const ScsiOutcome o = device.Execute(cdb, ScsiDirection::In, answer, sizeof answer);
        if (o.Good())
            return ParseTocResponse(
                answer, sizeof answer - std::min<std::size_t>(o.residual, sizeof answer), toc);
    }
    return false;
}

bool ReadDiscTocWithReason(const std::string& root, DiscToc& toc, std::string* reason) {
    toc = DiscToc{};
    char letter;
    if (!ParseDriveRoot(root, letter)) {
        if (reason) *reason = root + ": not a drive root";
        return false;
    }
    const auto slot = FindCdDrive(letter);
    if (!slot) {
        if (reason) *reason = std::string(1, letter) + ": no such CD drive";
        return false;
    }
    auto device = OpenCdDrive(*slot, reason);
    if (!device) return false;
    if (!ReadTocFromDevice(*device, toc)) {
        if (reason) *reason = "no readable disc";
        return false;
    }
    return true;
}

}  // namespace tralux::cd
