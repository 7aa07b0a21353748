// Saving the result from the window: every format decodes with the expected
// size and depth, the EXIF of the source photo is carried over, a failed
// write (read-only folder, full disk) leaves no file under the final name
// and keeps an older one, and the failure is reported.

#include "../imageio/writeFailure.h"
#include "hdr/saveResultWorker.h"
#include "project/processingProject.h"
#include "widgets/myQTabWidget.h"
#include "windowFixture.h"

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QProcess>
#include <QSignalBlocker>
#include <QSignalSpy>
#include <QStandardPaths>
#include <lcms2.h>
#include <tiffio.h>
#include <vector>

namespace {

const int W = 96, H = 64;

// A finished result in the project as the post-processing tab leaves it (so
// the save writes it as it is).
void fillResult(mainWindow &w)
{
    processingProject *p = w.project;
    p->width = W;
    p->height = H;
    ASSERT_TRUE(p->outputImage.makePyramid(W, H, 1, 2, 3, true));
    auto *rgb = static_cast<uint16_t *>(p->outputImage.levels[0].data);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            uint16_t *px = rgb + (size_t(y) * W + x) * 3;
            px[0] = uint16_t(x * 65535 / (W - 1));
            px[1] = uint16_t(y * 65535 / (H - 1));
            px[2] = 20000;
        }
    const QSignalBlocker block(w.rightTab);
    w.rightTab->setCurrentIndex(2);
}

void addSourcePhoto(mainWindow &w, const QString &path)
{
    photoInfo_t photo;
    photo.filePath = path;
    photo.included = 1;
    w.project->photos.append(photo);
}

// A source photo in Adobe RGB, its profile in the session, set as the
// project's photo profile (the colour transforms follow it).
void addAdobeRgbPhoto(mainWindow &w, const QString &path)
{
    photoInfo_t photo;
    photo.filePath = path;
    photo.included = 1;
    photo.profilePath = w.project->sessionDirPath() + "/photo_profile.icc";
    ASSERT_TRUE(QFile::copy(processingProject::stockProfilePath("AdobeRGB1998.icc"), photo.profilePath));
    w.project->photos.append(photo);
    ASSERT_TRUE(w.project->setMonitorProfile(photo));
    ASSERT_TRUE(w.project->transformsAreValid());
}

// Waits for the end of a save by processing events (not through a nested
// event loop: an earlier test's automatic run may have asked the application
// to quit, which makes every new event loop return at once).
bool waitForSave(QSignalSpy &ended)
{
    QElapsedTimer t;
    t.start();
    while (ended.isEmpty() && t.elapsed() < 120000)
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
    return !ended.isEmpty();
}

bool saveAndWait(mainWindow &w, const QString &name)
{
    QSignalSpy ended(&w, &mainWindow::resultSaveEnded);
    w.saveResultSlot(false, nullptr, false, name, false);
    if (!waitForSave(ended))
        return false;
    return ended.first().at(0).toBool();
}

QString exiftoolTag(const QString &file, const QString &tag)
{
    QProcess p;
    p.start("exiftool", {"-s3", "-" + tag, file});
    if (!p.waitForFinished(30000))
        return QString();
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

class saveResultTest : public mainWindowTest
{
protected:
    void SetUp() override
    {
        mainWindowTest::SetUp();
        options->savingResult.jpegQuality = 95;
        options->savingResult.dpi = 240;
        options->savingResult.tiffBitDepth = 2;
        options->savingResult.transferExif = true;
        options->savingResult.transferExifGPS = true;
    }
};

} // namespace

