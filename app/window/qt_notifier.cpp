#include "app/window/qt_notifier.h"

#include <QApplication>
#include <QMessageBox>
#include <QThread>

namespace tralux::app {

void ShowMessageBox(const Message& m) {
    QMessageBox::Icon icon = QMessageBox::Information;
    if (m.icon == MessageIcon::Error) icon = QMessageBox::Critical;
    if (m.icon == MessageIcon::Warning) icon = QMessageBox::Warning;
    QWidget* owner = QApplication::activeModalWidget() ? QApplication::activeModalWidget()
                                                       : QApplication::activeWindow();
    QMessageBox box(icon, QString::fromStdString(m.caption), QString::fromStdString(m.text),
                    QMessageBox::Ok, owner);
    box.exec();
}

void QtNotifier::Show(const Message& message) {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app) return;
    if (QThread::currentThread() == app->thread()) {
        ShowMessageBox(message);
        return;
    }
    QMetaObject::invokeMethod(
        app, [message] { ShowMessageBox(message); }, Qt::QueuedConnection);
}

}  // namespace tralux::app
