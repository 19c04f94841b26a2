// The lookup's questions answered with the dialogs of this folder, on the user-interface
// thread. The lookup's worker only ever waits for the answers (LookupSession::Pump).
#include <QApplication>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QMessageBox>
#include <QVBoxLayout>

#include "app/dialogs/cddb_dialogs.h"
#include "app/dialogs/dialogs.h"
#include "app/dialogs/widgets_util.h"
#include "app/models/cddb_bridge.h"
#include "cddb/cache.h"
#include "cddb/cddb_settings.h"
#include "cddb/disc_id.h"
#include "cddb/engine/cd_info_provider.h"
#include "cddb/lookup.h"

namespace tralux::app {

namespace {

class QtCddbUi : public cddb::CddbUi {
public:
    void Progress(int percent) override { percent_ = percent; }
    void ShowMessage(const std::string& text) override {
        QMessageBox box(QMessageBox::Information, QStringLiteral("Quorvatix Tralux"), Qs(text),
                        QMessageBox::Ok, Owner());
        box.setTextInteractionFlags(Qt::TextSelectableByMouse);
        WidenLongMessage(box);
        box.exec();
    }
    std::optional<std::size_t> ChooseMatch(const std::vector<std::string>& matches) override {
        int index = -1;
        if (!RunCddbChoiceDialog(Owner(), matches, index) || index < 0) return std::nullopt;
        return static_cast<std::size_t>(index);
    }
    bool EditInfo(cddb::CdInfo& info) override {
        models::CdDisc disc = models::DiscFromCdInfo(info);
        if (!RunCddbEditorDialog(Owner(), disc)) return false;
        models::CopyDiscTexts(disc, info);
        return true;
    }
    bool NotFound(cddb::CdInfo& info) override {
        models::CdDisc disc = models::DiscFromCdInfo(info);
        NotFoundAnswer answer = RunCddbNotFoundDialog(Owner(), disc);
        if (answer == NotFoundAnswer::Entered) models::CopyDiscTexts(disc, info);
        return answer != NotFoundAnswer::Cancel;
    }
    bool AskPassword(const std::string& url, std::string& user, std::string& password) override {
        QDialog d(Owner());
        d.setWindowTitle(QStringLiteral("CDDB"));
        UseTraditionalChineseFont(&d);
        auto* form = new QFormLayout;
        auto* site = new QLineEdit(Qs(url));
        site->setReadOnly(true);
        auto* name = new QLineEdit(Qs(user));
        name->setObjectName("user");
        auto* secret = new QLineEdit;
        secret->setObjectName("password");
        secret->setEchoMode(QLineEdit::Password);
        form->addRow(QStringLiteral("網址:"), site);
        form->addRow(QStringLiteral("使用者名稱:"), name);
        form->addRow(QStringLiteral("密碼:"), secret);
        auto* buttons = new QDialogButtonBox;
        buttons->addButton(QStringLiteral("確定"), QDialogButtonBox::AcceptRole);
        buttons->addButton(QStringLiteral("取消"), QDialogButtonBox::RejectRole);
        auto* root = new QVBoxLayout(&d);
        root->addLayout(form);
        root->addWidget(buttons);
        QObject::connect(buttons, &QDialogButtonBox::accepted, &d, &QDialog::accept);
        QObject::connect(buttons, &QDialogButtonBox::rejected, &d, &QDialog::reject);
        name->setFocus();
        if (d.exec() != QDialog::Accepted) return false;
        user = Ss(name->text());
        password = Ss(secret->text());
        return true;
    }
    void RunProgress(cddb::LookupSession& session) override {
        ProgressDriver driver{
            [this] { return percent_; },
            [this, &session] { return session.Pump(*this, std::chrono::milliseconds(0)); },
            [&session] { session.Cancel(); }};
        percent_ = 0;
        CddbProgressDialog dialog(Owner(), driver);
        dialog.exec();
        // Questions the worker put while the dialog closed are answered "no" by the session
        // once it is cancelled; an uncancelled one has ended here.
    }

private:
    static QWidget* Owner() { return QApplication::activeWindow(); }
    int percent_ = 0;
};

QtCddbUi* ui = nullptr;

}  // namespace

void InstallCddbDialogs() {
    if (!ui) ui = new QtCddbUi;
    cddb::SetThreadUi(ui);
    cddb::InstallCdInfoProvider();
    SetCdDiscSource([](const std::string& root) {
        // The information of the last lookup, when it is this disc's.
        cddb::CdInfo info = cddb::CurrentCdInfo();
        std::uint32_t id = ComputeDiscId(root);
        models::CdDisc toc = DiscFromToc(root);
        if (id == 0 || info.tracks.empty() || info.discIdText != cddb::DiscIdText(id)) return toc;
        models::CdDisc disc = models::DiscFromCdInfo(info);
        models::TakeTocLengths(disc, toc);
        return disc;
    });
    SetCdDiscRefresher([](const std::string& root) {
        return models::DiscFromCdInfo(cddb::LookupDisc(root, true));
    });
    SetCdCacheWriter([](const models::CdDisc& disc) {
        cddb::CdInfo info = cddb::CurrentCdInfo();
        models::CopyDiscToCdInfo(disc, info);
        cddb::SetCurrentCdInfo(info);
        return cddb::CacheWrite(info);
    });
}

}  // namespace tralux::app
