// Photo loading through the real loader: prepare on this thread, decode with
// loadPhotoWorker (as the main window does), then check the slot-0 temporary
// file, the preview, the thumbnail, the orientation and the limits.

#include "app/programOptionsSettings.h"
#include "app/utils.h"
#include "imageio/exiftoolDaemon.h"
#include "imageio/radianceRGBE.h"
#include "project/loadPhotoWorker.h"
#include "project/photoLoading.h"
#include "project/processingProject.h"
#include "widgets/styledMessageBox.h"

#include "testSupport.h"

#include <QDir>
#include <QImage>
#include <QThread>
#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

namespace {

struct loadResult {
    int prepare = -1;
    int load = -1;
    QString error;
};

class loadPhotoTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        options.reset(new programOptionsSettings);
        options->scratchpad.pathCurrent = testSupport::freshDir();
        options->colorManagement.enabled = false;
        options->loadRAW.useLibraw = true;
        optionsInstance = options.get();
        messages.clear();
        // The project shows no box: its messages go to its handler.
        styledMessageBox::setMessageHook([this](int, const QString &, const QString &text, int) {
            boxes << text;
            return int(styledMessageBox::Ok);
        });
        newProject();
    }
    void TearDown() override
    {
        EXPECT_TRUE(boxes.isEmpty()) << boxes.join('|').toStdString();
        styledMessageBox::setMessageHook(nullptr);
        buffers.clear();
        project.reset();
        optionsInstance = nullptr;
    }
    void newProject()
    {
        buffers.clear();
        project.reset(new processingProject(nullptr));
        ASSERT_FALSE(project->constructionFailed);
        project->messageHandler = [this](projectMessage_t, const QString &text) { messages << text; };
    }

    photoInfo_t record(const QString &path, bool autoRotate = true)
    {
        photoInfo_t p;
        p.filePath = path;
        p.autoRotate = autoRotate;
        p.loadDivisor = 1;
        if (fileTypeOf(path) == FILETYPE_RAW) {
            // The RAW dialog's default switches; "-t 0": the decoder does not
            // turn the image, so neither does the probe.
            p.autoRotate = false;
            p.rawArguments = QStringList{"-w", "-t", "0", "-W", "-c", "-q", "2", "-6", "-s", "0", path};
        }
        return p;
    }

    // Prepares the photo; the worker itself is returned (not run) so that
    // callers may run several at once.
    std::unique_ptr<loadPhotoWorker> prepare(const QString &path, int index, loadResult &r, bool hdrPresent = false,
                                             bool autoRotate = true)
    {
        photoInfo_t p = record(path, autoRotate);
        r.prepare = project->loadPhotoPrepare(p, index, 1, hdrPresent);
        if (r.prepare != 0)
            return nullptr;
        buffers.emplace_back(new pyramid);
        EXPECT_TRUE(buffers.back()->makePyramid(project->width, project->height, 1, 2, 3, true));
        return std::unique_ptr<loadPhotoWorker>(new loadPhotoWorker(project.get(), p, *buffers.back(), index));
    }

    loadResult load(const QString &path, int index = 0, bool hdrPresent = false)
    {
        loadResult r;
        std::unique_ptr<loadPhotoWorker> w = prepare(path, index, r, hdrPresent);
        if (!w)
            return r;
        QObject::connect(w.get(), &loadPhotoWorker::finished,
                         [&r](int, QString message, int) { r.error = message; });
        r.load = w->loadPhoto();
        // The project owns the record's buffers either way; a failed photo is
        // removed again, as the main window does.
        project->photos.append(w->photo);
        if (r.load == 0)
            project->makePhotoThumbnail(project->photos.last());
        else
            project->removePhoto(w->photo.id);
        return r;
    }

    // The photo's full-size image as its slot-0 file holds it.
    std::unique_ptr<pyramid> storedImage(photoInfo_t &photo)
    {
        auto back = std::make_unique<pyramid>();
        EXPECT_TRUE(back->makePyramid(project->width, project->height, 1, 2, 3, true));
        EXPECT_TRUE(project->readFromTempFile(photo, 0, *back, qint64(project->width) * project->height * 6));
        return back;
    }

    // The slot-0 file holds the decoded pixels: reduced as the loader
    // reduces them, they give exactly the photo's preview (and not black).
    void expectTempFileMatches(photoInfo_t &photo)
    {
        const std::unique_ptr<pyramid> back = storedImage(photo);
        const int pw = project->previewWidth, ph = project->previewHeight;
        std::vector<uint16_t> preview(size_t(pw) * ph * 3);
        photoLoading::reduceToPreview(static_cast<uint16_t *>(back->levels[0].data), project->width,
                                      project->height, project->previewDivisor, preview.data(), pw, ph);
        EXPECT_EQ(memcmp(preview.data(), photo.preview, preview.size() * 2), 0);
        EXPECT_TRUE(std::any_of(preview.begin(), preview.end(), [](uint16_t v) { return v > 0; }));
    }

    std::unique_ptr<programOptionsSettings> options;
    std::unique_ptr<processingProject> project;
    std::vector<std::unique_ptr<pyramid>> buffers;
    QStringList messages;
    QStringList boxes; // message boxes shown (none expected)
};

} // namespace

