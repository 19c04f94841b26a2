#pragma once
// A rip that reads the next track while earlier ones encode. One reader thread reads the
// tracks strictly one after another through the verified rip (test read, checksums, offset);
// each track's PCM goes to its own encoding job, up to a number at once. PCM waiting for an
// encoder is held in memory up to a limit, beyond it in a hidden file beside the output.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cd/reader.h"
#include "engine/job/engine_state.h"
#include "engine/job/stream_info.h"
#include "engine/outputs/output.h"
#include "rip/verified_rip.h"

namespace tralux::rip {

struct PipelineTrack {
    int number = 0;
    std::string cdaPath;
    std::string outputPath;
    int format = 0;
    std::uint32_t rate = 0;      // 0: the track's
    std::uint16_t channels = 0;  // 0: the track's
    TagTexts tags;
    bool replaces = false;  // the user agreed to replace a file at outputPath
    // Not to be ripped (an existing output the user did not let us replace): said here.
    std::string refused;
};

// The words a failed or a stopped test read is reported with (the serial rip says the same).
inline constexpr const char* kTestReadFailed = "the test read failed";
inline constexpr const char* kStoppedInTestRead = "stopped during the test read";

struct TrackResult {
    enum Kind {
        Ripped,             // the whole track is in its file
        Stopped,            // cut by a stop: the file holds heldMs, playable
        Failed,             // the read or the encoder failed: error, code, fileKept
        OutputFailed,       // the output could not be written: shownText said so, no file
        TestReadFailed,     // nothing was read
        Refused,            // PipelineTrack::refused: nothing was read
        StoppedInTestRead,  // a stop came during its test read: nothing written
        NotRipped,          // a stop came before anything of it was written
    } kind = NotRipped;
    // Why, in the words the log and the command line use; for the stopped kinds, when.
    std::string error;
    int code = 0;  // Failed, OutputFailed: the read's or the encoder's error code, 0 when none
    std::string shownText;     // OutputFailed: the encoder's message about its file
    bool fileKept = false;     // Failed/Stopped: a playable file holds what was read
    std::uint64_t heldMs = 0;  // what that file holds
    std::uint32_t durationMs = 0;
    std::chrono::steady_clock::time_point began{};  // the drive started on it
    std::vector<cd::CdDamage> damage;
};

struct PipelineOptions {
    unsigned encoders = 0;                                 // 0: one per core
    std::uint64_t memoryLimit = std::uint64_t{128} << 20;  // about three tracks' PCM
    bool testCopy = false;
};

// TRALUX_CD_HOLD_MB sets memoryLimit in MiB (0: every waiting track goes to its file). A text
// that is no whole number from 0 to kMaxHoldMb: nullopt.
inline constexpr std::uint64_t kMaxHoldMb = std::uint64_t{1} << 20;
std::optional<std::uint64_t> ParseHoldMb(std::string_view text);
// The limit from the environment: the default when TRALUX_CD_HOLD_MB is unset or empty, or when
// it is unusable, which `warning` then says.
std::uint64_t HoldLimitFromEnvironment(std::string& warning);

struct PipelineProgress {
    int readingTrack = 0;  // 0: reading is over
    double readPercent = 0;
    int testReadTrack = 0;    // the track whose test read runs (test and copy), 0 none
    bool readerDone = false;  // the drive has nothing more to read
    std::vector<std::pair<int, double>> encoding;  // track, percent
};

class RipPipeline {
public:
    RipPipeline(VerifiedRip& verified, PipelineOptions options);

    // Rips `tracks`; `done` is called on this thread in track order as each one ends, `tick`
    // about ten times a second. Engine().StopRequested stops it: the running encoders finish
    // their files early (playable), nothing more is read or started; the flag is cleared at
    // the end.
    std::vector<TrackResult> Run(
        const std::vector<PipelineTrack>& tracks,
        const std::function<void(const PipelineTrack&, const TrackResult&)>& done,
        const std::function<void(const PipelineProgress&)>& tick = {});

    // What the last run held at most in memory, and how much it spilled.
    std::uint64_t PeakMemory() const { return peak_.load(); }
    std::uint64_t SpilledBytes() const { return spilled_.load(); }

private:
    VerifiedRip& verified_;
    PipelineOptions options_;
    std::atomic<std::uint64_t> memory_{0}, peak_{0}, spilled_{0};
};

// A job's state set to encode `track` read from `source`: the serial rip and the pipeline
// encode alike.
void SetUpEncoder(EngineState& state, const PipelineTrack& track, const StreamInfo& source);

// The hidden file beside `output` that holds its track's PCM while it waits.
std::string HeldPcmPath(const std::string& output);

}  // namespace tralux::rip
