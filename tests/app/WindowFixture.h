#pragma once

#include "engine/YtDlpService.h"
#include "queue/DownloadManager.h"
#include "store/AppSettings.h"
#include "store/HistoryStore.h"
#include "TestEnvironment.h"

#include <gtest/gtest.h>

#include <memory>

// A queue whose engine is missing, so nothing runs by itself: tests put items into the
// states they need and drive the windows offscreen.
class WindowFixture : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;

    // Queues one link and puts its item into status once its analysis has given up.
    DownloadItem *addItem(const QString &url, DownloadStatus status, const QString &title = QString());

    std::unique_ptr<AppSettings> settings;
    std::unique_ptr<HistoryStore> history;
    std::unique_ptr<YtDlpService> service;
    std::unique_ptr<DownloadManager> manager;
};
