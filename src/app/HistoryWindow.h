#pragma once

#include "HistoryRowDelegate.h"

#include <QWidget>

class AppSettings;
class DownloadManager;
class HistoryFilterModel;
class HistoryListModel;
class HistoryStore;
class QAction;
class QLabel;
class QLineEdit;
class QListView;
class QMenu;
class QStackedWidget;

// The single-instance history window; the shell keeps the one instance.
class HistoryWindow : public QWidget
{
    Q_OBJECT

public:
    HistoryWindow(DownloadManager &manager, AppSettings &settings, HistoryStore &history, QWidget *parent = nullptr);

    QListView *listView() const { return m_list; }
    HistoryFilterModel *filterModel() const { return m_filter; }
    void setSearchText(const QString &text);

    // The row's context menu (owned by the caller until shown); row is of the visible list.
    QMenu *contextMenuFor(int row);
    void copyLink(int row);
    void downloadAgain(int row);
    void removeEntry(int row);
    void reveal(int row);

protected:
    void changeEvent(QEvent *event) override;

private:
    void retranslate();
    void refresh();
    QString urlAt(int row) const;

    DownloadManager &m_manager;
    AppSettings &m_settings;
    HistoryStore &m_history;
    HistoryListModel *m_model;
    HistoryFilterModel *m_filter;
    HistoryRowDelegate *m_delegate;
    QListView *m_list;
    QStackedWidget *m_stack;
    QWidget *m_placeholder;
    QLabel *m_placeholderIcon;
    QLabel *m_placeholderTitle;
    QLabel *m_placeholderText;
    QLineEdit *m_search;
    QAction *m_clear;
    QString m_language;
};
