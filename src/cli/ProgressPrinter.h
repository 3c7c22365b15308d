#pragma once

#include <QHash>
#include <QObject>
#include <QTimer>
#include <QUuid>

#include <cstdio>

class DownloadItem;
class DownloadManager;

// Shows the queue on a terminal: one live line with a bar per item, redrawn a few times a
// second. Elsewhere (a pipe, a file) it writes one plain line whenever an item's status changes.
class ProgressPrinter : public QObject
{
    Q_OBJECT

public:
    ProgressPrinter(DownloadManager &manager, std::FILE *stream, bool live, QObject *parent = nullptr);

    // Draws the final state once more.
    void flush();

private:
    void redraw();
    void reportChanges();
    QString lineFor(const DownloadItem *item, int width) const;

    DownloadManager &m_manager;
    std::FILE *m_stream;
    bool m_live;
    bool m_dirty = false;
    int m_drawnLines = 0;
    QTimer m_timer;
    QHash<QUuid, QString> m_reported;
};
