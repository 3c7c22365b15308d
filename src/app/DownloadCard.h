#pragma once

#include "queue/DownloadStatus.h"

#include <QColor>
#include <QList>
#include <QString>

class DownloadItem;

// What a download card offers for an item: its buttons, its context menu and its texts.
// Kept apart from painting so that the rules per status can be read and tested at once.
namespace DownloadCard {

enum class Action {
    pause,
    resume,
    cancel,
    retry,
    remove,
    showDetails,
    play,
    reveal,
    copyLink,
};

struct Button
{
    Action action;
    QString symbol;
    QString help;   // tooltip and accessible name
    qreal opacity;  // of the white icon
    bool operator==(const Button &) const = default;
};

struct MenuEntry
{
    Action action;
    QString text;
    bool destructive = false;
    bool separatorBefore = false;
    bool operator==(const MenuEntry &) const = default;
};

// The header's control buttons, left to right.
QList<Button> headerButtons(const DownloadItem &item);
// The buttons after the status text: "错误详情" for a failure, play and reveal for a finished file.
QList<Button> statusButtons(const DownloadItem &item);
// The context menu in order.
QList<MenuEntry> menuEntries(const DownloadItem &item);

// Site, format, resolution, size and playlist place joined with " - ".
QString summaryLine(const DownloadItem &item);
// Symbol of the status icon; empty where a spinner is shown.
QString statusSymbol(DownloadStatus status);
QColor statusColor(DownloadStatus status);
QColor progressTint(DownloadStatus status, const QColor &accent);
// The bar moves without a value while the size of the download is unknown.
bool progressIndeterminate(const DownloadItem &item);
// Something on the card moves (spinner, indeterminate bar) and needs regular repaints.
bool animates(const DownloadItem &item);

// The failure text shown in the details dialog and the one it copies.
QString detailsText(const DownloadItem &item);
QString detailsToCopy(const DownloadItem &item);

} // namespace DownloadCard
