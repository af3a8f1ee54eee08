#pragma once

#include "platform/toolkit.h"

#include <QIcon>
#include <QPixmap>

// The window's own pictures, drawn at run time so the program ships no image
// files: the logo and the two 16 x 16 faces of the blocking switch.
namespace tavro::qt {

inline constexpr int LogoWidth = 126;
inline constexpr int LogoHeight = 34;
inline constexpr int IconSize = 16;

// The name Tavro beside the face, on a transparent ground so the window's
// background shows through.
QPixmap tavroLogo();
// A green face; with crossed set, the same face under a red diagonal cross.
QPixmap facePicture(bool crossed);
// The picture of an icon value; an empty icon for Icon::None.
QIcon iconFor(Icon icon);

} // namespace tavro::qt
