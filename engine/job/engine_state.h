#pragma once
// The one process-wide job state. The user interface writes the settings, paths and tag texts
// while no job runs and StopRequested at any time; the worker writes the counters, LastError
// and finally JobRunning. Everything read across threads is atomic.
#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/job/file.h"

namespace tralux {

enum OutputModeValue : int { kModePreview = 0, kModeConvertAnnounce = 1, kModeConvert = 2 };
enum OutputFormatValue : int {
    kFormatWav = 0,
    kFormatMp3 = 1,
    kFormatWma = 2,
    kFormatFlac = 3,
    kFormatOpus = 4
};

struct EngineState {
    std::atomic<int> OutputMode{kModeConvert};
    std::atomic<int> OutputFormat{kFormatWav};
    void* OwnerWindow = nullptr;
    std::atomic<std::intptr_t> JobParameter{0};

    File InputFile;   // owned by the running job
    File OutputFile;  // not used for WMA
    std::string InputPath, OutputPath;
    // The user agreed to replace what is at OutputPath. Otherwise the job never writes over a
    // file there, not even one that appears while it runs. Set with the paths.
    std::atomic<bool> ReplaceOutput{false};
    std::string TagTitle, TagArtist, TagCopyright;
    std::string TagAlbum, TagYear, TagTrack, TagComment;  // beyond the three: ID3v2 and INFO only
    std::string TagGenre;

    std::atomic<bool> StopRequested{false};
    std::atomic<bool> JobRunning{false};
    std::atomic<int> LastError{0};
    // The job's failure was reported as a message (a file failure), not as a code.
    std::atomic<bool> FailureShown{false};
    // That message's text; written by the worker before it clears JobRunning.
    std::string FailureText;

    std::atomic<std::uint32_t> SourceRate{0};
    std::atomic<int> SourceChannels{0};
    std::atomic<std::uint32_t> OutputRate{44100};
    std::atomic<std::uint16_t> OutputChannels{2};
    // The running job's sample width: 16, or 24 when a deeper source goes to FLAC (stored) or
    // Opus (coded from them).
    std::atomic<int> OutputBits{16};

    std::atomic<double> PositionMs{0.0};
    std::atomic<std::uint32_t> StartMs{0};
    std::atomic<std::uint32_t> DurationMs{0};
    std::atomic<std::uint32_t> PlaybackStartMs{0};
    std::atomic<std::uint32_t> ClockOriginMs{0};

    // Equalizer: ten bands low to high, then master; 0..99, 50 neutral.
    std::atomic<bool> EqualizerOn{false};
    std::array<std::atomic<int>, 11> EqualizerLevels{};
    std::atomic<bool> EqualizerChanged{false};

    // CD rips: the drive's read offset in sample frames, and a tap that sees every frame of the
    // track as ripped, before the pipeline changes it (verification). Set while no job runs.
    std::atomic<int> CdReadOffset{0};
    std::function<void(const std::uint8_t* data, std::size_t bytes)> CdTap;

    EngineState() {
        for (auto& l : EqualizerLevels) l.store(50);
    }
};

EngineState& Engine();

// Where the engine reads stored options ("PlaceClipInfo", "MP3BitRate", ...). The front end
// installs the settings store (or overrides for one run); unset options read as -1.
using OptionReader = std::function<int(std::string_view name)>;
void SetOptionReader(OptionReader reader);
int ReadEngineOption(std::string_view name);

}  // namespace tralux
