// Renders the skin's art into PNG files: the faces at 1x and 2x, the key-coloured face the
// outline is cut from, the glyph strip, the drive image and the program icons.
#include <cstdio>

#include <QDir>
#include <QGuiApplication>

#include "app/skin/skin.h"

using namespace tralux::app::skin;

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: tralux-skin-render OUTDIR\n");
        return 2;
    }
    const QString dir = QString::fromLocal8Bit(argv[1]);
    if (!QDir().mkpath(dir)) return 1;
    bool ok = true;
    auto save = [&](const QImage& img, const QString& name) {
        ok = img.save(dir + QLatin1Char('/') + name) && ok;
    };
    for (qreal dpr : {1.0, 2.0}) {
        const QString suffix = dpr > 1 ? QStringLiteral("@2x.png") : QStringLiteral(".png");
        save(RenderFace(Look::Normal, dpr, false), QStringLiteral("face") + suffix);
        save(RenderFace(Look::Pressed, dpr, false), QStringLiteral("face-alternate") + suffix);
        save(RenderFace(Look::Hover, dpr, false), QStringLiteral("face-hover") + suffix);
        save(RenderGlyphStrip(dpr), QStringLiteral("glyphs") + suffix);
        save(RenderDriveIcon(dpr), QStringLiteral("drive") + suffix);
    }
    save(RenderFace(Look::Normal, 1.0, true), QStringLiteral("face-key.png"));
    for (int size : {48, 128, 256})
        save(RenderAppIcon(size), QStringLiteral("tralux-%1.png").arg(size));
    return ok ? 0 : 1;
}
