// Generates the tool's own button artwork and application icon.
//
// Every image is drawn here with QPainter; nothing is loaded. The buttons carry no words:
// the tool draws them over the artwork at run time, translated and in the user's font.
// Run with QT_QPA_PLATFORM=offscreen. Output (relative to the resources folder):
//   images/button_<name>.png and images/button_<name>_press.png (440 x 112 each,
//   shown at 220 x 56 logical pixels), icons/tarvo-remote-update.png (256 x 256) and
//   icons/tarvo-remote-update-128.png (128 x 128). The SVG icon beside them is written
//   by hand from the same geometry as drawIcon().

#include <QColor>
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPen>
#include <QString>
#include <QTransform>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

// Logical size of a button and the device pixel ratio of its image.
constexpr double kButtonWidth = 220.0;
constexpr double kButtonHeight = 56.0;
constexpr double kScale = 2.0;
constexpr double kCornerRadius = 10.0;
constexpr double kSidePadding = 18.0;
constexpr double kGlyphSize = 15.0;
constexpr double kGlyphStroke = 2.2;

enum class Style { Primary, Secondary };

using GlyphPainter = std::function<void(QPainter&, const QRectF&, const QColor&)>;

struct ButtonDesign {
    QString name;
    Style style;
    GlyphPainter glyph;
};

struct Palette {
    QColor top;
    QColor bottom;
    QColor border;
    QColor highlight;  // inner top edge light; transparent when pressed
    QColor text;
    QColor textShadow;
};

Palette paletteFor(Style style, bool pressed) {
    if (style == Style::Primary) {
        if (pressed) {
            return {QColor("#1f63c6"),        QColor("#2468cc"), QColor("#164a96"),
                    QColor(255, 255, 255, 0), QColor("#e8f0fc"), QColor(0, 20, 60, 90)};
        }
        return {QColor("#4a96f5"),         QColor("#2a76de"), QColor("#1b5cb9"),
                QColor(255, 255, 255, 90), QColor("#ffffff"), QColor(0, 30, 80, 80)};
    }
    if (pressed) {
        return {QColor("#23272d"),        QColor("#2a2f36"), QColor("#4b525c"),
                QColor(255, 255, 255, 0), QColor("#d4d9e0"), QColor(0, 0, 0, 110)};
    }
    return {QColor("#3c424b"),         QColor("#2e333a"), QColor("#626b77"),
            QColor(255, 255, 255, 45), QColor("#eef1f5"), QColor(0, 0, 0, 110)};
}

QPen glyphPen(const QColor& color) {
    QPen pen(color, kGlyphStroke);
    pen.setCapStyle(Qt::RoundCap);
    pen.setJoinStyle(Qt::RoundJoin);
    return pen;
}

// Arrow pointing down into an open tray: fetch the newest release.
void drawDownloadGlyph(QPainter& p, const QRectF& r, const QColor& color) {
    p.setPen(glyphPen(color));
    p.setBrush(Qt::NoBrush);
    const double cx = r.center().x();
    const double w = r.width();
    const double h = r.height();
    p.drawLine(QPointF(cx, r.top() + 0.04 * h), QPointF(cx, r.top() + 0.64 * h));
    QPainterPath head;
    head.moveTo(cx - 0.27 * w, r.top() + 0.40 * h);
    head.lineTo(cx, r.top() + 0.67 * h);
    head.lineTo(cx + 0.27 * w, r.top() + 0.40 * h);
    p.drawPath(head);
    QPainterPath tray;
    tray.moveTo(r.left() + 0.04 * w, r.top() + 0.70 * h);
    tray.lineTo(r.left() + 0.04 * w, r.bottom() - 0.04 * h);
    tray.lineTo(r.right() - 0.04 * w, r.bottom() - 0.04 * h);
    tray.lineTo(r.right() - 0.04 * w, r.top() + 0.70 * h);
    p.drawPath(tray);
}

// Counter-clockwise arrow around a clock face: go back to an earlier release.
void drawHistoryGlyph(QPainter& p, const QRectF& r, const QColor& color) {
    p.setPen(glyphPen(color));
    p.setBrush(Qt::NoBrush);
    const QPointF c = r.center();
    const double radius = r.width() * 0.44;
    const QRectF circle(c.x() - radius, c.y() - radius, 2 * radius, 2 * radius);
    // Arc from the left side (180 degrees) round the top, right and bottom, ending lower left.
    QPainterPath arc;
    arc.arcMoveTo(circle, 200.0);
    arc.arcTo(circle, 200.0, -300.0);
    p.drawPath(arc);
    // Arrow head at the start of the arc, pointing back (counter-clockwise travel ends here).
    const QPointF tip(c.x() - radius * 0.94, c.y() + radius * 0.34);
    QPainterPath head;
    head.moveTo(tip.x() - radius * 0.52, tip.y() - radius * 0.30);
    head.lineTo(tip);
    head.lineTo(tip.x() + radius * 0.22, tip.y() - radius * 0.52);
    p.drawPath(head);
    // Clock hands.
    QPainterPath hands;
    hands.moveTo(c.x(), c.y() - radius * 0.52);
    hands.lineTo(c);
    hands.lineTo(c.x() + radius * 0.38, c.y() + radius * 0.30);
    p.drawPath(hands);
}

