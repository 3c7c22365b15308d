#pragma once

#include "app/InstanceRequest.h"

#include <QStringList>

// The program's command line: `Kestro [--open] [--background] [URL…]`. Other arguments that
// start with "-" are left to Qt.
struct LaunchArguments
{
    // Only hand over, never become the instance (what the helpers and browsers ask for).
    bool open = false;
    InstanceRequest request;

    static LaunchArguments parse(const QStringList &arguments);
};
