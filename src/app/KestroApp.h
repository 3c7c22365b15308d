#pragma once

#include "app/InstanceRequest.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <memory>
#include <optional>

class AppClipboard;
class AppSettings;
class DownloadManager;
class HistoryStore;
class HistoryWindow;
class MainWindow;
class QAction;
class QMenu;
class QMessageBox;

// The window application's shell: holds the main window, the one history window and the
// shell's menus, runs the start-up task when the main window shows, and handles the "kestro:"
// URLs that reach the application. Main thread only.
class KestroApp : public QObject
{
    Q_OBJECT

public:
    KestroApp(DownloadManager &manager, AppSettings &settings, HistoryStore &history, QObject *parent = nullptr);
    ~KestroApp() override;

    // The bundle the browser registration names (the running program's by default).
    void setBundlePath(const QString &path) { m_bundlePath = path; }

    // Shows the main window; in the background it does not take the focus.
    void showMainWindow(bool background);
    // A request from a later start of the program: its URLs in order, then the window comes to
    // the front unless the request is for the background.
    void handle(const InstanceRequest &request);
    // One URL opened with the application. Without `background`, a URL that asks for it
    // brings the application to the front.
    void openURL(const QString &url, bool background = false);

    void pasteAndDownload();
    void togglePauseAll();
    void openHistory();
    // Cleans the browser inbox, renews the browser registration and starts answering agents.
    void runStartupTask();

    MainWindow &mainWindow() const { return *m_mainWindow; }
    HistoryWindow *historyWindow() const;
    QAction *pasteAction() const { return m_pasteAction; }
    QAction *pauseAction() const { return m_pauseAction; }
    QAction *historyAction() const { return m_historyAction; }
    QMenu *viewMenu() const { return m_viewMenu; }

    // The alerts' state; each alert is shown while its state is set and clears it when closed.
    bool invalidBrowserLink() const { return m_invalidBrowserLink; }
    std::optional<QString> browserConnectionMessage() const { return m_browserConnectionMessage; }
    QMessageBox *invalidLinkAlert() const;
    QMessageBox *connectionAlert() const;

    // How often the application was brought to the front.
    int activations() const { return m_activations; }

private:
    void buildMenus();
    void translateMenus();
    void updatePauseTitle();
    void activate();
    void showInvalidLinkAlert();
    void showConnectionAlert(const QString &message);
    QMessageBox *makeAlert(const QString &title, const QString &message);

    DownloadManager &m_manager;
    AppSettings &m_settings;
    HistoryStore &m_history;
    QString m_bundlePath;
    std::unique_ptr<AppClipboard> m_clipboard;
    std::unique_ptr<MainWindow> m_mainWindow;
    QPointer<HistoryWindow> m_historyWindow;

    QMenu *m_editMenu = nullptr;
    QMenu *m_viewMenu = nullptr;
    QMenu *m_windowMenu = nullptr;
    QAction *m_pasteAction = nullptr;
    QAction *m_pauseAction = nullptr;
    QAction *m_historyAction = nullptr;

    bool m_invalidBrowserLink = false;
    std::optional<QString> m_browserConnectionMessage;
    QPointer<QMessageBox> m_invalidLinkAlert;
    QPointer<QMessageBox> m_connectionAlert;
    int m_activations = 0;
};
