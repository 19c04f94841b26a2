#include "platform/compound/gsf_cache_files.h"

#include <fcntl.h>
#include <gsf/gsf.h>
#include <iconv.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <mutex>
#include <thread>

namespace tralux::compound {
namespace fs = std::filesystem;
namespace {

// Anything larger is not a cache of ours (a cache of a thousand discs stays far below).
constexpr std::uintmax_t kMaxFileBytes = 64u << 20;
constexpr gsf_off_t kMaxStreamBytes = 1 << 20;

template <class T>
struct GObjectRef {
    T* p = nullptr;
    explicit GObjectRef(T* o) : p(o) {}
    ~GObjectRef() {
        if (p) g_object_unref(p);
    }
    GObjectRef(const GObjectRef&) = delete;
    GObjectRef& operator=(const GObjectRef&) = delete;
};

class FdLock final : public cddb::FileLock {
public:
    explicit FdLock(int fd) : fd_(fd) {}
    ~FdLock() override {
        flock(fd_, LOCK_UN);
        close(fd_);
    }

private:
    int fd_;
};

bool ReadStream(GsfInput* input, std::string& data) {
    const gsf_off_t size = gsf_input_size(input);
    if (size < 0 || size > kMaxStreamBytes) return false;
    data.assign(static_cast<std::size_t>(size), '\0');
    if (size == 0) return true;
    return gsf_input_read(input, static_cast<std::size_t>(size),
                          reinterpret_cast<guint8*>(data.data())) != nullptr;
}

bool WriteStream(GsfOutfile* dir, const cddb::CompoundStream& s) {
    GObjectRef<GsfOutput> out(gsf_outfile_new_child(dir, s.name.c_str(), FALSE));
    if (!out.p) return false;
    bool ok = s.data.empty() || gsf_output_write(out.p, s.data.size(),
                                                 reinterpret_cast<const guint8*>(s.data.data()));
    ok = gsf_output_close(out.p) && ok;
    return ok;
}

class GsfCacheFiles final : public cddb::CacheFiles {
public:
    explicit GsfCacheFiles(std::chrono::milliseconds lockWait) : lockWait_(lockWait) {
        static std::once_flag once;
        std::call_once(once, [] {
            gsf_init();
            // A damaged cache is told once, as a damaged cache; the reader's own assertions
            // and warnings about its blocks (some logged without a domain) would only reach
            // the terminal as noise.
            for (const gchar* domain :
                 {"libgsf:msole", "libgsf", static_cast<const gchar*>(nullptr)})
                g_log_set_handler(
                    domain, static_cast<GLogLevelFlags>(G_LOG_LEVEL_CRITICAL | G_LOG_LEVEL_WARNING),
                    [](const gchar*, GLogLevelFlags, const gchar*, gpointer) {}, nullptr);
        });
    }

    cddb::CompoundReadResult Read(const fs::path& file, const std::string* onlyStorage,
                                  cddb::CompoundTree& tree) override {
        using R = cddb::CompoundReadResult;
        tree = cddb::CompoundTree{};
        std::error_code ec;
        if (!fs::exists(file, ec)) return R::Missing;
        const std::uintmax_t bytes = fs::file_size(file, ec);
        if (ec || bytes > kMaxFileBytes) return R::Damaged;
        GError* err = nullptr;
        GObjectRef<GsfInput> input(gsf_input_stdio_new(file.c_str(), &err));
        if (err) g_clear_error(&err);
        if (!input.p) return R::Damaged;
        GObjectRef<GsfInfile> ole(gsf_infile_msole_new(input.p, &err));
        if (err) g_clear_error(&err);
        if (!ole.p) return R::Damaged;
        const int count = gsf_infile_num_children(ole.p);
        for (int i = 0; i < count; ++i) {
            const char* name = gsf_infile_name_by_index(ole.p, i);
            GObjectRef<GsfInput> child(gsf_infile_child_by_index(ole.p, i));
            if (!name || !child.p) return R::Damaged;
            const bool isStorage =
                GSF_IS_INFILE(child.p) && gsf_infile_num_children(GSF_INFILE(child.p)) >= 0;
            if (!isStorage) {
                tree.rootHasStreams = true;
                continue;
            }
            if (onlyStorage && *onlyStorage != name) continue;
            cddb::CompoundStorage storage;
            storage.name = name;
            GsfInfile* dir = GSF_INFILE(child.p);
            const int streams = gsf_infile_num_children(dir);
            for (int k = 0; k < streams; ++k) {
                const char* streamName = gsf_infile_name_by_index(dir, k);
                GObjectRef<GsfInput> stream(gsf_infile_child_by_index(dir, k));
                if (!streamName || !stream.p) continue;
                if (GSF_IS_INFILE(stream.p) && gsf_infile_num_children(GSF_INFILE(stream.p)) >= 0)
                    continue;
                cddb::CompoundStream s;
                s.name = streamName;
                // A stream that cannot be read is left out: its field keeps what it had.
                if (ReadStream(stream.p, s.data)) storage.streams.push_back(std::move(s));
            }
            tree.storages.push_back(std::move(storage));
        }
        return R::Ok;
    }

