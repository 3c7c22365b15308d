#include "DownloadUpdateDelegate.h"

#include "UpdateError.h"
#include "UpdateRelease.h"

namespace DownloadUpdateDelegate {

void shouldProceedWithUpdate(const QString &runningVersion, const QString &offeredVersion)
{
    if (!UpdateRelease::newer(offeredVersion, runningVersion))
        throw UpdateError(UpdateError::Kind::invalidFeed);
}

} // namespace DownloadUpdateDelegate
