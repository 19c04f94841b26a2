#include "app/window/ui_config.h"

namespace tralux::app {

namespace {
std::string g_programFolder;
}

const std::string& ProgramFolder() {
    return g_programFolder;
}
void SetProgramFolder(std::string folder) {
    g_programFolder = std::move(folder);
}

}  // namespace tralux::app
