#pragma once

#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <QString>

class QPalette;

// The window's icons by their symbol names ("play.fill", "trash", ...). Each symbol has a
// freedesktop icon name that the desktop theme may provide, and a bundled SVG of our own that
// is drawn in any colour, so icons stay legible in light and dark palettes and on the cards.
class SymbolIcon
{
public:
    // The freedesktop name for a symbol; empty for an unknown symbol.
    static QString themeName(const QString &symbol);
    // True when the bundled fallback exists.
    static bool hasFallback(const QString &symbol);

    // The bundled drawing at size (logical pixels) and device pixel ratio: its strokes and fills
    // in color, its cut-outs in inner. Rendered once per combination.
    static QPixmap pixmap(const QString &symbol, int size, const QColor &color, const QColor &inner,
                          qreal devicePixelRatio = 1.0);

    // For toolbars and buttons: the theme's icon when it has one, else the fallback in the
    // palette's text colours (normal and disabled).
    static QIcon icon(const QString &symbol, const QPalette &palette);
};
