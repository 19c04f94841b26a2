#include "engine/inputs/input.h"

#include <mutex>

#include "engine/inputs/cd_input.h"
#include "engine/inputs/held_input.h"
#include "engine/inputs/mp3_input.h"
#include "engine/inputs/wav_input.h"
#include "engine/job/errors.h"

namespace tralux {
namespace {

std::mutex g_kindsMutex;

// Most specific first: the MPEG probe finds a stream in almost anything, so it comes last.
std::vector<InputKind>& Kinds() {
    static std::vector<InputKind> kinds{
        {"real", ProbeRealMedia, OpenRealMedia},
        {"cd", ProbeCdTrack, OpenCdTrack},
        {"wav", ProbeWav, OpenWavInput},
        {"held", ProbeHeldPcm, OpenHeldPcm},  // a CD track read ahead of its encoding
        {"mp3", ProbeMp3File, OpenMp3Input},
    };
    return kinds;
}

}  // namespace

const CoverArt& Input::Cover() const {
    static const CoverArt none;
    return none;
}

void Input::Pump(BlockSink& sink) {
    const StreamInfo& info = Describe();
    std::vector<std::uint8_t> buffer(std::max<std::size_t>(
        1, static_cast<std::size_t>(info.SampleRate) * info.PipelineFrameBytes()));
    for (;;) {
        const std::size_t got = Read(buffer.data(), buffer.size());
        if (got == 0) return;
        sink.Block(buffer.data(), got);
    }
}

std::size_t Input::ReadWide(std::int32_t*, std::size_t) {
    throw JobError(kErrUnknownFormat);
}

void RegisterInputKind(const InputKind& kind) {
    std::lock_guard lock(g_kindsMutex);
    std::vector<InputKind>& kinds = Kinds();
    for (InputKind& k : kinds)
        if (std::string_view(k.name) == kind.name) {
            k = kind;
            return;
        }
    kinds.insert(kinds.end() - 1, kind);
}

std::vector<InputKind> InputKinds() {
    std::lock_guard lock(g_kindsMutex);
    return Kinds();
}

std::unique_ptr<Input> OpenInput(File& file, const InputOptions& options) {
    for (const InputKind& kind : InputKinds()) {
        StreamInfo info;
        file.Seek(0);
        if (kind.probe(file, info)) return kind.open(file, info, options);
    }
    throw JobError(kErrUnknownFormat);
}

}  // namespace tralux
