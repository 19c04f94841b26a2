#pragma once
// The figures and lines of the progress dialogs, the time formats of the window, and the
// collection of a batch's inputs. No widgets here.
#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace tralux::app {

// --- Times ----------------------------------------------------------------------------------
// "mm:ss"; from an hour on "hh:mm:ss" with the minutes within the hour.
std::string FormatClock(std::uint64_t seconds);
// The window's position display "position/length". Both parts carry hours when the length is an
// hour or more; a length below an hour that is not whole seconds gets its tenths ("01:05.3").
std::string PositionDisplayText(std::uint64_t positionMs, std::uint64_t lengthMs);

// --- Progress -------------------------------------------------------------------------------
struct ProgressFigures {
    int percent = 0;               // 0..100
    std::int64_t elapsedMs = 0;    // since the job started
    std::int64_t totalMs = 0;      // estimated whole conversion time
    std::int64_t remainingMs = 0;  // estimated, never negative
    int speedHundredths = 100;     // 250 is "x 2.50"
};
// From the job's start and end positions, the current position and the wall-clock time since
// the job started. A job whose end is at (or before) its start is complete at once.
ProgressFigures ComputeProgress(std::uint32_t startMs, std::uint32_t endMs, double positionMs,
                                std::int64_t elapsedMs);
std::string SpeedLine(int speedHundredths);  // "速度: x 2.50 "

// --- Lines ----------------------------------------------------------------------------------
std::string CompressionLine(int format, int mp3Kbps, int wmaKbps);
std::string QualityLine(int rate, int channels, bool equalizerOn, bool jitterOn, int bits = 16);
// Single dialog's title line with the input's file name; batch dialog's output line.
std::string SingleTitleLine(int format, const std::string& inputName);
std::string BatchOutputLine(int format, const std::string& outputPath);
std::string BatchCountLine(std::size_t number, std::size_t count);
std::string BatchFileLine(const std::string& path);

// --- Output names ---------------------------------------------------------------------------
// The input's file name without its extension, with ".wav", ".mp3" or ".wma", inside `folder`
// (a '/' added when missing), or bare when the folder is empty.
std::string OutputPathFor(const std::string& inputPath, const std::string& folder, int format);

// --- Batch inputs ---------------------------------------------------------------------------
inline constexpr std::size_t kBatchLimit = 2048;

// ".wav", ".mp3", ".wma", ".flac", ".opus" and "WAV" ... "Opus" by output format (0..4).
const char* FormatExtension(int format);
const char* FormatName(int format);

struct BatchFilters {
    bool cda = true, wav = true, mp3 = true;
    std::vector<std::string> more;  // further extensions (".flac", ...), taken after the MP3s
};
struct BatchList {
    std::vector<std::string> inputs;
    bool truncated = false;  // more entries matched than the list holds
};
// Folder entries by pattern: "*.cda", then "*.wav", then "*.mp3", "*.mpeg", "*.mpg" (each
// case-insensitive, names sorted within a pattern), each as folder + name.
BatchList CollectFolderInputs(const std::string& folder, const std::vector<std::string>& names,
                              const BatchFilters& filters);
// The ".cda" entries of a disc whose track numbers are selected, in the entries' order. The
// track number of an entry comes from `trackOf` (0 when unreadable).
BatchList CollectCdInputs(const std::string& root, const std::vector<std::string>& names,
                          const std::function<int(const std::string& path)>& trackOf,
                          const std::function<bool(int track)>& selected);
// Ensures a trailing '/'.
std::string WithTrailingSlash(std::string folder);

enum class OutputClash { None, LaterInput, EarlierOutput };
// Would writing `output` for entry `index` overwrite a later input of the batch or an output
// the batch already wrote?
OutputClash CheckBatchOutput(const std::vector<std::string>& inputs, std::size_t index,
                             const std::string& output, const std::vector<std::string>& written);
std::string OutputClashMessage(OutputClash clash, const std::string& output);

// CheckBatchOutput for a whole batch with each path resolved once, not once per later entry:
// a long batch stays linear.
class BatchOutputGuard {
public:
    void Reset(const std::vector<std::string>& inputs);
    OutputClash Check(std::size_t index, const std::string& output) const;
    void Written(const std::string& output);

private:
    std::map<std::string, std::size_t> lastInput_;  // path key -> last index with that key
    std::set<std::string> written_;
};

// Track number of a ".cda" track file (0 when the file is not one).
int CdaTrackNumber(const std::string& path);

}  // namespace tralux::app
