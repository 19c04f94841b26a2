#include "app/window/about_box.h"

#include <QDesktopServices>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPixmap>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/skin/skin.h"

namespace tralux::app {

QString BuildDateText() {
    return QStringLiteral(__DATE__);
}

QString AboutText() {
    return QStringLiteral("Quorvatix Tralux 2.011 \n BLD %1 ").arg(BuildDateText());
}

// Our product page; the host is a placeholder under a reserved example domain.
QUrl ProductPageUrl() {
    return QUrl(QStringLiteral("https://www.tralux.example.com/Products/Tralux/index.asp"));
}

AboutBox::AboutBox(QWidget* owner) : QDialog(owner) {
    setWindowTitle(QStringLiteral("關於 Quorvatix Tralux"));
    setModal(true);
    auto* icon = new QLabel(this);
    icon->setPixmap(QPixmap::fromImage(skin::RenderAppIcon(64)));
    auto* text = new QLabel(AboutText(), this);
    text->setObjectName(QStringLiteral("aboutText"));
    auto* address = new QLineEdit(QString::fromLatin1(kSupportAddress), this);
    address->setReadOnly(true);
    address->setAlignment(Qt::AlignCenter);
    address->setObjectName(QStringLiteral("supportAddress"));
    auto* visit = new QPushButton(QStringLiteral("拜訪 Quorvatix Tralux 首頁"), this);
    visit->setObjectName(QStringLiteral("visitHome"));
    // The style's button margins are narrow for this long label: give the text room.
    const QFontMetrics fm(visit->font());
    visit->setMinimumWidth(fm.horizontalAdvance(visit->text()) +
                           fm.horizontalAdvance(QLatin1Char('M')) * 3);
    auto* ok = new QPushButton(QStringLiteral("確定"), this);
    ok->setDefault(true);
    auto* top = new QHBoxLayout();
    top->addWidget(icon);
    top->addWidget(text, 1);
    auto* buttons = new QHBoxLayout();
    buttons->addWidget(visit);
    buttons->addStretch();
    buttons->addWidget(ok);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addWidget(address);
    layout->addLayout(buttons);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(visit, &QPushButton::clicked, this, [this] {
        // Without a browser nothing would happen: say so, with the address to copy.
        if (!QDesktopServices::openUrl(ProductPageUrl()))
            QMessageBox::information(this, windowTitle(),
                                     QStringLiteral("找不到可以開啟網頁的瀏覽器。請自行前往：\n%1")
                                         .arg(ProductPageUrl().toString()));
    });
}

void RunAboutBox(QWidget* owner) {
    AboutBox box(owner);
    box.exec();
}

}  // namespace tralux::app
