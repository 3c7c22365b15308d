#include "Launcher.h"

#include <QProcess>

using namespace Qt::StringLiterals;

namespace Launcher {

Result open(const QString &bundlePath, const QStringList &arguments, int timeoutMs)
{
    QString program = qEnvironmentVariable("KESTRO_OPEN_COMMAND");
    if (program.isEmpty()) {
        if (bundlePath.isEmpty())
            return {Outcome::notStarted, u"The application bundle was not found."_s};
        program = bundlePath + u"/Contents/Linux/Kestro"_s;
    }
    QProcess process;
    process.setProgram(program);
    process.setArguments(QStringList{u"--open"_s} + arguments);
    // The caller's pipes belong to its peer; the launcher gets neither them nor a place to write.
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    process.start();
    if (!process.waitForStarted(-1))
        return {Outcome::notStarted, process.errorString()};
    // A launcher that hangs must not keep the caller waiting forever.
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished(-1);
        return {Outcome::failed, {}};
    }
    const bool opened = process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    return {opened ? Outcome::opened : Outcome::failed, {}};
}

} // namespace Launcher
