// Until the dialogs exist, jobs run with the stored settings as they are.
#include "app/dialogs/dialogs.h"

namespace tralux::app {

bool RunConversionSettingsDialog(QWidget*) { return true; }
bool RunBatchSettingsDialog(QWidget*) { return true; }
bool RunCdRipDialog(QWidget*, const std::string&) { return true; }

}  // namespace tralux::app
