#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>

#include "app/dialogs/conversion_dialog.h"
#include "engine/outputs/mp3_rates.h"
#include "qt_fixture.h"

namespace tralux::app {
namespace {

using namespace models;
using testing::DialogTest;

ConversionInputs Inputs(int rate, int channels, double positionMs = 61000) {
    ConversionInputs in;
    in.outputRate = rate;
    in.outputChannels = channels;
    in.qualityDescription = std::to_string(rate) + " Hz, 立體聲";
    in.positionMs = positionMs;
    in.title = "標題";
    return in;
}

template <class T>
T* Child(QWidget* w, const char* name) {
    T* c = w->findChild<T*>(name);
    EXPECT_NE(c, nullptr) << name;
    return c;
}

TEST_F(DialogTest, ConversionDialogFollowsTheModel) {
    settings::WriteOption("MSABitRate", 128);
    ConversionSettingsDialog d(nullptr, Inputs(44100, 1));
    auto* bitrate = Child<QComboBox>(&d, "bitrate");
    EXPECT_FALSE(bitrate->isEnabled());
    EXPECT_TRUE(Child<QRadioButton>(&d, "quality_original")->isEnabled());
    EXPECT_EQ(Child<QRadioButton>(&d, "start_position")->text(),
              QStringLiteral("從目前位置            (01:01)"));

    Child<QRadioButton>(&d, "format_wma")->click();
    EXPECT_TRUE(bitrate->isEnabled());
    EXPECT_FALSE(Child<QRadioButton>(&d, "quality_original")->isEnabled());
    EXPECT_TRUE(Child<QRadioButton>(&d, "quality_convert")->isChecked());
    EXPECT_EQ(bitrate->currentText(), QStringLiteral("32 kBps"));  // 128 has no mono mode
    EXPECT_EQ(Child<QComboBox>(&d, "channels")->currentText(), QStringLiteral("單聲"));
    EXPECT_EQ(Child<QComboBox>(&d, "rate")->currentText(), QStringLiteral("44100 Hz"));

    // Choosing stereo through the list reacts like a click.
    auto* channels = Child<QComboBox>(&d, "channels");
    channels->setCurrentIndex(1);
    emit channels->activated(1);
    EXPECT_EQ(bitrate->currentText(), QStringLiteral("48 kBps"));  // nearest stereo mode
    EXPECT_EQ(Child<QComboBox>(&d, "rate")->currentText(), QStringLiteral("44100 Hz"));
}

TEST_F(DialogTest, ConversionDialogWmaRateListHoldsWhatTheWriterTakes) {
    ConversionInputs in = Inputs(96000, 2);
    in.outputFormat = kWma;
    ConversionSettingsDialog d(nullptr, in);
    auto* rate = Child<QComboBox>(&d, "rate");
    EXPECT_EQ(rate->currentText(), QStringLiteral("44100 Hz"));
    ASSERT_EQ(rate->count(), 3);
    EXPECT_EQ(rate->itemText(0), QStringLiteral("22050 Hz"));
    rate->setCurrentIndex(0);
    emit rate->activated(0);
    EXPECT_EQ(rate->currentText(), QStringLiteral("22050 Hz"));
    EXPECT_EQ(Child<QComboBox>(&d, "bitrate")->currentText(), QStringLiteral("32 kBps"));
    Child<QRadioButton>(&d, "format_wav")->click();
    EXPECT_EQ(rate->count(), 6);
    EXPECT_EQ(rate->currentText(), QStringLiteral("22050 Hz"));
}

TEST_F(DialogTest, ConversionDialogSongInfoDisablesTheTagEdits) {
    ConversionInputs in = Inputs(22050, 2);
    in.title = "一首名字非常非常非常非常非常非常非常非常非常非常非常長的中文歌曲標題";
    ConversionSettingsDialog d(nullptr, in);
    auto* title = Child<QLineEdit>(&d, "title");
    EXPECT_EQ(title->text(), QString::fromStdString(in.title));
    EXPECT_EQ(title->cursorPosition(), 0);  // the start is what shows
    EXPECT_TRUE(title->isEnabled());
    Child<QCheckBox>(&d, "song_info")->click();
    EXPECT_FALSE(title->isEnabled());
    EXPECT_FALSE(Child<QLineEdit>(&d, "copyright")->isEnabled());
}

TEST_F(DialogTest, ConversionDialogPositionZeroDisablesTheRadio) {
    settings::WriteOption("DecodeStart", 1);
    ConversionSettingsDialog d(nullptr, Inputs(22050, 2, 0));
    EXPECT_FALSE(Child<QRadioButton>(&d, "start_position")->isEnabled());
    EXPECT_TRUE(Child<QRadioButton>(&d, "start_beginning")->isChecked());
}

TEST_F(DialogTest, ConversionDialogOffersOnlyBitRatesTheEncoderTakes) {
    ConversionSettingsDialog d(nullptr, Inputs(44100, 1));
    Child<QRadioButton>(&d, "format_mp3")->click();
    auto* bitrate = Child<QComboBox>(&d, "bitrate");
    QStringList shown;
    for (int i = 0; i < bitrate->count(); ++i) shown << bitrate->itemText(i);
    QStringList encoder;
    for (int kbps : Mp3BitRatesKbps(44100, 1)) encoder << QStringLiteral("%1 kBps").arg(kbps);
    // The encoder's bit rates, then its ten variable-rate levels.
    EXPECT_EQ(shown.mid(0, encoder.size()), encoder);
    ASSERT_EQ(shown.size(), encoder.size() + 10);
    EXPECT_TRUE(shown.back().startsWith(QStringLiteral("VBR 品質 9")));
    // The last bit rate is what OK stores, at the shown rate and channels.
    const int last = static_cast<int>(encoder.size()) - 1;
    bitrate->setCurrentIndex(last);
    emit bitrate->activated(last);
    EXPECT_EQ(bitrate->currentText(), encoder.back());
    EXPECT_EQ(Child<QComboBox>(&d, "rate")->currentText(), QStringLiteral("44100 Hz"));
    EXPECT_EQ(Child<QComboBox>(&d, "channels")->currentText(), QStringLiteral("單聲"));
    // WMA: every item is a combination the writer takes, so OK never meets a refusal.
    Child<QRadioButton>(&d, "format_wma")->click();
    emit bitrate->activated(0);
    d.show();
    bool refused = false;
    QTimer guard;  // ends with the test: a refusal box is closed and noted
    QObject::connect(&guard, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            refused = true;
            box->done(0);
        }
    });
    guard.start(10);
    Child<QPushButton>(&d, "ok")->click();
    EXPECT_FALSE(refused);
    EXPECT_EQ(d.result(), QDialog::Accepted);
    EXPECT_EQ(settings::ReadOption("MSABitRate"), bitrate->currentText().split(' ')[0].toInt());
}

