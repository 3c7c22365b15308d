#pragma once

#include "shared/Error.h"

#include <QJsonObject>
#include <QJsonValue>
#include <QString>

class AgentBridgeLoop;
class DownloadItem;
class DownloadManager;

// The application's side of the agent exchange: answers the request files that the MCP
// server drops into the exchange directory, through the download queue. Main thread only.
class AgentBridge
{
public:
    class AgentError : public Error
    {
    public:
        enum class Code { invalidURL, notQueued, notFound, unknownAction };

        explicit AgentError(Code code) : m_code(code) {}
        Code code() const { return m_code; }
        QString description() const override;

    private:
        Code m_code;
    };

    static constexpr int passIntervalMs = 250;
    static constexpr int listLimit = 50;
    static constexpr int staleResponseSeconds = 300;

    // Starts answering requests once; later calls do nothing while the loop runs.
    static void start(DownloadManager &manager);
    static void start();
    // The running loop, or null.
    static AgentBridgeLoop *worker();

    // One pass over the exchange directory: answers and deletes every request file named by a
    // UUID, and removes answers nobody collected within five minutes. Never throws.
    static void processRequests(DownloadManager &manager, const QString &directory);
    static void processRequests();

    // The result of one request, and how many queue items a list left out so that the answer
    // stays within the server's read limit (AgentWire::responseReadLimit).
    struct Answer
    {
        QJsonValue result;
        qsizetype omitted = 0;
    };

    // The result of one decoded request (an object or an array), or throws AgentError.
    static QJsonValue handle(const QJsonObject &request, DownloadManager &manager);
    // The same with the count of left-out items. A list holds the first items of the queue
    // (the newest) up to 50, stopping before the first one that would overflow the answer.
    static Answer respond(const QJsonObject &request, DownloadManager &manager);
    static QJsonObject snapshot(const DownloadItem &item);

private:
    static void answer(const QString &requestPath, const QString &responsePath, DownloadManager &manager);
};
