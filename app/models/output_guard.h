#pragma once
// What a conversion, batch or CD rip does about outputs that already exist, and what it tells
// the user at the end. No user file is written over without the user's say: an existing output
// gets a question (replace / keep both / skip, with "apply to all" in a batch); the input itself,
// a later input of the same batch and an earlier output of the same run are never written over.
#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace tralux::models {

enum class ExistingAnswer { Replace, KeepBoth, Skip };
struct ExistingReply {
    ExistingAnswer answer = ExistingAnswer::Skip;
    bool applyToAll = false;
};

enum class OutputVerdict { Write, Skip, Refuse };
struct OutputDecision {
    OutputVerdict verdict = OutputVerdict::Write;
    std::string path;    // where to write (Write), or the output that was not written
    std::string reason;  // Skip/Refuse: why, in the user's words
    bool replaces = false;
};

// One per run (a single conversion or a whole batch).
class OutputGuard {
public:
    using Ask = std::function<ExistingReply(const std::string& existingPath)>;

    // The output of inputs[index], wanted at `wanted`. `ask` is called only for a file that
    // exists and is no part of the run; an "apply to all" answer is kept for the rest.
    OutputDecision Decide(const std::vector<std::string>& inputs, std::size_t index,
                          const std::string& wanted, const Ask& ask);
    // The engine may still move an output (CD titles): the final name is held instead.
    void Moved(const std::string& from, const std::string& to);

private:
    std::set<std::string> planned_;
    std::optional<ExistingAnswer> all_;
};

// One key for every spelling of a path (relative, "..", symbolic links).
std::string PathKey(const std::string& path);
// "dir/name (2).ext", "(3)", ...: the first that neither exists nor is `taken`.
std::string FreeOutputName(const std::string& path,
                           const std::function<bool(const std::string& key)>& taken);

// Why `path` cannot be read as an input, in Chinese ("" when it can be opened).
std::string InputProblem(const std::string& path);
// Why an input failed to open or convert: the system's reason where there is one, else the
// engine's text for `code` ("D:/Track01.cda" style disc paths are not asked of the file system).
std::string InputFailureReason(const std::string& path, int code);
// Why `path` cannot be created as an output ("" when it can); leaves no file behind.
std::string OutputProblem(const std::string& path);

// What happened to the files of a run, shown when it ends.
struct RunReport {
    struct Item {
        std::string path, reason;
    };
    std::vector<std::string> written;
    std::vector<Item> skipped, failed;
    std::vector<Item> cut;  // inputs shorter than their headers announce, converted as they are
    std::optional<std::string> stoppedPath;  // the output the stop cut short
    std::uint64_t stoppedHeldMs = 0;         // how much of its input that file holds
    std::uint64_t stoppedWantedMs = 0;       // how much it would have held
    // Several jobs at once: every output the stop cut short, each with what it holds.
    struct StoppedFile {
        std::string path;
        std::uint64_t heldMs = 0, wantedMs = 0;
    };
    std::vector<StoppedFile> stoppedFiles;
    bool stopped = false;
    std::string stoppedNote;     // what the stop cut short when no file was begun
    std::size_t notStarted = 0;  // inputs a stop left untouched
};

// "mm:ss" of the written part of a stopped output.
std::string StoppedLine(const std::string& path, std::uint64_t heldMs, std::uint64_t wantedMs);
// Why a written output is shorter than its input's header promised.
std::string CutInputReason(std::uint64_t declaredMs, std::uint64_t convertedMs);
// The closing summary: written, skipped, failed and stopped, and where the files are.
std::string SummaryText(const RunReport& report, const std::string& outputFolder);

}  // namespace tralux::models
