#include "InstanceRequest.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

using namespace Qt::StringLiterals;

QByteArray InstanceRequest::encode() const
{
    const QJsonObject object{{u"urls"_s, QJsonArray::fromStringList(urls)}, {u"background"_s, background}};
    return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
}

std::optional<InstanceRequest> InstanceRequest::decode(const QByteArray &line)
{
    if (line.size() > maxBytes)
        return std::nullopt;
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(line, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    const QJsonObject object = document.object();
    const QJsonValue urls = object.value(u"urls"_s);
    const QJsonValue background = object.value(u"background"_s);
    if (object.size() != 2 || !urls.isArray() || !background.isBool())
        return std::nullopt;
    InstanceRequest request;
    request.background = background.toBool();
    for (const QJsonValue &url : urls.toArray()) {
        if (!url.isString())
            return std::nullopt;
        request.urls.append(url.toString());
    }
    return request;
}
