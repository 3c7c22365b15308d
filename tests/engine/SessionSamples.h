#pragma once

#include "shared/BrowserSession.h"

// A session for the local test server whose secrets are easy to look for in output:
// a cookie for 127.0.0.1, one for another site, and an authorization header.
inline BrowserSession secretSession(const QString &url)
{
    using namespace Qt::StringLiterals;
    BrowserSession session;
    session.cookies = {{u"sid"_s, u"cookie-value-42"_s, u"127.0.0.1"_s, u"/"_s, false, true, std::nullopt},
                       {u"elsewhere"_s, u"foreign-secret"_s, u"example.org"_s, u"/"_s, false, false, std::nullopt}};
    session.requests = {{url, {{u"Authorization"_s, u"Bearer auth-token-7"_s}, {u"User-Agent"_s, u"Agent/1"_s}}}};
    return session;
}
