#include <gtest/gtest.h>

#include <QGuiApplication>

#include "app/core/region.h"

namespace tralux::app {
namespace {

QImage Filled(int w, int h, QRgb c) {
    QImage img(w, h, QImage::Format_RGB32);
    img.fill(c);
    return img;
}

TEST(SkinRegion, MagentaWithGreenSixteenIsOutsideSeventeenInside) {
    QImage img = Filled(4, 1, qRgb(255, 0, 255));
    img.setPixel(0, 0, qRgb(255, 16, 255));
    img.setPixel(1, 0, qRgb(255, 17, 255));
    img.setPixel(2, 0, qRgb(254, 0, 255));  // red off by one: opaque
    img.setPixel(3, 0, qRgb(255, 0, 254));  // blue off by one: opaque
    std::size_t runs = 0;
    const QRegion r = RegionFromSkin(img, &runs);
    EXPECT_FALSE(r.contains(QPoint(0, 0)));
    EXPECT_TRUE(r.contains(QPoint(1, 0)));
    EXPECT_TRUE(r.contains(QPoint(2, 0)));
    EXPECT_TRUE(r.contains(QPoint(3, 0)));
    EXPECT_EQ(runs, 1u);
}

TEST(SkinRegion, ManyRunsMergeIntoOneRegionEqualToTheirUnion) {
    // A checkerboard: every opaque pixel is its own run, far more than 2000 of them.
    const int w = 120, h = 90;
    QImage img = Filled(w, h, qRgb(255, 0, 255));
    for (int y = 0; y < h; ++y)
        for (int x = (y & 1); x < w; x += 2) img.setPixel(x, y, qRgb(40, 40, 40));
    std::size_t runs = 0;
    const QRegion r = RegionFromSkin(img, &runs);
    EXPECT_EQ(runs, static_cast<std::size_t>(w * h / 2));
    ASSERT_GT(runs, 4000u);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            ASSERT_EQ(r.contains(QPoint(x, y)), ((x + y) & 1) == 0) << x << "," << y;
}

TEST(SkinRegion, RunsSpanningTheRowAndAnEmptyImage) {
    QImage img = Filled(10, 3, qRgb(10, 20, 30));
    for (int x = 3; x < 6; ++x) img.setPixel(x, 1, qRgb(255, 0, 255));
    std::size_t runs = 0;
    const QRegion r = RegionFromSkin(img, &runs);
    EXPECT_EQ(runs, 4u);  // whole first and last rows, two pieces in the middle
    EXPECT_TRUE(r.contains(QPoint(9, 1)));
    EXPECT_FALSE(r.contains(QPoint(4, 1)));
    EXPECT_EQ(r.boundingRect(), QRect(0, 0, 10, 3));
    EXPECT_TRUE(RegionFromSkin(QImage()).isEmpty());
    EXPECT_TRUE(RegionFromSkin(Filled(8, 8, qRgb(255, 5, 255))).isEmpty());
}

}  // namespace
}  // namespace tralux::app
