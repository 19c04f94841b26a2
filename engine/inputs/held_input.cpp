#include "engine/inputs/held_input.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>

#include "engine/job/errors.h"

namespace tralux {
namespace {

constexpr char kMagic[16] = {'T', 'R', 'A', 'L', 'U', 'X', ' ', 'H',
                             'E', 'L', 'D', ' ', 'P', 'C', 'M', '\n'};
constexpr std::size_t kHeaderBytes = sizeof kMagic + 8;

std::mutex g_heldMutex;
// By id: a handle file names its holder, which only lives in this process.
std::map<std::uint64_t, std::weak_ptr<HeldPcm>>& Held() {
    static std::map<std::uint64_t, std::weak_ptr<HeldPcm>> held;
    return held;
}
std::atomic<std::uint64_t> g_nextId{1};

std::shared_ptr<HeldPcm> Find(File& file) {
    std::uint8_t head[kHeaderBytes];
    if (!file.ReadExact(head, sizeof head) || std::memcmp(head, kMagic, sizeof kMagic) != 0)
        return nullptr;
    std::uint64_t id = 0;
    for (int i = 0; i < 8; ++i) id |= std::uint64_t{head[sizeof kMagic + i]} << (8 * i);
    std::lock_guard lock(g_heldMutex);
    const auto it = Held().find(id);
    return it == Held().end() ? nullptr : it->second.lock();
}

}  // namespace

class HeldInput final : public Input {
public:
    HeldInput(std::shared_ptr<HeldPcm> pcm, File& file) : pcm_(std::move(pcm)), file_(file) {}

    const StreamInfo& Describe() const override { return pcm_->info_; }

    void Seek(std::uint64_t frame) override {
        skip_ = frame * std::max<std::uint32_t>(1, pcm_->info_.PipelineFrameBytes());
        next_ = 0;
        within_ = 0;
    }

    std::size_t Read(std::uint8_t* buffer, std::size_t bytes) override {
        const std::size_t frame = std::max<std::uint32_t>(1, pcm_->info_.PipelineFrameBytes());
        bytes -= bytes % frame;
        std::size_t done = 0;
        while (done < bytes) {
            if (!Current()) break;
            HeldPcm::Block& b = pcm_->blocks_[next_];
            const std::size_t n = std::min(bytes - done, b.bytes - within_);
            Copy(b, within_, buffer + done, n);
            done += n;
            within_ += n;
            if (within_ == b.bytes) Passed();
        }
        if (done == 0) Ended();
        return done;
    }

    // The blocks as the reader got them, so the job sees the same boundaries as from the drive.
    void Pump(BlockSink& sink) override {
        std::vector<std::uint8_t> buffer;
        while (Current()) {
            HeldPcm::Block& b = pcm_->blocks_[next_];
            const std::size_t n = b.bytes - within_;
            if (!b.memory.empty()) {
                sink.Block(b.memory.data() + within_, n);
            } else {
                buffer.resize(n);
                Copy(b, within_, buffer.data(), n);
                sink.Block(buffer.data(), n);
            }
            Passed();
        }
        Ended();
    }

private:
    // Moves to the block holding the position (skipping what a seek passed over); false at the
    // end.
    bool Current() {
        while (next_ < pcm_->blocks_.size()) {
            HeldPcm::Block& b = pcm_->blocks_[next_];
            const std::uint64_t left = b.bytes - within_;
            if (skip_ < left) {
                within_ += static_cast<std::size_t>(skip_);
                skip_ = 0;
                if (within_ < b.bytes) return true;
            } else {
                skip_ -= left;
            }
            Passed();
        }
        return false;
    }
    void Copy(const HeldPcm::Block& b, std::size_t at, std::uint8_t* out, std::size_t n) {
        if (!b.memory.empty()) {
            std::memcpy(out, b.memory.data() + at, n);
            return;
        }
        file_.Seek(b.offset + at);
        if (!file_.ReadExact(out, n))
            throw FileError(kCauseEndOfFile, pcm_->openPath_,
                            "the read-ahead file is shorter than written");
    }
    // A block passed on: its memory goes back at once.
    void Passed() {
        HeldPcm::Block& b = pcm_->blocks_[next_];
        if (!b.memory.empty()) {
            std::vector<std::uint8_t>().swap(b.memory);
            if (pcm_->release_) pcm_->release_(b.bytes);
        }
        ++next_;
        within_ = 0;
    }
    void Ended() {
        std::lock_guard lock(pcm_->mutex_);
        pcm_->delivered_ = true;
        if (pcm_->end_ >= 0) throw JobError(pcm_->end_);
    }

