#include "platform/notify/notifier.h"

#include <atomic>
#include <cstdio>

namespace tralux {
namespace {
StderrNotifier g_stderr;
std::atomic<Notifier*> g_notifier{nullptr};
}  // namespace

void SetNotifier(Notifier* notifier) {
    g_notifier.store(notifier);
}

void ShowMessage(const std::string& text, const std::string& caption, MessageIcon icon) {
    Notifier* n = g_notifier.load();
    (n ? *n : static_cast<Notifier&>(g_stderr)).Show(Message{text, caption, icon});
}

void StderrNotifier::Show(const Message& message) {
    // Blanks that pad a text for a dialog do not end a log line.
    std::string text = message.text;
    while (!text.empty() && (text.back() == ' ' || text.back() == '\n')) text.pop_back();
    std::fprintf(stderr, "[%s] %s\n", message.caption.c_str(), text.c_str());
}

void RecordingNotifier::Show(const Message& message) {
    std::lock_guard lock(mutex_);
    messages_.push_back(message);
}

std::vector<Message> RecordingNotifier::Messages() const {
    std::lock_guard lock(mutex_);
    return messages_;
}

void RecordingNotifier::Clear() {
    std::lock_guard lock(mutex_);
    messages_.clear();
}

}  // namespace tralux
