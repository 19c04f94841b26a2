#include "engine/job/job.h"

#include <algorithm>
#include <condition_variable>
#include <filesystem>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "cd/reader.h"
#include "engine/dsp/dsp_state.h"
#include "engine/formats/riff_reader.h"
#include "engine/formats/tag_reader.h"
#include "engine/inputs/input.h"
#include "engine/job/errors.h"
#include "engine/outputs/output.h"
#include "engine/playback/playback.h"
#include "platform/notify/notifier.h"

namespace tralux {

namespace {

std::mutex g_optionMutex;
OptionReader g_optionReader;

// Every live job, so a program told to end can stop them all.
std::mutex g_liveMutex;
std::vector<Job::Impl*> g_live;

}  // namespace

struct Job::Impl final : BlockSink {
    explicit Impl(EngineState* s)
        : own(s ? nullptr : std::make_unique<EngineState>()),
          state(s ? *s : *own),
          dsp(dsp::DspLinks{&state.EqualizerOn, &state.EqualizerLevels, &state.EqualizerChanged,
                            &state.PositionMs}) {
        std::lock_guard lock(g_liveMutex);
        g_live.push_back(this);
    }
    ~Impl() {
        std::lock_guard lock(g_liveMutex);
        g_live.erase(std::find(g_live.begin(), g_live.end(), this));
    }

    std::unique_ptr<EngineState> own;
    EngineState& state;
    bool isDefault = false;  // owns the sound card's preview
    dsp::DspState dsp;

    // Worker-side state of the running conversion.
    StreamInfo info;
    std::unique_ptr<Input> input;
    std::unique_ptr<Output> output;
    const OutputKind* kind = nullptr;
    bool flushed = false;
    bool wide = false;     // deep source and output: 24 bits through the stage (WriteWide)
    bool failing = false;  // an error handler runs: a failed flush is not reported again
    bool playbackOpen = false;
    std::uint64_t inputLength = 0;  // at the start: a file cut while it is read is caught
    // The hidden file the output is written as (CreateStagingFile), whether it is still ours
    // to move into place or remove, and whether it may replace a file at the output's name.
    std::string staging;
    bool stagingLive = false;
    bool replace = false;
    bool direct = false;  // a device or pipe at the name: written straight into

    std::thread worker;
    std::mutex workerMutex;
    // Job-end wake-up: JobRunning is cleared under endMutex so a waiter that has just seen it
    // set cannot miss the notification.
    std::mutex endMutex;
    std::condition_variable endSignal;
    std::mutex endCallbackMutex;
    std::function<void()> endCallback;

    bool Preview() const { return state.OutputMode.load() == kModePreview; }

    void ReleaseSlot() {
        {
            std::lock_guard lock(endMutex);
            state.JobRunning.store(false, std::memory_order_release);
        }
        endSignal.notify_all();
    }
    void AnnounceEnd() {
        std::lock_guard lock(endCallbackMutex);
        if (endCallback) endCallback();
    }

    void StageStart() {
        try {
            dsp.ResamplerStart({info.SampleRate, info.Channels,
                                static_cast<std::uint16_t>(info.BitsPerSample <= 8 ? 8 : 16),
                                state.OutputRate.load(), state.OutputChannels.load(), Preview(),
                                true, wide});
        } catch (const std::invalid_argument&) {
            throw JobError(kErrUnknownFormat);
        }
    }

    // Output PCM (16-bit, OutputRate, OutputChannels) to the sink.
    void Emit(std::span<const std::int16_t> out) {
        if (out.empty()) return;
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(out.data());
        if (Preview()) {
            QueuePlayback(bytes, out.size_bytes());
            return;
        }
        std::this_thread::yield();
        if (output) output->Write(bytes, out.size_bytes());
    }

    void EmitWide(std::span<const std::int32_t> out) {
        if (out.empty() || !output) return;
        std::this_thread::yield();
        output->WriteWide(out.data(), out.size());
    }

    void CheckStop() {
        if (state.StopRequested.load()) {
            state.PlaybackStartMs.store(0);
            state.StartMs.store(0);
            state.ClockOriginMs.store(0);
            throw JobError(0);
        }
    }

    // A source deeper than 16 bits offers its width to the output; one that stores it takes
    // the wide stage. Never for a preview (the sound card path is 16-bit).
    bool DeepSource() const { return !Preview() && input && input->WideBits() > 16; }

