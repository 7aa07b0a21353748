#include "documents/projectFileWorkers.h"

#include "app/programOptionsSettings.h"
#include "app/rawFileIO.h"
#include "imageio/exifReader.h"
#include "imageio/exiftoolDaemon.h"
#include "project/photoLoading.h"
#include "project/processingProject.h"

#include "../imageio/writeFailure.h"
#include "testSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QStandardPaths>
#include <QTemporaryFile>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

namespace
{
QByteArray fileBytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// A project of three small photos in its session files, a ghost mask, layers
// 1 and 3 with masks and an HDR image: what the window holds after a merge.
class projectSaveTest : public ::testing::Test
{
protected:
    static constexpr int W = 64, H = 48;

    void SetUp() override
    {
        dir = testSupport::freshDir();
        options.reset(new programOptionsSettings);
        options->scratchpad.pathCurrent = testSupport::freshDir("scratch");
        optionsInstance = options.get();
        project = makeProject();
        ASSERT_TRUE(project);
        const int bitDepths[3] = {1, 2, 1};
        const double evs[3] = {-2, 0, 2};
        for (int p = 0; p < 3; ++p) {
            photoInfo_t photo;
            photo.id = 7 + p * 50; // labels 8, 58, 8 (ids 7 and 107 share one)
            photo.filePath = dir + QString("/IMG_%1.JPG").arg(p);
            photo.bitDepth = bitDepths[p];
            photo.ev = evs[p];
            pyramid source;
            ASSERT_TRUE(source.makePyramid(W, H, 1, 2, 3, true));
            uint16_t *px = static_cast<uint16_t *>(source.levels[0].data);
            for (int i = 0; i < W * H * 3; ++i)
                px[i] = uint16_t(i * 131 + p * 5000 + 0x3F);
            ASSERT_TRUE(project->writeToTempFile(photo, 0, source, qint64(W) * H * 6));
            project->photos.append(photo);
            // The photo record now owns its session file; the copy in the
            // list is the project's.
            photo.tempFiles[0] = nullptr;
        }
        project->photos[2].id = 107;
        uint8_t *ghost = static_cast<uint8_t *>(project->ghostLabelMask.levels[0].data);
        for (int i = 0; i < project->previewWidth * project->previewHeight; ++i)
            ghost[i] = uint8_t(i % 3 == 0 ? 0 : (i % 3 == 1 ? 8 : 58));
        for (int l : {1, 3}) {
            ASSERT_TRUE(project->layerMasks[l].makePyramid(W, H, 1, 1, 1, true));
            uint8_t *m = static_cast<uint8_t *>(project->layerMasks[l].levels[0].data);
            for (int i = 0; i < W * H; ++i)
                m[i] = uint8_t(i * l);
        }
        float *hdr = static_cast<float *>(project->hdrImage.levels[0].data);
        for (int i = 0; i < W * H * 3; ++i)
            hdr[i] = 0.001f * float(i);
        project->hdrState.hdrMedian = 0.3;
        project->hdrState.lcCorrection = 1.25;
    }
    void TearDown() override
    {
        project.reset();
        optionsInstance = nullptr;
    }

    std::unique_ptr<processingProject> makeProject()
    {
        auto p = std::make_unique<processingProject>(nullptr);
        p->width = W;
        p->height = H;
        if (!p->allocatePreview() || !p->allocatePyramids())
            return nullptr;
        return p;
    }

    projectSaveJob_t job(bool inputs, bool hdr)
    {
        projectSaveJob_t j;
        j.target = dir + "/session.lmpx";
        j.saveInputs = inputs;
        j.saveHdr = hdr;
        j.options.deghost = 1;
        j.options.autoAlign = 1;
        j.options.hdrMethod = 1;
        for (int l : {0, 1, 3}) {
            j.layerPresent[l] = true;
            j.layerNames[l] = l ? QString("layer %1").arg(l) : QString();
            j.layerOpacity[l] = l ? 0.2 * l : 1.0;
            j.layerSettings[l] = QByteArray("[Tone mapping]\nid=") + QByteArray::number(l) + "\n";
        }
        // A carrier for the second photo only.
        const QString carrier = dir + "/dummy_1.jpg";
        QFile c(carrier);
        EXPECT_TRUE(c.open(QIODevice::WriteOnly));
        c.write("\xff\xd8 exif \xff\xd9");
        c.close();
        j.carrierPaths = QStringList{QString(), carrier, QString()};
        return j;
    }

