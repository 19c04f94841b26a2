#pragma once
// The window's outline from its face: every pixel that is not key magenta belongs to it.
#include <cstddef>

#include <QImage>
#include <QRegion>

namespace tralux::app {

// Key magenta within a tolerance: red and blue 255, green at most 16.
bool IsTransparentKey(QRgb pixel);

// Union of the rows' runs of non-key pixels, merged in batches of 2000 one-pixel-high
// rectangles. `runs` (optional) receives the number of runs. Empty for an empty image.
QRegion RegionFromSkin(const QImage& skin, std::size_t* runs = nullptr);

}  // namespace tralux::app