    // The wide path: the stored samples through the 24-bit stage, a second at a time.
    void PumpWide() {
        const std::size_t frames = std::max<std::size_t>(1, info.SampleRate);
        std::vector<std::int32_t> buffer(frames * info.Channels);
        for (;;) {
            CheckStop();
            const std::size_t got = input->ReadWide(buffer.data(), frames);
            if (got == 0) return;
            EmitWide(dsp.ProcessWide(buffer.data(), got));
        }
    }

    // Every block of input PCM (modified in place when channels are mixed).
    void Block(std::uint8_t* block, std::size_t byteCount) override {
        CheckStop();
        // Widening, channel mixing, rate conversion, equalizer and the position happen here.
        Emit(dsp.Process(block, byteCount));
    }

    // Drains the rate converter into the sink; a second call does nothing.
    void Flush() {
        if (flushed) return;
        flushed = true;
        try {
            if (wide)
                EmitWide(dsp.FlushWide());
            else if (const std::span<const std::int16_t> tail = dsp.Flush(); !Preview())
                Emit(tail);
        } catch (const FileError&) {
            dsp.ResamplerFree();
            // In the normal course a failed tail write fails the job like any other write.
            if (!failing) throw;
        } catch (const JobError&) {
        }
        dsp.ResamplerFree();
    }

    OutputSettings MakeOutputSettings() {
        const EngineState& e = state;
        OutputSettings s;
        s.path = staging;
        s.file = kind->writesFile ? &state.OutputFile : nullptr;
        s.rate = e.OutputRate.load();
        s.channels = e.OutputChannels.load();
        s.tags = {e.TagTitle, e.TagArtist, e.TagCopyright, e.TagAlbum,
                  e.TagYear,  e.TagTrack,  e.TagComment,   e.TagGenre};
        if (input) s.cover = input->Cover();
        // Any input's front cover, for the kinds that can hold one (read through TagLib).
        if (s.cover.Empty() && !e.InputPath.empty())
            ReadInputCover(e.InputPath, s.cover.mimeType, s.cover.bytes);
        const std::uint32_t startMs = e.StartMs.load();
        if (info.DurationMs > startMs)
            s.expectedFrames =
                static_cast<std::uint64_t>(info.DurationMs - startMs) * s.rate / 1000;
        s.bits = DeepSource() ? input->WideBits() : 16;
        s.placeTags = ReadEngineOption("PlaceClipInfo") != 0;
        if (kind->bitRateOption) s.kbps = ReadEngineOption(kind->bitRateOption);
        s.option = ReadEngineOption;
        return s;
    }

    // The hidden file goes unless it was moved into place. Returns whether one was removed.
    bool RemoveStaging() {
        if (!stagingLive) return false;
        stagingLive = false;
        std::error_code ec;
        const bool existed = std::filesystem::is_regular_file(staging, ec);
        RemoveRegularFile(staging);
        return existed && !std::filesystem::exists(staging, ec);
    }

    // A failed job leaves nothing under the output's name (a cut-off file would look complete
    // and block a rerun), and a file it was to replace stays as it was. Returns whether an
    // unfinished file was removed.
    bool Discard() {
        if (Preview()) return false;
        std::error_code ec;
        // Only what was begun counts as an unfinished file.
        const bool existed = stagingLive && std::filesystem::is_regular_file(staging, ec) &&
                             std::filesystem::file_size(staging, ec) > 0;
        if (output) {
            output->Abandon();
            output.reset();
        }
        state.OutputFile.Close();
        RemoveStaging();
        return existed && !std::filesystem::exists(staging, ec);
    }

    // The finished (or stopped, playable) file takes the output's name.
    void Commit() {
        if (!stagingLive) return;
        stagingLive = false;
        CommitStagingFile(staging, state.OutputPath, replace);
    }

    // The hidden name never reaches the user: messages name the output.
    std::string Shown(std::string text) const {
        if (staging.empty()) return text;
        for (std::size_t at = text.find(staging); at != std::string::npos;
             at = text.find(staging, at + state.OutputPath.size()))
            text.replace(at, staging.size(), state.OutputPath);
        return text;
    }

    // The message of a job that failed on a file: which file, the system's reason, and what
    // became of the output.
    std::string FailedJobText(const FileError& raw, bool removed) {
        const FileError fe(raw.cause(), Shown(raw.path()), Shown(raw.reason()));
        const bool reading = fe.path() == state.InputPath && fe.path() != state.OutputPath;
        std::string text = FileFailureText(reading ? kErrRead : kErrWrite, fe);
        if (removed)
            text += reading ? "; the unfinished output " + state.OutputPath + " was removed"
                            : "; the unfinished file was removed";
        return text;
    }

