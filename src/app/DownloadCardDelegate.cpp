#include "DownloadCardDelegate.h"

#include "DownloadListModel.h"
#include "SymbolIcon.h"
#include "ThumbnailCache.h"
#include "queue/DownloadItem.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QDateTime>
#include <QHelpEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QToolTip>

using namespace Qt::StringLiterals;

namespace {

constexpr int padding = 12;
constexpr int progressHeight = 6;
constexpr int statusRowHeight = 20;

DownloadItem *itemOf(const QModelIndex &index)
{
    return index.data(DownloadListModel::ItemRole).value<DownloadItem *>();
}

QColor white(qreal opacity)
{
    QColor color(Qt::white);
    color.setAlphaF(static_cast<float>(opacity));
    return color;
}

} // namespace

DownloadCardDelegate::DownloadCardDelegate(ThumbnailCache &thumbnails, QObject *parent)
    : QStyledItemDelegate(parent)
    , m_thumbnails(thumbnails)
{
}

QFont DownloadCardDelegate::titleFont(const QFont &base)
{
    QFont font(base);
    font.setBold(true);
    font.setPointSizeF(base.pointSizeF() > 0 ? base.pointSizeF() + 1.5 : 12);
    return font;
}

QFont DownloadCardDelegate::summaryFont(const QFont &base)
{
    QFont font(base);
    font.setPointSizeF(base.pointSizeF() > 0 ? base.pointSizeF() - 0.5 : 9);
    return font;
}

QFont DownloadCardDelegate::statusFont(const QFont &base)
{
    return QFont(base);
}

DownloadCardDelegate::Layout DownloadCardDelegate::layout(const DownloadItem &item, const QRect &row, const QFont &font)
{
    Layout result;
    result.card = QRect(row.left() + listPadding, row.top() + cardSpacing / 2, row.width() - 2 * listPadding, cardHeight);
    const QRect inner = result.card.adjusted(padding, padding, -padding, -padding);

    // Header buttons from the right edge.
    const QList<DownloadCard::Button> header = DownloadCard::headerButtons(item);
    int right = inner.right() + 1;
    QList<PlacedButton> placed;
    for (auto it = header.crbegin(); it != header.crend(); ++it) {
        const QRect rect(right - headerIconSize, inner.top(), headerIconSize, headerIconSize);
        placed.prepend({*it, rect.adjusted(-3, -3, 3, 3)});
        right = rect.left() - 10;
    }
    result.buttons = placed;

    const QFontMetrics titleMetrics(titleFont(font));
    const QFontMetrics summaryMetrics(summaryFont(font));
    result.title = QRect(inner.left(), inner.top(), right - 8 - inner.left(), titleMetrics.height());
    result.summary = QRect(inner.left(), result.title.bottom() + 4, result.title.width(), summaryMetrics.height());

    const int statusTop = inner.bottom() + 1 - statusRowHeight;
    result.progress = QRect(inner.left(), statusTop - 6 - progressHeight, inner.width(), progressHeight);
    result.statusIcon = QRect(inner.left(), statusTop + (statusRowHeight - statusIconSize) / 2, statusIconSize, statusIconSize);

    const QFontMetrics statusMetrics(statusFont(font));
    int x = result.statusIcon.right() + 7;
    // A little slack: the painter's metrics may round differently from these.
    const int textWidth = statusMetrics.horizontalAdvance(item.statusLine()) + 8;
    const QList<DownloadCard::Button> trailing = DownloadCard::statusButtons(item);
    int trailingWidth = 0;
    for (const DownloadCard::Button &button : trailing)
        trailingWidth += 6 + (button.symbol.isEmpty() ? statusMetrics.horizontalAdvance(button.help) + 8 : 18);
    const int available = inner.right() + 1 - x - trailingWidth;
    result.statusText = QRect(x, statusTop, std::max(0, std::min(textWidth, available)), statusRowHeight);
    x = result.statusText.right() + 1;
    for (const DownloadCard::Button &button : trailing) {
        x += 6;
        const int width = button.symbol.isEmpty() ? statusMetrics.horizontalAdvance(button.help) + 8 : 18;
        const int height = button.symbol.isEmpty() ? statusRowHeight : 18;
        result.buttons.append({button, QRect(x, statusTop + (statusRowHeight - height) / 2, width, height)});
        x += width;
    }
    return result;
}

