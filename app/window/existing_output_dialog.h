#pragma once
// The question asked before an output that already exists would be written: replace, keep
// both ("name (2).ext") or skip, with "apply to all" when more files follow.
#include <functional>
#include <string>

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

}  // namespace tralux::app
