#include <gtest/gtest.h>

#include "app/core/slider.h"

namespace tralux::app {
namespace {

// height 62: the knob travels 56 pixels from top + 6.
constexpr HotRect kFader{100, 200, 114, 262};
// width 206: the knob travels 200 pixels from left + 3.
constexpr HotRect kSlider{10, 50, 216, 62};

TEST(EqualizerFader, KnobPlacement) {
    EXPECT_EQ(EqualizerKnobY(kFader, 0), 206);
    EXPECT_EQ(EqualizerKnobY(kFader, 50), 234);
    EXPECT_EQ(EqualizerKnobY(kFader, 99), 261);  // 6 + 99 * 56 / 100 = 6 + 55
    const HotRect k = EqualizerKnobRect(kFader, 50);
    EXPECT_EQ(k.left, 102);
    EXPECT_EQ(k.right, 112);
    EXPECT_EQ(k.top, 231);
    EXPECT_EQ(k.bottom, 237);
}

TEST(EqualizerFader, PressAtTheEndsGivesZeroAndNinetyNineNeverHundred) {
    EXPECT_EQ(EqualizerValueAt(kFader, kFader.top), 0);
    EXPECT_EQ(EqualizerValueAt(kFader, kFader.bottom), 99);
    EXPECT_EQ(EqualizerValueAt(kFader, kFader.top + 34), 50);  // (3400 - 600) / 56
    EXPECT_EQ(EqualizerValueAt(kFader, kFader.bottom + 40), 99);
}

TEST(EqualizerFader, PressWithinTwoPixelsOfTheKnobGrabsIt) {
    // Knob at 234 spans 231..237; 229 and 239 still grab it, 228 and 240 do not.
    EXPECT_TRUE(OnEqualizerKnob(kFader, 50, 229));
    EXPECT_TRUE(OnEqualizerKnob(kFader, 50, 239));
    EXPECT_FALSE(OnEqualizerKnob(kFader, 50, 228));
    EXPECT_FALSE(OnEqualizerKnob(kFader, 50, 240));
}

TEST(EqualizerFader, DragMovesByTheScaledStepAndStopsAtTheEnds) {
    EXPECT_EQ(EqualizerDragged(kFader, 50, 1), 51);  // 100 / 56 = 1
    EXPECT_EQ(EqualizerDragged(kFader, 50, 2), 53);  // 200 / 56 = 3
    EXPECT_EQ(EqualizerDragged(kFader, 50, -2), 47);
    EXPECT_EQ(EqualizerDragged(kFader, 50, 500), 99);
    EXPECT_EQ(EqualizerDragged(kFader, 50, -500), 0);
    EXPECT_EQ(EqualizerDragged(kFader, 99, 1), 99);
}

TEST(PositionSlider, KnobPlacementRoundsUpAndStopsAtTheEnds) {
    EXPECT_EQ(PositionKnobX(kSlider, 0, 0), 13);  // no length
    EXPECT_EQ(PositionKnobX(kSlider, 0, 1000), 13);
    EXPECT_EQ(PositionKnobX(kSlider, 1, 1000), 14);  // 200 * 1 / 1000 rounds up to 1
    EXPECT_EQ(PositionKnobX(kSlider, 500, 1000), 113);
    EXPECT_EQ(PositionKnobX(kSlider, 1000, 1000), 213);
    EXPECT_EQ(PositionKnobX(kSlider, 5000, 1000), 213);  // past the length
}

TEST(PositionSlider, LongInputsDoNotOverflow) {
    // Ten hours in milliseconds times the travel exceeds 32 bits.
    const std::uint64_t len = 36000000;
    EXPECT_EQ(PositionKnobX(kSlider, len / 2, len), 113);
    EXPECT_EQ(PositionAt(kSlider, len, kSlider.left + 100), len / 2);
}

TEST(PositionSlider, PressBesideTheKnobSetsTheRoundedUpPosition) {
    EXPECT_EQ(PositionAt(kSlider, 1000, kSlider.left + 100), 500u);
    EXPECT_EQ(PositionAt(kSlider, 999, kSlider.left + 1), 5u);  // 999 / 200 rounds up
    EXPECT_EQ(PositionAt(kSlider, 1000, kSlider.left - 5), 0u);
    EXPECT_EQ(PositionAt(kSlider, 1000, kSlider.right), 1000u);  // beyond the travel: the length
    EXPECT_TRUE(OnPositionKnob(kSlider, 500, 1000, 118));
    EXPECT_FALSE(OnPositionKnob(kSlider, 500, 1000, 119));
}

TEST(PositionSlider, DragPastEitherEndStopsAtZeroOrTheLength) {
    EXPECT_EQ(PositionDragged(kSlider, 500, 1000, 10), 550u);
    EXPECT_EQ(PositionDragged(kSlider, 500, 1000, -10), 450u);
    EXPECT_EQ(PositionDragged(kSlider, 500, 1000, 1000), 1000u);
    EXPECT_EQ(PositionDragged(kSlider, 500, 1000, -1000), 0u);
    EXPECT_EQ(PositionDragged(kSlider, 0, 999, 1), 5u);  // ceiling(999 / 200)
}

}  // namespace
}  // namespace tralux::app
