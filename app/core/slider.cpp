#include "app/core/slider.h"

#include <algorithm>

namespace tralux::app {

namespace {

int ClampLevel(std::int64_t v) {
    return static_cast<int>(std::clamp<std::int64_t>(v, 0, 99));
}

// Ceiling of a / b for b > 0 and any sign of a.
std::int64_t CeilDiv(std::int64_t a, std::int64_t b) {
    const std::int64_t q = a / b;
    return (a % b != 0 && a > 0) ? q + 1 : q;
}

int Travel(const HotRect& s, int margin) {
    return std::max(1, s.Width() - margin);
}

}  // namespace

int EqualizerKnobY(const HotRect& s, int value) {
    const int span = s.Height() - 6;
    return s.top + 6 + value * span / 100;
}

HotRect EqualizerKnobRect(const HotRect& s, int value) {
    const int y = EqualizerKnobY(s, value);
    return {s.left + 2, y - kEqualizerKnobHalf, s.right - 2, y + kEqualizerKnobHalf};
}

bool OnEqualizerKnob(const HotRect& s, int value, int y) {
    const int knob = EqualizerKnobY(s, value);
    return y >= knob - kEqualizerKnobHalf - kKnobGrabMargin &&
           y <= knob + kEqualizerKnobHalf + kKnobGrabMargin;
}

int EqualizerValueAt(const HotRect& s, int y) {
    const int span = std::max(1, s.Height() - 6);
    return ClampLevel((100LL * y - 100LL * s.top - 600) / span);
}

int EqualizerDragged(const HotRect& s, int value, int dy) {
    const int span = std::max(1, s.Height() - 6);
    return ClampLevel(value + static_cast<std::int64_t>(dy) * 100 / span);
}

int PositionKnobX(const HotRect& s, std::uint64_t pos, std::uint64_t len) {
    const std::int64_t travel = s.Width() - 6;
    if (len == 0) return s.left + 3;
    if (pos >= len) return s.left + 3 + static_cast<int>(travel);
    return s.left + 3 +
           static_cast<int>(
               CeilDiv(travel * static_cast<std::int64_t>(pos), static_cast<std::int64_t>(len)));
}

HotRect PositionKnobRect(const HotRect& s, std::uint64_t pos, std::uint64_t len) {
    const int x = PositionKnobX(s, pos, len);
    return {x - kPositionKnobHalf, s.top + 1, x + kPositionKnobHalf, s.bottom - 1};
}

bool OnPositionKnob(const HotRect& s, std::uint64_t pos, std::uint64_t len, int x) {
    const int knob = PositionKnobX(s, pos, len);
    return x >= knob - kPositionKnobHalf - kKnobGrabMargin &&
           x <= knob + kPositionKnobHalf + kKnobGrabMargin;
}

std::uint64_t PositionAt(const HotRect& s, std::uint64_t len, int x) {
    const std::int64_t v = CeilDiv(static_cast<std::int64_t>(len) * (x - s.left), Travel(s, 6));
    return static_cast<std::uint64_t>(
        std::clamp<std::int64_t>(v, 0, static_cast<std::int64_t>(len)));
}

std::uint64_t PositionDragged(const HotRect& s, std::uint64_t pos, std::uint64_t len, int dx) {
    const std::int64_t v =
        static_cast<std::int64_t>(pos) + CeilDiv(static_cast<std::int64_t>(len) * dx, Travel(s, 6));
    return static_cast<std::uint64_t>(
        std::clamp<std::int64_t>(v, 0, static_cast<std::int64_t>(len)));
}

}  // namespace tralux::app
