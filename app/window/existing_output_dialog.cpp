#include "app/window/existing_output_dialog.h"

#include "engine/job/printable_text.h"

#include <algorithm>

#include <QCheckBox>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

namespace tralux::app {

namespace {
ExistingOutputQuestion g_question;
ExistingOutputsQuestion g_batchQuestion;
}  // namespace

ExistingOutputDialog::ExistingOutputDialog(QWidget* owner, const std::string& path, bool offerAll)
    : QDialog(owner) {
    setWindowTitle(QStringLiteral("檔案已存在"));
    setModal(true);
    const QFileInfo info(QString::fromStdString(path));
    const QString p = QString::fromStdString(Printable(path));
    auto* icon = new QLabel(this);
    icon->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxQuestion).pixmap(32, 32));
    const QLocale tw(QLocale::Chinese, QLocale::TraditionalChineseScript, QLocale::Taiwan);
    auto* text = new QLabel(this);
    text->setWordWrap(true);
    text->setTextFormat(Qt::PlainText);
    text->setText(QStringLiteral("輸出檔案已經存在：\n%1\n（%2，修改於 %3）\n\n要取代它、兩者都保留"
                                 "（新檔案另取名稱），還是略過這個檔案？")
                      .arg(p, tw.formattedDataSize(info.size()),
                           // Written out: the locale's short form holds a day-period field
                           // Qt prints as a bare "B".
                           info.lastModified().toString(QStringLiteral("yyyy/M/d HH:mm"))));
    text->setMinimumWidth(380);
    auto* top = new QHBoxLayout();
    top->addWidget(icon, 0, Qt::AlignTop);
    top->addWidget(text, 1);
    auto* outer = new QVBoxLayout(this);
    outer->addLayout(top);
    if (offerAll) {
        all_ = new QCheckBox(QStringLiteral("其餘已存在的檔案也照這樣處理(&A)"), this);
        outer->addWidget(all_);
    }
    auto button = [this](const QString& label, models::ExistingAnswer a) {
        auto* b = new QPushButton(label, this);
        b->setAutoDefault(false);
        connect(b, &QPushButton::clicked, this, [this, a] {
            answer_ = a;
            accept();
        });
        return b;
    };
    auto* replace = button(QStringLiteral("取代(&R)"), models::ExistingAnswer::Replace);
    auto* keep = button(QStringLiteral("兩者都保留(&K)"), models::ExistingAnswer::KeepBoth);
    auto* skip = button(QStringLiteral("略過(&S)"), models::ExistingAnswer::Skip);
    replace->setObjectName(QStringLiteral("replace"));
    keep->setObjectName(QStringLiteral("keepBoth"));
    skip->setObjectName(QStringLiteral("skip"));
    // Enter never destroys a file.
    skip->setDefault(true);
    auto* row = new QHBoxLayout();
    row->addStretch();
    row->addWidget(replace);
    row->addWidget(keep);
    row->addWidget(skip);
    outer->addLayout(row);
    skip->setFocus();
}

models::ExistingReply ExistingOutputDialog::Reply() const {
    // Escape and the close box keep the file.
    const models::ExistingAnswer a =
        result() == QDialog::Accepted ? answer_ : models::ExistingAnswer::Skip;
    return {a, all_ && all_->isChecked()};
}

void SetExistingOutputQuestion(ExistingOutputQuestion question) {
    g_question = std::move(question);
}

models::ExistingReply AskAboutExistingOutput(QWidget* owner, const std::string& path,
                                             bool offerAll) {
    if (g_question) return g_question(owner, path, offerAll);
    ExistingOutputDialog d(owner, path, offerAll);
    d.exec();
    return d.Reply();
}

ExistingOutputsDialog::ExistingOutputsDialog(QWidget* owner, const std::vector<std::string>& paths)
    : QDialog(owner) {
    setWindowTitle(QStringLiteral("檔案已存在"));
    setModal(true);
    auto* icon = new QLabel(this);
    icon->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxQuestion).pixmap(32, 32));
    auto* head = new QLabel(this);
    head->setWordWrap(true);
    head->setTextFormat(Qt::PlainText);
    head->setText(paths.size() == 1
                      ? QStringLiteral("這個批次有 1 個輸出檔案已經存在：")
                      : QStringLiteral("這個批次有 %1 個輸出檔案已經存在：").arg(paths.size()));
    // Every name, scrolling when there are many: the user sees what would be replaced.
    auto* list = new QPlainTextEdit(this);
    list->setObjectName(QStringLiteral("paths"));
    list->setReadOnly(true);
    list->setLineWrapMode(QPlainTextEdit::NoWrap);
    QString all;
    for (const std::string& p : paths)
        all += QString::fromStdString(Printable(p)) + QLatin1Char('\n');
    all.chop(1);
    list->setPlainText(all);
    const int lines = static_cast<int>(std::min<std::size_t>(paths.size(), 6));
    list->setFixedHeight(
        list->fontMetrics().lineSpacing() * lines +
        2 * (list->frameWidth() + static_cast<int>(list->document()->documentMargin())) + 4);
    list->setMinimumWidth(420);
    auto* question = new QLabel(this);
    question->setWordWrap(true);
    question->setText(
        QStringLiteral("要全部取代、兩者都保留（新檔案另取名稱），還是略過這些檔案？"
                       "按【取消】則不轉換任何檔案。"));
    auto* text = new QVBoxLayout();
    text->addWidget(head);
    text->addWidget(list);
    text->addWidget(question);
    auto* top = new QHBoxLayout();
    top->addWidget(icon, 0, Qt::AlignTop);
    top->addLayout(text, 1);
    auto* outer = new QVBoxLayout(this);
    outer->addLayout(top);
    auto button = [this](const QString& label, std::optional<models::ExistingAnswer> a) {
        auto* b = new QPushButton(label, this);
        b->setAutoDefault(false);
        connect(b, &QPushButton::clicked, this, [this, a] {
            answer_ = a;
            if (a)
                accept();
            else
                reject();
        });
        return b;
    };
    auto* replace = button(QStringLiteral("全部取代(&R)"), models::ExistingAnswer::Replace);
    auto* keep = button(QStringLiteral("兩者都保留(&K)"), models::ExistingAnswer::KeepBoth);
    auto* skip = button(QStringLiteral("略過這些(&S)"), models::ExistingAnswer::Skip);
    auto* cancel = button(QStringLiteral("取消"), std::nullopt);
    replace->setObjectName(QStringLiteral("replace"));
    keep->setObjectName(QStringLiteral("keepBoth"));
    skip->setObjectName(QStringLiteral("skip"));
    cancel->setObjectName(QStringLiteral("cancel"));
    // Enter never destroys a file.
    skip->setDefault(true);
    auto* row = new QHBoxLayout();
    row->addStretch();
    row->addWidget(replace);
    row->addWidget(keep);
    row->addWidget(skip);
    row->addWidget(cancel);
    outer->addLayout(row);
    skip->setFocus();
}

std::optional<models::ExistingAnswer> ExistingOutputsDialog::Reply() const {
    // Escape and the close box cancel the batch: nothing is written.
    return result() == QDialog::Accepted ? answer_ : std::nullopt;
}

void SetExistingOutputsQuestion(ExistingOutputsQuestion question) {
    g_batchQuestion = std::move(question);
}

std::optional<models::ExistingAnswer> AskAboutExistingOutputs(
    QWidget* owner, const std::vector<std::string>& paths) {
    if (g_batchQuestion) return g_batchQuestion(owner, paths);
    ExistingOutputsDialog d(owner, paths);
    d.exec();
    return d.Reply();
}

}  // namespace tralux::app
