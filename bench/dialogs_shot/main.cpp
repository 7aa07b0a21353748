// Grabs the save dialogs (JPEG, TIFF, PNG) and the six program-options tabs
// into OUTDIR/*.png.
//
//   QT_QPA_PLATFORM=offscreen ./dialogs_shot OUTDIR

#include "app/programOptionsSettings.h"
#include "widgets/programOptions.h"
#include "widgets/saveDialogs.h"
#include "widgets/styleSheet.h"

#include <QApplication>
#include <QDir>
#include <QTabWidget>
#include <cstdio>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    if (argc < 2) {
        std::printf("usage: dialogs_shot OUTDIR\n");
        return 1;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(out);
    programOptionsSettings settings;
    optionsInstance = &settings;
    settings.readSettings(true);
    settings.externalEditor.enabled = true;
    app.setStyleSheet(buildStyleSheet(readStyleSheetTemplate(QString())));
    int shots = 0;
    for (const char *name : {"result.jpg", "result.tif", "result.png"}) {
        saveResult d(nullptr, name);
        if (d.jpegPanel)
            d.jpegPanel->resize->setResultSize(6000, 4000);
        d.show();
        QApplication::processEvents();
        d.grab().save(out + "/save_" + QString(name).section('.', 1) + ".png");
        ++shots;
    }
    programOptions options(nullptr, nullptr);
    options.show();
    for (int i = 0; i < options.tabs->count(); ++i) {
        options.tabs->setCurrentIndex(i);
        QApplication::processEvents();
        options.grab().save(out + QString("/options_%1.png").arg(i));
        ++shots;
    }
    std::printf("%d pictures in %s\n", shots, qPrintable(out));
    optionsInstance = nullptr;
    return 0;
}
