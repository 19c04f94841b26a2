#include "rip/rip_pipeline.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <condition_variable>
#include <filesystem>
#include <memory>
#include <mutex>
#include <thread>

#include "cddb/engine/cd_info_provider.h"
#include "engine/formats/riff_reader.h"
#include "engine/inputs/held_input.h"
#include "engine/inputs/input.h"
#include "engine/job/errors.h"
#include "engine/job/job.h"

namespace tralux::rip {
namespace {

namespace fs = std::filesystem;

// The text a failed read is reported with: the code's words and where on the disc.
std::string ReadFailureText(int code, const std::vector<cd::CdDamage>& damage) {
    std::string text = ErrorCodeText(code);
    if ((code == kErrSectorRead || code == kErrAudioUnverified) && !damage.empty())
        text += " (" + cd::DescribeDamage(damage.back()) + ")";
    return text;
}

struct Slot {
    const PipelineTrack* track = nullptr;
    enum Stage { Waiting, Ready, Encoding, Ended } stage = Waiting;
    std::shared_ptr<HeldPcm> pcm;
    int readEnd = -1;  // the reader's JobError code (0 stopped), -1 whole
    std::uint64_t readBytes = 0;
    std::unique_ptr<Job> job;
    TrackResult result;
    // Cut on the drive by a stop: what was read is still written, as the serial rip keeps it.
    bool finishWhole = false;
};

}  // namespace

std::optional<std::uint64_t> ParseHoldMb(std::string_view text) {
    // Blanks around it are forgiven; a sign, a fraction or a unit is not.
    const auto first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) return std::nullopt;
    text = text.substr(first, text.find_last_not_of(" \t") - first + 1);
    if (text.front() == '+') text.remove_prefix(1);
    std::uint64_t mb = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), mb);
    if (text.empty() || ec != std::errc{} || end != text.data() + text.size() || mb > kMaxHoldMb)
        return std::nullopt;
    return mb << 20;
}

std::uint64_t HoldLimitFromEnvironment(std::string& warning) {
    const std::uint64_t fallback = PipelineOptions{}.memoryLimit;
    const char* text = std::getenv("TRALUX_CD_HOLD_MB");
    if (!text || !*text) return fallback;
    if (const auto limit = ParseHoldMb(text)) return *limit;
    warning = std::string("TRALUX_CD_HOLD_MB=") + text + ": not a whole number of MiB from 0 to " +
              std::to_string(kMaxHoldMb) + "; holding " + std::to_string(fallback >> 20) +
              " MiB in memory";
    return fallback;
}

void SetUpEncoder(EngineState& e, const PipelineTrack& t, const StreamInfo& source) {
    e.OutputFormat.store(t.format);
    e.OutputRate.store(t.rate ? t.rate : source.SampleRate);
    e.OutputChannels.store(t.channels ? t.channels : source.Channels);
    e.EqualizerOn.store(false);
    e.StartMs.store(0);
    e.ReplaceOutput.store(t.replaces);
    SetTagTexts(e, t.tags);
}

std::string HeldPcmPath(const std::string& output) {
    const fs::path p(output);
    return (p.parent_path() / ("." + p.filename().string() + ".pcm")).string();
}

RipPipeline::RipPipeline(VerifiedRip& verified, PipelineOptions options)
    : verified_(verified), options_(options) {}

