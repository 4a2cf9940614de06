#include "app/toolbar_icons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include "app/commands.h"

namespace korvan::app {
namespace {

constexpr int kSize = 44;  // drawn at twice the shown size, for smooth edges
const QColor kObject1(150, 20, 20);
const QColor kObject2(20, 40, 160);

void badge(QPainter& p, const QString& digit, const QColor& colour) {
    const QRectF r(kSize * 0.52, kSize * 0.5, kSize * 0.46, kSize * 0.46);
    p.setPen(Qt::NoPen);
    p.setBrush(colour);
    p.drawEllipse(r);
    QFont font(QStringLiteral("Sans Serif"));
    font.setPixelSize(static_cast<int>(kSize * 0.36));
    font.setBold(true);
    p.setFont(font);
    p.setPen(Qt::white);
    p.drawText(r, Qt::AlignCenter, digit);
}

void folder(QPainter& p) {
    QPainterPath path;
    path.moveTo(3, 10);
    path.lineTo(16, 10);
    path.lineTo(20, 14);
    path.lineTo(38, 14);
    path.lineTo(38, 36);
    path.lineTo(3, 36);
    path.closeSubpath();
    p.setPen(QPen(QColor(140, 100, 20), 2));
    p.setBrush(QColor(240, 200, 90));
    p.drawPath(path);
    p.setBrush(QColor(250, 220, 120));
    p.drawRect(QRectF(3, 18, 35, 18));
}

void disk(QPainter& p) {
    p.setPen(QPen(QColor(30, 30, 60), 2));
    p.setBrush(QColor(70, 90, 150));
    p.drawRoundedRect(QRectF(4, 4, 34, 34), 3, 3);
    p.setBrush(QColor(235, 235, 235));
    p.drawRect(QRectF(10, 4, 20, 12));
    p.setBrush(QColor(200, 200, 210));
    p.drawRect(QRectF(9, 24, 24, 14));
}

// Two overlapping discs with the part the operation keeps filled.
void venn(QPainter& p, int32_t id) {
    const QRectF a(3, 9, 26, 26);
    const QRectF b(15, 9, 26, 26);
    QPainterPath pa, pb;
    pa.addEllipse(a);
    pb.addEllipse(b);
    QPainterPath kept = id == ID_UNION          ? pa.united(pb)
                        : id == ID_INTERSECTION ? pa.intersected(pb)
                                                : pa.subtracted(pb);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(200, 60, 40));
    p.drawPath(kept);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(kObject1, 2));
    p.drawEllipse(a);
    p.setPen(QPen(kObject2, 2));
    p.drawEllipse(b);
}

void generator(QPainter& p) {
    // A small cube with a sphere beside it.
    p.setPen(QPen(QColor(40, 40, 40), 2));
    p.setBrush(QColor(120, 170, 220));
    p.drawRect(QRectF(4, 18, 18, 18));
    QPolygonF top{{4, 18}, {12, 10}, {30, 10}, {22, 18}};
    p.setBrush(QColor(170, 210, 240));
    p.drawPolygon(top);
    QPolygonF side{{22, 18}, {30, 10}, {30, 28}, {22, 36}};
    p.setBrush(QColor(80, 130, 190));
    p.drawPolygon(side);
    QRadialGradient shade(QPointF(31, 24), 12, QPointF(28, 20));
    shade.setColorAt(0, QColor(255, 230, 200));
    shade.setColorAt(1, QColor(210, 90, 40));
    p.setBrush(shade);
    p.drawEllipse(QRectF(26, 20, 16, 16));
}

void animation(QPainter& p) {
    // A milling cutter above a workpiece.
    p.setPen(QPen(QColor(40, 40, 40), 2));
    p.setBrush(QColor(150, 40, 40));
    p.drawRect(QRectF(3, 28, 38, 12));
    p.setBrush(QColor(190, 190, 200));
    p.drawRect(QRectF(17, 3, 10, 10));
    p.setBrush(QColor(60, 80, 160));
    p.drawRect(QRectF(19, 13, 6, 17));
    p.setPen(QPen(QColor(230, 230, 255), 1.5));
    p.drawLine(QPointF(19, 17), QPointF(25, 21));
    p.drawLine(QPointF(19, 23), QPointF(25, 27));
}

QPixmap draw(int32_t id) {
    QPixmap pixmap(kSize, kSize);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    switch (id) {
        case ID_OPEN_OBJECT1:
        case ID_OPEN_OBJECT2:
            folder(p);
            badge(p, id == ID_OPEN_OBJECT1 ? QStringLiteral("1") : QStringLiteral("2"),
                  id == ID_OPEN_OBJECT1 ? kObject1 : kObject2);
            break;
        case ID_SAVE_OBJECT1:
        case ID_SAVE_OBJECT2:
            disk(p);
            badge(p, id == ID_SAVE_OBJECT1 ? QStringLiteral("1") : QStringLiteral("2"),
                  id == ID_SAVE_OBJECT1 ? kObject1 : kObject2);
            break;
        case ID_UNION:
        case ID_INTERSECTION:
        case ID_DIFFERENCE:
            venn(p, id);
            break;
        case ID_GENERATOR:
            generator(p);
            break;
        case ID_ANIMATION:
            animation(p);
            break;
        default:
            break;
    }
    return pixmap;
}

}  // namespace

QIcon toolbarIcon(int32_t commandId) {
    QPixmap pixmap = draw(commandId);
    pixmap.setDevicePixelRatio(2.0);
    return QIcon(pixmap);
}

QIcon programIcon() {
    return QIcon(draw(ID_DIFFERENCE));
}

}  // namespace korvan::app
