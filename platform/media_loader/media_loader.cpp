#include "platform/media_loader/media_loader.h"

#include <dlfcn.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>

#include "engine/inputs/input.h"
#include "engine/inputs/mp3_input.h"
#include "engine/job/engine_state.h"
#include "engine/job/errors.h"
#include "engine/outputs/output.h"
#include "platform/media_loader/media_module.h"
#include "platform/media_loader/media_names.h"
#include "platform/notify/notifier.h"

namespace tralux::platform {
namespace {

// The table lines as the module has them; a module that says otherwise is refused, so what
// the lists offer is what the module does.
constexpr OutputKind kWma{kFormatWma, "wma", ".wma", false, "MSABitRate", nullptr};
constexpr OutputKind kFlac{kFormatFlac, "flac", ".flac", false, nullptr, nullptr};
constexpr OutputKind kOpus{kFormatOpus, "opus", ".opus", false, "OpusBitRate", nullptr};

bool SameText(const char* a, const char* b) {
    return (a == nullptr) == (b == nullptr) && (!a || std::strcmp(a, b) == 0);
}

bool Matches(const OutputKind& stub, const OutputKind& real) {
    return stub.format == real.format && SameText(stub.cliName, real.cliName) &&
           SameText(stub.extension, real.extension) && stub.writesFile == real.writesFile &&
           SameText(stub.bitRateOption, real.bitRateOption) && real.open;
}

struct Loaded {
    const MediaModuleKinds* kinds = nullptr;
    std::string error;
};

bool Exists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

Loaded Load() {
    Loaded result;
    const std::vector<std::string> candidates = MediaModuleCandidates();
    std::string path;
    for (const std::string& c : candidates)
        if (Exists(c)) {
            path = c;
            break;
        }
    if (path.empty()) {
        result.error = "the media module was not found (looked for";
        for (const std::string& c : candidates) result.error += " " + c;
        result.error += ")";
        return result;
    }
    // Never unloaded: the kinds' code stays in use until the process ends.
    void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char* why = ::dlerror();
        result.error = "cannot load " + path + ": " + (why ? why : "unknown reason");
        return result;
    }
    auto entry = reinterpret_cast<MediaModuleEntry>(::dlsym(handle, kMediaModuleEntry));
    const MediaModuleKinds* kinds = entry ? entry() : nullptr;
    if (!kinds || kinds->version != kMediaModuleVersion || !Matches(kWma, kinds->wma) ||
        !Matches(kFlac, kinds->flac) || !Matches(kOpus, kinds->opus) || !kinds->input.probe ||
        !kinds->input.open) {
        result.error = path + " does not belong to this version of the program";
        return result;
    }
    result.kinds = kinds;
    return result;
}

const Loaded& Module() {
    static const Loaded loaded = Load();
    return loaded;
}

const MediaModuleKinds& KindsOrThrow(const char* what) {
    const Loaded& m = Module();
    if (!m.kinds) {
        ShowMessage(std::string(what) + ": " + m.error, "Quorvatix Tralux", MessageIcon::Error);
        throw JobError(kErrCodecInit);
    }
    return *m.kinds;
}

std::unique_ptr<Output> OpenWma(const OutputSettings& s) {
    return KindsOrThrow("WMA").wma.open(s);
}
std::unique_ptr<Output> OpenFlac(const OutputSettings& s) {
    return KindsOrThrow("FLAC").flac.open(s);
}
std::unique_ptr<Output> OpenOpus(const OutputSettings& s) {
    return KindsOrThrow("Opus").opus.open(s);
}

// Loads the module only for a file that may be its: a known container, or anything that is
// not an MPEG stream (the MP3 reader's, which comes next).
bool ProbeMediaLazily(File& file, StreamInfo& info) {
    if (file.Path().empty()) return false;
    std::uint8_t head[12] = {};
    const bool whole = file.ReadExact(head, sizeof head);
    file.Seek(0);
    if (!whole || !LooksLikeMediaContainer(head, sizeof head)) {
        StreamInfo mp3;
        const bool isMp3 = ProbeMp3(file, mp3, true);
        file.Seek(0);
        if (isMp3) return false;
    }
    const Loaded& m = Module();
    if (!m.kinds) {
        // Said once: every later file would only repeat it.
        static std::atomic<bool> told{false};
        if (!told.exchange(true))
            ShowMessage("Media input: " + m.error, "Quorvatix Tralux", MessageIcon::Error);
        return false;
    }
    return m.kinds->input.probe(file, info);
}

std::unique_ptr<Input> OpenMediaLazily(File& file, const StreamInfo& info,
                                       const InputOptions& options) {
    return KindsOrThrow("Media input").input.open(file, info, options);
}

}  // namespace

std::vector<std::string> MediaModuleCandidates() {
    if (const char* forced = std::getenv("TRALUX_MEDIA_MODULE"); forced && *forced) return {forced};
    std::vector<std::string> out;
    std::error_code ec;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (!ec)
        out.push_back((exe.parent_path() / TRALUX_MODULE_RELDIR / kMediaModuleFile)
                          .lexically_normal()
                          .string());
    const std::string installed =
        (std::filesystem::path(TRALUX_MODULE_INSTALL_DIR) / kMediaModuleFile).string();
    if (std::find(out.begin(), out.end(), installed) == out.end()) out.push_back(installed);
    return out;
}

std::string LoadMediaModule() {
    return Module().error;
}

void RegisterMediaKinds() {
    OutputKind wma = kWma, flac = kFlac, opus = kOpus;
    wma.open = OpenWma;
    flac.open = OpenFlac;
    opus.open = OpenOpus;
    RegisterOutputKind(wma);
    RegisterOutputKind(flac);
    RegisterOutputKind(opus);
    RegisterInputKind({"media", ProbeMediaLazily, OpenMediaLazily});
}

}  // namespace tralux::platform
