// The automatic run end to end: the program itself is started with --auto
// on a synthetic and on real brackets, offscreen, with a fresh home, settings
// and temporary folder. It must end by itself; exit code 0 only with the
// result written, readable, of the photos' size and with their metadata;
// every failure ends quickly with a non-zero code, one line on standard
// error and nothing under the output name.

#include "imageio/tiffReader.h"
#include "testSupport.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <QProcess>
#include <QStandardPaths>

#include <cmath>

namespace {

struct runResult_t {
    int exitCode = -1;
    bool crashed = false;
    bool finished = false;
    QString stdErr;
};

class automaticRunTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        program = testSupport::binaryDir() + "/lumidra";
        if (!QFileInfo(program).isExecutable())
            GTEST_SKIP() << "the program binary is not built: " << program.toStdString();
        root = testSupport::freshDir();
        for (const char *sub : {"home", "config", "tmp", "out"})
            QDir().mkpath(root + "/" + sub);
        out = root + "/out";
    }

    // Runs the program with the arguments; fileSizeLimit (bytes) > 0 sets
    // RLIMIT_FSIZE for it (a full disk as far as the program can tell).
    runResult_t run(const QStringList &args, qint64 fileSizeLimit = 0)
    {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("HOME", root + "/home");
        env.insert("XDG_CONFIG_HOME", root + "/config");
        env.insert("TMPDIR", root + "/tmp");
        env.remove("DISPLAY");
        env.remove("WAYLAND_DISPLAY");
        p.setProcessEnvironment(env);
        p.setWorkingDirectory(root);
        // A file-size limit goes through prlimit, which sets it for the
        // program alone.
        if (fileSizeLimit > 0)
            p.start("prlimit", QStringList{QString("--fsize=%1").arg(fileSizeLimit), program} + args);
        else
            p.start(program, args);
        const bool started = p.waitForStarted(30000);
        runResult_t r;
        if (!started)
            return r;
        r.finished = p.waitForFinished(300000);
        if (!r.finished) {
            p.kill();
            p.waitForFinished();
        }
        r.crashed = p.exitStatus() == QProcess::CrashExit;
        r.exitCode = p.exitCode();
        r.stdErr = QString::fromLocal8Bit(p.readAllStandardError());
        return r;
    }

    // What exiftool says of one tag ("" when it cannot tell).
    static QString exifTag(const QString &file, const QString &tag)
    {
        QProcess e;
        e.start("exiftool", {"-s3", "-" + tag, file});
        if (!e.waitForFinished(30000))
            return QString();
        return QString::fromUtf8(e.readAllStandardOutput()).trimmed();
    }

    static bool exiftoolAvailable() { return !QStandardPaths::findExecutable("exiftool").isEmpty(); }

    // The lines of standard error that are the program's own (the sanitizer
    // and Qt may add their notes).
    static QStringList reasonLines(const QString &stdErr)
    {
        QStringList lines;
        for (const QString &l : stdErr.split('\n', Qt::SkipEmptyParts))
            if (!l.startsWith("QStandardPaths") && !l.startsWith("This plugin does not support"))
                lines << l;
        return lines;
    }

    // Nothing of a result, final or temporary, under the output name.
    void expectNothingWritten(const QString &name)
    {
        EXPECT_FALSE(QFileInfo::exists(name)) << name.toStdString();
        EXPECT_FALSE(QFileInfo::exists(name + "~")) << name.toStdString();
    }

    // The session folder is gone from the temporary folder.
    void expectNoSessionLeft()
    {
        QStringList left;
        QDirIterator it(root + "/tmp", QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString f = it.next();
            if (QFileInfo(f).isFile())
                left << f;
        }
        EXPECT_TRUE(left.isEmpty()) << left.join(", ").toStdString();
    }

    QString program, root, out;
};

