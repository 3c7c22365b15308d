#pragma once

#include "TestEnvironment.h"

#include <QFile>
#include <QFileInfo>
#include <QStringList>

// A stand-in application that writes its arguments, one a line, to a record file.
struct ArgumentRecorder
{
    QString program;
    QString record;

    explicit ArgumentRecorder(const QString &name, int exitCode = 0)
    {
        using namespace Qt::StringLiterals;
        const QString folder = TestEnvironment::makeDirectory(u"apps"_s);
        record = folder + u'/' + name + u".args"_s;
        program = TestEnvironment::writeFile(
            folder + u'/' + name,
            "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > '" + record.toUtf8() + ".tmp'\n"
                "mv '" + record.toUtf8() + ".tmp' '" + record.toUtf8() + "'\nexit " + QByteArray::number(exitCode) + "\n");
        QFile::setPermissions(program, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    bool called() const { return QFileInfo::exists(record); }

    QStringList arguments() const
    {
        QFile file(record);
        if (!file.open(QIODevice::ReadOnly))
            return {};
        QString text = QString::fromUtf8(file.readAll());
        text.chop(1);
        return text.split(u'\n');
    }
};
