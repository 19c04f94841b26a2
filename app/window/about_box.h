#pragma once
// The about box: version, build date, support address and the product page.
#include <QDialog>
#include <QString>
#include <QUrl>

namespace tralux::app {

// "Sep  4 2000": month, day padded to two places with a blank, year.
QString BuildDateText();
QString AboutText();  // "Quorvatix Tralux 2.011 \n BLD <date> "
QUrl ProductPageUrl();
inline constexpr const char* kSupportAddress = "support@tralux.example.com";

class AboutBox final : public QDialog {
public:
    explicit AboutBox(QWidget* owner);
};

void RunAboutBox(QWidget* owner);

}  // namespace tralux::app
