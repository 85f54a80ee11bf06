#include "gui/common/Icons.h"

#include "gui/common/Commands.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QRadialGradient>
#include <cmath>

namespace {

const QColor kInk(40, 48, 64);
const QColor kAccent(232, 145, 33); // the orientation marker's outline colour

// A 16 x 16 cube in cavalier projection; `face` selects the highlighted part:
// 't' top, 'b' bottom, 'l' left, 'r' right, 'f' front, 'k' back, or a corner
// 'a' north-west, 'c' north-east, 'd' south-west, 'e' south-east.
void DrawCube(QPainter& p, char face, const QColor& fill)
{
    const QPointF f0(2, 5), f1(11, 5), f2(11, 14), f3(2, 14); // front square
    const QPointF d(3, -3);                                     // depth
    auto poly = [&](std::initializer_list<QPointF> pts, const QColor& c) {
        QPolygonF g(pts);
        p.setBrush(c);
        p.drawPolygon(g);
    };
    p.setPen(QPen(kInk, 1));
    const QColor base(214, 220, 230);
    poly({f0 + d, f1 + d, f1, f0}, face == 't' ? fill : base.lighter(108));
    poly({f1, f1 + d, f2 + d, f2}, face == 'r' ? fill : base.darker(110));
    poly({f0, f1, f2, f3}, face == 'f' ? fill : base);
    p.setBrush(Qt::NoBrush);
    if (face == 'b' || face == 'l' || face == 'k') {
        // Hidden faces: dashed outline with a filled marker.
        p.setPen(QPen(fill.darker(130), 1, Qt::DashLine));
        if (face == 'b')
            p.drawLine(f3 + d, f2 + d), p.drawLine(f3, f3 + d);
        if (face == 'l')
            p.drawLine(f0 + d, f3 + d), p.drawLine(f3, f3 + d);
        if (face == 'k')
            p.drawRect(QRectF(f0 + d, f2 + d));
        p.setPen(Qt::NoPen);
        p.setBrush(fill);
        const QPointF c = face == 'b' ? QPointF(8, 13) : face == 'l' ? QPointF(3, 10) : QPointF(9, 6);
        p.drawEllipse(c, 2.2, 2.2);
    }
    if (face >= 'a' && face <= 'e' && face != 'b') {
        const QPointF corner = face == 'a' ? f0 + d : face == 'c' ? f1 + d : face == 'd' ? f0 : f1;
        p.setPen(Qt::NoPen);
        p.setBrush(fill);
        p.drawEllipse(corner, 2.5, 2.5);
    }
}

void DrawGlyph(QPainter& p, int id, const QColor& accent)
{
    p.setRenderHint(QPainter::Antialiasing, true);
    switch (id) {
    case cmd::FileOpen: {
        p.setPen(QPen(kInk, 1));
        p.setBrush(QColor(250, 210, 110));
        p.drawPolygon(QPolygonF({QPointF(1, 4), QPointF(6, 4), QPointF(7.5, 5.5), QPointF(14, 5.5),
                                 QPointF(14, 13.5), QPointF(1, 13.5)}));
        p.setBrush(accent);
        p.drawPolygon(QPolygonF({QPointF(3, 8), QPointF(15.5, 8), QPointF(13.5, 13.5), QPointF(1, 13.5)}));
        break;
    }
    case cmd::FilePrint: {
        p.setPen(QPen(kInk, 1));
        p.setBrush(Qt::white);
        p.drawRect(QRectF(4.5, 1.5, 7, 5));
        p.setBrush(QColor(170, 178, 192));
        p.drawRoundedRect(QRectF(1.5, 6.5, 13, 6), 1.5, 1.5);
        p.setBrush(Qt::white);
        p.drawRect(QRectF(4.5, 10.5, 7, 4));
        p.setPen(Qt::NoPen);
        p.setBrush(accent);
        p.drawEllipse(QPointF(12.5, 8.5), 1, 1);
        break;
    }
    case cmd::HelpMouseInteraction: {
        p.setPen(QPen(kInk, 1));
        p.setBrush(Qt::white);
        p.drawRoundedRect(QRectF(3.5, 1.5, 9, 13), 4.5, 4.5);
        p.drawLine(QPointF(3.5, 6.5), QPointF(12.5, 6.5));
        p.drawLine(QPointF(8, 1.5), QPointF(8, 6.5));
        p.setBrush(accent);
        p.drawPie(QRectF(3.5, 1.5, 9, 10), 90 * 16, 90 * 16);
        break;
    }
    case cmd::HelpTutorial: {
        p.setPen(QPen(kInk, 1));
        p.setBrush(QColor(70, 120, 200));
        p.drawRect(QRectF(2.5, 1.5, 10, 13));
        p.setBrush(Qt::white);
        p.drawRect(QRectF(4.5, 3.5, 6, 3));
        p.setPen(QPen(accent, 2));
        p.drawLine(QPointF(12.5, 2), QPointF(12.5, 14));
        break;
    }
    case cmd::AppAbout: {
        p.setPen(QPen(kInk, 1));
        QRadialGradient g(QPointF(6, 5), 9);
        g.setColorAt(0, QColor(120, 170, 240));
        g.setColorAt(1, QColor(30, 80, 170));
        p.setBrush(g);
        p.drawEllipse(QRectF(1.5, 1.5, 13, 13));
        p.setPen(Qt::NoPen);
        p.setBrush(Qt::white);
        p.drawEllipse(QPointF(8, 4.8), 1.2, 1.2);
        p.drawRect(QRectF(7, 7, 2, 5.5));
        break;
    }
    case cmd::Measure: {
        // A ruler laid across a picked triangle.
        p.setPen(QPen(accent, 1));
        p.setBrush(Qt::NoBrush);
        p.drawPolygon(QPolygonF({QPointF(2, 13), QPointF(8, 2.5), QPointF(14, 13)}));
        p.setPen(QPen(kInk, 1));
        p.setBrush(QColor(250, 220, 120));
        p.drawRect(QRectF(1.5, 9.5, 13, 4));
        for (int x = 3; x <= 13; x += 2)
            p.drawLine(QPointF(x + 0.5, 9.5), QPointF(x + 0.5, x % 4 == 1 ? 12 : 11));
        break;
    }
    case cmd::RepresentationProperties: {
        // A property sheet with two sliders.
        p.setPen(QPen(kInk, 1));
        p.setBrush(Qt::white);
        p.drawRect(QRectF(1.5, 1.5, 13, 13));
        p.drawLine(QPointF(3.5, 5.5), QPointF(12.5, 5.5));
        p.drawLine(QPointF(3.5, 10.5), QPointF(12.5, 10.5));
        p.setBrush(accent);
        p.drawRect(QRectF(5, 3.5, 2.5, 4));
        p.setBrush(QColor(90, 140, 210));
        p.drawRect(QRectF(9, 8.5, 2.5, 4));
        break;
    }
    case cmd::ApplyTexture: {
        // A picture laid onto a tilted sheet.
        p.setPen(QPen(kInk, 1));
        p.setBrush(QColor(120, 180, 90));
        p.drawPolygon(QPolygonF({QPointF(1.5, 12.5), QPointF(5.5, 3.5), QPointF(14.5, 3.5), QPointF(10.5, 12.5)}));
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(250, 220, 120));
        p.drawEllipse(QPointF(10.5, 6), 1.6, 1.2);
        p.setBrush(QColor(70, 110, 170));
        p.drawPolygon(QPolygonF({QPointF(3.5, 11.5), QPointF(6.5, 7.5), QPointF(9, 11.5)}));
        p.setPen(QPen(accent, 1.2));
        p.drawLine(QPointF(13, 9), QPointF(13, 15));
        p.drawLine(QPointF(10, 12), QPointF(16, 12));
        break;
    }
    case cmd::ModelsList: {
        p.setPen(QPen(kInk, 1));
        p.setBrush(Qt::white);
        p.drawRect(QRectF(1.5, 1.5, 13, 13));
        for (int i = 0; i < 3; ++i) {
            p.setBrush(i == 1 ? QColor(150, 150, 150) : QColor(255, 215, 60));
            p.drawEllipse(QPointF(4.5, 4.5 + i * 3.6), 1.4, 1.4);
            p.drawLine(QPointF(7, 4.5 + i * 3.6), QPointF(12.5, 4.5 + i * 3.6));
        }
        break;
    }
    case cmd::PerspectiveView: {
        p.setPen(QPen(kInk, 1));
        p.setBrush(QColor(214, 220, 230));
        p.drawPolygon(QPolygonF({QPointF(1.5, 3.5), QPointF(14.5, 6), QPointF(14.5, 10), QPointF(1.5, 12.5)}));
        p.setPen(QPen(accent, 1));
        p.drawLine(QPointF(1.5, 8), QPointF(14.5, 8));
        p.drawLine(QPointF(8, 4.8), QPointF(8, 11.2));
        break;
    }
    case cmd::StereoAnaglyph:
    case cmd::StereoRedBlue: {
        const QColor right = id == cmd::StereoAnaglyph ? QColor(0, 200, 220) : QColor(40, 80, 230);
        p.setPen(QPen(kInk, 1));
        p.setBrush(QColor(220, 40, 40));
        p.drawEllipse(QRectF(1, 5, 6.5, 6));
        p.setBrush(right);
        p.drawEllipse(QRectF(8.5, 5, 6.5, 6));
        p.drawLine(QPointF(7.5, 7.5), QPointF(8.5, 7.5));
        break;
    }
    default: {
        const int repr = cmd::RepresentationOf(id);
        if (repr >= 0) {
            // Row of the table: points, wireframe or surface; colouring one
            // colour, RGB or texture.
            const int kind = repr >= 15 ? (repr == 15 ? 2 : repr == 16 ? 0 : 1) : repr / 5;
            const int colouring = repr >= 15 ? 2 : (repr % 5 == 0 ? 1 : repr % 5 == 4 ? 0 : 3);
            auto colourAt = [&](int i, int j) -> QColor {
                if (colouring == 0)
                    return QColor(200, 200, 205);
                if (colouring == 1)
                    return QColor::fromHsv((i * 70 + j * 40) % 360, 200, 230);
                if (colouring == 2)
                    return ((i + j) % 2) ? QColor(110, 160, 60) : QColor(190, 140, 70);
                // Intensity through the command's colour map.
                const int map = repr % 5;
                const double t = (i + j) / 6.0;
                if (map == 1)
                    return QColor::fromHsv(0, 0, static_cast<int>(60 + 190 * t));
                const double hue = map == 2 ? 240 * t : 240 * (1 - t);
                return QColor::fromHsv(static_cast<int>(hue), 230, 235);
            };
            if (kind == 0) {
                p.setPen(Qt::NoPen);
                for (int j = 0; j < 4; ++j)
                    for (int i = 0; i < 4; ++i) {
                        p.setBrush(colourAt(i, j));
                        p.drawEllipse(QPointF(2.5 + i * 3.7, 2.5 + j * 3.7), 1.5, 1.5);
                    }
            } else {
                const QPointF a(1, 13), b(8, 2), c(15, 13), d(8, 9);
                if (kind == 2) {
                    p.setPen(QPen(kInk, 0.8));
                    p.setBrush(colourAt(0, 0));
                    p.drawPolygon(QPolygonF({a, b, d}));
                    p.setBrush(colourAt(1, 1));
                    p.drawPolygon(QPolygonF({b, c, d}));
                    p.setBrush(colourAt(1, 2));
                    p.drawPolygon(QPolygonF({a, d, c}));
                } else {
                    p.setBrush(Qt::NoBrush);
                    p.setPen(QPen(colouring == 0 ? kInk : colourAt(0, 1), 1.2));
                    p.drawPolygon(QPolygonF({a, b, c}));
                    p.setPen(QPen(colouring == 0 ? kInk : colourAt(1, 2), 1.2));
                    p.drawLine(a, d);
                    p.drawLine(b, d);
                    p.drawLine(c, d);
                }
            }
            break;
        }
        static const struct { int id; char face; } kFaces[] = {
            {cmd::ViewTop, 't'}, {cmd::ViewBottom, 'b'}, {cmd::ViewLeft, 'l'}, {cmd::ViewRight, 'r'},
            {cmd::ViewFront, 'f'}, {cmd::ViewBack, 'k'}, {cmd::ViewNorthWest, 'a'}, {cmd::ViewNorthEast, 'c'},
            {cmd::ViewSouthWest, 'd'}, {cmd::ViewSouthEast, 'e'},
        };
        for (const auto& f : kFaces)
            if (f.id == id)
                DrawCube(p, f.face, accent);
        break;
    }
    }
}

