#include "UpdateError.h"

#include "shared/L10n.h"

using namespace Qt::StringLiterals;

QString UpdateError::errorDescription(Kind kind)
{
    switch (kind) {
    case Kind::unavailable:
        return L10n::tr(u"暂时无法检查更新，请稍后重试。"_s);
    case Kind::invalidFeed:
        return L10n::tr(u"更新信息验证失败，请联系支持。"_s);
    case Kind::invalidDownload:
        return L10n::tr(u"安装包校验失败，未打开该文件。"_s);
    }
    return {};
}