TEST_F(loadPhotoTest, bracketsLoadWithTheirExposureValues)
{
    LUMIDRA_REQUIRE_TESTDATA();
    struct set_t {
        const char *folder;
        bool tooSmall;
    } sets[] = {{"brackets/room_7exp", false},
                {"brackets/canal_aeb_misaligned_3exp", false},
                {"brackets/airport_moving_people_3exp", false},
                {"brackets/sony_aeb_night_5exp", true}}; // 200 x 113
    for (const set_t &s : sets) {
        SCOPED_TRACE(s.folder);
        newProject();
        messages.clear();
        const QDir dir(testSupport::testDataFile(s.folder));
        const QStringList files = dir.entryList({"*.jpg", "*.JPG"}, QDir::Files, QDir::Name);
        ASSERT_GE(files.size(), 3);
        for (int i = 0; i < files.size(); ++i) {
            const loadResult r = load(dir.filePath(files[i]), i);
            if (s.tooSmall) {
                EXPECT_EQ(r.prepare, 2);
                ASSERT_EQ(messages.size(), 1);
                EXPECT_EQ(messages[0], "The photo is too small (200 x 113). The minimum required size is 128 x 128 pixels.");
                break;
            }
            ASSERT_EQ(r.prepare, 0) << files[i].toStdString();
            ASSERT_EQ(r.load, 0) << files[i].toStdString() << " " << r.error.toStdString();
            photoInfo_t &p = project->photos.last();
            expectTempFileMatches(p);
            EXPECT_TRUE(p.preview);
            EXPECT_TRUE(p.thumbnail && !p.thumbnail->isNull());
            EXPECT_GT(p.exif.exposureTime, 0.0f);
        }
        if (s.tooSmall)
            continue;
        EXPECT_TRUE(messages.isEmpty());
        project->sortPhotosByEV();
        EXPECT_TRUE(project->evFromExif);
        // EVs follow log2 of exposure time x ISO / f-number^2 of the EXIF data.
        const photoInfo_t &ref = project->photos[0];
        for (const photoInfo_t &p : project->photos) {
            const double expect = std::log2(double(p.exif.exposureTime) / ref.exif.exposureTime *
                                            double(p.exif.iso) / ref.exif.iso *
                                            double(ref.exif.fNumber * ref.exif.fNumber) / (p.exif.fNumber * p.exif.fNumber));
            EXPECT_NEAR(p.ev - ref.ev, expect, 1e-3) << p.filePath.toStdString();
            EXPECT_DOUBLE_EQ(p.evExif, p.ev);
        }
        // The recentred middle photo has EV 0, and the AEB sets agree with
        // their exposure bias.
        EXPECT_NEAR(project->photos[project->idxMid].ev, 0.0, 1e-9);
        EXPECT_FALSE(project->minEVdiff());
        if (QString(s.folder).contains("aeb") || QString(s.folder).contains("airport")) {
            EXPECT_TRUE(project->biasDistinct);
            EXPECT_FALSE(project->aebEVdiff());
        }
        // The content estimate agrees in order with the EXIF values.
        for (const photoInfo_t &p : project->photos) {
            for (const photoInfo_t &q : project->photos) {
                if (p.ev > q.ev + 1.5) {
                    EXPECT_GT(p.evAuto, q.evAuto) << p.filePath.toStdString() << " vs " << q.filePath.toStdString();
                }
            }
        }
    }
}

