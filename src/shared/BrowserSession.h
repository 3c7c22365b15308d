#pragma once

#include "shared/Error.h"

class BrowserSession
{
public:
    // The one rejection of exchanged data: callers never learn which check failed.
    class SessionError : public Error
    {
    public:
        enum class Code { invalid };

        static SessionError invalid() { return SessionError(Code::invalid); }
        Code code() const { return m_code; }
        QString description() const override;

    private:
        explicit SessionError(Code code) : m_code(code) {}
        Code m_code;
    };
};
