// Grabs the save dialogs (JPEG, TIFF, PNG), the dialog that saves the
// preprocessed photos (with its JPEG and TIFF panels) and the six
// program-options tabs into OUTDIR/*.png.
//
//   QT_QPA_PLATFORM=offscreen ./dialogs_shot OUTDIR

#include "app/programOptionsSettings.h"
#include "widgets/programOptions.h"
#include "widgets/saveDialogs.h"
#include "widgets/savePreprocessedDialog.h"
#include "widgets/styleSheet.h"

#include <QApplication>
#include <QComboBox>
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
    for (int format : {0, 1}) {
        savePreprocessedDialog d(nullptr, nullptr, QDir::homePath());
        d.jpegPanel->resize->hide();
        d.formatBox->setCurrentIndex(format);
        d.show();
        QApplication::processEvents();
        d.grab().save(out + (format == 0 ? "/preprocessed_jpeg.png" : "/preprocessed_tiff.png"));
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
