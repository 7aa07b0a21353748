// Rotating, flipping and cropping a loaded bracket and a loaded HDR image
// from the window: the work runs on a worker while the window stays live,
// every photo follows, a transform that cannot write its files is reported
// and changes nothing; the crop and sample rules; the sampled-colour text.

#include "mainwindow/historyItem.h"
#include "mainwindow/mainWindow.h"
#include "project/imageTransform.h"
#include "project/processingProject.h"
#include "testSupport.h"
#include "widgets/styledMessageBox.h"
#include "windowFixture.h"

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QListWidget>
#include <QSignalSpy>
#include <QTimer>
#include <vector>

namespace {

QStringList bracketFiles(const QString &folder, int count)
{
    const QString dir = testSupport::testDataFile("brackets/" + folder);
    if (dir.isEmpty())
        return {};
    QStringList files;
    for (const QString &name : QDir(dir).entryList(QDir::Files, QDir::Name).mid(0, count))
        files << dir + "/" + name;
    return files;
}

bool loaded(mainWindow &w)
{
    return waitFor([&] { return !w.loadingInProgress && !w.anyLoadRunning(); });
}

// Accepts the HDR load-option dialog as soon as it runs.
class dialogAcceptor
{
public:
    dialogAcceptor()
    {
        QObject::connect(&timer, &QTimer::timeout, [] {
            if (auto *d = qobject_cast<QDialog *>(QApplication::activeModalWidget()))
                d->accept();
        });
        timer.start(20);
    }
    QTimer timer;
};

// Runs a transform action and waits for its end; checks that the action
// returned while the worker still ran, with the window's controls locked.
bool runTransform(mainWindow &w, QAction *action, bool *ranInBackground = nullptr)
{
    QSignalSpy done(&w, &mainWindow::transformFinished);
    action->trigger();
    if (ranInBackground)
        *ranInBackground = w.transformRunning() && !w.interfaceEnabled();
    if (!waitFor([&] { return done.count() > 0; }))
        return false;
    return done.first().at(0).toBool();
}

std::vector<uint16_t> previewCopy(const photoInfo_t &p, const processingProject &project)
{
    const size_t n = size_t(project.previewWidth) * size_t(project.previewHeight) * 3;
    return std::vector<uint16_t>(p.preview, p.preview + n);
}

} // namespace

TEST(transformRules, cropRunsTheWarpOnlyAboveOneThousandth)
{
    const struct {
        double angle, distortion, px, py;
        int mode;
    } cases[] = {
        {0, 0, 0, 0, TRANSFORM_CROP},          {0.0005, 0, 0, 0, TRANSFORM_CROP},
        {0.001, 0, 0, 0, TRANSFORM_CROP},      {0.002, 0, 0, 0, TRANSFORM_WARP},
        {-0.002, 0, 0, 0, TRANSFORM_WARP},     {0, 0.0011, 0, 0, TRANSFORM_WARP},
        {0, 0, -0.5, 0, TRANSFORM_WARP},       {0, 0, 0, 0.0009, TRANSFORM_CROP},
        {0, 0, 0, -0.0011, TRANSFORM_WARP},
    };
    for (const auto &c : cases)
        EXPECT_EQ(cropTransformMode(c.angle, c.distortion, c.px, c.py), c.mode)
            << c.angle << " " << c.distortion << " " << c.px << " " << c.py;
}

TEST(transformRules, levelSamplesKeepBlackBelowWhite)
{
    const struct {
        bool black;
        double sample, blackBefore, whiteBefore, blackAfter, whiteAfter;
    } cases[] = {
        {true, 0.2, 0.0, 1.0, 0.2, 1.0},          // plain black sample
        {true, 0.9, 0.0, 0.5, 0.9 - 1e-5, 0.9},   // above the white point: white follows, black just below
        {true, 1.0, 0.0, 1.0, 0.99999 - 0.0, 1.0}, // black at most 0.99999
        {false, 0.7, 0.1, 1.0, 0.1, 0.7},         // plain white sample
        {false, 0.05, 0.1, 1.0, 0.05 - 1e-5, 0.05}, // below the black point: black goes under it
        {false, 0.5, 0.499999, 1.0, 0.5 - 1e-5, 0.5}, // closer than 1e-5
    };
    for (const auto &c : cases) {
        const levelsSample_t r = levelsAfterSample(c.black, c.sample, c.blackBefore, c.whiteBefore);
        EXPECT_NEAR(r.black, c.blackAfter, 1e-12) << c.black << " " << c.sample;
        EXPECT_NEAR(r.white, c.whiteAfter, 1e-12) << c.black << " " << c.sample;
        EXPECT_LT(r.black, r.white);
    }
}

