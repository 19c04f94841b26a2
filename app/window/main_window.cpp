#include "app/window/main_window.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <thread>

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHelpEvent>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QPainter>
#include <QScreen>
#include <QKeyEvent>
#include <QToolTip>
#include <QWindow>

#include "app/core/progress.h"
#include "app/core/region.h"
#include "app/core/slider.h"
#include "app/dialogs/dialogs.h"
#include "app/models/output_guard.h"
#include "app/skin/skin.h"
#include "app/window/about_box.h"
#include "app/window/backend.h"
#include "app/window/drive_dialog.h"
#include "app/window/progress_dialog.h"
#include "app/window/ui_config.h"
#include "app/window/wait.h"
#include "engine/dsp/analysis.h"
#include "engine/dsp/equalizer.h"
#include "engine/job/describe.h"
#include "engine/job/engine_state.h"
#include "engine/job/job.h"
#include "engine/job/printable_text.h"
#include "engine/playback/playback.h"
#include "platform/media_loader/media_names.h"
#include "platform/notify/notifier.h"

namespace tralux::app {

namespace {

constexpr const char* kCaption = "Quorvatix Tralux";
// A conversion "from the current position" needs at least this much input after it.
constexpr std::uint64_t kShortestFromPositionMs = 1000;
constexpr const char* kConvertPrompt =
    "將聲音檔案或 CD 音軌            \n拖入 Quorvatix Tralux 或按【載入】";
constexpr const char* kPlayPrompt = "將聲音檔案或 CD 音軌            \n拖入 Tralux 或按【載入】";
// The file-open filter in its stored form, turned into Qt's form when shown.
constexpr const char* kOpenFilter =
    "聲音檔案   (*.wav;*.cda;*.mp3;*.flac;*.ogg;*.opus;*.m4a)|*.wav;*.cda;*.mp3;*.flac;*.ogg;*.oga;"
    "*.opus;*.m4a;*.m4b;*.mp4;*.aac;*.aif;*.aiff;*.aifc;*.ape;*.wv;*.mp2;*.mpc;*.wma;*.asf;*.tta;"
    "*.caf;*.ac3;*.spx|WAV 檔案   (*.wav)|*.wav|CD 音軌    "
    "(*.cda)|*.cda|"
    "MP3 檔案   (*.mp3)|*.mp3|"
    "FLAC 檔案   (*.flac)|*.flac|Ogg Vorbis、Opus 檔案   (*.ogg;*.oga;*.opus)|*.ogg;*.oga;*.opus|"
    "AAC、ALAC 檔案   (*.m4a;*.m4b;*.mp4;*.aac)|*.m4a;*.m4b;*.mp4;*.aac|"
    "所有檔案   (*.*)|*.*||";

QRectF LogicalRect(const HotRect& h) {
    return QRectF(h.left, h.top, h.right - h.left + 1, h.bottom - h.top + 1);
}

const HotRect& Rect(int c) {
    return SkinHotRects()[static_cast<std::size_t>(c)];
}

bool IsEqualizerSlider(int c) {
    return c >= kFirstBand && c <= kMaster;
}

// Lit segments (0..7) of a spectrum bar: the level is a linear amplitude, the bands the
// analysis's logarithmic magnitudes (0 at full scale, about -2.6 at one step).
int SpectrumSegments(double value, bool level) {
    double h = level ? value / 0.8 : (value + 2.2) / 1.9;
    h = std::clamp(h, 0.0, 1.0);
    return static_cast<int>(std::lround(h * 7));
}

}  // namespace

// Names each file that could not be loaded and why.
void ReportLoadFailures(const std::vector<std::pair<std::string, int>>& failures) {
    if (failures.empty()) return;
    std::string text;
    if (failures.size() == 1) {
        text = "無法開啟 " + failures[0].first + "\n" +
               models::InputFailureReason(failures[0].first, failures[0].second);
    } else {
        text = "無法開啟下列檔案：";
        for (const auto& [path, code] : failures)
            text += "\n" + path + "：" + models::InputFailureReason(path, code);
    }
    ShowMessage(text, kCaption, MessageIcon::Error);
}

void DarkenBandsAboveNyquist(std::array<double, 11>& spectrum, int outputRate) {
    // Such a band has no bins: the analysis gives it 0.0, which would light it fully.
    for (std::size_t b = 0; b < dsp::kEqualizerBands.size(); ++b)
        if (outputRate > 0 && dsp::kEqualizerBands[b].lo * 2 >= outputRate)
            spectrum[b + 1] = dsp::BandMagnitudeFloor();
}

WindowDialogs WindowDialogs::Defaults() {
    WindowDialogs d;
    d.conversionSettings = [](QWidget* w) { return RunConversionSettingsDialog(w); };
    d.batchSettings = [](QWidget* w) { return RunBatchSettingsDialog(w); };
    d.cdRip = [](QWidget* w, const std::string& root) { return RunCdRipDialog(w, root); };
    d.chooseDrive = [](QWidget* w, const std::vector<std::string>& roots) {
        return RunDriveChoiceDialog(w, roots, 0);
    };
    d.openFile = [](QWidget* w, const QString& folder) {
        return QFileDialog::getOpenFileName(w, QStringLiteral("開啟聲音檔案"), folder,
                                            QtFileFilter(kOpenFilter));
    };
    d.singleProgress = [](QWidget* w, const std::string& input) { RunSingleProgress(w, input); };
    d.batchProgress = [](QWidget* w, const std::optional<std::string>& root) {
        RunBatchProgress(w, root);
    };
    d.about = [](QWidget* w) { RunAboutBox(w); };
    d.askDropBatch = [](QWidget* w, const QString& what) {
        QMessageBox box(QMessageBox::Question, QString::fromUtf8(kCaption), what,
                        QMessageBox::NoButton, w);
        QPushButton* batch = box.addButton(QStringLiteral("批次轉換(&B)"), QMessageBox::AcceptRole);
        QPushButton* first =
            box.addButton(QStringLiteral("只載入第一個(&L)"), QMessageBox::ActionRole);
        box.addButton(QStringLiteral("取消"), QMessageBox::RejectRole);
        box.setDefaultButton(batch);
        box.exec();
        return box.clickedButton() == batch   ? DropChoice::Batch
               : box.clickedButton() == first ? DropChoice::LoadFirst
                                              : DropChoice::Cancel;
    };
    d.batchFiles = [](QWidget* w, const std::vector<std::string>& files) {
        RunBatchProgress(w, files);
    };
    return d;
}

MainWindow::MainWindow(WindowDialogs dialogs, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint), dialogs_(std::move(dialogs)) {
    settings::EnsureOptionDefaults();
    EngineState& e = Engine();
    e.OutputChannels.store(1);
    e.OutputRate.store(8000);
    Ui().keepInputQuality = true;
    Ui().qualityDescription = "8000 Hz, 單聲";
    settings::LoadEqualizer(eq_);

    // The platform adds the application's display name to any other title: the window takes
    // that name alone (the version is on the display and in the About box).
    setWindowTitle(QStringLiteral("Quorvatix Tralux"));
    setWindowIcon(QIcon(QPixmap::fromImage(skin::RenderAppIcon(256))));
    setFixedSize(kFaceWidth, kFaceHeight);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMouseTracking(true);
    setAcceptDrops(true);
    setCursor(Qt::ArrowCursor);

    // The outline comes from the key-coloured face at one logical pixel per pixel.
    const QRegion region = RegionFromSkin(skin::RenderFace(skin::Look::Normal, 1.0, true));
    if (region.isEmpty()) {
        ShowMessage("Error getting region!!", kCaption, MessageIcon::Error);
        std::exit(1);
    }
    setMask(region);
    RestorePlacement();

    connect(&blinkTimer_, &QTimer::timeout, this, [this] { BlinkTick(); });
    connect(&spectrumTimer_, &QTimer::timeout, this, [this] { SpectrumTick(); });
    blinkTimer_.start(300);
    spectrumTimer_.start(160);
    settings::ChooseDefaultOutputFolder();

    setFocusPolicy(Qt::StrongFocus);
}

namespace {

// Every face button has a key; the tool tips name them.
struct ControlKey {
    int control;
    int key;
    Qt::KeyboardModifiers modifiers;
    const char* label;
};
const ControlKey kControlKeys[] = {
    {kLoad, Qt::Key_O, Qt::ControlModifier, "Ctrl+O"},
    {kConvert, Qt::Key_Return, Qt::ControlModifier, "Ctrl+Enter"},
    {kConvert, Qt::Key_Enter, Qt::ControlModifier | Qt::KeypadModifier, nullptr},
    {kBatch, Qt::Key_B, Qt::ControlModifier, "Ctrl+B"},
    {kRipCd, Qt::Key_R, Qt::ControlModifier, "Ctrl+R"},
    {kAbout, Qt::Key_F1, Qt::NoModifier, "F1"},
    {kClose, Qt::Key_Q, Qt::ControlModifier, "Ctrl+Q"},
    {kMinimize, Qt::Key_M, Qt::ControlModifier, "Ctrl+M"},
    {kPlay, Qt::Key_Space, Qt::NoModifier, "空白鍵"},
    {kOriginalQuality, Qt::Key_0, Qt::NoModifier, "0"},
    {kRate8000, Qt::Key_1, Qt::NoModifier, "1"},
    {kRate8000 + 1, Qt::Key_2, Qt::NoModifier, "2"},
    {kRate8000 + 2, Qt::Key_3, Qt::NoModifier, "3"},
    {kRate8000 + 3, Qt::Key_4, Qt::NoModifier, "4"},
    {kRate8000 + 4, Qt::Key_5, Qt::NoModifier, "5"},
    {kRate44100, Qt::Key_6, Qt::NoModifier, "6"},
    {kMono, Qt::Key_M, Qt::NoModifier, "M"},
    {kStereo, Qt::Key_S, Qt::NoModifier, "S"},
    {kEqualizerOn, Qt::Key_E, Qt::NoModifier, "E"},
    {kEqualizerOff, Qt::Key_E, Qt::ShiftModifier, "Shift+E"},
    {kEqualizerReset, Qt::Key_R, Qt::NoModifier, "R"},
};
constexpr std::uint64_t kSeekStepMs = 5000;
// Arrow keys move a focused fader by a small step, Page Up and Page Down by a large one.
constexpr int kFaderStep = 2;
constexpr int kFaderPage = 10;

// The order Tab visits the face's controls: row by row as they stand on the face, the title
// bar's two buttons last.
constexpr int kFocusOrder[] = {kPosition,      kPlay,          kLoad,           kConvert,
                               kRipCd,         kBatch,         kAbout,          kOriginalQuality,
                               kStereo,        kMono,          kRate8000,       kRate8000 + 1,
                               kRate8000 + 2,  kRate8000 + 3,  kRate8000 + 4,   kRate44100,
                               kEqualizerOn,   kEqualizerOff,  kEqualizerReset, kFirstBand,
                               kFirstBand + 1, kFirstBand + 2, kFirstBand + 3,  kFirstBand + 4,
                               kFirstBand + 5, kFirstBand + 6, kFirstBand + 7,  kFirstBand + 8,
                               kLastBand,      kMaster,        kMinimize,       kClose};

}  // namespace

QString ControlToolTip(int control) {
    const std::string_view name = ControlName(control);
    QString tip = QString::fromUtf8(name.data(), static_cast<int>(name.size()));
    if (tip.isEmpty()) return tip;
    for (const ControlKey& k : kControlKeys)
        if (k.control == control && k.label) {
            const QString key = QString::fromUtf8(k.label);
            // Some names carry their key already: it is named once, the same way as the others.
            tip.remove(QStringLiteral(" (%1)").arg(key));
            return tip + QStringLiteral("（%1）").arg(key);
        }
    if (control == kPosition) return tip + QStringLiteral("（← →）");
    if (IsEqualizerSlider(control)) return tip + QStringLiteral("（Tab 選取後按 ↑ ↓）");
    return tip;
}

bool MainWindow::focusNextPrevChild(bool next) {
    // Tab stays on the face: it walks its controls instead of leaving the window.
    constexpr int n = static_cast<int>(std::size(kFocusOrder));
    int at = -1;
    for (int i = 0; i < n; ++i)
        if (kFocusOrder[i] == focused_) at = i;
    if (at < 0)
        at = next ? 0 : n - 1;
    else
        at = (at + (next ? 1 : n - 1)) % n;
    if (focused_) RepaintControl(focused_);
    focused_ = kFocusOrder[at];
    update();
    return true;
}

void MainWindow::focusInEvent(QFocusEvent* ev) {
    update();
    QWidget::focusInEvent(ev);
}

void MainWindow::focusOutEvent(QFocusEvent* ev) {
    update();
    QWidget::focusOutEvent(ev);
}

void MainWindow::keyPressEvent(QKeyEvent* ev) {
    const Qt::KeyboardModifiers mods = ev->modifiers() & ~Qt::KeypadModifier;
    for (const ControlKey& k : kControlKeys)
        if (ev->key() == k.key && mods == (k.modifiers & ~Qt::KeypadModifier)) {
            PressControl(k.control);
            return;
        }
    if (focused_ && mods == Qt::NoModifier) {
        // Enter presses the focused control as a click on it would.
        if ((ev->key() == Qt::Key_Return || ev->key() == Qt::Key_Enter) &&
            !IsEqualizerSlider(focused_) && focused_ != kPosition) {
            PressControl(focused_);
            return;
        }
        if (IsEqualizerSlider(focused_)) {
            int step = 0;
            // The faders' values grow downwards: up lowers the value.
            if (ev->key() == Qt::Key_Up) step = -kFaderStep;
            if (ev->key() == Qt::Key_Down) step = kFaderStep;
            if (ev->key() == Qt::Key_PageUp) step = -kFaderPage;
            if (ev->key() == Qt::Key_PageDown) step = kFaderPage;
            if (step != 0) {
                auto& v = eq_.levels[static_cast<std::size_t>(focused_ - kFirstBand)];
                v = std::clamp(v + step, 0, 99);
                PassEqualizer();
                update();
                return;
            }
        }
    }
    // Left and right seek, as a press on the position slider would.
    if ((ev->key() == Qt::Key_Left || ev->key() == Qt::Key_Right) && mods == Qt::NoModifier &&
        lengthMs_ > 0) {
        const bool wasPlaying = StopPreview();
        positionMs_ = ev->key() == Qt::Key_Left ? positionMs_ - std::min(positionMs_, kSeekStepMs)
                                                : std::min(lengthMs_, positionMs_ + kSeekStepMs);
        update();
        if (wasPlaying) StartPreview();
        return;
    }
    QWidget::keyPressEvent(ev);
}

MainWindow::~MainWindow() {
    // Never leave a worker writing into a window that is gone.
    EngineState& e = Engine();
    if (e.JobRunning.load()) {
        e.StopRequested.store(true);
        WaitForJobEnd(std::chrono::seconds(10));
        WaitForJob();
        e.StopRequested.store(false);
    }
    // A job that ended by itself still has its thread to join; left alone, the program would
    // abort on the way out.
    WaitForJob();
}

bool MainWindow::PreviewPlaying() const {
    return previewStarted_ && Engine().JobRunning.load();
}

// --- Drawing -----------------------------------------------------------------------------

void MainWindow::BuildFaces() {
    const qreal dpr = devicePixelRatioF();
    if (dpr == faceDpr_ && !face_.isNull()) return;
    faceDpr_ = dpr;
    face_ = skin::RenderFace(skin::Look::Normal, dpr, false);
    hoverFace_ = skin::RenderFace(skin::Look::Hover, dpr, false);
    pressedFace_ = skin::RenderFace(skin::Look::Pressed, dpr, false);
    glyphs_ = skin::RenderGlyphStrip(dpr);
}

void MainWindow::paintEvent(QPaintEvent*) {
    BuildFaces();
    QPainter p(this);
    p.setRenderHint(QPainter::SmoothPixmapTransform, false);
    p.drawImage(QPointF(0, 0), face_);

    auto copyFrom = [&](const QImage& src, int c) {
        const QRectF r = LogicalRect(Rect(c));
        const QRectF s(r.left() * faceDpr_, r.top() * faceDpr_, r.width() * faceDpr_,
                       r.height() * faceDpr_);
        p.drawImage(r, src, s);
    };
    const bool loaded = !inputPath_.empty();
    auto selected = [&](int c) {
        if (c == kEqualizerOn) return eq_.on;
        if (c == kEqualizerOff) return !eq_.on;
        if (!loaded) return false;
        if (c == kStereo) return chosenChannels_ == 2;
        if (c == kMono) return chosenChannels_ == 1;
        if (c == kOriginalQuality)
            return chosenRate_ == inputRate_ && chosenChannels_ == inputChannels_;
        if (c >= kRate8000 && c <= kRate44100)
            return chosenRate_ == kRateButtonHz[static_cast<std::size_t>(c - kRate8000)];
        if (c == kPlay) return PreviewPlaying();
        return false;
    };
    for (int c : kHitOrder) {
        if (IsEqualizerSlider(c) || c == kPosition || c == kInactiveDisplay ||
            c == kInactiveSpectrum)
            continue;
        if (c == pressed_ || selected(c) || (c == kLoad && blinkOn_ && !loaded))
            copyFrom(pressedFace_, c);
        else if (c == highlighted_)
            copyFrom(hoverFace_, c);
    }

    p.setRenderHint(QPainter::Antialiasing, true);
    // Knobs.
    for (int i = 0; i < 11; ++i) {
        const HotRect k =
            EqualizerKnobRect(Rect(kFirstBand + i), eq_.levels[static_cast<std::size_t>(i)]);
        skin::DrawKnob(p, LogicalRect(k).adjusted(-0.5, 0, 0.5, 0), true);
    }
    const HotRect pk = PositionKnobRect(Rect(kPosition), positionMs_, lengthMs_);
    skin::DrawKnob(p, LogicalRect(pk), false);

    // The keyboard focus: a dotted frame, light over dark so it shows on any part of the face.
    if (focused_ && hasFocus()) {
        const QRectF r = LogicalRect(Rect(focused_)).adjusted(-1.5, -1.5, 1.5, 1.5);
        p.save();
        p.setRenderHint(QPainter::Antialiasing, false);
        p.setBrush(Qt::NoBrush);
        p.setPen(QPen(QColor(20, 20, 20), 1.0));
        p.drawRect(r);
        p.setPen(QPen(QColor(255, 214, 64), 1.0, Qt::DotLine));
        p.drawRect(r);
        p.restore();
    }

    // Description: two lines on the display.
    const QRectF desc = LogicalRect(kDescriptionArea);
    p.setFont(skin::LabelFont(11));
    p.setPen(skin::LcdTextColor());
    const QFontMetricsF fm(p.font());
    QStringList lines = description_.split(QLatin1Char('\n'));
    if (!loaded)
        lines = {QStringLiteral("Quorvatix Tralux 2.011"),
                 QStringLiteral("拖入聲音檔案或按【載入】")};
    // An input without title, artist or copyright is named by its file.
    if (loaded && !lines.isEmpty() &&
        QString(lines[0]).remove(QLatin1Char(',')).trimmed().isEmpty())
        lines[0] = QString::fromStdString(
            Printable(QFileInfo(QString::fromStdString(inputPath_)).fileName().toStdString()));
    for (int i = 0; i < 2 && i < lines.size(); ++i) {
        const QRectF line(desc.left() + 2, desc.top() + i * 13, desc.width() - 4, 13);
        // A long line is narrowed a little before it is cut.
        const qreal width = fm.horizontalAdvance(lines[i]);
        const qreal squeeze = width > line.width() ? std::max(0.82, line.width() / width) : 1.0;
        p.save();
        p.translate(line.left(), 0);
        p.scale(squeeze, 1.0);
        const QRectF squeezed(0, line.top(), line.width() / squeeze, line.height());
        p.drawText(squeezed, Qt::AlignLeft | Qt::AlignVCenter,
                   fm.elidedText(lines[i], Qt::ElideRight, squeezed.width()));
        p.restore();
    }

    // Time display from the glyph strip, centred.
    const std::string text = PositionDisplayText(positionMs_, lengthMs_);
    const QRectF time = LogicalRect(kTimeArea);
    qreal x = time.left() + (time.width() - skin::GlyphTextWidth(text)) / 2.0;
    const qreal y = time.top() + (time.height() - skin::kGlyphHeight) / 2.0 - skin::kGlyphTop;
    for (char ch : text) {
        const skin::GlyphCell* g = skin::FindGlyph(ch);
        if (!g) continue;
        const QRectF src(g->x * faceDpr_, 0, g->width * faceDpr_,
                         skin::kGlyphStripHeight * faceDpr_);
        p.drawImage(QRectF(x, y, g->width, skin::kGlyphStripHeight), glyphs_, src);
        x += g->width;
    }

    // Spectrum: the level, then the ten bands.
    if (spectrumShown_) {
        const QRectF s = LogicalRect(kSpectrumArea);
        for (int i = 0; i < 11; ++i) {
            const int lit = SpectrumSegments(spectrum_[static_cast<std::size_t>(i)], i == 0);
            for (int seg = 0; seg < lit; ++seg) {
                QColor c = skin::LcdTextColor();
                if (seg >= 5) c = c.lighter(120);
                p.fillRect(QRectF(s.left() + 4 + i * 17, s.bottom() - 3 - seg * 3, 13, 2), c);
            }
        }
    }
}

void MainWindow::RepaintControl(int c) {
    update(LogicalRect(Rect(c)).toAlignedRect());
}

// --- Input -------------------------------------------------------------------------------

bool MainWindow::event(QEvent* ev) {
    if (ev->type() == QEvent::ToolTip) {
        auto* help = static_cast<QHelpEvent*>(ev);
        const int c = HitTest(SkinHotRects(), help->pos().x(), help->pos().y());
        const QString tip = ControlToolTip(c);
        if (tip.isEmpty())
            QToolTip::hideText();
        else
            QToolTip::showText(help->globalPos(), tip, this);
        return true;
    }
    return QWidget::event(ev);
}

void MainWindow::changeEvent(QEvent* ev) {
    if (ev->type() == QEvent::ScreenChangeInternal) update();
    QWidget::changeEvent(ev);
}

void MainWindow::mousePressEvent(QMouseEvent* ev) {
    if (ev->button() != Qt::LeftButton) return;
    const QPointF pos = ev->position();
    const int c = HitTest(SkinHotRects(), static_cast<int>(pos.x()), static_cast<int>(pos.y()));
    if (c == kNoControl) {
        // The background moves the window; the window manager does it where it can.
        if (windowHandle() && windowHandle()->startSystemMove()) return;
        moving_ = true;
        grabOffset_ = ev->globalPosition().toPoint() - frameGeometry().topLeft();
        return;
    }
    // Once the keyboard is in use, the focus follows a click.
    if (focused_ &&
        std::find(std::begin(kFocusOrder), std::end(kFocusOrder), c) != std::end(kFocusOrder)) {
        RepaintControl(focused_);
        focused_ = c;
    }
    PressAt(c, pos, ev->globalPosition());
}

void MainWindow::PressControl(int control) {
    const HotRect& r = Rect(control);
    const QPointF local(r.CenterX(), r.CenterY());
    PressAt(control, local, mapToGlobal(local));
    // A press by key or by a test ends like a click.
    if (dragControl_) {
        QMouseEvent release(QEvent::MouseButtonRelease, local, mapToGlobal(local), Qt::LeftButton,
                            Qt::NoButton, Qt::NoModifier);
        mouseReleaseEvent(&release);
    }
}

void MainWindow::RunPressed(int control, const std::function<void()>& action) {
    pressed_ = control;
    repaint();
    QCoreApplication::processEvents();
    action();
    pressed_ = 0;
    update();
}

void MainWindow::PressAt(int c, QPointF local, QPointF) {
    switch (c) {
        case kInactiveDisplay:
        case kInactiveSpectrum:
            QApplication::beep();
            break;
        case kLoad:
            RunPressed(c, [this] { LoadFromDialog(); });
            break;
        case kConvert:
            RunPressed(c, [this] { Convert(); });
            break;
        case kRipCd:
            RunPressed(c, [this] { RipCd(); });
            break;
        case kBatch:
            RunPressed(c, [this] { Batch(); });
            break;
        case kAbout:
            RunPressed(c, [this] {
                if (dialogs_.about) dialogs_.about(this);
            });
            break;
        case kClose:
            ClosePressed();
            return;
        case kMinimize:
            showMinimized();
            break;
        case kEqualizerOn:
            eq_.on = true;
            PassEqualizer();
            update();
            break;
        case kEqualizerOff:
            eq_.on = false;
            PassEqualizer();
            update();
            break;
        case kEqualizerReset:
            RunPressed(c, [this] { ResetEqualizer(); });
            break;
        case kPlay:
            TogglePreview();
            break;
        case kPosition:
            PressPosition(static_cast<int>(local.x()));
            break;
        default:
            if (c >= kOriginalQuality && c <= kRate44100)
                ChooseQuality(c);
            else if (IsEqualizerSlider(c))
                PressEqualizer(c, static_cast<int>(local.y()));
            break;
    }
    if (dragControl_) dragLast_ = local;
    UpdateOutputConfig();
}

void MainWindow::mouseMoveEvent(QMouseEvent* ev) {
    const QPointF pos = ev->position();
    if (dragControl_) {
        const int dx = static_cast<int>(pos.x() - dragLast_.x());
        const int dy = static_cast<int>(pos.y() - dragLast_.y());
        if (dragControl_ == kPosition) {
            if (dx == 0) return;
            positionMs_ = PositionDragged(Rect(kPosition), positionMs_, lengthMs_, dx);
            dragLast_.setX(dragLast_.x() + dx);
        } else {
            if (dy == 0) return;
            auto& v = eq_.levels[static_cast<std::size_t>(dragControl_ - kFirstBand)];
            v = EqualizerDragged(Rect(dragControl_), v, dy);
            dragLast_.setY(dragLast_.y() + dy);
            PassEqualizer();
        }
        update();
        return;
    }
    if (moving_) {
        move(ev->globalPosition().toPoint() - grabOffset_);
        return;
    }
    const int c = HitTest(SkinHotRects(), static_cast<int>(pos.x()), static_cast<int>(pos.y()));
    const int h = HighlightsOnHover(c, !inputPath_.empty()) ? c : 0;
    if (h != highlighted_) {
        if (highlighted_) RepaintControl(highlighted_);
        highlighted_ = h;
        if (h) RepaintControl(h);
    }
}

void MainWindow::mouseReleaseEvent(QMouseEvent*) {
    moving_ = false;
    if (!dragControl_) return;
    const int dragged = dragControl_;
    dragControl_ = 0;
    if (dragged == kPosition && dragWasPlaying_) StartPreview();
    dragWasPlaying_ = false;
    update();
}

void MainWindow::leaveEvent(QEvent*) {
    if (highlighted_) RepaintControl(highlighted_);
    highlighted_ = 0;
}

void MainWindow::dragEnterEvent(QDragEnterEvent* ev) {
    if (ev->mimeData()->hasUrls()) ev->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent* ev) {
    QStringList files;
    for (const QUrl& url : ev->mimeData()->urls())
        if (url.isLocalFile()) files << url.toLocalFile();
    ev->acceptProposedAction();
    DropFiles(files);
}

std::vector<std::string> ExpandDropped(const QStringList& paths, bool* hadFolder) {
    std::vector<std::string> out;
    if (hadFolder) *hadFolder = false;
    for (const QString& p : paths) {
        const QFileInfo info(p);
        if (!info.isDir()) {
            out.push_back(p.toStdString());
            continue;
        }
        if (hadFolder) *hadFolder = true;
        const std::string folder = p.toStdString();
        BatchFilters filters;
        filters.more = platform::MediaInputExtensions();
        const BatchList list =
            CollectFolderInputs(folder, CurrentBackend().ListFolder(folder), filters);
        out.insert(out.end(), list.inputs.begin(), list.inputs.end());
    }
    return out;
}

void MainWindow::DropFiles(const QStringList& dropped) {
    raise();
    activateWindow();
    bool hadFolder = false;
    const std::vector<std::string> inputs = ExpandDropped(dropped, &hadFolder);
    if ((inputs.size() > 1 || hadFolder) && dialogs_.askDropBatch) {
        const int format = std::max(0, settings::ReadOption("BOutFormat"));
        const QString what =
            inputs.empty() ? QString()
                           : QStringLiteral(
                                 "要把拖入的 %1 個檔案當成批次轉換嗎？\n依批次設定轉換成 %2，"
                                 "寫到 %3。")
                                 .arg(inputs.size())
                                 .arg(QString::fromUtf8(FormatName(format)))
                                 .arg(QString::fromStdString(settings::ReadOptionText("BOut")));
        if (inputs.empty()) {
            ShowMessage("拖入的資料夾中沒有聲音檔案或 CD 音軌檔案。", kCaption,
                        MessageIcon::Warning);
            return;
        }
        const DropChoice choice = dialogs_.askDropBatch(this, what);
        if (choice == DropChoice::Cancel) return;
        if (choice == DropChoice::Batch) {
            StopPreview();
            PassEqualizer();
            if (dialogs_.batchFiles) dialogs_.batchFiles(this, inputs);
            return;
        }
    }
    QStringList files;
    for (const std::string& f : inputs) files << QString::fromStdString(f);
    std::vector<std::pair<std::string, int>> failures;
    for (const QString& file : files) {
        StopPreview();
        if (LoadInput(file.toStdString())) {
            StartPreview();
            UpdateOutputConfig();
            return;
        }
        failures.emplace_back(file.toStdString(), Engine().LastError.exchange(0));
    }
    ReportLoadFailures(failures);
}

void MainWindow::closeEvent(QCloseEvent* ev) {
    StopPreview();
    SaveState();
    ev->accept();
}

// --- Actions -----------------------------------------------------------------------------

void MainWindow::UpdateOutputConfig() {
    EngineState& e = Engine();
    e.OutputRate.store(static_cast<std::uint32_t>(chosenRate_));
    e.OutputChannels.store(static_cast<std::uint16_t>(chosenChannels_));
    Ui().keepInputQuality = chosenRate_ == inputRate_ && chosenChannels_ == inputChannels_;
    Ui().qualityDescription =
        std::to_string(inputRate_) + " Hz, " + (inputChannels_ == 1 ? "單聲" : "立體聲");
}

void MainWindow::PassEqualizer() {
    EngineState& e = Engine();
    e.EqualizerOn.store(eq_.on);
    for (std::size_t i = 0; i < 11; ++i) e.EqualizerLevels[i].store(eq_.levels[i]);
    e.EqualizerChanged.store(true);
}

bool MainWindow::LoadInput(const std::string& path) {
    StopPreview();
    StreamInfo info;
    if (!CurrentBackend().Probe(path, info)) return false;
    EngineState& e = Engine();
    inputPath_ = path;
    description_ = QString::fromStdString(DescribeInput(info));
    e.TagTitle = info.Title;
    e.TagArtist = info.Artist;
    e.TagCopyright = info.Copyright;
    inputRate_ = chosenRate_ = static_cast<int>(info.SampleRate);
    inputChannels_ = chosenChannels_ = info.Channels;
    positionMs_ = 0;
    lengthMs_ = info.DurationMs;
    blinkOn_ = false;
    UpdateOutputConfig();
    update();
    return true;
}

QString QtFileFilter(const char* stored) {
    // "name|patterns|name|patterns||" -> "name (p1 p2);;name (p)": Qt reads the patterns from
    // the parentheses, so the name keeps its own text and the patterns follow it.
    const QStringList parts = QString::fromUtf8(stored).split(QLatin1Char('|'));
    QStringList filters;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        if (parts[i].isEmpty()) break;
        QString name = parts[i];
        const QString patterns = QString(parts[i + 1]).replace(QLatin1Char(';'), QLatin1Char(' '));
        const int open = name.indexOf(QLatin1Char('('));
        if (open >= 0) name = name.left(open);
        filters << name + QLatin1Char('(') + patterns + QLatin1Char(')');
    }
    return filters.join(QStringLiteral(";;"));
}

