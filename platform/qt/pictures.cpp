#include "platform/qt/pictures.h"

#include <QColor>
#include <QFont>
#include <QPainter>
#include <QPainterPath>

namespace tavro::qt {

namespace {

const QColor FaceGreen(0x3c, 0xb0, 0x43);
const QColor FaceEdge(0x1d, 0x6b, 0x25);
const QColor CrossRed(0xe0, 0x10, 0x10);
const QColor LinkGreen(0x00, 0x40, 0x00);

// Draws the face into a square of the given side, so the logo can reuse it at
// a larger size than the 16 x 16 icons.
void drawFace(QPainter& p, qreal side) {
    const qreal unit = side / 16.0;
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setPen(QPen(FaceEdge, unit));
    p.setBrush(FaceGreen);
    p.drawEllipse(QRectF(0.5 * unit, 0.5 * unit, 15 * unit, 15 * unit));

    p.setPen(Qt::NoPen);
    p.setBrush(Qt::black);
    p.drawEllipse(QRectF(4.5 * unit, 4.5 * unit, 2.2 * unit, 2.6 * unit));
    p.drawEllipse(QRectF(9.3 * unit, 4.5 * unit, 2.2 * unit, 2.6 * unit));

    QPainterPath smile;
    smile.moveTo(4.2 * unit, 9.5 * unit);
    smile.quadTo(8 * unit, 13.8 * unit, 11.8 * unit, 9.5 * unit);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(Qt::black, 1.3 * unit, Qt::SolidLine, Qt::RoundCap));
    p.drawPath(smile);
}

} // namespace

QPixmap facePicture(bool crossed) {
    QPixmap pixmap(IconSize, IconSize);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    drawFace(p, IconSize);
    if (crossed) {
        p.setPen(QPen(CrossRed, 2.2, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(1.5, 1.5), QPointF(14.5, 14.5));
        p.drawLine(QPointF(14.5, 1.5), QPointF(1.5, 14.5));
    }
    return pixmap;
}

QIcon iconFor(Icon icon) {
    switch (icon) {
    case Icon::Enabled:
        return QIcon(facePicture(false));
    case Icon::Disabled:
        return QIcon(facePicture(true));
    case Icon::None:
        break;
    }
    return {};
}

QPixmap tavroLogo() {
    QPixmap pixmap(LogoWidth, LogoHeight);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);

    p.save();
    p.translate(2, 3);
    drawFace(p, 28);
    p.restore();

    QFont font(QStringLiteral("DejaVu Serif"));
    font.setStyleHint(QFont::Serif);
    font.setPixelSize(26);
    font.setBold(true);
    font.setItalic(true);
    p.setFont(font);
    p.setPen(LinkGreen);
    p.drawText(QRect(34, 0, LogoWidth - 34, LogoHeight), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("Tavro"));
    return pixmap;
}

} // namespace tavro::qt
