// The main window shows a new picture fitted to its view: at the common
// screen sizes the fitted picture never overflows the view and neither
// scroll bar has a range, for the first photo on display and for the merged
// image handed to tone mapping.

#include "windowFixture.h"

#include "app/sharedFlags.h"
#include "views/mainImageArea.h"
#include "views/mainWorkspace.h"
#include "widgets/zoomWidget.h"

#include <QElapsedTimer>
#include <QImage>
#include <QLabel>
#include <QScrollBar>

namespace {

// Two flat exposures of a width x height scene (PNG, no EXIF).
QStringList twoPhotos(int width, int height)
{
    const QString dir = testSupport::freshDir("fitPhotos");
    QStringList files;
    for (int i = 0; i < 2; ++i) {
        QImage image(width, height, QImage::Format_RGB32);
        image.fill(qRgb(60 + 100 * i, 60 + 100 * i, 50 + 100 * i));
        const QString path = dir + QString("/p_%1.png").arg(i);
        EXPECT_TRUE(image.save(path));
        files << path;
    }
    return files;
}

// The picture on display fits the canvas at the zoom shown, without scrolling.
void expectFitted(mainWindow &w, int width, int height, const char *when)
{
    mainImageArea *canvas = w.workspace->canvas();
    const double s = canvas->zoom();
    const double dpr = optionsInstance->devicePixelRatio;
    SCOPED_TRACE(std::string(when) + ", zoom " + w.zoom->valueLabel()->text().toStdString() + ", canvas "
                 + std::to_string(canvas->width()) + "x" + std::to_string(canvas->height()));
    EXPECT_LE(s * width, canvas->width() * dpr);
    EXPECT_LE(s * height, canvas->height() * dpr);
    EXPECT_EQ(w.workspace->horizontalBar()->maximum(), w.workspace->horizontalBar()->minimum());
    EXPECT_EQ(w.workspace->verticalBar()->maximum(), w.workspace->verticalBar()->minimum());
}

} // namespace

TEST_F(mainWindowTest, aNewPictureIsFittedWithoutScrollBarsAtCommonScreenSizes)
{
    options->scratchpad.pathCurrent = testSupport::freshDir("fitScratch");
    options->colorManagement.enabled = false;
    options->optionsOnLoad.enabled = false;
    options->devicePixelRatio = 1.0;
    const QStringList photos = twoPhotos(1200, 800);
    for (const QSize size : {QSize(1920, 1080), QSize(1366, 768)}) {
        SCOPED_TRACE(std::to_string(size.width()) + "x" + std::to_string(size.height()));
        mainWindow w;
        w.resize(size);
        w.show();
        QCoreApplication::processEvents();
        // The first photo on display (the Generate HDR dialog is cancelled).
        ASSERT_TRUE(w.addImages(photos));
        ASSERT_TRUE(waitFor([&] { return !w.loadingInProgress && !w.anyLoadRunning(); }));
        expectFitted(w, 1200, 800, "photo");

        // A merged image of the same size handed to tone mapping.
        ASSERT_TRUE(plantHdrScene(w, 1200, 800, [](int x, int, float *rgb) {
            rgb[0] = rgb[1] = rgb[2] = 0.01f + float(x) / 1200;
        }));
        ASSERT_TRUE(waitFor([&] {
            return w.project->prepared && !w.toneMappingPreparing() && !toneMappingRunning.load()
                   && !w.toneMappingPending();
        }));
        expectFitted(w, 1200, 800, "merged");
    }
}