void MainWindow::LoadFromDialog() {
    const QString folder = QString::fromStdString(settings::ReadOptionText("BInDir"));
    const QString file = dialogs_.openFile ? dialogs_.openFile(this, folder) : QString();
    if (file.isEmpty()) return;
    settings::WriteOptionText("BInDir",
                              (QFileInfo(file).absolutePath() + QLatin1Char('/')).toStdString());
    update();
    if (!LoadInput(file.toStdString()))
        ReportLoadFailures({{file.toStdString(), Engine().LastError.exchange(0)}});
}

void MainWindow::Convert() {
    StopPreview();
    if (inputPath_.empty()) {
        ShowMessage(kConvertPrompt, kCaption);
        return;
    }
    EngineState& e = Engine();
    e.PositionMs.store(static_cast<double>(positionMs_));
    // The dialog starts from the window's choices and leaves its own in the job state.
    e.OutputRate.store(static_cast<std::uint32_t>(chosenRate_));
    e.OutputChannels.store(static_cast<std::uint16_t>(chosenChannels_));
    e.EqualizerOn.store(eq_.on);
    if (!dialogs_.conversionSettings || !dialogs_.conversionSettings(this)) return;
    if (Ui().keepInputQuality) {
        chosenRate_ = inputRate_;
        chosenChannels_ = inputChannels_;
    } else {
        chosenRate_ = static_cast<int>(e.OutputRate.load());
        chosenChannels_ = e.OutputChannels.load();
    }
    eq_.on = e.EqualizerOn.load();
    UpdateOutputConfig();
    Ui().outputFolder = settings::ReadOptionText("BOut");
    settings::SaveEqualizer(eq_);
    update();
    if (settings::ReadOption("DecodeStart") <= 0) {
        e.StartMs.store(0);
        positionMs_ = 0;
    } else {
        // Nothing (or a blink) left after the position would make an all but empty file.
        if (lengthMs_ > 0 && positionMs_ + kShortestFromPositionMs > lengthMs_) {
            ShowMessage(
                "目前位置 " + FormatClock(positionMs_ / 1000) + " 已在 " +
                    QFileInfo(QString::fromStdString(inputPath_)).fileName().toStdString() +
                    " 的結尾（長度 " + FormatClock(lengthMs_ / 1000) +
                    "），從這裡沒有聲音可以轉換。\n請把位置移到前面，或在轉換設定中選擇從頭開始。",
                kCaption, MessageIcon::Warning);
            return;
        }
        e.StartMs.store(static_cast<std::uint32_t>(positionMs_));
    }
    e.DurationMs.store(static_cast<std::uint32_t>(lengthMs_));
    e.PositionMs.store(static_cast<double>(e.StartMs.load()));
    PassEqualizer();
    e.OutputRate.store(static_cast<std::uint32_t>(chosenRate_));
    e.OutputChannels.store(static_cast<std::uint16_t>(chosenChannels_));
    if (dialogs_.singleProgress) dialogs_.singleProgress(this, inputPath_);
    const std::uint64_t before = positionMs_ / 1000;
    positionMs_ = std::min<std::uint64_t>(
        static_cast<std::uint64_t>(std::max(0.0, e.PositionMs.load())), lengthMs_);
    if (positionMs_ / 1000 != before) update();
}

