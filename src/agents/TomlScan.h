#pragma once

#include <QList>
#include <QStringList>
#include <QStringView>

#include <optional>

// Reads a TOML 1.0 document far enough to tell whether it is valid (syntax, and no table or
// key defined twice) and where its table headers are. Values are checked, not kept: the
// installer only needs to know that an edited file still parses.
class TomlScan
{
public:
    struct Header
    {
        qsizetype lineStart = 0; // where the header's line begins
        QStringList path;        // the keys, unquoted
        bool arrayOfTables = false;
    };

    // The headers in document order, or nothing when the text is not valid TOML.
    static std::optional<QList<Header>> headers(QStringView text);
};
