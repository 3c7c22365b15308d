// The desktop application. For now it only shows which engine the bundle found.
#include "engine/YtDlpService.h"
#include "platform/Bundle.h"

#include <QApplication>
#include <QLabel>

using namespace Qt::StringLiterals;

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(u"Brisvane Download"_s);

    YtDlpService service(Bundle::main().path());
    QLabel label;
    label.setMinimumSize(420, 120);
    label.setAlignment(Qt::AlignCenter);
    label.setText(u"…"_s);
    QObject::connect(&service, &YtDlpService::checkFinished, &label, [&] {
        label.setText(service.isAvailable() ? u"yt-dlp "_s + service.version()
                                            : service.availabilityError().value_or(QString()));
    });
    service.locateBinaries(QString(), false);
    label.show();
    return app.exec();
}
