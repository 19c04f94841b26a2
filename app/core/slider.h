#pragma once
// Knob placement and the press and drag rules of the equalizer faders (vertical, 0..99) and
// the position slider (horizontal, milliseconds), all in logical pixels.
#include <cstdint>

#include "app/core/layout.h"

namespace tralux::app {

inline constexpr int kEqualizerKnobHalf = 3;  // knob reaches 3 pixels above and below
inline constexpr int kPositionKnobHalf = 3;   // knob reaches 3 pixels left and right
inline constexpr int kKnobGrabMargin = 2;     // a press this close to the knob grabs it

// --- Equalizer faders ---------------------------------------------------------------------
int EqualizerKnobY(const HotRect& slider, int value);
// The knob's rectangle (the slider's width less 2 pixels each side).
HotRect EqualizerKnobRect(const HotRect& slider, int value);
bool OnEqualizerKnob(const HotRect& slider, int value, int y);
// Value set by a press beside the knob.
int EqualizerValueAt(const HotRect& slider, int y);
// Value after a drag movement of dy pixels.
int EqualizerDragged(const HotRect& slider, int value, int dy);

// --- Position slider ----------------------------------------------------------------------
// Knob centre x for a position and length (ms); at or past the length it stands at the right.
int PositionKnobX(const HotRect& slider, std::uint64_t positionMs, std::uint64_t lengthMs);
HotRect PositionKnobRect(const HotRect& slider, std::uint64_t positionMs, std::uint64_t lengthMs);
bool OnPositionKnob(const HotRect& slider, std::uint64_t positionMs, std::uint64_t lengthMs, int x);
// Position set by a press beside the knob, within 0..length.
std::uint64_t PositionAt(const HotRect& slider, std::uint64_t lengthMs, int x);
// Position after a drag movement of dx pixels, within 0..length.
std::uint64_t PositionDragged(const HotRect& slider, std::uint64_t positionMs,
                              std::uint64_t lengthMs, int dx);

}  // namespace tralux::app
