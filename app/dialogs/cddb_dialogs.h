#pragma once
// The CD information dialogs: lookup progress, choice among matches, editor, not-found and
// server settings. All of them live on the user-interface thread; the lookup worker's questions
// reach them through the progress dialog, which takes them on that thread (cddb_ui.cpp).
#include <QDialog>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/models/batch_settings.h"
#include "app/models/cddb_settings.h"

class QProgressBar;

namespace tralux::app {

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
