#include "ExternalUrlHandler.h"

#include "queue/DownloadManager.h"
#include "shared/BrowserBridge.h"
#include "shared/BrowserDownloadLink.h"
#include "shared/L10n.h"

using namespace Qt::StringLiterals;

namespace ExternalUrlHandler {

Outcome handle(const QString &url, DownloadManager &manager, const QString &bundlePath, const QString &inbox)
{
    Outcome outcome;
    if (const std::optional<QString> extension = BrowserBridge::extensionID(url)) {
        try {
            BrowserBridge::registerHost(*extension, bundlePath);
            outcome.connectionMessage = L10n::tr(u"已连接。请回到扩展，点击下载。"_s);
        } catch (...) {
            outcome.connectionMessage = L10n::tr(u"无法注册浏览器连接，请检查浏览器安装目录权限。"_s);
        }
        outcome.activate = true;
        return outcome;
    }
    if (const std::optional<QUuid> id = BrowserBridge::transferID(url)) {
        std::optional<BrowserTransfer> transfer;
        try {
            transfer = BrowserBridge::consume(*id, inbox);
        } catch (...) {
            outcome.invalidLink = true;
            return outcome;
        }
        manager.add({transfer->url}, std::nullopt, std::nullopt, transfer->title, transfer->session);
        outcome.activate = true;
        return outcome;
    }
    const std::optional<BrowserDownloadLink::Request> request = BrowserDownloadLink::request(url);
    if (!request) {
        outcome.invalidLink = true;
        return outcome;
    }
    manager.add({request->url.toString(QUrl::FullyEncoded)}, request->referer, request->userAgent, request->title);
    outcome.activate = true;
    return outcome;
}

} // namespace ExternalUrlHandler