void MainWindow::RipCd() {
    StopPreview();
    Backend& b = CurrentBackend();
    const std::vector<std::string> roots = b.CdDriveRoots();
    if (roots.empty()) {
        ShowMessage("在您的電腦上找不到光碟機 !", kCaption);
        return;
    }
    std::size_t choice = 0;
    if (roots.size() >= 2) {
        const std::optional<int> chosen =
            dialogs_.chooseDrive ? dialogs_.chooseDrive(this, roots) : std::nullopt;
        if (!chosen || *chosen < 0 || static_cast<std::size_t>(*chosen) >= roots.size()) return;
        choice = static_cast<std::size_t>(*chosen);
    }
    const std::string root = roots[choice];
    std::vector<std::string> tracks;
    for (const std::string& n : b.ListFolder(root)) {
        const std::string lower = QString::fromStdString(n).toLower().toStdString();
        if (lower.size() > 4 && lower.compare(lower.size() - 4, 4, ".cda") == 0)
            tracks.push_back(n);
    }
    if (tracks.empty()) {
        ShowMessage("請放入音樂 CD!", "更換 CD");
        return;
    }
    std::sort(tracks.begin(), tracks.end());
    // A disc with a single audio track is still an audio CD: no further check rejects it.
    const std::string first = WithTrailingSlash(root) + tracks.front();
    if (!LoadInput(first)) {
        ReportLoadFailures({{first, Engine().LastError.exchange(0)}});
        return;
    }
    // The rip runs over the drive's ticked tracks: the folder batch's settings stay the user's.
    if (dialogs_.cdRip && dialogs_.cdRip(this, root)) {
        PassEqualizer();
        if (dialogs_.batchProgress) dialogs_.batchProgress(this, root);
    }
    showNormal();
    raise();
}

