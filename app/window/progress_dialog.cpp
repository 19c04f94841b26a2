#include "app/window/progress_dialog.h"

#include "engine/job/printable_text.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <map>
#include <mutex>
#include <thread>

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/dialogs/dialogs.h"
#include "app/models/batch_settings.h"
#include "app/models/quality.h"
#include "app/settings/settings.h"
#include "app/window/backend.h"
#include "app/window/existing_output_dialog.h"
#include "app/window/ui_config.h"
#include "app/window/wait.h"
#include "cd/drives.h"
#include "cd/cda_files.h"
#include "cddb/engine/cd_info_provider.h"
#include "cddb/track_name.h"
#include "rip/verified_rip.h"
#include "platform/media_loader/media_names.h"
#include "engine/job/engine_state.h"
#include "engine/job/errors.h"
#include "engine/job/job.h"
#include "engine/job/job_pool.h"
#include "platform/notify/notifier.h"

namespace tralux::app {

namespace {

// A track's verification in the dialog's words.
std::string VerdictLine(const cd::RipLogTrack& t, bool lookedUp) {
    char head[32];
    std::snprintf(head, sizeof head, "音軌 %02d: ", t.number);
    std::string s = head;
    if (!t.error.empty()) return s + "未完成";
    const cd::ArTrackResult& r = t.accurateRip;
    if (!lookedUp)
        s += "未查詢 AccurateRip";
    else if (r.kind == cd::ArTrackResult::Match)
        s += "AccurateRip 準確 (信心 " + std::to_string(r.confidence) + ", v" +
             std::to_string(r.version) + ")";
    else if (r.kind == cd::ArTrackResult::Mismatch)
        s += "AccurateRip 不符 (最高信心 " + std::to_string(r.confidence) + ")";
    else
        s += "AccurateRip 資料庫中沒有";
    char crc[48];
    std::snprintf(crc, sizeof crc, ", CRC %08X", t.sums.crc);
    s += crc;
    if (t.testCrc) s += *t.testCrc == t.sums.crc ? ", 測試與複製相同" : ", 測試與複製不同!";
    return s;
}

QString Q(const std::string& s) {
    return QString::fromStdString(s);
}

// A file name on a one-line label: control bytes shown as escapes keep it one line.
QString QName(const std::string& s) {
    return Q(Printable(s));
}

std::string Clock(double ms) {
    return FormatClock(static_cast<std::uint64_t>(std::max(0.0, ms) / 1000.0));
}

std::string BaseName(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

int StoredKbps(const char* name, int fallback) {
    const int v = settings::ReadOption(name);
    return v == -1 ? fallback : v;
}

// The stored MP3 variable-rate level 0..9, or -1 for the constant bit rate.
int StoredVbr() {
    const int v = settings::ReadOption("MP3Vbr");
    return v >= 0 && v <= 9 ? v : -1;
}

std::string Trimmed(std::string s) {
    while (!s.empty() && (s.back() == ' ' || s.back() == '\n' || s.back() == '.')) s.pop_back();
    return s;
}

std::string ParentFolder(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string("./") : path.substr(0, slash + 1);
}

// Why the encoder cannot make what the dialogs showed ("" when it can): it would quietly take
// another bit rate, so such a job is never started.
std::string UnmadeCombination(int format, int rate, int channels) {
    if (format != kFormatMp3 && format != kFormatWma) return {};
    if (format == kFormatMp3 && StoredVbr() >= 0) {
        if (rate >= 16000) return {};
        return "MP3 可變位元率在 " + std::to_string(rate) + " Hz 不能使用，沒有轉換";
    }
    const int kbps =
        format == kFormatMp3 ? StoredKbps("MP3BitRate", 128) : StoredKbps("MSABitRate", 64);
    if (models::CombinationValid(format, kbps, rate, channels)) return {};
    std::string offered;
    const auto list = models::BitRateList(format);
    for (int i : models::OfferedBitIndices(format, rate, channels))
        offered +=
            (offered.empty() ? "" : "、") + std::to_string(list[static_cast<std::size_t>(i)]);
    return std::string(format == kFormatMp3 ? "MP3" : "MS Audio") + " 編碼在 " +
           std::to_string(rate) + " Hz " + (channels == 1 ? "單聲" : "立體聲") + " 不能使用 " +
           std::to_string(kbps) + " kBps" +
           (offered.empty() ? "" : "（可用：" + offered + " kBps）") + "，沒有轉換";
}

// What an item of a batch is made as: the batch's own output settings when they apply to its
// rate and channels, else the window's; `unmade` says why the encoder could not make it.
struct SettledOutput {
    int format;
    std::uint32_t rate;
    std::uint16_t channels;
    std::string unmade;
};

SettledOutput SettleOutput(const EngineState& window, const StreamInfo& info) {
    SettledOutput o{
        window.OutputFormat.load(), window.OutputRate.load(), window.OutputChannels.load(), {}};
    if (const auto out =
            settings::ResolveBatchOutput(static_cast<int>(info.SampleRate), info.Channels)) {
        o.format = out->format;
        o.rate = static_cast<std::uint32_t>(out->rate);
        o.channels = static_cast<std::uint16_t>(out->channels);
    }
    o.unmade = UnmadeCombination(o.format, static_cast<int>(o.rate), o.channels);
    return o;
}

// The compression line for an output format, with the stored quality of that format.
QString CompressionText(int format) {
    if (format == kFormatMp3 && StoredVbr() >= 0)
        return QStringLiteral("壓縮: MPEG Layer-3, VBR 品質 %1").arg(StoredVbr());
    if (format == kFormatFlac)
        return QStringLiteral("壓縮: 無損壓縮 (FLAC), 壓縮等級 %1").arg(StoredKbps("FLACLevel", 5));
    if (format == kFormatOpus)
        return QStringLiteral("壓縮: Opus, 位元率: %1 kBps").arg(StoredKbps("OpusBitRate", 160));
    return Q(CompressionLine(format, StoredKbps("MP3BitRate", 128), StoredKbps("MSABitRate", 64)));
}

// How many jobs a batch runs at once: "BJobs", or one per core.
std::size_t BatchWidth() {
    const int asked = settings::ReadOption("BJobs");
    return asked >= 1 ? static_cast<std::size_t>(std::min(asked, 64)) : JobPool::CoreCount();
}

// Where a CD track's output really goes: the engine files a track with usable disc and track
// titles under the disc's folder. Settled here, so the question is asked about that file.
// The engine writes exactly where it is told: CD tracks are named before the job starts.
std::string FinalOutputPath(const std::string& output, const StreamInfo&) {
    return output;
}

// A CD rip to an encoded format reads the next track while earlier ones encode. WAV gains
// nothing (writing it is no slower than the drive) and keeps the one-track-at-a-time rip, as
// does "BJobs" 1 and a drive the verification cannot open.
bool RipsInPipeline(const std::optional<std::string>& cdRoot) {
    if (!cdRoot) return false;
    const int format = settings::ReadOption("BOutFormat");
    if (format < kFormatMp3 || format > kFormatOpus) return false;
    if (settings::ReadOption("BJobs") == 1) return false;
    char letter = 0;
    return cd::ParseDriveRoot(*cdRoot, letter) && cd::FindCdDrive(letter).has_value();
}

}  // namespace

ProgressDialog::ProgressDialog(QWidget* owner, std::string input)
    : QDialog(owner), batch_(false), input_(std::move(input)) {
    Build();
    const EngineState& e = Engine();
    jitter_ = settings::ReadOption("Jitter") == 1;
    title_->setText(QName(SingleTitleLine(
        e.OutputFormat.load(),
        BaseName(OutputPathFor(input_, Ui().outputFolder, e.OutputFormat.load())))));
    ShowTrackTimes();
    const int f = e.OutputFormat.load();
    setWindowTitle(f == 1   ? QStringLiteral("MP3 編碼    ")
                   : f == 2 ? QStringLiteral("MSAudio 4.0 編碼    ")
                            : QStringLiteral("正在進行解碼"));
}

// What the rip's thread and the dialog share: the pipeline's latest progress, the tracks
// ended so far, and at the end every track's result.
struct ProgressDialog::RipShared {
    std::mutex mutex;
    rip::PipelineProgress progress;
    std::chrono::steady_clock::time_point readingSince;
    std::size_t ended = 0;
    std::string lastRead;  // the last track read whole: "NN CRC"
    bool over = false;
    std::vector<rip::TrackResult> results;
};

ProgressDialog::ProgressDialog(QWidget* owner, std::optional<std::string> cdRoot, bool)
    : QDialog(owner),
      pipelined_(RipsInPipeline(cdRoot)),
      parallel_(!cdRoot),
      batch_(true),
      cdRoot_(std::move(cdRoot)) {
    Build();
    setWindowTitle(QStringLiteral("批次轉換"));
    inputFolder_ = settings::ReadOptionText("BInDir");
    outputFolder_ = settings::ReadOptionText("BOut");
    jitter_ = settings::ReadOption("Jitter") == 1;
    EngineState& e = Engine();
    savedFormat_ = e.OutputFormat.load();
    savedRate_ = static_cast<int>(e.OutputRate.load());
    savedChannels_ = e.OutputChannels.load();
    savedKeep_ = Ui().keepInputQuality;
    savedEq_ = e.EqualizerOn.load();
    e.EqualizerOn.store(false);
    Ui().batchRunning = true;
}

ProgressDialog::ProgressDialog(QWidget* owner, std::vector<std::string> files)
    : ProgressDialog(owner, std::nullopt, true) {
    given_ = std::move(files);
}

ProgressDialog::~ProgressDialog() {
    if (ripThread_.joinable()) {
        // Nothing outlives the dialog: the rip is stopped (its files finished) and waited for.
        Engine().StopRequested.store(true);
        ripThread_.join();
    }
    CurrentBackend().OnJobEnd({});
    if (pool_) {
        // Nothing outlives the dialog: its jobs are stopped and waited for here.
        pool_->SetEndCallback({});
        pool_->StopAll();
        for (const JobPool::Slot& slot : pool_->Running())
            while (slot.job->State().JobRunning.load())
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    pool_.reset();
    if (!batch_) return;
    settings::ClearOptionOverrides();
    EngineState& e = Engine();
    e.OutputFormat.store(savedFormat_);
    e.OutputRate.store(static_cast<std::uint32_t>(savedRate_));
    e.OutputChannels.store(static_cast<std::uint16_t>(savedChannels_));
    Ui().keepInputQuality = savedKeep_;
    e.EqualizerOn.store(savedEq_);
    Ui().batchRunning = false;
}

void ProgressDialog::Build() {
    setModal(true);
    setMinimumWidth(470);
    auto* outer = new QVBoxLayout(this);
    outer->setSpacing(6);
    auto label = [this](const QString& text = {}) {
        auto* l = new QLabel(text, this);
        l->setTextInteractionFlags(Qt::NoTextInteraction);
        return l;
    };
    if (batch_) {
        count_ = label();
        count_->setObjectName("count");
        file_ = label();
        file_->setWordWrap(true);
        outer->addWidget(count_);
        // In a parallel batch or rip it heads the files in flight.
        if (!parallel_ && !pipelined_) outer->addWidget(file_);
    } else {
        title_ = label();
        title_->setWordWrap(true);
        outer->addWidget(title_);
    }
    auto* grid = new QGridLayout();
    grid->setHorizontalSpacing(18);
    start_ = label();
    current_ = label();
    end_ = label();
    elapsed_ = label(QStringLiteral("完成時間:00:00"));
    remaining_ = label(QStringLiteral("剩餘:00:00"));
    total_ = label(QStringLiteral("總計:00:00"));
    grid->addWidget(start_, 0, 0);
    grid->addWidget(current_, 0, 1);
    grid->addWidget(end_, 0, 2);
    grid->addWidget(elapsed_, 1, 0);
    grid->addWidget(remaining_, 1, 1);
    grid->addWidget(total_, 1, 2);
    outer->addLayout(grid);
    if (parallel_ || pipelined_) {
        // Figures for the whole batch: one track's start and end times mean nothing here.
        start_->hide();
        current_->hide();
        end_->hide();
    }
    bar_ = new QProgressBar(this);
    bar_->setRange(0, 100);
    bar_->setValue(0);
    outer->addWidget(bar_);
    speed_ = label(QStringLiteral("速度: x 1.0 "));
    compression_ = label();
    compression_->setObjectName("compression");
    quality_ = label();
    output_ = label(batch_ ? QString() : QStringLiteral("輸出檔案名稱:"));
    output_->setWordWrap(true);
    outer->addWidget(speed_);
    outer->addWidget(compression_);
    outer->addWidget(quality_);
    outer->addWidget(output_);
    if (pipelined_) {
        // The drive: which track it reads, how far, how fast.
        reading_ = label();
        reading_->setObjectName("reading");
        outer->addWidget(reading_);
    }
    if (parallel_ || pipelined_) {
        flight_ = new QVBoxLayout();
        flight_->setSpacing(3);
        flight_->addWidget(file_);
        outer->addLayout(flight_);
    }
    if (batch_ && cdRoot_) {
        verify_ = label();
        verify_->setObjectName("verify");
        verify_->setWordWrap(true);
        outer->addWidget(verify_);
    }
    stop_ = new QPushButton(QStringLiteral("停止"), this);
    stop_->setObjectName("stop");
    auto* row = new QHBoxLayout();
    row->addStretch();
    row->addWidget(stop_);
    outer->addLayout(row);
    connect(stop_, &QPushButton::clicked, this, [this] { Stop(); });
    connect(&timer_, &QTimer::timeout, this, [this] { Tick(); });
    if (!batch_) ShowFigures();
}

void ProgressDialog::ShowTrackTimes() {
    const EngineState& e = Engine();
    start_->setText(QStringLiteral("啟始時間:") + Q(Clock(e.StartMs.load())));
    current_->setText(QStringLiteral("目前時間:") + Q(Clock(e.PositionMs.load())));
    end_->setText(QStringLiteral("結束時間: ") + Q(Clock(e.DurationMs.load())));
}

void ProgressDialog::ShowFigures() {
    const EngineState& e = Engine();
    const int format = e.OutputFormat.load();
    compression_->setText(CompressionText(format));
    quality_->setText(Q(QualityLine(static_cast<int>(e.OutputRate.load()), e.OutputChannels.load(),
                                    e.EqualizerOn.load(), jitter_, e.OutputBits.load())));
}

std::int64_t ProgressDialog::ElapsedMs() const {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                 jobStart_)
        .count();
}

void ProgressDialog::showEvent(QShowEvent* ev) {
    QDialog::showEvent(ev);
    if (started_) return;
    started_ = true;
    // A job's end is taken up at once, not at the next tick: a batch of short files never
    // waits a tick per file. The timer still paces the figures.
    CurrentBackend().OnJobEnd([this] { TickSoon(); });
    // Starts once the dialog is on screen, as the first paint did.
    QTimer::singleShot(0, this, [this] {
        if (parallel_) {
            CollectBatch();
            if (!PlanBatch()) {
                // Cancelled at the question: nothing was written, nothing to report.
                finished_ = true;
                reject();
                return;
            }
            timer_.start(300);
            TickSoon();
        } else if (pipelined_) {
            CollectBatch();
            if (finished_) return;
            if (!verified_) {
                // The drive went away since the dialog opened: one track at a time, which
                // says what the drive does.
                pipelined_ = false;
                for (QLabel* l : {start_, current_, end_, reading_}) l->setVisible(l != reading_);
                timer_.start(300);
                TickSoon();
                return;
            }
            if (!PlanRip()) {
                // Cancelled at the question: nothing was read or written, no log either.
                verified_.reset();
                Engine().CdReadOffset.store(0);
                finished_ = true;
                reject();
                return;
            }
            StartRip();
            timer_.start(300);
            TickSoon();
        } else if (batch_) {
            CollectBatch();
            if (finished_) return;
            timer_.start(300);
            TickSoon();
        } else {
            StartSingle();
        }
    });
}

namespace {

// A CD track is named "NN Title.ext" after its title, as every ripped track is.
std::string CdTrackOutput(Backend& b, const std::string& input, const std::string& folder,
                          int format, std::string output) {
    const int track = b.CdaTrack(input);
    StreamInfo info;
    if (track < 1 || !b.Probe(input, info)) return output;
    return WithTrailingSlash(folder) +
           cddb::TrackFileName(track, info.Title, FormatExtension(format) + 1);
}

}  // namespace

void ProgressDialog::StartSingle() {
    EngineState& e = Engine();
    Backend& b = CurrentBackend();
    const int format = e.OutputFormat.load();
    std::string output = CdTrackOutput(b, input_, Ui().outputFolder, format,
                                       OutputPathFor(input_, Ui().outputFolder, format));
    StreamInfo info;
    if (!b.Probe(input_, info)) {
        Failed(input_, {}, e.LastError.exchange(0));
        Finish();
        return;
    }
    declaredMs_ = info.DeclaredDurationMs;
    e.DurationMs.store(info.DurationMs);
    ShowTrackTimes();
    const models::OutputDecision d = guard_.Decide(
        {input_}, 0, FinalOutputPath(output, info),
        [this](const std::string& p) { return AskAboutExistingOutput(this, p, false); });
    if (d.verdict != models::OutputVerdict::Write) {
        (d.verdict == models::OutputVerdict::Skip ? report_.skipped : report_.failed)
            .push_back({d.path, d.reason});
        Finish();
        return;
    }
    title_->setText(QName(SingleTitleLine(format, BaseName(d.path))));
    if (const std::string why = UnmadeCombination(format, static_cast<int>(e.OutputRate.load()),
                                                  e.OutputChannels.load());
        !why.empty()) {
        report_.failed.push_back({input_, why});
        Finish();
        return;
    }
    jobStart_ = std::chrono::steady_clock::now();
    e.ReplaceOutput.store(d.replaces);
    bool started = false;
    {
        cddb::ScopedCdInfoOff settled;  // the name above is final
        started = b.Start(input_, d.path, kModeConvert);
    }
    if (!started) {
        Failed(input_, d.path, e.LastError.exchange(0));
        Finish();
        return;
    }
    jobActive_ = true;
    currentInput_ = input_;
    currentOutput_ = e.OutputPath;
    output_->setText(QStringLiteral("輸出檔案名稱:") + QName(e.OutputPath));
    ShowTrackTimes();
    timer_.start(1000);
}

void ProgressDialog::Failed(const std::string& input, const std::string& output, int code) {
    // A file that cannot be opened is named with the system's reason.
    char letter = 0;
    int track = 0;
    const bool onDisc = cd::ParseCdaPath(input, letter, track);
    if (code == kErrOpen || code == 0) {
        if (!onDisc) {
            const std::string why = models::InputProblem(input);
            if (!why.empty()) {
                report_.failed.push_back({input, "無法讀取，" + why});
                return;
            }
        }
        if (!output.empty()) {
            const std::string why = models::OutputProblem(output);
            if (!why.empty()) {
                report_.failed.push_back({output, "無法寫入，" + why});
                return;
            }
        }
    }
    std::string text = Trimmed(ErrorCodeText(code));
    if (text.empty()) text = "無法轉換";
    if (code == kErrWrite && !output.empty()) {
        report_.failed.push_back({output, text});
        return;
    }
    report_.failed.push_back({input, text});
}

void ProgressDialog::CollectBatch() {
    Backend& b = CurrentBackend();
    BatchList list;
    if (given_) {
        list.inputs = *given_;
        if (list.inputs.size() > kBatchLimit) {
            list.inputs.resize(kBatchLimit);
            list.truncated = true;
        }
    } else if (cdRoot_) {
        list = CollectCdInputs(
            *cdRoot_,
            [&] {
                std::vector<std::string> names = b.ListFolder(*cdRoot_);
                std::sort(names.begin(), names.end());
                return names;
            }(),
            [&](const std::string& p) { return b.CdaTrack(p); },
            [&](int t) { return b.TrackSelected(t); });
    } else {
        inputFolder_ = WithTrailingSlash(inputFolder_);
        BatchFilters f;
        f.cda = settings::ReadOption("BIF_CDDA") != 0;
        f.wav = settings::ReadOption("BIF_WAV") != 0;
        f.mp3 = settings::ReadOption("BIF_MP3") != 0;
        if (settings::ReadOption("BIF_OTHER") != 0) f.more = platform::MediaInputExtensions();
        list = CollectFolderInputs(inputFolder_, b.ListFolder(inputFolder_), f);
    }
    inputs_ = std::move(list.inputs);
    next_ = 0;
    if (cdRoot_) BeginVerification();
    if (finished_) return;
    Engine().PositionMs.store(0.0);
    if (list.truncated)
        ShowMessage("符合的檔案超過 " + std::to_string(kBatchLimit) + " 個，這個批次只轉換前 " +
                        std::to_string(kBatchLimit) + " 個。",
                    "Quorvatix Tralux");
}

void ProgressDialog::TickSoon() {
    QMetaObject::invokeMethod(
        this, [this] { Tick(); }, Qt::QueuedConnection);
}

void ProgressDialog::Tick() {
    // A message box or a CD information lookup inside a tick runs its own event loop; the
    // timer must not start a second job under it, nor the end of a job being stopped.
    if (inTick_ || finished_ || stopping_) return;
    inTick_ = true;
    struct Leave {
        bool& flag;
        ~Leave() { flag = false; }
    } leave{inTick_};
    if (parallel_) {
        TickParallel();
        return;
    }
    if (pipelined_) {
        TickRip();
        return;
    }
    EngineState& e = Engine();
    if (batch_ && e.StopRequested.load()) return;
    if (e.JobRunning.load()) {
        const ProgressFigures f = ComputeProgress(e.StartMs.load(), e.DurationMs.load(),
                                                  e.PositionMs.load(), ElapsedMs());
        bar_->setValue(f.percent);
        current_->setText(QStringLiteral("目前時間:") + Q(Clock(e.PositionMs.load())));
        end_->setText(QStringLiteral("結束時間: ") + Q(Clock(e.DurationMs.load())));
        elapsed_->setText(QStringLiteral("完成時間:") + Q(Clock(static_cast<double>(f.elapsedMs))));
        remaining_->setText(QStringLiteral("剩餘:") + Q(Clock(static_cast<double>(f.remainingMs))));
        total_->setText(QStringLiteral("總計:") + Q(Clock(static_cast<double>(f.totalMs))));
        speed_->setText(Q(SpeedLine(f.speedHundredths)));
        // The stored width is known once the job has opened its output.
        quality_->setText(
            Q(QualityLine(static_cast<int>(e.OutputRate.load()), e.OutputChannels.load(),
                          e.EqualizerOn.load(), jitter_, e.OutputBits.load())));
        if (!batch_) output_->setText(QStringLiteral("輸出檔案名稱:") + QName(e.OutputPath));
        return;
    }
    if (jobActive_) {
        // The job ended: a failure is said, not taken for success.
        jobActive_ = false;
        bar_->setValue(100);
        const int code = e.LastError.exchange(0);
        // A file failure was shown by the engine, which removed the file.
        const bool fileFailed = code == 0 && e.FailureShown.load();
        AfterTrack(code != 0 || fileFailed ? "" : e.OutputPath,
                   code != 0 || fileFailed ? "failed" : "");
        if (code != 0) {
            Failed(currentInput_, currentOutput_, code);
        } else if (fileFailed) {
            report_.failed.push_back(
                {currentOutput_, e.FailureText.empty() ? std::string("無法寫入") : e.FailureText});
        } else {
            report_.written.push_back(currentOutput_);
            if (declaredMs_ != 0) {
                const double converted = std::max(0.0, e.PositionMs.load() - e.StartMs.load());
                report_.cut.push_back(
                    {currentInput_,
                     models::CutInputReason(declaredMs_, static_cast<std::uint64_t>(converted))});
            }
        }
    }
    if (!batch_ || next_ >= inputs_.size()) {
        Finish();
        return;
    }
    StartNext();
    // An entry that started no job ends no job: go on without waiting for the timer.
    if (!jobActive_) TickSoon();
}

void ProgressDialog::StartNext() {
    EngineState& e = Engine();
    Backend& b = CurrentBackend();
    const std::size_t index = next_++;
    const std::string& input = inputs_[index];
    count_->setText(Q(BatchCountLine(index + 1, inputs_.size())));
    file_->setText(QName(BatchFileLine(input)));
    // Nothing of the previous file stays on screen while this one starts (or fails).
    bar_->setValue(0);
    output_->clear();
    e.StartMs.store(0);
    e.PositionMs.store(0.0);
    e.DurationMs.store(0);
    ShowTrackTimes();
    elapsed_->setText(QStringLiteral("完成時間:00:00"));
    remaining_->setText(QStringLiteral("剩餘:00:00"));
    total_->setText(QStringLiteral("總計:00:00"));
    declaredMs_ = 0;
    StreamInfo info;
    if (!b.Probe(input, info)) {
        Failed(input, {}, e.LastError.exchange(0));
        return;
    }
    declaredMs_ = info.DeclaredDurationMs;
    const int format = settings::ReadOption("BOutFormat");
    std::string output =
        cdRoot_ ? CdOutput(input, format < 0 ? 0 : format)
                : CdTrackOutput(b, input, outputFolder_, format < 0 ? 0 : format,
                                OutputPathFor(input, outputFolder_, format < 0 ? 0 : format));
    const models::OutputDecision d =
        guard_.Decide(inputs_, index, FinalOutputPath(output, info), [this](const std::string& p) {
            return AskAboutExistingOutput(this, p, next_ < inputs_.size());
        });
    if (d.verdict != models::OutputVerdict::Write) {
        (d.verdict == models::OutputVerdict::Skip ? report_.skipped : report_.failed)
            .push_back({d.path, d.reason});
        return;
    }
    const SettledOutput out = SettleOutput(e, info);
    e.OutputFormat.store(out.format);
    e.OutputRate.store(out.rate);
    e.OutputChannels.store(out.channels);
    if (!out.unmade.empty()) {
        report_.failed.push_back({input, out.unmade});
        return;
    }
    SetTagTexts(e, info);
    e.DurationMs.store(info.DurationMs);
    jobStart_ = std::chrono::steady_clock::now();
    e.EqualizerOn.store(false);
    ShowTrackTimes();
    ShowFigures();
    // The file's line only once it is written: a test read writes nothing.
    if (cdRoot_ && !BeforeTrack(b.CdaTrack(input), input)) {
        if (!finished_) report_.failed.push_back({d.path, "測試讀取失敗"});
        return;
    }
    output_->setText(QName(BatchOutputLine(e.OutputFormat.load(), d.path)));
    e.ReplaceOutput.store(d.replaces);
    bool started = false;
    {
        cddb::ScopedCdInfoOff settled;  // the name above is final
        started = b.Start(input, d.path, kModeConvert);
    }
    if (!started) {
        AfterTrack("", "not started");
        Failed(input, d.path, e.LastError.exchange(0));
        return;
    }
    jobActive_ = true;
    currentInput_ = input;
    currentOutput_ = e.OutputPath;
    guard_.Moved(d.path, e.OutputPath);
    output_->setText(QName(BatchOutputLine(e.OutputFormat.load(), e.OutputPath)));
}

std::string ProgressDialog::CdOutput(const std::string& input, int format) const {
    const int track = CurrentBackend().CdaTrack(input);
    const models::CdDisc& disc = LastRippedDisc();
    if (track < 1 || track > static_cast<int>(disc.tracks.size()))
        return OutputPathFor(input, outputFolder_, format);
    const std::string& title = disc.tracks[static_cast<std::size_t>(track - 1)].title;
    return WithTrailingSlash(outputFolder_) +
           cddb::TrackFileName(track, title, FormatExtension(format) + 1);
}

void ProgressDialog::Stop() {
    if (finished_ || testStopped_) return;
    if (parallel_) {
        StopParallel();
        return;
    }
    EngineState& e = Engine();
    if (pipelined_ && ripThread_.joinable()) {
        // The drive stops at once; what was read of its track and every track encoding is
        // finished as a playable file. The next tick ends the run once the rip has.
        if (ripStopping_) return;
        ripStopping_ = true;
        e.StopRequested.store(true);
        stop_->setEnabled(false);
        if (verify_) verify_->setText(QStringLiteral("正在停止…"));
        return;
    }
    if (beginning_) {
        // The lookup sees the request and ends; CollectBatch finishes the stop from there.
        testStopped_ = true;
        e.StopRequested.store(true);
        stop_->setEnabled(false);
        if (verify_) verify_->setText(QStringLiteral("正在停止查詢…"));
        return;
    }
    if (testReading_) {
        // The test read sees the request and ends; BeforeTrack finishes the stop from there.
        testStopped_ = true;
        e.StopRequested.store(true);
        stop_->setEnabled(false);
        if (verify_) verify_->setText(QStringLiteral("正在停止測試讀取…"));
        return;
    }
    stopping_ = true;
    const bool running = e.JobRunning.load();
    if (running && !e.StopRequested.load()) {
        e.StopRequested.store(true);
        WaitDispatching([] { return !Engine().JobRunning.load(); });
        e.StopRequested.store(false);
    }
    if (jobActive_ && e.FailureShown.load()) {
        // The stopped file could not be kept (finished or put under its name): the engine
        // said why, and the summary says it too.
        report_.failed.push_back(
            {currentOutput_, e.FailureText.empty() ? std::string("無法寫入") : e.FailureText});
        e.LastError.store(0);
    } else if (jobActive_) {
        // A stopped job leaves a playable beginning: the user is told which file and how much.
        report_.stoppedPath = currentOutput_;
        const double start = e.StartMs.load();
        const double end = e.DurationMs.load();
        report_.stoppedHeldMs =
            static_cast<std::uint64_t>(std::clamp(e.PositionMs.load() - start, 0.0, end));
        report_.stoppedWantedMs = static_cast<std::uint64_t>(std::max(0.0, end - start));
        e.LastError.store(0);
    }
    report_.stopped = true;
    if (batch_) report_.notStarted = inputs_.size() - std::min(next_, inputs_.size());
    jobActive_ = false;  // a stopped job is no failure
    AfterTrack("", "stopped");
    Finish();
}

void ProgressDialog::Finish() {
    if (finished_) return;
    finished_ = true;
    timer_.stop();
    if (verified_) {
        // The log and the CUE sheet beside the tracks, then what was found.
        const models::CdDisc& d = LastRippedDisc();
        cddb::CdInfo info;
        info.discTitle = d.title;
        for (const auto& t : d.tracks) info.tracks.push_back({t.title, "", true, 0});
        const int format = settings::ReadOption("BOutFormat");
        verified_->Finish(outputFolder_, info, FormatExtension(format));
        Engine().CdReadOffset.store(0);
        if (!verifyLines_.empty()) {
            std::string summary;
            for (const std::string& l : verifyLines_) summary += l + "\n";
            summary += "\n" + cd::RipVerdict(verified_->Log().tracks);
            // "未查詢" alone would hide a lookup that failed: say where and why.
            const std::string& database = verified_->Log().database;
            constexpr std::string_view kFailed = "lookup failed: ";
            if (!verified_->LookedUp() && database.compare(0, kFailed.size(), kFailed) == 0)
                summary += "\n無法查詢 AccurateRip 資料庫: " + database.substr(kFailed.size());
            verifySummary_ = summary;  // shown with the run's summary: one box at the end
        }
        verified_.reset();
    }
    accept();
    ShowSummary();
}

void ProgressDialog::ShowSummary() {
    const models::RunReport& r = report_;
    if (batch_ && inputs_.empty() && r.failed.empty() && !r.stopped) {
        ShowMessage(
            cdRoot_ ? std::string("沒有選取任何音軌，沒有轉換任何檔案。")
                    : "在 " + inputFolder_ + " 中沒有找到符合所選類型的檔案，沒有轉換任何檔案。",
            "Quorvatix Tralux", MessageIcon::Warning);
        return;
    }
    std::string folder = batch_ ? outputFolder_ : Ui().outputFolder;
    const std::string& first = !r.written.empty()        ? r.written.front()
                               : r.stoppedPath           ? *r.stoppedPath
                               : !r.stoppedFiles.empty() ? r.stoppedFiles.front().path
                                                         : std::string();
    if (!first.empty()) folder = ParentFolder(first);
    std::string text = models::SummaryText(r, folder);
    if (!verifySummary_.empty()) text += "\n\n" + verifySummary_;
    ShowMessage(text, batch_ ? "批次轉換" : "Quorvatix Tralux",
                r.failed.empty() ? MessageIcon::Information : MessageIcon::Error);
}

void ProgressDialog::reject() {
    // Escape and the close box stop the job as "停止" does.
    if (!finished_) {
        Stop();
        return;
    }
    QDialog::reject();
}

void ProgressDialog::BeginVerification() {
    char letter = 0;
    if (!cd::ParseDriveRoot(*cdRoot_, letter)) return;
    const auto slot = cd::FindCdDrive(letter);
    if (!slot) return;
    rip::VerifyOptions options;
    options.jitter = settings::ReadOption("Jitter") > 0;
    options.testCopy = settings::ReadOption("CdTestCopy") > 0;
    rip::RipReport report;
    if (pipelined_) {
        // The drive's thread says each track it read whole; the dialog shows the last one.
        rip_ = std::make_shared<RipShared>();
        report.machine = [shared = rip_](const std::string& line) {
            // "accuraterip NN word confidence C v1 X v2 Y crc Z"
            const auto crc = line.rfind(' ');
            if (line.size() < 14 || crc == std::string::npos) return;
            std::lock_guard lock(shared->mutex);
            shared->lastRead = line.substr(12, 2) + " " + line.substr(crc + 1);
        };
    }
    verified_ = std::make_unique<rip::VerifiedRip>(*slot, options, std::move(report));
    if (verify_) verify_->setText(QStringLiteral("讀取光碟目錄並查詢 AccurateRip 資料庫…"));
    // The table of contents and the database lookup may take a while: the dialog keeps painting.
    std::atomic<bool> done{false};
    std::thread begin([&] {
        verified_->Begin();
        done.store(true);
    });
    beginning_ = true;
    WaitDispatching([&] { return done.load(); }, -1, true);
    beginning_ = false;
    begin.join();
    if (testStopped_) {
        Engine().StopRequested.store(false);
        // Nothing was read: no log, no sheet, nothing claimed as verified.
        verified_.reset();
        report_.stopped = true;
        report_.stoppedNote = "在查詢 AccurateRip 資料庫時停止，沒有寫入任何檔案。";
        report_.notStarted = inputs_.size();
        Finish();
    }
}

bool ProgressDialog::BeforeTrack(int track, const std::string& input) {
    if (!verified_ || track < 1) return true;
    ripTrack_ = track;
    if (settings::ReadOption("CdTestCopy") > 0) {
        // The test read runs beside the dialog, which keeps painting meanwhile.
        char line[96];
        std::snprintf(line, sizeof line, "音軌 %02d 測試讀取中… (可按【停止】)", track);
        if (verify_) verify_->setText(QString::fromUtf8(line));
        std::atomic<bool> done{false};
        bool ok = false;
        std::thread reader([&] {
            ok = verified_->TestRead(track, input);
            done.store(true);
        });
        // 停止 and Escape are taken while the drive reads; nothing else here reacts to input.
        testReading_ = true;
        WaitDispatching([&] { return done.load(); }, -1, true);
        testReading_ = false;
        reader.join();
        if (testStopped_) {
            Engine().StopRequested.store(false);
            std::snprintf(line, sizeof line, "在音軌 %02d 的測試讀取中停止，這首沒有寫入任何檔案。",
                          track);
            report_.stopped = true;
            report_.stoppedNote = line;
            // This track is one of those left untouched.
            report_.notStarted = inputs_.size() - std::min(next_ - 1, inputs_.size());
            AfterTrack("", "stopped");
            Finish();
            return false;
        }
        if (!ok) {
            AfterTrack("", "test read failed");
            return false;
        }
    }
    verified_->BeforeCopy(track, input);
    return true;
}

void ProgressDialog::AfterTrack(const std::string& file, const std::string& error) {
    if (!verified_ || ripTrack_ == 0) return;
    verified_->AfterCopy(ripTrack_, file, error);
    ripTrack_ = 0;
    const std::string line = VerdictLine(verified_->Log().tracks.back(), verified_->LookedUp());
    verifyLines_.push_back(line);
    if (verify_) verify_->setText(Q(line));
}

std::size_t ProgressDialog::Width() const {
    return pool_ ? pool_->Width() : 0;
}

bool ProgressDialog::PlanBatch() {
    Backend& b = CurrentBackend();
    EngineState& window = Engine();
    const int stored = settings::ReadOption("BOutFormat");
    const int format = stored < 0 ? 0 : stored;
    // Probe and settle every input first: no question waits in the middle of the run.
    std::vector<Planned> candidates;
    std::vector<std::size_t> inputIndex;
    for (std::size_t i = 0; i < inputs_.size(); ++i) {
        Planned p;
        p.input = inputs_[i];
        if (!b.Probe(p.input, p.info)) {
            Failed(p.input, {}, window.LastError.exchange(0));
            continue;
        }
        p.output = CdTrackOutput(b, p.input, outputFolder_, format,
                                 OutputPathFor(p.input, outputFolder_, format));
        const SettledOutput out = SettleOutput(window, p.info);
        p.format = out.format;
        p.rate = out.rate;
        p.channels = out.channels;
        if (!out.unmade.empty()) {
            report_.failed.push_back({p.input, out.unmade});
            continue;
        }
        candidates.push_back(std::move(p));
        inputIndex.push_back(i);
    }
    std::vector<std::string> outputs;
    for (const Planned& p : candidates) outputs.push_back(p.output);
    const auto reply = AskAboutExisting(outputs, inputIndex);
    if (!reply) return false;
    const models::ExistingAnswer answer = *reply;
    std::map<std::string, std::size_t> readers;  // input key -> plan index
    for (std::size_t k = 0; k < candidates.size(); ++k) {
        const models::OutputDecision d =
            guard_.Decide(inputs_, inputIndex[k], candidates[k].output, [&](const std::string&) {
                return models::ExistingReply{answer, true};
            });
        if (d.verdict != models::OutputVerdict::Write) {
            (d.verdict == models::OutputVerdict::Skip ? report_.skipped : report_.failed)
                .push_back({d.path, d.reason});
            continue;
        }
        Planned p = std::move(candidates[k]);
        p.output = d.path;
        p.replaces = d.replaces;
        // Replacing an earlier input of the batch waits until that input has been read.
        if (const auto it = readers.find(models::PathKey(p.output)); it != readers.end())
            p.after = it->second;
        readers[models::PathKey(p.input)] = plan_.size();
        totalAudioMs_ += p.info.DurationMs;
        plan_.push_back(std::move(p));
    }
    ended_.assign(plan_.size(), false);
    const std::size_t width = std::min(BatchWidth(), std::max<std::size_t>(1, plan_.size()));
    pool_ = std::make_unique<JobPool>(width);
    pool_->SetEndCallback([this] { TickSoon(); });
    BuildInFlightRows(std::min<std::size_t>(width, 6));
    if (!plan_.empty()) {
        const Planned& first = plan_.front();
        compression_->setText(CompressionText(first.format));
        output_->setText(QName(BatchOutputLine(first.format, outputFolder_)));
    }
    runStart_ = std::chrono::steady_clock::now();
    ShowOverall();
    return true;
}

std::optional<models::ExistingAnswer> ProgressDialog::AskAboutExisting(
    const std::vector<std::string>& outputs, const std::vector<std::size_t>& inputIndex) {
    // The outputs that exist and are no part of the run: one question for all of them.
    std::vector<std::string> existing;
    models::OutputGuard dryRun;
    for (std::size_t k = 0; k < outputs.size(); ++k)
        dryRun.Decide(inputs_, inputIndex[k], outputs[k], [&](const std::string& p) {
            if (std::find(existing.begin(), existing.end(), p) == existing.end())
                existing.push_back(p);
            return models::ExistingReply{models::ExistingAnswer::Skip, false};
        });
    if (existing.empty()) return models::ExistingAnswer::Skip;
    return AskAboutExistingOutputs(this, existing);
}

void ProgressDialog::BuildInFlightRows(std::size_t rows) {
    for (std::size_t i = 0; i < rows; ++i) {
        auto* row = new QHBoxLayout();
        InFlightRow r;
        r.name = new QLabel(this);
        r.name->setObjectName(QStringLiteral("inFlight%1").arg(i));
        r.name->setMinimumWidth(300);
        r.bar = new QProgressBar(this);
        r.bar->setRange(0, 100);
        r.bar->setFixedWidth(110);
        r.bar->setFormat(QStringLiteral("%p%"));
        // An empty row keeps its place: the dialog does not jump as files come and go.
        QSizePolicy keep = r.bar->sizePolicy();
        keep.setRetainSizeWhenHidden(true);
        r.bar->setSizePolicy(keep);
        r.bar->hide();
        row->addWidget(r.name, 1);
        row->addWidget(r.bar);
        flight_->addLayout(row);
        rows_.push_back(r);
    }
    moreInFlight_ = new QLabel(this);
    flight_->addWidget(moreInFlight_);
    moreInFlight_->hide();
}

void ProgressDialog::TickParallel() {
    if (!pool_) return;  // still planning (a lookup's event loop ticks)
    for (const JobPool::Slot& slot : pool_->TakeEnded()) Ended(*slot.job, slot.item);
    StartMore();
    ShowOverall();
    if (!pool_->Busy() && nextPlanned_ >= plan_.size()) Finish();
}

void ProgressDialog::StartMore() {
    Backend& b = CurrentBackend();
    while (nextPlanned_ < plan_.size()) {
        const Planned& p = plan_[nextPlanned_];
        if (p.after && !ended_[*p.after]) break;
        Job* job = pool_->Free();
        if (!job) break;
        const std::size_t item = nextPlanned_++;
        EngineState& e = job->State();
        e.OutputFormat.store(p.format);
        e.OutputRate.store(p.rate);
        e.OutputChannels.store(p.channels);
        e.EqualizerOn.store(false);
        e.StartMs.store(0);
        e.PositionMs.store(0.0);
        e.DurationMs.store(p.info.DurationMs);
        e.LastError.store(0);
        e.ReplaceOutput.store(p.replaces);
        SetTagTexts(e, p.info);
        bool started = false;
        {
            cddb::ScopedCdInfoOff settled;  // the name is final
            started = b.StartOn(*job, p.input, p.output, kModeConvert);
        }
        if (started) {
            pool_->Occupy(*job, item);
            continue;
        }
        Failed(p.input, p.output, e.LastError.exchange(0));
        ended_[item] = true;
        ++endedCount_;
        totalAudioMs_ -= p.info.DurationMs;
    }
}

void ProgressDialog::Ended(Job& job, std::size_t item) {
    EngineState& e = job.State();
    const Planned& p = plan_[item];
    ended_[item] = true;
    ++endedCount_;
    const double wanted =
        std::max(0.0, static_cast<double>(e.DurationMs.load()) - e.StartMs.load());
    const double held = std::clamp(e.PositionMs.load() - e.StartMs.load(), 0.0, wanted);
    // The batch's total now counts what this file really gave.
    doneAudioMs_ += held;
    totalAudioMs_ += held - p.info.DurationMs;
    const int code = e.LastError.exchange(0);
    if (code != 0) {
        Failed(p.input, p.output, code);
    } else if (e.FailureShown.load()) {
        // The engine said why in a message and removed the file: the summary says it too.
        report_.failed.push_back(
            {p.output, e.FailureText.empty() ? std::string("無法寫入") : e.FailureText});
    } else if (stopping_ && held < wanted) {
        report_.stoppedFiles.push_back(
            {e.OutputPath, static_cast<std::uint64_t>(held), static_cast<std::uint64_t>(wanted)});
    } else {
        report_.written.push_back(e.OutputPath);
        guard_.Moved(p.output, e.OutputPath);
        if (p.info.DeclaredDurationMs != 0)
            report_.cut.push_back(
                {p.input, models::CutInputReason(p.info.DeclaredDurationMs,
                                                 static_cast<std::uint64_t>(held))});
    }
}

void ProgressDialog::ShowOverall() {
    const std::vector<JobPool::Slot> running =
        pool_ ? pool_->Running() : std::vector<JobPool::Slot>{};
    double progress = doneAudioMs_;
    for (const JobPool::Slot& slot : running) {
        const EngineState& e = slot.job->State();
        progress += std::clamp(e.PositionMs.load() - e.StartMs.load(), 0.0,
                               static_cast<double>(e.DurationMs.load()));
    }
    const double elapsed =
        static_cast<double>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                std::chrono::steady_clock::now() - runStart_)
                                .count());
    const double total = std::max(totalAudioMs_, progress);
    const int percent = total > 0 ? static_cast<int>(progress * 100.0 / total) : 100;
    const double estimate = progress > 0 ? elapsed * total / progress : 0.0;
    count_->setText(QStringLiteral("已處理 %1 / %2 個檔案").arg(endedCount_).arg(plan_.size()));
    file_->setText(running.empty() ? QString()
                                   : QStringLiteral("同時轉換 %1 個檔案：").arg(running.size()));
    bar_->setValue(std::clamp(percent, 0, 100));
    elapsed_->setText(QStringLiteral("完成時間:") + Q(Clock(elapsed)));
    remaining_->setText(QStringLiteral("剩餘:") + Q(Clock(std::max(0.0, estimate - elapsed))));
    total_->setText(QStringLiteral("總計:") + Q(Clock(estimate)));
    speed_->setText(Q(SpeedLine(
        elapsed > 0 ? static_cast<int>(std::min(progress * 100.0 / elapsed, 99999.0)) : 100)));
    for (std::size_t i = 0; i < rows_.size(); ++i) {
        InFlightRow& r = rows_[i];
        if (i >= running.size()) {
            r.name->clear();
            r.bar->hide();
            continue;
        }
        const EngineState& e = running[i].job->State();
        const ProgressFigures f =
            ComputeProgress(e.StartMs.load(), e.DurationMs.load(), e.PositionMs.load(), 0);
        const QString name = Q(BaseName(plan_[running[i].item].input));
        r.name->setText(r.name->fontMetrics().elidedText(name, Qt::ElideMiddle,
                                                         std::max(r.name->width(), 300)));
        r.name->setToolTip(Q(plan_[running[i].item].input));
        r.bar->setValue(f.percent);
        r.bar->show();
    }
    if (moreInFlight_) {
        const std::size_t more = running.size() > rows_.size() ? running.size() - rows_.size() : 0;
        moreInFlight_->setText(QStringLiteral("…另有 %1 個檔案正在轉換").arg(more));
        moreInFlight_->setVisible(more != 0);
    }
    if (!running.empty()) {
        const Planned& p = plan_[running.front().item];
        quality_->setText(Q(QualityLine(static_cast<int>(p.rate), p.channels, false, jitter_)));
    }
}

