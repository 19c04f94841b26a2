#pragma once
// The frameless skinned main window: one current input, preview with the spectrum, the output
// quality buttons, the equalizer, and the Convert, Batch and Rip CD flows.
#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <QImage>
#include <QStringList>
#include <QTimer>
#include <QWidget>

#include "app/core/layout.h"
#include "app/settings/settings.h"

namespace tralux::app {

enum class DropChoice { Batch, LoadFirst, Cancel };

// The dialogs the window opens; tests replace them.
struct WindowDialogs {
    std::function<bool(QWidget*)> conversionSettings;
    std::function<bool(QWidget*)> batchSettings;
    std::function<bool(QWidget*, const std::string& root)> cdRip;
    std::function<std::optional<int>(QWidget*, const std::vector<std::string>& roots)> chooseDrive;
    std::function<QString(QWidget*, const QString& folder)> openFile;
    std::function<void(QWidget*, const std::string& input)> singleProgress;
    std::function<void(QWidget*, const std::optional<std::string>& cdRoot)> batchProgress;
    // Several files or a folder dropped: convert them as a batch (`what` says how)?
    std::function<DropChoice(QWidget*, const QString& what)> askDropBatch;
    std::function<void(QWidget*, const std::vector<std::string>& files)> batchFiles;
    std::function<void(QWidget*)> about;
    static WindowDialogs Defaults();
};

class MainWindow final : public QWidget {
public:
    explicit MainWindow(WindowDialogs dialogs = WindowDialogs::Defaults(),
                        QWidget* parent = nullptr);
    ~MainWindow() override;

    // Loads a file as the current input; false (LastError set) when it cannot be read.
    bool LoadInput(const std::string& path);
    // Dropped files: several, or a folder, are offered as a batch; otherwise the first that
    // loads becomes the input and is previewed.
    void DropFiles(const QStringList& files);
    // Runs the action of a control as a press at its centre would.
    void PressControl(int control);

    // Read by tests and the screenshots.
    const std::string& InputPath() const { return inputPath_; }
    std::uint64_t PositionMs() const { return positionMs_; }
    std::uint64_t LengthMs() const { return lengthMs_; }
    int ChosenRate() const { return chosenRate_; }
    int ChosenChannels() const { return chosenChannels_; }
    const settings::EqualizerSettings& Equalizer() const { return eq_; }
    bool PreviewPlaying() const;
    const std::array<double, 11>& Spectrum() const { return spectrum_; }
    QString DescriptionText() const { return description_; }
    // The control Tab has moved to (0 before the first Tab).
    int FocusedControl() const { return focused_; }

protected:
    void paintEvent(QPaintEvent*) override;
    void mousePressEvent(QMouseEvent*) override;
    void mouseMoveEvent(QMouseEvent*) override;
    void mouseReleaseEvent(QMouseEvent*) override;
    void leaveEvent(QEvent*) override;
    void closeEvent(QCloseEvent*) override;
    void dragEnterEvent(QDragEnterEvent*) override;
    void dropEvent(QDropEvent*) override;
    void keyPressEvent(QKeyEvent*) override;
    bool focusNextPrevChild(bool next) override;
    void focusInEvent(QFocusEvent*) override;
    void focusOutEvent(QFocusEvent*) override;
    bool event(QEvent*) override;
    void changeEvent(QEvent*) override;

private:
    void BuildFaces();
    void PressAt(int control, QPointF local, QPointF global);
    void RunPressed(int control, const std::function<void()>& action);
    void UpdateOutputConfig();
    void PassEqualizer();

    void LoadFromDialog();
    void Convert();
    void RipCd();
    void Batch();
    void ClosePressed();
    void TogglePreview();
    void StartPreview();
    bool StopPreview();
    void ChooseQuality(int control);
    void PressPosition(int x);
    void PressEqualizer(int control, int y);
    void ResetEqualizer();
    void SaveState();
    void RestorePlacement();

    void BlinkTick();
    void SpectrumTick();
    void RepaintControl(int control);

    QImage face_, hoverFace_, pressedFace_, glyphs_;
    qreal faceDpr_ = 0;

    WindowDialogs dialogs_;
    std::string inputPath_;
    QString description_;
    int inputRate_ = 0, inputChannels_ = 0;
    std::uint64_t lengthMs_ = 0, positionMs_ = 0;
    int chosenRate_ = 8000, chosenChannels_ = 1;
    settings::EqualizerSettings eq_;

    int pressed_ = 0, highlighted_ = 0;
    int focused_ = 0;
    bool blinkOn_ = false;
    std::array<double, 11> spectrum_{};
    bool spectrumShown_ = false;
    bool previewStarted_ = false;

    int dragControl_ = 0;
    QPointF dragLast_;
    bool dragWasPlaying_ = false;
    bool moving_ = false;
    QPoint grabOffset_;
    bool stateSaved_ = false;

    QTimer blinkTimer_, spectrumTimer_;
};

// The spectrum as shown: bands wholly above the output's Nyquist frequency stay dark.
void DarkenBandsAboveNyquist(std::array<double, 11>& spectrum, int outputRate);

// Where a saved placement opens: moved wholly onto the screen that holds most of it; nullopt
// when no screen holds any of it.
std::optional<QPoint> PlaceOnScreen(const QRect& wanted, const std::vector<QRect>& screens);

// Dropped paths as batch inputs: files as they are, a folder's WAV, MP3 and CD track files.
std::vector<std::string> ExpandDropped(const QStringList& paths, bool* hadFolder = nullptr);

// A control's tool tip: its name and its key.
QString ControlToolTip(int control);

// One error box naming each input that could not be loaded (path, engine code) and why.
void ReportLoadFailures(const std::vector<std::pair<std::string, int>>& failures);

// The stored "name|patterns|...||" filter in Qt's "name (patterns);;..." form.
QString QtFileFilter(const char* stored);

}  // namespace tralux::app