TEST_F(saveResultTest, everyFormatDecodesWithItsSizeAndDepth)
{
    mainWindow w;
    fillResult(w);
    const QString dir = testSupport::freshDir();
    struct {
        const char *name;
        int tiffBits;
        int depth;
    } cases[] = {{"r.jpg", 1, 8}, {"r.png", 1, 8}, {"r8.tif", 1, 8}, {"r16.tif", 2, 16}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        options->savingResult.tiffBitDepth = c.tiffBits;
        const QString path = dir + "/" + c.name;
        ASSERT_TRUE(saveAndWait(w, path)) << qPrintable(w.lastSaveFailure);
        if (QString(c.name).endsWith(".tif")) {
            TIFF *tif = TIFFOpen(QFile::encodeName(path).constData(), "r");
            ASSERT_NE(tif, nullptr);
            uint32_t tw = 0, th = 0;
            uint16_t bits = 0, spp = 0;
            TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &tw);
            TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &th);
            TIFFGetField(tif, TIFFTAG_BITSPERSAMPLE, &bits);
            TIFFGetField(tif, TIFFTAG_SAMPLESPERPIXEL, &spp);
            EXPECT_EQ(QSize(int(tw), int(th)), QSize(W, H));
            EXPECT_EQ(bits, c.depth);
            EXPECT_EQ(spp, 3);
            TIFFClose(tif);
        } else {
            QImageReader reader(path);
            EXPECT_EQ(reader.size(), QSize(W, H));
        }
        EXPECT_FALSE(QFile::exists(path + "~"));
        EXPECT_EQ(w.currentResultFileName(), path);
        EXPECT_TRUE(w.resultSaved);
    }
    // The PNG is written as is; the gradient survives (8-bit values).
    const QImage png(dir + "/r.png");
    EXPECT_EQ(qRed(png.pixel(W - 1, 0)), 255);
    EXPECT_EQ(qGreen(png.pixel(0, H - 1)), 255);
    EXPECT_EQ(qBlue(png.pixel(5, 5)), 20000 * 255 / 65535);
}

TEST_F(saveResultTest, exifOfTheSourcePhotoIsCarriedOver)
{
    const QString source = testSupport::testDataFile("exif_jpeg/Canon_40D.jpg");
    if (source.isEmpty() || QStandardPaths::findExecutable("exiftool").isEmpty())
        GTEST_SKIP() << "sample photo or exiftool missing";
    mainWindow w;
    fillResult(w);
    addSourcePhoto(w, source);
    addSourcePhoto(w, source);
    const QString dir = testSupport::freshDir();
    for (const char *name : {"e.jpg", "e.tif"}) {
        SCOPED_TRACE(name);
        const QString path = dir + "/" + name;
        ASSERT_TRUE(saveAndWait(w, path)) << qPrintable(w.lastSaveFailure);
        EXPECT_EQ(exiftoolTag(path, "Model"), exiftoolTag(source, "Model"));
        EXPECT_EQ(exiftoolTag(path, "DateTimeOriginal"), exiftoolTag(source, "DateTimeOriginal"));
        EXPECT_EQ(exiftoolTag(path, "XResolution"), "240");
        EXPECT_EQ(exiftoolTag(path, "Software").left(7), "Lumidra");
        if (QString(name).endsWith(".jpg")) { // TIFF has no comment tag
            EXPECT_TRUE(exiftoolTag(path, "Comment").startsWith("HDR created and tone mapped with Lumidra"));
        }
    }
    for (const shownMessage_t &m : messages)
        ADD_FAILURE() << "unexpected message: " << qPrintable(m.text);
}

TEST_F(saveResultTest, failedWritesLeaveNoFileAndKeepTheOldOne)
{
    mainWindow w;
    fillResult(w);
    // A read-only folder: nothing appears, the failure is shown.
    const QString locked = writeFailure::readOnlyFolder(testSupport::freshDir("locked") + "/locked");
    const QString lockedName = locked + "/r.jpg";
    EXPECT_FALSE(saveAndWait(w, lockedName));
    EXPECT_FALSE(QFile::exists(lockedName));
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].kind, int(styledMessageBox::Error));
    EXPECT_TRUE(messages[0].text.startsWith("Cannot write file:"));
    EXPECT_FALSE(w.resultSaved);

    // A full disk (file-size limit) over an older result: it stays as it was.
    const QString dir = testSupport::freshDir("full");
    for (const char *name : {"old.jpg", "old.tif", "old.png"}) {
        SCOPED_TRACE(name);
        messages.clear();
        const QString path = dir + "/" + name;
        ASSERT_TRUE(testSupport::writeFile(path, "older result"));
        {
            writeFailure::fileSizeLimit limit(64);
            EXPECT_FALSE(saveAndWait(w, path));
        }
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        EXPECT_EQ(f.readAll(), QByteArray("older result"));
        EXPECT_EQ(messages.size(), 1u);
    }
    const QStringList left = QDir(dir).entryList(QDir::Files | QDir::Hidden | QDir::System);
    EXPECT_EQ(left, QStringList({"old.jpg", "old.png", "old.tif"}));
}

