#pragma once

#include "cli/CommandLineOptions.h"

#include <QObject>

#include <cstdio>

class DownloadManager;

// kestro-dl --serve: the queue without a window, answering agent requests until stopped.
// A stop pauses what runs (partial files are kept) and ends once every job has let go.
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

    DownloadManager &m_manager;
    CommandLineOptions m_options;
    std::FILE *m_err;
    bool m_stopping = false;
    bool m_ended = false;
};