void MainWindow::Batch() {
    StopPreview();
    if (dialogs_.batchSettings && dialogs_.batchSettings(this) && dialogs_.batchProgress)
        dialogs_.batchProgress(this, std::nullopt);
    showNormal();
}

void MainWindow::ClosePressed() {
    StopPreview();
    SaveState();
    close();
}

void MainWindow::SaveState() {
    if (stateSaved_) return;
    stateSaved_ = true;
    settings::WindowPlacement p;
    const QRect g = isMinimized() ? normalGeometry() : geometry();
    p.flags = 0;
    p.showCmd = isMinimized() ? settings::kShowMinimized : isMaximized() ? 3u : 1u;
    p.left = g.left();
    p.top = g.top();
    p.right = g.left() + g.width();
    p.bottom = g.top() + g.height();
    settings::SaveWindowState(eq_, &p, isMaximized(), isMinimized());
}

void MainWindow::RestorePlacement() {
    settings::WindowPlacement p;
    if (!settings::LoadWindowPlacement(p)) return;
    // A placement on a screen that is no longer attached, or saved at another scale, would
    // hide the window: the whole face goes onto the screen that holds most of it.
    std::vector<QRect> screens;
    for (QScreen* s : QGuiApplication::screens()) screens.push_back(s->availableGeometry());
    if (const auto at = PlaceOnScreen(QRect(p.left, p.top, kFaceWidth, kFaceHeight), screens))
        move(*at);
}

