#include <cstdlib>

#include <QFontDatabase>
#include <QFontInfo>

#include "app/core/layout.h"
#include "app/core/region.h"
#include "app/skin/skin.h"
#include "app_fixture.h"
#include "support/require.h"

namespace tralux::app::test {
namespace {

TEST(Skin, FaceKeepsItsLogicalSizeAtAnyPixelRatio) {
    App();
    for (qreal dpr : {1.0, 1.5, 2.0}) {
        const QImage face = skin::RenderFace(skin::Look::Normal, dpr, false);
        EXPECT_EQ(face.deviceIndependentSize().toSize(), QSize(kFaceWidth, kFaceHeight)) << dpr;
        EXPECT_EQ(face.width(), qRound(kFaceWidth * dpr));
    }
    EXPECT_EQ(skin::RenderGlyphStrip(2.0).size(), QSize(360, 60));
}

TEST(Skin, OutlineIsRoundedAndEveryControlIsInside) {
    App();
    const QRegion r = RegionFromSkin(skin::RenderFace(skin::Look::Normal, 1.0, true));
    EXPECT_FALSE(r.contains(QPoint(0, 0)));
    EXPECT_FALSE(r.contains(QPoint(kFaceWidth - 1, kFaceHeight - 1)));
    for (int c : kHitOrder) {
        const HotRect& h = SkinHotRects()[static_cast<std::size_t>(c)];
        EXPECT_TRUE(r.contains(QPoint(h.left, h.top)) && r.contains(QPoint(h.right, h.bottom)))
            << c;
    }
}

TEST(Skin, AlternateLooksDifferOnlyWhereControlsAre) {
    App();
    const QImage normal = skin::RenderFace(skin::Look::Normal, 1.0, false);
    const QImage pressed = skin::RenderFace(skin::Look::Pressed, 1.0, false);
    const QImage hover = skin::RenderFace(skin::Look::Hover, 1.0, false);
    const HotRect& load = SkinHotRects()[kLoad];
    auto differs = [&](const QImage& a, const QImage& b, const HotRect& h) {
        for (int y = h.top; y <= h.bottom; ++y)
            for (int x = h.left; x <= h.right; ++x)
                if (a.pixel(x, y) != b.pixel(x, y)) return true;
        return false;
    };
    EXPECT_TRUE(differs(normal, pressed, load));
    EXPECT_TRUE(differs(normal, hover, load));
    EXPECT_TRUE(differs(hover, pressed, load));
    EXPECT_FALSE(differs(normal, pressed, kTimeArea));  // the display is not a control
}

TEST(Skin, GlyphStripHoldsEveryCharacterOfTheTimeDisplay) {
    int end = 0;
    for (const skin::GlyphCell& g : skin::GlyphCells()) {
        EXPECT_EQ(g.x, end);
        end = g.x + g.width;
    }
    EXPECT_EQ(end, skin::kGlyphStripWidth);
    for (char c : std::string("0123456789:/.")) EXPECT_NE(skin::FindGlyph(c), nullptr) << c;
    // The longest display fits its area.
    EXPECT_LE(skin::GlyphTextWidth("99:59:59/99:59:59"), kTimeArea.Width());
}

TEST(Skin, LabelsUseACjkFont) {
    App();
    const QFontInfo info(skin::LabelFont(12));
    const bool cjk = info.family().contains(QStringLiteral("CJK"));
    if (!cjk && !::tralux::test::InCi()) GTEST_SKIP() << "fonts-noto-cjk not installed";
    EXPECT_TRUE(cjk) << info.family().toStdString();
}

}  // namespace
}  // namespace tralux::app::test
