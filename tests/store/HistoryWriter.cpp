// A second program writing the same history: "HistoryWriter PATH COUNT TAG" loads the file,
// prints "ready", waits for a line on standard input, then adds COUNT entries titled TAG-<n>.
#include "store/HistoryStore.h"

#include <QCoreApplication>
#include <QDateTime>

#include <cstdio>
#include <iostream>
#include <string>

using namespace Qt::StringLiterals;

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    if (arguments.size() != 4)
        return 2;
    HistoryStore store(arguments.at(1));
    std::cout << "ready" << std::endl;
    std::string go;
    if (!std::getline(std::cin, go))
        return 3;
    const int count = arguments.at(2).toInt();
    const QDateTime finishedAt = QDateTime::currentDateTimeUtc();
    for (int n = 0; n < count; ++n) {
        HistoryEntry entry;
        entry.id = QUuid::createUuid();
        entry.url = u"https://video.example/"_s + arguments.at(3) + u'/' + QString::number(n);
        entry.title = arguments.at(3) + u'-' + QString::number(n);
        entry.ext = u"MP4"_s;
        entry.finishedAt = finishedAt;
        store.add(entry);
    }
    return 0;
}