QPixmap Render(int id, const QColor& accent)
{
    QPixmap pm(16, 16);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    DrawGlyph(p, id, accent);
    return pm;
}

QPixmap Disabled(const QPixmap& source)
{
    QImage img = source.toImage().convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x) {
            const QRgb c = img.pixel(x, y);
            const int g = 150 + qGray(c) / 4;
            img.setPixel(x, y, qRgba(g, g, g, qAlpha(c) / 2));
        }
    return QPixmap::fromImage(img);
}

// The hot form: the picture lit up.
QPixmap Hot(const QPixmap& source)
{
    QImage img = source.toImage().convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x) {
            const QRgb c = img.pixel(x, y);
            if (qAlpha(c) == 0)
                continue;
            const QColor lit = QColor(c).lighter(125);
            img.setPixel(x, y, qRgba(lit.red(), lit.green(), lit.blue(), qAlpha(c)));
        }
    return QPixmap::fromImage(img);
}

QCursor CursorFrom(const QPixmap& pm, int hotX, int hotY) { return QCursor(pm, hotX, hotY); }

QPixmap CursorCanvas() {
    QPixmap pm(32, 32);
    pm.fill(Qt::transparent);
    return pm;
}

// Outlined strokes read on any background.
void Stroke(QPainter& p, const QPainterPath& path, qreal width = 2)
{
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(Qt::white, width + 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPath(path);
    p.setPen(QPen(Qt::black, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPath(path);
}

QPainterPath Arrow(QPointF tip, qreal angleDeg, qreal size = 4)
{
    const qreal a = angleDeg * M_PI / 180.0;
    QPainterPath path;
    path.moveTo(tip + QPointF(std::cos(a + 2.5) * size, std::sin(a + 2.5) * size));
    path.lineTo(tip);
    path.lineTo(tip + QPointF(std::cos(a - 2.5) * size, std::sin(a - 2.5) * size));
    return path;
}

} // namespace

QIcon CommandIcon(int commandId)
{
    const QPixmap normal = Render(commandId, kAccent);
    QIcon icon;
    icon.addPixmap(normal, QIcon::Normal);
    icon.addPixmap(Hot(normal), QIcon::Active); // under the mouse
    icon.addPixmap(Disabled(normal), QIcon::Disabled);
    return icon;
}

QPixmap BulbPixmap(bool lit)
{
    QPixmap pm(16, 16);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing, true);
    if (lit) {
        QRadialGradient glow(QPointF(8, 6), 8);
        glow.setColorAt(0, QColor(255, 250, 200, 200));
        glow.setColorAt(1, QColor(255, 230, 120, 0));
        p.setPen(Qt::NoPen);
        p.setBrush(glow);
        p.drawEllipse(QPointF(8, 6), 8, 8);
    }
    p.setPen(QPen(kInk, 1));
    p.setBrush(lit ? QColor(255, 215, 40) : QColor(170, 170, 175));
    p.drawEllipse(QRectF(3.5, 1.5, 9, 9));
    p.setBrush(QColor(120, 120, 130));
    p.drawRect(QRectF(5.5, 10.5, 5, 4));
    p.drawLine(QPointF(5.5, 12.5), QPointF(10.5, 12.5));
    return pm;
}

QCursor MakeViewCursor(int index)
{
    QPixmap pm = CursorCanvas();
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing, true);
    QPainterPath path;
    switch (index) {
    case CursorPan: { // four-way arrows
        path.moveTo(16, 4); path.lineTo(16, 28); path.moveTo(4, 16); path.lineTo(28, 16);
        path.addPath(Arrow({16, 4}, -90)); path.addPath(Arrow({16, 28}, 90));
        path.addPath(Arrow({4, 16}, 180)); path.addPath(Arrow({28, 16}, 0));
        Stroke(p, path);
        return CursorFrom(pm, 16, 16);
    }
    case CursorRotate: { // orbit arrows around a dot
        path.arcMoveTo(QRectF(6, 6, 20, 20), 20); path.arcTo(QRectF(6, 6, 20, 20), 20, 140);
        path.addPath(Arrow(QPointF(7.3, 11.8), 110));
        path.arcMoveTo(QRectF(6, 6, 20, 20), 200); path.arcTo(QRectF(6, 6, 20, 20), 200, 140);
        path.addPath(Arrow(QPointF(24.7, 20.2), -70));
        Stroke(p, path);
        p.setBrush(Qt::black);
        p.drawEllipse(QPointF(16, 16), 2, 2);
        return CursorFrom(pm, 16, 16);
    }
    case CursorSpin: { // a full turn about the viewing direction
        path.arcMoveTo(QRectF(5, 5, 22, 22), 60); path.arcTo(QRectF(5, 5, 22, 22), 60, 300);
        path.addPath(Arrow(QPointF(21.5, 6.5), 30));
        Stroke(p, path);
        p.setPen(QPen(Qt::black, 2));
        p.drawLine(QPointF(13, 13), QPointF(19, 19));
        p.drawLine(QPointF(19, 13), QPointF(13, 19));
        return CursorFrom(pm, 16, 16);
    }
    case CursorZoom: { // magnifier with vertical arrows
        path.addEllipse(QRectF(4, 4, 14, 14));
        path.moveTo(16, 16); path.lineTo(27, 27);
        path.moveTo(11, 7.5); path.lineTo(11, 14.5);
        path.addPath(Arrow({11, 7.5}, -90, 3)); path.addPath(Arrow({11, 14.5}, 90, 3));
        Stroke(p, path);
        return CursorFrom(pm, 11, 11);
    }
    case CursorCentre: { // crosshair in a ring: new rotation centre
        path.addEllipse(QRectF(8, 8, 16, 16));
        path.moveTo(16, 2); path.lineTo(16, 11); path.moveTo(16, 21); path.lineTo(16, 30);
        path.moveTo(2, 16); path.lineTo(11, 16); path.moveTo(21, 16); path.lineTo(30, 16);
        Stroke(p, path, 1.5);
        p.setPen(Qt::NoPen);
        p.setBrush(kAccent);
        p.drawEllipse(QPointF(16, 16), 2.5, 2.5);
        return CursorFrom(pm, 16, 16);
    }
    case CursorPick: { // fine crosshair with a measuring tick
        path.moveTo(16, 3); path.lineTo(16, 13); path.moveTo(16, 19); path.lineTo(16, 29);
        path.moveTo(3, 16); path.lineTo(13, 16); path.moveTo(19, 16); path.lineTo(29, 16);
        path.moveTo(22, 26); path.lineTo(30, 26); path.moveTo(26, 22); path.lineTo(26, 30);
        Stroke(p, path, 1.2);
        return CursorFrom(pm, 16, 16);
    }
    default:
        return QCursor(Qt::ArrowCursor);
    }
}

