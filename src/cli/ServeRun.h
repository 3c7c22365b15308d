#pragma once

#include "cli/CommandLineOptions.h"

#include <QObject>
#include <QSet>
#include <QUuid>

#include <cstdio>

class DownloadItem;
class DownloadManager;

// kestro-dl --serve: the queue without a window, answering agent requests until stopped.
// A stop pauses what runs (partial files are kept) and ends once every job has let go.
// Standard error gets one line per queued item and per outcome, for whoever runs the service.
class ServeRun : public QObject
{
    Q_OBJECT

public:
    ServeRun(DownloadManager &manager, const CommandLineOptions &options, std::FILE *err, QObject *parent = nullptr);

    void start();
    void stop();

Q_SIGNALS:
    void done(int exitStatus);

private:
    void check();
    void reportNewItems();
    void reportOutcome(DownloadItem *item);
    void print(const QString &line);

    DownloadManager &m_manager;
    CommandLineOptions m_options;
    std::FILE *m_err;
    bool m_stopping = false;
    bool m_ended = false;
    QSet<QUuid> m_reported;
};
