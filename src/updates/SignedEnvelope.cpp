#include "SignedEnvelope.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

using namespace Qt::StringLiterals;

std::optional<SignedEnvelope> SignedEnvelope::decode(const QByteArray &body)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    const QJsonObject object = document.object();
    const QJsonValue payload = object.value(u"payload"_s);
    const QJsonValue signature = object.value(u"signature"_s);
    if (!payload.isString() || !signature.isString())
        return std::nullopt;
    return SignedEnvelope{payload.toString(), signature.toString()};
}

QByteArray SignedEnvelope::encode() const
{
    return QJsonDocument(QJsonObject{{u"payload"_s, payload}, {u"signature"_s, signature}})
        .toJson(QJsonDocument::Compact);
}

std::optional<QByteArray> SignedEnvelope::base64UrlDecode(const QString &text)
{
    static const QRegularExpression pattern(u"^[A-Za-z0-9_-]+\\z"_s);
    // One leftover character cannot hold a whole byte.
    if (!pattern.match(text).hasMatch() || text.size() % 4 == 1)
        return std::nullopt;
    QByteArray padded = text.toLatin1();
    while (padded.size() % 4 != 0)
        padded.append('=');
    auto result = QByteArray::fromBase64Encoding(
        padded, QByteArray::Base64UrlEncoding | QByteArray::AbortOnBase64DecodingErrors);
    if (!result)
        return std::nullopt;
    return result.decoded;
}

QString SignedEnvelope::base64UrlEncode(const QByteArray &bytes)
{
    return QString::fromLatin1(
        bytes.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals));
}