TEST_F(loadPhotoTest, everyFormatLoadsOrIsRefused)
{
    LUMIDRA_REQUIRE_TESTDATA();
    struct case_t {
        const char *file;
        int prepare; // expected prepare status
        int load;    // expected load status when prepared
    } cases[] = {
        {"tiff/tiger-rgb-16b-none.tif", 2, -1},    // 73 x 76: too small
        {"tiff/tiger-rgb-16b-lzw-pred2.tif", 2, -1},
        {"tiff/kodim02-lzw.tif", 0, 0},
        {"tiff/tiff_adobe_deflate.tif", 0, 0},
        {"tiff/pc260001.tif", 0, 0},
        {"tiff/Tiff_Pack.tif", 0, 0},
        {"tiff/Tiff_NoComp.tif", 0, 0},
        {"tiff/quad-tile.tif", 1, -1},             // tiled: refused with its reason when first examined
        {"tiff/tiger-rgb-f32-none.tif", 2, -1},
        {"tiff/tiger-rgb-f32-lzw-pred3.tif", 2, -1},
        {"tiff/predictor-3-rgb-f32.tif", 0, 0},    // 32-bit float: an HDR image
        {"tiff/rgb32f_color.tiff", 2, -1},         // 32 x 32
        {"tiff/rgb-3c-8b.tiff", 0, 0},
        {"tiff/rgb-3c-16b.tiff", 0, 0},
        {"radiance/mpi_atrium_3.hdr", 0, 0},
        {"radiance/image1.hdr", 2, -1},            // 128 x 85
        {"radiance/scale.hdr", 2, -1},
        {"radiance/rgbr4x4.hdr", 2, -1},
        {"openexr/comp_zip.exr", 0, 0},
        {"openexr/comp_piz.exr", 0, 0},
        {"openexr/GammaChart.exr", 0, 0},
        {"openexr/test.exr", 2, -1},               // 10 x 20
        {"openexr/overexposed_gradient_float_piz.exr", 2, -1},
        {"fits/allsky_rosat.fits", 0, 0},
        {"fits/gc_2mass_k.fits", 0, 0},
        {"fits/gc_msx_e.fits", 1, -1},             // BITPIX -64: wrong data format
        {"raw/colorchart.dng", 0, 0},
        {"exif_jpeg/Canon_40D.jpg", 2, -1},        // 100 x 68
        {"exif_jpeg/Nikon_D70.jpg", 2, -1},        // 100 x 66
        {"exif_jpeg/exiftool_Canon.jpg", 2, -1},   // 8 x 8
        {"exif_jpeg/exiftool_Canon1DmkIII.jpg", 2, -1},
        {"exif_jpeg/exiftool_Sony.jpg", 2, -1},
        {"exif_jpeg/exiftool_NikonD70.jpg", 2, -1},
        {"exif_jpeg/exiftool_OlympusE1.jpg", 2, -1},
        {"exif_jpeg/exiftool_Pentax.jpg", 2, -1},
        {"exif_jpeg/sony-alpha-6000.jpg", 0, 0},
        {"exif_jpeg/canon_hdr_YES.jpg", 0, 0},     // turned upright
    };
    for (const case_t &c : cases) {
        SCOPED_TRACE(c.file);
        newProject();
        messages.clear();
        const loadResult r = load(testSupport::testDataFile(c.file));
        if (c.prepare == -2) { // small test images: loaded or refused as too small
            EXPECT_TRUE(r.prepare == 0 || (r.prepare == 2 && messages.value(0).startsWith("The photo is too small")));
            continue;
        }
        ASSERT_EQ(r.prepare, c.prepare);
        if (r.prepare == 2) {
            ASSERT_EQ(messages.size(), 1);
            EXPECT_TRUE(messages[0].startsWith("The photo is too small")) << messages[0].toStdString();
        }
        if (r.prepare != 0)
            continue;
        EXPECT_EQ(r.load, c.load) << r.error.toStdString();
        if (r.load != 0)
            continue;
        photoInfo_t &p = project->photos.last();
        ASSERT_TRUE(p.preview);
        EXPECT_TRUE(p.thumbnail && !p.thumbnail->isNull());
        if (p.isFloat) {
            // HDR images live in the project's float image; no slot-0 file.
            EXPECT_FALSE(p.tempFiles[0]);
            const float *f = static_cast<const float *>(project->hdrImage.levels[0].data);
            double sum = 0;
            for (int64_t i = 0; i < int64_t(project->width) * project->height * 3; ++i)
                sum += f[i];
            EXPECT_GT(sum, 0.0);
            // HDR preprocessing measured the image.
            EXPECT_GT(project->hdrState.hdrMedian, 0.0);
            EXPECT_LE(project->hdrState.hdrMedian, 0.9);
        } else {
            expectTempFileMatches(p);
        }
        // A preview that is not all black.
        double sum = 0;
        for (int64_t i = 0; i < int64_t(project->previewWidth) * project->previewHeight * 3; ++i)
            sum += p.preview[i];
        EXPECT_GT(sum, 0.0);
    }
}

