#include "app/window/progress_dialog.h"

#include <algorithm>

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/dialogs/dialogs.h"
#include "app/models/batch_settings.h"
#include "app/settings/settings.h"
#include "app/window/backend.h"
#include "app/window/ui_config.h"
#include "app/window/wait.h"
#include "cddb/track_name.h"
#include "engine/job/engine_state.h"
#include "platform/notify/notifier.h"

namespace tralux::app {

namespace {

QString Q(const std::string& s) {
    return QString::fromStdString(s);
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

}  // namespace

ProgressDialog::ProgressDialog(QWidget* owner, std::string input)
    : QDialog(owner), batch_(false), input_(std::move(input)) {
    Build();
    const EngineState& e = Engine();
    jitter_ = settings::ReadOption("Jitter") == 1;
    title_->setText(Q(SingleTitleLine(e.OutputFormat.load(), BaseName(input_))));
    ShowTrackTimes();
    const int f = e.OutputFormat.load();
    setWindowTitle(f == 1   ? QStringLiteral("MP3 編碼    ")
                   : f == 2 ? QStringLiteral("MSAudio 4.0 編碼    ")
                            : QStringLiteral("正在進行解碼"));
}

ProgressDialog::ProgressDialog(QWidget* owner, std::optional<std::string> cdRoot, bool)
    : QDialog(owner), batch_(true), cdRoot_(std::move(cdRoot)) {
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

ProgressDialog::~ProgressDialog() {
    if (!batch_) return;
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
        file_ = label();
        file_->setWordWrap(true);
        outer->addWidget(count_);
        outer->addWidget(file_);
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
    bar_ = new QProgressBar(this);
    bar_->setRange(0, 100);
    bar_->setValue(0);
    outer->addWidget(bar_);
    speed_ = label(QStringLiteral("速度: x 1.0 "));
    compression_ = label();
    quality_ = label();
    output_ = label(batch_ ? QString() : QStringLiteral("輸出檔案名稱:"));
    output_->setWordWrap(true);
    outer->addWidget(speed_);
    outer->addWidget(compression_);
    outer->addWidget(quality_);
    outer->addWidget(output_);
    stop_ = new QPushButton(QStringLiteral("停止"), this);
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
    compression_->setText(
        Q(CompressionLine(format, StoredKbps("MP3BitRate", 128), StoredKbps("MSABitRate", 64))));
    quality_->setText(Q(QualityLine(static_cast<int>(e.OutputRate.load()), e.OutputChannels.load(),
                                    e.EqualizerOn.load(), jitter_)));
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
    // Starts once the dialog is on screen, as the first paint did.
    QTimer::singleShot(0, this, [this] {
        if (batch_) {
            CollectBatch();
            timer_.start(300);
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
    const char* ext = format == 1 ? "mp3" : format == 2 ? "wma" : "wav";
    return WithTrailingSlash(folder) + cddb::TrackFileName(track, info.Title, ext);
}

}  // namespace

void ProgressDialog::StartSingle() {
    EngineState& e = Engine();
    const std::string output =
        CdTrackOutput(CurrentBackend(), input_, Ui().outputFolder, e.OutputFormat.load(),
                      OutputPathFor(input_, Ui().outputFolder, e.OutputFormat.load()));
    jobStart_ = std::chrono::steady_clock::now();
    if (!CurrentBackend().Start(input_, output, kModeConvert)) {
        CurrentBackend().ReportLastError();
        finished_ = true;
        reject();
        return;
    }
    jobActive_ = true;
    output_->setText(QStringLiteral("輸出檔案名稱:") + Q(e.OutputPath));
    ShowTrackTimes();
    timer_.start(1000);
}

void ProgressDialog::CollectBatch() {
    Backend& b = CurrentBackend();
    BatchList list;
    if (cdRoot_) {
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
        list = CollectFolderInputs(inputFolder_, b.ListFolder(inputFolder_), f);
    }
    inputs_ = std::move(list.inputs);
    next_ = 0;
    Engine().PositionMs.store(0.0);
    if (list.truncated)
        ShowMessage("符合的檔案超過 " + std::to_string(kBatchLimit) + " 個，這個批次只轉換前 " +
                        std::to_string(kBatchLimit) + " 個。",
                    "Quorvatix Tralux");
}

void ProgressDialog::Tick() {
    // A message box or a CD information lookup inside a tick runs its own event loop; the
    // timer must not start a second job under it.
    if (inTick_ || finished_) return;
    inTick_ = true;
    struct Leave {
        bool& flag;
        ~Leave() { flag = false; }
    } leave{inTick_};
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
        if (!batch_) output_->setText(QStringLiteral("輸出檔案名稱:") + Q(e.OutputPath));
        return;
    }
    if (jobActive_) {
        // The job ended: a failure is said, not taken for success.
        jobActive_ = false;
        bar_->setValue(100);
        if (e.LastError.load() != 0) CurrentBackend().ReportLastError();
    }
    if (!batch_ || next_ >= inputs_.size()) {
        Finish();
        return;
    }
    StartNext();
}

void ProgressDialog::StartNext() {
    EngineState& e = Engine();
    Backend& b = CurrentBackend();
    const std::size_t index = next_++;
    const std::string& input = inputs_[index];
    count_->setText(Q(BatchCountLine(index + 1, inputs_.size())));
    file_->setText(Q(BatchFileLine(input)));
    bar_->setValue(0);
    const int format = settings::ReadOption("BOutFormat");
    std::string output = OutputPathFor(input, outputFolder_, format < 0 ? 0 : format);
    // A ripped track is named after its title as the CD ripping dialog left it.
    if (cdRoot_) {
        const int track = b.CdaTrack(input);
        const models::CdDisc& disc = LastRippedDisc();
        if (track >= 1 && track <= static_cast<int>(disc.tracks.size())) {
            const std::string& title = disc.tracks[static_cast<std::size_t>(track - 1)].title;
            const char* ext = format == 1 ? "mp3" : format == 2 ? "wma" : "wav";
            output = WithTrailingSlash(outputFolder_) + cddb::TrackFileName(track, title, ext);
        }
    } else {
        output = CdTrackOutput(b, input, outputFolder_, format < 0 ? 0 : format, output);
    }
    const OutputClash clash = CheckBatchOutput(inputs_, index, output, written_);
    if (clash != OutputClash::None) {
        ShowMessage(OutputClashMessage(clash, output), "Quorvatix Tralux", MessageIcon::Warning);
        return;
    }
    StreamInfo info;
    if (!b.Probe(input, info)) {
        b.ReportLastError();
        return;
    }
    if (const auto out =
            settings::ResolveBatchOutput(static_cast<int>(info.SampleRate), info.Channels)) {
        e.OutputFormat.store(out->format);
        e.OutputRate.store(static_cast<std::uint32_t>(out->rate));
        e.OutputChannels.store(static_cast<std::uint16_t>(out->channels));
    }
    e.TagTitle = info.Title;
    e.TagArtist = info.Artist;
    e.TagCopyright = info.Copyright;
    e.StartMs.store(0);
    e.PositionMs.store(0.0);
    e.DurationMs.store(info.DurationMs);
    jobStart_ = std::chrono::steady_clock::now();
    e.EqualizerOn.store(false);
    ShowTrackTimes();
    elapsed_->setText(QStringLiteral("完成時間:00:00"));
    remaining_->setText(QStringLiteral("剩餘:00:00"));
    total_->setText(QStringLiteral("總計:00:00"));
    ShowFigures();
    if (!b.Start(input, output, kModeConvert)) {
        b.ReportLastError();
        return;
    }
    jobActive_ = true;
    written_.push_back(e.OutputPath);
    output_->setText(Q(BatchOutputLine(e.OutputFormat.load(), e.OutputPath)));
}

void ProgressDialog::Stop() {
    EngineState& e = Engine();
    if (e.JobRunning.load() && !e.StopRequested.load()) {
        e.StopRequested.store(true);
        WaitDispatching([] { return !Engine().JobRunning.load(); });
        e.StopRequested.store(false);
    }
    jobActive_ = false;  // a stopped job is no failure
    Finish();
}

void ProgressDialog::Finish() {
    if (finished_) return;
    finished_ = true;
    timer_.stop();
    accept();
}

void ProgressDialog::reject() {
    // Escape and the close box stop the job as "停止" does.
    if (!finished_) {
        Stop();
        return;
    }
    QDialog::reject();
}

void RunSingleProgress(QWidget* owner, const std::string& input) {
    ProgressDialog d(owner, input);
    d.exec();
}

void RunBatchProgress(QWidget* owner, const std::optional<std::string>& cdRoot) {
    ProgressDialog d(owner, cdRoot, true);
    d.exec();
}

}  // namespace tralux::app