std::optional<QPoint> PlaceOnScreen(const QRect& wanted, const std::vector<QRect>& screens) {
    const QRect* best = nullptr;
    long long bestArea = 0;
    for (const QRect& s : screens) {
        const QRect common = s.intersected(wanted);
        const long long area = common.isEmpty() ? 0 : 1LL * common.width() * common.height();
        if (area > bestArea) {
            best = &s;
            bestArea = area;
        }
    }
    if (!best) return std::nullopt;
    const int x = std::clamp(wanted.left(), best->left(),
                             std::max(best->left(), best->right() + 1 - wanted.width()));
    const int y = std::clamp(wanted.top(), best->top(),
                             std::max(best->top(), best->bottom() + 1 - wanted.height()));
    return QPoint(x, y);
}

void MainWindow::TogglePreview() {
    EngineState& e = Engine();
    if (e.JobRunning.load()) {
        // Only once the player has queued its first buffer.
        if (e.ClockOriginMs.load() != 0) e.StopRequested.store(true);
        return;
    }
    if (inputPath_.empty()) {
        ShowMessage(kPlayPrompt, kCaption);
        return;
    }
    StartPreview();
}

void MainWindow::StartPreview() {
    if (inputPath_.empty() || Engine().JobRunning.load()) return;
    EngineState& e = Engine();
    if (positionMs_ >= lengthMs_) positionMs_ = 0;
    PassEqualizer();
    e.OutputRate.store(static_cast<std::uint32_t>(chosenRate_));
    e.OutputChannels.store(static_cast<std::uint16_t>(chosenChannels_));
    e.StartMs.store(static_cast<std::uint32_t>(positionMs_));
    const std::string output = OutputPathFor(inputPath_, Ui().outputFolder, e.OutputFormat.load());
    if (!CurrentBackend().Start(inputPath_, output, kModePreview)) {
        CurrentBackend().ReportLastError();
        return;
    }
    previewStarted_ = true;
    WaitDispatching([] { return Engine().JobRunning.load(); }, 2000);
    update();
}

