// kestro-dl: the download queue of Brisvane Download without a window.
#include "cli/CommandLineOptions.h"
#include "cli/DownloadRun.h"
#include "cli/ServeRun.h"
#include "engine/YtDlpService.h"
#include "platform/SignalWatcher.h"
#include "queue/DownloadManager.h"
#include "store/AppSettings.h"
#include "store/HistoryStore.h"

#include <QCoreApplication>
#include <QDir>

#include <csignal>
#include <cstdio>
#include <unistd.h>

using namespace Qt::StringLiterals;

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(u"kestro-dl"_s);

    QString error;
    const std::optional<CommandLineOptions> options =
        CommandLineOptions::parse(QCoreApplication::arguments().mid(1), QDir::currentPath(), &error);
    if (!options) {
        std::fprintf(stderr, "kestro-dl: %s\n\n%s", qPrintable(error), qPrintable(CommandLineOptions::usage()));
        return DownloadRun::badArguments;
    }
    if (options->help) {
        std::fputs(qPrintable(CommandLineOptions::usage()), stdout);
        return 0;
    }

    // The stored settings are read, never reset or changed, so a running window application is not disturbed.
    AppSettings settings(nullptr, AppSettings::Start::keepStoredValues);
    DownloadManager manager(YtDlpService::shared(), settings, HistoryStore::shared());
    SignalWatcher signals;
    if (options->serve) {
        ServeRun serve(manager, *options, stderr);
        QObject::connect(&signals, &SignalWatcher::received, &serve, [&serve](int) { serve.stop(); });
        QObject::connect(&serve, &ServeRun::done, &app, [](int status) { QCoreApplication::exit(status); });
        QMetaObject::invokeMethod(&serve, &ServeRun::start, Qt::QueuedConnection);
        return app.exec();
    }
    DownloadRun run(manager, *options, stdout, stderr, ::isatty(STDOUT_FILENO) == 1);
    QObject::connect(&signals, &SignalWatcher::received, &run, [&run](int) { run.interrupt(); });
    QObject::connect(&run, &DownloadRun::done, &app, [](int status) { QCoreApplication::exit(status); });
    // Started from the event loop, so that an early end can already leave it.
    QMetaObject::invokeMethod(&run, &DownloadRun::start, Qt::QueuedConnection);
    return app.exec();
}