void ProgressDialog::StopParallel() {
    stopping_ = true;
    if (pool_) {
        // Every running job is asked at once; each finishes a playable file from what it has.
        pool_->StopAll();
        WaitDispatching([this] {
            for (const JobPool::Slot& slot : pool_->Running())
                if (slot.job->State().JobRunning.load()) return false;
            return true;
        });
        for (const JobPool::Slot& slot : pool_->TakeEnded()) Ended(*slot.job, slot.item);
    }
    report_.stopped = true;
    report_.notStarted = plan_.size() - std::min(nextPlanned_, plan_.size());
    Finish();
}

bool ProgressDialog::PlanRip() {
    Backend& b = CurrentBackend();
    EngineState& window = Engine();
    const int stored = settings::ReadOption("BOutFormat");
    const int format = stored < 0 ? 0 : stored;
    // Every name and every question is settled before the drive spins.
    std::vector<rip::PipelineTrack> candidates;
    std::vector<std::uint32_t> durations;
    std::vector<std::size_t> inputIndex;
    for (std::size_t i = 0; i < inputs_.size(); ++i) {
        const std::string& input = inputs_[i];
        StreamInfo info;
        if (!b.Probe(input, info)) {
            Failed(input, {}, window.LastError.exchange(0));
            continue;
        }
        rip::PipelineTrack t;
        t.number = b.CdaTrack(input);
        t.cdaPath = input;
        t.outputPath = CdOutput(input, format);
        const SettledOutput out = SettleOutput(window, info);
        t.format = out.format;
        t.rate = out.rate;
        t.channels = out.channels;
        if (!out.unmade.empty()) {
            report_.failed.push_back({input, out.unmade});
            continue;
        }
        if (t.number < 1) {
            Failed(input, {}, kErrOpen);
            continue;
        }
        t.tags = TagTextsOf(info);
        candidates.push_back(std::move(t));
        durations.push_back(info.DurationMs);
        inputIndex.push_back(i);
    }
    std::vector<std::string> outputs;
    for (const rip::PipelineTrack& t : candidates) outputs.push_back(t.outputPath);
    const auto reply = AskAboutExisting(outputs, inputIndex);
    if (!reply) return false;
    for (std::size_t k = 0; k < candidates.size(); ++k) {
        const models::OutputDecision d = guard_.Decide(
            inputs_, inputIndex[k], candidates[k].outputPath, [&](const std::string&) {
                return models::ExistingReply{*reply, true};
            });
        if (d.verdict != models::OutputVerdict::Write) {
            (d.verdict == models::OutputVerdict::Skip ? report_.skipped : report_.failed)
                .push_back({d.path, d.reason});
            continue;
        }
        candidates[k].outputPath = d.path;
        candidates[k].replaces = d.replaces;
        ripPlan_.push_back(std::move(candidates[k]));
        ripDurations_.push_back(durations[k]);
        totalAudioMs_ += durations[k];
    }
    BuildInFlightRows(
        std::min<std::size_t>({BatchWidth(), 6, std::max<std::size_t>(ripPlan_.size(), 1)}));
    if (!ripPlan_.empty()) {
        const rip::PipelineTrack& first = ripPlan_.front();
        compression_->setText(CompressionText(first.format));
        quality_->setText(
            Q(QualityLine(static_cast<int>(first.rate), first.channels, false, jitter_)));
        output_->setText(QName(BatchOutputLine(first.format, outputFolder_)));
    }
    return true;
}