std::vector<TrackResult> RipPipeline::Run(
    const std::vector<PipelineTrack>& tracks,
    const std::function<void(const PipelineTrack&, const TrackResult&)>& done,
    const std::function<void(const PipelineProgress&)>& tick) {
    memory_ = peak_ = spilled_ = 0;
    const unsigned encoders =
        options_.encoders ? options_.encoders : std::max(1u, std::thread::hardware_concurrency());
    std::vector<Slot> slots(tracks.size());
    for (std::size_t k = 0; k < tracks.size(); ++k) slots[k].track = &tracks[k];

    std::mutex mutex;
    std::condition_variable wake;
    std::atomic<int> readingTrack{0}, testReadTrack{0};
    std::atomic<std::uint64_t> readBytes{0}, readExpected{0};
    bool readerDone = false;
    auto stopping = [] { return Engine().StopRequested.load(); };
    auto release = [this](std::size_t bytes) { memory_.fetch_sub(bytes); };

    // The drive reads one track after another; nothing here waits for an encoder.
    std::thread reader([&] {
        cddb::ScopedCdInfoOff noLookup;
        for (Slot& slot : slots) {
            if (stopping()) break;
            const PipelineTrack& t = *slot.track;
            auto settle = [&](Slot::Stage stage) {
                {
                    std::lock_guard lock(mutex);
                    slot.stage = stage;
                }
                wake.notify_all();
            };
            if (!t.refused.empty()) {
                slot.result.kind = TrackResult::Refused;
                slot.result.error = t.refused;
                verified_.AfterCopy(t.number, "", "not ripped");
                settle(Slot::Ended);
                continue;
            }
            testReadTrack = options_.testCopy ? t.number : 0;
            const bool tested = !options_.testCopy || verified_.TestRead(t.number, t.cdaPath);
            testReadTrack = 0;
            if (!tested) {
                const bool stopped = stopping();
                slot.result.kind =
                    stopped ? TrackResult::StoppedInTestRead : TrackResult::TestReadFailed;
                slot.result.error = stopped ? kStoppedInTestRead : kTestReadFailed;
                verified_.AfterCopy(t.number, "", stopped ? "not ripped" : slot.result.error);
                settle(Slot::Ended);
                continue;
            }
            verified_.BeforeCopy(t.number, t.cdaPath);
            slot.result.began = std::chrono::steady_clock::now();
            readingTrack = t.number;
            readBytes = 0;
            int code = -1;
            std::string why;
            std::shared_ptr<HeldPcm> pcm;
            try {
                File file;
                if (!file.TryOpen(RepairInputPath(t.cdaPath), File::Mode::Read))
                    throw JobError(kErrOpen);
                // The same input and options a job reading the track would use.
                InputOptions options;
                options.option = ReadEngineOption;
                options.cdReadOffset = Engine().CdReadOffset.load();
                options.cdTap = Engine().CdTap;
                std::unique_ptr<Input> input = OpenInput(file, options);
                const StreamInfo& info = input->Describe();
                readExpected = std::uint64_t{info.DurationMs} * info.SampleRate / 1000 *
                               info.PipelineFrameBytes();
                slot.result.durationMs = info.DurationMs;
                pcm = HeldPcm::Create(info, HeldPcmPath(t.outputPath), &why);
                if (!pcm) throw JobError(kErrOpen);
                pcm->SetRelease(release);
                struct Sink final : BlockSink {
                    RipPipeline& pipeline;
                    HeldPcm& held;
                    std::atomic<std::uint64_t>& count;
                    Sink(RipPipeline& p, HeldPcm& h, std::atomic<std::uint64_t>& c)
                        : pipeline(p), held(h), count(c) {}
                    void Block(std::uint8_t* data, std::size_t bytes) override {
                        if (Engine().StopRequested.load()) throw JobError(0);
                        const std::uint64_t before = pipeline.memory_.load();
                        const bool spill = before + bytes > pipeline.options_.memoryLimit;
                        if (held.Add(data, bytes, spill) && spill) {
                            pipeline.spilled_ += bytes;
                        } else {
                            const std::uint64_t now = pipeline.memory_.fetch_add(bytes) + bytes;
                            std::uint64_t peak = pipeline.peak_.load();
                            while (now > peak && !pipeline.peak_.compare_exchange_weak(peak, now)) {
                            }
                        }
                        count += bytes;
                    }
                } sink(*this, *pcm, readBytes);
                input->Seek(0);
                input->Pump(sink);
                input->Finish();
            } catch (const JobError& e) {
                code = e.code();
            } catch (const FileError& e) {
                code = kErrRead;
                why = e.path() + (e.reason().empty() ? "" : ": " + e.reason());
            }
            slot.result.damage = cd::LastTrackDamage();
            readingTrack = 0;
            std::string error;
            if (code > 0) error = why.empty() ? ReadFailureText(code, slot.result.damage) : why;
            // A stop or a failure leaves no whole track to verify (said as the serial rip does).
            verified_.AfterCopy(t.number, code < 0 ? t.outputPath : "",
                                code < 0    ? ""
                                : code == 0 ? "not ripped"
                                            : error);
            {
                std::lock_guard lock(mutex);
                slot.readEnd = code;
                slot.readBytes = pcm ? pcm->Bytes() : 0;
                if (pcm) pcm->End(code);
                slot.pcm = pcm;
                if (code > 0) {
                    slot.result.error = error;
                    slot.result.code = code;
                }
                // A track cut by a stop on the drive is encoded as far as it was read (a
                // stopped job leaves a playable file); one with nothing read yet is not.
                slot.finishWhole = code == 0 && pcm && pcm->Bytes() > 0;
                if (!pcm || (code == 0 && !slot.finishWhole)) {
                    if (code == 0) slot.result.error = "stopped while reading";
                    slot.result.kind = code == 0 ? TrackResult::NotRipped : TrackResult::Failed;
                    slot.pcm.reset();
                    slot.stage = Slot::Ended;
                } else {
                    slot.stage = Slot::Ready;
                }
            }
            wake.notify_all();
        }
        {
            std::lock_guard lock(mutex);
            readerDone = true;
        }
        wake.notify_all();
    });

    // This thread starts encoders, collects them and reports in track order.
    std::vector<std::pair<int, std::string>> encodeFailures;
    std::size_t reported = 0;
    for (;;) {
        std::unique_lock lock(mutex);
        wake.wait_for(lock, std::chrono::milliseconds(100));
        const bool stop = stopping();
        unsigned running = 0;
        for (Slot& s : slots) {
            if (s.stage != Slot::Encoding) continue;
            EngineState& e = s.job->State();
            if (e.JobRunning.load()) {
                if (stop && !s.finishWhole) e.StopRequested.store(true);
                ++running;
                continue;
            }
            s.job->Wait();
            const int code = e.LastError.load();
            const bool shown = e.FailureShown.load();
            s.result.heldMs = static_cast<std::uint64_t>(e.PositionMs.load());
            if (shown || (code != 0 && code != s.readEnd)) {
                // The encoder failed: its message was shown and its file removed.
                s.result.kind = shown ? TrackResult::OutputFailed : TrackResult::Failed;
                if (code != 0) s.result.code = code;
                if (shown) s.result.shownText = e.FailureText;
                if (s.result.error.empty())
                    s.result.error = shown ? "the output could not be written" : LastErrorText(e);
                s.result.fileKept = false;
                encodeFailures.emplace_back(s.track->number, s.result.error);
            } else if (s.readEnd > 0) {
                s.result.kind = TrackResult::Failed;  // error set by the reader
                s.result.fileKept = true;
            } else if (s.readEnd == 0 || !s.pcm->Delivered()) {
                // Cut by a stop: on the drive, or in the encoder before the input's end.
                s.result.kind = TrackResult::Stopped;
                s.result.fileKept = true;
            } else {
                s.result.kind = TrackResult::Ripped;
            }
            s.pcm.reset();  // removes the held file
            s.job.reset();
            s.stage = Slot::Ended;
        }
        for (Slot& s : slots) {
            if (s.stage != Slot::Ready) continue;
            if (stop && !s.finishWhole) {
                // Read but never started: nothing is written for it.
                s.result.kind = TrackResult::NotRipped;
                if (s.result.error.empty()) s.result.error = "stopped before encoding";
                encodeFailures.emplace_back(s.track->number, s.result.error);
                s.pcm.reset();
                s.stage = Slot::Ended;
                continue;
            }
            if (running >= encoders) break;
            const PipelineTrack& t = *s.track;
            s.job = std::make_unique<Job>();
            EngineState& e = s.job->State();
            SetUpEncoder(e, t, s.pcm->Info());
            if (!s.job->Start(s.pcm->Path(), t.outputPath, 0, kModeConvert)) {
                s.result.kind = TrackResult::Failed;
                s.result.code = e.LastError.load();
                s.result.error = LastErrorText(e);
                encodeFailures.emplace_back(t.number, s.result.error);
                s.pcm.reset();
                s.job.reset();
                s.stage = Slot::Ended;
                continue;
            }
            s.stage = Slot::Encoding;
            ++running;
        }
        std::vector<std::pair<const PipelineTrack*, TrackResult>> ended;
        while (reported < slots.size() && slots[reported].stage == Slot::Ended) {
            ended.emplace_back(slots[reported].track, slots[reported].result);
            ++reported;
        }
        const bool over = readerDone && reported == slots.size();
        // After the reader has stopped, what it never reached is left as it is.
        const bool abandoned =
            readerDone && stop &&
            std::all_of(slots.begin() + static_cast<std::ptrdiff_t>(reported), slots.end(),
                        [](const Slot& s) { return s.stage == Slot::Waiting; });
        PipelineProgress progress;
        progress.readingTrack = readingTrack.load();
        progress.testReadTrack = testReadTrack.load();
        progress.readerDone = readerDone;
        if (const std::uint64_t x = readExpected.load())
            progress.readPercent = std::min(
                100.0, 100.0 * static_cast<double>(readBytes.load()) / static_cast<double>(x));
        for (const Slot& s : slots)
            if (s.stage == Slot::Encoding) {
                const EngineState& e = s.job->State();
                const double d = e.DurationMs.load();
                progress.encoding.emplace_back(
                    s.track->number, d > 0 ? std::min(100.0, 100.0 * e.PositionMs / d) : 0);
            }
        lock.unlock();
        for (const auto& [t, r] : ended)
            if (done) done(*t, r);
        if (tick) tick(progress);
        if (over || abandoned) break;
    }
    reader.join();
    // The verdicts the reader gave before an encoder failed no longer name a file.
    for (const auto& [number, error] : encodeFailures) verified_.CopyFailed(number, error);
    std::vector<TrackResult> results;
    for (Slot& s : slots) results.push_back(s.result);
    Engine().StopRequested.store(false);
    return results;
}

}  // namespace tralux::rip
