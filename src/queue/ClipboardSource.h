#pragma once

#include <QString>

#include <optional>

// What the clipboard watch needs from the desktop: a counter that grows with every new copy,
// and the copied plain text. The window application supplies one; kestro-dl has none.
class ClipboardSource
{
public:
    virtual ~ClipboardSource() = default;

    virtual quint64 changeCount() const = 0;
    // The plain text on the clipboard, nothing when it holds no text (an image, files).
    virtual std::optional<QString> text() const = 0;
};