QPixmap SplashPicture()
{
    QPixmap pm(420, 360);
    pm.fill(QColor(255, 0, 255));
    QPainter p(&pm);
    // No antialiasing at the border: blended edge pixels would not be cut away.
    QPainterPath badge;
    badge.addRoundedRect(QRectF(10, 10, 400, 340), 36, 36);
    QLinearGradient g(0, 10, 0, 350);
    g.setColorAt(0, QColor(236, 240, 246));
    g.setColorAt(1, QColor(176, 190, 212));
    p.fillPath(badge, g);
    // A scanned terrain, as a sparse coloured point cloud.
    p.setRenderHint(QPainter::Antialiasing, true);
    for (int j = 0; j < 26; ++j)
        for (int i = 0; i < 60; ++i) {
            const double x = 40 + i * 5.6 + j * 1.5;
            const double h = 14 * std::sin(i * 0.21) * std::cos(j * 0.33) + 8 * std::sin(i * 0.05 + j * 0.2);
            const double y = 250 + j * 3.2 - h;
            const int shade = 90 + static_cast<int>(h * 4);
            p.setPen(QPen(QColor(60 + shade / 3, qBound(0, shade + 40, 255), 90), 2));
            p.drawPoint(QPointF(x, y));
        }
    p.setPen(QPen(kAccent, 3));
    p.drawLine(QPointF(60, 330), QPointF(360, 330));
    return pm;
}
