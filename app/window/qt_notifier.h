#pragma once
// Message boxes for the engine's notifier. On the GUI thread a modal box; from any other thread
// the box is posted to the GUI thread and the caller goes on at once (a worker never waits for
// the user).
#include "platform/notify/notifier.h"

namespace tralux::app {

class QtNotifier final : public Notifier {
public:
    void Show(const Message& message) override;
};

// Shows a modal box now (GUI thread).
void ShowMessageBox(const Message& message);

}  // namespace tralux::app