bool MainWindow::StopPreview() {
    EngineState& e = Engine();
    if (!e.JobRunning.load()) return false;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    e.StopRequested.store(true);
    WaitDispatching([] { return !Engine().JobRunning.load(); });
    e.StopRequested.store(false);
    QApplication::restoreOverrideCursor();
    update();
    return true;
}

void MainWindow::ChooseQuality(int c) {
    const bool wasPlaying = StopPreview();
    if (c == kOriginalQuality) {
        if (inputPath_.empty()) {
            // Nothing loaded: there is no original to return to.
        } else {
            chosenRate_ = inputRate_;
            chosenChannels_ = inputChannels_;
        }
    } else if (c == kStereo) {
        chosenChannels_ = 2;
    } else if (c == kMono) {
        chosenChannels_ = 1;
    } else {
        chosenRate_ = kRateButtonHz[static_cast<std::size_t>(c - kRate8000)];
    }
    UpdateOutputConfig();
    if (wasPlaying)
        StartPreview();
    else
        update();
}

void MainWindow::PressPosition(int x) {
    if (lengthMs_ == 0) {
        QApplication::beep();
        return;
    }
    const HotRect& r = Rect(kPosition);
    if (OnPositionKnob(r, positionMs_, lengthMs_, x)) {
        dragWasPlaying_ = StopPreview();
        dragControl_ = kPosition;
        return;
    }
    const bool wasPlaying = StopPreview();
    positionMs_ = PositionAt(r, lengthMs_, x);
    update();
    if (wasPlaying) StartPreview();
}

