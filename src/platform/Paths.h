#pragma once

#include <QString>

// Where this user's files live on Linux (XDG base directories).
namespace Paths {

QString home();
QString dataHome();       // $XDG_DATA_HOME or ~/.local/share
QString configHome();     // $XDG_CONFIG_HOME or ~/.config
QString runtimeDir();     // $XDG_RUNTIME_DIR, or a private folder in the temporary directory
QString downloadsDir();   // the user's Downloads folder
QString tempDir();        // $TMPDIR or /tmp, read on every call
QString applicationData(); // dataHome()/Kestro

} // namespace Paths
