#include "app/skin/skin.h"

#include <QLinearGradient>
#include <QPainter>
#include <QRadialGradient>

#include "app/core/layout.h"

namespace tralux::app::skin {

namespace {

constexpr QRgb kKeyMagenta = 0xFFFF00FF;

QRectF R(const HotRect& h) {
    // Hot rectangles include their right and bottom edges.
    return QRectF(h.left, h.top, h.right - h.left + 1, h.bottom - h.top + 1);
}

QImage NewImage(int w, int h, qreal dpr, QRgb fill) {
    QImage img(qRound(w * dpr), qRound(h * dpr), QImage::Format_ARGB32_Premultiplied);
    img.setDevicePixelRatio(dpr);
    img.fill(fill);
    return img;
}

struct Palette {
    QColor bodyTop{0x45, 0x48, 0x4e}, bodyMid{0x2c, 0x2e, 0x33}, bodyBottom{0x1b, 0x1c, 0x20};
    QColor edgeDark{0x08, 0x08, 0x0a}, edgeLight{0x6c, 0x70, 0x78};
    QColor buttonTop{0x4d, 0x51, 0x58}, buttonBottom{0x30, 0x33, 0x38};
    QColor hoverTop{0x5f, 0x64, 0x6c}, hoverBottom{0x3a, 0x3d, 0x43};
    QColor pressedTop{0x1f, 0x21, 0x24}, pressedBottom{0x2e, 0x31, 0x35};
    QColor label{0xdc, 0xde, 0xe2}, labelDim{0x95, 0x99, 0xa0};
    QColor lcdDark{0x0c, 0x09, 0x05}, lcdGlow{0x2a, 0x1c, 0x0c};
};
const Palette kPal;

void Bevel(QPainter& p, const QRectF& r, qreal radius, bool sunken) {
    // A one-pixel lit edge on one side, a shadow on the other.
    QLinearGradient g(r.topLeft(), r.bottomLeft());
    QColor light(255, 255, 255, sunken ? 0 : 60), dark(0, 0, 0, sunken ? 150 : 90);
    g.setColorAt(0, sunken ? dark : light);
    g.setColorAt(1, sunken ? QColor(255, 255, 255, 40) : dark);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QBrush(g), 1.0));
    p.drawRoundedRect(r.adjusted(0.5, 0.5, -0.5, -0.5), radius, radius);
}

void Button(QPainter& p, const QRectF& r, Look look, qreal radius = 4) {
    p.save();
    p.setPen(Qt::NoPen);
    // Drop shadow under raised buttons; a recess around pressed ones.
    p.setBrush(QColor(0, 0, 0, look == Look::Pressed ? 110 : 80));
    p.drawRoundedRect(r.adjusted(-1, -0.5, 1, 1.5), radius + 1, radius + 1);
    QLinearGradient g(r.topLeft(), r.bottomLeft());
    switch (look) {
        case Look::Normal:
            g.setColorAt(0, kPal.buttonTop);
            g.setColorAt(1, kPal.buttonBottom);
            break;
        case Look::Hover:
            g.setColorAt(0, kPal.hoverTop);
            g.setColorAt(1, kPal.hoverBottom);
            break;
        case Look::Pressed:
            g.setColorAt(0, kPal.pressedTop);
            g.setColorAt(1, kPal.pressedBottom);
            break;
    }
    p.setBrush(g);
    p.setPen(QPen(kPal.edgeDark, 1.0));
    p.drawRoundedRect(r.adjusted(0.5, 0.5, -0.5, -0.5), radius, radius);
    Bevel(p, r.adjusted(1, 1, -1, -1), radius - 1, look == Look::Pressed);
    if (look == Look::Hover) {
        p.setBrush(Qt::NoBrush);
        QColor rim = AccentColor();
        rim.setAlpha(110);
        p.setPen(QPen(rim, 1.0));
        p.drawRoundedRect(r.adjusted(0.5, 0.5, -0.5, -0.5), radius, radius);
    }
    p.restore();
}

