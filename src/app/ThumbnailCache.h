#pragma once

#include <QCache>
#include <QHash>
#include <QImage>
#include <QObject>
#include <QSet>
#include <QSize>
#include <QUrl>

class QNetworkAccessManager;
class QNetworkReply;

// Thumbnails in memory for the whole process. Each URL is fetched once while its image is
// kept (a failed fetch is not retried), and the card background made from it (blurred and
// darkened) is made once per size, never while painting.
class ThumbnailCache : public QObject
{
    Q_OBJECT

public:
    // Decoded images larger than this are scaled down before they are kept.
    static constexpr int maxKeptWidth = 960;

    // network: the process's HTTP session (not owned); a private one when null.
    explicit ThumbnailCache(QNetworkAccessManager *network = nullptr, QObject *parent = nullptr);

    // The process-wide instance, made on first use.
    static ThumbnailCache &shared();

    // The cached image, or a null image.
    QImage image(const QUrl &url) const;
    void store(const QImage &image, const QUrl &url);

    // The image when cached; otherwise starts its fetch (once) and returns a null image.
    // ready() follows when it arrives.
    QImage request(const QUrl &url);

    // The blurred, darkened copy filling size, made on the first call for this URL and size;
    // null when the image is not cached.
    QImage background(const QUrl &url, const QSize &size);

    bool isFetching(const QUrl &url) const { return m_pending.contains(url); }
    // How many fetches have been started, for tests and benchmarks.
    int fetchCount() const { return m_fetchCount; }

    // The card background from any image: scaled to fill size, blurred, covered by black at 45 %.
    static QImage makeBackground(const QImage &source, const QSize &size);

Q_SIGNALS:
    void ready(const QUrl &url);

private:
    void finish(QNetworkReply *reply, const QUrl &url);

    QNetworkAccessManager *m_network;
    QCache<QUrl, QImage> m_images;
    QCache<QString, QImage> m_backgrounds;
    QSet<QUrl> m_pending;
    QSet<QUrl> m_failed;
    int m_fetchCount = 0;
};
