#include "Bundle.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>

using namespace Qt::StringLiterals;

namespace {
constexpr qint64 maxInfoBytes = 64 * 1024;
}

Bundle::Bundle(const QString &path)
    : m_path(path.isEmpty() ? QString() : QDir::cleanPath(path))
{
    if (m_path.isEmpty())
        return;
    QFile file(contents() + u"/Info.json"_s);
    if (file.open(QIODevice::ReadOnly) && file.size() <= maxInfoBytes) {
        const QJsonDocument document = QJsonDocument::fromJson(file.read(maxInfoBytes));
        m_info = document.object();
    }
}

Bundle Bundle::main()
{
    // The helpers run without an application object; the kernel still knows the program.
    if (!QCoreApplication::instance())
        return containing(QFileInfo(u"/proc/self/exe"_s).canonicalFilePath());
    return containing(QCoreApplication::applicationFilePath());
}

Bundle Bundle::containing(const QString &programPath)
{
    const QDir programDir = QFileInfo(programPath).absoluteDir();
    const QString dirName = programDir.dirName();
    QDir contentsDir = programDir;
    if ((dirName != u"Linux"_s && dirName != u"Helpers"_s) || !contentsDir.cdUp()
        || contentsDir.dirName() != u"Contents"_s || !contentsDir.cdUp())
        return Bundle(QString());
    return Bundle(contentsDir.absolutePath());
}

QString Bundle::ofHelper(const QString &programPath)
{
    // An empty path would otherwise stand for the working folder.
    if (programPath.isEmpty())
        return QString();
    // A bare name means the program was found through PATH, not in the working folder.
    const QString program = programPath.contains(u'/') ? programPath : u"/proc/self/exe"_s;
    const QString resolved = QFileInfo(QFileInfo(program).absoluteFilePath()).canonicalFilePath();
    if (resolved.isEmpty())
        return QString();
    QString bundle = resolved;
    for (int i = 0; i < 3; ++i) {
        const qsizetype slash = bundle.lastIndexOf(u'/');
        if (slash <= 0)
            return QString();
        bundle.truncate(slash);
    }
    return bundle;
}

QString Bundle::contents() const
{
    return m_path + u"/Contents"_s;
}

QString Bundle::helpers() const
{
    return contents() + u"/Helpers"_s;
}

QString Bundle::resources() const
{
    return contents() + u"/Resources"_s;
}

QString Bundle::mainProgram() const
{
    return contents() + u"/Linux/Kestro"_s;
}

QJsonValue Bundle::infoValue(const QString &key) const
{
    return m_info.value(key);
}
