#include "app/core/region.h"

#include <vector>

namespace tralux::app {

bool IsTransparentKey(QRgb p) {
    return qRed(p) == 255 && qBlue(p) == 255 && qGreen(p) <= 16;
}

QRegion RegionFromSkin(const QImage& skin, std::size_t* runs) {
    if (runs) *runs = 0;
    if (skin.isNull()) return {};
    const QImage img = skin.convertToFormat(QImage::Format_RGB32);
    constexpr std::size_t kBatch = 2000;
    QRegion result;
    std::vector<QRect> rects;
    rects.reserve(kBatch);
    std::size_t count = 0;
    auto merge = [&] {
        if (rects.empty()) return;
        QRegion part;
        part.setRects(rects.data(), static_cast<int>(rects.size()));
        result = result.united(part);
        rects.clear();
    };
    for (int y = 0; y < img.height(); ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(img.constScanLine(y));
        int x = 0;
        while (x < img.width()) {
            while (x < img.width() && IsTransparentKey(row[x])) ++x;
            if (x >= img.width()) break;
            const int start = x;
            while (x < img.width() && !IsTransparentKey(row[x])) ++x;
            rects.emplace_back(start, y, x - start, 1);
            ++count;
            if (rects.size() == kBatch) merge();
        }
    }
    merge();
    if (runs) *runs = count;
    return result;
}

}  // namespace tralux::app