TEST(transformRules, sampledColourTextInPerMille)
{
    const struct {
        bool inside;
        double r, g, b;
        const char *text;
    } cases[] = {
        {true, 0.1234, 1.0, 0.5, "[R:012.3%, G:100.0%, B:050.0%]  "},
        {true, 0.0, 0.0009, 0.9999, "[R:000.0%, G:000.0%, B:099.9%]  "},
        {true, 1.002, 0.5, 0.5, "[R:000.0%, G:000.0%, B:000.0%]  "},
        {true, 0.5, -0.01, 0.5, "[R:000.0%, G:000.0%, B:000.0%]  "},
        {true, 1e300, 0.5, 0.5, "[R:000.0%, G:000.0%, B:000.0%]  "},
        {false, 0.5, 0.5, 0.5, "[R:000.0%, G:000.0%, B:000.0%]  "},
    };
    for (const auto &c : cases)
        EXPECT_EQ(sampleValuesText(c.inside, c.r, c.g, c.b), QString(c.text)) << c.r << " " << c.g << " " << c.b;
}

TEST_F(mainWindowTest, rotateFlipAndCropABracketOnTheWorker)
{
    const QStringList files = bracketFiles("room_7exp", 3);
    if (files.isEmpty())
        GTEST_SKIP() << "shared test data folder not found; real-file test skipped";
    mainWindow w;
    const bool added = w.addImages(files);
    for (const auto &m : messages)
        ADD_FAILURE() << m.text.toStdString();
    ASSERT_TRUE(added);
    ASSERT_TRUE(loaded(w));
    processingProject *p = w.project;
    ASSERT_EQ(p->photos.size(), 3);
    const int W = p->width, H = p->height;
    ASSERT_EQ(p->previewDivisor, 1) << "a small bracket: the preview is the image";
    std::vector<std::vector<uint16_t>> before;
    for (const photoInfo_t &photo : p->photos)
        before.push_back(previewCopy(photo, *p));

    // Rotate 90 degrees clockwise: out(x, y) = in(y, H - 1 - x).
    bool background = false;
    ASSERT_TRUE(runTransform(w, w.rotateCwAct, &background));
    EXPECT_TRUE(background) << "the window went on while the worker ran";
    EXPECT_TRUE(w.interfaceEnabled());
    EXPECT_EQ(w.lastTransformMode, TRANSFORM_ROTATE_CW);
    ASSERT_EQ(p->width, H);
    ASSERT_EQ(p->height, W);
    for (int k = 0; k < 3; ++k) {
        const uint16_t *after = p->photos[k].preview;
        for (const QPoint &pt : {QPoint(0, 0), QPoint(H - 1, 0), QPoint(5, 17), QPoint(H - 1, W - 1)}) {
            const size_t out = (size_t(pt.y()) * size_t(H) + size_t(pt.x())) * 3;
            const size_t in = (size_t(H - 1 - pt.x()) * size_t(W) + size_t(pt.y())) * 3;
            for (int c = 0; c < 3; ++c)
                ASSERT_EQ(after[out + c], before[size_t(k)][in + c]) << "photo " << k << " at " << pt.x() << ","
                                                                     << pt.y();
        }
        ASSERT_NE(p->photos[k].thumbnail, nullptr);
        EXPECT_EQ(p->photos[k].thumbnail->width() < p->photos[k].thumbnail->height(), true) << "thumbnail follows";
    }

    // Back with a counter-clockwise turn, then a vertical flip.
    ASSERT_TRUE(runTransform(w, w.rotateCcwAct));
    ASSERT_EQ(p->width, W);
    EXPECT_EQ(previewCopy(p->photos[1], *p), before[1]);
    ASSERT_TRUE(runTransform(w, w.flipVerticalAct));
    const uint16_t *flipped = p->photos[0].preview;
    EXPECT_EQ(flipped[0], before[0][size_t(H - 1) * size_t(W) * 3]);

    // A crop from the crop tool's rectangle: mode 5 without any warp value.
    cropRect rect;
    rect.left = 10;
    rect.top = 20;
    rect.right = 110;
    rect.bottom = 80;
    rect.width = 100;
    rect.height = 60;
    QSignalSpy done(&w, &mainWindow::transformFinished);
    w.cropMode = true;
    w.applyCropping(rect);
    EXPECT_FALSE(w.cropMode);
    ASSERT_TRUE(waitFor([&] { return done.count() > 0; }));
    EXPECT_TRUE(done.first().at(0).toBool());
    EXPECT_EQ(w.lastTransformMode, TRANSFORM_CROP);
    EXPECT_EQ(p->width, 100);
    EXPECT_EQ(p->height, 60);
    EXPECT_TRUE(messages.empty());
}