    QString dir;
    std::unique_ptr<programOptionsSettings> options;
    std::unique_ptr<processingProject> project;
};

} // namespace

// Saved and read back: names, EVs, masked pixels as the photo loader reads
// them, carriers, ghost labels remapped to new ids, layers in slot order,
// the HDR image and its preprocessing values.
TEST_F(projectSaveTest, aSavedProjectReadsBack)
{
    projectSaveJob_t j = job(true, true);
    std::atomic<uint64_t> progress{0};
    QString error;
    ASSERT_TRUE(saveProjectFile(project.get(), j, &error, &progress)) << error.toStdString();
    EXPECT_EQ(progress.load(), uint64_t(5) * W * H * 6); // three photos and the HDR image
    EXPECT_FALSE(QFile::exists(j.carrierPaths[1]));      // copied in and removed

    projectHeader_t raw;
    projectFileHeader_t h;
    QString reason;
    ASSERT_EQ(readProjectFileHeader(j.target, raw, h, &reason), projectHeaderResult_t::ok) << reason.toStdString();
    EXPECT_EQ(h.photoNames[0], "IMG_0.JPG");
    EXPECT_EQ(h.evs[2], 2.0);
    EXPECT_EQ(h.ghostLabels[2], 8);
    EXPECT_EQ(h.ghostWidth, project->previewWidth);
    EXPECT_EQ(h.hdrMethod, 1);
    EXPECT_EQ(h.layerNames[3], "layer 3");
    EXPECT_DOUBLE_EQ(h.layerOpacity[3], 0.6);
    EXPECT_EQ(h.layerMaskOffsets[2], 0);
    EXPECT_EQ(h.hdrPreprocess[0], 0.3);
    EXPECT_EQ(h.hdrPreprocess[1], 1.25);

    // The photo loader reads the runs from the copied header.
    for (int p = 0; p < 3; ++p) {
        std::vector<uint16_t> px(size_t(W) * H * 3);
        bool decoded = false;
        ASSERT_TRUE(photoLoading::readProjectPhoto(j.target, raw, p, W, H, px.data(), &decoded));
        ASSERT_TRUE(decoded);
        const uint16_t keep = p == 1 ? 0xFFF0 : 0xFFC0;
        for (int i = 0; i < W * H * 3; ++i)
            ASSERT_EQ(px[size_t(i)], uint16_t(uint16_t(i * 131 + p * 5000 + 0x3F) & keep)) << p << " " << i;
    }
    const QString carrierOut = dir + "/carrier.jpg";
    ASSERT_TRUE(photoLoading::extractExifCarrier(j.target, raw, 1, carrierOut, nullptr));
    EXPECT_EQ(fileBytes(carrierOut), QByteArray("\xff\xd8 exif \xff\xd9"));

    // Into a fresh project whose photos got new ids 0, 1, 2.
    auto fresh = makeProject();
    ASSERT_TRUE(fresh);
    projectLoadResult_t result;
    ASSERT_TRUE(readProjectExtras(fresh.get(), j.target, h, {0, 1, 2}, result)) << result.problems.join(", ").toStdString();
    EXPECT_TRUE(result.ghostMaskRead);
    const uint8_t *ghost = static_cast<const uint8_t *>(fresh->ghostLabelMask.levels[0].data);
    for (int i = 0; i < fresh->previewWidth * fresh->previewHeight; ++i) {
        // Stored 8 belonged to the first photo (id 7) -> label 1; 58 -> 2.
        const uint8_t expected = i % 3 == 0 ? 0 : (i % 3 == 1 ? 1 : 2);
        ASSERT_EQ(ghost[i], expected) << i;
    }
    ASSERT_TRUE(result.hdrImageRead);
    const float *hdr = static_cast<const float *>(fresh->hdrImage.levels[0].data);
    for (int i = 0; i < W * H * 3; ++i)
        ASSERT_EQ(hdr[i], 0.001f * float(i));
    ASSERT_EQ(result.layers.size(), 3u);
    EXPECT_EQ(result.layers[0].slot, 0);
    EXPECT_TRUE(result.layers[0].mask.empty());
    EXPECT_EQ(result.layers[2].slot, 3);
    EXPECT_EQ(result.layers[2].name, "layer 3");
    EXPECT_EQ(result.layers[2].settings, QByteArray("[Tone mapping]\nid=3\n"));
    for (int i = 0; i < W * H; ++i)
        ASSERT_EQ(result.layers[1].mask[size_t(i)], uint8_t(i));
}

