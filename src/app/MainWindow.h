#pragma once

#include <QMainWindow>

class AppSettings;
class DownloadManager;
class HistoryStore;

// The main window: toolbar, search, the download list and its alerts.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    MainWindow(DownloadManager &manager, AppSettings &settings, HistoryStore &history, QWidget *parent = nullptr);

Q_SIGNALS:
    // Emitted each time the window is shown; the shell runs its start-up task on it.
    void shown();
    // The user asked for the history window.
    void historyRequested();

protected:
    void showEvent(QShowEvent *event) override;

private:
    DownloadManager &m_manager;
    AppSettings &m_settings;
    HistoryStore &m_history;
};
