#pragma once

#include "engine/YtDlpService.h"
#include "queue/DownloadManager.h"
#include "store/AppSettings.h"
#include "store/HistoryStore.h"
#include "EngineDouble.h"
#include "TestEnvironment.h"
#include "TestHttpServer.h"

#include <gtest/gtest.h>

#include <memory>

// A queue on the engine double, fetching from a local server, with its own settings and history.
class QueueFixture : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;

    // Creates the manager and waits for its engine check.
    void startManager(bool expectReady = true);
    DownloadItem *itemWithUrl(const QString &url) const;
    int countWithStatus(DownloadStatus status) const;
    // Waits until no item is analysing any more.
    bool waitForAnalyses();
    QList<QJsonObject> engineStarts() const { return EngineDouble::starts(startLog); }

    QString bundle;
    QString output;
    QString startLog;
    TestHttpServer server;
    std::unique_ptr<AppSettings> settings;
    std::unique_ptr<HistoryStore> history;
    std::unique_ptr<YtDlpService> service;
    std::unique_ptr<DownloadManager> manager;
};
