#pragma once
// One way to show a message box from any thread: the window installs a Qt notifier, the
// command-line front end one that prints to stderr, tests a recorder.
#include <mutex>
#include <string>
#include <vector>

namespace tralux {

enum class MessageIcon { Information, Error, Warning };

struct Message {
    std::string text;
    std::string caption;
    MessageIcon icon = MessageIcon::Information;
};

class Notifier {
public:
    virtual ~Notifier() = default;
    // Blocks until the user has seen it where that makes sense (a modal box).
    virtual void Show(const Message& message) = 0;
};

// Installs the process-wide notifier; nullptr restores the default (stderr).
void SetNotifier(Notifier* notifier);
void ShowMessage(const std::string& text, const std::string& caption,
                 MessageIcon icon = MessageIcon::Information);

class StderrNotifier final : public Notifier {
public:
    void Show(const Message& message) override;
};

// Keeps every message for inspection; thread-safe.
class RecordingNotifier final : public Notifier {
public:
    void Show(const Message& message) override;
    std::vector<Message> Messages() const;
    void Clear();

private:
    mutable std::mutex mutex_;
    std::vector<Message> messages_;
};

}  // namespace tralux
