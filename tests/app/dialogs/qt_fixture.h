#pragma once
// One QApplication for the whole test program, on the offscreen platform unless told
// otherwise, and helpers to answer the modal boxes a dialog opens.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <functional>

#include "app/settings/settings_fixture.h"

namespace tralux::app::testing {

inline QApplication* App() {
    static int argc = 1;
    static char name[] = "app_dialogs_test";
    static char* argv[] = {name, nullptr};
    static QApplication* app = [] {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
        return new QApplication(argc, argv);
    }();
    return app;
}

// Answers the next modal box (the next one `wanted` accepts): `handle` sees it once it is
// shown, then it is closed unless `handle` closed it.
inline void WhenModalShown(std::function<void(QWidget*)> handle,
                           std::function<bool(QWidget*)> wanted = {}) {
    auto* timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, handle, wanted] {
        QWidget* w = QApplication::activeModalWidget();
        if (!w || (wanted && !wanted(w))) return;
        timer->stop();
        timer->deleteLater();
        handle(w);
        if (w->isVisible()) {
            if (auto* box = qobject_cast<QMessageBox*>(w))
                box->done(0);
            else if (auto* d = qobject_cast<QDialog*>(w))
                d->reject();
        }
    });
    timer->start();
}

class DialogTest : public settings::testing::SettingsTest {
protected:
    void SetUp() override {
        App();
        SettingsTest::SetUp();
    }
};

// Object names along the focus chain from `first`, `count` steps.
inline std::vector<QString> FocusChain(QWidget* first, int count) {
    std::vector<QString> names;
    QWidget* w = first;
    for (int i = 0; i < count && w; ++i) {
        if (w->focusPolicy() & Qt::TabFocus) names.push_back(w->objectName());
        w = w->nextInFocusChain();
        if (w == first) break;
    }
    return names;
}

}  // namespace tralux::app::testing
