#pragma once
// The user interface's own part of the output configuration, beside the engine's fields, and
// the program folder found at start-up. GUI thread only.
#include <string>

#include "app/models/output_config.h"

namespace tralux::app {

// One record with the dialogs, which read the flag and the description and write the flag.
using UiConfig = models::UiOutputConfig;
UiConfig& Ui();

// The executable's folder with a trailing '/'.
const std::string& ProgramFolder();
void SetProgramFolder(std::string folder);

}  // namespace tralux::app
