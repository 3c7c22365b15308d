#pragma once

#include <QDialog>

class AppSettings;
class DownloadManager;
class QComboBox;
class QPlainTextEdit;
class QPushButton;

// The sheet for typing or pasting links, one per line, with the quality to use. The chosen
// quality becomes the default for later downloads.
class AddDownloadDialog : public QDialog
{
    Q_OBJECT

public:
    AddDownloadDialog(DownloadManager &manager, AppSettings &settings, QWidget *parent);

    // Lines that, trimmed of spaces and tabs, start with "http".
    static int urlCount(const QString &text);

    QString text() const;
    void setText(const QString &text);
    int quality() const { return m_quality; }
    void setQuality(int quality);
    bool canStart() const;

    void fillFromClipboard();
    void startDownload();

private:
    void updateEnabled();

    DownloadManager &m_manager;
    AppSettings &m_settings;
    QPlainTextEdit *m_editor;
    QComboBox *m_qualities;
    QPushButton *m_start;
    int m_quality = 1080;
};
