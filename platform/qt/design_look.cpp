#include "platform/qt/design_look.h"

#include "platform/qt/qt_text.h"

#include <QFontMetrics>
#include <QStringList>

namespace tavro::qt {

// The design's face where it exists; otherwise a condensed sans-serif, whose
// widths come closest to it, so the captions fit the fixed control sizes.
QFont designFont() {
    QFont font;
    font.setFamilies({toQString(LinkFontFamily), QStringLiteral("DejaVu Sans Condensed"),
                      QStringLiteral("Liberation Sans"), QStringLiteral("Arial")});
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(LinkFontPointSize);
    return font;
}

// Frames as the design draws them: the title sits on the top edge, and the
// controls inside are placed from the frame's outer corner.
const char* const FrameStyle = "QGroupBox { border: 1px solid palette(mid); border-radius: 0px;"
                               " margin-top: 6px; padding: 0px; }"
                               "QGroupBox::title { subcontrol-origin: margin; subcontrol-position: top left;"
                               " left: 6px; top: 0px; padding: 0px 2px; background-color: palette(window); }";

// The fallback face runs a little wider than the design's; a link that would
// be clipped at its fixed width gets its letters drawn closer instead.
QFont fittedFont(const QString& text, int width) {
    QFont font = designFont();
    for (int tenths = 0; tenths >= -10; --tenths) {
        font.setLetterSpacing(QFont::AbsoluteSpacing, tenths / 10.0);
        if (QFontMetrics(font).horizontalAdvance(text) <= width)
            break;
    }
    return font;
}

// The design draws its links in their own colour and, unlike Qt's links, not underlined.
QString linkHtml(const QString& address, const QString& caption) {
    return QStringLiteral("<a href=\"%1\" style=\"color:#%2; text-decoration:none;\">%3</a>")
        .arg(address.toHtmlEscaped())
        .arg(LinkColorRgb, 6, 16, QLatin1Char('0'))
        .arg(caption.toHtmlEscaped());
}

QRect pixelRect(const ControlDesign& d) {
    return {twipsToPixels(d.left), twipsToPixels(d.top), twipsToPixels(d.width), twipsToPixels(d.height)};
}

// What a screen reader says for a control that has no caption of its own: a
// list is named by the frame around it (the blocked list is drawn over its
// frame rather than placed inside it), the logo by the program.
QString accessibleName(const ControlDesign& d) {
    if (d.kind == ControlKind::PictureBox)
        return toQString(AppTitle);
    if (d.kind != ControlKind::ListBox)
        return {};
    for (const ControlDesign& frame : controlDesigns()) {
        if (frame.kind != ControlKind::Frame)
            continue;
        const bool around =
            d.container.empty() ? pixelRect(frame).contains(pixelRect(d)) : frame.name == d.container;
        if (around)
            return toQString(frame.caption);
    }
    return {};
}

} // namespace tavro::qt
