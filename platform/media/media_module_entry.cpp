// The media module's entry point: the kinds built on FFmpeg, libFLAC and libopusenc.
#include "engine/inputs/input.h"
#include "engine/outputs/output.h"
#include "platform/media/media_input_kind.h"
#include "platform/media/media_output_kinds.h"
#include "platform/media_loader/media_module.h"
#include "platform/wma/wma_output_kind.h"

extern "C" __attribute__((visibility("default"))) const tralux::platform::MediaModuleKinds*
tralux_media_module_kinds() {
    using namespace tralux::platform;
    static const MediaModuleKinds kinds{kMediaModuleVersion, WmaOutputKind(), FlacOutputKind(),
                                        OpusOutputKind(), MediaInputKind()};
    return &kinds;
}
