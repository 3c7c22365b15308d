#pragma once

#include <QHash>
#include <QPixmap>
#include <QPersistentModelIndex>
#include <QStyledItemDelegate>
#include <QUrl>

class ThumbnailCache;

// Paints one history entry (thumbnail, title, meta line, copy and reveal buttons) and finds
// which button a point hits.
class HistoryRowDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    enum class Action { copyLink, reveal };
    struct Button
    {
        Action action;
        QString symbol;
        QString help;
        QRect rect;
    };

    static constexpr int rowHeight = 62;

    explicit HistoryRowDelegate(ThumbnailCache &thumbnails, QObject *parent = nullptr);

    static QList<Button> buttons(const QModelIndex &index, const QRect &row);

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    bool editorEvent(QEvent *event, QAbstractItemModel *model, const QStyleOptionViewItem &option,
                     const QModelIndex &index) override;
    bool helpEvent(QHelpEvent *event, QAbstractItemView *view, const QStyleOptionViewItem &option,
                   const QModelIndex &index) override;

Q_SIGNALS:
    void actionTriggered(HistoryRowDelegate::Action action, const QModelIndex &index);

private:
    QPixmap thumbnail(const QUrl &url, const QSize &size, qreal ratio) const;

    ThumbnailCache &m_thumbnails;
    mutable QHash<QUrl, QPixmap> m_scaled;
    QPersistentModelIndex m_pressed;
};
