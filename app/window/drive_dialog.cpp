#include "app/window/drive_dialog.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QPixmap>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/skin/skin.h"
#include "cd/drives.h"

namespace tralux::app {

std::string DriveChoiceText(const std::string& root) {
    char letter = 0;
    std::optional<cd::CdDriveSlot> slot;
    if (cd::ParseDriveRoot(root, letter)) slot = cd::FindCdDrive(letter);
    if (!slot) return "光碟機 " + root;
    return std::string("光碟機 ") + slot->letter + ":（" + (slot->image ? "映像檔 " : "") +
           slot->source + "）";
}

DriveChoiceDialog::DriveChoiceDialog(QWidget* owner, const std::vector<std::string>& roots,
                                     int preselect)
    : QDialog(owner) {
    setWindowTitle(QStringLiteral("選擇 CD 光碟機... "));
    setModal(true);
    combo_ = new QComboBox(this);
    combo_->setEditable(false);
    combo_->setMinimumWidth(220);
    combo_->setSizeAdjustPolicy(QComboBox::AdjustToContents);  // the whole image path shows
    const QImage icon = skin::RenderDriveIcon(devicePixelRatioF());
    const QIcon drive(QPixmap::fromImage(icon));
    for (const std::string& root : roots)
        combo_->addItem(drive, QString::fromStdString(DriveChoiceText(root)));
    ok_ = new QPushButton(QStringLiteral("確定"), this);
    ok_->setDefault(true);
    auto* cancel = new QPushButton(QStringLiteral("取消"), this);
    cancel->setObjectName(QStringLiteral("cancel"));
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(combo_);
    auto* row = new QHBoxLayout();
    row->addStretch();
    row->addWidget(ok_);
    row->addWidget(cancel);
    layout->addLayout(row);
    if (preselect >= 0 && preselect < combo_->count()) combo_->setCurrentIndex(preselect);
    ok_->setEnabled(combo_->currentIndex() >= 0);
    connect(combo_, &QComboBox::currentIndexChanged, this,
            [this](int i) { ok_->setEnabled(i >= 0); });
    connect(ok_, &QPushButton::clicked, this, [this] { Confirm(); });
}

void DriveChoiceDialog::Confirm() {
    if (combo_->currentIndex() < 0) {
        ok_->setEnabled(false);
        return;
    }
    chosen_ = combo_->currentIndex();
    accept();
}

std::optional<int> RunDriveChoiceDialog(QWidget* owner, const std::vector<std::string>& roots,
                                        int preselect) {
    DriveChoiceDialog d(owner, roots, preselect);
    if (d.exec() != QDialog::Accepted) return std::nullopt;
    return d.Chosen();
}

}  // namespace tralux::app
