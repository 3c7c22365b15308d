#pragma once

#include <QByteArray>
#include <QtEndian>

// Requests as the browser frames them.
namespace HostMessages {

inline const QByteArray transfer =
    R"({"url":"https://video.example.com/watch?v=1","page":"https://video.example.com/page","title":"A clip",)"
    R"("session":{"cookies":[{"name":"sid","value":"abc123","domain":".example.com","path":"/","secure":true,)"
    R"("hostOnly":false}],"requests":[{"url":"https://video.example.com/watch?v=1",)"
    R"("headers":{"Referer":"https://video.example.com/page"}}]}})";

inline QByteArray prefix(quint32 length)
{
    const quint32 little = qToLittleEndian(length);
    return QByteArray(reinterpret_cast<const char *>(&little), 4);
}

inline QByteArray framed(const QByteArray &message)
{
    return prefix(quint32(message.size())) + message;
}

// The transfer padded with an unknown member to exactly `size` bytes.
inline QByteArray transferOfSize(qsizetype size)
{
    QByteArray text = transfer;
    text.insert(1, "\"pad\":\"\",");
    text.insert(8, QByteArray(size - text.size(), 'p'));
    return text;
}

} // namespace HostMessages
