#pragma once

#include "form/design.h"

#include <QFont>
#include <QRect>
#include <QString>

// How the window's design looks in Qt: its face, its frames and links, where
// a control stands and what a screen reader calls it.
namespace tavro::qt {

// The design's face where it exists; otherwise a condensed sans-serif, whose
// widths come closest to it, so the captions fit the fixed control sizes.
QFont designFont();

// Frames as the design draws them: the title sits on the top edge, and the
// controls inside are placed from the frame's outer corner.
extern const char* const FrameStyle;

// The design's face, its letters drawn closer where the text would otherwise
// be clipped at that width.
QFont fittedFont(const QString& text, int width);

// A link in the design's own colour and, unlike Qt's links, not underlined.
QString linkHtml(const QString& address, const QString& caption);

// The control's place in pixels, relative to its container.
QRect pixelRect(const ControlDesign& d);

// What a screen reader says for a control that has no caption of its own.
QString accessibleName(const ControlDesign& d);

} // namespace tavro::qt