TEST_F(saveResultTest, automaticRunFailureEndsWithNonZeroCode)
{
    startParams.autoProcess = true;
    mainWindow w;
    fillResult(w);
    const QString locked = writeFailure::readOnlyFolder(testSupport::freshDir("locked") + "/locked");
    w.lastResultName = locked + "/auto.tif";
    QSignalSpy ended(&w, &mainWindow::resultSaveEnded);
    w.saveResultNoDialog();
    ASSERT_TRUE(waitForSave(ended));
    EXPECT_FALSE(ended.first().at(0).toBool());
    EXPECT_NE(w.requestedExitCode, 0);
    EXPECT_TRUE(messages.empty());
    EXPECT_FALSE(QFile::exists(w.lastResultName));
}

TEST_F(saveResultTest, batchStepChoosesAFreeNameInsideTheOutputFolder)
{
    mainWindow w;
    fillResult(w);
    const QString dir = testSupport::freshDir("batch");
    w.project->batchRunning = true;
    w.batchTask.outputFolder = dir;
    w.batchTask.taskName = "../escape/IMG_1";
    w.batchTask.jpegQuality = 80;
    w.batchTask.transferExif = false;
    const QString base = dir + "/.._escape_IMG_1";
    ASSERT_TRUE(testSupport::writeFile(base + ".jpg", "taken"));
    ASSERT_TRUE(testSupport::writeFile(base + "_1.lmpx", "taken"));

    struct {
        int type;
        const char *expected; // "" = nothing written
    } cases[] = {{0, "_2.jpg"}, {1, ".tif"}, {2, ".png"}, {21, ""}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.type);
        w.project->batchOutputType = c.type;
        w.batchLogLines.clear();
        QEventLoop loop;
        w.batchEventLoop = &loop;
        QSignalSpy ended(&w, &mainWindow::resultSaveEnded);
        ASSERT_TRUE(w.processBatchTask(QString(), false));
        if (!*c.expected) {
            EXPECT_TRUE(w.batchLogLines.join("").contains("Skipping tone mapping"));
            continue;
        }
        ASSERT_TRUE(waitForSave(ended));
        EXPECT_EQ(w.lastResultName, base + c.expected);
        EXPECT_TRUE(QFile::exists(base + c.expected));
        EXPECT_TRUE(w.batchLogLines.join("").contains("Saved as")) << qPrintable(w.batchLogLines.join("\n"));
    }
    w.batchEventLoop = nullptr;
    // Nothing left the output folder.
    EXPECT_FALSE(QFile::exists(testSupport::scratchDir() + "/escape"));
    // With the overwrite flag the first name is replaced.
    w.project->batchOutputType = 0;
    w.batchTask.overwrite = true;
    QEventLoop loop;
    w.batchEventLoop = &loop;
    QSignalSpy ended(&w, &mainWindow::resultSaveEnded);
    ASSERT_TRUE(w.processBatchTask(QString(), false));
    ASSERT_TRUE(waitForSave(ended));
    w.batchEventLoop = nullptr;
    EXPECT_EQ(w.lastResultName, base + ".jpg");
    EXPECT_NE(testSupport::readFile(base + ".jpg"), QByteArray("taken"));
    EXPECT_TRUE(messages.empty());
}