void Label(QPainter& p, const QRectF& r, const QString& text, Look look, qreal size,
           bool bold = false) {
    p.save();
    p.setFont(LabelFont(size, bold));
    const QRectF t = look == Look::Pressed ? r.translated(0, 1) : r;
    p.setPen(QColor(0, 0, 0, 160));
    p.drawText(t.translated(0, 1), Qt::AlignCenter, text);
    p.setPen(look == Look::Pressed ? AccentColor() : kPal.label);
    p.drawText(t, Qt::AlignCenter, text);
    p.restore();
}

void Led(QPainter& p, QPointF c, bool lit) {
    p.save();
    p.setPen(Qt::NoPen);
    if (lit) {
        QRadialGradient glow(c, 4.5);
        QColor a = AccentColor();
        glow.setColorAt(0, a);
        a.setAlpha(0);
        glow.setColorAt(1, a);
        p.setBrush(glow);
        p.drawEllipse(c, 4.5, 4.5);
    }
    p.setBrush(lit ? QColor(0xff, 0xd2, 0x8a) : QColor(0x3a, 0x2a, 0x18));
    p.drawEllipse(c, 1.6, 1.6);
    p.restore();
}

void Body(QPainter& p) {
    const QPainterPath outline = Outline();
    QLinearGradient g(0, 0, 0, kFaceHeight);
    g.setColorAt(0, kPal.bodyTop);
    g.setColorAt(0.18, kPal.bodyMid);
    g.setColorAt(1, kPal.bodyBottom);
    p.fillPath(outline, g);
    // Fine horizontal brushing.
    p.save();
    p.setClipPath(outline);
    for (int y = 0; y < kFaceHeight; y += 2) {
        const int shade = (y * 37) % 11;
        p.setPen(QPen(QColor(255, 255, 255, 3 + shade / 3), 0.5));
        p.drawLine(QPointF(0, y + 0.5), QPointF(kFaceWidth, y + 0.5));
    }
    // A soft sheen across the upper third.
    QRadialGradient sheen(QPointF(60, -40), 220);
    sheen.setColorAt(0, QColor(255, 255, 255, 34));
    sheen.setColorAt(1, QColor(255, 255, 255, 0));
    p.fillRect(QRectF(0, 0, kFaceWidth, kFaceHeight), sheen);
    p.restore();
    // Outer edge dark, an inner lit rim.
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(kPal.edgeDark, 1.5));
    p.drawPath(outline);
    QPainterPath inner = outline.translated(0, 0);
    p.save();
    p.setClipPath(outline);
    p.setPen(QPen(QColor(255, 255, 255, 38), 1.0));
    p.translate(0, 1.2);
    p.drawPath(inner);
    p.restore();
}

void Groove(QPainter& p, const QRectF& r) {
    p.save();
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x0a, 0x0a, 0x0c));
    p.drawRoundedRect(r, r.width() < r.height() ? r.width() / 2 : r.height() / 2,
                      r.width() < r.height() ? r.width() / 2 : r.height() / 2);
    p.setPen(QPen(QColor(255, 255, 255, 30), 1.0));
    p.drawLine(QPointF(r.left() + 1, r.bottom() + 0.5), QPointF(r.right() - 1, r.bottom() + 0.5));
    p.restore();
}