void drawCheckGlyph(QPainter& p, const QRectF& r, const QColor& color) {
    QPen pen = glyphPen(color);
    pen.setWidthF(kGlyphStroke * 1.25);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    QPainterPath check;
    check.moveTo(r.left() + 0.06 * r.width(), r.top() + 0.54 * r.height());
    check.lineTo(r.left() + 0.38 * r.width(), r.top() + 0.84 * r.height());
    check.lineTo(r.right() - 0.04 * r.width(), r.top() + 0.16 * r.height());
    p.drawPath(check);
}

void drawCrossGlyph(QPainter& p, const QRectF& r, const QColor& color) {
    QPen pen = glyphPen(color);
    pen.setWidthF(kGlyphStroke * 1.25);
    p.setPen(pen);
    const QRectF s =
        r.adjusted(r.width() * 0.16, r.height() * 0.16, -r.width() * 0.16, -r.height() * 0.16);
    p.drawLine(s.topLeft(), s.bottomRight());
    p.drawLine(s.topRight(), s.bottomLeft());
}

QImage drawButton(const ButtonDesign& design, bool pressed) {
    QImage image(int(kButtonWidth * kScale), int(kButtonHeight * kScale),
                 QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing, true);
    p.scale(kScale, kScale);

    const Palette pal = paletteFor(design.style, pressed);
    const QRectF outer(0.5, 0.5, kButtonWidth - 1.0, kButtonHeight - 1.0);
    QPainterPath body;
    body.addRoundedRect(outer, kCornerRadius, kCornerRadius);

    // Body with a subtle vertical gradient.
    QLinearGradient fill(0, outer.top(), 0, outer.bottom());
    fill.setColorAt(0.0, pal.top);
    fill.setColorAt(1.0, pal.bottom);
    p.setPen(Qt::NoPen);
    p.setBrush(fill);
    p.drawPath(body);

    p.save();
    p.setClipPath(body);
    if (pressed) {
        // Inner shadow along the top and sides: the face sits below the rim.
        QLinearGradient shade(0, outer.top(), 0, outer.top() + 12.0);
        shade.setColorAt(0.0, QColor(0, 0, 0, 95));
        shade.setColorAt(1.0, QColor(0, 0, 0, 0));
        p.setBrush(shade);
        p.drawRect(outer);
        QPen rim(QColor(0, 0, 0, 60), 3.0);
        p.setPen(rim);
        p.setBrush(Qt::NoBrush);
        p.drawPath(body);
    } else {
        // Soft light on the upper half and a thin highlight just inside the top edge.
        QLinearGradient gloss(0, outer.top(), 0, outer.center().y());
        gloss.setColorAt(0.0, QColor(255, 255, 255, 26));
        gloss.setColorAt(1.0, QColor(255, 255, 255, 0));
        p.setBrush(gloss);
        p.drawRect(outer);
        QPainterPath inner;
        inner.addRoundedRect(outer.adjusted(1.0, 1.0, -1.0, -1.0), kCornerRadius - 1.0,
                             kCornerRadius - 1.0);
        QLinearGradient edge(0, outer.top(), 0, outer.top() + kButtonHeight * 0.45);
        edge.setColorAt(0.0, pal.highlight);
        edge.setColorAt(1.0, QColor(255, 255, 255, 0));
        p.setPen(QPen(QBrush(edge), 1.0));
        p.setBrush(Qt::NoBrush);
        p.drawPath(inner);
    }
    p.restore();

    // Border.
    p.setPen(QPen(pal.border, 1.0));
    p.setBrush(Qt::NoBrush);
    p.drawPath(body);

    // The glyph at the left; the label is drawn over the artwork at run time
    // (ImageButton), in the user's language and font size, right of it. The
    // pressed face shifts down by one pixel.
    const double shift = pressed ? 1.0 : 0.0;
    const double midY = kButtonHeight / 2.0 + shift;
    const QRectF glyphRect(kSidePadding, midY - kGlyphSize / 2.0, kGlyphSize, kGlyphSize);

    // Shadow under the glyph, one pixel down.
    p.save();
    p.translate(0, 1.0);
    design.glyph(p, glyphRect, pal.textShadow);
    p.restore();
    design.glyph(p, glyphRect, pal.text);
    p.end();
    return image;
}

