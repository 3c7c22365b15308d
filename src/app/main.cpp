// The desktop application. One instance runs per user; a later start hands its links over.
#include "app/DesktopIntegration.h"
#include "app/FirstPaintProbe.h"
#include "app/InstanceClient.h"
#include "app/InstanceLock.h"
#include "app/KestroApp.h"
#include "app/LaunchArguments.h"
#include "app/MainWindow.h"
#include "app/SingleInstance.h"
#include "platform/Bundle.h"
#include "platform/SignalWatcher.h"
#include "queue/DownloadManager.h"
#include "store/AppSettings.h"
#include "store/HistoryStore.h"

#include <QApplication>
#include <QFile>
#include <QIcon>

using namespace Qt::StringLiterals;

namespace {

// Long enough for a cold start of the instance on a busy machine; the helpers wait longer.
constexpr int handoverTimeoutMs = 60000;

int handOver(int argc, char **argv, const InstanceRequest &request)
{
    // No window and no display needed: a helper may call this from a terminal session.
    QCoreApplication core(argc, argv);
    return InstanceClient::open(request, QCoreApplication::applicationFilePath(), handoverTimeoutMs) ? 0 : 1;
}

} // namespace

int main(int argc, char **argv)
{
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QFile::decodeName(argv[i]));
    const LaunchArguments launch = LaunchArguments::parse(arguments);
    if (launch.open)
        return handOver(argc, argv, launch.request);
    // The lock decides before any window exists: a second plain start hands over and ends.
    InstanceLock lock;
    if (!lock.acquire())
        return handOver(argc, argv, launch.request);

    QApplication app(argc, argv);
    QApplication::setApplicationName(u"Brisvane Download"_s);
    QApplication::setDesktopFileName(u"brisvane-download"_s);
    QApplication::setWindowIcon(QIcon(u":/icons/brisvane-download.svg"_s));

    SingleInstance instance(std::move(lock));
    if (!instance.listen())
        return 1;
    const QString program = Bundle::main().isValid() ? Bundle::main().mainProgram() : QCoreApplication::applicationFilePath();
    DesktopIntegration::install(program);

    KestroApp shell(DownloadManager::shared(), AppSettings::shared(), HistoryStore::shared());
    QObject::connect(&instance, &SingleInstance::received, &shell, &KestroApp::handle);
    SignalWatcher stopSignals;
    QObject::connect(&stopSignals, &SignalWatcher::received, &app, [] { QCoreApplication::quit(); });

    FirstPaintProbe::installIfAsked(&shell.mainWindow());
    shell.showMainWindow(launch.request.background);
    for (const QString &url : launch.request.urls)
        shell.openURL(url, launch.request.background);
    return app.exec();
}