TEST_F(loadPhotoTest, orientationIsAppliedAndMustAgree)
{
    LUMIDRA_REQUIRE_TESTDATA();
    const QString turned = testSupport::testDataFile("exif_jpeg/canon_hdr_YES.jpg"); // orientation 6, 2048 x 1536
    const loadResult first = load(turned, 0);
    ASSERT_EQ(first.load, 0) << first.error.toStdString();
    EXPECT_EQ(project->width, 1536);
    EXPECT_EQ(project->height, 2048);
    EXPECT_EQ(project->previewWidth * project->previewDivisor >= 1536, true);
    EXPECT_LT(project->previewWidth, project->previewHeight);
    // The stored image is the file turned a quarter clockwise.
    QImage src(turned);
    src = src.convertToFormat(QImage::Format_RGB32);
    const std::unique_ptr<pyramid> stored = storedImage(project->photos.last());
    const uint16_t *img = static_cast<const uint16_t *>(stored->levels[0].data);
    for (int y = 0; y < 1536; y += 311)
        for (int x = 0; x < 2048; x += 257) {
            // Source (x, y) lands at column 1535 - y, row x.
            const size_t at = (size_t(x) * 1536 + (1535 - y)) * 3;
            EXPECT_EQ(img[at], qRed(src.pixel(x, y)) * 257);
        }

    // The same picture without EXIF (orientation unknown) cannot join it.
    const QString plain = testSupport::freshDir("plain") + "/plain.jpg";
    ASSERT_TRUE(src.save(plain, "JPG", 90));
    const loadResult second = load(plain, 1);
    EXPECT_EQ(second.prepare, 0);
    EXPECT_EQ(second.load, 1);
    EXPECT_EQ(second.error, "All photos must have the same orientation.");
}

TEST_F(loadPhotoTest, concurrentWorkersNeverSeeAHalfTurnedSize)
{
    LUMIDRA_REQUIRE_TESTDATA();
    const QString turned = testSupport::testDataFile("exif_jpeg/canon_hdr_YES.jpg");
    const int count = 4;
    std::vector<std::unique_ptr<loadPhotoWorker>> workers;
    for (int i = 0; i < count; ++i) {
        loadResult r;
        workers.push_back(prepare(turned, i, r));
        ASSERT_EQ(r.prepare, 0);
    }
    std::vector<int> status(count, -1);
    std::vector<std::unique_ptr<QThread>> threads;
    for (int i = 0; i < count; ++i) {
        threads.emplace_back(QThread::create([&, i] { status[i] = workers[i]->loadPhoto(); }));
        threads.back()->start();
    }
    for (auto &t : threads)
        t->wait();
    for (int i = 0; i < count; ++i)
        project->photos.append(workers[i]->photo);
    const std::unique_ptr<pyramid> first = storedImage(project->photos[0]);
    for (int i = 0; i < count; ++i) {
        EXPECT_EQ(status[i], 0) << i;
        // Every photo holds the same turned image.
        const std::unique_ptr<pyramid> stored = storedImage(project->photos[i]);
        EXPECT_EQ(memcmp(stored->levels[0].data, first->levels[0].data, size_t(1536) * 2048 * 6), 0) << i;
    }
    EXPECT_EQ(project->width, 1536);
    EXPECT_EQ(project->height, 2048);
}