// Application icon in a 256-unit square: a handheld remote with an up-arrow badge.
// tarvo-remote-update.svg repeats this geometry by hand.
QImage drawIcon(int size) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing, true);
    p.scale(size / 256.0, size / 256.0);

    const QColor dark("#1f2329");

    // Rounded dark square.
    QPainterPath tile;
    tile.addRoundedRect(QRectF(8, 8, 240, 240), 52, 52);
    QLinearGradient tileFill(0, 8, 0, 248);
    tileFill.setColorAt(0.0, QColor("#2c323a"));
    tileFill.setColorAt(1.0, QColor("#191c21"));
    p.setPen(Qt::NoPen);
    p.setBrush(tileFill);
    p.drawPath(tile);
    p.setPen(QPen(QColor("#3d444e"), 2));
    p.setBrush(Qt::NoBrush);
    p.drawPath(tile);

    // Remote body, accent blue.
    QPainterPath remote;
    remote.addRoundedRect(QRectF(42, 30, 84, 196), 42, 42);
    QLinearGradient remoteFill(0, 30, 0, 226);
    remoteFill.setColorAt(0.0, QColor("#5aa2f8"));
    remoteFill.setColorAt(1.0, QColor("#2470d8"));
    p.setPen(QPen(QColor("#1b5cb9"), 2));
    p.setBrush(remoteFill);
    p.drawPath(remote);

    // Emitter at the top.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 255, 150));
    p.drawRoundedRect(QRectF(74, 44, 20, 6), 3, 3);

    // Direction pad: a dark ring with a light centre key.
    p.setBrush(dark);
    p.drawEllipse(QPointF(84, 94), 27, 27);
    p.setBrush(QColor("#8cc0fb"));
    p.drawEllipse(QPointF(84, 94), 10, 10);
    p.setBrush(QColor("#3a414b"));
    for (const QPointF& dot :
         {QPointF(84, 74), QPointF(84, 114), QPointF(64, 94), QPointF(104, 94)}) {
        p.drawEllipse(dot, 3, 3);
    }

    // Two rows of round keys.
    p.setBrush(dark);
    for (const QPointF& key :
         {QPointF(68, 146), QPointF(100, 146), QPointF(68, 176), QPointF(100, 176)}) {
        p.drawEllipse(key, 9, 9);
    }

    // Up-arrow badge overlapping the remote's lower right.
    const QPointF badge(166, 184);
    p.setBrush(dark);
    p.drawEllipse(badge, 50, 50);
    p.setBrush(QColor("#f4f7fb"));
    p.drawEllipse(badge, 43, 43);
    QPen arrow(QColor("#2f80ed"), 13);
    arrow.setCapStyle(Qt::RoundCap);
    arrow.setJoinStyle(Qt::RoundJoin);
    p.setPen(arrow);
    p.setBrush(Qt::NoBrush);
    p.drawLine(QPointF(166, 162), QPointF(166, 208));
    QPainterPath head;
    head.moveTo(144, 182);
    head.lineTo(166, 160);
    head.lineTo(188, 182);
    p.drawPath(head);
    p.end();
    return image;
}

bool save(const QImage& image, const QString& path) {
    if (!image.save(path, "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("wrote %s (%dx%d)\n", qPrintable(path), image.width(), image.height());
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);

    const QString resources = QDir::cleanPath(argc > 1 ? QString::fromLocal8Bit(argv[1])
                                                       : QStringLiteral(ARTWORK_RESOURCES_DIR));
    const std::vector<ButtonDesign> buttons = {
        {"onlineUpdate", Style::Primary, drawDownloadGlyph},
        {"offlineUpdate", Style::Secondary, drawHistoryGlyph},
        {"ok", Style::Primary, drawCheckGlyph},
        {"cancel", Style::Secondary, drawCrossGlyph},
    };

    const QDir images(resources + "/images");
    const QDir icons(resources + "/icons");
    if (!QDir().mkpath(images.path()) || !QDir().mkpath(icons.path())) {
        std::fprintf(stderr, "cannot create output folders under %s\n", qPrintable(resources));
        return 1;
    }

    bool ok = true;
    for (const ButtonDesign& b : buttons) {
        ok &= save(drawButton(b, false), images.filePath("button_" + b.name + ".png"));
        ok &= save(drawButton(b, true), images.filePath("button_" + b.name + "_press.png"));
    }
    ok &= save(drawIcon(256), icons.filePath("tarvo-remote-update.png"));
    ok &= save(drawIcon(128), icons.filePath("tarvo-remote-update-128.png"));
    return ok ? 0 : 1;
}
