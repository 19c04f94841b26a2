#include "engine/outputs/output.h"

#include <deque>
#include <filesystem>
#include <mutex>
#include <vector>

#include "engine/job/engine_state.h"
#include "engine/outputs/mp3_output.h"
#include "engine/outputs/wav_output.h"

namespace tralux {
namespace {

std::mutex g_kindsMutex;

// A deque: the entries stay where they are when kinds are added, so a found pointer stays good.
std::deque<OutputKind>& Kinds() {
    static std::deque<OutputKind> kinds{
        {kFormatWav, "wav", ".wav", true, nullptr, OpenWavOutput},
        {kFormatMp3, "mp3", ".mp3", true, "MP3BitRate", OpenMp3Output},
    };
    return kinds;
}

}  // namespace

void RegisterOutputKind(const OutputKind& kind) {
    std::lock_guard lock(g_kindsMutex);
    for (OutputKind& k : Kinds())
        if (k.format == kind.format) {
            k = kind;
            return;
        }
    Kinds().push_back(kind);
}

const OutputKind* FindOutputKind(int format) {
    std::lock_guard lock(g_kindsMutex);
    for (const OutputKind& k : Kinds())
        if (k.format == format) return &k;
    return nullptr;
}

const OutputKind* FindOutputKindByName(std::string_view cliName) {
    std::lock_guard lock(g_kindsMutex);
    for (const OutputKind& k : Kinds())
        if (cliName == k.cliName) return &k;
    return nullptr;
}

std::vector<OutputKind> OutputKinds() {
    std::lock_guard lock(g_kindsMutex);
    return {Kinds().begin(), Kinds().end()};
}

void Output::WriteWide(const std::int32_t* samples, std::size_t count) {
    std::vector<std::int16_t> narrow(count);
    for (std::size_t i = 0; i < count; ++i) narrow[i] = NarrowSample(samples[i]);
    Write(reinterpret_cast<const std::uint8_t*>(narrow.data()), count * 2);
}

std::string OutputNamed(std::string text, const std::string& writtenPath) {
    const std::string shown = StagedFinalPath(writtenPath);
    if (writtenPath.empty() || shown == writtenPath) return text;
    for (std::size_t at = text.find(writtenPath); at != std::string::npos;
         at = text.find(writtenPath, at + shown.size()))
        text.replace(at, writtenPath.size(), shown);
    return text;
}

bool RemoveRegularFile(const std::string& path) noexcept {
    std::error_code ec;
    if (path.empty() || !std::filesystem::is_regular_file(path, ec)) return false;
    return std::filesystem::remove(path, ec);
}

}  // namespace tralux
