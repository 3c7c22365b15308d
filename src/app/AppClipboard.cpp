#include "AppClipboard.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

AppClipboard::AppClipboard(QObject *parent)
    : QObject(parent)
{
    connect(QGuiApplication::clipboard(), &QClipboard::dataChanged, this, [this] { ++m_changes; });
}

std::optional<QString> AppClipboard::text() const
{
    const QMimeData *data = QGuiApplication::clipboard()->mimeData();
    if (!data || !data->hasText())
        return std::nullopt;
    return data->text();
}
