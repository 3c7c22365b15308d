#pragma once

#include "DownloadCard.h"

#include <QListView>
#include <QTimer>

#include <optional>

class DownloadItem;

// The card list: keyboard control of the selected card, its context menu, and a slow timer
// that repaints only the visible cards that move (spinners, bars without a value).
class DownloadListView : public QListView
{
    Q_OBJECT

public:
    explicit DownloadListView(QWidget *parent = nullptr);

    DownloadItem *currentItem() const;
    // The card's context menu key action for the current card, as the key or Shift+F10 opens it.
    void openContextMenu(const QPoint &viewportPos);

    // What a key does to the selected card; nothing when the key means nothing for it.
    static std::optional<DownloadCard::Action> keyAction(const DownloadItem &item, int key, Qt::KeyboardModifiers modifiers);

Q_SIGNALS:
    void actionRequested(DownloadCard::Action action, DownloadItem *item);
    void contextMenuRequested(DownloadItem *item, const QPoint &globalPos);

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;

private:
    void animate();

    QTimer m_animation;
};