void LcdPanel(QPainter& p) {
    const QRectF panel = R(kLcdPanel);
    p.save();
    // Bezel recess.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 0, 0, 150));
    p.drawRoundedRect(panel.adjusted(-2, -2, 2, 2), 8, 8);
    QRadialGradient glow(panel.center() + QPointF(0, -10), panel.width() * 0.7);
    glow.setColorAt(0, kPal.lcdGlow);
    glow.setColorAt(1, kPal.lcdDark);
    p.setBrush(glow);
    p.drawRoundedRect(panel, 6, 6);
    // Pixel grid of the backlit glass.
    p.setClipRect(panel.adjusted(2, 2, -2, -2));
    p.setPen(QPen(QColor(0, 0, 0, 45), 0.5));
    for (qreal y = panel.top() + 1; y < panel.bottom(); y += 2)
        p.drawLine(QPointF(panel.left(), y), QPointF(panel.right(), y));
    p.setClipping(false);
    Bevel(p, panel, 6, true);
    // Glass reflection.
    QLinearGradient refl(panel.topLeft(),
                         QPointF(panel.left(), panel.top() + panel.height() * 0.45));
    refl.setColorAt(0, QColor(255, 255, 255, 22));
    refl.setColorAt(1, QColor(255, 255, 255, 0));
    p.setPen(Qt::NoPen);
    p.setBrush(refl);
    p.drawRoundedRect(panel.adjusted(2, 2, -2, -panel.height() * 0.55), 5, 5);
    // Ghost segments of the spectrum bars: 11 columns, level first.
    const QRectF s = R(kSpectrumArea);
    for (int i = 0; i < 11; ++i) {
        const qreal x = s.left() + 4 + i * 17;
        for (int seg = 0; seg < 7; ++seg) {
            const qreal y = s.bottom() - 3 - seg * 3;
            p.fillRect(QRectF(x, y, 13, 2), LcdGhostColor());
        }
    }
    // A thin divider between the level and the bands.
    p.fillRect(QRectF(s.left() + 19, s.top() + 1, 0.8, s.height() - 2),
               QColor(0xff, 0xae, 0x42, 40));
    p.restore();
}

void TitleBar(QPainter& p, Look look) {
    const HotRects& h = SkinHotRects();
    p.save();
    p.setFont(LabelFont(10.5, true));
    p.setPen(QColor(0, 0, 0, 170));
    p.drawText(QRectF(19, 7, 120, 16), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("Quorvatix"));
    p.setPen(kPal.label);
    p.drawText(QRectF(18, 6, 120, 16), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("Quorvatix"));
    const qreal w =
        QFontMetricsF(LabelFont(10.5, true)).horizontalAdvance(QStringLiteral("Quorvatix "));
    p.setFont(LabelFont(10.5, false));
    p.setPen(AccentColor());
    p.drawText(QRectF(18 + w, 6, 100, 16), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("Tralux"));
    p.restore();
    for (int c : {kMinimize, kClose}) {
        const QRectF r = R(h[static_cast<std::size_t>(c)]);
        p.save();
        p.setPen(QPen(kPal.edgeDark, 1));
        QRadialGradient g(r.center() + QPointF(-2, -3), r.width());
        const bool pressed = look == Look::Pressed;
        const QColor top = look == Look::Hover ? kPal.hoverTop
                           : pressed           ? kPal.pressedTop
                                               : kPal.buttonTop;
        g.setColorAt(0, top.lighter(pressed ? 100 : 125));
        g.setColorAt(1, pressed ? kPal.pressedBottom : kPal.buttonBottom);
        p.setBrush(g);
        p.drawEllipse(r.adjusted(0.5, 0.5, -0.5, -0.5));
        if (look == Look::Hover) {
            QColor rim = AccentColor();
            rim.setAlpha(120);
            p.setPen(QPen(rim, 1));
            p.setBrush(Qt::NoBrush);
            p.drawEllipse(r.adjusted(0.5, 0.5, -0.5, -0.5));
        }
        p.setPen(QPen(pressed ? AccentColor() : kPal.label, 1.4, Qt::SolidLine, Qt::RoundCap));
        const QPointF c0 = r.center() + QPointF(0, pressed ? 0.5 : 0);
        if (c == kMinimize) {
            p.drawLine(c0 + QPointF(-3, 0.5), c0 + QPointF(3, 0.5));
        } else {
            p.drawLine(c0 + QPointF(-2.6, -2.6), c0 + QPointF(2.6, 2.6));
            p.drawLine(c0 + QPointF(-2.6, 2.6), c0 + QPointF(2.6, -2.6));
        }
        p.restore();
    }
}

