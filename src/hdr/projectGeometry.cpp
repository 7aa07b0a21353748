#include "hdr/projectGeometry.h"

#include "app/utils.h"
#include "project/processingProject.h"

#include <algorithm>
#include <cmath>
#include <vector>

geometryPass_t geometryPassOf(processingProject *project)
{
    geometryPass_t pass;
    if (!project)
        return pass;
    pass.photoList = &project->photos;
    pass.photoCount = int(project->photos.size());
    pass.width = project->width;
    pass.height = project->height;
    pass.sessionPath = project->sessionPath;
    pass.previewDivisor = project->previewDivisor;
    pass.threadCount = idealThreadCount(project->quiet);
    pass.previewDivisorFor = [](int w, int h) { return int(previewGeometry(w, h).divisor); };
    pass.prepareNewSize = [project](int w, int h) { return project->resizePreviews(w, h); };
    pass.histogramMatch = [project](int photo, int base, double *photoTable, double *baseTable) {
        if (photo < 0 || base < 0 || photo >= project->photos.size() ||
            base >= project->photos.size())
            return false;
        std::vector<double> tables(size_t(8) * 4096, 1.0);
        double *baseTables[4], *photoTables[4];
        for (int t = 0; t < 4; ++t) {
            baseTables[t] = tables.data() + size_t(t) * 4096;
            photoTables[t] = tables.data() + size_t(4 + t) * 4096;
        }
        project->prepareHistogramMatch(project->photos[base], project->photos[photo], baseTables,
                                       photoTables, nullptr);
        std::copy(photoTables[3], photoTables[3] + 4096, photoTable); // the grey tables
        std::copy(baseTables[3], baseTables[3] + 4096, baseTable);
        return true;
    };
    return pass;
}

std::vector<double> projectExposureValues(const processingProject *project)
{
    std::vector<double> ev;
    if (project)
        for (const photoInfo_t &p : project->photos)
            ev.push_back(p.ev);
    return ev;
}

int projectBasePhoto(const processingProject *project)
{
    int base = 0;
    if (!project)
        return base;
    for (int i = 0; i < project->photos.size(); ++i)
        if (std::fabs(project->photos[i].ev) <= std::fabs(project->photos[base].ev))
            base = i;
    return base;
}

void projectAfterGeometry(processingProject *project, int newWidth, int newHeight)
{
    if (!project)
        return;
    project->width = newWidth;
    project->height = newHeight;
    project->allocateDisplayBuffer();
    for (photoInfo_t &p : project->photos)
        project->makePhotoThumbnail(p);
    for (pyramid &p : project->lcPyramids)
        if (p.levelCount > 0)
            p.clear();
}
