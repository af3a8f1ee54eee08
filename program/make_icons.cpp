// Writes the program's icon files for the desktop's menus into a hicolor
// theme folder, drawn by the code that draws the window's and the tray's
// face, so the three never differ.
//
//   make-icons FOLDER NAME
//
// FOLDER/scalable/apps/NAME.svg and FOLDER/<side>x<side>/apps/NAME.png.
#include "platform/qt/pictures.h"

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgGenerator>
#include <cstdio>

namespace {

constexpr int SvgSide = 256;

QString appsFolder(const QString& theme, const QString& size) {
    const QString folder = theme + QStringLiteral("/") + size + QStringLiteral("/apps");
    QDir().mkpath(folder);
    return folder;
}

bool writeSvg(const QString& theme, const QString& name) {
    QSvgGenerator svg;
    svg.setFileName(appsFolder(theme, QStringLiteral("scalable")) + QStringLiteral("/") + name +
                    QStringLiteral(".svg"));
    svg.setSize(QSize(SvgSide, SvgSide));
    svg.setViewBox(QRect(0, 0, SvgSide, SvgSide));
    svg.setTitle(QStringLiteral("Tavro Popup Blocker"));
    QPainter p;
    if (!p.begin(&svg))
        return false;
    tavro::qt::drawFace(p, SvgSide, false);
    return p.end();
}

bool writePng(const QString& theme, const QString& name, int side) {
    QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter p(&image);
        tavro::qt::drawFace(p, side, false);
    }
    const QString size = QStringLiteral("%1x%1").arg(side);
    return image.save(appsFolder(theme, size) + QStringLiteral("/") + name + QStringLiteral(".png"));
}

} // namespace

int main(int argc, char* argv[]) {
    if (argc != 3) {
        std::fputs("usage: make-icons FOLDER NAME\n", stderr);
        return 2;
    }
    // Painting into images and SVG needs no display.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QString theme = QString::fromLocal8Bit(argv[1]);
    const QString name = QString::fromLocal8Bit(argv[2]);
    bool ok = writeSvg(theme, name);
    for (const int side : tavro::qt::IconSides)
        ok = writePng(theme, name, side) && ok;
    if (!ok)
        std::fprintf(stderr, "make-icons: cannot write the icons into %s\n", argv[1]);
    return ok ? 0 : 1;
}