// Without the photos the pixel runs hold zeros and the ghost size is 0;
// without the HDR image there is no HDR offset and no preprocessing values.
TEST_F(projectSaveTest, optionsDecideWhatIsEmbedded)
{
    projectSaveJob_t j = job(false, false);
    QString error;
    ASSERT_TRUE(saveProjectFile(project.get(), j, &error)) << error.toStdString();
    projectHeader_t raw;
    projectFileHeader_t h;
    ASSERT_EQ(readProjectFileHeader(j.target, raw, h), projectHeaderResult_t::ok);
    EXPECT_FALSE(h.inputsEmbedded());
    EXPECT_EQ(h.ghostMaskOffset, 0);
    EXPECT_EQ(h.hdrOffset, 0);
    EXPECT_EQ(h.hdrPreprocess[0], 0.0);
    std::vector<uint16_t> px(size_t(W) * H * 3, 1);
    ASSERT_TRUE(photoLoading::readProjectPhoto(j.target, raw, 0, W, H, px.data(), nullptr));
    EXPECT_EQ(std::count(px.begin(), px.end(), 0), long(px.size()));
}

// A save cut short by a full disk, or stopped, keeps the previous project
// file byte for byte; a later save succeeds.
TEST_F(projectSaveTest, aFailedSaveKeepsThePreviousProject)
{
    projectSaveJob_t j = job(true, true);
    QString error;
    ASSERT_TRUE(saveProjectFile(project.get(), j, &error)) << error.toStdString();
    const QByteArray before = fileBytes(j.target);
    project->hdrState.hdrMedian = 0.9; // something to change
    {
        writeFailure::fileSizeLimit limit(66000);
        EXPECT_FALSE(saveProjectFile(project.get(), job(true, true), &error));
        EXPECT_FALSE(error.isEmpty());
    }
    EXPECT_EQ(fileBytes(j.target), before);
    std::atomic<bool> stop{true};
    EXPECT_FALSE(saveProjectFile(project.get(), job(true, true), &error, nullptr, &stop));
    EXPECT_EQ(fileBytes(j.target), before);
    EXPECT_TRUE(saveProjectFile(project.get(), job(true, true), &error)) << error.toStdString();
    EXPECT_NE(fileBytes(j.target), before);
}

// A project with more photos than the file holds is refused, not cut.
TEST_F(projectSaveTest, moreThanAHundredPhotosAreRefused)
{
    for (int i = 0; i < 98; ++i)
        project->photos.append(photoInfo_t());
    QString error;
    EXPECT_FALSE(saveProjectFile(project.get(), job(true, false), &error));
    EXPECT_TRUE(error.contains("100")) << error.toStdString();
    EXPECT_FALSE(QFile::exists(dir + "/session.lmpx"));
}

// A photo larger than one block is read from its session file block by block
// and masked across the block boundaries; a session file cut short fails the
// save with a reason and keeps the previous project.
TEST_F(projectSaveTest, largePhotosAreMaskedAcrossBlocksAndAShortSessionFileFails)
{
    const int w = 400, h = 300; // 720,000 bytes a photo: the runs span blocks of 1,000,000 bytes
    auto big = std::make_unique<processingProject>(nullptr);
    big->width = w;
    big->height = h;
    ASSERT_TRUE(big->allocatePreview());
    for (int p = 0; p < 2; ++p) {
        photoInfo_t photo;
        photo.id = p;
        photo.filePath = dir + QString("/BIG_%1.TIF").arg(p);
        photo.bitDepth = 2 - p;
        pyramid source;
        ASSERT_TRUE(source.makePyramid(w, h, 1, 2, 3, true));
        uint16_t *px = static_cast<uint16_t *>(source.levels[0].data);
        for (int i = 0; i < w * h * 3; ++i)
            px[i] = uint16_t(i * 2654435761u >> 7);
        ASSERT_TRUE(big->writeToTempFile(photo, 0, source, qint64(w) * h * 6));
        big->photos.append(photo);
    }
    projectSaveJob_t j = job(true, false);
    j.carrierPaths.clear();
    QString error;
    ASSERT_TRUE(saveProjectFile(big.get(), j, &error)) << error.toStdString();
    projectHeader_t raw;
    projectFileHeader_t header;
    ASSERT_EQ(readProjectFileHeader(j.target, raw, header), projectHeaderResult_t::ok);
    for (int p = 0; p < 2; ++p) {
        std::vector<uint16_t> px(size_t(w) * h * 3);
        ASSERT_TRUE(photoLoading::readProjectPhoto(j.target, raw, p, w, h, px.data(), nullptr));
        const uint16_t keep = p == 0 ? 0xFFF0 : 0xFFC0;
        for (int i = 0; i < w * h * 3; ++i)
            ASSERT_EQ(px[size_t(i)], uint16_t(uint16_t(i * 2654435761u >> 7) & keep)) << p << " " << i;
    }

    const QByteArray before = fileBytes(j.target);
    ASSERT_TRUE(big->photos[1].tempFiles[0]->resize(qint64(w) * h * 6 - 1));
    EXPECT_FALSE(saveProjectFile(big.get(), j, &error));
    EXPECT_TRUE(error.contains("temporary file")) << error.toStdString();
    EXPECT_EQ(fileBytes(j.target), before);
}