const DownloadCardDelegate::PlacedButton *DownloadCardDelegate::buttonAt(const Layout &layout, const QPoint &point)
{
    for (const PlacedButton &placed : layout.buttons) {
        if (placed.rect.contains(point))
            return &placed;
    }
    return nullptr;
}

QSize DownloadCardDelegate::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &) const
{
    return QSize(std::max(200, option.rect.width()), cardHeight + cardSpacing);
}

void DownloadCardDelegate::paintBackground(QPainter *painter, const DownloadItem &item, const QRect &card) const
{
    QImage background;
    if (const std::optional<QUrl> url = item.thumbnailURL()) {
        const qreal ratio = painter->device()->devicePixelRatioF();
        const QSize pixels(qRound(card.width() * ratio), qRound(card.height() * ratio));
        if (!m_thumbnails.request(*url).isNull())
            background = m_thumbnails.background(*url, pixels);
    }
    if (!background.isNull()) {
        // Made at device pixels; drawn into the logical rectangle without touching the copy.
        painter->drawImage(QRectF(card), background);
        return;
    }
    // A dark base under the grey gradient keeps the white texts readable on light palettes too.
    painter->fillRect(card, QColor(40, 40, 44));
    QLinearGradient gradient(card.topLeft(), card.bottomRight());
    QColor top(Qt::darkGray);
    top.setAlphaF(0.6f);
    QColor bottom(Qt::darkGray);
    bottom.setAlphaF(0.35f);
    gradient.setColorAt(0, top);
    gradient.setColorAt(1, bottom);
    painter->fillRect(card, gradient);
}

void DownloadCardDelegate::paintProgress(QPainter *painter, const DownloadItem &item, const QRect &bar,
                                         const QColor &accent) const
{
    const qreal radius = bar.height() / 2.0;
    painter->setPen(Qt::NoPen);
    painter->setBrush(white(0.22));
    painter->drawRoundedRect(bar, radius, radius);
    painter->setBrush(DownloadCard::progressTint(item.status(), accent));
    if (DownloadCard::progressIndeterminate(item)) {
        // A segment sweeping across; the list repaints moving cards a few times a second.
        const int segment = std::max(bar.width() / 4, 12);
        const qint64 phase = QDateTime::currentMSecsSinceEpoch() % 1600;
        const int travel = bar.width() + segment;
        const int left = bar.left() - segment + static_cast<int>(travel * phase / 1600);
        painter->save();
        painter->setClipRect(bar);
        painter->drawRoundedRect(QRect(left, bar.top(), segment, bar.height()), radius, radius);
        painter->restore();
        return;
    }
    const double fraction = std::clamp(item.progress(), 0.0, 1.0);
    if (fraction > 0) {
        const int width = std::max(bar.height(), static_cast<int>(bar.width() * fraction));
        painter->drawRoundedRect(QRect(bar.left(), bar.top(), width, bar.height()), radius, radius);
    }
}

void DownloadCardDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    DownloadItem *item = itemOf(index);
    if (!item)
        return;
    ++m_paintCount;
    const Layout place = layout(*item, option.rect, option.font);
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);

    QPainterPath shape;
    shape.addRoundedRect(QRectF(place.card), 10, 10);
    painter->save();
    painter->setClipPath(shape);
    paintBackground(painter, *item, place.card);
    painter->restore();

    const QColor accent = option.palette.color(QPalette::Highlight);
    if (option.state & QStyle::State_Selected) {
        painter->setPen(QPen(accent, 2));
        painter->setBrush(Qt::NoBrush);
        painter->drawRoundedRect(QRectF(place.card).adjusted(1, 1, -1, -1), 9, 9);
    }

    painter->setPen(Qt::white);
    painter->setFont(titleFont(option.font));
    painter->drawText(place.title, Qt::AlignLeft | Qt::AlignVCenter,
                      painter->fontMetrics().elidedText(item->displayTitle(), Qt::ElideMiddle, place.title.width()));
    painter->setPen(white(0.75));
    painter->setFont(summaryFont(option.font));
    painter->drawText(place.summary, Qt::AlignLeft | Qt::AlignVCenter,
                      painter->fontMetrics().elidedText(DownloadCard::summaryLine(*item), Qt::ElideRight,
                                                        place.summary.width()));

    paintProgress(painter, *item, place.progress, accent);

    const qreal ratio = painter->device()->devicePixelRatioF();
    const QString symbol = DownloadCard::statusSymbol(item->status());
    const QColor cutOut(36, 36, 40);
    if (symbol.isEmpty()) {
        const int angle = static_cast<int>(QDateTime::currentMSecsSinceEpoch() % 1000 * 360 / 1000);
        painter->setPen(QPen(white(0.9), 2, Qt::SolidLine, Qt::RoundCap));
        painter->setBrush(Qt::NoBrush);
        painter->drawArc(place.statusIcon.adjusted(2, 2, -2, -2), -angle * 16, 270 * 16);
    } else {
        painter->drawPixmap(place.statusIcon.topLeft(),
                            SymbolIcon::pixmap(symbol, statusIconSize, DownloadCard::statusColor(item->status()), cutOut, ratio));
    }
    painter->setPen(white(0.9));
    painter->setFont(statusFont(option.font));
    painter->drawText(place.statusText, Qt::AlignLeft | Qt::AlignVCenter,
                      painter->fontMetrics().elidedText(item->statusLine(), Qt::ElideRight, place.statusText.width()));

    const bool hoverHere = option.rect.contains(m_hover);
    for (const PlacedButton &placed : place.buttons) {
        const bool hovered = hoverHere && placed.rect.contains(m_hover);
        if (placed.button.symbol.isEmpty()) {
            // A text button without a border, underlined under the pointer.
            QFont font = statusFont(option.font);
            font.setUnderline(hovered);
            painter->setFont(font);
            painter->setPen(QColor(100, 170, 255));
            painter->drawText(placed.rect, Qt::AlignCenter, placed.button.help);
            continue;
        }
        const int size = std::min(placed.rect.width(), placed.rect.height()) - (placed.rect.height() > 18 ? 6 : 0);
        const QRect iconRect(placed.rect.center().x() - size / 2 + 1, placed.rect.center().y() - size / 2 + 1, size, size);
        if (hovered) {
            painter->setPen(Qt::NoPen);
            painter->setBrush(white(0.18));
            painter->drawEllipse(placed.rect);
        }
        painter->drawPixmap(iconRect.topLeft(),
                            SymbolIcon::pixmap(placed.button.symbol, size, white(hovered ? 1.0 : placed.button.opacity),
                                               cutOut, ratio));
    }
    painter->restore();
}

bool DownloadCardDelegate::editorEvent(QEvent *event, QAbstractItemModel *model, const QStyleOptionViewItem &option,
                                       const QModelIndex &index)
{
    DownloadItem *item = itemOf(index);
    if (!item)
        return QStyledItemDelegate::editorEvent(event, model, option, index);
    switch (event->type()) {
    case QEvent::MouseMove: {
        const QPoint pos = static_cast<QMouseEvent *>(event)->position().toPoint();
        if (pos != m_hover) {
            m_hover = pos;
            if (auto *view = qobject_cast<QAbstractItemView *>(parent()))
                view->viewport()->update(option.rect);
        }
        return false;
    }
    case QEvent::MouseButtonPress: {
        auto *mouse = static_cast<QMouseEvent *>(event);
        const Layout place = layout(*item, option.rect, option.font);
        if (mouse->button() == Qt::LeftButton && buttonAt(place, mouse->position().toPoint())) {
            m_pressed = index;
            return false; // the row still becomes the selected one
        }
        m_pressed = QPersistentModelIndex();
        return false;
    }
    case QEvent::MouseButtonRelease: {
        auto *mouse = static_cast<QMouseEvent *>(event);
        const bool same = m_pressed.isValid() && m_pressed == index;
        m_pressed = QPersistentModelIndex();
        if (mouse->button() != Qt::LeftButton || !same)
            return false;
        const Layout place = layout(*item, option.rect, option.font);
        if (const PlacedButton *hit = buttonAt(place, mouse->position().toPoint())) {
            Q_EMIT actionTriggered(hit->button.action, item);
            return true;
        }
        return false;
    }
    default:
        return QStyledItemDelegate::editorEvent(event, model, option, index);
    }
}

bool DownloadCardDelegate::helpEvent(QHelpEvent *event, QAbstractItemView *view, const QStyleOptionViewItem &option,
                                     const QModelIndex &index)
{
    DownloadItem *item = itemOf(index);
    if (!item || event->type() != QEvent::ToolTip)
        return QStyledItemDelegate::helpEvent(event, view, option, index);
    const Layout place = layout(*item, option.rect, option.font);
    if (const PlacedButton *hit = buttonAt(place, event->pos())) {
        QToolTip::showText(event->globalPos(), hit->button.help, view->viewport(), hit->rect);
        return true;
    }
    QToolTip::hideText();
    return true;
}
