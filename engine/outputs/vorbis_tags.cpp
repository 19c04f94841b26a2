#include "engine/outputs/vorbis_tags.h"

#include "engine/job/engine_state.h"

namespace tralux {

platform::MediaTags JobVorbisTags() {
    platform::MediaTags tags;
    if (ReadEngineOption("PlaceClipInfo") == 0) return tags;
    const EngineState& e = Engine();
    std::string track = e.TagTrack, total;
    if (const auto slash = track.find('/'); slash != std::string::npos) {
        total = track.substr(slash + 1);
        track.resize(slash);
    }
    tags.Fields = {{"TITLE", e.TagTitle}, {"ARTIST", e.TagArtist},   {"ALBUM", e.TagAlbum},
                   {"DATE", e.TagYear},   {"TRACKNUMBER", track},    {"TRACKTOTAL", total},
                   {"GENRE", e.TagGenre}, {"COMMENT", e.TagComment}, {"COPYRIGHT", e.TagCopyright}};
    tags.PictureMime = e.TagCoverMime;
    tags.Picture = e.TagCover;
    return tags;
}

}  // namespace tralux
