#pragma once
// The job's tag texts and cover as Vorbis comments (FLAC and Opus outputs).
#include "platform/media/media_tags.h"

namespace tralux {

// Empty when "PlaceClipInfo" is off. A track "3/12" becomes TRACKNUMBER 3 and TRACKTOTAL 12.
platform::MediaTags JobVorbisTags();

}  // namespace tralux
