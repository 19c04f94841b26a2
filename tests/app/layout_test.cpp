#include <gtest/gtest.h>

#include <set>

#include "app/core/layout.h"
#include "app/core/slider.h"

namespace tralux::app {
namespace {

TEST(HitTest, FollowsTheTestingOrderWhereRectanglesOverlap) {
    HotRects r{};
    // Every control covers the same square: the first in testing order wins.
    for (int c = 1; c <= 36; ++c) r[static_cast<std::size_t>(c)] = {0, 0, 10, 10};
    EXPECT_EQ(HitTest(r, 5, 5), 1);
    r[1] = {};
    EXPECT_EQ(HitTest(r, 5, 5), 2);
    for (int c = 2; c <= 7; ++c) r[static_cast<std::size_t>(c)] = {};
    EXPECT_EQ(HitTest(r, 5, 5), 36);  // Minimize comes before 8
    r[36] = {};
    EXPECT_EQ(HitTest(r, 5, 5), 8);
    for (int c = 8; c <= 13; ++c) r[static_cast<std::size_t>(c)] = {};
    EXPECT_EQ(HitTest(r, 5, 5), 15);  // 14 is never tested
}

TEST(HitTest, UnusedNumbersAndEmptySpaceGiveNothing) {
    HotRects r{};
    r[14] = {0, 0, 10, 10};
    r[35] = {0, 0, 10, 10};
    EXPECT_EQ(HitTest(r, 5, 5), 0);
    r[20] = {20, 20, 30, 30};
    EXPECT_EQ(HitTest(r, 19, 25), 0);
}

TEST(HitTest, EdgesBelongToTheRectangle) {
    HotRects r{};
    r[kPlay] = {10, 20, 30, 40};
    EXPECT_EQ(HitTest(r, 10, 20), kPlay);
    EXPECT_EQ(HitTest(r, 30, 40), kPlay);
    EXPECT_EQ(HitTest(r, 31, 40), 0);
    EXPECT_EQ(HitTest(r, 30, 41), 0);
}

TEST(SkinLayout, EveryControlHasItsOwnRectangleInsideTheFace) {
    const HotRects& r = SkinHotRects();
    for (int c : kHitOrder) {
        const HotRect& a = r[static_cast<std::size_t>(c)];
        ASSERT_FALSE(a.Empty()) << c;
        EXPECT_GE(a.left, 0);
        EXPECT_GE(a.top, 0);
        EXPECT_LT(a.right, kFaceWidth);
        EXPECT_LT(a.bottom, kFaceHeight);
        // Its centre hits the control itself: no other control shadows it.
        EXPECT_EQ(HitTest(r, a.CenterX(), a.CenterY()), c) << c;
    }
    EXPECT_TRUE(r[14].Empty());
    EXPECT_TRUE(r[35].Empty());
}

TEST(SkinLayout, EqualizerFadersAreTallEnoughForTheirFormula) {
    const HotRects& r = SkinHotRects();
    for (int c = kFirstBand; c <= kMaster; ++c)
        EXPECT_GT(r[static_cast<std::size_t>(c)].Height(), 20) << c;
    EXPECT_GT(r[kPosition].Width(), 100);
}

TEST(Hover, HighlightsCloseAndMinimizeAlwaysOthersOnlyWithAnInput) {
    EXPECT_TRUE(HighlightsOnHover(kClose, false));
    EXPECT_TRUE(HighlightsOnHover(kMinimize, false));
    for (int c : {kLoad, kConvert, kRipCd, kBatch, kAbout, kPlay}) {
        EXPECT_FALSE(HighlightsOnHover(c, false)) << c;
        EXPECT_TRUE(HighlightsOnHover(c, true)) << c;
    }
    for (int c :
         {kEqualizerOn, kEqualizerReset, kPosition, kMono, kRate8000, kFirstBand, kInactiveDisplay})
        EXPECT_FALSE(HighlightsOnHover(c, true)) << c;
}

TEST(ToolTips, EveryActiveControlIsNamed) {
    for (int c : kHitOrder) {
        if (c == kInactiveDisplay || c == kInactiveSpectrum) continue;
        EXPECT_FALSE(ControlName(c).empty()) << c;
    }
}

}  // namespace
}  // namespace tralux::app
