#include "YtDlpError.h"

#include "shared/L10n.h"

using namespace Qt::StringLiterals;

QString YtDlpError::description() const
{
    switch (m_code) {
    case Code::extractionFailed:
        return m_message.isEmpty() ? L10n::tr(u"解析失败"_s) : m_message;
    case Code::binaryNotFound:
        return L10n::tr(u"下载引擎不可用，请检查内置组件或自定义引擎路径。"_s);
    }
    return QString();
}
