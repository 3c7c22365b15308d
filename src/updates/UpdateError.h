#pragma once

#include "shared/Error.h"

// The failures of the update check and the installer download, each with a fixed text.
class UpdateError : public Error
{
public:
    enum class Kind { unavailable, invalidFeed, invalidDownload };

    explicit UpdateError(Kind kind) : m_kind(kind) {}

    Kind kind() const { return m_kind; }
    QString description() const override { return errorDescription(m_kind); }

    static QString errorDescription(Kind kind);

private:
    Kind m_kind;
};
