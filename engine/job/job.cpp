#include "engine/job/job.h"

#include <algorithm>
#include <cstring>
#include <condition_variable>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <mutex>
#include <thread>
#include <vector>

#include "cd/reader.h"
#include "engine/formats/media_input.h"
#include "engine/formats/riff_reader.h"
#include "engine/formats/tag_reader.h"
#include "engine/formats/wav_writer.h"
#include "engine/job/cd_source.h"
#include "engine/job/errors.h"
#include "engine/dsp/dsp_state.h"
#include "engine/outputs/flac_output.h"
#include "engine/outputs/mp3_input.h"
#include "engine/outputs/mp3_output.h"
#include "engine/outputs/opus_output.h"
#include "engine/outputs/wma_output.h"
#include "engine/playback/playback.h"
#include "platform/notify/notifier.h"

namespace tralux {

EngineState& Engine() {
    static EngineState state;
    return state;
}

namespace {

std::mutex g_optionMutex;
OptionReader g_optionReader;

// RIFF sizes are 32-bit: keep room for the header and a full LIST chunk.
constexpr std::uint64_t kDefaultWavPayloadLimit = 0xFFFFFFFFull - 44 - 8192;
std::atomic<std::uint64_t> g_wavPayloadLimit{kDefaultWavPayloadLimit};

// Worker-side state of the running job.
struct JobContext {
    StreamInfo info;
    std::uint64_t dataSizeOffset = 0;
    bool outputOpened = false;  // header written / encoder or writer created
    bool flushed = false;
    bool failing = false;  // an error handler runs: a failed flush is not reported again
    bool outputFull = false;
    bool decoderOpen = false;
    bool mediaOpen = false;
    bool playbackOpen = false;
    std::uint64_t wavPayload = 0;
    std::uint64_t payloadEnd = 0;  // WAV file length when the payload was complete (0 before)
};

JobContext g_job;
std::thread g_worker;

// Job-end wake-up: JobRunning is cleared under g_endMutex so a waiter that has just seen it set
// cannot miss the notification.
std::mutex g_endMutex;
std::condition_variable g_endSignal;
std::mutex g_endCallbackMutex;
std::function<void()> g_endCallback;

void ReleaseJobSlot() {
    {
        std::lock_guard lock(g_endMutex);
        Engine().JobRunning.store(false, std::memory_order_release);
    }
    g_endSignal.notify_all();
}

void AnnounceJobEnd() {
    std::lock_guard lock(g_endCallbackMutex);
    if (g_endCallback) g_endCallback();
}

// The rate/equalizer/analysis stage reads the user interface's controls in EngineState.
dsp::DspState& Dsp() {
    static std::unique_ptr<dsp::DspState> state = [] {
        EngineState& e = Engine();
        return std::make_unique<dsp::DspState>(
            dsp::DspLinks{&e.EqualizerOn, &e.EqualizerLevels, &e.EqualizerChanged, &e.PositionMs});
    }();
    return *state;
}
void ResetAnalysis() {
    Dsp().ResetAnalysis();
}

void StageStart(const StreamInfo& info) {
    EngineState& e = Engine();
    try {
        Dsp().ResamplerStart({info.SampleRate, info.Channels,
                              static_cast<std::uint16_t>(info.BitsPerSample <= 8 ? 8 : 16),
                              e.OutputRate.load(), e.OutputChannels.load(),
                              e.OutputMode.load() == kModePreview});
    } catch (const std::invalid_argument&) {
        throw JobError(kErrUnknownFormat);
    }
}
std::mutex g_workerMutex;

bool PlaceClipInfo() {
    return ReadEngineOption("PlaceClipInfo") != 0;
}

std::size_t EmitSpan(std::span<const std::int16_t> out) {
    if (out.empty()) return 0;
    return EmitBlock(reinterpret_cast<const std::uint8_t*>(out.data()), out.size_bytes());
}

void CloseFiles() {
    EngineState& e = Engine();
    e.InputFile.Close();
    e.OutputFile.Close();
}

// A job that ended before its output was opened leaves no empty file behind.
void RemoveEmptyOutput() {
    EngineState& e = Engine();
    // The WMA, FLAC and Opus writers create their files themselves.
    const int format = e.OutputFormat.load();
    if (g_job.outputOpened || e.OutputMode.load() == kModePreview ||
        (format != kFormatWav && format != kFormatMp3))
        return;
    std::error_code ec;
    if (std::filesystem::is_regular_file(e.OutputPath, ec) &&
        std::filesystem::file_size(e.OutputPath, ec) == 0)
        std::filesystem::remove(e.OutputPath, ec);
}

// A failed job leaves nothing under the output's name: a cut-off file would look complete
// and block a rerun. Only a regular file is removed (the output may be a device such as
// /dev/full). Returns whether a file was removed.
bool DiscardOutput() {
    EngineState& e = Engine();
    if (e.OutputMode.load() == kModePreview) return false;
    Mp3EncoderRelease();
    WmaWriterClose();
    FlacWriterClose();
    OpusWriterClose();
    e.OutputFile.Close();
    std::error_code ec;
    if (e.OutputPath.empty() || !std::filesystem::is_regular_file(e.OutputPath, ec)) return false;
    return std::filesystem::remove(e.OutputPath, ec);
}

// The message of a job that failed on a file: which file, the system's reason, and what
// became of the output.
std::string FailedJobText(const FileError& fe, bool removed) {
    EngineState& e = Engine();
    const bool reading = fe.path() == e.InputPath && fe.path() != e.OutputPath;
    std::string text = FileFailureText(reading ? kErrRead : kErrWrite, fe);
    if (removed)
        text += reading ? "; the unfinished output " + e.OutputPath + " was removed"
                        : "; the unfinished file was removed";
    return text;
}

// ID3v1 has one free text: the comment, or the copyright notice when there is none.
const std::string& Id3v1Comment() {
    const EngineState& e = Engine();
    return e.TagComment.empty() ? e.TagCopyright : e.TagComment;
}

// Finishes the output from what was written so far (stop and error codes).
void FinalizeAfterCode() {
    EngineState& e = Engine();
    if (!g_job.outputOpened || e.OutputMode.load() == kModePreview) return;
    switch (e.OutputFormat.load()) {
        case kFormatWav: {
            File& f = e.OutputFile;
            g_job.payloadEnd = f.Length();
            const std::uint64_t dataSize = g_job.payloadEnd - g_job.dataSizeOffset - 4;
            f.Seek(g_job.payloadEnd);
            WriteInfoChunk(f, e.TagTitle, e.TagArtist, e.TagCopyright, PlaceClipInfo(),
                           {e.TagAlbum, e.TagComment, e.TagYear, e.TagTrack, e.TagGenre});
            FinishWav(f, g_job.dataSizeOffset, dataSize);
            break;
        }
        case kFormatMp3:
            Mp3EncoderFinish();
            if (PlaceClipInfo()) WriteId3v1(e.OutputFile, e.TagTitle, e.TagArtist, Id3v1Comment());
            break;
        case kFormatWma:
            WmaWriterClose();
            break;
        case kFormatFlac:
            FlacWriterClose();
            break;
        case kFormatOpus:
            OpusWriterClose();
            break;
        default:
            break;
    }
}

// After a failed write (a full disk) the WAV stays readable: its sizes cover the whole frames
// that reached the file. Patching needs no new space.
void PatchWavAfterFileError() {
    EngineState& e = Engine();
    File& f = e.OutputFile;
    if (!g_job.outputOpened || e.OutputMode.load() == kModePreview ||
        e.OutputFormat.load() != kFormatWav || !f.IsOpen())
        return;
    try {
        const std::uint64_t frame = static_cast<std::uint64_t>(e.OutputChannels.load()) * 2;
        const std::uint64_t start = g_job.dataSizeOffset + 4;
        // A failure while the tags were written: the payload ended before them.
        const std::uint64_t length = g_job.payloadEnd ? g_job.payloadEnd : f.Length();
        if (length < start) return;
        const std::uint64_t data = (length - start) / frame * frame;
        f.Truncate(start + data);
        FinishWav(f, g_job.dataSizeOffset, data);
    } catch (const FileError&) {
    }
}

void FinalizeNormal() {
    EngineState& e = Engine();
    if (e.OutputMode.load() == kModePreview) return;
    switch (e.OutputFormat.load()) {
        case kFormatWav: {
            File& f = e.OutputFile;
            // The payload is what the file holds, flushed tail included.
            g_job.payloadEnd = f.Length();
            const std::uint64_t dataSize = g_job.payloadEnd - g_job.dataSizeOffset - 4;
            f.Seek(g_job.payloadEnd);
            if (PlaceClipInfo())
                WriteInfoChunk(f, e.TagTitle, e.TagArtist, e.TagCopyright, true,
                               {e.TagAlbum, e.TagComment, e.TagYear, e.TagTrack, e.TagGenre});
            FinishWav(f, g_job.dataSizeOffset, dataSize);
            break;
        }
        case kFormatMp3:
            Mp3EncoderFinish();
            if (PlaceClipInfo()) WriteId3v1(e.OutputFile, e.TagTitle, e.TagArtist, Id3v1Comment());
            break;
        case kFormatWma:
            WmaWriterFinish();
            break;
        case kFormatFlac:
            FlacWriterFinish();
            break;
        case kFormatOpus:
            OpusWriterFinish();
            break;
        default:
            break;
    }
}

void ReleaseEverything() {
    Mp3EncoderRelease();
    WmaWriterClose();
    FlacWriterClose();
    OpusWriterClose();
    if (g_job.decoderOpen) Mp3InputClose();
    g_job.decoderOpen = false;
    if (g_job.mediaOpen) MediaInputClose();
    g_job.mediaOpen = false;
    Dsp().ResamplerFree();
}

std::size_t PcmSourceLoop(const StreamInfo& info) {
    EngineState& e = Engine();
    File& in = e.InputFile;
    const std::uint32_t stored = StoredFrameBytes(info);
    const bool convert = NeedsSampleConversion(info);
    StreamInfo pipe = info;
    if (convert) {
        pipe.BitsPerSample = 16;
        pipe.BlockAlign = static_cast<std::uint16_t>(info.Channels * 2);
    }
    const std::uint32_t startMs = e.StartMs.load();
    const std::uint64_t skipFrames =
        static_cast<std::uint64_t>(static_cast<double>(info.SampleRate) * startMs / 1000.0);
    std::uint64_t skipped = std::min<std::uint64_t>(skipFrames * stored, info.DataSize);
    in.Seek(info.StartOffset + skipped);
    e.PositionMs.store(startMs);
    e.PlaybackStartMs.store(startMs);
    // The payload ends where the data chunk ends, not at the first chunk after it.
    std::uint64_t remaining = info.DataSize - skipped;
    const std::size_t bufferBytes = static_cast<std::size_t>(info.SampleRate) * stored;
    std::vector<std::uint8_t> buffer(bufferBytes);
    std::vector<std::int16_t> converted;
    std::size_t total = 0;
    while (remaining > 0) {
        std::size_t want =
            static_cast<std::size_t>(std::min<std::uint64_t>(remaining, bufferBytes));
        std::size_t got = in.Read(buffer.data(), want);
        if (got == 0) break;
        got -= got % stored;
        if (got == 0) break;
        remaining -= got;
        if (convert) {
            const std::size_t frames = got / stored;
            converted.resize(frames * info.Channels);
            ConvertStoredSamples(buffer.data(), frames, info, converted.data());
            total += ProcessBlock(reinterpret_cast<std::uint8_t*>(converted.data()),
                                  converted.size() * 2, pipe);
        } else {
            total += ProcessBlock(buffer.data(), got, pipe);
        }
    }
    return total;
}

void OpenOutput() {
    EngineState& e = Engine();
    const int channels = e.OutputChannels.load();
    const std::uint32_t rate = e.OutputRate.load();
    switch (e.OutputFormat.load()) {
        case kFormatWav:
            g_job.dataSizeOffset = WriteWavHeader(e.OutputFile, channels, rate);
            break;
        case kFormatMp3: {
            int kbps = ReadEngineOption("MP3BitRate");
            if (kbps == -1) kbps = 128;
            Mp3EncoderStart(channels, rate, kbps);
            break;
        }
        case kFormatWma: {
            int kbps = ReadEngineOption("MSABitRate");
            if (kbps == -1) kbps = 64;
            WmaWriterStart(e.OutputPath, channels, rate, kbps);
            break;
        }
        case kFormatFlac: {
            // Sizes the seek table; points past the real end are dropped at the end.
            const std::uint32_t ms = e.DurationMs.load() > e.StartMs.load()
                                         ? e.DurationMs.load() - e.StartMs.load()
                                         : 0;
            FlacWriterStart(e.OutputPath, channels, rate,
                            static_cast<std::uint64_t>(ms) * rate / 1000);
            break;
        }
        case kFormatOpus:
            OpusWriterStart(e.OutputPath, channels, rate);
            break;
        default:
            throw JobError(kErrUnknownFormat);
    }
    g_job.outputOpened = true;
}

void ConversionThread() {
    EngineState& e = Engine();
    int code = 0;
    try {
        try {
            e.PositionMs.store(0.0);
            ResetAnalysis();
            ResetPlayback();
            e.LastError.store(0);

            File& in = e.InputFile;
            in.Seek(0);
            std::uint8_t kindBytes[4];
            if (!in.ReadExact(kindBytes, 4)) throw JobError(kErrUnknownFormat);
            const std::uint32_t kind = static_cast<std::uint32_t>(kindBytes[0]) |
                                       static_cast<std::uint32_t>(kindBytes[1]) << 8 |
                                       static_cast<std::uint32_t>(kindBytes[2]) << 16 |
                                       static_cast<std::uint32_t>(kindBytes[3]) << 24;
            StreamInfo& info = g_job.info;
            if (kind == kKindRealMedia || kind == kKindRealAudio) {
                ShowMessage(kRealMediaMessage, "Quorvatix Tralux");
                throw JobError(0);
            }
            std::uint8_t head[12] = {};
            std::memcpy(head, kindBytes, 4);
            in.ReadExact(head + 4, 8);
            in.Seek(4);
            const bool media = LooksLikeMediaContainer(head, sizeof head);
            bool accepted = !media && kind == kKindRiff && ReadRiffInput(in, info, true);
            if (!accepted && !media) {
                in.Seek(4);
                accepted = ProbeMp3(in, info, true);
                if (accepted) e.LastError.store(0);  // the WAV reader's refusal is not the verdict
            }
            // Whatever our readers refuse goes to the system's decoders.
            if (!accepted && ProbeMedia(e.InputPath, info)) {
                accepted = true;
                e.LastError.store(0);
            }
            if (!accepted) throw JobError(kErrUnknownFormat);
            e.DurationMs.store(info.DurationMs);

            if (info.Kind == kKindMedia) {
                if (!MediaInputOpen(e.InputPath)) throw JobError(kErrCodecInit);
                g_job.mediaOpen = true;
            } else if (info.CodecName == "MP3") {
                if (!Mp3InputOpen()) throw JobError(kErrCodecInit);
                g_job.decoderOpen = true;
            } else if (info.CodecName != "PCM") {
                ShowMessage("Decoding this file needs an external codec: " + info.CodecName,
                            "Quorvatix Tralux");
                throw JobError(0);
            }
            PrepareOutputFormat(info);
            g_job.playbackOpen = e.OutputMode.load() == kModePreview;
            StageStart(info);  // builds the equalizer response too
            if (e.OutputMode.load() != kModePreview) {
                const int format = e.OutputFormat.load();
                if (format == kFormatFlac || format == kFormatOpus)
                    ReadInputCover(e.InputPath, e.TagCoverMime, e.TagCover);
                OpenOutput();
            }

            if (info.Kind == kKindRiff) {
                if (info.trackNumber != 0)
                    CdSourceLoop(info);
                else
                    PcmSourceLoop(info);
            } else if (info.Kind == kKindMp3) {
                Mp3SourceLoop(in, info);
            } else if (info.Kind == kKindMedia) {
                MediaSourceLoop(info);
            } else {
                throw JobError(kErrUnknownFormat);
            }
            FlushPipeline(info);
            FinalizeNormal();
            CloseFiles();
            if (g_job.playbackOpen) ClosePlayback(true);
            g_job.playbackOpen = false;
            if (e.OutputMode.load() == kModeConvertAnnounce)
                ShowMessage("Conversion completed", "Quorvatix Tralux");
        } catch (const JobError& err) {
            code = err.code();
            g_job.failing = true;
            ResetAnalysis();
            // Stopped, cut at the WAV size limit or short of CD sectors: the output is
            // finished from what was written.
            try {
                FlushPipeline(g_job.info);
                FinalizeAfterCode();
            } catch (const FileError& fe) {
                ShowMessage(FailedJobText(fe, false), "File error", MessageIcon::Error);
                PatchWavAfterFileError();
            }
            if (g_job.playbackOpen) ClosePlayback(false);
            g_job.playbackOpen = false;
            CloseFiles();
            RemoveEmptyOutput();
        }
    } catch (const FileError& fe) {
        g_job.failing = true;
        ResetAnalysis();
        const bool removed = DiscardOutput();
        ShowMessage(FailedJobText(fe, removed), "File error", MessageIcon::Error);
        CloseFiles();
        if (g_job.playbackOpen) ClosePlayback(false);
        g_job.playbackOpen = false;
        code = 0;  // the message was the report
    } catch (const std::bad_alloc&) {
        DiscardOutput();
        CloseFiles();
        code = kErrCodecInit;
    }
    // Every release first, then the verdict, then the flag the user interface polls.
    ResetAnalysis();
    ReleaseEverything();
    CloseFiles();
    if (code != 0) e.LastError.store(code);
    e.StopRequested.store(false);
    ReleaseJobSlot();
    AnnounceJobEnd();
}

}  // namespace

const dsp::AnalysisTables& PreviewAnalysis() {
    return Dsp().Analysis;
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

void SetWavPayloadLimitForTesting(std::uint64_t bytes) {
    g_wavPayloadLimit.store(bytes ? bytes : kDefaultWavPayloadLimit);
}

bool StartConversion(const std::string& inputPath, const std::string& outputPath,
                     std::intptr_t jobParameter, int mode) {
    EngineState& e = Engine();
    // Claim the job slot in one step: two callers never both pass.
    bool idle = false;
    if (!e.JobRunning.compare_exchange_strong(idle, true, std::memory_order_acq_rel)) return false;
    // Every refusal below gives the slot back.
    auto refuse = [&e](int code) {
        e.LastError.store(code);
        ReleaseJobSlot();
        return false;
    };
    {
        // The previous worker may still be returning from its last store.
        std::lock_guard lock(g_workerMutex);
        if (g_worker.joinable()) g_worker.join();
    }
    e.OutputMode.store(mode);
    e.InputPath = RepairInputPath(inputPath);
    g_job = JobContext{};

    if (mode != kModePreview) {
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
        const int format = e.OutputFormat.load();
        if ((format == kFormatWav || format == kFormatMp3) &&
            !e.OutputFile.TryOpen(e.OutputPath, File::Mode::CreateWrite)) {
            e.InputFile.Close();
            return refuse(kErrOpen);
        }
    } else if (!e.InputFile.TryOpen(e.InputPath, File::Mode::Read)) {
        return refuse(kErrOpen);
    }
    e.StopRequested.store(false);
    e.JobParameter.store(jobParameter);
    std::lock_guard lock(g_workerMutex);
    g_worker = std::thread(ConversionThread);
    return true;
}

void WaitForJob() {
    std::lock_guard lock(g_workerMutex);
    if (g_worker.joinable()) g_worker.join();
}

bool WaitForJobEnd(std::chrono::milliseconds timeout) {
    std::unique_lock lock(g_endMutex);
    return g_endSignal.wait_for(
        lock, timeout, [] { return !Engine().JobRunning.load(std::memory_order_acquire); });
}

void SetJobEndCallback(std::function<void()> callback) {
    std::lock_guard lock(g_endCallbackMutex);
    g_endCallback = std::move(callback);
}

std::size_t EmitBlock(const std::uint8_t* samples, std::size_t byteCount) {
    EngineState& e = Engine();
    if (e.OutputMode.load() == kModePreview) return QueuePlayback(samples, byteCount);
    std::this_thread::yield();
    switch (e.OutputFormat.load()) {
        case kFormatWav: {
            if (g_job.outputFull) return 0;
            const std::uint64_t limit = g_wavPayloadLimit.load();
            std::size_t n = byteCount;
            if (g_job.wavPayload + n > limit) {
                const std::size_t frame = static_cast<std::size_t>(e.OutputChannels.load()) * 2;
                n = static_cast<std::size_t>(limit - g_job.wavPayload);
                n -= n % frame;
                e.OutputFile.Write(samples, n);
                g_job.wavPayload += n;
                g_job.outputFull = true;
                throw JobError(kErrWrite);  // finished with correct sizes by the code handler
            }
            e.OutputFile.Write(samples, n);
            g_job.wavPayload += n;
            return n;
        }
        case kFormatMp3:
            return Mp3EncoderFeed(samples, byteCount);
        case kFormatWma:
            return WmaWriterFeed(samples, byteCount);
        case kFormatFlac:
            return FlacWriterFeed(samples, byteCount);
        case kFormatOpus:
            return OpusWriterFeed(samples, byteCount);
        default:
            return 0;
    }
}

std::size_t ProcessBlock(std::uint8_t* block, std::size_t byteCount, const StreamInfo& info) {
    EngineState& e = Engine();
    if (e.StopRequested.load()) {
        e.PlaybackStartMs.store(0);
        e.StartMs.store(0);
        e.ClockOriginMs.store(0);
        throw JobError(0);
    }
    // Widening, channel mixing, rate conversion, equalizer and the position all happen here.
    const std::span<const std::int16_t> out = Dsp().Process(block, byteCount);
    if (out.empty()) return 0;
    EmitSpan(out);
    return out.size_bytes();
}

std::size_t FlushPipeline(const StreamInfo& info) {
    if (g_job.flushed) return 0;
    g_job.flushed = true;
    EngineState& e = Engine();
    std::size_t emitted = 0;
    try {
        const std::span<const std::int16_t> tail = Dsp().Flush();
        if (e.OutputMode.load() != kModePreview) emitted = EmitSpan(tail);
    } catch (const FileError&) {
        Dsp().ResamplerFree();
        // In the normal course a failed tail write fails the job like any other write.
        if (!g_job.failing) throw;
        emitted = 0;
    } catch (const JobError&) {
        emitted = 0;
    }
    Dsp().ResamplerFree();
    return emitted;
}

const dsp::AnalysisTables& JobAnalysis() {
    return Dsp().Analysis;
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

std::string GetLastErrorText() {
    const int code = Engine().LastError.exchange(0);
    if (code == 0) return "No errors";
    return ErrorTextWithPlace(code);
}

void ReportLastError() {
    const int code = Engine().LastError.exchange(0);
    if (code != 0)
        ShowMessage(ErrorTextWithPlace(code), "Quorvatix Tralux Error", MessageIcon::Error);
}

}  // namespace tralux
