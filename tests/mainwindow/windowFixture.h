#ifndef WINDOWFIXTURE_H
#define WINDOWFIXTURE_H

// Fixture of the main-window tests: fresh settings, a settings record with a
// readable default settings file, start parameters cleared, and message boxes
// and file dialogs answered by hooks that record what was asked.

#include "app/programOptionsSettings.h"
#include "app/sharedFlags.h"
#include "app/startParams.h"
#include "hdrdialogs/generateHDR.h"
#include "mainwindow/mainWindow.h"
#include "project/processingProject.h"
#include "platform/platformSettings.h"
#include "testSupport.h"
#include "widgets/fileDialogs.h"
#include "widgets/styledMessageBox.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QScreen>
#include <functional>
#include <memory>
#include <vector>

// Processes events (no sleeping) until cond holds or two minutes passed;
// returns whether it holds.
template <typename F> bool waitFor(F cond)
{
    QElapsedTimer timer;
    timer.start();
    while (!cond() && timer.elapsed() < 120000)
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 20);
    QCoreApplication::processEvents();
    return cond();
}

struct shownMessage_t {
    int kind;
    QString text;
};

class mainWindowTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        platformSettings()->clear();
        options = std::make_unique<programOptionsSettings>();
        optionsInstance = options.get();
        const QString defaults = testSupport::scratchDir() + "/default.lmsx";
        testSupport::writeFile(defaults, "<settings/>\n");
        options->misc.defaultToneMappingSettings = defaults;
        startParams = startParams_t();
        messages.clear();
        messageAnswer = styledMessageBox::Ok;
        styledMessageBox::setMessageHook([this](int kind, const QString &, const QString &text, int) {
            messages.push_back({kind, text});
            return messageAnswer;
        });
        fileDialogs::setHook([this](const fileDialogs::request_t &) { return dialogAnswer; });
        // The Generate HDR dialog that opens after photos were added is
        // cancelled unless a test answers it itself.
        generateHDR::setExecHook([](generateHDR *) { return 0; });
    }
    void TearDown() override
    {
        styledMessageBox::setMessageHook(nullptr);
        fileDialogs::setHook(nullptr);
        generateHDR::setExecHook(nullptr);
        optionsInstance = nullptr;
        startParams = startParams_t();
        abortBackgroundFlag = false;
        breakFlag = false;
        progressCounter = 0;
        platformSettings()->clear();
    }
    static QRect available() { return QGuiApplication::primaryScreen()->availableGeometry(); }

    std::unique_ptr<programOptionsSettings> options;
    std::vector<shownMessage_t> messages;
    int messageAnswer = styledMessageBox::Ok;
    QStringList dialogAnswer;
};

// Puts a synthetic HDR scene of width x height into the window's project as a
// merged image (pixel(x, y, rgb) fills each pixel), with one HDR photo in the
// list so that the enabling rules open the panels, and starts the window's own
// tone-mapping preparation; the caller waits for it. False when the image
// cannot be allocated.
inline bool plantHdrScene(mainWindow &w, int width, int height,
                          const std::function<void(int x, int y, float *rgb)> &pixel)
{
    processingProject *p = w.project;
    p->width = width;
    p->height = height;
    if (!p->allocatePyramids())
        return false;
    float *f = static_cast<float *>(p->hdrImage.levels[0].data);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            pixel(x, y, f + (size_t(y) * width + x) * 3);
    p->hdrImage.levels[0].valid = true;
    p->hdrImage.buildLevelsFrom(0);
    p->hdrState.hdrPresent = true;
    p->hdrState.resultValid = true;
    p->hdrState.hdrMedian = 0.1;
    p->hdrState.lcCorrection = 1.0;
    photoInfo_t photo;
    photo.id = ++p->photoIdCounter;
    photo.filePath = "scene.hdr";
    photo.isFloat = 1;
    photo.included = 1;
    p->photos.append(photo);
    w.toneMappingPrepare();
    return true;
}

#endif // WINDOWFIXTURE_H
