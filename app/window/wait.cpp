#include "app/window/wait.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

namespace tralux::app {

bool WaitDispatching(const std::function<bool()>& done, int timeoutMs, bool userInput) {
    if (done()) return true;
    QEventLoop loop;
    QElapsedTimer clock;
    clock.start();
    QTimer poll;
    poll.setInterval(5);
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done() || (timeoutMs >= 0 && clock.elapsed() >= timeoutMs)) loop.quit();
    });
    poll.start();
    loop.exec(userInput ? QEventLoop::AllEvents : QEventLoop::ExcludeUserInputEvents);
    return done();
}

void PauseDispatching(int ms) {
    QElapsedTimer clock;
    clock.start();
    WaitDispatching([&] { return clock.elapsed() >= ms; });
}

}  // namespace tralux::app
