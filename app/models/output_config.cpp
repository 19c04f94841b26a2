#include "app/models/output_config.h"

namespace tralux::models {

UiOutputConfig& UiOutput() {
    static UiOutputConfig config;
    return config;
}

}  // namespace tralux::models
