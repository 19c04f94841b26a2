#include "engine/outputs/opus_output.h"

#include <cstring>
#include <memory>
#include <vector>

#include "engine/job/engine_state.h"
#include "engine/job/errors.h"
#include "engine/outputs/vorbis_tags.h"
#include "platform/media/opus_file_writer.h"
#include "platform/notify/notifier.h"

namespace tralux {
namespace {

std::unique_ptr<platform::OpusFileWriter> g_writer;
int g_channels = 2;
bool g_failureShown = false;

}  // namespace

int OpusBitRateOption() {
    const int kbps = ReadEngineOption("OpusBitRate");
    return kbps >= 6 && kbps <= 510 ? kbps : 160;
}

void OpusWriterStart(const std::string& path, int channels, std::uint32_t rate) {
    OpusWriterClose();
    std::string error;
    auto writer = platform::OpusFileWriter::Create(path, rate, channels, OpusBitRateOption() * 1000,
                                                   JobVorbisTags(), error);
    if (!writer) {
        ShowMessage("Opus: " + error, "Quorvatix Tralux", MessageIcon::Error);
        throw JobError(kErrCodecInit);
    }
    g_writer = std::move(writer);
    g_channels = channels;
    g_failureShown = false;
}

std::size_t OpusWriterFeed(const std::uint8_t* samples, std::size_t byteCount) {
    if (!g_writer) throw JobError(kErrCodecInit);
    const std::size_t frameBytes = static_cast<std::size_t>(g_channels) * 2;
    std::vector<std::int16_t> block(byteCount / 2);
    std::memcpy(block.data(), samples, block.size() * 2);
    if (!g_writer->Write16(block.data(), byteCount / frameBytes)) {
        g_failureShown = true;
        throw FileError(kCauseGeneric, Engine().OutputPath, g_writer->ErrorText());
    }
    return byteCount;
}

void OpusWriterFinish() {
    if (!g_writer) return;
    auto writer = std::move(g_writer);
    if (!writer->Finish()) {
        g_failureShown = true;
        throw FileError(kCauseGeneric, Engine().OutputPath, writer->ErrorText());
    }
}

void OpusWriterClose() {
    if (!g_writer) return;
    auto writer = std::move(g_writer);
    if (!writer->Finish() && !g_failureShown)
        ShowMessage("Opus: " + writer->ErrorText(), "Quorvatix Tralux", MessageIcon::Error);
}

}  // namespace tralux
