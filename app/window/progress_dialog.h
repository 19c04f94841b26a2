#pragma once
// The two progress dialogs: one conversion of the current input, and a batch over a folder or
// the ticked tracks of a CD. Both start jobs, show their progress on a timer, and stop them.
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <QDialog>
#include <QTimer>

#include "app/core/progress.h"
#include "app/models/output_guard.h"
#include "engine/job/stream_info.h"
#include "rip/rip_pipeline.h"

class QLabel;
class QProgressBar;
class QPushButton;
class QVBoxLayout;

namespace tralux {
class Job;
class JobPool;
}  // namespace tralux

namespace tralux::app {

class ProgressDialog : public QDialog {
public:
    // Single conversion of `input`.
    ProgressDialog(QWidget* owner, std::string input);
    // Batch over the stored input folder, or over a CD drive's root.
    ProgressDialog(QWidget* owner, std::optional<std::string> cdRoot, bool batch);
    // Batch over given files (dropped on the window).
    ProgressDialog(QWidget* owner, std::vector<std::string> files);
    ~ProgressDialog() override;

    bool IsBatch() const { return batch_; }
    const std::vector<std::string>& Inputs() const { return inputs_; }
    // What the run did so far; the summary shown at the end is made from it.
    const models::RunReport& Report() const { return report_; }
    // Presses "停止".
    void Stop();
    // Ticks of the timer, run at once (tests).
    void Tick();
    // Files a folder or dropped batch converts at once (its jobs; 0 before the run).
    std::size_t Width() const;

protected:
    void showEvent(QShowEvent*) override;
    void reject() override;

private:
    void Build();
    void StartSingle();
    void CollectBatch();
    void StartNext();
    void ShowFigures();
    void ShowTrackTimes();
    void Finish();
    void TickSoon();
    void ShowSummary();
    // The job of `input` could not run or ended with `code`: kept for the summary.
    void Failed(const std::string& input, const std::string& output, int code);
    std::int64_t ElapsedMs() const;
    // Verification of a CD's tracks: set up with the batch, told about each track.
    void BeginVerification();
    bool BeforeTrack(int track, const std::string& input);
    void AfterTrack(const std::string& file, const std::string& error);

    // The file/folder batch: every name and question settled before the run, then up to
    // "BJobs" (default: the core count) jobs at once. The CD batch stays one track at a time.
    struct Planned {
        std::string input, output;
        StreamInfo info;
        int format = 0;
        std::uint32_t rate = 0;
        std::uint16_t channels = 2;
        bool replaces = false;  // the user agreed to replace the file there
        // An earlier item reading the file this output replaces: it must end first.
        std::optional<std::size_t> after;
    };
    // False when the user cancelled at the question about existing outputs.
    bool PlanBatch();
    // One question for every output that exists (`inputIndex`: each output's input); nullopt
    // when the user cancelled.
    std::optional<models::ExistingAnswer> AskAboutExisting(
        const std::vector<std::string>& outputs, const std::vector<std::size_t>& inputIndex);
    // Where a CD track's output goes: named after its title as the CD ripping dialog left it.
    std::string CdOutput(const std::string& input, int format) const;
    void BuildInFlightRows(std::size_t rows);
    void TickParallel();
    void StartMore();
    void Ended(Job& job, std::size_t item);
    void ShowOverall();
    void StopParallel();

    // A CD rip to an encoded format: the drive reads on while earlier tracks encode, on a
    // thread of its own; the dialog polls what it shares.
    struct RipShared;
    bool PlanRip();
    void StartRip();
    void TickRip();
    void ShowRip();
    void EndRip();
    bool pipelined_ = false, ripStopping_ = false;
    std::vector<rip::PipelineTrack> ripPlan_;
    std::vector<std::uint32_t> ripDurations_;  // ms, per planned track
    std::shared_ptr<RipShared> rip_;
    std::thread ripThread_;
    QLabel* reading_ = nullptr;

    bool parallel_ = false;
    std::vector<Planned> plan_;
    std::vector<bool> ended_;
    std::size_t nextPlanned_ = 0, endedCount_ = 0;
    double doneAudioMs_ = 0, totalAudioMs_ = 0;  // converted so far / to convert
    std::chrono::steady_clock::time_point runStart_;
    std::unique_ptr<JobPool> pool_;
    struct InFlightRow {
        QLabel* name = nullptr;
        QProgressBar* bar = nullptr;
    };
    std::vector<InFlightRow> rows_;
    QLabel* moreInFlight_ = nullptr;
    QVBoxLayout* flight_ = nullptr;

    bool batch_ = false;
    std::string input_;
    std::optional<std::string> cdRoot_;
    bool started_ = false, finished_ = false, inTick_ = false, jobActive_ = false;
    bool stopping_ = false;
    bool testReading_ = false, testStopped_ = false;  // a test read runs / was stopped
    bool beginning_ = false;  // the disc's lookup runs (a stop there counts as testStopped_)
    std::chrono::steady_clock::time_point jobStart_;
    std::uint32_t declaredMs_ = 0;  // the running job's input is cut short of this (0: it is not)

    // Batch state.
    std::string inputFolder_, outputFolder_;
    bool jitter_ = false;
    std::vector<std::string> inputs_;
    std::optional<std::vector<std::string>> given_;
    std::size_t next_ = 0;
    models::OutputGuard guard_;
    models::RunReport report_;
    std::string currentInput_, currentOutput_;
    std::string verifySummary_;
    int savedFormat_ = 0, savedRate_ = 0, savedChannels_ = 0;
    bool savedKeep_ = true, savedEq_ = false;

    QLabel *title_ = nullptr, *count_ = nullptr, *file_ = nullptr;
    QLabel *start_ = nullptr, *current_ = nullptr, *end_ = nullptr;
    QLabel *elapsed_ = nullptr, *remaining_ = nullptr, *total_ = nullptr, *speed_ = nullptr;
    QLabel *compression_ = nullptr, *output_ = nullptr, *quality_ = nullptr;
    QProgressBar* bar_ = nullptr;
    QPushButton* stop_ = nullptr;
    QTimer timer_;

    std::unique_ptr<rip::VerifiedRip> verified_;
    int ripTrack_ = 0;                      // the track whose copy runs, 0 for none
    QLabel* verify_ = nullptr;              // the last track's result
    std::vector<std::string> verifyLines_;  // every track's result, for the summary
};

void RunSingleProgress(QWidget* owner, const std::string& input);
void RunBatchProgress(QWidget* owner, const std::optional<std::string>& cdRoot);
void RunBatchProgress(QWidget* owner, const std::vector<std::string>& files);

}  // namespace tralux::app
