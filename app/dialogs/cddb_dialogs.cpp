#include "app/dialogs/cddb_dialogs.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFontMetrics>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "app/dialogs/dialogs.h"
#include "app/dialogs/widgets_util.h"
#include "app/models/cddb_settings.h"

namespace tralux::app {

using namespace models;

namespace {

CddbSettingsListener settingsListener;

}  // namespace

// --- Progress ------------------------------------------------------------------------------------

CddbProgressDialog::CddbProgressDialog(QWidget* parent, ProgressDriver driver)
    : QDialog(parent), driver_(std::move(driver)) {
    setWindowTitle(QStringLiteral("正在取回 CD 訊息..."));
    UseTraditionalChineseFont(this);
    auto* root = new QVBoxLayout(this);
    auto* text = new QLabel(
        QStringLiteral("正在從 CDDB 資料庫上取回 CD 音樂訊息。要停止查詢請按【取消】。"));
    text->setWordWrap(true);
    text->setMinimumWidth(340);
    root->addWidget(text);
    bar_ = new QProgressBar;
    bar_->setObjectName("progress");
    bar_->setRange(0, 100);
    bar_->setValue(driver_.progress ? driver_.progress() : 0);
    root->addWidget(bar_);
    auto* buttons = new QDialogButtonBox;
    auto* cancel = buttons->addButton(QStringLiteral("取消"), QDialogButtonBox::RejectRole);
    cancel->setObjectName("cancel");
    root->addWidget(buttons);
    connect(buttons, &QDialogButtonBox::rejected, this, &CddbProgressDialog::reject);

    auto* timer = new QTimer(this);
    timer->setInterval(40);
    connect(timer, &QTimer::timeout, this, &CddbProgressDialog::Poll);
    timer->start();
}

void CddbProgressDialog::Poll() {
    // A question answered here may open a modal dialog whose loop runs this timer again.
    if (polling_ || cancelled_) return;
    polling_ = true;
    bool running = driver_.step ? driver_.step() : false;
    polling_ = false;
    if (driver_.progress) bar_->setValue(driver_.progress());
    if (!running && !cancelled_) accept();
}

void CddbProgressDialog::reject() {
    if (!cancelled_) {
        cancelled_ = true;
        if (driver_.cancel) driver_.cancel();
    }
    QDialog::reject();
}

// --- Choice --------------------------------------------------------------------------------------

CddbChoiceDialog::CddbChoiceDialog(QWidget* parent, const std::vector<std::string>& lines)
    : QDialog(parent) {
    setWindowTitle(QStringLiteral("選取您的 CD"));
    UseTraditionalChineseFont(this);
    auto* root = new QVBoxLayout(this);
    root->addWidget(new QLabel(QStringLiteral("請選取一個 CD ")));
    auto* list = new QTreeWidget;
    list->setObjectName("matches");
    list->setColumnCount(1);
    list->setHeaderLabels({QStringLiteral("符合的 CD")});
    list->setRootIsDecorated(false);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    QFontMetrics fm(list->font());
    int widest = 0;
    for (const std::string& line : lines) {
        auto* item = new QTreeWidgetItem(list);
        item->setText(0, Qs(ChoiceItemText(line)));
        widest = std::max(widest, fm.horizontalAdvance(item->text(0)));
    }
    list->setColumnWidth(0, widest + 20);
    list->setMinimumWidth(std::min(widest + 60, 640));
    root->addWidget(list, 1);

    auto* row = new QHBoxLayout;
    auto* settings = new QPushButton(QStringLiteral("設定"));
    settings->setObjectName("settings");
    settings->setAutoDefault(false);
    auto* buttons = new QDialogButtonBox;
    auto* ok = buttons->addButton(QStringLiteral("確定"), QDialogButtonBox::AcceptRole);
    ok->setObjectName("ok");
    auto* cancel = buttons->addButton(QStringLiteral("取消"), QDialogButtonBox::RejectRole);
    cancel->setObjectName("cancel");
    row->addWidget(settings);
    row->addStretch(1);
    row->addWidget(buttons);
    root->addLayout(row);
    setTabOrder(list, settings);
    setTabOrder(settings, ok);
    setTabOrder(ok, cancel);

    ok->setEnabled(false);
    connect(list, &QTreeWidget::itemSelectionChanged, this,
            [list, ok] { ok->setEnabled(!list->selectedItems().isEmpty()); });
    connect(list, &QTreeWidget::itemDoubleClicked, this, [this, list](QTreeWidgetItem* item) {
        if (!item) return;
        list->setCurrentItem(item);
        item->setSelected(true);
        accept();
    });
    connect(settings, &QPushButton::clicked, this, [this] { RunCddbSettingsDialog(this); });
    connect(buttons, &QDialogButtonBox::accepted, this, [this, list] {
        if (!list->selectedItems().isEmpty()) accept();
    });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

int CddbChoiceDialog::Chosen() const {
    auto* list = findChild<QTreeWidget*>("matches");
    auto selected = list->selectedItems();
    return selected.isEmpty() ? -1 : list->indexOfTopLevelItem(selected.front());
}

bool RunCddbChoiceDialog(QWidget* parent, const std::vector<std::string>& lines, int& index) {
    CddbChoiceDialog dialog(parent, lines);
    if (dialog.exec() != QDialog::Accepted || dialog.Chosen() < 0) return false;
    index = dialog.Chosen();
    return true;
}

// --- Editor --------------------------------------------------------------------------------------

CddbEditorDialog::CddbEditorDialog(QWidget* parent, const CdDisc& disc) : QDialog(parent) {
    setWindowTitle(QStringLiteral("CD 訊息"));
    UseTraditionalChineseFont(this);
    auto* root = new QVBoxLayout(this);
    auto* grid = new QGridLayout;
    auto* title = new QLineEdit(Qs(disc.title));
    title->setObjectName("disc_title");
    auto* extended = new QLineEdit(Qs(disc.extended));
    extended->setObjectName("disc_extended");
    auto* titleLabel = new QLabel(QStringLiteral("CD 標題:"));
    titleLabel->setBuddy(title);
    auto* extLabel = new QLabel(QStringLiteral("CD 延伸訊息:"));
    extLabel->setBuddy(extended);
    grid->addWidget(titleLabel, 0, 0);
    grid->addWidget(title, 0, 1);
    grid->addWidget(extLabel, 1, 0);
    grid->addWidget(extended, 1, 1);
    root->addLayout(grid);
    auto* tracksLabel = new QLabel(QStringLiteral("CD 音軌:"));
    root->addWidget(tracksLabel);
    auto* tracks = new QTreeWidget;
    tracks->setObjectName("tracks");
    tracks->setColumnCount(1);
    tracks->setHeaderLabels({QStringLiteral("Title")});
    tracks->setRootIsDecorated(false);
    tracks->setEditTriggers(QAbstractItemView::EditKeyPressed | QAbstractItemView::SelectedClicked |
                            QAbstractItemView::DoubleClicked);
    tracksLabel->setBuddy(tracks);
    QFontMetrics fm(tracks->font());
    int widest = 0;
    for (const CdTrack& t : disc.tracks) {
        auto* item = new QTreeWidgetItem(tracks);
        item->setFlags(item->flags() | Qt::ItemIsEditable);
        item->setText(0, Qs(t.title));
        widest = std::max(widest, fm.horizontalAdvance(item->text(0)));
    }
    tracks->setMinimumSize(380, 200);
    tracks->setColumnWidth(0, std::max(380 - 40, widest) + 20);
    if (tracks->topLevelItemCount() > 0) tracks->setCurrentItem(tracks->topLevelItem(0));
    root->addWidget(tracks, 1);
    auto* upload = new QCheckBox(QStringLiteral("儲存到 CDDB 伺服器"));
    upload->setObjectName("upload");
    upload->setChecked(true);
    upload->hide();
    root->addWidget(upload);
    auto* buttons = new QDialogButtonBox;
    auto* save = buttons->addButton(QStringLiteral("儲存"), QDialogButtonBox::AcceptRole);
    save->setObjectName("save");
    save->setDefault(true);
    auto* cancel = buttons->addButton(QStringLiteral("取消"), QDialogButtonBox::RejectRole);
    cancel->setObjectName("cancel");
    root->addWidget(buttons);
    setTabOrder(title, extended);
    setTabOrder(extended, tracks);
    setTabOrder(tracks, save);
    setTabOrder(save, cancel);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

CdDisc CddbEditorDialog::Result(const CdDisc& original) const {
    CdDisc d = original;
    d.title = Ss(findChild<QLineEdit*>("disc_title")->text());
    d.extended = Ss(findChild<QLineEdit*>("disc_extended")->text());
    auto* tracks = findChild<QTreeWidget*>("tracks");
    for (int i = 0; i < tracks->topLevelItemCount() && i < static_cast<int>(d.tracks.size()); ++i)
        d.tracks[i].title = Ss(tracks->topLevelItem(i)->text(0));
    return d;
}

bool RunCddbEditorDialog(QWidget* parent, CdDisc& disc) {
    CddbEditorDialog dialog(parent, disc);
    if (dialog.exec() != QDialog::Accepted) return false;
    disc = dialog.Result(disc);
    return true;
}

// --- Not found -----------------------------------------------------------------------------------

CddbNotFoundDialog::CddbNotFoundDialog(QWidget* parent, CdDisc& disc) : QDialog(parent) {
    setWindowTitle(QStringLiteral("找不到訊息"));
    UseTraditionalChineseFont(this);
    auto* root = new QVBoxLayout(this);
    root->addWidget(new QLabel(QStringLiteral("在 CDDB 內找不到關於這個 CD 訊息!")));
    auto* enter = new QPushButton(QStringLiteral("輸入訊息..."));
    enter->setObjectName("enter");
    enter->setDefault(true);
    auto* never = new QPushButton(QStringLiteral("從不詢問關於這個 CD"));
    never->setObjectName("never_ask");
    auto* settings = new QPushButton(QStringLiteral("設定..."));
    settings->setObjectName("settings");
    auto* cancel = new QPushButton(QStringLiteral("取消"));
    cancel->setObjectName("cancel");
    for (QPushButton* b : {enter, never, settings, cancel}) {
        b->setAutoDefault(b == enter);
        root->addWidget(b);
    }
    connect(enter, &QPushButton::clicked, this, [this, &disc] {
        if (RunCddbEditorDialog(this, disc)) {
            answer_ = NotFoundAnswer::Entered;
            accept();
        }
    });
    connect(never, &QPushButton::clicked, this, [this] {
        answer_ = NotFoundAnswer::NeverAsk;
        accept();
    });
    connect(settings, &QPushButton::clicked, this, [this] { RunCddbSettingsDialog(this); });
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

NotFoundAnswer RunCddbNotFoundDialog(QWidget* parent, CdDisc& disc) {
    CddbNotFoundDialog dialog(parent, disc);
    return dialog.exec() == QDialog::Accepted ? dialog.Answer() : NotFoundAnswer::Cancel;
}

// --- Settings ------------------------------------------------------------------------------------

CddbSettingsDialog::CddbSettingsDialog(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("CDDB 設定"));
    UseTraditionalChineseFont(this);
    CddbSettingsModel* model = &model_;
    model->Open();
    auto* root = new QVBoxLayout(this);
    auto* label = new QLabel(QStringLiteral("CDDB 伺服器:"));
    root->addWidget(label);
    auto* servers = new QComboBox;
    servers->setObjectName("servers");
    servers->setEditable(false);
    for (const std::string& s : model->Servers()) servers->addItem(Qs(s));
    servers->setCurrentIndex(model->Selected());
    label->setBuddy(servers);
    auto* locate = new QPushButton(QStringLiteral("查詢位置..."));
    locate->setObjectName("locate");
    locate->hide();
    auto* serverRow = new QHBoxLayout;
    serverRow->addWidget(servers, 1);
    serverRow->addWidget(locate);
    root->addLayout(serverRow);
    // Another server is typed here and added to the list.
    auto* added = new QLineEdit;
    added->setObjectName("new_server");
    added->setPlaceholderText(QStringLiteral("http://伺服器/~cddb/cddb.cgi"));
    auto* add = new QPushButton(QStringLiteral("新增伺服器(&A)"));
    add->setObjectName("add_server");
    add->setAutoDefault(false);
    auto* addRow = new QHBoxLayout;
    addRow->addWidget(added, 1);
    addRow->addWidget(add);
    root->addLayout(addRow);
    connect(add, &QPushButton::clicked, this, [this, model, servers, added] {
        std::string why;
        if (!model->AddServer(Ss(added->text()), why)) {
            QMessageBox::warning(this, windowTitle(), Qs(why));
            return;
        }
        servers->clear();
        for (const std::string& s : model->Servers()) servers->addItem(Qs(s));
        servers->setCurrentIndex(model->Selected());
        added->clear();
    });
    auto* never = new QCheckBox(QStringLiteral("從不連線到 CDDB"));
    never->setObjectName("never_use");
    never->setChecked(model->NeverUse());
    root->addWidget(never);
    auto* buttons = new QDialogButtonBox;
    auto* ok = buttons->addButton(QStringLiteral("確定"), QDialogButtonBox::AcceptRole);
    ok->setObjectName("ok");
    ok->setDefault(true);
    auto* cancel = buttons->addButton(QStringLiteral("取消"), QDialogButtonBox::RejectRole);
    cancel->setObjectName("cancel");
    root->addWidget(buttons);
    setMinimumWidth(420);
    connect(buttons, &QDialogButtonBox::accepted, this, &CddbSettingsDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

void CddbSettingsDialog::accept() {
    CddbSettingsModel* model = &model_;
    model->SetSelected(findChild<QComboBox*>("servers")->currentIndex());
    model->SetNeverUse(findChild<QCheckBox*>("never_use")->isChecked());
    std::string server = model->Accept();
    if (settingsListener) settingsListener(server, model->NeverUse());
    QDialog::accept();
}

void SetCddbSettingsListener(CddbSettingsListener listener) {
    settingsListener = std::move(listener);
}

bool RunCddbSettingsDialog(QWidget* parent) {
    CddbSettingsDialog dialog(parent);
    return dialog.exec() == QDialog::Accepted;
}

}  // namespace tralux::app
