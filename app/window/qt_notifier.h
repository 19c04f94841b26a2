#pragma once
// Message boxes for the engine's notifier. On the GUI thread a modal box; from any other thread
// the box is posted to the GUI thread and the caller goes on at once (a worker never waits for
// the user).
#include "platform/notify/notifier.h"

class QMessageBox;

namespace tralux::app {

class QtNotifier final : public Notifier {
public:
    void Show(const Message& message) override;
};

// Shows a modal box now (GUI thread).
void ShowMessageBox(const Message& message);
// The box as ShowMessageBox shows it: a Chinese 確定, and wide enough that a summary with paths
// is not wrapped into a column.
void PrepareMessageBox(QMessageBox& box);

}  // namespace tralux::app
