// Arbitrary bytes through the input probe and the WAV reader, then through the PCM conversion
// of what the reader accepted.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

#include "engine/formats/riff_reader.h"
#include "engine/job/engine_state.h"
#include "platform/notify/notifier.h"

namespace {
class Quiet final : public tralux::Notifier {
public:
    void Show(const tralux::Message&) override {}
};
Quiet g_quiet;
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    tralux::SetNotifier(&g_quiet);
    static const int fd = memfd_create("riff", 0);
    if (fd < 0) return 0;
    if (ftruncate(fd, 0) != 0 || pwrite(fd, data, size, 0) != static_cast<ssize_t>(size)) return 0;
    const std::string path = "/proc/self/fd/" + std::to_string(fd);
    tralux::StreamInfo info;
    tralux::Engine().LastError.store(0);
    const bool ok = tralux::ProbeInput(path, info);
    const int code = tralux::Engine().LastError.load();
    if (!ok && code != 0 && code != 102 && code != 103 && code != 105 && code != 112)
        __builtin_trap();
    if (ok && info.Kind == tralux::kKindRiff && info.trackNumber == 0) {
        if (info.Channels < 1 || info.Channels > 2 || info.BlockAlign == 0) __builtin_trap();
        if (info.StartOffset + info.DataSize > size) __builtin_trap();
        const std::size_t frames = static_cast<std::size_t>(info.DataSize / info.BlockAlign);
        if (tralux::NeedsSampleConversion(info) && frames) {
            std::vector<std::int16_t> out(frames * info.Channels);
            tralux::ConvertStoredSamples(data + info.StartOffset, frames, info, out.data());
        }
    }
    return 0;
}