// A synthetic bracket: a window scene (dark room, bright window with a
// frame) at -2, 0 and +2 EV, written as JPEG without EXIF.
QStringList syntheticBracket(const QString &dir, int width = 240, int height = 160)
{
    QStringList files;
    for (int i = 0; i < 3; ++i) {
        const double gain = std::pow(4.0, i - 1);
        QImage image(width, height, QImage::Format_RGB32);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                double v = 0.03 + 0.1 * (x + y) / double(width + height);
                const bool window = x > width / 3 && x < 2 * width / 3 && y > height / 4 && y < 3 * height / 4;
                if (window && (x % 40 > 3) && (y % 40 > 3))
                    v = 3.0 + double(x) / width;
                const double g = std::pow(std::min(1.0, v * gain), 1 / 2.2);
                image.setPixel(x, y, qRgb(int(g * 255), int(g * 240), int(g * 220)));
            }
        const QString path = dir + QString("/syn_%1.jpg").arg(i);
        image.save(path, "JPEG", 95);
        files << path;
    }
    return files;
}

QStringList bracketFiles(const QString &folder)
{
    const QString dir = testSupport::testDataFile("brackets/" + folder);
    if (dir.isEmpty())
        return {};
    QStringList files;
    for (const QString &name : QDir(dir).entryList(QDir::Files, QDir::Name))
        files << dir + "/" + name;
    return files;
}

} // namespace

TEST_F(automaticRunTest, syntheticBracketGivesAResultInEveryFormat)
{
    const QStringList photos = syntheticBracket(root);
    // A settings file that exists before the run keeps its content.
    const QString settingsFile = root + "/config/Lumidra/Lumidra 3.ini";
    QDir().mkpath(QFileInfo(settingsFile).absolutePath());
    testSupport::writeFile(settingsFile, "[General]\nCurrentVersion=" LUMIDRA_VERSION "\n\n[Misc]\nAutoCheckUpdates=false\n");
    const QByteArray settingsBefore = testSupport::readFile(settingsFile);

    struct row_t {
        QString name;
        QStringList extra;
        QByteArray format;
        int depth;
    } rows[] = {
        {"result.jpg", {}, "jpeg", 8},
        {"result8.tif", {"--tiff8"}, "tiff", 8},
        {"result16.tif", {"--tiff16"}, "tiff", 16},
    };
    for (const row_t &r : rows) {
        SCOPED_TRACE(r.name.toStdString());
        const QString name = out + "/" + r.name;
        const runResult_t result = run(QStringList{"--auto", "--output_fn=" + name} + r.extra + photos);
        ASSERT_TRUE(result.finished) << "the run ends by itself";
        EXPECT_FALSE(result.crashed) << result.stdErr.toStdString();
        EXPECT_EQ(result.exitCode, 0) << result.stdErr.toStdString();
        EXPECT_FALSE(QFileInfo::exists(name + "~"));
        if (r.format == "tiff") {
            // Qt has no TIFF reader here: the program's own reader checks it.
            int w = 0, h = 0, bits = 0;
            QString why;
            ASSERT_TRUE(imageLoader::getTIFFinfo(name, &w, &h, &bits, &why)) << why.toStdString();
            EXPECT_EQ(QSize(w, h), QSize(240, 160));
            EXPECT_EQ(bits, r.depth);
            continue;
        }
        QImageReader reader(name);
        EXPECT_EQ(reader.format(), r.format);
        const QImage image = reader.read();
        ASSERT_FALSE(image.isNull()) << reader.errorString().toStdString();
        EXPECT_EQ(image.size(), QSize(240, 160));
        // The window is bright and the room dark, but neither clips wholly.
        const QImage grey = image.convertToFormat(QImage::Format_RGB32);
        const int room = qGray(grey.pixel(20, 20)), window = qGray(grey.pixel(130, 70));
        EXPECT_LT(room, window);
        EXPECT_GT(window, 100);
        EXPECT_LT(window, 255);
        EXPECT_GT(room, 0);
    }
    expectNoSessionLeft();
    EXPECT_EQ(testSupport::readFile(settingsFile), settingsBefore) << "the settings file is not rewritten";
}

