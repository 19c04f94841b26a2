#pragma once
// The dialogs the main window opens before a job. Each returns true when the user confirmed
// (OK / Start) and has then written its choices to the settings store.
#include <functional>
#include <string>

class QWidget;

namespace tralux::models {
struct CdDisc;
}

namespace tralux::app {

// Output format, quality, song information and destination for one conversion.
bool RunConversionSettingsDialog(QWidget* parent);

// A folder to convert, with input filters, output format and quality.
bool RunBatchSettingsDialog(QWidget* parent);

// The tracks of the disc in the drive at `driveRoot` ("D:/"), ticked for ripping.
bool RunCdRipDialog(QWidget* parent, const std::string& driveRoot);

// The CDDB server settings ("CDDB" section of the store); true when confirmed.
bool RunCddbSettingsDialog(QWidget* parent);

// Where the CD ripping dialog gets the disc (titles, lengths) and where it saves the edited
// disc. The defaults read the drive's table of contents and keep no cache.
using CdDiscSource = std::function<models::CdDisc(const std::string& driveRoot)>;
using CdCacheWriter = std::function<bool(const models::CdDisc&)>;
// The disc looked up again from the server (the dialog's refresh button).
void SetCdDiscRefresher(CdDiscSource refresher);
void SetCdDiscSource(CdDiscSource source);
void SetCdCacheWriter(CdCacheWriter writer);
// The tracks of the disc at `root` with placeholder titles and their lengths, as a disc
// nobody looked up yet shows them.
models::CdDisc DiscFromToc(const std::string& root);

// Makes these dialogs answer the CD information lookups started on the calling thread (the
// user-interface thread), and connects the CD ripping dialog to the current disc and the
// cache. The lookup core's transport, cache files and settings store are installed apart.
void InstallCddbDialogs();

// The disc as the last confirmed CD ripping dialog left it: ticked tracks and edited titles.
const models::CdDisc& LastRippedDisc();

}  // namespace tralux::app
