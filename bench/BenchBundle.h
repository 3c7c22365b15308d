#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>
#include <vector>

class AppSettings;
class DownloadManager;
class HistoryStore;
class YtDlpService;

// A scratch home with a bundle whose engine is the given script, and a queue on top of it.
// Create it before the QCoreApplication: it points HOME and the XDG folders at the scratch.
class BenchBundle
{
public:
    explicit BenchBundle(const QByteArray &engineScript);
    ~BenchBundle();

    // Builds the queue (after the QCoreApplication exists) and waits for the engine check.
    DownloadManager &manager(int maxConcurrent);
    // The queue's settings and history, once manager() has made them.
    AppSettings &settings() { return *m_settings; }
    HistoryStore &history() { return *m_history; }
    QString outputDir() const { return m_scratch.path() + QStringLiteral("/out"); }

private:
    QTemporaryDir m_scratch;
    std::unique_ptr<YtDlpService> m_service;
    std::unique_ptr<AppSettings> m_settings;
    std::unique_ptr<HistoryStore> m_history;
    std::unique_ptr<DownloadManager> m_manager;
};

// Resident memory of this process in KiB (VmRSS).
qint64 residentKiB();
// CPU time of the calling thread in seconds.
double threadCpuSeconds();
double median(std::vector<double> values);

// Runs this program again `runs` times with `arguments` (one measurement per fresh process, so
// memory figures start alike) and returns the "name=value" figures each run printed on its
// last line.
std::vector<QHash<QString, double>> runMeasurements(int runs, const QStringList &arguments);
