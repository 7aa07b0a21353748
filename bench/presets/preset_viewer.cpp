// Shows the presets tab on its own with the thumbnails of a real bracket:
//
//   preset_viewer [--grab OUT.png] [--grab-groups OUT.png] [--user DIR] [--filter 0|1|2] [--group NAME] PHOTO...
//
// The photos are merged and prepared as the program does; the built-in
// presets come from the folder beside the program (or a few looks written by
// the tool). With --grab the tab is saved as a picture once every thumbnail
// has arrived, and the viewer ends; --grab-groups saves the user groups
// dialog as well. --filter and --group choose the filter the tab starts with
// (all, built-in, user presets; the user group), as the stored choice does.

#include "app/programOptionsSettings.h"
#include "bracketProject.h"
#include "documents/presetLibrary.h"
#include "documents/setupUserGroups.h"
#include "presetHostForTools.h"
#include "widgets/presetItem.h"
#include "widgets/styleSheet.h"
#include "widgets/widgetSupport.h"

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <cstdio>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    initWidgetResources();
    QStringList photos;
    QString grab, grabGroups, userDir, group;
    int filter = 0;
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == "--grab" && i + 1 < args.size())
            grab = args[++i];
        else if (args[i] == "--grab-groups" && i + 1 < args.size())
            grabGroups = args[++i];
        else if (args[i] == "--user" && i + 1 < args.size())
            userDir = args[++i];
        else if (args[i] == "--filter" && i + 1 < args.size())
            filter = args[++i].toInt();
        else if (args[i] == "--group" && i + 1 < args.size())
            group = args[++i];
        else
            photos << args[i];
    }
    if (photos.isEmpty()) {
        std::fprintf(stderr, "usage: preset_viewer [--grab OUT.png] [--grab-groups OUT.png] [--user DIR] [--filter 0|1|2] "
                             "[--group NAME] PHOTO...\n");
        return 2;
    }
    QTemporaryDir scratch(QDir::tempPath() + "/preset_viewer-XXXXXX");
    programOptionsSettings options;
    options.scratchpad.pathCurrent = scratch.path();
    options.colorManagement.enabled = false;
    options.misc.presetFilterOption = filter;
    options.misc.presetFilterUserGroup = group;
    optionsInstance = &options;
    // The program's own style sheet, so the tab looks as it does in the program.
    app.setStyleSheet(buildStyleSheet(readStyleSheetTemplate(QCoreApplication::applicationDirPath())));
    int status = 0;
    {
        processingProject project(nullptr);
        QString error;
        if (!loadBracket(project, photos, &error)) {
            std::fprintf(stderr, "preset_viewer: %s\n", qPrintable(error));
            optionsInstance = nullptr;
            return 1;
        }
        const QString builtIn = builtInPresetFolder(QCoreApplication::applicationDirPath(), scratch.path());
        const QString user = userDir.isEmpty() ? scratch.path() + "/user/presets" : userDir;
        options.misc.defaultToneMappingSettings = builtIn + "/default.lmsx";
        toolPresetHost host(&project);
        loadSettingsFile(builtIn + "/default.lmsx", &project.layerSettings[0]);

        presetLibrary library(&host, builtIn, user);
        library.setWindowTitle("Presets");
        library.resize(440, 900);
        library.scanPresets();
        library.show();
        library.presetItemChanged(-1, true);
        QObject::connect(&library, &presetLibrary::thumbnailsFinished, [&]() {
            std::printf("thumbnails done\n");
            for (const presetItem *item : library.items()) {
                const QImage *image = item->shownImage();
                const QRgb c = image ? image->pixel(image->width() / 2, image->height() / 2) : 0;
                if (image && qEnvironmentVariableIsSet("PRESET_VIEWER_DUMP"))
                    image->save(qEnvironmentVariable("PRESET_VIEWER_DUMP") + "/" + item->displayedName() + ".png");
                std::printf("thumbnail %s %dx%d centre %d %d %d\n", qPrintable(item->displayedName()),
                            image ? image->width() : 0, image ? image->height() : 0, qRed(c), qGreen(c), qBlue(c));
            }
            if (!grab.isEmpty()) {
                QApplication::processEvents();
                if (!library.grab().save(grab))
                    status = 1;
                if (!grabGroups.isEmpty()) {
                    setupUserGroups groups(&library, user);
                    groups.show();
                    QApplication::processEvents();
                    if (!groups.grab().save(grabGroups))
                        status = 1;
                }
                app.quit();
            }
        });
        library.invalidatePresets();
        app.exec();
    }
    optionsInstance = nullptr;
    return status;
}
