// The comparison program of the start-up benchmark: what a minimal Qt Widgets window costs
// (a main window with a toolbar and an empty list view), with the same first-paint report.
#include "app/FirstPaintProbe.h"

#include <QApplication>
#include <QListView>
#include <QMainWindow>
#include <QStandardItemModel>
#include <QToolBar>

using namespace Qt::StringLiterals;

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QMainWindow window;
    window.resize(760, 560);
    QToolBar *toolbar = window.addToolBar(u"Toolbar"_s);
    toolbar->addAction(u"Add"_s);
    auto *list = new QListView(&window);
    auto *model = new QStandardItemModel(list);
    list->setModel(model);
    window.setCentralWidget(list);
    FirstPaintProbe::installIfAsked(&window);
    window.show();
    return app.exec();
}
