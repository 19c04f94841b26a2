#include "app/dialogs/batch_dialogs.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFontMetrics>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "app/dialogs/widgets_util.h"
#include "app/settings/settings.h"
#include "cd/drives.h"
#include "cd/image_drive.h"
#include "cddb/http_fetch.h"

namespace tralux::app {

namespace {
// Where the rip keeps its AccurateRip server and the drives' read offsets.
constexpr const char* kArSection = "AccurateRip";
}  // namespace

using namespace models;

// --- Shared quality section --------------------------------------------------------------------

QualitySection::QualitySection(QDialog* owner, BatchQualityModel& model) : model_(model) {
    formatBox_ = new QGroupBox(QStringLiteral("輸出格式"));
    auto* fl = new QHBoxLayout(formatBox_);
    formatGroup_ = new QButtonGroup(owner);
    const char* names[] = {"WAV", "MP3", "WMA", "FLAC", "Opus"};
    const char* ids[] = {"format_wav", "format_mp3", "format_wma", "format_flac", "format_opus"};
    for (int i = 0; i < 5; ++i) {
        auto* r = new QRadioButton(QString::fromUtf8(names[i]));
        r->setObjectName(ids[i]);
        formatGroup_->addButton(r, i);
        fl->addWidget(r);
    }
    fl->addStretch(1);

    qualityBox_ = new QGroupBox(QStringLiteral("品質"));
    auto* ql = new QGridLayout(qualityBox_);
    modeGroup_ = new QButtonGroup(owner);
    auto* automatic = new QRadioButton(QStringLiteral("自動"));
    automatic->setObjectName("quality_auto");
    auto* custom = new QRadioButton(QStringLiteral("自訂"));
    custom->setObjectName("quality_custom");
    modeGroup_->addButton(automatic, 0);
    modeGroup_->addButton(custom, 1);
    auto* modeRow = new QHBoxLayout;
    modeRow->addWidget(automatic);
    modeRow->addWidget(custom);
    modeRow->addStretch(1);
    ql->addLayout(modeRow, 0, 0, 1, 2);
    rate_ = new QComboBox;
    rate_->setObjectName("rate");
    for (int r : SampleRateList()) rate_->addItem(Qs(RateText(r)));
    channels_ = new QComboBox;
    channels_->setObjectName("channels");
    channels_->addItem(QString::fromUtf8(kMonoText));
    channels_->addItem(QString::fromUtf8(kStereoText));
    bitRate_ = new QComboBox;
    bitRate_->setObjectName("bitrate");
    bitRate_->setMinimumContentsLength(9);
    const char* labels[] = {"比率", "聲道", "位元率"};
    QComboBox* boxes[] = {rate_, channels_, bitRate_};
    for (int i = 0; i < 3; ++i) {
        auto* l = new QLabel(QString::fromUtf8(labels[i]));
        bitLabel_ = l;  // the last one: "壓縮等級" for FLAC
        l->setBuddy(boxes[i]);
        ql->addWidget(l, i + 1, 0);
        ql->addWidget(boxes[i], i + 1, 1);
    }
    ql->setColumnStretch(1, 1);
    jitter_ = new QCheckBox(QStringLiteral("將 CD 定位控制 (較慢)"));
    jitter_->setObjectName("jitter");

    auto react = [this](auto fn) {
        return [this, fn](int i) {
            fn(i);
            Refresh();
            if (changed) changed();
        };
    };
    QObject::connect(formatGroup_, &QButtonGroup::idToggled, owner, [this, react](int id, bool on) {
        if (on) react([this](int f) { model_.SetFormat(f); })(id);
    });
    QObject::connect(modeGroup_, &QButtonGroup::idToggled, owner, [this, react](int id, bool on) {
        if (on) react([this](int m) { model_.SetQualityMode(m); })(id);
    });
    QObject::connect(rate_, &QComboBox::activated, owner,
                     react([this](int i) { model_.SetRateIndex(i); }));
    QObject::connect(channels_, &QComboBox::activated, owner,
                     react([this](int i) { model_.SetChannelIndex(i); }));
    QObject::connect(bitRate_, &QComboBox::activated, owner,
                     react([this](int i) { model_.SetBitRateItem(i); }));
    QObject::connect(jitter_, &QCheckBox::toggled, owner,
                     [this](bool on) { model_.SetJitter(on); });
}

std::vector<QWidget*> QualitySection::TabOrder() const {
    return {formatGroup_->button(0),
            formatGroup_->button(1),
            formatGroup_->button(2),
            formatGroup_->button(3),
            formatGroup_->button(4),
            modeGroup_->button(0),
            modeGroup_->button(1),
            rate_,
            channels_,
            bitRate_,
            jitter_};
}

void QualitySection::Refresh() {
    QSignalBlocker b1(formatGroup_), b2(modeGroup_), b3(jitter_);
    const QualityChoice& q = model_.Quality();
    formatGroup_->button(model_.Format())->setChecked(true);
    modeGroup_->button(model_.QualityMode())->setChecked(true);
    SetItems(bitRate_, model_.BitRateItems());
    bitRate_->setCurrentIndex(model_.BitRateItem());
    rate_->setCurrentIndex(q.rateIndex);
    channels_->setCurrentIndex(q.chanIndex);
    rate_->setEnabled(model_.RateAndChannelsEnabled());
    channels_->setEnabled(model_.RateAndChannelsEnabled());
    bitRate_->setEnabled(model_.BitRateEnabled());
    bitLabel_->setText(model_.Format() == kFlac ? QStringLiteral("壓縮等級")
                                                : QStringLiteral("位元率"));
    jitter_->setChecked(model_.Jitter());
}

namespace {

// "label [edit] [...]" on one grid row.
QLineEdit* FolderRow(QGridLayout* grid, int row, const QString& label, const char* name,
                     QPushButton** browse) {
    auto* l = new QLabel(label);
    auto* edit = new QLineEdit;
    edit->setObjectName(name);
    edit->setMinimumWidth(260);
    l->setBuddy(edit);
    auto* b = new QPushButton(QStringLiteral("..."));
    b->setObjectName(std::string(name).append("_browse").c_str());
    b->setAutoDefault(false);
    b->setMaximumWidth(b->fontMetrics().horizontalAdvance(QStringLiteral("....")) + 24);
    grid->addWidget(l, row, 0);
    grid->addWidget(edit, row, 1);
    grid->addWidget(b, row, 2);
    *browse = b;
    return edit;
}

void ChainTabs(QWidget* owner, const std::vector<QWidget*>& order) {
    for (std::size_t i = 1; i < order.size(); ++i) QWidget::setTabOrder(order[i - 1], order[i]);
    (void)owner;
}

}  // namespace

// --- Batch settings ------------------------------------------------------------------------------

BatchSettingsDialog::BatchSettingsDialog(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("批次轉換設定"));
    UseTraditionalChineseFont(this);
    model_.Open();
    quality_ = new QualitySection(this, model_);

