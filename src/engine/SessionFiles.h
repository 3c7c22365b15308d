#pragma once

#include "shared/BrowserSession.h"

#include <QString>

#include <memory>

// The files one engine run needs for a browser session, in a private folder of the
// temporary directory: "owner.pid", "headers.json" (read by the engine plug-in) and
// "cookies.txt" (read by the engine). The folder goes when the value goes.
class SessionFiles
{
public:
    // Throws the file or session error that stopped the creation; nothing is left behind.
    static std::shared_ptr<SessionFiles> create(const BrowserSession &session);
    ~SessionFiles();

    SessionFiles(const SessionFiles &) = delete;
    SessionFiles &operator=(const SessionFiles &) = delete;

    QString directory() const { return m_directory; }
    QString headersFile() const;
    QString cookiesFile() const;

    // Records the engine child as the owner; failures are ignored.
    void track(qint64 pid) const;
    // Deletes the folder; failures are ignored.
    void remove() const;

    // Deletes the session folders whose owner process no longer exists.
    static void cleanAbandoned();

    static constexpr QStringView folderPrefix = u"kestro-session-";

private:
    explicit SessionFiles(const QString &directory);

    QString m_directory;
};
