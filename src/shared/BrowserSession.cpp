#include "BrowserSession.h"

#include "shared/L10n.h"

using namespace Qt::StringLiterals;

QString BrowserSession::SessionError::description() const
{
    return L10n::tr(u"浏览器会话信息无效或已过期，请刷新网页后重新发送。"_s);
}
