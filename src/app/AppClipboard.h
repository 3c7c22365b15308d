#pragma once

#include "queue/ClipboardSource.h"

#include <QObject>

// The desktop clipboard as the queue's clipboard watch sees it: the counter grows on every
// change the system reports, so a poll never has to read the contents to notice a new copy.
class AppClipboard : public QObject, public ClipboardSource
{
    Q_OBJECT

public:
    explicit AppClipboard(QObject *parent = nullptr);

    quint64 changeCount() const override { return m_changes; }
    std::optional<QString> text() const override;

private:
    quint64 m_changes = 0;
};