TEST_F(automaticRunTest, realBracketCarriesTheBasePhotosExif)
{
    LUMIDRA_REQUIRE_TESTDATA();
    const QStringList photos = bracketFiles("room_7exp").mid(2, 3);
    ASSERT_EQ(photos.size(), 3);
    const QString name = out + "/room.jpg";
    const runResult_t r = run(QStringList{"--auto", "--output_fn=" + name} + photos);
    ASSERT_TRUE(r.finished);
    ASSERT_EQ(r.exitCode, 0) << r.stdErr.toStdString();
    const QImage image(name);
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.size(), QSize(640, 427));
    if (!exiftoolAvailable())
        GTEST_SKIP() << "exiftool not installed: the metadata check is skipped";
    EXPECT_EQ(exifTag(name, "Model"), "Canon EOS REBEL T2i");
    EXPECT_EQ(exifTag(name, "FNumber"), "4.5");
    EXPECT_EQ(exifTag(name, "ISO"), "200");
    EXPECT_FALSE(QFileInfo::exists(name + "~"));
    expectNoSessionLeft();
}

TEST_F(automaticRunTest, alignedAndDeghostedRealBrackets)
{
    LUMIDRA_REQUIRE_TESTDATA();
    struct row_t {
        const char *folder;
        QSize size;
    } rows[] = {{"canal_aeb_misaligned_3exp", QSize(720, 1080)}, {"airport_moving_people_3exp", QSize(900, 600)}};
    for (const row_t &row : rows) {
        SCOPED_TRACE(row.folder);
        const QStringList photos = bracketFiles(row.folder);
        ASSERT_EQ(photos.size(), 3);
        const QString plain = out + "/" + row.folder + "_plain.jpg";
        const QString fixed = out + "/" + row.folder + "_fixed.jpg";
        const runResult_t a = run(QStringList{"--auto", "--output_fn=" + plain} + photos);
        const runResult_t b = run(QStringList{"--auto", "--auto_align", "--auto_deghost", "--output_fn=" + fixed} + photos);
        ASSERT_EQ(a.exitCode, 0) << a.stdErr.toStdString();
        ASSERT_EQ(b.exitCode, 0) << b.stdErr.toStdString();
        const QImage imgA(plain), imgB(fixed);
        ASSERT_FALSE(imgB.isNull());
        // Alignment crops to the area every photo covers; without it the
        // result keeps the full size.
        EXPECT_EQ(imgA.size(), row.size);
        EXPECT_LE(imgB.width(), row.size.width());
        EXPECT_LE(imgB.height(), row.size.height());
        EXPECT_GT(imgB.width(), row.size.width() * 8 / 10);
        EXPECT_GT(imgB.height(), row.size.height() * 8 / 10);
    }
}