void PlayIcon(QPainter& p, const QRectF& r, Look look) {
    p.save();
    const QPointF c = r.center() + QPointF(0, look == Look::Pressed ? 1 : 0);
    const QColor col = look == Look::Pressed ? AccentColor().lighter(115) : AccentColor();
    p.setPen(Qt::NoPen);
    p.setBrush(col);
    QPolygonF tri;
    tri << c + QPointF(-8, -5) << c + QPointF(-8, 5) << c + QPointF(-1, 0);
    p.drawPolygon(tri);
    p.drawRect(QRectF(c.x() + 2, c.y() - 4.5, 7, 9));
    p.restore();
}

void Fader(QPainter& p, const HotRect& h, bool master) {
    const QRectF r = R(h);
    const qreal cx = r.center().x();
    const int span = h.Height() - 6;
    p.save();
    // Scale ticks every ten steps, the neutral mark brighter.
    for (int v = 0; v <= 100; v += 10) {
        const qreal y = h.top + 6 + v * span / 100.0;
        const bool mid = v == 50;
        p.setPen(
            QPen(mid ? QColor(0xff, 0xae, 0x42, 150) : QColor(255, 255, 255, 55), mid ? 1.0 : 0.7));
        p.drawLine(QPointF(r.left() + 1, y), QPointF(r.left() + (mid ? 4 : 3), y));
        p.drawLine(QPointF(r.right() - (mid ? 4 : 3), y), QPointF(r.right() - 1, y));
    }
    Groove(p, QRectF(cx - 1.5, h.top + 3, 3, span + 6));
    if (master) {
        p.setPen(QPen(QColor(255, 255, 255, 25), 1));
        p.setBrush(Qt::NoBrush);
        p.drawRoundedRect(r.adjusted(-1.5, -2, 1.5, 2), 3, 3);
    }
    p.restore();
}

