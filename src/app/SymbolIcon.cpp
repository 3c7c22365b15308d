#include "SymbolIcon.h"

#include <QFile>
#include <QHash>
#include <QImage>
#include <QPainter>
#include <QPalette>
#include <QSvgRenderer>

using namespace Qt::StringLiterals;

namespace {

struct Symbol
{
    const char16_t *name;
    const char16_t *theme;
};

// Freedesktop icon naming specification names; the closest standard meaning for each symbol.
constexpr Symbol symbols[] = {
    {u"arrow.down.circle", u"folder-download"},
    {u"arrow.down.circle.fill", u"go-down"},
    {u"doc.on.clipboard", u"edit-paste"},
    {u"plus", u"list-add"},
    {u"play.fill", u"media-playback-start"},
    {u"pause.fill", u"media-playback-pause"},
    {u"trash", u"edit-delete"},
    {u"clock.arrow.circlepath", u"document-open-recent"},
    {u"exclamationmark.triangle.fill", u"dialog-warning"},
    {u"xmark.circle.fill", u"process-stop"},
    {u"arrow.clockwise", u"view-refresh"},
    {u"pause.circle.fill", u"media-playback-pause"},
    {u"checkmark.circle.fill", u"emblem-ok"},
    {u"checkmark.circle", u"emblem-ok"},
    {u"xmark.octagon.fill", u"dialog-error"},
    {u"clock", u"appointment-soon"},
    {u"folder", u"folder-open"},
    {u"doc.on.doc", u"edit-copy"},
    {u"film", u"video-x-generic"},
    {u"magnifyingglass", u"edit-find"},
};

QByteArray svgSource(const QString &symbol)
{
    static QHash<QString, QByteArray> sources;
    const auto found = sources.constFind(symbol);
    if (found != sources.cend())
        return *found;
    QFile file(u":/symbols/"_s + symbol + u".svg"_s);
    const QByteArray content = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    sources.insert(symbol, content);
    return content;
}

} // namespace

QString SymbolIcon::themeName(const QString &symbol)
{
    for (const Symbol &entry : symbols) {
        if (symbol == QStringView(entry.name))
            return QString::fromUtf16(entry.theme);
    }
    return QString();
}

bool SymbolIcon::hasFallback(const QString &symbol)
{
    return !svgSource(symbol).isEmpty();
}

QPixmap SymbolIcon::pixmap(const QString &symbol, int size, const QColor &color, const QColor &inner,
                           qreal devicePixelRatio)
{
    static QHash<QString, QPixmap> rendered;
    const QString key = symbol % u"|" % QString::number(size) % u"|" % color.name(QColor::HexArgb) % u"|"
                        % inner.name(QColor::HexArgb) % u"|" % QString::number(devicePixelRatio);
    const auto found = rendered.constFind(key);
    if (found != rendered.cend())
        return *found;

    QByteArray source = svgSource(symbol);
    // The drawings use pure black for ink and pure white for cut-outs; SVG Tiny has no masks.
    // Through markers: a colour such as #ffffff must not be caught by the second replacement.
    source.replace("#000", "@ink@").replace("#fff", "@cut@");
    source.replace("@ink@", color.name(QColor::HexRgb).toLatin1());
    source.replace("@cut@", inner.name(QColor::HexRgb).toLatin1());
    const int pixels = qMax(1, qRound(size * devicePixelRatio));
    QImage image(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QSvgRenderer renderer(source);
    if (renderer.isValid()) {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setOpacity(color.alphaF());
        renderer.render(&painter);
    }
    QPixmap pixmap = QPixmap::fromImage(image);
    pixmap.setDevicePixelRatio(devicePixelRatio);
    rendered.insert(key, pixmap);
    return pixmap;
}

QIcon SymbolIcon::icon(const QString &symbol, const QPalette &palette)
{
    const QString name = themeName(symbol);
    if (!name.isEmpty() && QIcon::hasThemeIcon(name))
        return QIcon::fromTheme(name);
    QIcon icon;
    const QColor inner = palette.color(QPalette::Window);
    for (const int size : {16, 24, 32, 48}) {
        icon.addPixmap(pixmap(symbol, size, palette.color(QPalette::Active, QPalette::ButtonText), inner), QIcon::Normal);
        icon.addPixmap(pixmap(symbol, size, palette.color(QPalette::Disabled, QPalette::ButtonText), inner), QIcon::Disabled);
    }
    return icon;
}
