#include "app/window/startup.h"

#include <filesystem>

#include <QApplication>
#include <QPalette>
#include <QProxyStyle>
#include <QStyleOption>
#include <QStyleFactory>

#ifdef TRALUX_HAVE_CURL
#include <curl/curl.h>
#endif
#ifdef TRALUX_HAVE_GSF
#include <gsf/gsf-utils.h>
#endif

#include "app/dialogs/dialogs.h"
#include "app/settings/cddb_section.h"
#include "app/settings/settings.h"
#include "cddb/cache.h"
#include "cddb/cddb_settings.h"
#include "cddb/engine/cd_info_provider.h"
#include "cddb/http_fetch.h"
#include "platform/compound/gsf_cache_files.h"
#include "platform/http/curl_transport.h"
#include "app/skin/skin.h"
#include "app/window/backend.h"
#include "app/window/main_window.h"
#include "app/window/qt_notifier.h"
#include "app/window/ui_config.h"
#include "engine/job/engine_state.h"
#include "platform/notify/notifier.h"
#include "platform/media_loader/media_loader.h"
#include "platform/media_loader/media_names.h"
#include "platform/tags/taglib_tag_reader.h"

namespace tralux::app {

namespace {
QtNotifier g_notifier;

void Fatal(const char* text) {
    ShowMessageBox(Message{text, "Quorvatix Tralux", MessageIcon::Error});
}

// The base style outlines check boxes and radio buttons with a shade of the window colour,
// which vanishes on our dark face: an unticked track looked like no box at all.
class TraluxStyle final : public QProxyStyle {
public:
    using QProxyStyle::QProxyStyle;
    void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                       const QWidget* widget) const override {
        const auto* button = qstyleoption_cast<const QStyleOptionButton*>(option);
        if (button && (element == PE_IndicatorCheckBox || element == PE_IndicatorRadioButton)) {
            QStyleOptionButton lighter(*button);
            lighter.palette.setColor(QPalette::Window, QColor(0x9a, 0x9d, 0xa4));
            QProxyStyle::drawPrimitive(element, &lighter, painter, widget);
            return;
        }
        QProxyStyle::drawPrimitive(element, option, painter, widget);
    }
};

std::string Trim(const std::string& s) {
    const auto b = s.find_first_not_of(" \t");
    if (b == std::string::npos) return {};
    return s.substr(b, s.find_last_not_of(" \t") - b + 1);
}
}  // namespace

void ApplyAppStyle(QApplication& app) {
    app.setStyle(new TraluxStyle(QStyleFactory::create(QStringLiteral("Fusion"))));
    QPalette p;
    const QColor window(0x2b, 0x2d, 0x32), base(0x1d, 0x1e, 0x22), text(0xe6, 0xe7, 0xea);
    p.setColor(QPalette::Window, window);
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Base, base);
    p.setColor(QPalette::AlternateBase, window);
    p.setColor(QPalette::Text, text);
    p.setColor(QPalette::Button, QColor(0x3a, 0x3d, 0x43));
    p.setColor(QPalette::ButtonText, text);
    p.setColor(QPalette::ToolTipBase, QColor(0x1d, 0x1e, 0x22));
    p.setColor(QPalette::ToolTipText, text);
    p.setColor(QPalette::Highlight, skin::AccentColor().darker(110));
    p.setColor(QPalette::HighlightedText, QColor(0x1a, 0x12, 0x08));
    p.setColor(QPalette::PlaceholderText, QColor(0x90, 0x93, 0x99));
    p.setColor(QPalette::Disabled, QPalette::Text, QColor(0x80, 0x82, 0x88));
    p.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(0x80, 0x82, 0x88));
    p.setColor(QPalette::Disabled, QPalette::WindowText, QColor(0x80, 0x82, 0x88));
    app.setPalette(p);
    app.setFont(skin::LabelFont(13));
    app.setWindowIcon(QIcon(QPixmap::fromImage(skin::RenderAppIcon(256))));
}

bool StartUp(int& exitCode) {
    exitCode = 0;
#ifdef TRALUX_HAVE_CURL
    if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
        Fatal("嚴重錯誤! 不能初始化 socket!");
        exitCode = 1;
        return false;
    }
#endif
#ifdef TRALUX_HAVE_GSF
    gsf_init();
#endif
    std::error_code ec;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec || exe.empty()) {
        Fatal("嚴重錯誤!  不能決定目前的位置! 放棄!");
        exitCode = 1;
        return false;
    }
    std::string folder = Trim(exe.parent_path().string());
    if (folder.empty() || folder.back() != '/') folder += '/';
    SetProgramFolder(folder);
    settings::SetRegistryKey("Quorvatix");
    SetNotifier(&g_notifier);
    SetOptionReader([](std::string_view name) { return settings::ReadOption(name); });
    platform::InstallTagLibReader();
    platform::RegisterMediaKinds();
    // CD information: the server over HTTP, the cache file, the "CDDB" settings; .cda inputs
    // get their titles from it.
    cddb::SetHttpTransport(http::MakeCurlTransport(http::CurlOptionsFromEnvironment()));
    cddb::SetCacheFiles(compound::MakeGsfCacheFiles());
    cddb::SetSettingsStore(std::make_shared<settings::CddbSection>());
    cddb::InstallCdInfoProvider();
    InstallCddbDialogs();  // lookups started here are answered by the dialogs
    return true;
}

std::unique_ptr<MainWindow> CreateMainWindow(const std::string& file) {
    auto w = std::make_unique<MainWindow>();
    w->show();
    w->repaint();
    if (!file.empty() && !w->LoadInput(file))
        ReportLoadFailures({{file, Engine().LastError.exchange(0)}});
    return w;
}

}  // namespace tralux::app
