#include "app/generator_previews.h"

#include <QPainter>
#include <QPainterPath>

#include <cmath>

namespace korvan::app {
namespace {

const QColor kLine(40, 40, 40);
const QColor kHidden(150, 150, 150);
const QColor kRed(200, 0, 0);
const QColor kBlue(0, 60, 210);
const QColor kGreen(0, 140, 0);

void setPen(QPainter& p, const QColor& colour, qreal width = 1.5,
            Qt::PenStyle style = Qt::SolidLine) {
    p.setPen(QPen(colour, width, style, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
}

void letter(QPainter& p, const QPointF& at, const QString& text, const QColor& colour) {
    QFont font(QStringLiteral("Sans Serif"));
    font.setPixelSize(17);
    font.setBold(true);
    font.setItalic(true);
    p.setFont(font);
    p.setPen(colour);
    p.drawText(QRectF(at.x() - 12, at.y() - 12, 24, 24), Qt::AlignCenter, text);
}

// A small arrow head at `tip`, pointing along `direction`.
void arrowHead(QPainter& p, const QPointF& tip, QPointF direction, const QColor& colour) {
    const qreal len = std::hypot(direction.x(), direction.y());
    if (len == 0) {
        return;
    }
    direction /= len;
    const QPointF normal(-direction.y(), direction.x());
    const QPointF base = tip - direction * 8;
    QPainterPath head;
    head.moveTo(tip);
    head.lineTo(base + normal * 4);
    head.lineTo(base - normal * 4);
    head.closeSubpath();
    p.fillPath(head, colour);
}

// A dimension line between two points with arrows at both ends.
void dimension(QPainter& p, const QPointF& a, const QPointF& b, const QColor& colour) {
    setPen(p, colour, 1.3);
    p.drawLine(a, b);
    arrowHead(p, a, a - b, colour);
    arrowHead(p, b, b - a, colour);
}

// Half an ellipse (front or back) around `centre` with radii rx, ry.
void halfEllipse(QPainter& p, const QPointF& centre, qreal rx, qreal ry, bool front) {
    const QRectF box(centre.x() - rx, centre.y() - ry, 2 * rx, 2 * ry);
    p.drawArc(box, front ? 180 * 16 : 0, 180 * 16);
}

void drawSphere(QPainter& p) {
    const QPointF c(100, 105);
    const qreal r = 70;
    setPen(p, kLine, 2);
    p.drawEllipse(c, r, r);
    setPen(p, kLine);
    halfEllipse(p, c, r, 18, true);
    setPen(p, kHidden, 1, Qt::DashLine);
    halfEllipse(p, c, r, 18, false);
    // A meridian, divided in m parts.
    setPen(p, kRed, 1.6);
    p.drawArc(QRectF(c.x() - 30, c.y() - r, 60, 2 * r), 90 * 16, 180 * 16);
    p.save();
    p.translate(c);
    for (int i = 1; i < 6; ++i) {
        const double t = M_PI * i / 6.0;
        const QPointF on(-30 * std::sin(t), -r * std::cos(t));
        p.drawLine(on + QPointF(-4, 0), on + QPointF(4, 0));
    }
    p.restore();
    letter(p, c + QPointF(-46, -22), QStringLiteral("m"), kRed);
    // Parallels around the top: n divisions.
    setPen(p, kBlue, 1.6);
    halfEllipse(p, c + QPointF(0, -50), 49, 9, true);
    arrowHead(p, c + QPointF(49, -52), QPointF(0.3, -1), kBlue);
    letter(p, c + QPointF(62, -62), QStringLiteral("n"), kBlue);
    // Radius.
    dimension(p, c, c + QPointF(r * 0.72, r * 0.69), kGreen);
    letter(p, c + QPointF(36, 18), QStringLiteral("r"), kGreen);
}

// Corners of a box drawn in cabinet projection: front face w x h, depth d at 30 degrees.
struct BoxPicture {
    QPointF f[4];  // front: bottom-left, bottom-right, top-right, top-left
    QPointF b[4];  // back, same order
};

BoxPicture boxPicture(qreal w, qreal h, qreal d, qreal centreX) {
    const QPointF origin(centreX - (w + d * 0.75) / 2, 100 + (h + d * 0.45) / 2);
    const QPointF depth(d * 0.75, -d * 0.45);
    BoxPicture box;
    box.f[0] = origin;
    box.f[1] = origin + QPointF(w, 0);
    box.f[2] = origin + QPointF(w, -h);
    box.f[3] = origin + QPointF(0, -h);
    for (int i = 0; i < 4; ++i) {
        box.b[i] = box.f[i] + depth;
    }
    return box;
}

void drawBoxLines(QPainter& p, const BoxPicture& box) {
    setPen(p, kHidden, 1, Qt::DashLine);
    p.drawLine(box.b[0], box.f[0]);
    p.drawLine(box.b[0], box.b[1]);
    p.drawLine(box.b[0], box.b[3]);
    setPen(p, kLine, 2);
    p.drawPolygon(box.f, 4);
    p.drawLine(box.f[1], box.b[1]);
    p.drawLine(box.f[2], box.b[2]);
    p.drawLine(box.f[3], box.b[3]);
    p.drawLine(box.b[1], box.b[2]);
    p.drawLine(box.b[2], box.b[3]);
}

void drawCube(QPainter& p) {
    const BoxPicture box = boxPicture(95, 95, 80, 100);
    drawBoxLines(p, box);
    const QPointF below(0, 14);
    dimension(p, box.f[0] + below, box.f[1] + below, kRed);
    letter(p, (box.f[0] + box.f[1]) / 2 + below + QPointF(0, 11), QStringLiteral("a"), kRed);
}

void drawBox(QPainter& p) {
    const BoxPicture box = boxPicture(105, 65, 64, 108);
    drawBoxLines(p, box);
    const QPointF below(0, 14);
    dimension(p, box.f[0] + below, box.f[1] + below, kRed);
    letter(p, (box.f[0] + box.f[1]) / 2 + below + QPointF(0, 11), QStringLiteral("a"), kRed);
    const QPointF left(-14, 0);
    dimension(p, box.f[0] + left, box.f[3] + left, kBlue);
    letter(p, (box.f[0] + box.f[3]) / 2 + left + QPointF(-11, 0), QStringLiteral("b"), kBlue);
    const QPointF right(12, 6);
    dimension(p, box.f[1] + right, box.b[1] + right, kGreen);
    letter(p, (box.f[1] + box.b[1]) / 2 + right + QPointF(12, 8), QStringLiteral("c"), kGreen);
}

// Shared marks of the cylinder and the cone: axis h, radius r on the base, n around the base.
void markAxisAndBase(QPainter& p, const QPointF& base, const QPointF& top, qreal r, qreal ry) {
    setPen(p, kRed, 1.2, Qt::DashDotLine);
    p.drawLine(base, top);
    dimension(p, base + QPointF(-r - 16, 0), top + QPointF(-r - 16, 0), kRed);
    letter(p, (base + top) / 2 + QPointF(-r - 28, 0), QStringLiteral("h"), kRed);
    dimension(p, base, base + QPointF(r, 0), kGreen);
    letter(p, base + QPointF(r / 2, -11), QStringLiteral("r"), kGreen);
    setPen(p, kBlue, 1.6);
    halfEllipse(p, base, r + 9, ry + 7, true);
    arrowHead(p, base + QPointF(r + 9, 2), QPointF(0.2, -1), kBlue);
    letter(p, base + QPointF(r + 16, ry + 12), QStringLiteral("n"), kBlue);
}

void drawCylinder(QPainter& p) {
    const qreal r = 52, ry = 15;
    const QPointF top(112, 42), base(112, 150);
    setPen(p, kLine, 2);
    p.drawEllipse(top, r, ry);
    p.drawLine(top + QPointF(-r, 0), base + QPointF(-r, 0));
    p.drawLine(top + QPointF(r, 0), base + QPointF(r, 0));
    halfEllipse(p, base, r, ry, true);
    setPen(p, kHidden, 1, Qt::DashLine);
    halfEllipse(p, base, r, ry, false);
    markAxisAndBase(p, base, top, r, ry);
}

void drawCone(QPainter& p) {
    const qreal r = 55, ry = 15;
    const QPointF apex(112, 30), base(112, 150);
    setPen(p, kLine, 2);
    p.drawLine(apex, base + QPointF(-r, 0));
    p.drawLine(apex, base + QPointF(r, 0));
    halfEllipse(p, base, r, ry, true);
    setPen(p, kHidden, 1, Qt::DashLine);
    halfEllipse(p, base, r, ry, false);
    markAxisAndBase(p, base, apex, r, ry);
}

}  // namespace

QPixmap previewPicture(Shape shape) {
    QPixmap pixmap(kPreviewSize, kPreviewSize);
    pixmap.fill(Qt::white);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    switch (shape) {
        case Shape::Sphere:
            drawSphere(p);
            break;
        case Shape::Cube:
            drawCube(p);
            break;
        case Shape::Box:
            drawBox(p);
            break;
        case Shape::Cylinder:
            drawCylinder(p);
            break;
        case Shape::Cone:
            drawCone(p);
            break;
    }
    return pixmap;
}

}  // namespace korvan::app
