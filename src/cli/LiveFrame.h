#pragma once

#include <QList>
#include <QString>
#include <QStringList>

class DownloadItem;

// The lines of one live frame on a terminal: a bar and a status per item, oldest first.
// A frame never has more lines than the terminal has rows minus one, so moving the cursor back
// to its top never runs past the screen; when the items do not fit, the active ones come first
// and one last line counts the rest.
namespace LiveFrame {

QStringList lines(const QList<DownloadItem *> &items, int rows, int columns);

// The line of one item, cut to the columns (wide CJK characters count twice).
QString itemLine(const DownloadItem *item, int columns);

} // namespace LiveFrame
