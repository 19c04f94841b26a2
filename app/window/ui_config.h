#pragma once
// The user interface's own part of the output configuration, beside the engine's fields, and
// the program folder found at start-up. GUI thread only.
#include <string>

namespace tralux::app {

struct UiConfig {
    bool keepInputQuality = true;    // output rate and channels are the input's
    std::string qualityDescription;  // "44100 Hz, 立體聲"
    std::string outputFolder;        // of the next single conversion
    bool batchRunning = false;       // while the batch progress dialog exists
};
UiConfig& Ui();

// The executable's folder with a trailing '/'.
const std::string& ProgramFolder();
void SetProgramFolder(std::string folder);

}  // namespace tralux::app
