#include "BrowserTransfer.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QJsonValue>

using namespace Qt::StringLiterals;

namespace {

QString stringMember(const QJsonObject &object, const QString &key)
{
    const auto it = object.constFind(key);
    if (it == object.constEnd())
        throw DecodingError(u"Missing key \"%1\""_s.arg(key));
    if (!it.value().isString())
        throw DecodingError(u"Wrong type at \"%1\": expected a string"_s.arg(key));
    return it.value().toString();
}

} // namespace

BrowserTransfer BrowserTransfer::decode(const QByteArray &data)
{
    // Checked before parsing, so an oversized message costs no parse.
    if (data.size() > maxBytes)
        throw BrowserSession::SessionError::invalid();

    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(data, &error);
    if (error.error != QJsonParseError::NoError)
        throw DecodingError(error.errorString());
    if (!document.isObject())
        throw DecodingError(u"Wrong type at the top level: expected an object"_s);
    const QJsonObject object = document.object();

    BrowserTransfer transfer;
    transfer.url = stringMember(object, u"url"_s);
    transfer.page = stringMember(object, u"page"_s);
    const QJsonValue title = object.value(u"title"_s);
    if (title.isString())
        transfer.title = title.toString();
    else if (!title.isUndefined() && !title.isNull())
        throw DecodingError(u"Wrong type at \"title\": expected a string or null"_s);
    const auto session = object.constFind(u"session"_s);
    if (session == object.constEnd())
        throw DecodingError(u"Missing key \"session\""_s);
    if (!session.value().isObject())
        throw DecodingError(u"Wrong type at \"session\": expected an object"_s);
    transfer.session = BrowserSession::fromJson(session.value().toObject());

    if (transfer.title && !BrowserSession::text(*transfer.title, maxTitleBytes))
        throw BrowserSession::SessionError::invalid();
    // Also checks that url and page are acceptable web links.
    transfer.session.validate(transfer.url, transfer.page);
    return transfer;
}

QByteArray BrowserTransfer::toJson() const
{
    QJsonObject object{
        {u"url"_s, url},
        {u"page"_s, page},
        {u"session"_s, session.toJsonObject()},
    };
    if (title)
        object.insert(u"title"_s, *title);
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}