    auto* root = new QVBoxLayout(this);
    auto* folderBox = new QGroupBox(QStringLiteral("資料夾"));
    auto* fg = new QGridLayout(folderBox);
    QPushButton *inBrowse = nullptr, *outBrowse = nullptr;
    input_ = FolderRow(fg, 0, QStringLiteral("輸入"), "input", &inBrowse);
    output_ = FolderRow(fg, 1, QStringLiteral("輸出"), "output", &outBrowse);
    fg->setColumnStretch(1, 1);
    root->addWidget(folderBox);

    auto* filterBox = new QGroupBox(QStringLiteral("輸入檔案"));
    auto* fl = new QHBoxLayout(filterBox);
    wav_ = new QCheckBox(QStringLiteral("WAV 檔案"));
    wav_->setObjectName("take_wav");
    mp3_ = new QCheckBox(QStringLiteral("MP3 檔案"));
    mp3_->setObjectName("take_mp3");
    cd_ = new QCheckBox(QStringLiteral("音樂 CD"));
    cd_->setObjectName("take_cd");
    other_ = new QCheckBox(QStringLiteral("其他音訊檔案 (FLAC、Ogg、Opus、M4A…)"));
    other_->setObjectName("take_other");
    fl->addWidget(wav_);
    fl->addWidget(mp3_);
    fl->addWidget(other_);
    fl->addWidget(cd_);
    fl->addStretch(1);
    root->addWidget(filterBox);

    root->addWidget(quality_->FormatBox());
    root->addWidget(quality_->QualityBox());
    root->addWidget(quality_->Jitter());

