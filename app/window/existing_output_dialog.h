#pragma once
// The question asked before an output that already exists would be written: replace, keep
// both ("name (2).ext") or skip, with "apply to all" when more files follow.
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <QDialog>

#include "app/models/output_guard.h"

class QCheckBox;

namespace tralux::app {

class ExistingOutputDialog final : public QDialog {
public:
    ExistingOutputDialog(QWidget* owner, const std::string& path, bool offerAll);
    models::ExistingReply Reply() const;

private:
    models::ExistingAnswer answer_ = models::ExistingAnswer::Skip;
    QCheckBox* all_ = nullptr;
};

using ExistingOutputQuestion =
    std::function<models::ExistingReply(QWidget* owner, const std::string& path, bool offerAll)>;
// Tests answer for the user; an empty function restores the dialog.
void SetExistingOutputQuestion(ExistingOutputQuestion question);
models::ExistingReply AskAboutExistingOutput(QWidget* owner, const std::string& path,
                                             bool offerAll);

// A batch's one question, asked before anything runs, about every output that already exists:
// replace them all, keep both (new files get free names), skip these inputs, or cancel the run.
class ExistingOutputsDialog final : public QDialog {
public:
    ExistingOutputsDialog(QWidget* owner, const std::vector<std::string>& paths);
    // Empty: the batch is cancelled.
    std::optional<models::ExistingAnswer> Reply() const;

private:
    std::optional<models::ExistingAnswer> answer_;
};

using ExistingOutputsQuestion = std::function<std::optional<models::ExistingAnswer>(
    QWidget* owner, const std::vector<std::string>& paths)>;
void SetExistingOutputsQuestion(ExistingOutputsQuestion question);
std::optional<models::ExistingAnswer> AskAboutExistingOutputs(
    QWidget* owner, const std::vector<std::string>& paths);

}  // namespace tralux::app
