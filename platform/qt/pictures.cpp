#include "platform/qt/pictures.h"

#include <QColor>
#include <QFont>
#include <QGuiApplication>
#include <QIconEngine>
#include <QPainter>
#include <QPainterPath>

namespace tavro::qt {

namespace {

const QColor FaceGreen(0x3c, 0xb0, 0x43);
const QColor FaceEdge(0x1d, 0x6b, 0x25);
const QColor CrossRed(0xe0, 0x10, 0x10);
const QColor LinkGreen(0x00, 0x40, 0x00);

// The highest pixel ratio of the screens, so a picture stays sharp on the
// densest one; 1 before the application exists.
qreal screenRatio() {
    return qGuiApp ? qGuiApp->devicePixelRatio() : 1.0;
}

// A transparent pixmap of the given logical size at the given pixel ratio.
QPixmap transparentPixmap(int width, int height, qreal ratio) {
    QPixmap pixmap(qRound(width * ratio), qRound(height * ratio));
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    return pixmap;
}

// The face as an icon, painted at whatever size and pixel ratio the desktop
// asks for when it asks: sharp everywhere, and nothing painted in advance.
class FaceIconEngine final : public QIconEngine {
public:
    explicit FaceIconEngine(bool crossed) : m_crossed(crossed) {}

    void paint(QPainter* p, const QRect& rect, QIcon::Mode, QIcon::State) override {
        p->save();
        p->translate(rect.topLeft());
        drawFace(*p, qMin(rect.width(), rect.height()), m_crossed);
        p->restore();
    }
    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
        return scaledPixmap(size, mode, state, 1.0);
    }
    // Qt asks in device pixels.
    QPixmap scaledPixmap(const QSize& size, QIcon::Mode, QIcon::State, qreal scale) override {
        QPixmap pixmap = facePicture(m_crossed, qMin(size.width(), size.height()), 1.0);
        pixmap.setDevicePixelRatio(scale);
        return pixmap;
    }
    QList<QSize> availableSizes(QIcon::Mode, QIcon::State) override {
        QList<QSize> sizes;
        for (const int side : IconSides)
            sizes.append(QSize(side, side));
        return sizes;
    }
    QIconEngine* clone() const override { return new FaceIconEngine(m_crossed); }
    QString key() const override { return QStringLiteral("tavro-face"); }

private:
    bool m_crossed;
};

} // namespace

// The geometry is laid out on a 16 x 16 grid, the size of the smallest icon.
void drawFace(QPainter& p, qreal side, bool crossed) {
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

    if (crossed) {
        p.setPen(QPen(CrossRed, 2.2 * unit, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(1.5 * unit, 1.5 * unit), QPointF(14.5 * unit, 14.5 * unit));
        p.drawLine(QPointF(14.5 * unit, 1.5 * unit), QPointF(1.5 * unit, 14.5 * unit));
    }
}

QPixmap facePicture(bool crossed, int side, qreal ratio) {
    QPixmap pixmap = transparentPixmap(side, side, ratio);
    QPainter p(&pixmap);
    drawFace(p, side, crossed);
    return pixmap;
}

QPixmap facePicture(bool crossed) {
    return facePicture(crossed, IconSize, screenRatio());
}

QIcon iconFor(Icon icon) {
    if (icon == Icon::None)
        return {};
    return QIcon(new FaceIconEngine(icon == Icon::Disabled));
}

QPixmap tavroLogo() {
    QPixmap pixmap = transparentPixmap(LogoWidth, LogoHeight, screenRatio());
    QPainter p(&pixmap);

    p.save();
    p.translate(2, 3);
    drawFace(p, 28, false);
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
