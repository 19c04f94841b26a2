#pragma once
// The CD information dialogs: lookup progress, choice among matches, editor, not-found and
// server settings. All of them live on the user-interface thread; the lookup worker reaches
// them only through LookupControl, which asks that thread and waits for the answer.
#include <QDialog>
#include <atomic>
#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "app/models/batch_settings.h"
#include "app/models/cddb_settings.h"

class QProgressBar;

namespace tralux::app {

// The worker's side of a running lookup. Safe to use after the dialog is gone: the dialog
// and the worker share only this object's state.
class LookupControl {
public:
    struct State {
        std::atomic<bool> cancelled{false};
        std::atomic<bool> finished{false};
        std::atomic<int> progress{0};
    };
    explicit LookupControl(std::shared_ptr<State> s) : state_(std::move(s)) {}

    void SetProgress(int percent) { state_->progress = percent; }
    bool Cancelled() const { return state_->cancelled; }
    // A flag that a transfer can poll to abort.
    const std::atomic<bool>& CancelFlag() const { return state_->cancelled; }

    // Runs `ask` on the user-interface thread and waits for its answer; `ifCancelled` when the
    // lookup was cancelled before or while asking.
    template <class R>
    R Ask(std::function<R()> ask, R ifCancelled) {
        if (Cancelled()) return ifCancelled;
        // Whoever moves `taken` from 0 first decides: the interface thread to ask, or a
        // cancelled worker to leave without waiting (`ask` may refer to the worker's frame).
        auto taken = std::make_shared<std::atomic<int>>(0);
        auto promise = std::make_shared<std::promise<R>>();
        std::future<R> answer = promise->get_future();
        PostToUi([promise, taken, ask = std::move(ask)] {
            int expected = 0;
            if (taken->compare_exchange_strong(expected, 1)) promise->set_value(ask());
        });
        while (answer.wait_for(std::chrono::milliseconds(20)) != std::future_status::ready) {
            int expected = 0;
            if (Cancelled() && taken->compare_exchange_strong(expected, 2)) return ifCancelled;
            if (!UiAlive() && taken->load() != 1) return ifCancelled;
        }
        return answer.get();
    }

private:
    static void PostToUi(std::function<void()> fn);
    static bool UiAlive();
    std::shared_ptr<State> state_;
};

// What the progress dialog polls: it never hands itself to the worker.
struct ProgressDriver {
    std::function<int()> progress;  // 0..100
    std::function<bool()> step;     // answers pending questions; false once the lookup ended
    std::function<void()> cancel;   // aborts the transfer
};

class CddbProgressDialog : public QDialog {
public:
    CddbProgressDialog(QWidget* parent, ProgressDriver driver);
    QProgressBar* Bar() const { return bar_; }
    void reject() override;  // Cancel: abort the transfer and close at once

private:
    void Poll();

    ProgressDriver driver_;
    QProgressBar* bar_ = nullptr;
    bool polling_ = false;
    bool cancelled_ = false;
};

// Runs `work` on a worker thread behind the progress dialog. The result comes back only when
// the worker finished; after a Cancel the worker runs on alone with its own copy of
// everything and its result is dropped.
template <class R>
std::optional<R> RunCddbLookup(QWidget* parent, std::function<R(LookupControl&)> work);

// Finished-or-cancelled core of RunCddbLookup, without the result type.
bool RunLookupWorker(QWidget* parent, std::function<void(LookupControl&)> work);

template <class R>
std::optional<R> RunCddbLookup(QWidget* parent, std::function<R(LookupControl&)> work) {
    auto result = std::make_shared<std::optional<R>>();
    bool done = RunLookupWorker(
        parent, [result, work = std::move(work)](LookupControl& c) { *result = work(c); });
    if (!done) return std::nullopt;
    return std::move(*result);
}

// Choice among the match lines ("category discid title"; the last is "0 0 Another...").
// True with the chosen line's index when confirmed.
bool RunCddbChoiceDialog(QWidget* parent, const std::vector<std::string>& lines, int& index);

// Edits disc title, extended data and track titles; `disc` changes only when saved.
bool RunCddbEditorDialog(QWidget* parent, models::CdDisc& disc);

enum class NotFoundAnswer { Cancel, Entered, NeverAsk };
NotFoundAnswer RunCddbNotFoundDialog(QWidget* parent, models::CdDisc& disc);

// Told when the settings dialog is confirmed: the server to use from now on and the
// never-use switch.
using CddbSettingsListener = std::function<void(const std::string& server, bool neverUse)>;
void SetCddbSettingsListener(CddbSettingsListener listener);

// Dialog classes, for tests that drive them without a modal loop.
class CddbChoiceDialog : public QDialog {
public:
    CddbChoiceDialog(QWidget* parent, const std::vector<std::string>& lines);
    int Chosen() const;
};

class CddbEditorDialog : public QDialog {
public:
    CddbEditorDialog(QWidget* parent, const models::CdDisc& disc);
    // The edited disc (call after exec() returned Accepted).
    models::CdDisc Result(const models::CdDisc& original) const;
};

class CddbNotFoundDialog : public QDialog {
public:
    CddbNotFoundDialog(QWidget* parent, models::CdDisc& disc);
    NotFoundAnswer Answer() const { return answer_; }

private:
    NotFoundAnswer answer_ = NotFoundAnswer::Cancel;
};

class CddbSettingsDialog : public QDialog {
public:
    explicit CddbSettingsDialog(QWidget* parent);
    void accept() override;

private:
    models::CddbSettingsModel model_;
};

}  // namespace tralux::app
