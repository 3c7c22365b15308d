#pragma once

#include "shared/Error.h"

// Why the engine service could not do what was asked.
class YtDlpError : public Error
{
public:
    enum class Code { extractionFailed, binaryNotFound };

    static YtDlpError extractionFailed(const QString &message) { return YtDlpError(Code::extractionFailed, message); }
    static YtDlpError binaryNotFound() { return YtDlpError(Code::binaryNotFound, QString()); }

    Code code() const { return m_code; }
    QString message() const { return m_message; }
    QString description() const override;

private:
    YtDlpError(Code code, const QString &message) : m_code(code), m_message(message) {}

    Code m_code;
    QString m_message;
};
