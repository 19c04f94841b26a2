// tralux: the window program.
#include <QApplication>

#include "app/window/main_window.h"
#include "app/window/startup.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("tralux"));
    QApplication::setApplicationDisplayName(QStringLiteral("Quorvatix Tralux"));
    QGuiApplication::setDesktopFileName(QStringLiteral("tralux"));
    tralux::app::ApplyAppStyle(app);
    int code = 0;
    if (!tralux::app::StartUp(code)) return code;
    // `tralux FILE` opens FILE as the current input.
    std::string file;
    const QStringList args = QApplication::arguments();
    if (args.size() > 1) file = args.at(1).toStdString();
    auto window = tralux::app::CreateMainWindow(file);
    return app.exec();
}
