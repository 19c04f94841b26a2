#include "app/window/backend.h"

#include <filesystem>

#include "app/core/progress.h"
#include "engine/formats/riff_reader.h"
#include "engine/job/job.h"

namespace tralux::app {

bool Backend::Probe(const std::string& path, StreamInfo& info) { return ProbeInput(path, info); }

bool Backend::Start(const std::string& input, const std::string& output, int mode) {
    return StartConversion(input, output, 0, mode);
}

void Backend::ReportLastError() { tralux::ReportLastError(); }

std::vector<std::string> Backend::CdDriveRoots() {
    // No CD drive layer is linked into this build yet.
    return {};
}

std::vector<std::string> Backend::ListFolder(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code fe;
        if (it->is_regular_file(fe)) names.push_back(it->path().filename().string());
    }
    return names;
}

int Backend::CdaTrack(const std::string& path) { return CdaTrackNumber(path); }

bool Backend::TrackSelected(int) { return true; }

namespace {
Backend g_engineBackend;
Backend* g_backend = &g_engineBackend;
}  // namespace

Backend& CurrentBackend() { return *g_backend; }
void SetBackend(Backend* backend) { g_backend = backend ? backend : &g_engineBackend; }

}  // namespace tralux::app
