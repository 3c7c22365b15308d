#pragma once

#include "app/KestroApp.h"
#include "engine/YtDlpService.h"
#include "queue/DownloadManager.h"
#include "store/AppSettings.h"
#include "store/HistoryStore.h"
#include "EngineDouble.h"
#include "TestEnvironment.h"
#include "TestHttpServer.h"

#include <gtest/gtest.h>

#include <memory>

// The shell in this process, over a queue on the engine double with its own settings and
// history. The main window is not shown unless a test shows it.
class ShellFixture : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;

    QString bundle;
    QString output;
    TestHttpServer server;
    std::unique_ptr<AppSettings> settings;
    std::unique_ptr<HistoryStore> history;
    std::unique_ptr<YtDlpService> service;
    std::unique_ptr<DownloadManager> manager;
    std::unique_ptr<KestroApp> shell;
};