    auto* buttons = new QDialogButtonBox;
    ok_ = buttons->addButton(QStringLiteral("確定"), QDialogButtonBox::AcceptRole);
    ok_->setObjectName("ok");
    ok_->setDefault(true);
    auto* cancel = buttons->addButton(QStringLiteral("取消"), QDialogButtonBox::RejectRole);
    cancel->setObjectName("cancel");
    root->addWidget(buttons);

    std::vector<QWidget*> order{input_, inBrowse, output_, outBrowse, wav_, mp3_, other_, cd_};
    for (QWidget* w : quality_->TabOrder()) order.push_back(w);
    order.push_back(ok_);
    order.push_back(cancel);
    ChainTabs(this, order);

    quality_->changed = [this] { Refresh(); };
    connect(input_, &QLineEdit::textChanged, this, [this](const QString& t) {
        model_.SetInputFolder(Ss(t));
        Refresh();
    });
    connect(output_, &QLineEdit::textChanged, this, [this](const QString& t) {
        model_.SetOutputFolder(Ss(t));
        Refresh();
    });
    connect(inBrowse, &QPushButton::clicked, this, [this] {
        std::string f = BrowseFolder(parentWidget() ? parentWidget() : this,
                                     QStringLiteral("選擇輸入資料夾名稱"), model_.InputFolder());
        if (!f.empty()) input_->setText(Qs(f));
    });
    connect(outBrowse, &QPushButton::clicked, this, [this] {
        std::string f = BrowseFolder(parentWidget() ? parentWidget() : this,
                                     QStringLiteral("選擇輸出資料夾名稱"), model_.OutputFolder());
        if (!f.empty()) output_->setText(Qs(f));
    });
    connect(wav_, &QCheckBox::toggled, this, [this](bool on) { model_.SetTakeWav(on); });
    connect(mp3_, &QCheckBox::toggled, this, [this](bool on) { model_.SetTakeMp3(on); });
    connect(cd_, &QCheckBox::toggled, this, [this](bool on) { model_.SetTakeCd(on); });
    connect(other_, &QCheckBox::toggled, this, [this](bool on) { model_.SetTakeOther(on); });
    connect(buttons, &QDialogButtonBox::accepted, this, &BatchSettingsDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &BatchSettingsDialog::reject);

    {
        QSignalBlocker b1(input_), b2(output_);
        input_->setText(Qs(model_.InputFolder()));
        output_->setText(Qs(model_.OutputFolder()));
    }
    wav_->setChecked(model_.TakeWav());
    mp3_->setChecked(model_.TakeMp3());
    cd_->setChecked(model_.TakeCd());
    other_->setChecked(model_.TakeOther());
    Refresh();
}

void BatchSettingsDialog::Refresh() {
    quality_->Refresh();
    ok_->setEnabled(model_.OkEnabled());
}

void BatchSettingsDialog::accept() {
    if (model_.Accept()) QDialog::accept();
}

// --- CD ripping ----------------------------------------------------------------------------------

