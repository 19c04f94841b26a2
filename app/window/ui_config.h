#pragma once
// The user interface's part of the output configuration (shared with the settings dialogs) and
// the program folder found at start-up. GUI thread only.
#include <string>

#include "app/models/output_config.h"

namespace tralux::app {

using UiConfig = models::UiOutputConfig;
inline UiConfig& Ui() {
    return models::UiOutput();
}

// The executable's folder with a trailing '/'.
const std::string& ProgramFolder();
void SetProgramFolder(std::string folder);

}  // namespace tralux::app
