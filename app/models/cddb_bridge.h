#pragma once
// The CD ripping and CD information dialogs work on CdDisc; the lookup core keeps CdInfo.
#if __has_include("cddb/cd_info.h")
#include "app/models/batch_settings.h"
#include "cddb/cd_info.h"

namespace tralux::models {

CdDisc DiscFromCdInfo(const cddb::CdInfo& info);
// Disc title, extended data and track titles (what the editor changes).
void CopyDiscTexts(const CdDisc& disc, cddb::CdInfo& info);
// All of it, the ticks included (what the ripping dialog hands on).
void CopyDiscToCdInfo(const CdDisc& disc, cddb::CdInfo& info);

}  // namespace tralux::models
#endif