CdRipDialog::CdRipDialog(QWidget* parent, CdDisc disc,
                         std::function<bool(const CdDisc&)> cacheWriter)
    : QDialog(parent), cacheWriter_(std::move(cacheWriter)) {
    setWindowTitle(QStringLiteral("擷取音樂 CD"));
    UseTraditionalChineseFont(this);
    model_.Open(std::move(disc));
    quality_ = new QualitySection(this, model_);

    auto* root = new QHBoxLayout(this);
    auto* left = new QVBoxLayout;
    auto* right = new QVBoxLayout;
    root->addLayout(left, 3);
    root->addLayout(right, 2);

    auto* discGrid = new QGridLayout;
    discTitle_ = new QLineEdit;
    discTitle_->setObjectName("disc_title");
    extended_ = new QLineEdit;
    extended_->setObjectName("disc_extended");
    auto* titleLabel = new QLabel(QStringLiteral("CD 標題"));
    titleLabel->setBuddy(discTitle_);
    auto* extLabel = new QLabel(QStringLiteral("版權"));
    extLabel->setBuddy(extended_);
    discGrid->addWidget(titleLabel, 0, 0);
    discGrid->addWidget(discTitle_, 0, 1);
    discGrid->addWidget(extLabel, 1, 0);
    discGrid->addWidget(extended_, 1, 1);
    left->addLayout(discGrid);

    tracks_ = new QTreeWidget;
    tracks_->setObjectName("tracks");
    tracks_->setColumnCount(2);
    tracks_->setHeaderLabels({QStringLiteral("標題"), QStringLiteral("長度")});
    tracks_->setRootIsDecorated(false);
    tracks_->setUniformRowHeights(true);
    tracks_->setSelectionMode(QAbstractItemView::SingleSelection);
    tracks_->setSelectionBehavior(QAbstractItemView::SelectRows);
    tracks_->setEditTriggers(QAbstractItemView::EditKeyPressed |
                             QAbstractItemView::SelectedClicked | QAbstractItemView::DoubleClicked);
    tracks_->header()->setStretchLastSection(false);
    tracks_->setMinimumSize(360, 220);
    tracks_->installEventFilter(this);
    for (const CdTrack& t : model_.Disc().tracks) {
        auto* item = new QTreeWidgetItem(tracks_);
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable | Qt::ItemIsEditable);
        item->setText(0, Qs(t.title));
        item->setText(1, Qs(FormatTrackLength(t.lengthSeconds)));
        item->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
        item->setCheckState(0, t.selected ? Qt::Checked : Qt::Unchecked);
    }
    if (tracks_->topLevelItemCount() > 0) tracks_->setCurrentItem(tracks_->topLevelItem(0));
    left->addWidget(tracks_, 1);
    placeTitles_ = new QCheckBox(QStringLiteral("放置歌曲相關訊息標題"));
    placeTitles_->setObjectName("place_titles");
    refresh_ = new QPushButton(QStringLiteral("重新查詢 CD 訊息"));
    refresh_->setObjectName("refresh");
    refresh_->setVisible(false);  // only where a lookup can be made
    auto* titleRow = new QHBoxLayout;
    titleRow->addWidget(placeTitles_, 1);
    titleRow->addWidget(refresh_);
    left->addLayout(titleRow);

    auto* folderBox = new QGroupBox(QStringLiteral("輸出"));
    auto* fg = new QGridLayout(folderBox);
    QPushButton* outBrowse = nullptr;
    output_ = FolderRow(fg, 0, QStringLiteral("資料夾"), "output", &outBrowse);
    output_->setMinimumWidth(220);
    fg->setColumnStretch(1, 1);
    right->addWidget(folderBox);
    right->addWidget(quality_->FormatBox());
    right->addWidget(quality_->QualityBox());
    right->addWidget(quality_->Jitter());
    testCopy_ = new QCheckBox(QStringLiteral("測試與複製 (每首讀兩次並比對)"));
    testCopy_->setObjectName("test_copy");
    testCopy_->setChecked(settings::ReadOption("CdTestCopy") > 0);
    right->addWidget(testCopy_);
    skipBad_ = new QCheckBox(QStringLiteral("無法讀取的磁區以靜音代替"));
    skipBad_->setObjectName("skip_bad");
    skipBad_->setChecked(settings::ReadOption("SkipBadSectors") > 0);
    right->addWidget(skipBad_);
    auto* arBox = new QGroupBox(QStringLiteral("AccurateRip 驗證"));
    auto* ag = new QGridLayout(arBox);
    arUrl_ = new QLineEdit;
    arUrl_->setObjectName("accuraterip_url");
    arUrl_->setPlaceholderText(QStringLiteral("http://主機:埠 (空白: 不查詢)"));
    arUrl_->setText(Qs(settings::ReadProfileText(kArSection, "Url")));
    auto* urlLabel = new QLabel(QStringLiteral("伺服器"));
    urlLabel->setBuddy(arUrl_);
    ag->addWidget(urlLabel, 0, 0);
    ag->addWidget(arUrl_, 0, 1, 1, 2);
    readOffset_ = new QLineEdit;
    readOffset_->setObjectName("read_offset");
    readOffset_->setPlaceholderText(QStringLiteral("未設定: 自動尋找"));
    readOffset_->setToolTip(
        QStringLiteral("光碟機的讀取偏移, 以樣本計 (例如 +6 或 -472), 最多 ±2940"));
    offsetLabel_ = new QLabel(QStringLiteral("讀取偏移"));
    offsetLabel_->setBuddy(readOffset_);
    ag->addWidget(offsetLabel_, 1, 0);
    ag->addWidget(readOffset_, 1, 1);
    ag->addWidget(new QLabel(QStringLiteral("樣本")), 1, 2);
    ag->setColumnStretch(1, 1);
    offsetLabel_->setEnabled(false);  // until the drive is known
    readOffset_->setEnabled(false);
    right->addWidget(arBox);
    right->addStretch(1);

    auto* buttons = new QDialogButtonBox;
    start_ = buttons->addButton(QStringLiteral("開始"), QDialogButtonBox::AcceptRole);
    start_->setObjectName("start");
    start_->setDefault(true);
    auto* cancel = buttons->addButton(QStringLiteral("取消"), QDialogButtonBox::RejectRole);
    cancel->setObjectName("cancel");
    right->addWidget(buttons);

    std::vector<QWidget*> order{discTitle_, extended_, tracks_,  placeTitles_,
                                refresh_,   output_,   outBrowse};
    for (QWidget* w : quality_->TabOrder()) order.push_back(w);
    order.push_back(testCopy_);
    order.push_back(skipBad_);
    order.push_back(arUrl_);
    order.push_back(readOffset_);
    order.push_back(start_);
    order.push_back(cancel);
    ChainTabs(this, order);

    quality_->changed = [this] { Refresh(); };
    connect(tracks_, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem* item, int) {
        int row = tracks_->indexOfTopLevelItem(item);
        model_.SetTicked(row, item->checkState(0) == Qt::Checked);
        model_.SetTrackTitle(row, Ss(item->text(0)));
        Refresh();
    });
    connect(tracks_, &QTreeWidget::currentItemChanged, this, [this] { Refresh(); });
    connect(discTitle_, &QLineEdit::textEdited, this,
            [this](const QString& t) { model_.Disc().title = Ss(t); });
    connect(extended_, &QLineEdit::textEdited, this,
            [this](const QString& t) { model_.Disc().extended = Ss(t); });
    connect(placeTitles_, &QCheckBox::toggled, this,
            [this](bool on) { model_.SetPlaceSongTitles(on); });
    connect(output_, &QLineEdit::textChanged, this, [this](const QString& t) {
        model_.SetOutputFolder(Ss(t));
        Refresh();
    });
    connect(outBrowse, &QPushButton::clicked, this, [this] {
        std::string f = BrowseFolder(parentWidget() ? parentWidget() : this,
                                     QStringLiteral("選擇輸出資料夾名稱"), model_.OutputFolder());
        if (!f.empty()) output_->setText(Qs(f));
    });
    connect(refresh_, &QPushButton::clicked, this, [this] {
        if (!refresher_) return;
        const CdDisc fresh = refresher_();
        if (fresh.tracks.size() != model_.Disc().tracks.size()) return;  // another disc now
        model_.Disc().title = fresh.title;
        model_.Disc().extended = fresh.extended;
        discTitle_->setText(Qs(fresh.title));
        extended_->setText(Qs(fresh.extended));
        QSignalBlocker block(tracks_);
        for (int i = 0; i < tracks_->topLevelItemCount(); ++i) {
            const std::string& title = fresh.tracks[static_cast<std::size_t>(i)].title;
            model_.SetTrackTitle(i, title);
            tracks_->topLevelItem(i)->setText(0, Qs(title));
        }
        SizeTitleColumn();
    });
    connect(buttons, &QDialogButtonBox::accepted, this, &CdRipDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &CdRipDialog::reject);

    discTitle_->setText(Qs(model_.Disc().title));
    extended_->setText(Qs(model_.Disc().extended));
    placeTitles_->setChecked(model_.PlaceSongTitles());
    {
        QSignalBlocker b(output_);
        output_->setText(Qs(model_.OutputFolder()));
    }
    Refresh();
}