void MainWindow::PressEqualizer(int c, int y) {
    auto& v = eq_.levels[static_cast<std::size_t>(c - kFirstBand)];
    if (OnEqualizerKnob(Rect(c), v, y)) {
        dragControl_ = c;
        return;
    }
    v = EqualizerValueAt(Rect(c), y);
    PassEqualizer();
    update();
}

void MainWindow::ResetEqualizer() {
    PauseDispatching(200);
    eq_.levels.fill(50);
    PassEqualizer();
    update();
}

void MainWindow::BlinkTick() {
    if (!inputPath_.empty()) {
        if (blinkOn_) {
            blinkOn_ = false;
            RepaintControl(kLoad);
        }
        return;
    }
    blinkOn_ = !blinkOn_;
    RepaintControl(kLoad);
}

void MainWindow::SpectrumTick() {
    EngineState& e = Engine();
    const bool playing = previewStarted_ && e.JobRunning.load();
    if (previewStarted_ && !e.JobRunning.load()) {
        // The preview ended on its own: say why when it failed.
        previewStarted_ = false;
        if (e.LastError.load() != 0) CurrentBackend().ReportLastError();
        update();
    }
    if (!playing) {
        if (spectrumShown_) {
            spectrumShown_ = false;
            spectrum_.fill(0);
            update();
        }
        return;
    }
    const std::uint32_t origin = e.ClockOriginMs.load();
    if (origin == 0) return;
    // The tick minus the clock origin, the origin re-measured at the device first.
    const std::int64_t playingMs = static_cast<std::int64_t>(PlayingPositionMs());
    const dsp::AnalysisTables& t = PreviewAnalysis();
    int best = -1;
    std::int64_t bestDistance = 0;
    for (int i = 0; i < dsp::AnalysisTables::kSize; ++i) {
        const std::int64_t d =
            std::llabs(t.AnalysisTime[static_cast<std::size_t>(i)].load(std::memory_order_relaxed) -
                       playingMs);
        if (best < 0 || d < bestDistance) {
            best = i;
            bestDistance = d;
        }
    }
    std::array<double, 11> now{};
    now[0] = t.AnalysisLevel[static_cast<std::size_t>(best)].load(std::memory_order_relaxed);
    for (std::size_t b = 0; b < 10; ++b)
        now[b + 1] =
            t.AnalysisBand[b][static_cast<std::size_t>(best)].load(std::memory_order_relaxed);
    DarkenBandsAboveNyquist(now, static_cast<int>(e.OutputRate.load()));
    if (now != spectrum_ || !spectrumShown_) {
        spectrum_ = now;
        spectrumShown_ = true;
        update(LogicalRect(kSpectrumArea).toAlignedRect());
    }
    const std::uint64_t pos = static_cast<std::uint64_t>(std::max<std::int64_t>(0, playingMs));
    if (pos / 1000 != positionMs_ / 1000) {
        positionMs_ = std::min(pos, lengthMs_);
        update();
    } else {
        positionMs_ = std::min(pos, lengthMs_);
    }
}

}  // namespace tralux::app
