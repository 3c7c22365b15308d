#pragma once

#include "cli/CommandLineOptions.h"

#include <QObject>

#include <cstdio>
#include <optional>

class DownloadManager;
class ProgressPrinter;

// One run of kestro-dl: adds the links, waits until each item has ended, and decides the
// exit status. An interrupt pauses what runs and keeps the partial files.
class DownloadRun : public QObject
{
    Q_OBJECT

public:
    enum ExitStatus { allFinished = 0, someFailed = 1, badArguments = 2, interrupted = 130 };

    DownloadRun(DownloadManager &manager, const CommandLineOptions &options, std::FILE *out, std::FILE *err,
                bool live, QObject *parent = nullptr);

    void start();
    void interrupt();

Q_SIGNALS:
    void done(int exitStatus);

private:
    void check();
    void end(int exitStatus);

    DownloadManager &m_manager;
    CommandLineOptions m_options;
    std::FILE *m_out;
    std::FILE *m_err;
    ProgressPrinter *m_printer;
    bool m_started = false;
    std::optional<int> m_stopping; // the exit status once what still runs has stopped
    bool m_ended = false;
};
