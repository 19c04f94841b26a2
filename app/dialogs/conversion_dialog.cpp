#include "app/dialogs/conversion_dialog.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

#include "app/dialogs/dialogs.h"
#include "app/dialogs/widgets_util.h"

namespace tralux::app {

using namespace models;

ConversionSettingsDialog::ConversionSettingsDialog(QWidget* parent, const ConversionInputs& inputs)
    : QDialog(parent) {
    setWindowTitle(QStringLiteral("設定"));
    UseTraditionalChineseFont(this);
    model_.Open(inputs);
    Build();
    Refresh();
}

void ConversionSettingsDialog::Build() {
    auto* root = new QVBoxLayout(this);
    auto* columns = new QHBoxLayout;
    auto* left = new QVBoxLayout;
    auto* right = new QVBoxLayout;
    columns->addLayout(left, 1);
    columns->addLayout(right, 1);
    root->addLayout(columns);

    // Output format.
    auto* formatBox = new QGroupBox(QStringLiteral("輸出格式"));
    auto* formatLayout = new QVBoxLayout(formatBox);
    formatGroup_ = new QButtonGroup(this);
    const char* formats[] = {"未壓縮的 WAV", "MPEG Layer 3 (MP3)", "MSAudio 4.0 (WMA)",
                             "無損壓縮 (FLAC)", "Opus"};
    const char* formatNames[] = {"format_wav", "format_mp3", "format_wma", "format_flac",
                                 "format_opus"};
    for (int i = 0; i < 5; ++i) {
        auto* r = new QRadioButton(QString::fromUtf8(formats[i]));
        r->setObjectName(formatNames[i]);
        formatGroup_->addButton(r, i);
        formatLayout->addWidget(r);
    }
    left->addWidget(formatBox);

    // Quality.
    auto* qualityBox = new QGroupBox(QStringLiteral("品質"));
    auto* q = new QGridLayout(qualityBox);
    auto* bitLabel = bitLabel_ = new QLabel(QStringLiteral("位元率"));
    bitRate_ = new QComboBox;
    bitRate_->setObjectName("bitrate");
    bitRate_->setMinimumContentsLength(9);
    bitLabel->setBuddy(bitRate_);
    q->addWidget(bitLabel, 0, 0);
    q->addWidget(bitRate_, 0, 1);
    qualityGroup_ = new QButtonGroup(this);
    original_ = new QRadioButton;
    original_->setObjectName("quality_original");
    auto* convert = new QRadioButton(QStringLiteral("轉換至:"));
    convert->setObjectName("quality_convert");
    qualityGroup_->addButton(original_, 0);
    qualityGroup_->addButton(convert, 1);
    q->addWidget(original_, 1, 0, 1, 2);
    q->addWidget(convert, 2, 0, 1, 2);
    auto* rateLabel = new QLabel(QStringLiteral("取樣率:"));
    rate_ = new QComboBox;
    rate_->setObjectName("rate");
    rate_->setMinimumContentsLength(9);
    rateLabel->setBuddy(rate_);
    auto* chanLabel = new QLabel(QStringLiteral("聲道"));
    channels_ = new QComboBox;
    channels_->setObjectName("channels");
    channels_->addItem(QString::fromUtf8(kMonoText));
    channels_->addItem(QString::fromUtf8(kStereoText));
    chanLabel->setBuddy(channels_);
    rateLabel->setIndent(20);
    chanLabel->setIndent(20);
    q->addWidget(rateLabel, 3, 0);
    q->addWidget(rate_, 3, 1);
    q->addWidget(chanLabel, 4, 0);
    q->addWidget(channels_, 4, 1);
    q->setColumnStretch(1, 1);
    left->addWidget(qualityBox);
    left->addStretch(1);

    // Where decoding starts.
    auto* startBox = new QGroupBox(QStringLiteral("開始解碼"));
    auto* startLayout = new QVBoxLayout(startBox);
    startGroup_ = new QButtonGroup(this);
    auto* fromStart = new QRadioButton(QStringLiteral("從啟始解碼 (00:00)"));
    fromStart->setObjectName("start_beginning");
    fromPosition_ = new QRadioButton;
    fromPosition_->setObjectName("start_position");
    startGroup_->addButton(fromStart, 0);
    startGroup_->addButton(fromPosition_, 1);
    startLayout->addWidget(fromStart);
    startLayout->addWidget(fromPosition_);
    right->addWidget(startBox);

    // Song information.
    auto* songBox = new QGroupBox(QStringLiteral("歌曲訊息"));
    auto* songLayout = new QGridLayout(songBox);
    songInfo_ = new QCheckBox(QStringLiteral("將歌曲相關訊息放置於檔案內"));
    songInfo_->setObjectName("song_info");
    songLayout->addWidget(songInfo_, 0, 0, 1, 2);
    title_ = new QLineEdit;
    title_->setObjectName("title");
    author_ = new QLineEdit;
    author_->setObjectName("author");
    copyright_ = new QLineEdit;
    copyright_->setObjectName("copyright");
    const char* tagLabels[] = {"標題", "作者", "(C)"};
    QLineEdit* tagEdits[] = {title_, author_, copyright_};
    for (int i = 0; i < 3; ++i) {
        auto* l = new QLabel(QString::fromUtf8(tagLabels[i]));
        l->setBuddy(tagEdits[i]);
        songLayout->addWidget(l, i + 1, 0);
        songLayout->addWidget(tagEdits[i], i + 1, 1);
    }
    right->addWidget(songBox);

    // Processing options.
    auto* optionBox = new QGroupBox(QStringLiteral("選項"));
    auto* optionLayout = new QVBoxLayout(optionBox);
    equalizer_ = new QCheckBox(QStringLiteral("使用均衡器(比較慢)"));
    equalizer_->setObjectName("equalizer");
    jitter_ = new QCheckBox(QStringLiteral("將 CD 定位控制 (比較慢)"));
    jitter_->setObjectName("jitter");
    normalize_ = new QCheckBox(QStringLiteral("標準聲音"));
    normalize_->setObjectName("normalize");
    normalize_->setEnabled(false);
    optionLayout->addWidget(equalizer_);
    optionLayout->addWidget(jitter_);
    optionLayout->addWidget(normalize_);
    right->addWidget(optionBox);
    right->addStretch(1);

    // Destination.
    auto* destRow = new QHBoxLayout;
    auto* destLabel = new QLabel(QStringLiteral("目的地資料夾:"));
    destination_ = new QLineEdit;
    destination_->setObjectName("destination");
    destLabel->setBuddy(destination_);
    auto* browse = new QPushButton(QStringLiteral("瀏覽"));
    browse->setObjectName("browse");
    browse->setAutoDefault(false);
    destRow->addWidget(destLabel);
    destRow->addWidget(destination_, 1);
    destRow->addWidget(browse);
    root->addLayout(destRow);

    // Buttons.
    auto* buttonRow = new QHBoxLayout;
    auto* cddb = new QPushButton(QStringLiteral("CDDB 設定..."));
    cddb->setObjectName("cddb_settings");
    cddb->setAutoDefault(false);
    auto* buttons = new QDialogButtonBox;
    auto* ok = buttons->addButton(QStringLiteral("確定"), QDialogButtonBox::AcceptRole);
    ok->setObjectName("ok");
    ok->setDefault(true);
    auto* cancel = buttons->addButton(QStringLiteral("取消"), QDialogButtonBox::RejectRole);
    cancel->setObjectName("cancel");
    buttonRow->addWidget(cddb);
    buttonRow->addStretch(1);
    buttonRow->addWidget(buttons);
    root->addLayout(buttonRow);

    // Reading order: left column, right column, destination, buttons.
    QWidget* order[] = {formatGroup_->button(0),
                        formatGroup_->button(1),
                        formatGroup_->button(2),
                        formatGroup_->button(3),
                        formatGroup_->button(4),
                        bitRate_,
                        original_,
                        convert,
                        rate_,
                        channels_,
                        fromStart,
                        fromPosition_,
                        songInfo_,
                        title_,
                        author_,
                        copyright_,
                        equalizer_,
                        jitter_,
                        destination_,
                        browse,
                        cddb,
                        ok,
                        cancel};
    for (std::size_t i = 1; i < std::size(order); ++i) setTabOrder(order[i - 1], order[i]);

    connect(formatGroup_, &QButtonGroup::idToggled, this, [this](int id, bool on) {
        if (!on) return;
        model_.SetFormat(id);
        Refresh();
    });
    connect(qualityGroup_, &QButtonGroup::idToggled, this, [this](int id, bool on) {
        if (!on) return;
        model_.SetQualityMode(id);
        Refresh();
    });
    connect(startGroup_, &QButtonGroup::idToggled, this, [this](int id, bool on) {
        if (on) model_.SetDecodeStart(id);
    });
    connect(bitRate_, &QComboBox::activated, this, [this](int i) {
        model_.SetBitRateItem(i);
        Refresh();
    });
    connect(rate_, &QComboBox::activated, this, [this](int i) {
        model_.SetRateItem(i);
        Refresh();
    });
    connect(channels_, &QComboBox::activated, this, [this](int i) {
        model_.SetChannelIndex(i);
        Refresh();
    });
    connect(songInfo_, &QCheckBox::toggled, this, [this](bool on) {
        model_.SetSongInfo(on);
        Refresh();
    });
    connect(title_, &QLineEdit::textEdited, this,
            [this](const QString& t) { model_.SetTitle(Ss(t)); });
    connect(author_, &QLineEdit::textEdited, this,
            [this](const QString& t) { model_.SetAuthor(Ss(t)); });
    connect(copyright_, &QLineEdit::textEdited, this,
            [this](const QString& t) { model_.SetCopyright(Ss(t)); });
    connect(equalizer_, &QCheckBox::toggled, this, [this](bool on) { model_.SetEqualizer(on); });
    connect(jitter_, &QCheckBox::toggled, this, [this](bool on) { model_.SetJitter(on); });
    connect(destination_, &QLineEdit::textEdited, this,
            [this](const QString& t) { model_.SetDestination(Ss(t)); });
    connect(browse, &QPushButton::clicked, this, [this] {
        std::string folder =
            BrowseFolder(this, QStringLiteral("選取目的地資料夾."), Ss(destination_->text()));
        if (folder.empty()) return;
        model_.SetDestination(folder);
        Refresh();
    });
    connect(cddb, &QPushButton::clicked, this, [this] { RunCddbSettingsDialog(this); });
    connect(buttons, &QDialogButtonBox::accepted, this, &ConversionSettingsDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &ConversionSettingsDialog::reject);
}

void ConversionSettingsDialog::Refresh() {
    const QualityChoice& q = model_.Quality();
    QSignalBlocker b1(formatGroup_), b2(qualityGroup_), b3(startGroup_), b4(songInfo_),
        b5(equalizer_), b6(jitter_);
    formatGroup_->button(model_.Format())->setChecked(true);
    qualityGroup_->button(model_.QualityMode())->setChecked(true);
    startGroup_->button(model_.DecodeStart())->setChecked(true);
    original_->setText(Qs(model_.OriginalQualityLabel()));
    fromPosition_->setText(Qs(model_.FromPositionLabel()));

    SetItems(bitRate_, model_.BitRateItems());
    SetItems(rate_, model_.RateItems());
    if (model_.Format() != kWav) bitRate_->setCurrentIndex(model_.BitRateItem());
    rate_->setCurrentIndex(model_.RateItem());
    channels_->setCurrentIndex(q.chanIndex);

    songInfo_->setChecked(model_.SongInfo());
    SetText(title_, model_.Title());
    SetText(author_, model_.Author());
    SetText(copyright_, model_.Copyright());
    equalizer_->setChecked(model_.Equalizer());
    jitter_->setChecked(model_.Jitter());
    normalize_->setChecked(model_.Normalize());
    SetText(destination_, model_.Destination());

    original_->setEnabled(model_.OriginalQualityEnabled());
    bitRate_->setEnabled(model_.BitRateEnabled());
    // FLAC's list holds compression levels, not bit rates.
    bitLabel_->setText(model_.Format() == kFlac ? QStringLiteral("壓縮等級")
                                                : QStringLiteral("位元率"));
    rate_->setEnabled(model_.RateAndChannelsEnabled());
    channels_->setEnabled(model_.RateAndChannelsEnabled());
    title_->setEnabled(model_.TagEditsEnabled());
    author_->setEnabled(model_.TagEditsEnabled());
    copyright_->setEnabled(model_.TagEditsEnabled());
    fromPosition_->setEnabled(model_.FromPositionEnabled());
}

void ConversionSettingsDialog::accept() {
    std::string refusal;
    if (!model_.Accept(outputs_, refusal)) {
        QMessageBox::warning(this, QStringLiteral("Quorvatix Tralux"), Qs(refusal));
        return;
    }
    QDialog::accept();
}

}  // namespace tralux::app
