#pragma once

#include <QByteArray>
#include <QStringList>

#include <optional>

// What a second start of the program hands to the running instance: the URLs it was given
// and whether it must stay in the background. On the socket it is one line of compact JSON.
struct InstanceRequest
{
    static constexpr qsizetype maxBytes = 1048576;

    QStringList urls;
    bool background = false;

    QByteArray encode() const;
    // The request of one line (without its newline); nothing unless it has exactly the two
    // keys with the right types.
    static std::optional<InstanceRequest> decode(const QByteArray &line);
    bool operator==(const InstanceRequest &) const = default;
};