void ProgressDialog::StartRip() {
    runStart_ = std::chrono::steady_clock::now();
    if (ripPlan_.empty()) return;
    rip::PipelineOptions options;
    options.encoders = static_cast<unsigned>(BatchWidth());
    options.testCopy = settings::ReadOption("CdTestCopy") > 0;
    std::string warning;
    options.memoryLimit = rip::HoldLimitFromEnvironment(warning);
    if (!warning.empty()) std::fprintf(stderr, "%s\n", warning.c_str());
    ShowRip();
    ripThread_ = std::thread([this, options, shared = rip_, verified = verified_.get()] {
        rip::RipPipeline pipeline(*verified, options);
        std::vector<rip::TrackResult> results;
        try {
            results = pipeline.Run(
                ripPlan_,
                [&](const rip::PipelineTrack&, const rip::TrackResult&) {
                    std::lock_guard lock(shared->mutex);
                    ++shared->ended;
                },
                [&](const rip::PipelineProgress& p) {
                    std::lock_guard lock(shared->mutex);
                    if (p.readingTrack != shared->progress.readingTrack)
                        shared->readingSince = std::chrono::steady_clock::now();
                    shared->progress = p;
                });
        } catch (const std::exception& e) {
            // No thread could be had, or no memory: every track is said to have failed.
            Engine().StopRequested.store(false);
            rip::TrackResult failed;
            failed.kind = rip::TrackResult::Failed;
            failed.error = e.what();
            results.assign(ripPlan_.size(), failed);
        }
        {
            std::lock_guard lock(shared->mutex);
            shared->results = std::move(results);
            shared->over = true;
        }
        // The dialog's timer takes the end up: nothing of Qt is touched from this thread.
    });
}

