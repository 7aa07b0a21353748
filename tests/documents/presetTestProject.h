#ifndef PRESETTESTPROJECT_H
#define PRESETTESTPROJECT_H

// A small prepared project (a synthetic HDR image with its local-contrast
// maps and one photo entry) for the preset thumbnail and library tests.

#include "app/programOptionsSettings.h"
#include "app/sharedFlags.h"
#include "project/processingProject.h"

#include "testSupport.h"

#include <memory>

class presetTestProject
{
public:
    static constexpr int W = 96, H = 64;

    presetTestProject()
    {
        options.reset(new programOptionsSettings);
        options->scratchpad.pathCurrent = testSupport::freshDir("scratch");
        optionsInstance = options.get();
        project.reset(new processingProject(nullptr));
    }
    ~presetTestProject()
    {
        project.reset();
        optionsInstance = nullptr;
        abortBackgroundFlag = false;
    }

    // Fills the image with colour ramps and prepares the maps; false on failure.
    bool load()
    {
        project->width = W;
        project->height = H;
        if (!project->allocatePyramids())
            return false;
        float *hdr = static_cast<float *>(project->hdrImage.levels[0].data);
        for (int y = 0; y < H; ++y)
            for (int x = 0; x < W; ++x) {
                float *px = hdr + (size_t(y) * W + x) * 3;
                px[0] = 0.02f + 0.9f * x / W;
                px[1] = 0.02f + 0.6f * y / H;
                px[2] = 0.05f + 0.3f * ((x / 9 + y / 7) % 2);
            }
        project->hdrImage.buildLevelsFrom(0);
        project->hdrState.hdrMedian = 0.25;
        project->photos.append(photoInfo_t());
        return project->computeMask() && project->localContrast();
    }

    std::unique_ptr<programOptionsSettings> options;
    std::unique_ptr<processingProject> project;
};

#endif // PRESETTESTPROJECT_H
