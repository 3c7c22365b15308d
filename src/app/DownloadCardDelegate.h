#pragma once

#include "DownloadCard.h"

#include <QFont>
#include <QList>
#include <QPersistentModelIndex>
#include <QPoint>
#include <QRect>
#include <QStyledItemDelegate>

class DownloadItem;
class ThumbnailCache;

// Paints one queue item as a card and finds which of its buttons a point hits. No widget per
// item: the list stays fluid with ten thousand items.
class DownloadCardDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    static constexpr int cardHeight = 132;
    static constexpr int cardSpacing = 10;
    static constexpr int listPadding = 12;
    static constexpr int headerIconSize = 20;
    static constexpr int statusIconSize = 16;

    struct PlacedButton
    {
        DownloadCard::Button button;
        QRect rect;
    };

    struct Layout
    {
        QRect card;
        QRect title;
        QRect summary;
        QRect progress;
        QRect statusIcon;
        QRect statusText;
        QList<PlacedButton> buttons; // header first, then those of the status row
    };

    explicit DownloadCardDelegate(ThumbnailCache &thumbnails, QObject *parent = nullptr);

    // Where everything goes for an item in a row's rectangle.
    static Layout layout(const DownloadItem &item, const QRect &row, const QFont &font);
    // The button under a point of the row, if any.
    static const PlacedButton *buttonAt(const Layout &layout, const QPoint &point);

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    bool editorEvent(QEvent *event, QAbstractItemModel *model, const QStyleOptionViewItem &option,
                     const QModelIndex &index) override;
    bool helpEvent(QHelpEvent *event, QAbstractItemView *view, const QStyleOptionViewItem &option,
                   const QModelIndex &index) override;

    // Paint calls so far, for the benchmarks.
    qint64 paintCount() const { return m_paintCount; }

Q_SIGNALS:
    void actionTriggered(DownloadCard::Action action, DownloadItem *item);

private:
    static QFont titleFont(const QFont &base);
    static QFont summaryFont(const QFont &base);
    static QFont statusFont(const QFont &base);
    void paintBackground(QPainter *painter, const DownloadItem &item, const QRect &card) const;
    void paintProgress(QPainter *painter, const DownloadItem &item, const QRect &bar, const QColor &accent) const;

    ThumbnailCache &m_thumbnails;
    QPoint m_hover{-1, -1};
    QPersistentModelIndex m_pressed;
    mutable qint64 m_paintCount = 0;
};