TEST_F(automaticRunTest, failuresEndQuicklyWithAReason)
{
    const QStringList photos = syntheticBracket(root);
    const QString broken = root + "/broken.jpg";
    testSupport::writeFile(broken, "this is no JPEG");
    QImage other(200, 150, QImage::Format_RGB32);
    other.fill(Qt::gray);
    const QString otherSize = root + "/other.jpg";
    other.save(otherSize);
    const QString name = out + "/failed.jpg";

    struct row_t {
        const char *what;
        QStringList args;
        QString output;
    } rows[] = {
        {"missing input", {"--auto", "--output_fn=" + name, root + "/nothere_1.jpg", root + "/nothere_2.jpg"}, name},
        {"no photos at all", {"--auto", "--output_fn=" + name}, name},
        {"unreadable photo", QStringList{"--auto", "--output_fn=" + name, broken} + photos.mid(0, 2), name},
        {"different sizes", QStringList{"--auto", "--output_fn=" + name, otherSize} + photos.mid(0, 2), name},
        {"empty output name", QStringList{"--auto", "--output_fn="} + photos, root + "/.jpg"},
        {"no output name", QStringList{"--auto"} + photos, root + "/.jpg"},
        {"missing output folder", QStringList{"--auto", "--output_fn=" + root + "/no/such/dir/r.jpg"} + photos,
         root + "/no/such/dir/r.jpg"},
        {"unwritable output folder", QStringList{"--auto", "--output_fn=/proc/lumidra_result.jpg"} + photos,
         "/proc/lumidra_result.jpg"},
        {"missing tone-mapping settings",
         QStringList{"--auto", "--output_fn=" + name, "--tm_settings=" + root + "/none.lmsx"} + photos, name},
    };
    for (const row_t &r : rows) {
        SCOPED_TRACE(r.what);
        const runResult_t result = run(r.args);
        ASSERT_TRUE(result.finished) << "the run ends by itself";
        EXPECT_FALSE(result.crashed) << result.stdErr.toStdString();
        EXPECT_NE(result.exitCode, 0);
        EXPECT_FALSE(reasonLines(result.stdErr).isEmpty()) << "a reason on standard error";
        expectNothingWritten(r.output);
    }
    expectNoSessionLeft();
}

TEST_F(automaticRunTest, fullDiskLeavesTheOlderResult)
{
    if (QStandardPaths::findExecutable("prlimit").isEmpty())
        GTEST_SKIP() << "prlimit (util-linux) not found";
    const QStringList photos = syntheticBracket(root);
    // The photos' session files take 240 x 160 x 6 bytes each: a smaller
    // limit stops the loading, a limit just above them stops the writing of
    // the 16-bit TIFF result (the same pixels plus its header).
    const qint64 sessionFile = 240 * 160 * 6;
    struct row_t {
        const char *what;
        QString name;
        QStringList extra;
        qint64 limit;
    } rows[] = {
        {"full while loading", out + "/kept.jpg", {}, sessionFile / 2},
        {"full while writing the result", out + "/kept.tif", {"--tiff16"}, sessionFile + 64},
    };
    for (const row_t &row : rows) {
        SCOPED_TRACE(row.what);
        testSupport::writeFile(row.name, "older result");
        const runResult_t r = run(QStringList{"--auto", "--output_fn=" + row.name} + row.extra + photos, row.limit);
        ASSERT_TRUE(r.finished);
        EXPECT_FALSE(r.crashed) << r.stdErr.toStdString();
        EXPECT_NE(r.exitCode, 0);
        EXPECT_FALSE(reasonLines(r.stdErr).isEmpty());
        EXPECT_EQ(testSupport::readFile(row.name), QByteArray("older result"));
        EXPECT_FALSE(QFileInfo::exists(row.name + "~"));
    }
    expectNoSessionLeft();
}

TEST_F(automaticRunTest, pluginModeNamesTheResultAndAnswersTheHost)
{
    const QStringList photos = syntheticBracket(root);
    const QString folder = out + "/plugin";
    QDir().mkpath(folder);
    const runResult_t r = run(QStringList{"--auto", "--plugin", "--output_fn=" + folder + "/x.jpg"} + photos);
    ASSERT_TRUE(r.finished);
    ASSERT_EQ(r.exitCode, 0) << r.stdErr.toStdString();
    const QStringList results = QDir(folder).entryList({"*.jpg"}, QDir::Files);
    ASSERT_EQ(results.size(), 1) << results.join(",").toStdString();
    EXPECT_NE(results.first(), "x.jpg") << "the name is built from the photos";
    const QByteArray callback = testSupport::readFile(folder + "/Lumidra3_pluginCallback");
    EXPECT_EQ(callback, "\"" + QDir::toNativeSeparators(folder + "/" + results.first()).toUtf8() + "\"");
}
