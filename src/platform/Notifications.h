#pragma once

#include <QString>

// Desktop notifications through the freedesktop notification service on the session bus.
namespace Notifications {

// The desktop asks the user nothing before a program may notify, so there is nothing to do.
void requestPermission();

// Shows a notification at once with the "complete" sound. Never waits for the service: no
// session bus, no notification daemon or a refused call are all silently ignored. A second
// post with the same identifier replaces the first one's bubble where the daemon allows it.
// Main thread only; the answers arrive through its event loop.
void post(const QString &title, const QString &body, const QString &identifier);

} // namespace Notifications