void ProgressDialog::TickRip() {
    bool over = true;
    if (rip_) {
        std::lock_guard lock(rip_->mutex);
        over = rip_->over || !ripThread_.joinable();
    }
    if (over) {
        EndRip();
        return;
    }
    ShowRip();
}

void ProgressDialog::ShowRip() {
    rip::PipelineProgress p;
    std::chrono::steady_clock::time_point since;
    std::size_t ended = 0;
    std::string lastRead;
    if (rip_) {
        std::lock_guard lock(rip_->mutex);
        p = rip_->progress;
        since = rip_->readingSince;
        ended = rip_->ended;
        lastRead = rip_->lastRead;
    }
    const auto now = std::chrono::steady_clock::now();
    auto durationOf = [this](int track) -> double {
        for (std::size_t k = 0; k < ripPlan_.size(); ++k)
            if (ripPlan_[k].number == track) return ripDurations_[k];
        return 0;
    };
    // Encoded audio: the tracks ended, and how far each encoder is.
    double progress = 0;
    for (std::size_t k = 0; k < std::min(ended, ripDurations_.size()); ++k)
        progress += ripDurations_[k];
    for (const auto& [track, percent] : p.encoding) progress += durationOf(track) * percent / 100;
    const double elapsed = static_cast<double>(
        std::chrono::duration_cast<std::chrono::milliseconds>(now - runStart_).count());
    const double total = std::max(totalAudioMs_, progress);
    const double estimate = progress > 0 ? elapsed * total / progress : 0.0;
    count_->setText(QStringLiteral("已處理 %1 / %2 首音軌").arg(ended).arg(ripPlan_.size()));
    bar_->setValue(
        std::clamp(total > 0 ? static_cast<int>(progress * 100.0 / total) : 100, 0, 100));
    elapsed_->setText(QStringLiteral("完成時間:") + Q(Clock(elapsed)));
    remaining_->setText(QStringLiteral("剩餘:") + Q(Clock(std::max(0.0, estimate - elapsed))));
    total_->setText(QStringLiteral("總計:") + Q(Clock(estimate)));
    speed_->setText(Q(SpeedLine(
        elapsed > 0 ? static_cast<int>(std::min(progress * 100.0 / elapsed, 99999.0)) : 100)));
    if (ripStopping_) {
        reading_->setText(QStringLiteral("光碟機已停止讀取"));
    } else if (p.readingTrack > 0) {
        // The drive's speed: audio read of this track against the time it has taken.
        const double read = durationOf(p.readingTrack) * p.readPercent / 100;
        const double took = static_cast<double>(
            std::chrono::duration_cast<std::chrono::milliseconds>(now - since).count());
        QString text = QStringLiteral("正在讀取音軌 %1：%2%")
                           .arg(p.readingTrack, 2, 10, QLatin1Char('0'))
                           .arg(static_cast<int>(p.readPercent));
        if (took >= 500 && read > 0)
            text += QStringLiteral("，光碟機速度 x %1").arg(read / took, 0, 'f', 1);
        reading_->setText(text);
    } else if (p.testReadTrack > 0) {
        reading_->setText(QStringLiteral("正在測試讀取音軌 %1… (可按【停止】)")
                              .arg(p.testReadTrack, 2, 10, QLatin1Char('0')));
    } else {
        reading_->setText(p.readerDone ? QStringLiteral("光碟讀取完畢") : QString());
    }
    file_->setText(p.encoding.empty()
                       ? QString()
                       : QStringLiteral("同時編碼 %1 首音軌：").arg(p.encoding.size()));
    for (std::size_t i = 0; i < rows_.size(); ++i) {
        InFlightRow& r = rows_[i];
        if (i >= p.encoding.size()) {
            r.name->clear();
            r.bar->hide();
            continue;
        }
        std::string path;
        for (const rip::PipelineTrack& t : ripPlan_)
            if (t.number == p.encoding[i].first) path = t.outputPath;
        r.name->setText(r.name->fontMetrics().elidedText(Q(BaseName(path)), Qt::ElideMiddle,
                                                         std::max(r.name->width(), 300)));
        r.name->setToolTip(Q(path));
        r.bar->setValue(static_cast<int>(p.encoding[i].second));
        r.bar->show();
    }
    if (moreInFlight_) {
        const std::size_t more =
            p.encoding.size() > rows_.size() ? p.encoding.size() - rows_.size() : 0;
        moreInFlight_->setText(QStringLiteral("…另有 %1 首音軌正在編碼").arg(more));
        moreInFlight_->setVisible(more != 0);
    }
    if (verify_ && !ripStopping_ && lastRead.size() > 3)
        verify_->setText(QStringLiteral("音軌 %1 已讀取, CRC %2")
                             .arg(Q(lastRead.substr(0, 2)), Q(lastRead.substr(3)).toUpper()));
}

