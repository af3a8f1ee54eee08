#pragma once

#include "platform/toolkit.h"

#include <QIcon>
#include <QPixmap>

class QPainter;

// The window's own pictures, drawn at run time so the program ships no image
// files: the logo and the two faces of the blocking switch. The icon files
// that the desktop's menus show are drawn by the same code at build time.
namespace tavro::qt {

inline constexpr int LogoWidth = 126;
inline constexpr int LogoHeight = 34;
inline constexpr int IconSize = 16;
// The sides at which the desktop may ask for the icon: panels of 16 to 24
// pixels, menus and launchers up to 256.
inline constexpr int IconSides[] = {16, 22, 24, 32, 48, 64, 128, 256};

// Draws the face into the square of the given side at the painter's origin;
// with crossed set, under a red diagonal cross.
void drawFace(QPainter& p, qreal side, bool crossed);
// The name Tavro beside the face, on a transparent ground so the window's
// background shows through, at the screen's pixel ratio.
QPixmap tavroLogo();
// A green face of 16 x 16 logical pixels at the screen's pixel ratio; with
// crossed set, the same face under a red diagonal cross.
QPixmap facePicture(bool crossed);
// The face of the given logical side at the given pixel ratio.
QPixmap facePicture(bool crossed, int side, qreal ratio);
// The picture of an icon value, drawn at any size and pixel ratio asked for,
// offered at the sides of IconSides; an empty icon for Icon::None.
QIcon iconFor(Icon icon);

} // namespace tavro::qt
