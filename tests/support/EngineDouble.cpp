#include "EngineDouble.h"

#include "TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QUuid>

namespace {

void writeExecutable(const QString &path, const QByteArray &content)
{
    TestEnvironment::writeFile(path, content);
    QFile::setPermissions(path, QFile::permissions(path) | QFile::ExeOwner | QFile::ExeGroup | QFile::ExeOther);
}

} // namespace

namespace EngineDouble {

QString scriptPath()
{
    return QStringLiteral(KESTRO_TEST_SUPPORT_DIR "/fake-yt-dlp");
}

QString makeBundle(const QString &bundleDir)
{
    const QString contents = bundleDir + QStringLiteral("/Contents");
    const QString helpers = contents + QStringLiteral("/Helpers");
    QFile script(scriptPath());
    if (!script.open(QIODevice::ReadOnly))
        qFatal("cannot read %s", qPrintable(scriptPath()));
    // A real copy, so that a test can change its time stamp or replace it.
    writeExecutable(helpers + QStringLiteral("/yt-dlp"), script.readAll());
    for (const char *tool : {"ffmpeg", "ffprobe", "deno"})
        writeExecutable(helpers + QLatin1Char('/') + QLatin1String(tool), QByteArrayLiteral("#!/bin/sh\nexit 0\n"));
    TestEnvironment::writeFile(contents + QStringLiteral("/Info.json"),
                               QByteArrayLiteral("{\"CFBundleVersion\":\"7\",\"CFBundleShortVersionString\":\"1.0.0\"}\n"));
    if (!QDir().mkpath(contents + QStringLiteral("/Resources/EnginePlugins")))
        qFatal("cannot create the plug-in folder below %s", qPrintable(contents));
    return helpers;
}

QString enableStartLog()
{
    const QString path = TestEnvironment::root() + QStringLiteral("/engine-starts-")
                         + QUuid::createUuid().toString(QUuid::WithoutBraces) + QStringLiteral(".jsonl");
    TestEnvironment::writeFile(path, {});
    qputenv("FAKE_YTDLP_START_LOG", QFile::encodeName(path));
    return path;
}

QList<QJsonObject> starts(const QString &logPath)
{
    QList<QJsonObject> records;
    QFile file(logPath);
    if (!file.open(QIODevice::ReadOnly))
        return records;
    const QList<QByteArray> lines = file.readAll().split('\n');
    for (const QByteArray &line : lines) {
        if (line.isEmpty())
            continue;
        QJsonParseError error;
        const QJsonDocument document = QJsonDocument::fromJson(line, &error);
        if (!document.isObject())
            qFatal("bad start record in %s: %s", qPrintable(logPath), qPrintable(error.errorString()));
        records.append(document.object());
    }
    return records;
}

QStringList arguments(const QJsonObject &start)
{
    QStringList list;
    const QJsonArray argv = start.value(QStringLiteral("argv")).toArray();
    for (const QJsonValue &value : argv)
        list.append(value.toString());
    return list;
}

} // namespace EngineDouble
