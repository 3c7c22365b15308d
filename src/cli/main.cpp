// kestro-dl: the download queue of Brisvane Download without a window.
#include "cli/CommandLineOptions.h"
#include "cli/DownloadRun.h"
#include "cli/OutputStream.h"
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
#include <cstdlib>
#include <unistd.h>

using namespace Qt::StringLiterals;

int main(int argc, char **argv)
{
    // A reader that goes away (`| head`) must not kill a download that is about to be published.
    ::signal(SIGPIPE, SIG_IGN);
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(u"kestro-dl"_s);
    OutputStream out(STDOUT_FILENO);
    OutputStream err(STDERR_FILENO);

    QString error;
    std::optional<CommandLineOptions> options;
    if (const std::optional<QStringList> arguments = CommandLineOptions::decodeArguments(argc, argv, &error))
        options = CommandLineOptions::parse(*arguments, QDir::currentPath(), &error);
    if (!options) {
        err.write((u"kestro-dl: "_s + error + u"\n\n"_s + CommandLineOptions::usage()).toUtf8());
        return DownloadRun::badArguments;
    }
    if (options->help) {
        out.write(CommandLineOptions::usage().toUtf8());
        return 0;
    }

    // The stored settings are read, never reset or changed, so a running window application is
    // not disturbed; the values that only last for one run of the application are the defaults.
    // Watched before the manager boots the engine, so an early Ctrl-C is never the default death.
    SignalWatcher signals;
    AppSettings settings(nullptr, AppSettings::Start::perRunDefaults);
    DownloadManager manager(YtDlpService::shared(), settings, HistoryStore::shared());
    if (options->serve) {
        ServeRun serve(manager, *options, stderr);
        QObject::connect(&signals, &SignalWatcher::received, &serve, [&serve](int) { serve.stop(); });
        QObject::connect(&serve, &ServeRun::done, &app, [](int status) { QCoreApplication::exit(status); });
        QMetaObject::invokeMethod(&serve, &ServeRun::start, Qt::QueuedConnection);
        return app.exec();
    }
    DownloadRun run(manager, *options, out, err, ::isatty(STDOUT_FILENO) == 1);
    QObject::connect(&signals, &SignalWatcher::received, &run, [&run](int signalNumber) { run.interrupt(signalNumber); });
    QObject::connect(&run, &DownloadRun::done, &app, [&run](int status) {
        // Given up on engines that would not stop: nothing is left to wait for or to save.
        if (run.abandoned())
            std::_Exit(status);
        QCoreApplication::exit(status);
    });
    // Started from the event loop, so that an early end can already leave it.
    QMetaObject::invokeMethod(&run, &DownloadRun::start, Qt::QueuedConnection);
    return app.exec();
}
