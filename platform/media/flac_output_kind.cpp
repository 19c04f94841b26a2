#include <memory>

#include "engine/job/engine_state.h"
#include "engine/outputs/output.h"
#include "platform/media/flac_file_writer.h"
#include "platform/media/media_output_kinds.h"
#include "platform/media/writer_output.h"

namespace tralux::platform {

MediaTags VorbisTagsFor(const OutputSettings& s) {
    MediaTags tags;
    if (!s.placeTags) return tags;
    const TagTexts& t = s.tags;
    std::string track = t.track, total;
    if (const auto slash = track.find('/'); slash != std::string::npos) {
        total = track.substr(slash + 1);
        track.resize(slash);
    }
    tags.Fields = {{"TITLE", t.title}, {"ARTIST", t.artist},   {"ALBUM", t.album},
                   {"DATE", t.year},   {"TRACKNUMBER", track}, {"TRACKTOTAL", total},
                   {"GENRE", t.genre}, {"COMMENT", t.comment}, {"COPYRIGHT", t.copyright}};
    tags.PictureMime = s.cover.mimeType;
    tags.Picture = s.cover.bytes;
    return tags;
}

namespace {

std::unique_ptr<Output> OpenFlacOutput(const OutputSettings& settings) {
    const int stored = settings.option("FLACLevel");
    const int level = stored >= 0 && stored <= 8 ? stored : 5;
    // A source deeper than 16 bits that reaches us untouched keeps 24 of them.
    const int bits = settings.bits > 16 ? 24 : 16;
    std::string error;
    auto writer = FlacFileWriter::Create(
        settings.path, {settings.rate, settings.channels, bits, level, settings.expectedFrames},
        VorbisTagsFor(settings), error);
    return std::make_unique<WriterOutput<FlacFileWriter>>("FLAC", settings, std::move(writer),
                                                          error, bits);
}

}  // namespace

OutputKind FlacOutputKind() {
    return {kFormatFlac, "flac", ".flac", false, nullptr, OpenFlacOutput};
}

void RegisterFlacOutput() {
    RegisterOutputKind(FlacOutputKind());
}

}  // namespace tralux::platform
