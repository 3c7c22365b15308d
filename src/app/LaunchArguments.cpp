#include "LaunchArguments.h"

using namespace Qt::StringLiterals;

LaunchArguments LaunchArguments::parse(const QStringList &arguments)
{
    LaunchArguments result;
    for (const QString &argument : arguments.mid(1)) {
        if (argument == u"--open"_s)
            result.open = true;
        else if (argument == u"--background"_s)
            result.request.background = true;
        else if (!argument.startsWith(u'-'))
            result.request.urls.append(argument);
    }
    return result;
}
