// The main() of every test program: a hermetic environment, then GoogleTest.
#include "TestEnvironment.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <sys/stat.h>

namespace TestEnvironment {
void setRoot(const QString &root);
}

// A test program that needs a GUI application object (the window tests) defines this; the
// others get a QCoreApplication.
QCoreApplication *createTestApplication(int &argc, char **argv) __attribute__((weak));

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);

    QTemporaryDir scratch(QDir::tempPath() + QStringLiteral("/kestro-test-XXXXXX"));
    if (!scratch.isValid())
        return 2;
    const QString root = QDir(scratch.path()).canonicalPath();
    TestEnvironment::setRoot(root);
    const struct { const char *name; const char *folder; } layout[] = {
        {"HOME", "home"},
        {"XDG_CONFIG_HOME", "home/.config"},
        {"XDG_DATA_HOME", "home/.local/share"},
        {"XDG_RUNTIME_DIR", "runtime"},
        {"TMPDIR", "tmp"},
    };
    for (const auto &entry : layout) {
        const QString path = root + QLatin1Char('/') + QLatin1String(entry.folder);
        QDir().mkpath(path);
        ::chmod(QFile::encodeName(path).constData(), 0700);
        qputenv(entry.name, QFile::encodeName(path));
    }

    const std::unique_ptr<QCoreApplication> app(createTestApplication ? createTestApplication(argc, argv)
                                                                      : new QCoreApplication(argc, argv));
    return RUN_ALL_TESTS();
}
