#pragma once
// What the window needs from the engine and the machine, behind one seam so tests can stand in
// for sound, files and CD drives. The default passes everything to the engine.
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "engine/job/stream_info.h"

namespace tralux {
class Job;
}

namespace tralux::app {

class Backend {
public:
    virtual ~Backend() = default;
    // ProbeInput: false leaves the reason in LastError.
    virtual bool Probe(const std::string& path, StreamInfo& info);
    // StartConversion with the job parameter unused.
    virtual bool Start(const std::string& input, const std::string& output, int mode);
    // Starts a conversion on one of a batch's own jobs; false leaves the reason in its LastError.
    virtual bool StartOn(Job& job, const std::string& input, const std::string& output, int mode);
    virtual void ReportLastError();
    // `callback` runs on the job's thread each time a job ends (empty: none); see
    // SetJobEndCallback.
    virtual void OnJobEnd(std::function<void()> callback);
    // Roots of the CD-ROM drives in drive-letter order ("D:/"); empty when there are none.
    virtual std::vector<std::string> CdDriveRoots();
    // Names of the entries of a folder or a drive root.
    virtual std::vector<std::string> ListFolder(const std::string& folder);
    // Track number of a ".cda" entry; 0 when unknown.
    virtual int CdaTrack(const std::string& path);
    // Whether the CD ripping dialog left the track ticked.
    virtual bool TrackSelected(int track);
};

// The backend the window and the progress dialogs use; tests install their own.
Backend& CurrentBackend();
void SetBackend(Backend* backend);  // nullptr restores the engine's

}  // namespace tralux::app
