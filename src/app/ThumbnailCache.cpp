#include "ThumbnailCache.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPainter>

#include <algorithm>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

// Pictures bigger than this are not thumbnails; the transfer is cut off.
constexpr qint64 maxThumbnailBytes = 8 * 1024 * 1024;
constexpr int timeoutMs = 20000;

// One horizontal and one vertical box pass over premultiplied ARGB.
void boxBlur(QImage &image, int radius)
{
    if (radius < 1 || image.isNull())
        return;
    const int w = image.width();
    const int h = image.height();
    std::vector<QRgb> line(static_cast<size_t>(std::max(w, h)));
    auto pass = [&](int count, int length, auto pixelAt) {
        for (int n = 0; n < count; ++n) {
            for (int i = 0; i < length; ++i)
                line[static_cast<size_t>(i)] = *pixelAt(n, i);
            int sum[4] = {0, 0, 0, 0};
            auto add = [&](QRgb p, int sign) {
                sum[0] += sign * qAlpha(p);
                sum[1] += sign * qRed(p);
                sum[2] += sign * qGreen(p);
                sum[3] += sign * qBlue(p);
            };
            auto at = [&](int i) { return line[static_cast<size_t>(std::clamp(i, 0, length - 1))]; };
            for (int i = -radius; i <= radius; ++i)
                add(at(i), 1);
            const int span = 2 * radius + 1;
            for (int i = 0; i < length; ++i) {
                *pixelAt(n, i) = qRgba(sum[1] / span, sum[2] / span, sum[3] / span, sum[0] / span);
                add(at(i + radius + 1), 1);
                add(at(i - radius), -1);
            }
        }
    };
    pass(h, w, [&](int y, int x) { return reinterpret_cast<QRgb *>(image.scanLine(y)) + x; });
    pass(w, h, [&](int x, int y) { return reinterpret_cast<QRgb *>(image.scanLine(y)) + x; });
}

} // namespace

ThumbnailCache::ThumbnailCache(QNetworkAccessManager *network, QObject *parent)
    : QObject(parent)
    , m_network(network ? network : new QNetworkAccessManager(this))
{
    // Costs are kilobytes: about 64 MB of originals and 48 MB of card backgrounds.
    m_images.setMaxCost(64 * 1024);
    m_backgrounds.setMaxCost(48 * 1024);
}

ThumbnailCache &ThumbnailCache::shared()
{
    static ThumbnailCache *instance = new ThumbnailCache(nullptr, nullptr);
    return *instance;
}

QImage ThumbnailCache::image(const QUrl &url) const
{
    const QImage *found = m_images.object(url);
    return found ? *found : QImage();
}

void ThumbnailCache::store(const QImage &image, const QUrl &url)
{
    if (image.isNull())
        return;
    QImage kept = image.width() > maxKeptWidth ? image.scaledToWidth(maxKeptWidth, Qt::SmoothTransformation) : image;
    kept = kept.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const qsizetype cost = std::max<qsizetype>(1, kept.sizeInBytes() / 1024);
    m_images.insert(url, new QImage(std::move(kept)), cost);
    m_failed.remove(url);
}

QImage ThumbnailCache::request(const QUrl &url)
{
    if (!url.isValid() || url.isEmpty())
        return QImage();
    if (const QImage *found = m_images.object(url))
        return *found;
    const QString scheme = url.scheme();
    if (m_pending.contains(url) || m_failed.contains(url) || (scheme != u"http"_s && scheme != u"https"_s))
        return QImage();
    m_pending.insert(url);
    ++m_fetchCount;
    QNetworkRequest request(url);
    request.setTransferTimeout(timeoutMs);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    QNetworkReply *reply = m_network->get(request);
    connect(reply, &QNetworkReply::downloadProgress, reply, [reply](qint64 received, qint64 total) {
        if (received > maxThumbnailBytes || total > maxThumbnailBytes)
            reply->abort();
    });
    connect(reply, &QNetworkReply::finished, this, [this, reply, url] { finish(reply, url); });
    return QImage();
}

void ThumbnailCache::finish(QNetworkReply *reply, const QUrl &url)
{
    reply->deleteLater();
    m_pending.remove(url);
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    QImage decoded;
    if (reply->error() == QNetworkReply::NoError && (status == 0 || (status >= 200 && status < 300)))
        decoded.loadFromData(reply->readAll());
    if (decoded.isNull()) {
        // Silent: the card keeps its gradient.
        m_failed.insert(url);
        return;
    }
    store(decoded, url);
    Q_EMIT ready(url);
}

QImage ThumbnailCache::background(const QUrl &url, const QSize &size)
{
    if (size.isEmpty())
        return QImage();
    const QString key = url.toString() % u"|" % QString::number(size.width()) % u"x" % QString::number(size.height());
    if (const QImage *found = m_backgrounds.object(key))
        return *found;
    const QImage *source = m_images.object(url);
    if (!source)
        return QImage();
    QImage made = makeBackground(*source, size);
    const qsizetype cost = std::max<qsizetype>(1, made.sizeInBytes() / 1024);
    m_backgrounds.insert(key, new QImage(made), cost);
    return made;
}

QImage ThumbnailCache::makeBackground(const QImage &source, const QSize &size)
{
    // Blurring a quarter-size copy and scaling it up looks the same as a radius-18 blur at full
    // size and costs a sixteenth.
    constexpr int reduction = 4;
    const QSize small(std::max(1, size.width() / reduction), std::max(1, size.height() / reduction));
    QImage filled = source.scaled(small, Qt::KeepAspectRatioByExpanding, Qt::SmoothTransformation);
    filled = filled.copy((filled.width() - small.width()) / 2, (filled.height() - small.height()) / 2,
                         small.width(), small.height())
                 .convertToFormat(QImage::Format_ARGB32_Premultiplied);
    boxBlur(filled, 18 / reduction / 2);
    boxBlur(filled, 18 / reduction / 2);
    QImage result = filled.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                        .convertToFormat(QImage::Format_ARGB32_Premultiplied);
    QPainter painter(&result);
    painter.fillRect(result.rect(), QColor(0, 0, 0, qRound(0.45 * 255)));
    return result;
}
