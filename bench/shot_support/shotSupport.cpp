#include "shotSupport.h"

#include "hdr/generateHDRworker.h"
#include "project/curveMaths.h"
#include "project/loadPhotoWorker.h"
#include "project/processingProject.h"
#include "project/toneMappingPreprocessWorker.h"
#include "project/toneMappingTables.h"

#include <QApplication>
#include <QMouseEvent>
#include <QWidget>
#include <algorithm>
#include <cstdio>

void prepareLayer(processingProject &project, int l)
{
    processingParams_t &p = project.layerSettings[l];
    for (int c = 0; c < PP_CURVE_COUNT; c++)
        curveToLut16(p.curveLut[c], p.curves[c].points, p.curves[c].type);
    for (int c = 0; c < 3; c++)
        buildLookupTableParallel(&project, &p, c);
    project.generateTMtable(&p);
    project.toneCurveTable(&p);
    updateColorMatrix(&p);
    project.vignetteProfile(&p);
    p.precalculated = true;
}

bool loadAndMerge(processingProject &project, const QStringList &files, pyramid &before)
{
    project.quiet = true;
    for (const QString &f : files) {
        photoInfo_t photo;
        photo.filePath = f;
        photo.loadDivisor = 1;
        if (project.loadPhotoPrepare(photo, project.photos.size(), files.size(), false) != 0) {
            std::printf("refused %s\n", qPrintable(f));
            return false;
        }
        pyramid image;
        if (!image.makePyramid(project.width, project.height, 1, 2, 3, true))
            return false;
        loadPhotoWorker worker(&project, photo, image, project.photos.size());
        if (worker.loadPhoto() != 0) {
            std::printf("failed %s\n", qPrintable(f));
            return false;
        }
        project.photos.append(worker.photo);
    }
    project.sortPhotosByEV();
    if (!project.evFromExif && !project.biasDistinct)
        for (photoInfo_t &p : project.photos)
            p.ev = p.evAuto;
    project.evRange();

    generateHDRoptions_t o;
    o.project = &project;
    o.selectivity = 1;
    o.smartMergeStrength = 5;
    generateHDRworker worker(o);
    worker.generateHDR_prepare();
    if (!worker.generateHDR_core())
        return false;
    worker.hdrPreprocess();
    toneMappingPreprocessWorker preparation(&project);
    preparation.doIt();
    if (!preparation.mapsReady())
        return false;

    // The "before" picture: the middle exposure at full size.
    photoInfo_t &middle = project.photos[project.photos.size() / 2];
    const int levels = std::min(fullPyramidLevels(project.width, project.height, 1.0), PYRAMID_MAX_LEVELS);
    if (!before.makePyramid(project.width, project.height, levels, 2, 3, true)
        || !project.readFromTempFile(middle, 0, before))
        return false;
    before.levels[0].valid = true;
    before.buildLevelsFrom(0);
    return true;
}

void sendMouse(QWidget *w, QEvent::Type type, QPoint pos, Qt::MouseButton button, Qt::MouseButtons buttons)
{
    QMouseEvent e(type, QPointF(pos), QPointF(w->mapToGlobal(pos)), button, buttons, Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}

bool parseShotArgs(const QStringList &args, const char *usage, shotArgs &out)
{
    for (int i = 1; i < args.size(); i++) {
        if (args[i] == "--mode" && i + 1 < args.size())
            out.mode = args[++i];
        else if (args[i] == "--grab" && i + 1 < args.size())
            out.grab = args[++i];
        else if (args[i] == "--size" && i + 1 < args.size()) {
            const QStringList wh = args[++i].split('x');
            if (wh.size() == 2)
                out.size = QSize(wh[0].toInt(), wh[1].toInt());
        } else
            out.files << args[i];
    }
    if (out.files.isEmpty()) {
        std::fprintf(stderr, "usage: %s\n", usage);
        return false;
    }
    return true;
}
