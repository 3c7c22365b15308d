#include "Notifications.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QHash>
#include <QStringList>
#include <QVariantMap>

#include <functional>

using namespace Qt::StringLiterals;

namespace {

const QString service = u"org.freedesktop.Notifications"_s;
const QString objectPath = u"/org/freedesktop/Notifications"_s;
const QString interface = u"org.freedesktop.Notifications"_s;

// Ids the daemon gave to our notifications, so that a repeated identifier replaces its bubble.
QHash<QString, uint> &shownIds()
{
    static QHash<QString, uint> ids;
    return ids;
}

QDBusMessage call(const QString &method)
{
    return QDBusMessage::createMethodCall(service, objectPath, interface, method);
}

// Runs onReply with a successful answer; errors (ServiceUnknown without a daemon) are dropped.
// The watcher belongs to the application object so that an unanswered call is not leaked.
void whenAnswered(const QDBusPendingCall &pending, std::function<void(const QDBusMessage &)> onReply)
{
    auto *watcher = new QDBusPendingCallWatcher(pending, QCoreApplication::instance());
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher,
                     [watcher, onReply = std::move(onReply)] {
                         watcher->deleteLater();
                         if (!watcher->isError())
                             onReply(watcher->reply());
                     });
}

// Daemons with "body-markup" read the body as markup; a title like "Tom & Jerry" must not be.
QString escapedMarkup(const QString &text)
{
    QString out = text;
    out.replace(u'&', u"&amp;"_s);
    out.replace(u'<', u"&lt;"_s);
    out.replace(u'>', u"&gt;"_s);
    return out;
}

void notify(QDBusConnection bus, const QString &title, const QString &body, const QString &identifier)
{
    const QVariantMap hints{
        {u"sound-name"_s, u"complete"_s},
        {u"desktop-entry"_s, u"brisvane-download"_s},
    };
    QDBusMessage message = call(u"Notify"_s);
    message << u"Brisvane Download"_s << shownIds().value(identifier, 0u) << QString() << title << body
            << QStringList() << hints << qint32(-1);
    whenAnswered(bus.asyncCall(message), [identifier](const QDBusMessage &reply) {
        const uint id = reply.arguments().value(0).toUInt();
        if (id == 0)
            return;
        // One entry per finished download; forget them all now and then rather than grow forever.
        if (shownIds().size() >= 512)
            shownIds().clear();
        shownIds().insert(identifier, id);
    });
}

} // namespace

namespace Notifications {

void requestPermission()
{
}

void post(const QString &title, const QString &body, const QString &identifier)
{
    // Answers are delivered by the event loop; without an application object there is none.
    if (!QCoreApplication::instance())
        return;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return;
    // Asking for the capabilities first also means nothing is sent when no daemon runs.
    whenAnswered(bus.asyncCall(call(u"GetCapabilities"_s)), [bus, title, body, identifier](const QDBusMessage &reply) {
        const bool markup = reply.arguments().value(0).toStringList().contains(u"body-markup"_s);
        notify(bus, title, markup ? escapedMarkup(body) : body, identifier);
    });
}

} // namespace Notifications
