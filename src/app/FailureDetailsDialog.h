#pragma once

#include <QDialog>
#include <QPointer>

class DownloadItem;
class QPlainTextEdit;

// The sheet that shows why a download failed, with the recent engine log, and copies it.
class FailureDetailsDialog : public QDialog
{
    Q_OBJECT

public:
    FailureDetailsDialog(DownloadItem &item, QWidget *parent);

    QString shownText() const;

private:
    void copy();

    QPointer<DownloadItem> m_item;
    QPlainTextEdit *m_text;
};
