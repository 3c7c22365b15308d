#include "Error.h"

#include <cerrno>
#include <cstring>

using namespace Qt::StringLiterals;

const char *Error::what() const noexcept
{
    m_what = description().toUtf8();
    return m_what.constData();
}

FileError::FileError(int errorNumber, const QString &path)
    : m_errorNumber(errorNumber)
    , m_path(path)
{
}

FileError FileError::fromErrno(const QString &path)
{
    return FileError(errno, path);
}

QString FileError::description() const
{
    return QString::fromLocal8Bit(std::strerror(m_errorNumber)) + u": "_s + m_path;
}

DecodingError::DecodingError(const QString &message)
    : m_message(message)
{
}

QString DecodingError::description() const
{
    return m_message;
}
