#pragma once

#include <QByteArray>
#include <QHash>
#include <QSslCertificate>
#include <QSslKey>
#include <QString>
#include <QTcpServer>

// A small HTTPS/1.1 server on 127.0.0.1 with a certificate made for the test run (through the
// openssl command). Every answer closes its connection.
class TestTlsServer : public QTcpServer
{
    Q_OBJECT
public:
    struct Route
    {
        int status = 200;
        QByteArray body;
        QString file;      // sent instead of body when set
        int delayMs = 0;   // answer this much later
    };

    // Makes the certificate and listens; false when either fails.
    bool start();
    QSslCertificate certificate() const { return m_certificate; }
    QString url(const QString &path) const;

    void setRoute(const QString &path, const Route &route) { m_routes.insert(path, route); }
    int requestCount(const QString &path) const { return m_counts.value(path); }

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    QSslCertificate m_certificate;
    QSslKey m_key;
    QHash<QString, Route> m_routes;
    QHash<QString, int> m_counts;
};