    void CloseFiles() {
        state.InputFile.Close();
        state.OutputFile.Close();
    }

    void ReleaseEverything() {
        output.reset();
        input.reset();
        dsp.ResamplerFree();
    }

    void Run();
};

void Job::Impl::Run() {
    EngineState& e = state;
    SetProbeErrorTarget(&e.LastError);
    int code = 0;
    try {
        try {
            e.PositionMs.store(0.0);
            e.OutputBits.store(16);
            dsp.ResetAnalysis();
            if (isDefault) ResetPlayback();
            e.LastError.store(0);
            e.FailureShown.store(false);
            e.FailureText.clear();

            InputOptions options;
            options.exactSeek = !Preview();
            options.option = ReadEngineOption;
            options.cdReadOffset = e.CdReadOffset.load();
            options.cdTap = e.CdTap;
            input = OpenInput(e.InputFile, options);
            e.LastError.store(0);  // a refusal by an earlier kind's probe is not the verdict
            info = input->Describe();
            e.DurationMs.store(info.DurationMs);
            e.SourceRate.store(info.SampleRate);
            e.SourceChannels.store(info.Channels);
            if (isDefault) PrepareOutputFormat(info);  // opens the device for a preview
            playbackOpen = Preview();
            StageStart();  // builds the equalizer response too; refuses before any output
            // A file that took the output's name since the run was planned is not ours.
            struct stat taken {};
            if (!Preview() && !replace && !direct && ::lstat(e.OutputPath.c_str(), &taken) == 0)
                throw FileError(kCauseGeneric, e.OutputPath, OutputTakenReason());
            if (!Preview()) output = kind->open(MakeOutputSettings());
            wide = output && output->Bits() > 16;
            e.OutputBits.store(wide ? output->Bits() : 16);
            if (wide) {
                input->ChooseWide();
                StageStart();  // again, at 24 bits
            }

            // A conversion starts at the exact sample frame the start time names.
            const std::uint32_t startMs = e.StartMs.load();
            input->Seek(static_cast<std::uint64_t>(static_cast<double>(info.SampleRate) * startMs /
                                                   1000.0));
            e.PositionMs.store(startMs);
            e.PlaybackStartMs.store(startMs);
            if (wide)
                PumpWide();
            else
                input->Pump(*this);
            // A reader takes the early end of a file cut meanwhile for its end: the output would
            // look complete.
            if (!Preview() && e.InputFile.IsOpen() && e.InputFile.Length() < inputLength)
                throw FileError(kCauseGeneric, e.InputPath,
                                "the file became shorter while it was being converted");
            Flush();
            input->Finish();
            if (output) output->Finish();
            CloseFiles();
            Commit();
            if (playbackOpen) ClosePlayback(true);
            playbackOpen = false;
            if (e.OutputMode.load() == kModeConvertAnnounce)
                ShowMessage("Conversion completed", "Quorvatix Tralux");
        } catch (const JobError& err) {
            code = err.code();
            failing = true;
            dsp.ResetAnalysis();
            // Stopped, cut at the WAV size limit or short of CD sectors: the output is
            // finished from what was written. An input that turned out not to be there (a CD
            // track without its disc) gave nothing: its output is not left behind.
            bool keep = false;
            try {
                if (code == kErrOpen) Discard();
                Flush();
                if (output) {
                    output->FinishEarly();
                    keep = true;
                }
            } catch (const FileError& fe) {
                // A file that could not be made playable is no file to keep.
                e.FailureText = FailedJobText(fe, Discard());
                ShowMessage(e.FailureText, "File error", MessageIcon::Error);
                e.FailureShown.store(true);
            }
            if (playbackOpen) ClosePlayback(false);
            playbackOpen = false;
            output.reset();
            CloseFiles();
            try {
                if (keep) Commit();
            } catch (const FileError& fe) {
                e.FailureText = FailedJobText(fe, false);
                ShowMessage(e.FailureText, "File error", MessageIcon::Error);
                e.FailureShown.store(true);
            }
            RemoveStaging();  // ended before its output was opened: nothing to keep
        }
    } catch (const FileError& fe) {
        failing = true;
        dsp.ResetAnalysis();
        const bool removed = Discard();
        e.FailureText = FailedJobText(fe, removed);
        ShowMessage(e.FailureText, "File error", MessageIcon::Error);
        e.FailureShown.store(true);
        CloseFiles();
        if (playbackOpen) ClosePlayback(false);
        playbackOpen = false;
        code = 0;  // the message was the report
    } catch (const std::bad_alloc&) {
        Discard();
        CloseFiles();
        code = kErrCodecInit;
    }
    // Every release first, then the verdict, then the flag the user interface polls.
    dsp.ResetAnalysis();
    ReleaseEverything();
    CloseFiles();
    RemoveStaging();
    if (code != 0) e.LastError.store(code);
    e.StopRequested.store(false);
    ReleaseSlot();
    AnnounceEnd();
}

namespace {

EngineState& DefaultState() {
    static EngineState state;
    return state;
}

}  // namespace

EngineState& Engine() {
    return DefaultState();
}

Job& DefaultJob() {
    static Job job(DefaultState());
    return job;
}

Job::Job() : impl_(std::make_unique<Impl>(nullptr)) {}
Job::Job(EngineState& state) : impl_(std::make_unique<Impl>(&state)) {
    impl_->isDefault = &state == &DefaultState();
}
Job::~Job() {
    Wait();
}

EngineState& Job::State() {
    return impl_->state;
}

const dsp::AnalysisTables& Job::Analysis() {
    return impl_->dsp.Analysis;
}

bool Job::Start(const std::string& inputPath, const std::string& outputPath,
                std::intptr_t jobParameter, int mode) {
    Impl& j = *impl_;
    EngineState& e = j.state;
    // Claim the job slot in one step: two callers never both pass.
    bool idle = false;
    if (!e.JobRunning.compare_exchange_strong(idle, true, std::memory_order_acq_rel)) return false;
    // Every refusal below gives the slot back.
    auto refuse = [&j](int code) {
        j.state.LastError.store(code);
        j.ReleaseSlot();
        return false;
    };
    {
        // The previous worker may still be returning from its last store.
        std::lock_guard lock(j.workerMutex);
        if (j.worker.joinable()) j.worker.join();
    }
    e.OutputMode.store(mode);
    e.InputPath = RepairInputPath(inputPath);
    j.info = StreamInfo{};
    j.input.reset();
    j.output.reset();
    j.kind = nullptr;
    j.flushed = j.failing = j.playbackOpen = j.wide = false;
    j.inputLength = 0;
    j.staging.clear();
    j.stagingLive = j.direct = false;
    j.replace = e.ReplaceOutput.load();

    if (mode == kModePreview && !j.isDefault) return refuse(kErrOpen);  // one sound card
    if (mode != kModePreview) {
        j.kind = FindOutputKind(e.OutputFormat.load());
        if (!j.kind) return refuse(kErrUnknownFormat);
        StreamInfo probe;
        if (!ProbeInput(e.InputPath, probe)) {
            return refuse(kErrOpen);
        }
        // Written where the front end said: it named a CD track and checked that name.
        e.OutputPath = outputPath;
        // Never truncate the input by writing over it.
        std::error_code ec;
        if (std::filesystem::exists(e.OutputPath, ec) &&
            std::filesystem::equivalent(e.InputPath, e.OutputPath, ec)) {
            return refuse(kErrOpen);
        }
        if (!e.InputFile.TryOpen(e.InputPath, File::Mode::Read)) {
            return refuse(kErrOpen);
        }
        j.inputLength = e.InputFile.Length();
        // A folder at the name (or a link to one) is never replaced; a file to be replaced must
        // be one its owner lets us write. A link at the name is replaced itself, never the
        // file it points at.
        const auto at = std::filesystem::symlink_status(e.OutputPath, ec);
        const auto target = std::filesystem::status(e.OutputPath, ec);
        j.direct = std::filesystem::exists(target) && !std::filesystem::is_regular_file(target) &&
                   !std::filesystem::is_directory(target);
        if (std::filesystem::is_directory(e.OutputPath, ec) ||
            (j.replace && std::filesystem::is_regular_file(at) &&
             ::access(e.OutputPath.c_str(), W_OK) != 0)) {
            e.InputFile.Close();
            return refuse(kErrOpen);
        }
        if (j.direct) {
            // A device or pipe is written into as before: there is no file to lose.
            j.staging = e.OutputPath;
            if (j.kind->writesFile ? !e.OutputFile.TryOpen(e.OutputPath, File::Mode::CreateWrite)
                                   : ::access(e.OutputPath.c_str(), W_OK) != 0) {
                e.InputFile.Close();
                return refuse(kErrOpen);
            }
        } else {
            // Every kind writes the hidden file (those that open their own by its name); a folder
            // that takes no new file is refused here, so the front end names it with the reason.
            if (!CreateStagingFile(e.OutputPath, e.OutputFile, j.staging)) {
                e.InputFile.Close();
                return refuse(kErrOpen);
            }
            j.stagingLive = true;
            if (!j.kind->writesFile) e.OutputFile.Close();
        }
    } else if (!e.InputFile.TryOpen(e.InputPath, File::Mode::Read)) {
        return refuse(kErrOpen);
    }
    e.StopRequested.store(false);
    e.JobParameter.store(jobParameter);
    std::lock_guard lock(j.workerMutex);
    j.worker = std::thread([&j] { j.Run(); });
    return true;
}

void Job::Wait() {
    std::lock_guard lock(impl_->workerMutex);
    if (impl_->worker.joinable()) impl_->worker.join();
}

bool Job::WaitForEnd(std::chrono::milliseconds timeout) {
    Impl& j = *impl_;
    std::unique_lock lock(j.endMutex);
    return j.endSignal.wait_for(
        lock, timeout, [&j] { return !j.state.JobRunning.load(std::memory_order_acquire); });
}

void Job::SetEndCallback(std::function<void()> callback) {
    std::lock_guard lock(impl_->endCallbackMutex);
    impl_->endCallback = std::move(callback);
}

const dsp::AnalysisTables& PreviewAnalysis() {
    return DefaultJob().Analysis();
}
const dsp::AnalysisTables& JobAnalysis() {
    return DefaultJob().Analysis();
}

bool StartConversion(const std::string& inputPath, const std::string& outputPath,
                     std::intptr_t jobParameter, int mode) {
    return DefaultJob().Start(inputPath, outputPath, jobParameter, mode);
}
void WaitForJob() {
    DefaultJob().Wait();
}
bool WaitForJobEnd(std::chrono::milliseconds timeout) {
    return DefaultJob().WaitForEnd(timeout);
}
void SetJobEndCallback(std::function<void()> callback) {
    DefaultJob().SetEndCallback(std::move(callback));
}

void StopAllJobs() {
    std::lock_guard lock(g_liveMutex);
    for (Job::Impl* j : g_live)
        if (j->state.JobRunning.load()) j->state.StopRequested.store(true);
}

bool WaitForAllJobs(std::chrono::milliseconds timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        bool running = false;
        {
            std::lock_guard lock(g_liveMutex);
            for (const Job::Impl* j : g_live) running |= j->state.JobRunning.load();
        }
        if (!running) return true;
        if (std::chrono::steady_clock::now() >= end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

void SetOptionReader(OptionReader reader) {
    std::lock_guard lock(g_optionMutex);
    g_optionReader = std::move(reader);
}

int ReadEngineOption(std::string_view name) {
    OptionReader reader;
    {
        std::lock_guard lock(g_optionMutex);
        reader = g_optionReader;
    }
    return reader ? reader(name) : -1;
}

namespace {

// A CD failure names the place on the disc where it happened.
std::string ErrorTextWithPlace(int code) {
    std::string text = ErrorCodeText(code);
    if (code == kErrSectorRead || code == kErrAudioUnverified) {
        const std::vector<cd::CdDamage> damage = cd::LastTrackDamage();
        if (!damage.empty()) text += " (" + cd::DescribeDamage(damage.back()) + ")";
    }
    return text;
}

}  // namespace

TagTexts TagTextsOf(const StreamInfo& info) {
    return {info.Title, info.Artist, info.Copyright, info.Album,
            info.Year,  info.Track,  info.Comment,   info.Genre};
}

void SetTagTexts(EngineState& e, const StreamInfo& info) {
    SetTagTexts(e, TagTextsOf(info));
}

void SetTagTexts(EngineState& e, const TagTexts& t) {
    e.TagTitle = t.title;
    e.TagArtist = t.artist;
    e.TagCopyright = t.copyright;
    e.TagAlbum = t.album;
    e.TagYear = t.year;
    e.TagTrack = t.track;
    e.TagComment = t.comment;
    e.TagGenre = t.genre;
}

std::string LastErrorText(EngineState& state) {
    const int code = state.LastError.exchange(0);
    if (code == 0) return "No errors";
    return ErrorTextWithPlace(code);
}

std::string GetLastErrorText() {
    return LastErrorText(Engine());
}

void ReportLastError() {
    const int code = Engine().LastError.exchange(0);
    if (code != 0)
        ShowMessage(ErrorTextWithPlace(code), "Quorvatix Tralux Error", MessageIcon::Error);
}

}  // namespace tralux