    bool Write(const fs::path& file, const cddb::CompoundTree& tree) override {
        GError* err = nullptr;
        GObjectRef<GsfOutput> sink(gsf_output_stdio_new(file.c_str(), &err));
        if (err) g_clear_error(&err);
        if (!sink.p) return false;
        bool ok = true;
        {
            GObjectRef<GsfOutfile> root(gsf_outfile_msole_new(sink.p));
            if (!root.p) return false;
            for (const cddb::CompoundStorage& storage : tree.storages) {
                GObjectRef<GsfOutput> dir(
                    gsf_outfile_new_child(root.p, storage.name.c_str(), TRUE));
                if (!dir.p) {
                    ok = false;
                    break;
                }
                for (const cddb::CompoundStream& s : storage.streams)
                    ok = ok && WriteStream(GSF_OUTFILE(dir.p), s);
                ok = gsf_output_close(dir.p) && ok;
                if (!ok) break;
            }
            ok = gsf_output_close(GSF_OUTPUT(root.p)) && ok;
        }
        if (!gsf_output_is_closed(sink.p)) ok = gsf_output_close(sink.p) && ok;
        if (!ok) return false;
        // On disk before it replaces the old cache.
        const int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) return false;
        ok = fsync(fd) == 0;
        close(fd);
        return ok;
    }

    std::unique_ptr<cddb::FileLock> Lock(const fs::path& lockFile) override {
        const int fd = open(lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
        if (fd < 0) return nullptr;
        // Another lookup writes for a moment only; give up after `lockWait_`.
        const auto until = std::chrono::steady_clock::now() + lockWait_;
        for (;;) {
            if (flock(fd, LOCK_EX | LOCK_NB) == 0) return std::make_unique<FdLock>(fd);
            if (errno != EWOULDBLOCK && errno != EINTR) break;
            if (std::chrono::steady_clock::now() >= until) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        close(fd);
        return nullptr;
    }

    bool FolderWritable(const fs::path& folder) override {
        return access(folder.c_str(), W_OK) == 0;
    }

    std::optional<std::string> LegacyToUtf8(std::string_view bytes) override {
        // Code page 950 is the Big5 the older program wrote; plain Big5 where iconv lacks it.
        iconv_t cd = iconv_open("UTF-8", "CP950");
        if (cd == reinterpret_cast<iconv_t>(-1)) cd = iconv_open("UTF-8", "BIG5");
        if (cd == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
        std::string in(bytes);
        std::string out(bytes.size() * 3 + 4, '\0');
        char* inPtr = in.data();
        std::size_t inLeft = in.size();
        char* outPtr = out.data();
        std::size_t outLeft = out.size();
        const std::size_t rc = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
        iconv_close(cd);
        if (rc == static_cast<std::size_t>(-1) || inLeft != 0) return std::nullopt;
        out.resize(out.size() - outLeft);
        return out;
    }

private:
    std::chrono::milliseconds lockWait_;
};

}  // namespace

std::shared_ptr<cddb::CacheFiles> MakeGsfCacheFiles(std::chrono::milliseconds lockWait) {
    return std::make_shared<GsfCacheFiles>(lockWait);
}

}  // namespace tralux::compound