TEST_F(saveResultTest, exportWritesTheSessionTiffAndStartsTheEditor)
{
    mainWindow w;
    fillResult(w);
    ASSERT_FALSE(w.project->sessionDirPath().isEmpty());
    const QString dir = testSupport::freshDir("editor");
    const QString marker = dir + "/opened.txt";
    const QString script = dir + "/editor.sh";
    ASSERT_TRUE(testSupport::writeFile(script, QString("#!/bin/sh\nprintf '%s' \"$1\" > '%1'\n").arg(marker).toUtf8()));
    QFile::setPermissions(script, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    options->externalEditor.enabled = true;
    options->externalEditor.path = script;
    options->externalEditor.args = "\"%R\"";
    options->externalEditor.bitDepth = 2;
    options->externalEditor.transferExif = false;
    const QString expected = w.project->sessionDirPath() + "/Lumidra_export.tif";
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        QFile::remove(marker);
        QSignalSpy ended(&w, &mainWindow::resultSaveEnded);
        w.exportToExternalEditorSlot();
        ASSERT_TRUE(waitForSave(ended));
        EXPECT_TRUE(ended.first().at(0).toBool());
        QElapsedTimer t;
        t.start();
        while (!QFile::exists(marker) && t.elapsed() < 20000)
            QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
        EXPECT_EQ(QString::fromUtf8(testSupport::readFile(marker)), QDir::toNativeSeparators(expected));
        TIFF *tif = TIFFOpen(QFile::encodeName(expected).constData(), "r");
        ASSERT_NE(tif, nullptr);
        uint16_t bits = 0;
        TIFFGetField(tif, TIFFTAG_BITSPERSAMPLE, &bits);
        EXPECT_EQ(bits, 16);
        TIFFClose(tif);
    }
    EXPECT_TRUE(messages.empty());
    // An export is not the saved result.
    EXPECT_FALSE(w.resultSaved);
}

namespace {

// The embedded colour profile of a saved file (through exiftool).
QByteArray embeddedProfile(const QString &file)
{
    QProcess p;
    p.start("exiftool", {"-icc_profile", "-b", file});
    if (!p.waitForFinished(30000))
        return QByteArray();
    return p.readAllStandardOutput();
}

// 8- or 16-bit RGB of a saved TIFF or JPEG as doubles 0..1.
std::vector<double> savedPixels(const QString &file, int *width, int *height)
{
    std::vector<double> rgb;
    if (file.endsWith(".tif")) {
        TIFF *tif = TIFFOpen(QFile::encodeName(file).constData(), "r");
        if (!tif)
            return rgb;
        uint32_t w = 0, h = 0;
        uint16_t bits = 0;
        TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &w);
        TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &h);
        TIFFGetField(tif, TIFFTAG_BITSPERSAMPLE, &bits);
        std::vector<uint8_t> row(size_t(TIFFScanlineSize(tif)));
        for (uint32_t y = 0; y < h; ++y) {
            TIFFReadScanline(tif, row.data(), y, 0);
            for (size_t i = 0; i < size_t(w) * 3; ++i)
                rgb.push_back(bits == 16 ? reinterpret_cast<uint16_t *>(row.data())[i] / 65535.0 : row[i] / 255.0);
        }
        TIFFClose(tif);
        *width = int(w);
        *height = int(h);
        return rgb;
    }
    const QImage image = QImage(file).convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QRgb c = image.pixel(x, y);
            rgb.insert(rgb.end(), {qRed(c) / 255.0, qGreen(c) / 255.0, qBlue(c) / 255.0});
        }
    *width = image.width();
    *height = image.height();
    return rgb;
}

