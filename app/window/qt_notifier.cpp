#include "app/window/qt_notifier.h"

#include "engine/job/printable_text.h"

#include <QApplication>
#include <QGridLayout>
#include <QMessageBox>
#include <QScreen>
#include <QSpacerItem>

#include <algorithm>
#include <QThread>

namespace tralux::app {

void ShowMessageBox(const Message& m) {
    QMessageBox::Icon icon = QMessageBox::Information;
    if (m.icon == MessageIcon::Error) icon = QMessageBox::Critical;
    if (m.icon == MessageIcon::Warning) icon = QMessageBox::Warning;
    QWidget* owner = QApplication::activeModalWidget() ? QApplication::activeModalWidget()
                                                       : QApplication::activeWindow();
    // Names inside the text come from files and discs: shown as escapes, never as controls.
    QMessageBox box(icon, QString::fromStdString(m.caption),
                    QString::fromStdString(Printable(m.text, true)), QMessageBox::NoButton, owner);
    PrepareMessageBox(box);
    box.exec();
}

void PrepareMessageBox(QMessageBox& box) {
    if (box.buttons().isEmpty())
        box.setDefaultButton(box.addButton(QStringLiteral("確定"), QMessageBox::AcceptRole));
    box.setTextInteractionFlags(Qt::TextSelectableByMouse);
    // A name such as "<img src=...>.wav" stays a name: no text is taken for markup.
    box.setTextFormat(Qt::PlainText);
    const QString text = box.text();
    if (text.size() < 60 && !text.contains(QLatin1Char('\n'))) return;
    // A long text gets the width of its longest line, within reason, instead of a narrow column.
    const QFontMetrics fm(box.font());
    int widest = 0;
    for (const QString& line : text.split(QLatin1Char('\n')))
        widest = std::max(widest, fm.horizontalAdvance(line));
    int most = fm.horizontalAdvance(QLatin1Char('M')) * 60;
    if (const QScreen* screen = box.screen())
        most = std::min(most, screen->availableGeometry().width() * 3 / 4);
    const int width =
        std::clamp(widest + 24, std::min(most, fm.horizontalAdvance(QLatin1Char('M')) * 30), most);
    if (auto* grid = qobject_cast<QGridLayout*>(box.layout()))
        grid->addItem(new QSpacerItem(width, 0, QSizePolicy::Minimum, QSizePolicy::Expanding),
                      grid->rowCount(), 0, 1, grid->columnCount());
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
