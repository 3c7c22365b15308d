#include "MainWindow.h"

#include "shared/L10n.h"

using namespace Qt::StringLiterals;

MainWindow::MainWindow(DownloadManager &manager, AppSettings &settings, HistoryStore &history, QWidget *parent)
    : QMainWindow(parent)
    , m_manager(manager)
    , m_settings(settings)
    , m_history(history)
{
    setWindowTitle(u"Brisvane Download"_s);
    resize(760, 560);
    setMinimumSize(640, 420);
}

void MainWindow::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    Q_EMIT shown();
}