// CIE Lab (D50) of RGB values in the given profile.
std::vector<cmsCIELab> toLab(const QByteArray &profile, const std::vector<double> &rgb)
{
    std::vector<cmsCIELab> lab(rgb.size() / 3);
    cmsHPROFILE in = cmsOpenProfileFromMem(profile.constData(), cmsUInt32Number(profile.size()));
    cmsHPROFILE labProfile = cmsCreateLab4Profile(nullptr);
    cmsHTRANSFORM t = in ? cmsCreateTransform(in, TYPE_RGB_DBL, labProfile, TYPE_Lab_DBL,
                                               INTENT_RELATIVE_COLORIMETRIC, 0)
                         : nullptr;
    if (t) {
        cmsDoTransform(t, rgb.data(), lab.data(), cmsUInt32Number(lab.size()));
        cmsDeleteTransform(t);
    } else {
        lab.clear();
    }
    cmsCloseProfile(labProfile);
    if (in)
        cmsCloseProfile(in);
    return lab;
}

} // namespace

// With colour management on, a result converted to sRGB (sRGB profile
// embedded) and one kept in the photo's own profile (that profile embedded)
// show the same colours: a chart of saturated and neutral patches agrees
// within a small colour difference once both are read through their
// embedded profiles.
TEST_F(saveResultTest, srgbAndOwnProfileGiveTheSameColours)
{
    if (QStandardPaths::findExecutable("exiftool").isEmpty())
        GTEST_SKIP() << "exiftool missing";
    options->colorManagement.enabled = true;
    options->colorManagement.intent = INTENT_RELATIVE_COLORIMETRIC;
    options->colorManagement.inputProfile = 2;   // Adobe RGB (1998)
    options->colorManagement.outputProfile = 1;
    options->savingResult.transferExif = false;
    mainWindow w;
    fillResult(w);
    // A 6 x 4 chart of 16 x 16 patches in Adobe RGB, some outside sRGB's gamut
    // edge only slightly (the conversion may clip those a little).
    const uint16_t chart[24][3] = {
        {30000, 20000, 15000}, {50000, 38000, 32000}, {22000, 30000, 42000}, {24000, 28000, 16000},
        {32000, 32000, 48000}, {30000, 50000, 44000}, {52000, 30000, 10000}, {18000, 22000, 44000},
        {48000, 22000, 24000}, {20000, 12000, 24000}, {40000, 46000, 14000}, {54000, 40000, 10000},
        {12000, 14000, 36000}, {22000, 36000, 18000}, {42000, 14000, 14000}, {56000, 50000, 8000},
        {46000, 22000, 38000}, {8000, 30000, 40000}, {62000, 62000, 62000}, {48000, 48000, 48000},
        {36000, 36000, 36000}, {24000, 24000, 24000}, {14000, 14000, 14000}, {5000, 5000, 5000}};
    auto *rgb = static_cast<uint16_t *>(w.project->outputImage.levels[0].data);
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x)
            std::copy_n(chart[(y / 16) * 6 + x / 16], 3, rgb + (size_t(y) * W + x) * 3);
    ASSERT_NO_FATAL_FAILURE(addAdobeRgbPhoto(w, testSupport::scratchDir() + "/photo.jpg"));
    const photoInfo_t photo = w.project->photos.last();

    const QByteArray srgbProfile = testSupport::readFile(processingProject::stockProfilePath("sRGB.icm"));
    const QByteArray ownProfile = testSupport::readFile(photo.profilePath);
    const QString dir = testSupport::freshDir("colour");
    for (const char *suffix : {".tif", ".jpg"}) {
        SCOPED_TRACE(suffix);
        const bool tiff = QString(suffix) == ".tif";
        options->savingResult.tiffBitDepth = 2;
        std::vector<cmsCIELab> lab[2];
        std::vector<double> numbers[2];
        for (int convert : {1, 0}) {
            options->savingResult.convertToSrgb = convert == 1;
            const QString path = dir + (convert ? "/srgb" : "/own") + suffix;
            ASSERT_TRUE(saveAndWait(w, path)) << qPrintable(w.lastSaveFailure);
            const QByteArray embedded = embeddedProfile(path);
            EXPECT_TRUE(embedded == (convert ? srgbProfile : ownProfile)) << "the embedded profile";
            int sw = 0, sh = 0;
            numbers[convert] = savedPixels(path, &sw, &sh);
            ASSERT_EQ(QSize(sw, sh), QSize(W, H));
            lab[convert] = toLab(embedded, numbers[convert]);
            ASSERT_EQ(lab[convert].size(), size_t(W) * H);
        }
        // The two files differ in their numbers but not in their colours.
        // Patches outside sRGB's gamut are clipped by the conversion (a
        // sample at 0 or at the maximum in the sRGB file): not judged.
        double worst = 0;
        QString each;
        int judged = 0;
        for (int patch = 0; patch < 24; ++patch) {
            const size_t centre = size_t((patch / 6) * 16 + 8) * W + size_t((patch % 6) * 16 + 8);
            bool clipped = false;
            for (int c = 0; c < 3; ++c) {
                const double v = numbers[1][centre * 3 + c];
                clipped = clipped || v <= 0.001 || v >= 0.999;
            }
            if (clipped && patch < 18)
                continue;
            ++judged;
            const double d = cmsDeltaE(&lab[0][centre], &lab[1][centre]);
            worst = std::max(worst, d);
            each += QString(" %1:%2 (L %3/%4)").arg(patch).arg(d, 0, 'f', 2).arg(lab[0][centre].L, 0, 'f', 1).arg(lab[1][centre].L, 0, 'f', 1);
        }
        EXPECT_LT(worst, tiff ? 1.0 : 2.5) << qPrintable(each);
        EXPECT_GE(judged, 20);
        // The conversion did happen: a saturated green patch has other numbers.
        const size_t green = (size_t(8) * W + (5 * 16 + 8)) * 3;
        EXPECT_GT(std::abs(numbers[0][green] - numbers[1][green]) + std::abs(numbers[0][green + 2] - numbers[1][green + 2]),
                  0.02);
    }
    for (const shownMessage_t &m : messages)
        ADD_FAILURE() << "unexpected message: " << qPrintable(m.text);
}

