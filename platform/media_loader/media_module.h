#pragma once
// The media module's one entry point, shared by the module and its loader. The module is
// built against the front end that loads it: it takes the engine from the executable.
#include "engine/inputs/input.h"
#include "engine/outputs/output.h"

namespace tralux::platform {

// Raised whenever the layout below changes.
inline constexpr int kMediaModuleVersion = 1;
inline constexpr const char* kMediaModuleFile = "tralux-media.so";
inline constexpr const char* kMediaModuleEntry = "tralux_media_module_kinds";

struct MediaModuleKinds {
    int version = kMediaModuleVersion;
    OutputKind wma, flac, opus;
    InputKind input;
};

// extern "C" const MediaModuleKinds* tralux_media_module_kinds();
using MediaModuleEntry = const MediaModuleKinds* (*)();

}  // namespace tralux::platform