void Controls(QPainter& p, Look look) {
    const HotRects& h = SkinHotRects();
    auto rect = [&](int c) { return R(h[static_cast<std::size_t>(c)]); };

    // Position slider groove with a scale.
    const QRectF pos = rect(kPosition);
    Groove(p, QRectF(pos.left() + 1, pos.center().y() - 2, pos.width() - 2, 4));
    p.save();
    p.setPen(QPen(QColor(255, 255, 255, 40), 0.7));
    for (int i = 0; i <= 20; ++i) {
        const qreal x = pos.left() + 3 + i * (pos.width() - 7) / 20.0;
        const qreal len = i % 5 == 0 ? 2.5 : 1.2;
        p.drawLine(QPointF(x, pos.bottom() + 0.5), QPointF(x, pos.bottom() + 0.5 + len));
    }
    p.restore();

    Button(p, rect(kPlay), look, 5);
    PlayIcon(p, rect(kPlay), look);
    const std::array<std::pair<int, const char*>, 5> actions{{{kLoad, "載入"},
                                                              {kConvert, "轉換"},
                                                              {kRipCd, "擷取"},
                                                              {kBatch, "批次"},
                                                              {kAbout, "關於"}}};
    for (const auto& [c, text] : actions) {
        Button(p, rect(c), look);
        Label(p, rect(c), QString::fromUtf8(text), look, 11.5);
    }

    const std::array<std::pair<int, const char*>, 3> quality{
        {{kOriginalQuality, "原始品質"}, {kStereo, "立體聲"}, {kMono, "單聲道"}}};
    for (const auto& [c, text] : quality) {
        Button(p, rect(c), look, 3);
        Label(p, rect(c), QString::fromUtf8(text), look, 10.5);
    }
    const std::array<const char*, 6> rates{"8k", "11k", "16k", "22k", "32k", "44.1k"};
    for (int i = 0; i < 6; ++i) {
        const QRectF r = rect(kRate8000 + i);
        Button(p, r, look, 3);
        Label(p, r, QString::fromUtf8(rates[static_cast<std::size_t>(i)]), look, 9.5);
    }

    // Equalizer header.
    p.save();
    p.setFont(LabelFont(11, true));
    p.setPen(QColor(0, 0, 0, 160));
    p.drawText(QRectF(15, 212, 80, 14), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("等化器"));
    p.setPen(kPal.labelDim.lighter(120));
    p.drawText(QRectF(14, 211, 80, 14), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("等化器"));
    p.restore();
    const std::array<std::pair<int, const char*>, 3> eq{
        {{kEqualizerOn, "開"}, {kEqualizerOff, "關"}, {kEqualizerReset, "重設"}}};
    for (const auto& [c, text] : eq) {
        const QRectF r = rect(c);
        Button(p, r, look, 3);
        Label(p, c == kEqualizerReset ? r : r.adjusted(6, 0, 0, 0), QString::fromUtf8(text), look,
              10);
        if (c != kEqualizerReset)
            Led(p, QPointF(r.left() + 7, r.center().y() + 0.5), look == Look::Pressed);
    }
    // The "+" end of the faders is the boost.
    for (int i = 0; i < 10; ++i) Fader(p, h[static_cast<std::size_t>(kFirstBand + i)], false);
    Fader(p, h[kMaster], true);
    p.save();
    p.setPen(QPen(QColor(0, 0, 0, 150), 1));
    p.drawLine(QPointF(187.5, 232), QPointF(187.5, 300));
    p.setPen(QPen(QColor(255, 255, 255, 30), 1));
    p.drawLine(QPointF(188.5, 232), QPointF(188.5, 300));
    const std::array<const char*, 10> bands{"<80", "80",   "137",  "175", "300",
                                            "750", "1.5k", "3.5k", "6k",  "12k"};
    p.setFont(LabelFont(7.5));
    p.setPen(kPal.labelDim);
    for (int i = 0; i < 10; ++i) {
        const HotRect& b = h[static_cast<std::size_t>(kFirstBand + i)];
        p.drawText(QRectF(b.left - 3, 295, b.right - b.left + 7, 10), Qt::AlignCenter,
                   QString::fromUtf8(bands[static_cast<std::size_t>(i)]));
    }
    p.setFont(LabelFont(9));
    p.drawText(QRectF(h[kMaster].left - 4, 294, h[kMaster].right - h[kMaster].left + 9, 12),
               Qt::AlignCenter, QStringLiteral("音量"));
    p.setFont(LabelFont(7));
    p.setPen(QColor(0x95, 0x99, 0xa0, 170));
    p.drawText(QRectF(14, 305, 170, 8), Qt::AlignCenter, QStringLiteral("Hz"));
    p.restore();
}

}  // namespace

QColor AccentColor() {
    return QColor(0xff, 0xa8, 0x36);
}
QColor LcdTextColor() {
    return QColor(0xff, 0xb8, 0x52);
}
QColor LcdGhostColor() {
    return QColor(0xff, 0xae, 0x42, 26);
}

QFont LabelFont(qreal pixelSize, bool bold) {
    QFont f;
    f.setFamilies({QStringLiteral("Noto Sans CJK TC"), QStringLiteral("Noto Sans CJK HK"),
                   QStringLiteral("Noto Sans CJK SC"), QStringLiteral("Noto Sans CJK JP"),
                   QStringLiteral("Noto Sans")});
    f.setPixelSize(qMax(1, qRound(pixelSize)));
    f.setWeight(bold ? QFont::DemiBold : QFont::Normal);
    f.setHintingPreference(QFont::PreferFullHinting);
    return f;
}

