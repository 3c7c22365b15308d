#pragma once

#include "DownloadCard.h"

#include <QList>
#include <QMainWindow>
#include <QPointer>
#include <QStringList>
#include <QTimer>

#include <optional>

class AppSettings;
class DownloadCardDelegate;
class DownloadFilterModel;
class DownloadItem;
class DownloadListModel;
class DownloadListView;
class DownloadManager;
class EmptyStateView;
class HistoryStore;
class QAction;
class QLabel;
class QLineEdit;
class QMenu;
class QMessageBox;
class QMimeData;
class QPushButton;
class QStackedWidget;
class ThumbnailCache;
class UpdateManager;

// The main window: toolbar, search, the download list and its alerts.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    MainWindow(DownloadManager &manager, AppSettings &settings, HistoryStore &history, QWidget *parent = nullptr);
    ~MainWindow() override;

    // The update state shown by the bar and the launch alert; UpdateManager::shared() unless
    // set before the window is first shown.
    void setUpdateManager(UpdateManager *updates);

    // Splits the clipboard text at line breaks and queues the pieces; nothing without text.
    void pasteFromClipboard();
    void showAddSheet();
    // Links of a drop, one list per manager.add call, in the order they would be added.
    static QList<QStringList> dropBatches(const QMimeData &data);
    void handleDrop(const QMimeData &data);

    // Does what a card button, menu entry or key asks for the item.
    void perform(DownloadCard::Action action, DownloadItem *item);
    // The card's context menu (owned by the caller until shown).
    QMenu *contextMenuFor(DownloadItem *item);

    DownloadListView *listView() const { return m_list; }
    DownloadListModel *listModel() const { return m_model; }
    DownloadFilterModel *filterModel() const { return m_filter; }
    bool isDropTargeted() const { return m_dropTargeted; }

Q_SIGNALS:
    // Emitted each time the window is shown; the shell runs its start-up task on it.
    void shown();
    // The user asked for the history window.
    void historyRequested();

protected:
    void showEvent(QShowEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dragLeaveEvent(QDragLeaveEvent *event) override;
    void dropEvent(QDropEvent *event) override;
    void changeEvent(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildToolbar();
    QWidget *buildUpdateBar();
    QWidget *buildEngineBanner();
    void retranslate();
    void updateIcons();
    // Toolbar, banners and alerts follow the manager, collected so that progress lines cost
    // nothing here.
    void scheduleRefresh();
    void refresh();
    void refreshUpdates();
    void placeOverlays();
    void setDropTargeted(bool targeted);
    void play(const QString &path);
    void showCleanupAlert();
    void showUpdateAlert();
    void runLaunchCheck();

    DownloadManager &m_manager;
    AppSettings &m_settings;
    HistoryStore &m_history;
    UpdateManager *m_updates = nullptr;
    ThumbnailCache &m_thumbnails;

    DownloadListModel *m_model;
    DownloadFilterModel *m_filter;
    DownloadCardDelegate *m_delegate;
    DownloadListView *m_list;
    EmptyStateView *m_empty;
    QStackedWidget *m_stack;
    QWidget *m_dropOutline;
    QWidget *m_updateBar = nullptr;
    QLabel *m_updateIcon = nullptr;
    QLabel *m_updateText = nullptr;
    QPushButton *m_updateButton = nullptr;
    QWidget *m_engineBanner = nullptr;
    QLabel *m_engineIcon = nullptr;
    QLabel *m_engineText = nullptr;
    QPushButton *m_engineButton = nullptr;

    QAction *m_pasteAction = nullptr;
    QAction *m_addAction = nullptr;
    QAction *m_pauseAllAction = nullptr;
    QAction *m_clearAction = nullptr;
    QAction *m_historyAction = nullptr;
    QLineEdit *m_search = nullptr;

    QTimer m_refreshTimer;
    QString m_language;
    bool m_dropTargeted = false;
    bool m_launchCheckDone = false;
    std::optional<bool> m_watchClipboard; // as last handed to the queue

    QPointer<QMessageBox> m_cleanupAlert;
    QPointer<QMessageBox> m_updateAlert;
};