    std::shared_ptr<HeldPcm> pcm_;
    File& file_;
    std::size_t next_ = 0, within_ = 0;
    std::uint64_t skip_ = 0;
};

HeldPcm::HeldPcm(const StreamInfo& info, std::string path, std::uint64_t id)
    : info_(info), path_(std::move(path)), openPath_(path_), id_(id) {}

namespace {

// An unnamed file in `path`'s folder (on its file system: it may hold a whole track), for a job
// to reach through /proc/self/fd; -1 with errno when the folder refuses.
int OpenUnnamed(const std::string& path) {
    const std::string dir = std::filesystem::path(path).parent_path().string();
    int fd = ::open(dir.empty() ? "." : dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0 || (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)) return fd;
    // No O_TMPFILE here: a fresh name (never one that exists) for an instant, then unnamed.
    std::string name = path + ".XXXXXX";
    fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd >= 0 && ::unlink(name.c_str()) != 0) {
        const int err = errno;
        ::close(fd);
        ::unlink(name.c_str());
        errno = err;
        return -1;
    }
    return fd;
}

}  // namespace

std::shared_ptr<HeldPcm> HeldPcm::Create(const StreamInfo& info, const std::string& path,
                                         std::string* error) {
    const std::uint64_t id = g_nextId.fetch_add(1);
    std::shared_ptr<HeldPcm> pcm(new HeldPcm(info, path, id));
    struct stat proc {};
    if (::stat("/proc/self/fd", &proc) == 0) {
        pcm->fd_ = OpenUnnamed(path);
        if (pcm->fd_ >= 0) {
            pcm->openPath_ = "/proc/self/fd/" + std::to_string(pcm->fd_);
            // The spill stream has a descriptor of its own: End closes it, not the file.
            const int spill = ::fcntl(pcm->fd_, F_DUPFD_CLOEXEC, 0);
            if (spill >= 0 && !(pcm->spill_ = ::fdopen(spill, "wb"))) ::close(spill);
        }
    } else {
        pcm->named_ = true;
        pcm->spill_ = std::fopen(path.c_str(), "wb");
    }
    std::uint8_t head[kHeaderBytes];
    std::memcpy(head, kMagic, sizeof kMagic);
    for (int i = 0; i < 8; ++i) head[sizeof kMagic + i] = static_cast<std::uint8_t>(id >> (8 * i));
    if (!pcm->spill_ || std::fwrite(head, 1, sizeof head, pcm->spill_) != sizeof head ||
        std::fflush(pcm->spill_) != 0) {
        if (error) *error = path + ": " + std::strerror(errno);
        return nullptr;  // the destructor removes what was made
    }
    pcm->spillEnd_ = sizeof head;
    std::lock_guard lock(g_heldMutex);
    Held()[id] = pcm;
    return pcm;
}

HeldPcm::~HeldPcm() {
    {
        std::lock_guard lock(g_heldMutex);
        Held().erase(id_);
    }
    if (spill_) std::fclose(spill_);
    if (fd_ >= 0) ::close(fd_);
    // Blocks a stopped job never reached give their memory back too.
    if (release_)
        for (const Block& b : blocks_)
            if (!b.memory.empty()) release_(b.bytes);
    if (named_) {
        std::error_code ec;
        std::filesystem::remove(path_, ec);
    }
}

bool HeldPcm::Add(const std::uint8_t* data, std::size_t bytes, bool spill) {
    std::lock_guard lock(mutex_);
    Block b;
    b.bytes = bytes;
    total_ += bytes;
    if (spill && spill_ && std::fwrite(data, 1, bytes, spill_) == bytes) {
        b.offset = spillEnd_;
        spillEnd_ += bytes;
        blocks_.push_back(std::move(b));
        return true;
    }
    if (spill_ && spill) {
        // A short write leaves bytes past the recorded end: later spills must not follow them.
        std::fclose(spill_);
        spill_ = nullptr;
    }
    b.memory.assign(data, data + bytes);
    blocks_.push_back(std::move(b));
    return !spill;
}

void HeldPcm::End(int jobError) {
    std::lock_guard lock(mutex_);
    end_ = jobError;
    if (spill_) {
        std::fclose(spill_);
        spill_ = nullptr;
    }
}

void HeldPcm::SetRelease(std::function<void(std::size_t)> release) {
    std::lock_guard lock(mutex_);
    release_ = std::move(release);
}

std::uint64_t HeldPcm::Bytes() const {
    std::lock_guard lock(mutex_);
    return total_;
}

bool HeldPcm::Delivered() const {
    std::lock_guard lock(mutex_);
    return delivered_;
}

bool ProbeHeldPcm(File& file, StreamInfo& info) {
    const std::shared_ptr<HeldPcm> pcm = Find(file);
    if (!pcm) return false;
    info = pcm->Info();
    return true;
}

std::unique_ptr<Input> OpenHeldPcm(File& file, const StreamInfo&, const InputOptions&) {
    file.Seek(0);
    std::shared_ptr<HeldPcm> pcm = Find(file);
    if (!pcm) throw JobError(kErrOpen);
    return std::make_unique<HeldInput>(std::move(pcm), file);
}

}  // namespace tralux
