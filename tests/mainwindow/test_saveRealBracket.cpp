// A real bracket merged, tone mapped and saved by the program itself (the
// automatic run, offscreen, fresh home and settings) in every result format:
// each file decodes with libtiff or Qt at the photos' size and the expected
// depth, and exiftool reads the base photo's camera, lens, exposure and date
// from it.

#include "testSupport.h"

#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <QProcess>
#include <QStandardPaths>
#include <tiffio.h>

namespace {

QString tagOf(const QString &file, const QString &tag)
{
    QProcess e;
    e.start("exiftool", {"-s3", "-" + tag, file});
    if (!e.waitForFinished(30000))
        return QString();
    return QString::fromUtf8(e.readAllStandardOutput()).trimmed();
}

} // namespace

TEST(saveRealBracket, everyFormatDecodesAndCarriesTheExif)
{
    LUMIDRA_REQUIRE_TESTDATA();
    const QString program = testSupport::binaryDir() + "/lumidra";
    if (!QFileInfo(program).isExecutable())
        GTEST_SKIP() << "the program binary is not built: " << program.toStdString();
    const QString dir = testSupport::testDataFile("brackets/airport_moving_people_3exp");
    QStringList photos;
    for (const QString &name : QDir(dir).entryList(QDir::Files, QDir::Name))
        photos << dir + "/" + name;
    ASSERT_EQ(photos.size(), 3);
    const QString base = photos[0];   // the 0 EV photo: its metadata is carried over
    const bool exiftool = !QStandardPaths::findExecutable("exiftool").isEmpty();

    const QString root = testSupport::freshDir();
    for (const char *sub : {"home", "config", "tmp", "out"})
        QDir().mkpath(root + "/" + sub);
    const struct {
        const char *name;
        const char *option;
        int depth;   // 0: read with Qt
        QByteArray qtFormat;
    } rows[] = {
        {"result.jpg", nullptr, 0, "jpeg"},
        {"result.png", nullptr, 0, "png"},
        {"result8.tif", "--tiff8", 8, ""},
        {"result16.tif", "--tiff16", 16, ""},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.name);
        const QString name = root + "/out/" + row.name;
        QStringList args{"--auto", "--output_fn=" + name};
        if (row.option)
            args << row.option;
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("HOME", root + "/home");
        env.insert("XDG_CONFIG_HOME", root + "/config");
        env.insert("TMPDIR", root + "/tmp");
        env.remove("DISPLAY");
        p.setProcessEnvironment(env);
        p.setWorkingDirectory(root);
        p.start(program, args + photos);
        ASSERT_TRUE(p.waitForStarted(30000));
        ASSERT_TRUE(p.waitForFinished(300000)) << "the run ends by itself";
        ASSERT_EQ(p.exitStatus(), QProcess::NormalExit);
        ASSERT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
        EXPECT_FALSE(QFileInfo::exists(name + "~"));

        if (row.depth) {
            TIFF *tif = TIFFOpen(QFile::encodeName(name).constData(), "r");
            ASSERT_NE(tif, nullptr);
            uint32_t w = 0, h = 0;
            uint16_t bits = 0, spp = 0;
            TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &w);
            TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &h);
            TIFFGetField(tif, TIFFTAG_BITSPERSAMPLE, &bits);
            TIFFGetField(tif, TIFFTAG_SAMPLESPERPIXEL, &spp);
            EXPECT_EQ(QSize(int(w), int(h)), QSize(900, 600));
            EXPECT_EQ(bits, row.depth);
            EXPECT_EQ(spp, 3);
            // Every row reads back.
            std::vector<uint8_t> line(size_t(TIFFScanlineSize(tif)));
            bool allRows = true;
            for (uint32_t y = 0; y < h; ++y)
                allRows = allRows && TIFFReadScanline(tif, line.data(), y, 0) == 1;
            EXPECT_TRUE(allRows);
            TIFFClose(tif);
        } else {
            QImageReader reader(name);
            EXPECT_EQ(reader.format(), row.qtFormat);
            const QImage image = reader.read();
            ASSERT_FALSE(image.isNull()) << reader.errorString().toStdString();
            EXPECT_EQ(image.size(), QSize(900, 600));
            // A tone-mapped photo, not a flat picture.
            int darkest = 255, brightest = 0;
            for (int y = 0; y < image.height(); y += 7)
                for (int x = 0; x < image.width(); x += 7) {
                    const int g = qGray(image.pixel(x, y));
                    darkest = std::min(darkest, g);
                    brightest = std::max(brightest, g);
                }
            EXPECT_GT(brightest - darkest, 100);
        }
        if (!exiftool)
            continue;
        for (const char *tag : {"Model", "LensModel", "FNumber", "ISO", "DateTimeOriginal"})
            EXPECT_EQ(tagOf(name, tag), tagOf(base, tag)) << tag;
        EXPECT_FALSE(tagOf(name, "Model").isEmpty());
    }
    if (!exiftool)
        GTEST_SKIP() << "exiftool not installed: the metadata checks were skipped";
}
