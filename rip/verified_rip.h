#pragma once
// What `cd rip` does beside writing the tracks: AccurateRip checksums and lookup, the read
// offset, test and copy, hidden audio before track 1, and the log and CUE sheet.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cd/drives.h"
#include "cd/rip_log.h"
#include "cddb/cd_info.h"

namespace tralux::rip {

struct VerifyOptions {
    std::optional<std::string> accurateRipUrl;  // overrides the stored setting
    std::optional<std::int32_t> readOffset;     // overrides the drive's stored offset
    bool testCopy = false;
    bool jitter = false;
    bool hiddenTrack = false;  // rip hidden audio before track 1 as track 00
    bool overwrite = false;
};

// Where a rip's words go: sentences for the user, and one machine-readable line per track.
struct RipReport {
    std::function<void(const std::string&)> say;
    std::function<void(const std::string&)> machine;
};

class VerifiedRip {
public:
    VerifiedRip(const cd::CdDriveSlot& slot, VerifyOptions options, RipReport report);
    // Reads the table of contents and looks the disc up; sets the engine's read offset. A stop
    // asked meanwhile (the engine's StopRequested) ends it early: see Stopped().
    void Begin();
    // Begin was stopped: nothing was looked up and no track should be read.
    bool Stopped() const { return stopped_; }
    // The test read of a track (test and copy); false when it failed or was stopped.
    bool TestRead(int track, const std::string& cdaPath);
    // Installs the checksum tap for the copy of `track`.
    void BeforeCopy(int track, const std::string& cdaPath);
    // Removes the tap and reports the track: its words on stderr, one machine line on stdout.
    void AfterCopy(int track, const std::string& file, const std::string& error);
    // A track whose copy was reported but whose file was then not written (its encoder
    // failed or never ran): the log and the CUE sheet no longer name a file for it.
    void CopyFailed(int track, const std::string& error);
    // Hidden audio before track 1 ripped to "00 ….wav" when asked; the log and the CUE sheet.
    void Finish(const std::string& folder, const cddb::CdInfo& disc, const std::string& extension);
    // False when a test read and its copy disagreed.
    bool CopiesAgree() const { return copiesAgree_; }
    // What was found so far (the window shows it).
    const cd::RipLog& Log() const { return log_; }
    bool LookedUp() const { return looked_; }

private:
    void Say(const std::string& text) const { report_.say(text); }
    // Catalog number, ISRCs and pre-gaps from the drive's Q sub-channel.
    void ReadSubChannel();
    void SearchOffset(int track, const std::string& cdaPath, const cd::ArTrackResult& atZero);

    cd::CdDriveSlot slot_;
    VerifyOptions options_;
    RipReport report_;
    cd::RipLog log_;
    cd::ArDiscIds ids_;
    bool haveIds_ = false;
    bool looked_ = false;  // the database answered (found or not there)
    bool stopped_ = false;
    bool offsetSet_ = false;
    bool searched_ = false;
    bool copiesAgree_ = true;
    std::vector<cd::ArResponse> responses_;
    std::vector<std::string> isrcs_;   // per TOC track
    std::uint32_t hiddenSectors_ = 0;  // audio (not silence) before track 1's INDEX 01
    std::optional<std::uint32_t> testCrc_;
    std::shared_ptr<cd::TrackChecksummer> summer_;
    std::uint64_t expectedFrames_ = 0;
    std::string cdaPath_;
    bool first_ = false, last_ = false;
};

}  // namespace tralux::rip
