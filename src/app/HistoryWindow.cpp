#include "HistoryWindow.h"

#include "shared/L10n.h"

using namespace Qt::StringLiterals;

HistoryWindow::HistoryWindow(DownloadManager &manager, AppSettings &settings, HistoryStore &history, QWidget *parent)
    : QWidget(parent, Qt::Window)
    , m_manager(manager)
    , m_settings(settings)
    , m_history(history)
{
    setWindowTitle(L10n::tr(u"历史记录"_s));
    resize(680, 520);
    setMinimumSize(560, 380);
}