TEST_F(loadPhotoTest, limitsAndHdrRules)
{
    const QString dir = testSupport::freshDir("limits");
    QImage small(127, 500, QImage::Format_RGB32);
    small.fill(Qt::gray);
    ASSERT_TRUE(small.save(dir + "/small.png"));
    QImage a(300, 200, QImage::Format_RGB32);
    a.fill(qRgb(10, 100, 200));
    ASSERT_TRUE(a.save(dir + "/a.png"));
    QImage b(200, 300, QImage::Format_RGB32);
    b.fill(Qt::white);
    ASSERT_TRUE(b.save(dir + "/b.png"));

    loadResult r = load(dir + "/small.png");
    EXPECT_EQ(r.prepare, 2);
    ASSERT_EQ(messages.size(), 1);
    EXPECT_EQ(messages[0], "The photo is too small (127 x 500). The minimum required size is 128 x 128 pixels.");
    EXPECT_EQ(project->lastErrorMessage, messages[0]);

    messages.clear();
    r = load(dir + "/a.png", 0);
    ASSERT_EQ(r.load, 0);
    // The 100th photo is accepted, the 101st is not.
    photoInfo_t p = record(dir + "/a.png");
    EXPECT_EQ(project->loadPhotoPrepare(p, 98, 100, false), 0);
    p = record(dir + "/a.png");
    EXPECT_EQ(project->loadPhotoPrepare(p, 99, 100, false), 2);
    EXPECT_EQ(messages.value(0), "Too many images!");

    struct { const char *name; QString file; bool hdrPresent; const char *message; } rules[] = {
        {"other size", dir + "/b.png", false, "Wrong image dimensions. All photos must be the same size."},
        {"after an HDR image", dir + "/a.png", true, "You can load only one HDR image."},
    };
    for (const auto &rule : rules) {
        messages.clear();
        photoInfo_t q = record(rule.file);
        EXPECT_EQ(project->loadPhotoPrepare(q, 1, 2, rule.hdrPresent), 2) << rule.name;
        EXPECT_EQ(messages.value(0), rule.message) << rule.name;
    }
    LUMIDRA_REQUIRE_TESTDATA();
    messages.clear();
    photoInfo_t hdr = record(testSupport::testDataFile("radiance/mpi_atrium_3.hdr"));
    EXPECT_EQ(project->loadPhotoPrepare(hdr, 1, 2, false), 2);
    EXPECT_EQ(messages.value(0), "Cannot load the HDR image right now.");

    // In a batch (quiet) no box is shown, the message is kept.
    messages.clear();
    project->quiet = true;
    photoInfo_t q = record(dir + "/b.png");
    EXPECT_EQ(project->loadPhotoPrepare(q, 1, 2, false), 2);
    EXPECT_TRUE(messages.isEmpty());
    EXPECT_EQ(project->lastErrorMessage, "Wrong image dimensions. All photos must be the same size.");
}