// With colour management on, the EXIF transfer and the colour profile go into
// the result together: the photo's camera data and the pixels' own profile
// (not a profile the photo may carry), in JPEG and TIFF alike.
TEST_F(saveResultTest, exifAndProfileTogether)
{
    const QString source = testSupport::testDataFile("exif_jpeg/Canon_40D.jpg");
    if (source.isEmpty() || QStandardPaths::findExecutable("exiftool").isEmpty())
        GTEST_SKIP() << "sample photo or exiftool missing";
    options->colorManagement.enabled = true;
    options->colorManagement.intent = INTENT_RELATIVE_COLORIMETRIC;
    options->colorManagement.inputProfile = 2; // Adobe RGB (1998)
    options->colorManagement.outputProfile = 1;
    mainWindow w;
    fillResult(w);
    ASSERT_NO_FATAL_FAILURE(addAdobeRgbPhoto(w, source));
    const photoInfo_t photo = w.project->photos.last();
    const QByteArray ownProfile = testSupport::readFile(photo.profilePath);
    const QByteArray srgbProfile = testSupport::readFile(processingProject::stockProfilePath("sRGB.icm"));

    const QString dir = testSupport::freshDir("exifAndProfile");
    for (const char *name : {"r.jpg", "r.tif"}) {
        for (int convert : {0, 1}) {
            SCOPED_TRACE(QStringLiteral("%1, to sRGB %2").arg(name).arg(convert).toStdString());
            options->savingResult.convertToSrgb = convert == 1;
            const QString path = dir + "/" + QString::number(convert) + name;
            ASSERT_TRUE(saveAndWait(w, path)) << qPrintable(w.lastSaveFailure);
            EXPECT_EQ(exiftoolTag(path, "Model"), exiftoolTag(source, "Model"));
            EXPECT_EQ(exiftoolTag(path, "Software").left(7), "Lumidra");
            EXPECT_TRUE(embeddedProfile(path) == (convert ? srgbProfile : ownProfile)) << "the embedded profile";
        }
    }
    for (const shownMessage_t &m : messages)
        ADD_FAILURE() << "unexpected message: " << qPrintable(m.text);
}
