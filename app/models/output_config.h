#pragma once
// The user interface's part of the output configuration, kept beside the engine's fields:
// the main window writes it before opening the conversion settings dialog, which reads the
// flag and the description and writes the flag back on OK.
#include <string>

namespace tralux::models {

struct UiOutputConfig {
    bool keepInputQuality = true;                      // output rate and channels are the input's
    std::string qualityDescription = "8000 Hz, 單聲";  // "%d Hz, " + mono/stereo of the input
    std::string outputFolder;
    bool batchRunning = false;  // while the batch progress dialog exists
};

// Process-wide; touched only by the user-interface thread.
UiOutputConfig& UiOutput();

}  // namespace tralux::models