void ProgressDialog::EndRip() {
    if (ripThread_.joinable()) ripThread_.join();
    std::vector<rip::TrackResult> results;
    if (rip_) {
        std::lock_guard lock(rip_->mutex);
        results = std::move(rip_->results);
    }
    bar_->setValue(100);
    std::size_t notRipped = 0;
    for (std::size_t k = 0; k < std::min(results.size(), ripPlan_.size()); ++k) {
        const rip::PipelineTrack& t = ripPlan_[k];
        const rip::TrackResult& r = results[k];
        switch (r.kind) {
            case rip::TrackResult::Ripped:
                report_.written.push_back(t.outputPath);
                break;
            case rip::TrackResult::Stopped:
                // A playable beginning: the summary says which file and how much it holds.
                report_.stoppedFiles.push_back({t.outputPath, r.heldMs, r.durationMs});
                break;
            case rip::TrackResult::TestReadFailed:
                report_.failed.push_back({t.outputPath, "測試讀取失敗"});
                break;
            case rip::TrackResult::OutputFailed:
                // The engine said why in a message and removed the file.
                report_.failed.push_back(
                    {t.outputPath, r.shownText.empty() ? std::string("無法寫入") : r.shownText});
                break;
            case rip::TrackResult::Failed:
            case rip::TrackResult::Refused:
                if (r.code == 0 && !r.error.empty())
                    report_.failed.push_back({t.cdaPath, r.error});  // the system's words
                else
                    Failed(t.cdaPath, t.outputPath, r.code);
                break;
            case rip::TrackResult::StoppedInTestRead: {
                char line[96];
                std::snprintf(line, sizeof line,
                              "在音軌 %02d 的測試讀取中停止，這首沒有寫入任何檔案。", t.number);
                report_.stoppedNote = line;
                ++notRipped;
                break;
            }
            case rip::TrackResult::NotRipped:
                ++notRipped;
                break;
        }
    }
    // A stop pressed as the last track ended stopped nothing.
    if (ripStopping_ && (notRipped != 0 || !report_.stoppedFiles.empty())) {
        report_.stopped = true;
        report_.notStarted = notRipped;
    }
    // Each track's verification, as the drive's thread left it (it has ended).
    if (verified_)
        for (const cd::RipLogTrack& t : verified_->Log().tracks)
            verifyLines_.push_back(VerdictLine(t, verified_->LookedUp()));
    Finish();
}

void RunSingleProgress(QWidget* owner, const std::string& input) {
    ProgressDialog d(owner, input);
    d.exec();
}

void RunBatchProgress(QWidget* owner, const std::optional<std::string>& cdRoot) {
    ProgressDialog d(owner, cdRoot, true);
    d.exec();
}

void RunBatchProgress(QWidget* owner, const std::vector<std::string>& files) {
    ProgressDialog d(owner, std::move(files));
    d.exec();
}

}  // namespace tralux::app
