#pragma once
// The CD ripping and CD information dialogs work on CdDisc; the lookup core keeps CdInfo.
#include "app/models/batch_settings.h"
#include "cddb/cd_info.h"

namespace tralux::models {

CdDisc DiscFromCdInfo(const cddb::CdInfo& info);
// Disc title, extended data and track titles (what the editor changes).
void CopyDiscTexts(const CdDisc& disc, cddb::CdInfo& info);
// Track lengths come from the disc's table of contents: a failed or cancelled lookup leaves
// none, and the dialog must not show every track as 0:00.
void TakeTocLengths(CdDisc& disc, const CdDisc& fromToc);
// All of it, the ticks included (what the ripping dialog hands on).
void CopyDiscToCdInfo(const CdDisc& disc, cddb::CdInfo& info);

}  // namespace tralux::models