TEST_F(DialogTest, ConversionDialogOkStoresAndCancelDoesNot) {
    settings::WriteOptionText("BOut", "/music/");
    {
        ConversionSettingsDialog d(nullptr, Inputs(44100, 2));
        Child<QCheckBox>(&d, "jitter")->click();
        Child<QLineEdit>(&d, "destination")->setText("/x/");
        d.reject();
        EXPECT_EQ(settings::ReadOption("Jitter"), -1);
        EXPECT_EQ(settings::ReadOptionText("BOut"), "/music/");
    }
    ConversionSettingsDialog d(nullptr, Inputs(44100, 2));
    Child<QCheckBox>(&d, "jitter")->click();
    auto* dest = Child<QLineEdit>(&d, "destination");
    dest->selectAll();
    dest->setText("/y/");
    emit dest->textEdited("/y/");
    Child<QPushButton>(&d, "ok")->click();
    EXPECT_EQ(d.result(), QDialog::Accepted);
    EXPECT_EQ(settings::ReadOption("Jitter"), 1);
    EXPECT_EQ(settings::ReadOptionText("BOut"), "/y/");
    EXPECT_TRUE(d.Outputs().keepInputQuality);
}

TEST_F(DialogTest, ConversionDialogTabOrderReadsColumnByColumn) {
    ConversionSettingsDialog d(nullptr, Inputs(44100, 2));
    auto chain = testing::FocusChain(Child<QWidget>(&d, "format_wav"), 200);
    std::vector<QString> expected{
        "format_wav",      "format_mp3",  "format_wma", "format_flac",     "format_opus",
        "bitrate",         "quality_original",
        "quality_convert", "rate",        "channels",   "start_beginning", "start_position",
        "song_info",       "title",       "author",     "copyright",       "equalizer",
        "jitter",          "destination", "browse",     "cddb_settings",   "ok",
        "cancel"};
    std::vector<QString> named;
    for (const QString& n : chain)
        if (!n.isEmpty() && std::find(expected.begin(), expected.end(), n) != expected.end())
            named.push_back(n);
    EXPECT_EQ(named, expected);
}

}  // namespace
}  // namespace tralux::app