QPainterPath Outline() {
    QPainterPath body;
    body.addRoundedRect(QRectF(0.5, 0.5, kFaceWidth - 1, kFaceHeight - 1), 18, 18);
    // Grip notches on both sides, between the quality buttons and the equalizer.
    QPainterPath notches;
    notches.addEllipse(QPointF(-1, 207.5), 6, 6);
    notches.addEllipse(QPointF(kFaceWidth + 1, 207.5), 6, 6);
    return body.subtracted(notches);
}

QImage RenderFace(Look look, qreal dpr, bool keyBackground) {
    QImage img = NewImage(kFaceWidth, kFaceHeight, dpr, keyBackground ? kKeyMagenta : 0u);
    QPainter p(&img);
    // The key outline stays hard-edged so no blended fringe counts as magenta.
    p.setRenderHint(QPainter::Antialiasing, !keyBackground);
    if (keyBackground) {
        p.fillPath(Outline(), kPal.bodyMid);
        p.setRenderHint(QPainter::Antialiasing, true);
        p.setClipPath(Outline());
    }
    p.setRenderHint(QPainter::TextAntialiasing, true);
    Body(p);
    LcdPanel(p);
    TitleBar(p, look);
    Controls(p, look);
    return img;
}

const std::array<GlyphCell, 14>& GlyphCells() {
    static const std::array<GlyphCell, 14> cells = [] {
        std::array<GlyphCell, 14> c{};
        int x = 0;
        for (int i = 0; i < 10; ++i, x += 12)
            c[static_cast<std::size_t>(i)] = {static_cast<char>('0' + i), x, 12};
        c[10] = {':', x, 8};
        x += 8;
        c[11] = {'/', x, 10};
        x += 10;
        c[12] = {'.', x, 6};
        x += 6;
        c[13] = {' ', x, kGlyphStripWidth - x};
        return c;
    }();
    return cells;
}

const GlyphCell* FindGlyph(char ch) {
    for (const GlyphCell& g : GlyphCells())
        if (g.ch == ch) return &g;
    return nullptr;
}

int GlyphTextWidth(std::string_view text) {
    int w = 0;
    for (char c : text)
        if (const GlyphCell* g = FindGlyph(c)) w += c == ' ' ? 6 : g->width;
    return w;
}

namespace {

// Seven segments a..g of a digit in a 12 x 25 cell, slanted like a backlit display.
void Segments(QPainter& p, qreal x0, int mask, const QColor& on, const QColor& off) {
    const qreal w = 9, h = 21, t = 2.2, top = kGlyphTop + 2, left = x0 + 2;
    const qreal slant = 1.6;
    auto sk = [&](qreal x, qreal y) { return QPointF(x + slant * (1 - (y - top) / h), y); };
    auto hseg = [&](qreal y) {
        QPolygonF poly;
        poly << sk(left + 1.2, y) << sk(left + 2.2, y - t / 2) << sk(left + w - 2.2, y - t / 2)
             << sk(left + w - 1.2, y) << sk(left + w - 2.2, y + t / 2) << sk(left + 2.2, y + t / 2);
        return poly;
    };
    auto vseg = [&](qreal x, qreal y0, qreal y1) {
        QPolygonF poly;
        poly << sk(x, y0 + 1.2) << sk(x + t / 2, y0 + 2.2) << sk(x + t / 2, y1 - 2.2)
             << sk(x, y1 - 1.2) << sk(x - t / 2, y1 - 2.2) << sk(x - t / 2, y0 + 2.2);
        return poly;
    };
    const std::array<QPolygonF, 7> segs{
        hseg(top),        vseg(left + w, top, top + h / 2), vseg(left + w, top + h / 2, top + h),
        hseg(top + h),    vseg(left, top + h / 2, top + h), vseg(left, top, top + h / 2),
        hseg(top + h / 2)};
    p.setPen(Qt::NoPen);
    for (int i = 0; i < 7; ++i) {
        p.setBrush((mask >> i) & 1 ? on : off);
        p.drawPolygon(segs[static_cast<std::size_t>(i)]);
    }
}

}  // namespace

