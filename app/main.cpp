// tralux: the window program.
#include <fcntl.h>
#include <unistd.h>

#include <QApplication>
#include <QSocketNotifier>
#include <chrono>
#include <csignal>
#include <cstdlib>

#include "app/window/main_window.h"
#include "app/window/startup.h"
#include "engine/job/engine_state.h"
#include "engine/job/job.h"

namespace {

int g_signalPipe[2] = {-1, -1};

void OnEndSignal(int sig) {
    const char c = static_cast<char>(sig);
    [[maybe_unused]] const ssize_t n = ::write(g_signalPipe[1], &c, 1);
}

// SIGTERM (logout, `kill`), SIGHUP and SIGINT end the program as the 停止 button ends a job:
// every running job finishes a playable file first. The signal only writes a byte; the GUI
// thread does the rest, also inside a modal dialog's loop.
void EndCleanlyOnSignals(QApplication& app) {
    if (::pipe2(g_signalPipe, O_CLOEXEC) != 0) return;
    auto* notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, [] {
        char sig = SIGTERM;
        [[maybe_unused]] const ssize_t n = ::read(g_signalPipe[0], &sig, 1);
        tralux::Engine().StopRequested.store(true);  // also a CD rip's drive: no next track
        tralux::StopAllJobs();
        tralux::WaitForAllJobs(std::chrono::seconds(10));
        std::_Exit(128 + sig);
    });
    struct sigaction sa {};
    sa.sa_handler = OnEndSignal;
    for (int sig : {SIGTERM, SIGHUP, SIGINT}) sigaction(sig, &sa, nullptr);
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("tralux"));
    QApplication::setApplicationDisplayName(QStringLiteral("Quorvatix Tralux"));
    QGuiApplication::setDesktopFileName(QStringLiteral("tralux"));
    tralux::app::ApplyAppStyle(app);
    int code = 0;
    if (!tralux::app::StartUp(code)) return code;
    EndCleanlyOnSignals(app);
    // `tralux FILE` opens FILE as the current input.
    std::string file;
    const QStringList args = QApplication::arguments();
    if (args.size() > 1) file = args.at(1).toStdString();
    auto window = tralux::app::CreateMainWindow(file);
    return app.exec();
}
