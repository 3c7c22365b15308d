#pragma once

#include <QString>

// The veto a platform updater would ask before installing an offered release. Linux has no such
// updater, so this is only the rule: proceed when the offer is strictly newer than the running
// version, both being valid versions; otherwise throw UpdateError (invalidFeed).
namespace DownloadUpdateDelegate {

void shouldProceedWithUpdate(const QString &runningVersion, const QString &offeredVersion);

} // namespace DownloadUpdateDelegate
