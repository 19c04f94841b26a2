#include "app/dialogs/dialogs.h"

#include <QFileDialog>
#include <QMessageBox>
#include <cstdio>

#include "app/dialogs/batch_dialogs.h"
#include "app/dialogs/conversion_dialog.h"
#include "app/dialogs/widgets_util.h"
#include "app/models/batch_settings.h"
#include "app/models/conversion_settings.h"
#include "cd/toc.h"

namespace tralux::app {

// Titles and lengths from the table of contents, titled as an unknown disc is.
models::CdDisc DiscFromToc(const std::string& root) {
    models::CdDisc disc;
    DiscToc toc;
    if (!ReadDiscToc(root, toc)) return disc;
    auto seconds = [](std::uint32_t lba) { return static_cast<int>((lba + 150) / 75); };
    for (std::size_t i = 0; i < toc.tracks.size(); ++i) {
        std::uint32_t next =
            i + 1 < toc.tracks.size() ? toc.tracks[i + 1].startLba : toc.leadOutLba;
        models::CdTrack t;
        t.title = "音樂 CD, 音軌#" + std::to_string(i + 1);
        t.lengthSeconds = seconds(next) - seconds(toc.tracks[i].startLba);
        disc.tracks.push_back(t);
    }
    return disc;
}

namespace {

CdDiscSource discSource = DiscFromToc;
CdCacheWriter cacheWriter;
CdDiscSource discRefresher;
models::CdDisc lastRipped;

}  // namespace

std::string BrowseFolder(QWidget* parent, const QString& title, const std::string& start) {
    QString dir =
        QFileDialog::getExistingDirectory(parent, title, Qs(start), QFileDialog::ShowDirsOnly);
    if (dir.isEmpty()) return {};
    std::string path = Ss(dir);
    if (path.back() != '/') path += '/';
    return path;
}

bool RunConversionSettingsDialog(QWidget* parent) {
    ConversionSettingsDialog dialog(parent, models::ConversionInputsFromEngine());
    if (dialog.exec() != QDialog::Accepted) return false;
    models::ApplyConversionOutputs(dialog.Outputs());
    return true;
}

bool RunBatchSettingsDialog(QWidget* parent) {
    BatchSettingsDialog dialog(parent);
    return dialog.exec() == QDialog::Accepted;
}

bool RunCdRipDialog(QWidget* parent, const std::string& driveRoot) {
    CdRipDialog dialog(parent, discSource ? discSource(driveRoot) : models::CdDisc{}, cacheWriter);
    if (discRefresher) dialog.SetRefresher([driveRoot] { return discRefresher(driveRoot); });
    dialog.SetDrive(driveRoot);
    if (dialog.exec() != QDialog::Accepted) return false;
    lastRipped = dialog.Model().Disc();
    return true;
}

void SetCdDiscSource(CdDiscSource source) {
    discSource = std::move(source);
}
void SetCdDiscRefresher(CdDiscSource refresher) {
    discRefresher = std::move(refresher);
}
void SetCdCacheWriter(CdCacheWriter writer) {
    cacheWriter = std::move(writer);
}
const models::CdDisc& LastRippedDisc() {
    return lastRipped;
}

}  // namespace tralux::app
