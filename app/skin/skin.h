#pragma once
// The skin, drawn by our own code: the face and its alternate looks, the time display's glyph
// strip, the drive icon and the program icon. Everything is laid out in the face's logical
// pixels (224 x 317) and rendered at any device pixel ratio, so the look stays sharp on dense
// screens while hot rectangles, slider formulas and the outline keep their logical sizes.
#include <array>
#include <string_view>

#include <QColor>
#include <QFont>
#include <QImage>
#include <QPainterPath>

namespace tralux::app::skin {

// Normal is the face the window shows and cuts its outline from; Pressed is the alternate face
// (pressed and selected controls); Hover the highlight of a control under the mouse.
enum class Look { Normal, Hover, Pressed };

// The face at `dpr`. With keyBackground the outside is key magenta (the outline's source);
// otherwise it is transparent.
QImage RenderFace(Look look, qreal dpr, bool keyBackground);

// Glyph strip of the time display, 180 x 30 logical pixels; glyphs are 25 pixels high.
inline constexpr int kGlyphStripWidth = 180;
inline constexpr int kGlyphStripHeight = 30;
inline constexpr int kGlyphTop = 2;
inline constexpr int kGlyphHeight = 25;
struct GlyphCell {
    char ch;
    int x, width;
};
const std::array<GlyphCell, 14>& GlyphCells();
// Cell of a character; nullptr for characters the strip does not hold.
const GlyphCell* FindGlyph(char ch);
// Width of a text drawn from the strip.
int GlyphTextWidth(std::string_view text);
QImage RenderGlyphStrip(qreal dpr);

// 16 x 16 drive image of the drive choice list.
QImage RenderDriveIcon(qreal dpr);
// The program's icon, size x size pixels.
QImage RenderAppIcon(int size);

// Colours and fonts shared with the window's own drawing on top of the face.
QColor AccentColor();  // the LCD's amber
QColor LcdTextColor();
QColor LcdGhostColor();
QFont LabelFont(qreal pixelSize, bool bold = false);

// The face's outline in logical pixels.
QPainterPath Outline();

// Knobs are drawn over the face as raised push-button frames.
void DrawKnob(class QPainter& p, const QRectF& r, bool vertical);

}  // namespace tralux::app::skin
