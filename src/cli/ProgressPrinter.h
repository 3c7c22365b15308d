#pragma once

#include <QHash>
#include <QObject>
#include <QTimer>
#include <QUuid>

class DownloadItem;
class DownloadManager;
class OutputStream;

// Shows the queue on a terminal: one live line with a bar per item (as many as fit), redrawn a
// few times a second. Elsewhere (a pipe, a file) it writes one plain line whenever an item's
// status or failure text changes.
class ProgressPrinter : public QObject
{
    Q_OBJECT

public:
    ProgressPrinter(DownloadManager &manager, OutputStream &stream, bool live, QObject *parent = nullptr);

    // Draws the final state once more.
    void flush();

private:
    void redraw();
    void reportChanges();

    DownloadManager &m_manager;
    OutputStream &m_stream;
    bool m_live;
    bool m_dirty = false;
    int m_drawnLines = 0;
    QTimer m_timer;
    QHash<QUuid, QString> m_reported;
};