TEST_F(loadPhotoTest, damagedFilesGiveErrorsNotCrashes)
{
    LUMIDRA_REQUIRE_TESTDATA();
    const QString dir = testSupport::freshDir("damaged");
    struct { const char *source; const char *name; int keepBytes; } cuts[] = {
        {"tiff/tiger-rgb-16b-lzw-pred2.tif", "cut.tif", 3000},
        {"fits/gc_2mass_k.fits", "cut.fits", 50000},
        {"radiance/mpi_atrium_3.hdr", "cut.hdr", 100000},
        {"openexr/comp_piz.exr", "cut.exr", 30000},
        {"raw/colorchart.dng", "cut.dng", 200000},
        {"brackets/room_7exp/stack_room_exp_0.jpg", "cut.jpg", 20000},
    };
    for (const auto &c : cuts) {
        SCOPED_TRACE(c.name);
        newProject();
        const QByteArray bytes = testSupport::readFile(testSupport::testDataFile(c.source));
        ASSERT_TRUE(testSupport::writeFile(dir + "/" + c.name, bytes.left(c.keepBytes)));
        const loadResult r = load(dir + "/" + c.name);
        // Refused at prepare, refused at load, or (formats whose decoders fill
        // what is missing) loaded: never a crash.
        EXPECT_TRUE(r.prepare != 0 || r.load == 0 || r.load == 2) << r.prepare << " " << r.load;
        // Every refusal says why.
        if (r.prepare != 0) {
            EXPECT_FALSE(project->lastErrorMessage.isEmpty());
        } else if (r.load == 2) {
            EXPECT_FALSE(r.error.isEmpty());
        }
    }
    // Not an image at all, under each extension.
    for (const char *ext : {"jpg", "tif", "png", "hdr", "exr", "fits", "nef"}) {
        newProject();
        const QString path = dir + "/junk." + ext;
        ASSERT_TRUE(testSupport::writeFile(path, QByteArray(4096, '\x5a')));
        const loadResult r = load(path);
        EXPECT_NE(r.prepare, 0) << ext;
        EXPECT_FALSE(project->lastErrorMessage.isEmpty()) << ext;
    }
}

TEST_F(loadPhotoTest, colourManagementProfiles)
{
    LUMIDRA_REQUIRE_TESTDATA();
    options->colorManagement.enabled = true;
    newProject();
    if (project->exiftool)
        project->exiftool->start();
    // A JPEG with an embedded profile (the room bracket carries a 3,144-byte
    // display profile): no warning, the profile's bytes in the session.
    messages.clear();
    const QString withProfile = testSupport::testDataFile("brackets/room_7exp/stack_room_exp_2.jpg");
    const loadResult p = load(withProfile);
    EXPECT_EQ(p.prepare, 0);
    EXPECT_EQ(p.load, 0) << p.error.toStdString();
    EXPECT_TRUE(messages.isEmpty()) << messages.join("; ").toStdString();
    const QString profilePath = project->photos.value(0).profilePath;
    EXPECT_TRUE(profilePath.endsWith("/~profile0.icc"));
    const QByteArray profile = testSupport::readFile(profilePath);
    EXPECT_EQ(profile.size(), 3144);
    EXPECT_EQ(profile.mid(36, 4), QByteArray("acsp")) << "an ICC profile's signature";

    // A JPEG without one: a warning, then loading goes on.
    newProject();
    messages.clear();
    const QString plain = testSupport::freshDir("noProfile") + "/plain.jpg";
    QImage picture(400, 300, QImage::Format_RGB32);
    picture.fill(qRgb(120, 90, 60));
    ASSERT_TRUE(picture.save(plain, "JPEG"));
    const loadResult r = load(plain);
    EXPECT_EQ(r.prepare, 0);
    EXPECT_EQ(r.load, 0) << r.error.toStdString();
    ASSERT_EQ(messages.size(), 1);
    EXPECT_EQ(messages[0], "Failed to get color profile embedded in: plain.jpg. Assuming sRGB.");

    // A Radiance image gets a profile made for it.
    newProject();
    messages.clear();
    const loadResult h = load(testSupport::testDataFile("radiance/mpi_atrium_3.hdr"));
    EXPECT_EQ(h.prepare, 0) << messages.join("; ").toStdString();
    EXPECT_EQ(h.load, 0);
}