CdRipDialog::~CdRipDialog() {
    tracks_->removeEventFilter(this);
}

void CdRipDialog::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    SizeTitleColumn();
}

// The title column takes what the length column leaves: a long title is elided (its whole
// text is in the tool tip) rather than pushing the lengths out of sight.
void CdRipDialog::SizeTitleColumn() {
    QFontMetrics fm(tracks_->font());
    const int lengthWidth = std::max(fm.horizontalAdvance(QStringLiteral("0:00:00")),
                                     fm.horizontalAdvance(tracks_->headerItem()->text(1))) +
                            24;
    const int available = tracks_->viewport()->width() - lengthWidth - 4;
    tracks_->setColumnWidth(0, std::max(available, 80));
    tracks_->setColumnWidth(1, lengthWidth);
    for (int i = 0; i < tracks_->topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = tracks_->topLevelItem(i);
        item->setToolTip(0, item->text(0));
    }
}

bool CdRipDialog::eventFilter(QObject* watched, QEvent* event) {
    if (watched == tracks_ && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Space) {
        // The space bar ticks or unticks the row and moves on to the next one.
        if (QTreeWidgetItem* item = tracks_->currentItem()) {
            item->setCheckState(0,
                                item->checkState(0) == Qt::Checked ? Qt::Unchecked : Qt::Checked);
            int row = tracks_->indexOfTopLevelItem(item);
            if (row + 1 < tracks_->topLevelItemCount())
                tracks_->setCurrentItem(tracks_->topLevelItem(row + 1));
        }
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void CdRipDialog::Refresh() {
    quality_->Refresh();
    start_->setEnabled(model_.StartEnabled());
}

void CdRipDialog::SetRefresher(std::function<CdDisc()> refresher) {
    refresher_ = std::move(refresher);
    refresh_->setVisible(static_cast<bool>(refresher_));
}

void CdRipDialog::SetDrive(const std::string& root) {
    char letter = 0;
    const auto slot = cd::ParseDriveRoot(root, letter) ? cd::FindCdDrive(letter) : std::nullopt;
    offsetKey_ = slot ? "Offset " + slot->source : std::string();
    offsetLabel_->setEnabled(slot.has_value());
    readOffset_->setEnabled(slot.has_value());
    readOffset_->setText(slot ? Qs(settings::ReadProfileText(kArSection, offsetKey_)) : QString());
    if (slot)
        offsetLabel_->setToolTip(QStringLiteral("%1 的讀取偏移").arg(Qs(cd::DriveLabel(*slot))));
}

std::string AccurateRipUrlProblem(const std::string& url) {
    if (url.empty()) return {};
    cddb::UrlParts parts;
    if (!cddb::SplitUrl(url, parts) || parts.scheme != "http")
        return "AccurateRip 伺服器必須是 http:// 開頭的網址 (例如 http://主機:埠): " + url;
    return {};
}

std::string ReadOffsetProblem(const std::string& text) {
    std::int32_t frames = 0;
    if (text.empty() || cd::ParseReadOffset(text, frames)) return {};
    return "讀取偏移必須是 -2940 到 +2940 之間的整數 (樣本): " + text;
}

void CdRipDialog::accept() {
    // The verification settings are checked before anything is started or stored.
    const std::string url = Ss(arUrl_->text().trimmed());
    const std::string offset = Ss(readOffset_->text().trimmed());
    for (const auto& [problem, field] : {std::pair{AccurateRipUrlProblem(url), arUrl_},
                                         std::pair{ReadOffsetProblem(offset), readOffset_}})
        if (!problem.empty()) {
            QMessageBox::warning(this, QStringLiteral("Quorvatix Tralux"), Qs(problem));
            field->setFocus();
            field->selectAll();
            return;
        }
    settings::WriteOption("SkipBadSectors", skipBad_->isChecked() ? 1 : 0);
    for (int i = 0; i < tracks_->topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = tracks_->topLevelItem(i);
        model_.SetTicked(i, item->checkState(0) == Qt::Checked);
        model_.SetTrackTitle(i, Ss(item->text(0)));
    }
    model_.Disc().title = Ss(discTitle_->text());
    model_.Disc().extended = Ss(extended_->text());
    std::string message;
    if (!model_.Start(cacheWriter_, message)) return;
    settings::WriteOption("CdTestCopy", testCopy_->isChecked() ? 1 : 0);
    if (url != settings::ReadProfileText(kArSection, "Url"))
        settings::WriteProfileText(kArSection, "Url", url);
    if (!offsetKey_.empty() && offset != settings::ReadProfileText(kArSection, offsetKey_))
        settings::WriteProfileText(kArSection, offsetKey_, offset);
    if (!message.empty())
        QMessageBox::warning(this, QStringLiteral("Quorvatix Tralux"), Qs(message));
    QDialog::accept();
}

}  // namespace tralux::app
