// The window tests need a QApplication (offscreen, set by the test main()).
#include <QApplication>

QCoreApplication *createTestApplication(int &argc, char **argv)
{
    return new QApplication(argc, argv);
}
