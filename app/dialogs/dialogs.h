#pragma once
// The dialogs the main window opens before a job. Each returns true when the user confirmed
// (OK / Start) and has then written its choices to the settings store.
#include <string>

class QWidget;

namespace tralux::app {

// Output format, quality, song information and destination for one conversion.
bool RunConversionSettingsDialog(QWidget* parent);

// A folder to convert, with input filters, output format and quality.
bool RunBatchSettingsDialog(QWidget* parent);

// The tracks of the disc in the drive at `driveRoot` ("D:/"), ticked for ripping.
bool RunCdRipDialog(QWidget* parent, const std::string& driveRoot);

}  // namespace tralux::app
