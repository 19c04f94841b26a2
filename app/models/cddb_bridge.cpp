#include "app/models/cddb_bridge.h"

namespace tralux::models {

CdDisc DiscFromCdInfo(const cddb::CdInfo& info) {
    CdDisc d;
    d.title = info.discTitle;
    d.idText = info.discIdText;
    d.extended = info.extended;
    d.comments = info.comments;
    for (const cddb::CdTrackEntry& t : info.tracks)
        d.tracks.push_back({t.title, t.extended, static_cast<int>(t.seconds), t.selected});
    return d;
}

void CopyDiscTexts(const CdDisc& disc, cddb::CdInfo& info) {
    info.discTitle = disc.title;
    info.extended = disc.extended;
    for (std::size_t i = 0; i < info.tracks.size() && i < disc.tracks.size(); ++i)
        info.tracks[i].title = disc.tracks[i].title;
}

void TakeTocLengths(CdDisc& disc, const CdDisc& fromToc) {
    if (disc.tracks.size() != fromToc.tracks.size()) return;  // another disc
    for (std::size_t i = 0; i < disc.tracks.size(); ++i)
        if (disc.tracks[i].lengthSeconds <= 0)
            disc.tracks[i].lengthSeconds = fromToc.tracks[i].lengthSeconds;
}

void CopyDiscToCdInfo(const CdDisc& disc, cddb::CdInfo& info) {
    CopyDiscTexts(disc, info);
    if (info.discIdText.empty()) info.discIdText = disc.idText;
    for (std::size_t i = 0; i < info.tracks.size() && i < disc.tracks.size(); ++i)
        info.tracks[i].selected = disc.tracks[i].selected;
}

}  // namespace tralux::models