QImage RenderGlyphStrip(qreal dpr) {
    QImage img = NewImage(kGlyphStripWidth, kGlyphStripHeight, dpr, 0u);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing, true);
    // Segment masks, bit 0 = a ... bit 6 = g.
    constexpr std::array<int, 10> kDigits{0x3F, 0x06, 0x5B, 0x4F, 0x66,
                                          0x6D, 0x7D, 0x07, 0x7F, 0x6F};
    const QColor on = LcdTextColor(), off = LcdGhostColor();
    for (const GlyphCell& g : GlyphCells()) {
        if (g.ch >= '0' && g.ch <= '9') {
            Segments(p, g.x, kDigits[static_cast<std::size_t>(g.ch - '0')], on, off);
        } else if (g.ch == ':') {
            p.setPen(Qt::NoPen);
            p.setBrush(on);
            p.drawEllipse(QPointF(g.x + 4.3, kGlyphTop + 8.5), 1.4, 1.4);
            p.drawEllipse(QPointF(g.x + 3.7, kGlyphTop + 17.5), 1.4, 1.4);
        } else if (g.ch == '/') {
            p.setPen(QPen(on, 1.8, Qt::SolidLine, Qt::RoundCap));
            p.drawLine(QPointF(g.x + 8, kGlyphTop + 4), QPointF(g.x + 2, kGlyphTop + 22));
        } else if (g.ch == '.') {
            p.setPen(Qt::NoPen);
            p.setBrush(on);
            p.drawEllipse(QPointF(g.x + 2.6, kGlyphTop + 22), 1.4, 1.4);
        }
    }
    return img;
}

QImage RenderDriveIcon(qreal dpr) {
    QImage img = NewImage(16, 16, dpr, 0u);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing, true);
    // Drive body with a disc half out of its tray.
    QLinearGradient g(0, 9, 0, 15);
    g.setColorAt(0, kPal.buttonTop.lighter(140));
    g.setColorAt(1, kPal.buttonBottom);
    p.setPen(QPen(kPal.edgeDark, 0.8));
    p.setBrush(g);
    p.drawRoundedRect(QRectF(1, 9.5, 14, 5), 1.2, 1.2);
    QRadialGradient d(QPointF(8, 6), 6);
    d.setColorAt(0, QColor(0xe8, 0xea, 0xee));
    d.setColorAt(0.6, QColor(0xa8, 0xc8, 0xe0));
    d.setColorAt(1, QColor(0xd8, 0xb0, 0xe0));
    p.setBrush(d);
    p.drawEllipse(QPointF(8, 6), 5.5, 5.5);
    p.setBrush(kPal.bodyMid);
    p.drawEllipse(QPointF(8, 6), 1.3, 1.3);
    p.setPen(Qt::NoPen);
    p.setBrush(AccentColor());
    p.drawEllipse(QPointF(12.5, 12), 0.9, 0.9);
    return img;
}

