#pragma once
// Ten-band graphic equalizer with a master gain, applied per bin of the converter's 2048-point
// output frames. Levels run 0..99 with 50 neutral: ten bands low to high, then the master.
#include <array>
#include <atomic>
#include <cstdint>

namespace tralux::dsp {

constexpr int kEqualizerLevels = 11;
constexpr int kEqualizerBins = 1024;
using EqualizerResponseTable = std::array<double, kEqualizerBins>;

struct EqualizerBand {
    int lo, hi;  // hertz, lo included, hi excluded
};
inline constexpr std::array<EqualizerBand, 10> kEqualizerBands{{{0, 80},
                                                                {80, 137},
                                                                {137, 175},
                                                                {175, 300},
                                                                {300, 750},
                                                                {750, 1500},
                                                                {1500, 3500},
                                                                {3500, 6000},
                                                                {6000, 12000},
                                                                {12000, 64000}}};

// 50 -> 1.0; below 50 a boost up to e at 0; above 50 a cut, exp(-3.76) at 97, silence from 98.
// Levels outside 0..99 are taken as the nearest end.
float BandGain(int value);

// Fills response (entry k = gain of bin k of a 2048-point frame at outputRate) from the levels
// and returns the master gain. Nothing is cleared above the source's Nyquist frequency on
// up-conversions: the rate converter's filter already removed it, and cutting an unwindowed
// frame there again only rings at the frame's edges.
float BuildEqualizerResponse(const std::array<int, kEqualizerLevels>& levels,
                             std::uint32_t sourceRate, std::uint32_t outputRate,
                             EqualizerResponseTable& response);

}  // namespace tralux::dsp
