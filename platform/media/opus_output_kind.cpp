#include <algorithm>
#include <memory>

#include "engine/job/engine_state.h"
#include "engine/outputs/output.h"
#include "platform/media/opus_file_writer.h"
#include "platform/media/media_output_kinds.h"
#include "platform/media/writer_output.h"

namespace tralux::platform {

namespace {

std::unique_ptr<Output> OpenOpusOutput(const OutputSettings& settings) {
    const int kbps = settings.kbps >= 6 && settings.kbps <= 510 ? settings.kbps : 160;
    std::string error;
    // A deeper source is encoded from its 24-bit samples rather than 16-bit ones.
    const int bits = settings.bits > 16 ? 24 : 16;
    auto writer =
        OpusFileWriter::Create(settings.path, settings.rate, settings.channels, kbps * 1000,
                               VorbisTagsFor(settings), error, std::min(settings.bits, 24));
    return std::make_unique<WriterOutput<OpusFileWriter>>("Opus", settings, std::move(writer),
                                                          error, bits);
}

}  // namespace

OutputKind OpusOutputKind() {
    return {kFormatOpus, "opus", ".opus", false, "OpusBitRate", OpenOpusOutput};
}

void RegisterOpusOutput() {
    RegisterOutputKind(OpusOutputKind());
}

}  // namespace tralux::platform
