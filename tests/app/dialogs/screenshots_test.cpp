// Pictures of every dialog, to be looked at: <build>/screenshots/<scale>x/<dialog>.png.
#include <QDir>
#include <QPixmap>
#include <QProgressBar>

#include "app/dialogs/batch_dialogs.h"
#include "app/dialogs/cddb_dialogs.h"
#include "app/dialogs/conversion_dialog.h"
#include "cd/drives.h"
#include "qt_fixture.h"

namespace tralux::app {
namespace {

using namespace models;

class Screenshots : public testing::DialogTest {
protected:
    void SetUp() override {
        DialogTest::SetUp();
        QString scale = qEnvironmentVariable("QT_SCALE_FACTOR", "1");
        dir_ = QStringLiteral(TRALUX_BINARY_DIR "/screenshots/") + scale + "x";
        QDir().mkpath(dir_);
        settings::EnsureOptionDefaults();
        settings::WriteOptionText("BOut", "/home/使用者/音樂/");
        settings::WriteOptionText("BInDir", "/home/使用者/下載/");
    }
    void Shoot(QWidget* w, const char* name) {
        w->show();
        w->adjustSize();
        for (int i = 0; i < 5; ++i) QApplication::processEvents();
        QPixmap shot = w->grab();
        EXPECT_FALSE(shot.isNull());
        // Nothing may be squeezed below what its layout asks for.
        EXPECT_GE(w->width(), w->minimumSizeHint().width()) << name;
        EXPECT_GE(w->height(), w->minimumSizeHint().height()) << name;
        EXPECT_TRUE(shot.save(dir_ + "/" + name + ".png")) << name;
        w->hide();
    }
    QString dir_;
};

CdDisc SampleDisc() {
    CdDisc d;
    d.title = "林小雨 / 夏天的第一場雨";
    d.extended = "© 2026 雨聲唱片 版權所有";
    const char* titles[] = {
        "夏天的第一場雨", "遠方的你",     "城市裡的星星", "慢慢走",   "那年我們十七歲",
        "海邊的風",       "一個人的晚餐", "再見，舊時光", "回家的路", "月光下的約定 (鋼琴版)",
        "雨停了"};
    for (int i = 0; i < 11; ++i)
        d.tracks.push_back({titles[i], "", i == 9 ? 3725 : 180 + 17 * i, true});
    return d;
}

TEST_F(Screenshots, ConversionSettings) {
    ConversionInputs in;
    in.outputFormat = kMp3;
    in.outputRate = 44100;
    in.outputChannels = 2;
    in.keepInputQuality = false;
    in.qualityDescription = "44100 Hz, 立體聲";
    in.positionMs = 3725000;
    in.title = "夏天的第一場雨";
    in.artist = "林小雨";
    in.copyright = "2026 雨聲唱片";
    ConversionSettingsDialog d(nullptr, in);
    Shoot(&d, "conversion_settings");
    in.outputFormat = kWav;
    in.keepInputQuality = true;
    in.positionMs = 0;
    ConversionSettingsDialog wav(nullptr, in);
    Shoot(&wav, "conversion_settings_wav");
    in.outputFormat = kWma;
    in.outputRate = 96000;
    in.qualityDescription = "96000 Hz, 立體聲";
    ConversionSettingsDialog wma(nullptr, in);
    Shoot(&wma, "conversion_settings_wma");
    in.outputFormat = kMp3;
    in.outputRate = 44100;
    in.qualityDescription = "44100 Hz, 立體聲";
    in.keepInputQuality = false;
    settings::WriteOption("MP3Vbr", 2);
    ConversionSettingsDialog vbr(nullptr, in);
    Shoot(&vbr, "conversion_settings_vbr");
    settings::WriteOption("MP3Vbr", -1);
    in.outputFormat = kFlac;
    in.keepInputQuality = true;
    ConversionSettingsDialog flac(nullptr, in);
    Shoot(&flac, "conversion_settings_flac");
    in.outputFormat = kOpus;
    in.keepInputQuality = false;
    ConversionSettingsDialog opus(nullptr, in);
    Shoot(&opus, "conversion_settings_opus");
}

TEST_F(Screenshots, BatchSettings) {
    settings::WriteOption("BAQ", 1);
    settings::WriteOption("BOutFormat", 1);
    BatchSettingsDialog d(nullptr);
    Shoot(&d, "batch_settings");
    settings::WriteOption("BOutFormat", 3);
    BatchSettingsDialog flac(nullptr);
    Shoot(&flac, "batch_settings_flac");
}

TEST_F(Screenshots, CdRip) {
    cd::SetCdDriveSourceForTesting(
        {[] {
             return std::vector<cd::CdDriveSlot>{{'D', "/dev/sr0", false}};
         },
         nullptr});
    CdRipDialog d(nullptr, SampleDisc(), nullptr);
    d.SetRefresher([] { return SampleDisc(); });
    d.SetDrive("D:/");
    Shoot(&d, "cd_rip");
    settings::WriteOption("BOutFormat", 4);
    settings::WriteOption("BAQ", 1);
    CdRipDialog opus(nullptr, SampleDisc(), nullptr);
    Shoot(&opus, "cd_rip_opus");
    cd::SetCdDriveSourceForTesting({});
}

TEST_F(Screenshots, CddbDialogs) {
    CddbProgressDialog progress(nullptr, {[] { return 30; }, [] { return true; }, [] {}});
    Shoot(&progress, "cddb_progress");

    CddbChoiceDialog choice(nullptr,
                            {"rock 7a09b40b 林小雨 / 夏天的第一場雨",
                             "misc 7a09b40b 林小雨 / 夏天的第一場雨 (精選輯)", "0 0 Another..."});
    Shoot(&choice, "cddb_choice");

    CddbEditorDialog editor(nullptr, SampleDisc());
    Shoot(&editor, "cddb_editor");

    CdDisc disc = SampleDisc();
    CddbNotFoundDialog notFound(nullptr, disc);
    Shoot(&notFound, "cddb_not_found");

    CddbSettingsDialog settingsDialog(nullptr);
    Shoot(&settingsDialog, "cddb_settings");
}

}  // namespace
}  // namespace tralux::app
