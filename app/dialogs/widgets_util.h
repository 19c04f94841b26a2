#pragma once
// Small helpers shared by the dialogs.
#include <QComboBox>
#include <QFont>
#include <QGridLayout>
#include <QMessageBox>
#include <QScreen>
#include <QStringList>
#include <QWidget>
#include <QLineEdit>
#include <QString>
#include <algorithm>
#include <string>
#include <vector>

namespace tralux::app {

inline QString Qs(const std::string& s) {
    return QString::fromStdString(s);
}
inline std::string Ss(const QString& s) {
    return s.toStdString();
}

// A long message (a failure naming a server, its URL and the system's words) gets room to read
// as lines instead of a narrow column broken inside the address.
inline void WidenLongMessage(QMessageBox& box) {
    if (box.text().size() < 60) return;
    const QFontMetrics fm(box.font());
    int width = fm.horizontalAdvance(QLatin1Char('M')) * 40;
    if (const QScreen* screen = box.screen())
        width = std::min(width, screen->availableGeometry().width() * 3 / 4);
    if (auto* grid = qobject_cast<QGridLayout*>(box.layout()))
        grid->addItem(new QSpacerItem(width, 0, QSizePolicy::Minimum, QSizePolicy::Expanding),
                      grid->rowCount(), 0, 1, grid->columnCount());
}

// Refills a combo only when its items differ, so an open popup or a selection is not lost.
inline void SetItems(QComboBox* box, const std::vector<std::string>& items) {
    bool same = box->count() == static_cast<int>(items.size());
    for (int i = 0; same && i < box->count(); ++i) same = box->itemText(i) == Qs(items[i]);
    if (same) return;
    box->clear();
    for (const auto& s : items) box->addItem(Qs(s));
}

// Sets an edit's text without moving the cursor when nothing changed. New text shows its
// start: a long title is read from the beginning, not from its clipped end.
inline void SetText(QLineEdit* edit, const std::string& text) {
    QString t = Qs(text);
    if (edit->text() == t) return;
    edit->setText(t);
    if (!edit->hasFocus()) edit->setCursorPosition(0);
}

// Han characters in their Traditional forms: the fallback font for them would otherwise be
// whichever CJK face the font configuration lists first.
inline void UseTraditionalChineseFont(QWidget* w) {
    QFont f = w->font();
    QStringList families = f.families();
    if (families.isEmpty()) families << f.family();
    if (!families.contains(QStringLiteral("Noto Sans CJK TC")))
        families << QStringLiteral("Noto Sans CJK TC") << QStringLiteral("Noto Serif CJK TC");
    f.setFamilies(families);
    w->setFont(f);
}

// The platform folder browser; empty when cancelled. The result ends with '/'.
std::string BrowseFolder(QWidget* parent, const QString& title, const std::string& start);

}  // namespace tralux::app