TEST_F(loadPhotoTest, radianceFileGoesThroughHdrPreprocessingAndNoiseFilter)
{
    // A small Radiance image made here: a wide ramp (0.02 .. 40) with a grain
    // pattern the noise filter smooths.
    const int w = 160, h = 130;
    std::vector<float> rgb(size_t(w) * h * 3);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const float base = 0.02f * std::pow(2000.0f, float(x) / (w - 1));
            const float grain = ((x * 7 + y * 13) % 5 - 2) * 0.03f * base;
            for (int c = 0; c < 3; ++c)
                rgb[(size_t(y) * w + x) * 3 + c] = base * (0.8f + 0.1f * c) + grain;
        }
    const QString path = testSupport::freshDir("radiance") + "/ramp.hdr";
    ASSERT_TRUE(imageSaver::saveRadianceRGBE(path, w, h, rgb.data(), false, 0, 1));

    struct run_t {
        std::vector<float> image;
        double median = 0, correction = 0;
    };
    auto loadWith = [&](bool noiseFilter) {
        run_t out;
        newProject();
        options->loadHDR.noiseFilter = noiseFilter;
        options->loadHDR.noiseFilterStrength = 60;
        options->loadHDR.noiseFilterSoftness = 3;
        options->processing.panoramaMode = true;
        const loadResult r = load(path);
        EXPECT_EQ(r.prepare, 0);
        EXPECT_EQ(r.load, 0) << r.error.toStdString();
        if (r.load != 0)
            return out;
        EXPECT_EQ(project->width, w);
        EXPECT_EQ(project->height, h);
        EXPECT_TRUE(project->photos.last().isFloat);
        EXPECT_TRUE(project->panoramaMode);
        const float *f = static_cast<const float *>(project->hdrImage.levels[0].data);
        out.image.assign(f, f + size_t(w) * h * 3);
        out.median = project->hdrState.hdrMedian;
        out.correction = project->hdrState.lcCorrection;
        return out;
    };

    const run_t plain = loadWith(false);
    ASSERT_EQ(plain.image.size(), rgb.size());
    // HDR preprocessing: the image was brought to 0..1 and measured.
    const auto range = std::minmax_element(plain.image.begin(), plain.image.end());
    EXPECT_GE(*range.first, -1e-3f);
    EXPECT_LE(*range.second, 1.0f + 1e-3f);
    EXPECT_GT(*range.second, 0.5f);
    EXPECT_GE(plain.median, 0.001);
    EXPECT_LE(plain.median, 0.9);
    EXPECT_NE(plain.median, hdrGenerationState_t().hdrMedian);
    EXPECT_GE(plain.correction, 0.5);
    EXPECT_LE(plain.correction, 1.0);
    // A preview and thumbnail made from the processed image.
    double sum = 0;
    for (int64_t i = 0; i < int64_t(project->previewWidth) * project->previewHeight * 3; ++i)
        sum += project->photos.last().preview[i];
    EXPECT_GT(sum, 0.0);

    // The load options' noise filter changes the image, not its measurement.
    const run_t filtered = loadWith(true);
    ASSERT_EQ(filtered.image.size(), rgb.size());
    EXPECT_NE(filtered.image, plain.image);
    EXPECT_DOUBLE_EQ(filtered.median, plain.median);
}

namespace {

// out(x, y) of one transform mode on a float RGB image, from the mode's rule.
std::vector<float> referenceTransform(const std::vector<float> &in, int w, int h, int mode, int x1, int y1,
                                      int x2, int y2, int &outW, int &outH)
{
    outW = (mode == 0 || mode == 2) ? h : mode == 5 ? x2 - x1 : w;
    outH = (mode == 0 || mode == 2) ? w : mode == 5 ? y2 - y1 : h;
    std::vector<float> out(size_t(outW) * outH * 3);
    for (int y = 0; y < outH; ++y)
        for (int x = 0; x < outW; ++x) {
            int sx = x, sy = y;
            switch (mode) {
            case 0: sx = w - 1 - y; sy = x; break;
            case 2: sx = y; sy = h - 1 - x; break;
            case 3: sx = w - 1 - x; break;
            case 5: sx = x + x1; sy = y + y1; break;
            default: break;
            }
            for (int c = 0; c < 3; ++c)
                out[(size_t(y) * outW + x) * 3 + c] = in[(size_t(sy) * w + sx) * 3 + c];
        }
    return out;
}

} // namespace

