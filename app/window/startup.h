#pragma once
// Start-up of the window program, shared by main() and the end-to-end tests.
#include <memory>
#include <string>

class QApplication;

namespace tralux::app {

class MainWindow;

// Fonts, style and palette of every window and dialog of the program.
void ApplyAppStyle(QApplication& app);

// The start-up steps before the main window: network and compound-file libraries, the
// program folder from /proc/self/exe, the settings key, the notifier. False after a fatal
// message; `exitCode` tells the process's exit code.
bool StartUp(int& exitCode);

// Builds and shows the main window; loads `file` as the current input when not empty.
std::unique_ptr<MainWindow> CreateMainWindow(const std::string& file);

}  // namespace tralux::app