QImage RenderAppIcon(int size) {
    QImage img(size, size, QImage::Format_ARGB32_Premultiplied);
    img.fill(0u);
    QPainter p(&img);
    p.setRenderHint(QPainter::Antialiasing, true);
    p.scale(size / 64.0, size / 64.0);
    QLinearGradient body(0, 0, 0, 64);
    body.setColorAt(0, kPal.bodyTop);
    body.setColorAt(1, kPal.bodyBottom);
    p.setPen(QPen(kPal.edgeDark, 1.2));
    p.setBrush(body);
    p.drawRoundedRect(QRectF(3, 3, 58, 58), 12, 12);
    QRadialGradient lcd(QPointF(32, 22), 30);
    lcd.setColorAt(0, kPal.lcdGlow.lighter(130));
    lcd.setColorAt(1, kPal.lcdDark);
    p.setBrush(lcd);
    p.setPen(QPen(QColor(0, 0, 0, 160), 1));
    p.drawRoundedRect(QRectF(9, 10, 46, 28), 4, 4);
    const std::array<int, 7> bars{5, 9, 13, 10, 7, 11, 6};
    p.setPen(Qt::NoPen);
    for (int i = 0; i < 7; ++i) {
        for (int s = 0; s < 8; ++s) {
            const QColor c =
                s < bars[static_cast<std::size_t>(i)] / 1.5 ? LcdTextColor() : LcdGhostColor();
            p.fillRect(QRectF(13 + i * 5.7, 34 - s * 2.8, 4.2, 2), c);
        }
    }
    // Play key with the accent.
    QLinearGradient key(0, 44, 0, 56);
    key.setColorAt(0, kPal.buttonTop.lighter(120));
    key.setColorAt(1, kPal.buttonBottom);
    p.setBrush(key);
    p.setPen(QPen(kPal.edgeDark, 0.8));
    p.drawRoundedRect(QRectF(9, 43, 20, 12), 3, 3);
    p.drawRoundedRect(QRectF(35, 43, 20, 12), 3, 3);
    p.setPen(Qt::NoPen);
    p.setBrush(AccentColor());
    QPolygonF tri;
    tri << QPointF(16, 45.5) << QPointF(16, 52.5) << QPointF(22.5, 49);
    p.drawPolygon(tri);
    p.setBrush(QColor(0xdc, 0xde, 0xe2));
    p.drawEllipse(QPointF(45, 49), 3.6, 3.6);
    p.setBrush(kPal.bodyMid);
    p.drawEllipse(QPointF(45, 49), 1.1, 1.1);
    return img;
}

void DrawKnob(QPainter& p, const QRectF& r, bool vertical) {
    p.save();
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 0, 0, 120));
    p.drawRoundedRect(r.translated(0, 1.2).adjusted(-0.5, 0, 0.5, 0.5), 1.5, 1.5);
    QLinearGradient g(r.topLeft(), vertical ? r.bottomLeft() : r.topRight());
    g.setColorAt(0, QColor(0xe6, 0xe8, 0xec));
    g.setColorAt(0.5, QColor(0xb4, 0xb8, 0xbf));
    g.setColorAt(1, QColor(0x7c, 0x80, 0x88));
    p.setBrush(g);
    p.setPen(QPen(QColor(0x12, 0x12, 0x14), 0.8));
    p.drawRoundedRect(r.adjusted(0.4, 0.4, -0.4, -0.4), 1.5, 1.5);
    // Raised frame: lit top-left, shaded bottom-right, and the grip line.
    p.setPen(QPen(QColor(255, 255, 255, 170), 0.8));
    p.drawLine(QPointF(r.left() + 1.2, r.top() + 1.2), QPointF(r.right() - 1.2, r.top() + 1.2));
    p.drawLine(QPointF(r.left() + 1.2, r.top() + 1.2), QPointF(r.left() + 1.2, r.bottom() - 1.2));
    p.setPen(QPen(QColor(0, 0, 0, 110), 0.8));
    p.drawLine(QPointF(r.left() + 1.2, r.bottom() - 1.2),
               QPointF(r.right() - 1.2, r.bottom() - 1.2));
    p.drawLine(QPointF(r.right() - 1.2, r.top() + 1.2), QPointF(r.right() - 1.2, r.bottom() - 1.2));
    p.setPen(QPen(AccentColor().darker(115), 1.0));
    if (vertical)
        p.drawLine(QPointF(r.left() + 2, r.center().y()), QPointF(r.right() - 2, r.center().y()));
    else
        p.drawLine(QPointF(r.center().x(), r.top() + 2.5),
                   QPointF(r.center().x(), r.bottom() - 2.5));
    p.restore();
}

}  // namespace tralux::app::skin