TEST_F(mainWindowTest, flipAnHdrImage)
{
    const QString hdr = testSupport::testDataFile("radiance/mpi_atrium_3.hdr");
    if (hdr.isEmpty())
        GTEST_SKIP() << "shared test data folder not found; real-file test skipped";
    dialogAcceptor acceptor;
    mainWindow w;
    ASSERT_TRUE(w.addImages({hdr}));
    ASSERT_TRUE(loaded(w));
    processingProject *p = w.project;
    ASSERT_EQ(p->photos.size(), 1);
    ASSERT_TRUE(p->photos[0].isFloat);
    ASSERT_TRUE(p->hdrImage.levels[0].data);
    const int W = p->width, H = p->height;
    const float *data = static_cast<const float *>(p->hdrImage.levels[0].data);
    const std::vector<float> before(data, data + size_t(W) * size_t(H) * 3);

    ASSERT_TRUE(runTransform(w, w.flipHorizontalAct));
    ASSERT_EQ(p->width, W);
    const float *after = static_cast<const float *>(p->hdrImage.levels[0].data);
    for (const QPoint &pt : {QPoint(0, 0), QPoint(W - 1, H - 1), QPoint(17, 40)}) {
        const size_t out = (size_t(pt.y()) * size_t(W) + size_t(pt.x())) * 3;
        const size_t in = (size_t(pt.y()) * size_t(W) + size_t(W - 1 - pt.x())) * 3;
        for (int c = 0; c < 3; ++c)
            EXPECT_EQ(after[out + c], before[in + c]) << pt.x() << "," << pt.y();
    }
    ASSERT_TRUE(runTransform(w, w.rotate180Act));
    EXPECT_EQ(p->width, W);
    EXPECT_EQ(p->height, H);
    // A half turn after a mirror is a vertical mirror of the original.
    after = static_cast<const float *>(p->hdrImage.levels[0].data);
    EXPECT_EQ(after[0], before[size_t(H - 1) * size_t(W) * 3]);
    EXPECT_TRUE(messages.empty());
}

TEST_F(mainWindowTest, transformThatCannotWriteItsFilesIsReportedAndChangesNothing)
{
    const QStringList files = bracketFiles("room_7exp", 2);
    if (files.isEmpty())
        GTEST_SKIP() << "shared test data folder not found; real-file test skipped";
    mainWindow w;
    ASSERT_TRUE(w.addImages(files));
    ASSERT_TRUE(loaded(w));
    processingProject *p = w.project;
    const int W = p->width, H = p->height;
    const std::vector<uint16_t> before = previewCopy(p->photos[0], *p);

    // The photos' new files go to the session folder: one that cannot hold
    // files (a path below a plain file) fails like a full disk, even for root.
    const QString session = p->sessionPath;
    const QString blocker = testSupport::scratchDir() + "/not-a-folder";
    testSupport::writeFile(blocker, "x");
    p->sessionPath = blocker + "/session";
    const bool ok = runTransform(w, w.rotateCwAct);
    p->sessionPath = session;
    EXPECT_FALSE(ok);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].kind, styledMessageBox::Error);
    EXPECT_TRUE(messages[0].text.contains("stays as it was"));
    EXPECT_EQ(p->width, W);
    EXPECT_EQ(p->height, H);
    EXPECT_EQ(previewCopy(p->photos[0], *p), before);
    EXPECT_TRUE(w.interfaceEnabled());
    EXPECT_FALSE(w.transformRunning());

    // With the folder back the same transform works.
    messages.clear();
    EXPECT_TRUE(runTransform(w, w.rotateCwAct));
    EXPECT_EQ(p->width, H);
    EXPECT_TRUE(messages.empty());
}

TEST_F(mainWindowTest, levelAndWhiteBalanceSamplesGoToTheLayerAndHistory)
{
    mainWindow w;
    w.clearHistory();
    processingProject *p = w.project;
    p->layerSettings[0].blackPointValue = 0.0;
    p->layerSettings[0].whitePointValue = 0.5;
    rgbDouble_t sample;
    sample.r = sample.g = sample.b = sample.lum = 0.8;
    w.sampleTakenSlot(1, 0, sample);
    EXPECT_NEAR(p->layerSettings[0].blackPointValue, 0.8 - 1e-5, 1e-12);
    EXPECT_DOUBLE_EQ(p->layerSettings[0].whitePointValue, 0.8);
    EXPECT_EQ(w.historyRow(w.historyList->count() - 1)->description(), "Black level sample taken");

    sample.r = 0.8;
    sample.g = 0.6;
    sample.b = 0.4;
    w.sampleTakenSlot(3, 0, sample);
    EXPECT_EQ(w.historyRow(w.historyList->count() - 1)->description(), "White balance sample taken");
    EXPECT_NE(p->layerSettings[0].temperature, 1.0) << "a warm sample moves the temperature";
    EXPECT_EQ(w.sampleMode, 0);
    // Undo brings the levels of before the white-balance sample back.
    w.undo();
    EXPECT_DOUBLE_EQ(p->layerSettings[0].temperature, 1.0);
}