TEST_F(loadPhotoTest, loadedHdrImageFollowsRotationMirrorAndCrop)
{
    LUMIDRA_REQUIRE_TESTDATA();
    // A loaded Radiance file: no merge ran, so nothing but the loader marks
    // the float image as present.
    const loadResult r = load(testSupport::testDataFile("radiance/mpi_atrium_3.hdr"));
    ASSERT_EQ(r.prepare, 0);
    ASSERT_EQ(r.load, 0) << r.error.toStdString();
    ASSERT_EQ(project->width, 1024);
    ASSERT_EQ(project->height, 676);
    int w = project->width, h = project->height;
    const float *f = static_cast<const float *>(project->hdrImage.levels[0].data);
    std::vector<float> expected(f, f + size_t(w) * h * 3);
    const std::vector<uint16_t> previewBefore(project->photos.last().preview,
                                              project->photos.last().preview +
                                                  size_t(project->previewWidth) * project->previewHeight * 3);

    struct step_t {
        int mode, x1, y1, x2, y2;
    } steps[] = {{0, 0, 0, 0, 0}, {3, 0, 0, 0, 0}, {2, 0, 0, 0, 0}, {5, 33, 20, 1001, 650}, {0, 0, 0, 0, 0}};
    for (const step_t &s : steps) {
        int nw = 0, nh = 0;
        expected = referenceTransform(expected, w, h, s.mode, s.x1, s.y1, s.x2, s.y2, nw, nh);
        ASSERT_TRUE(project->transformImage(s.mode, s.x1, s.y1, s.x2, s.y2, 0, 0, 0, 0)) << "mode " << s.mode;
        w = nw;
        h = nh;
        ASSERT_EQ(project->width, w) << "mode " << s.mode;
        ASSERT_EQ(project->height, h) << "mode " << s.mode;
        ASSERT_EQ(project->hdrImage.levels[0].width, w);
        ASSERT_EQ(project->hdrImage.levels[0].height, h);
        const float *now = static_cast<const float *>(project->hdrImage.levels[0].data);
        size_t wrong = 0;
        for (size_t i = 0; i < expected.size(); ++i)
            wrong += now[i] != expected[i];
        EXPECT_EQ(wrong, 0u) << "mode " << s.mode << ": pixels differing from the reference";
    }
    // The lower levels were rebuilt from the transformed image.
    const pyramidLevel_t &l1 = project->hdrImage.levels[1];
    ASSERT_EQ(l1.width, w / 2);
    const float *l0 = static_cast<const float *>(project->hdrImage.levels[0].data);
    const float *p1 = static_cast<const float *>(l1.data);
    const float mean = (l0[0] + l0[3] + l0[size_t(w) * 3] + l0[size_t(w) * 3 + 3]) / 4;
    EXPECT_NEAR(p1[0], mean, 1e-4f + std::fabs(mean) * 1e-4f);
    // The photo's preview shows the transformed image (it changed from the
    // un-rotated one and is not blank).
    const uint16_t *preview = project->photos.last().preview;
    const std::vector<uint16_t> previewAfter(preview,
                                             preview + size_t(project->previewWidth) * project->previewHeight * 3);
    EXPECT_NE(previewAfter, std::vector<uint16_t>(previewBefore.begin(), previewBefore.begin() + previewAfter.size()));
    EXPECT_GT(*std::max_element(previewAfter.begin(), previewAfter.end()), 1000);
}

// A RAW photo added without a dialog gets its decoder switches from the stored
// RAW options; the test builds no list of its own.
TEST_F(loadPhotoTest, rawPhotoLoadsWithTheStoredOptions)
{
    LUMIDRA_REQUIRE_TESTDATA();
    newProject();
    const QString path = testSupport::testDataFile("raw/colorchart.dng");
    photoInfo_t p;
    p.filePath = path;
    p.loadDivisor = 1;
    ASSERT_EQ(project->loadPhotoPrepare(p, 0, 1, false), 0);
    ASSERT_FALSE(p.rawArguments.isEmpty());
    EXPECT_EQ(p.rawArguments.last(), path);
    pyramid buffer;
    ASSERT_TRUE(buffer.makePyramid(project->width, project->height, 1, 2, 3, true));
    loadPhotoWorker worker(project.get(), p, buffer, 0);
    QString error;
    QObject::connect(&worker, &loadPhotoWorker::finished, [&error](int, QString message, int) { error = message; });
    EXPECT_EQ(worker.loadPhoto(), 0) << error.toStdString();
    // The project owns a loaded photo's buffers and frees them with itself.
    project->photos.append(worker.photo);
}