// The EXIF carriers the save makes itself, through exiftool beside the
// compression: a photo whose source has tags gets a carrier holding them,
// one whose source is gone goes without, a carrier handed in ready is taken
// as it is, and no carrier stays in the session folder, whether the save
// succeeded or failed part-way.
TEST_F(projectSaveTest, theSaveMakesTheExifCarriers)
{
    const QString source = testSupport::testDataFile("exif_jpeg/Canon_40D.jpg");
    if (source.isEmpty() || QStandardPaths::findExecutable("exiftool").isEmpty())
        GTEST_SKIP() << "sample photos (../shared/testdata) or exiftool missing";
    exiftoolDaemon *exiftool = project->exiftool;
    ASSERT_TRUE(exiftool);
    // The version query at start-up is answered through this thread's
    // events; the save's own thread then has exiftool to itself.
    QElapsedTimer wait;
    wait.start();
    while (exiftool->isRunning() && exiftool->getVersion().isEmpty() && wait.elapsed() < 30000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    ASSERT_TRUE(exiftool->isRunning());

    projectSaveJob_t j = job(true, false); // photo 1 comes with a ready carrier
    j.exiftool = exiftool;
    for (int p = 0; p < 3; ++p) {
        exifCarrierJob_t c;
        c.carrier = project->sessionDirPath() + QString("/dummy_%1.jpg").arg(p);
        c.source = p == 2 ? dir + "/gone.jpg" : source;
        j.carrierJobs.push_back(c);
    }
    auto carriersLeft = [&]() {
        int left = 0;
        for (const exifCarrierJob_t &c : j.carrierJobs)
            left += QFile::exists(c.carrier) ? 1 : 0;
        return left;
    };
    QString error;
    ASSERT_TRUE(saveProjectFile(project.get(), j, &error)) << error.toStdString();
    EXPECT_EQ(carriersLeft(), 0);

    projectHeader_t raw;
    projectFileHeader_t h;
    ASSERT_EQ(readProjectFileHeader(j.target, raw, h), projectHeaderResult_t::ok);
    EXPECT_NE(h.exifOffsets[0], 0);
    EXPECT_EQ(h.exifOffsets[2], 0);
    const QString made = dir + "/made.jpg", ready = dir + "/ready.jpg";
    ASSERT_TRUE(photoLoading::extractExifCarrier(j.target, raw, 0, made, nullptr));
    exifInfo_t fromSource {}, fromCarrier {};
    ASSERT_TRUE(exifReadFile(source, &fromSource));
    ASSERT_TRUE(exifReadFile(made, &fromCarrier));
    EXPECT_STRNE(fromSource.model, "");
    EXPECT_STREQ(fromCarrier.model, fromSource.model);
    EXPECT_EQ(fromCarrier.iso, fromSource.iso);
    exifFreeStripTables(&fromSource);
    exifFreeStripTables(&fromCarrier);
    ASSERT_TRUE(photoLoading::extractExifCarrier(j.target, raw, 1, ready, nullptr));
    EXPECT_EQ(fileBytes(ready), QByteArray("\xff\xd8 exif \xff\xd9"));

    // The second photo's session file is cut short: the save fails there,
    // with carriers made or being made for the photos after it.
    const QByteArray before = fileBytes(j.target);
    j.carrierPaths.clear();
    ASSERT_TRUE(project->photos[1].tempFiles[0]->resize(qint64(W) * H * 6 - 1));
    EXPECT_FALSE(saveProjectFile(project.get(), j, &error));
    EXPECT_EQ(carriersLeft(), 0);
    EXPECT_EQ(fileBytes(j.target), before);
}
