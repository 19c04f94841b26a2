#include "app/window/backend.h"

#include <filesystem>
#include <string_view>

#include "app/core/progress.h"
#include "app/dialogs/dialogs.h"
#include "app/models/batch_settings.h"
#include "cd/cda_files.h"
#include "cd/drives.h"
#include "engine/formats/riff_reader.h"
#include "engine/job/job.h"

namespace tralux::app {

bool Backend::Probe(const std::string& path, StreamInfo& info) {
    return ProbeInput(path, info);
}

bool Backend::Start(const std::string& input, const std::string& output, int mode) {
    return StartConversion(input, output, 0, mode);
}

bool Backend::StartOn(Job& job, const std::string& input, const std::string& output, int mode) {
    return job.Start(input, output, 0, mode);
}

void Backend::ReportLastError() {
    tralux::ReportLastError();
}

void Backend::OnJobEnd(std::function<void()> callback) {
    SetJobEndCallback(std::move(callback));
}

std::vector<std::string> Backend::CdDriveRoots() {
    std::vector<std::string> roots;
    for (const cd::CdDriveSlot& slot : cd::ListCdDrives())
        roots.push_back(std::string(1, slot.letter) + ":/");
    return roots;
}

std::vector<std::string> Backend::ListFolder(const std::string& folder) {
    std::vector<std::string> names;
    // A drive root ("D:/") lists the disc's tracks, which are on no disk.
    char letter = 0;
    std::string_view rest;
    if (cd::ParseDriveRoot(folder, letter, &rest) && rest.empty()) {
        for (const std::string& path : cd::ListCdaFiles(folder)) {
            const auto slash = path.find_last_of("/\\");
            names.push_back(slash == std::string::npos ? path : path.substr(slash + 1));
        }
        return names;
    }
    std::error_code ec;
    for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end;
         it.increment(ec)) {
        std::error_code fe;
        if (it->is_regular_file(fe)) names.push_back(it->path().filename().string());
    }
    return names;
}

int Backend::CdaTrack(const std::string& path) {
    char letter = 0;
    int track = 0;
    if (cd::ParseCdaPath(path, letter, track)) return track;
    return CdaTrackNumber(path);
}

bool Backend::TrackSelected(int track) {
    // The ticks the CD ripping dialog left; a track it did not list is taken.
    const models::CdDisc& disc = LastRippedDisc();
    if (track < 1 || track > static_cast<int>(disc.tracks.size())) return true;
    return disc.tracks[static_cast<std::size_t>(track - 1)].selected;
}

namespace {
Backend g_engineBackend;
Backend* g_backend = &g_engineBackend;
}  // namespace

Backend& CurrentBackend() {
    return *g_backend;
}
void SetBackend(Backend* backend) {
    g_backend = backend ? backend : &g_engineBackend;
}

}  // namespace tralux::app
