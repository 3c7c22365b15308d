#pragma once

#include "cli/CommandLineOptions.h"

#include <QObject>

#include <optional>

class DownloadManager;
class OutputStream;
class ProgressPrinter;

// One run of kestro-dl: adds the links, waits until each item has ended, and decides the
// exit status. A stop signal pauses what runs and keeps the partial files; a second one
// gives up waiting.
class DownloadRun : public QObject
{
    Q_OBJECT

public:
    enum ExitStatus { allFinished = 0, someFailed = 1, badArguments = 2 };

    DownloadRun(DownloadManager &manager, const CommandLineOptions &options, OutputStream &out, OutputStream &err,
                bool live, QObject *parent = nullptr);

    void start();
    // SIGINT, SIGTERM or SIGHUP; the run then ends with 128 + the signal's number.
    void interrupt(int signalNumber);
    // True when the run ended without waiting for its engines (they were killed).
    bool abandoned() const { return m_abandoned; }

Q_SIGNALS:
    void done(int exitStatus);

private:
    void check();
    void end(int exitStatus);

    DownloadManager &m_manager;
    CommandLineOptions m_options;
    OutputStream &m_out;
    OutputStream &m_err;
    ProgressPrinter *m_printer;
    bool m_started = false;
    bool m_refusedAny = false;
    std::optional<int> m_stopping; // the exit status once what still runs has stopped
    bool m_ended = false;
    bool m_abandoned = false;
};
