#pragma once

#include <QWidget>

class AppSettings;
class DownloadManager;
class HistoryStore;

// The single-instance history window; the shell keeps the one instance.
class HistoryWindow : public QWidget
{
    Q_OBJECT

public:
    HistoryWindow(DownloadManager &manager, AppSettings &settings, HistoryStore &history, QWidget *parent = nullptr);

private:
    DownloadManager &m_manager;
    AppSettings &m_settings;
    HistoryStore &m_history;
};
