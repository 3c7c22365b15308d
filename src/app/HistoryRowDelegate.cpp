#include "HistoryRowDelegate.h"

#include "HistoryListModel.h"
#include "SymbolIcon.h"
#include "ThumbnailCache.h"
#include "shared/L10n.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QHelpEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QToolTip>

using namespace Qt::StringLiterals;

namespace {
constexpr int thumbWidth = 96;
constexpr int thumbHeight = 54;
constexpr int iconSize = 18;
constexpr int sidePadding = 12;
} // namespace

HistoryRowDelegate::HistoryRowDelegate(ThumbnailCache &thumbnails, QObject *parent)
    : QStyledItemDelegate(parent)
    , m_thumbnails(thumbnails)
{
}

QList<HistoryRowDelegate::Button> HistoryRowDelegate::buttons(const QModelIndex &index, const QRect &row)
{
    QList<Button> result;
    int right = row.right() - sidePadding;
    const int top = row.center().y() - iconSize / 2;
    // Right to left: reveal (only with a file), then copy.
    if (index.data(HistoryListModel::FilePathRole).isValid()) {
        result.prepend({Action::reveal, u"folder"_s, L10n::tr(u"在文件管理器中显示"_s),
                        QRect(right - iconSize + 1, top, iconSize, iconSize)});
        right -= iconSize + 14;
    }
    result.prepend({Action::copyLink, u"doc.on.doc"_s, L10n::tr(u"复制链接"_s), QRect(right - iconSize + 1, top, iconSize, iconSize)});
    return result;
}

QSize HistoryRowDelegate::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &) const
{
    return QSize(std::max(200, option.rect.width()), rowHeight);
}

QPixmap HistoryRowDelegate::thumbnail(const QUrl &url, const QSize &size, qreal ratio) const
{
    if (const auto found = m_scaled.constFind(url); found != m_scaled.cend())
        return *found;
    const QImage image = m_thumbnails.request(url);
    if (image.isNull())
        return QPixmap();
    const QSize pixels = size * ratio;
    QImage filled = image.scaled(pixels, Qt::KeepAspectRatioByExpanding, Qt::SmoothTransformation);
    filled = filled.copy((filled.width() - pixels.width()) / 2, (filled.height() - pixels.height()) / 2, pixels.width(),
                         pixels.height());
    QPixmap pixmap = QPixmap::fromImage(filled);
    pixmap.setDevicePixelRatio(ratio);
    m_scaled.insert(url, pixmap);
    return pixmap;
}

void HistoryRowDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    QStyleOptionViewItem base(option);
    initStyleOption(&base, index);
    base.text.clear();
    // The platform's own row background and selection.
    QStyle *style = option.widget ? option.widget->style() : QApplication::style();
    style->drawPrimitive(QStyle::PE_PanelItemViewItem, &base, painter, option.widget);

    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    const QRect row = option.rect;
    const QRect thumb(row.left() + sidePadding, row.center().y() - thumbHeight / 2, thumbWidth, thumbHeight);
    const qreal ratio = painter->device()->devicePixelRatioF();
    const bool selected = option.state & QStyle::State_Selected;
    const QColor text = option.palette.color(selected ? QPalette::HighlightedText : QPalette::Text);
    QColor secondary = option.palette.color(QPalette::PlaceholderText);
    if (selected)
        secondary = text;

    QPainterPath clip;
    clip.addRoundedRect(QRectF(thumb), 6, 6);
    painter->save();
    painter->setClipPath(clip);
    const QVariant url = index.data(HistoryListModel::ThumbnailUrlRole);
    const QPixmap image = url.isValid() ? thumbnail(url.toUrl(), thumb.size(), ratio) : QPixmap();
    if (!image.isNull()) {
        painter->drawPixmap(thumb.topLeft(), image);
    } else {
        QColor placeholder = secondary;
        placeholder.setAlphaF(0.2f);
        painter->fillRect(thumb, placeholder);
        painter->drawPixmap(thumb.center() - QPoint(11, 11),
                            SymbolIcon::pixmap(u"film"_s, 22, secondary, option.palette.color(QPalette::Base), ratio));
    }
    painter->restore();

    const QList<Button> actions = buttons(index, row);
    const int textLeft = thumb.right() + 13;
    const int textRight = (actions.isEmpty() ? row.right() - sidePadding : actions.first().rect.left()) - 12;
    QFont titleFont = option.font;
    titleFont.setBold(true);
    const QFontMetrics titleMetrics(titleFont);
    QFont metaFont = option.font;
    metaFont.setPointSizeF(option.font.pointSizeF() > 0 ? option.font.pointSizeF() - 1 : 8);
    const QFontMetrics metaMetrics(metaFont);
    const int blockHeight = titleMetrics.height() + 3 + metaMetrics.height();
    const QRect titleRect(textLeft, row.center().y() - blockHeight / 2, textRight - textLeft, titleMetrics.height());
    const QRect metaRect(textLeft, titleRect.bottom() + 4, titleRect.width(), metaMetrics.height());
    painter->setFont(titleFont);
    painter->setPen(text);
    painter->drawText(titleRect, Qt::AlignLeft | Qt::AlignVCenter,
                      titleMetrics.elidedText(index.data(Qt::DisplayRole).toString(), Qt::ElideRight, titleRect.width()));
    painter->setFont(metaFont);
    painter->setPen(secondary);
    painter->drawText(metaRect, Qt::AlignLeft | Qt::AlignVCenter,
                      metaMetrics.elidedText(index.data(HistoryListModel::MetaRole).toString(), Qt::ElideRight, metaRect.width()));

    for (const Button &button : actions)
        painter->drawPixmap(button.rect.topLeft(),
                            SymbolIcon::pixmap(button.symbol, iconSize, secondary, option.palette.color(QPalette::Base), ratio));
    painter->restore();
}

bool HistoryRowDelegate::editorEvent(QEvent *event, QAbstractItemModel *model, const QStyleOptionViewItem &option,
                                     const QModelIndex &index)
{
    if (event->type() != QEvent::MouseButtonPress && event->type() != QEvent::MouseButtonRelease)
        return QStyledItemDelegate::editorEvent(event, model, option, index);
    auto *mouse = static_cast<QMouseEvent *>(event);
    const QPoint pos = mouse->position().toPoint();
    const Button *hit = nullptr;
    const QList<Button> actions = buttons(index, option.rect);
    for (const Button &button : actions) {
        if (button.rect.adjusted(-3, -3, 3, 3).contains(pos))
            hit = &button;
    }
    if (event->type() == QEvent::MouseButtonPress) {
        m_pressed = hit && mouse->button() == Qt::LeftButton ? QPersistentModelIndex(index) : QPersistentModelIndex();
        return false;
    }
    const bool same = m_pressed.isValid() && m_pressed == index;
    m_pressed = QPersistentModelIndex();
    if (hit && same && mouse->button() == Qt::LeftButton) {
        Q_EMIT actionTriggered(hit->action, index);
        return true;
    }
    return false;
}

bool HistoryRowDelegate::helpEvent(QHelpEvent *event, QAbstractItemView *view, const QStyleOptionViewItem &option,
                                   const QModelIndex &index)
{
    for (const Button &button : buttons(index, option.rect)) {
        if (button.rect.adjusted(-3, -3, 3, 3).contains(event->pos())) {
            QToolTip::showText(event->globalPos(), button.help, view->viewport(), button.rect);
            return true;
        }
    }
    return QStyledItemDelegate::helpEvent(event, view, option, index);
}
