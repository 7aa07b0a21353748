// The exiftool daemon against the real exiftool (version, metadata writing
// and reading) and against a small stand-in that honours the numbered
// stay-open protocol (time-outs, the line cap, a dying process).

#include "imageio/exiftoolDaemon.h"

#include "imageio/exifReader.h"
#include "app/programOptionsSettings.h"

#include "testSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QBuffer>
#include <QImage>
#include <QSignalSpy>
#include <QtConcurrent>
#include <cstring>
#include <gtest/gtest.h>
#include <lcms2.h>

namespace {

// Arguments collect until "-execute<N>", then the command runs:
//   -ver          prints a version line
//   sleep:S       waits S seconds before answering
//   lines:N       prints N lines
//   env:NAME      prints NAME=<value of NAME>
//   die           exits at once without answering
// Anything else is echoed back as "arg:<argument>".
const char *standInScript = R"(#!/bin/bash
args=()
while IFS= read -r line; do
  case "$line" in
    -execute*)
      n="${line#-execute}"
      for a in "${args[@]}"; do
        case "$a" in
          -ver) echo "99.1-standin" ;;
          sleep:*) sleep "${a#sleep:}" ;;
          lines:*) for ((i=0; i<${a#lines:}; i++)); do echo "line $i"; done ;;
          env:*) v="${a#env:}"; echo "$v=${!v}" ;;
          die) exit 3 ;;
          False) exit 0 ;;
          *) echo "arg:$a" ;;
        esac
      done
      args=()
      echo "{ready$n}"
      ;;
    *) args+=("$line") ;;
  esac
done
)";

QString writeStandIn()
{
    const QString path = testSupport::freshDir(QStringLiteral("standin")) + "/exiftool-standin";
    testSupport::writeFile(path, QByteArray(standInScript));
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return path;
}

// Waits (processing events, which ends the start-up version query) until
// the daemon knows exiftool's version.
QString waitForVersion(exiftoolDaemon &d)
{
    for (int i = 0; i < 400 && d.getVersion().isEmpty(); ++i) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        QThread::msleep(10);
    }
    return d.getVersion();
}

bool haveExiftool()
{
    return !exiftoolDaemon::findExecutable().isEmpty();
}

// exiftool's value of one tag of a file, read with a fresh command.
QString tagOf(exiftoolDaemon &d, const QString &file, const QString &tag)
{
    QStringList out;
    if (!d.run({QStringLiteral("-s3"), "-" + tag, file}, &out) || out.isEmpty())
        return QString();
    return out.first();
}

QString makeJpeg(const QString &dir, const QString &name)
{
    QImage img(32, 24, QImage::Format_RGB888);
    img.fill(Qt::darkCyan);
    const QString path = dir + "/" + name;
    img.save(path, "JPEG", 90);
    return path;
}

// A small JPEG with the given APP2 "ICC_PROFILE" chunks (sequence number,
// chunk count, data) right after the start marker.
struct iccChunk_t {
    int sequence;
    int count;
    QByteArray data;
};
QByteArray jpegWithIccChunks(const QList<iccChunk_t> &chunks)
{
    QImage img(16, 8, QImage::Format_RGB888);
    img.fill(Qt::darkCyan);
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    img.save(&buffer, "JPEG", 90);
    QByteArray segments;
    for (const iccChunk_t &c : chunks) {
        const QByteArray payload = QByteArray("ICC_PROFILE", 12) + char(c.sequence) + char(c.count) + c.data;
        const int length = int(payload.size()) + 2;
        segments += QByteArray("\xFF\xE2", 2) + char(length >> 8) + char(length & 0xFF) + payload;
    }
    return jpeg.left(2) + segments + jpeg.mid(2);
}

QByteArray sRgbProfileBytes()
{
    cmsHPROFILE srgb = cmsCreate_sRGBProfile();
    cmsUInt32Number size = 0;
    cmsSaveProfileToMem(srgb, nullptr, &size);
    QByteArray bytes(int(size), 0);
    cmsSaveProfileToMem(srgb, bytes.data(), &size);
    cmsCloseProfile(srgb);
    return bytes;
}

} // namespace

// --- pure helpers --------------------------------------------------------

TEST(exiftoolDaemon, environmentReplacesTempVariablesByName)
{
    const QStringList sys{QStringLiteral("HOME=/home/u"), QStringLiteral("TEMP=C:/old"),
                          QStringLiteral("MYTEMPLATES=/templates"), QStringLiteral("TMP=/old"),
                          QStringLiteral("TMPDIR=/tmp/x"), QStringLiteral("PATH=/usr/TMP/bin")};
    const QStringList env = exiftoolDaemon::processEnvironment(sys, QStringLiteral("/scratch/"));
    EXPECT_TRUE(env.contains(QStringLiteral("HOME=/home/u")));
    EXPECT_TRUE(env.contains(QStringLiteral("MYTEMPLATES=/templates")));
    EXPECT_TRUE(env.contains(QStringLiteral("PATH=/usr/TMP/bin")));
    EXPECT_TRUE(env.contains(QStringLiteral("TEMP=/scratch")));
    EXPECT_TRUE(env.contains(QStringLiteral("TMP=/scratch")));
    EXPECT_TRUE(env.contains(QStringLiteral("TMPDIR=/scratch")));
    EXPECT_FALSE(env.contains(QStringLiteral("TMPDIR=/tmp/x")));
    EXPECT_EQ(env.size(), 6);
}

TEST(exiftoolDaemon, argumentEncoding)
{
    struct row { const char *arg; bool ok; const char *line; };
    const row rows[] = {
        {"-ver", true, "-ver"},
        {"/photos/a b.jpg", true, "/photos/a b.jpg"},
        {"", true, "#[CSTR]"},
        {" lead", true, "#[CSTR] lead"},
        {"#hash", true, "#[CSTR]#hash"},
        {"/a\nb.jpg", false, ""},
        {"/a\rb.jpg", false, ""},
        {"# with $dollar", false, ""},
    };
    for (const row &r : rows) {
        QByteArray line;
        EXPECT_EQ(exiftoolDaemon::encodeArgument(QString::fromUtf8(r.arg), &line), r.ok) << r.arg;
        if (r.ok) {
            EXPECT_EQ(line, QByteArray(r.line)) << r.arg;
        }
    }
}

TEST(exiftoolDaemon, transferExifArguments)
{
    const QString t = QStringLiteral("/out/t.jpg"), s = QStringLiteral("/in/s.jpg");
    // copyOnly: exactly six arguments before the target.
    QStringList a = exiftoolDaemon::transferExifArgs(t, s, "m", false, 300, false, true, true);
    EXPECT_EQ(a, (QStringList{"-v0", "-ver", "-overwrite_original", "-tagsfromfile", s, "-all:all", t}));

    // HDR result with exposure removal, GPS dropped, resolution set.
    a = exiftoolDaemon::transferExifArgs(t, s, "True HDR", false, 300, false, false, true);
    EXPECT_TRUE(a.contains("-ExposureTime="));
    EXPECT_TRUE(a.contains("-ShutterSpeedValue="));
    EXPECT_TRUE(a.contains("-comment=HDR created and tone mapped with Lumidra " LUMIDRA_VERSION ": True HDR"));
    EXPECT_TRUE(a.contains("-gps:all="));
    EXPECT_TRUE(a.contains("-XResolution=300"));
    EXPECT_TRUE(a.contains("-Software=Lumidra " LUMIDRA_VERSION " (Linux)"));
    EXPECT_EQ(a.last(), t);

    // Single photo: exposure kept whatever the option says; no resolution
    // tags at 0; GPS kept when asked.
    a = exiftoolDaemon::transferExifArgs(t, s, QString(), false, 0, true, false, true);
    EXPECT_FALSE(a.contains("-ExposureTime="));
    EXPECT_FALSE(a.contains("-gps:all="));
    EXPECT_FALSE(a.join(' ').contains("Resolution"));
    EXPECT_TRUE(a.contains("-comment=Single photo enhanced with Lumidra " LUMIDRA_VERSION "."));

    a = exiftoolDaemon::transferExifArgs(t, s, "x", true, 0, true, false, true);
    EXPECT_TRUE(a.contains("-comment=Image aligned with Lumidra " LUMIDRA_VERSION "."));
    EXPECT_FALSE(a.contains("-ExposureTime="));
}

TEST(exiftoolDaemon, transferExifArgumentsWithProfile)
{
    const QString t = QStringLiteral("/out/t.jpg"), s = QStringLiteral("/in/s.jpg");
    const QString icc = QStringLiteral("/p/sRGB.icm");
    // The profile is assigned after the copy (so it wins over the source's)
    // and before the target.
    QStringList a = exiftoolDaemon::transferExifArgs(t, s, "m", false, 300, false, false, true, icc);
    ASSERT_GE(a.size(), 2);
    EXPECT_EQ(a[a.size() - 2], "-icc_profile<=" + icc);
    EXPECT_GT(a.indexOf("-icc_profile<=" + icc), a.indexOf("-all:all"));
    EXPECT_EQ(a.last(), t);
    a = exiftoolDaemon::transferExifArgs(t, s, "m", false, 300, false, false, true);
    EXPECT_FALSE(a.join(' ').contains("icc_profile"));
}

// The profile chunks of a JPEG, read without exiftool: found and joined in
// sequence order, or none, or unreadable (then exiftool is asked).
TEST(exiftoolDaemon, jpegIccProfileChunks)
{
    const QByteArray a("first part "), b("second part "), c("third");
    struct row {
        const char *name;
        QList<iccChunk_t> chunks;
        exiftoolDaemon::jpegIccResult_t expected;
        QByteArray profile;
    };
    const row rows[] = {
        {"none", {}, exiftoolDaemon::jpegIccNone, QByteArray()},
        {"one chunk", {{1, 1, a}}, exiftoolDaemon::jpegIccFound, a},
        {"three in order", {{1, 3, a}, {2, 3, b}, {3, 3, c}}, exiftoolDaemon::jpegIccFound, a + b + c},
        {"three out of order", {{3, 3, c}, {1, 3, a}, {2, 3, b}}, exiftoolDaemon::jpegIccFound, a + b + c},
        {"one missing", {{1, 3, a}, {3, 3, c}}, exiftoolDaemon::jpegIccUnreadable, QByteArray()},
        {"one repeated", {{1, 2, a}, {1, 2, a}, {2, 2, b}}, exiftoolDaemon::jpegIccUnreadable, QByteArray()},
        {"counts disagree", {{1, 2, a}, {2, 3, b}}, exiftoolDaemon::jpegIccUnreadable, QByteArray()},
        {"sequence zero", {{0, 1, a}}, exiftoolDaemon::jpegIccUnreadable, QByteArray()},
        {"sequence past count", {{2, 1, a}}, exiftoolDaemon::jpegIccUnreadable, QByteArray()},
    };
    const QString dir = testSupport::freshDir();
    for (const row &r : rows) {
        const QString path = dir + "/" + r.name + ".jpg";
        ASSERT_TRUE(testSupport::writeFile(path, jpegWithIccChunks(r.chunks)));
        QByteArray profile("stale");
        EXPECT_EQ(exiftoolDaemon::readJpegIccProfile(path, &profile), r.expected) << r.name;
        EXPECT_EQ(profile, r.profile) << r.name;
    }

    // Not a JPEG, a segment running past the end, a missing file.
    const QByteArray whole = jpegWithIccChunks({{1, 1, a}});
    const struct {
        const char *name;
        QByteArray bytes;
    } broken[] = {
        {"png", QByteArray("\x89PNG\r\n\x1a\n", 8) + whole},
        {"cut in the profile", whole.left(10)},
        {"cut after the start", whole.left(2)},
    };
    for (const auto &b : broken) {
        const QString path = dir + "/" + b.name + ".jpg";
        ASSERT_TRUE(testSupport::writeFile(path, b.bytes));
        QByteArray profile;
        EXPECT_EQ(exiftoolDaemon::readJpegIccProfile(path, &profile), exiftoolDaemon::jpegIccUnreadable) << b.name;
    }
    QByteArray profile;
    EXPECT_EQ(exiftoolDaemon::readJpegIccProfile(dir + "/missing.jpg", &profile), exiftoolDaemon::jpegIccUnreadable);
}

// A photo's profile reaches the session without exiftool: the profile of a
// JPEG is read even while exiftool does not run; a JPEG without one reads
// nothing and leaves no file (an older one is removed).
TEST(exiftoolDaemon, jpegProfileReadWithoutExiftool)
{
    exiftoolDaemon d(QStringLiteral("/nonexistent/exiftool"));
    ASSERT_FALSE(d.isRunning());
    const QString dir = testSupport::freshDir();
    const QByteArray icc = sRgbProfileBytes();
    const QString withProfile = dir + "/with.jpg", without = dir + "/without.jpg";
    ASSERT_TRUE(testSupport::writeFile(withProfile, jpegWithIccChunks({{2, 2, icc.mid(100)}, {1, 2, icc.left(100)}})));
    ASSERT_TRUE(testSupport::writeFile(without, jpegWithIccChunks({})));
    const QString out = dir + "/out.icc";
    ASSERT_TRUE(testSupport::writeFile(out, "stale"));
    ASSERT_TRUE(d.readIccProfile(withProfile, out));
    EXPECT_EQ(testSupport::readFile(out), icc);
    EXPECT_FALSE(d.readIccProfile(without, out)) << "no profile read: the loader warns and assumes sRGB";
    EXPECT_FALSE(QFile::exists(out));
}

TEST(exiftoolDaemon, cameraLensParsing)
{
    QString camera, lens;
    double focal = 0;
    const QString longModel(80, QLatin1Char('M'));
    EXPECT_FALSE(exiftoolDaemon::parseCameraLens(
        {"Camera Model Name               : " + longModel, "Focal Length                    : 135.0 mm"},
        camera, lens, focal));
    EXPECT_EQ(camera, QString(63, QLatin1Char('M')));
    EXPECT_TRUE(lens.isEmpty());
    EXPECT_DOUBLE_EQ(focal, 135.0);
}

// --- the stand-in --------------------------------------------------------

class exiftoolStandIn : public ::testing::Test
{
protected:
    void SetUp() override
    {
        daemon.reset(new exiftoolDaemon(writeStandIn()));
        ASSERT_EQ(waitForVersion(*daemon), QStringLiteral("99.1-standin"));
    }
    std::unique_ptr<exiftoolDaemon> daemon;
};

TEST_F(exiftoolStandIn, lateReplyOfATimedOutCommandIsNotTakenForTheNext)
{
    QStringList out;
    // 0.3 s of patience for a reply that comes after 1 s.
    EXPECT_FALSE(daemon->execute({"sleep:1", "first"}, &out, false, 3, true));
    out.clear();
    ASSERT_TRUE(daemon->run({"second"}, &out));
    EXPECT_EQ(out, QStringList{"arg:second"});
}

TEST_F(exiftoolStandIn, lineCapThenNextCommandGetsItsOwnAnswer)
{
    QStringList out;
    EXPECT_FALSE(daemon->run({"lines:300"}, &out));
    ASSERT_EQ(out.size(), exiftoolDaemon::MAX_REPLY_LINES);
    EXPECT_EQ(out.first(), "line 0");
    EXPECT_EQ(out.last(), "line 255");
    out.clear();
    ASSERT_TRUE(daemon->run({"after"}, &out));
    EXPECT_EQ(out, QStringList{"arg:after"});
}

TEST_F(exiftoolStandIn, emptyArgumentListSendsNothing)
{
    QStringList out;
    EXPECT_TRUE(daemon->run({}, &out));
    EXPECT_TRUE(out.isEmpty());
    ASSERT_TRUE(daemon->run({"x"}, &out));
    EXPECT_EQ(out, QStringList{"arg:x"});
}

TEST_F(exiftoolStandIn, newlineInAFileNameIsRefused)
{
    QStringList out;
    // Sent one per line this would become the option "-all=" on its own.
    EXPECT_FALSE(daemon->run({"-v0", "/photos/a\n-all=\n.jpg"}, &out));
    EXPECT_TRUE(out.isEmpty());
    EXPECT_FALSE(daemon->transferExif("/out/x\n.jpg", "/in/y.jpg", QString(), false, 0, true, false, false));
    ASSERT_TRUE(daemon->run({"next"}, &out));
    EXPECT_EQ(out, QStringList{"arg:next"}); // nothing of the refused commands arrived
}

TEST_F(exiftoolStandIn, environmentOfTheChild)
{
    QStringList out;
    ASSERT_TRUE(daemon->run({"env:TMPDIR", "env:TEMP"}, &out));
    const QString dir = exiftoolDaemon::scratchDir();
    EXPECT_EQ(out, (QStringList{"TMPDIR=" + dir, "TEMP=" + dir}));
}

TEST_F(exiftoolStandIn, deadProcessReportsOnce)
{
    QSignalSpy spy(daemon.get(), &exiftoolDaemon::showError);
    QStringList out;
    EXPECT_FALSE(daemon->run({"die"}, &out));
    EXPECT_FALSE(daemon->run({"a"}, &out));
    EXPECT_FALSE(daemon->run({"b"}, &out));
    EXPECT_FALSE(daemon->isRunning());
    EXPECT_EQ(spy.count(), 1);
}

TEST_F(exiftoolStandIn, noErrorSignalWithoutReportError)
{
    QSignalSpy spy(daemon.get(), &exiftoolDaemon::showError);
    QStringList out;
    EXPECT_FALSE(daemon->execute({"die"}, &out, false, 70, false));
    EXPECT_FALSE(daemon->execute({"a"}, &out, false, 70, false));
    EXPECT_EQ(spy.count(), 0);
}

TEST(exiftoolDaemon, restartClearsUnpackFoldersAndRevives)
{
    programOptionsSettings options;
    options.scratchpad.pathCurrent = testSupport::freshDir();
    optionsInstance = &options;
    exiftoolDaemon d(writeStandIn());
    ASSERT_EQ(waitForVersion(d), QStringLiteral("99.1-standin"));
    QStringList out;
    EXPECT_FALSE(d.run({"die"}, &out));
    EXPECT_FALSE(d.run({"a"}, &out));
    EXPECT_FALSE(d.restart()); // no unpack folder: nothing to clear, nothing restarted

    const QString unpack = options.scratchpad.pathCurrent + "/par-1234";
    QDir().mkpath(unpack + "/inc");
    QDir().mkpath(options.scratchpad.pathCurrent + "/other");
    ASSERT_EQ(d.listTempDirs(), QStringList{unpack});
    d.start(); // a live process for restart to stop
    EXPECT_TRUE(d.restart());
    EXPECT_FALSE(QDir(unpack).exists());
    EXPECT_TRUE(QDir(options.scratchpad.pathCurrent + "/other").exists());
    EXPECT_TRUE(d.isRunning());
    ASSERT_TRUE(d.run({"back"}, &out));
    EXPECT_EQ(out, QStringList{"arg:back"});
    optionsInstance = nullptr;
}

TEST(exiftoolDaemon, missingProgramMeansNotRunning)
{
    exiftoolDaemon d(QStringLiteral("/nonexistent/exiftool"));
    QSignalSpy spy(&d, &exiftoolDaemon::showError);
    EXPECT_FALSE(d.isRunning());
    QStringList out;
    EXPECT_FALSE(d.run({"-ver"}, &out));
    EXPECT_FALSE(d.run({"-ver"}, &out));
    EXPECT_EQ(spy.count(), 1);
    EXPECT_FALSE(d.stop(true));
}

// --- the real exiftool ---------------------------------------------------

class exiftoolReal : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (!haveExiftool())
            GTEST_SKIP() << "exiftool not installed";
        daemon.reset(new exiftoolDaemon);
        ASSERT_FALSE(waitForVersion(*daemon).isEmpty());
        ASSERT_NE(daemon->getVersion(), QStringLiteral("?"));
        dir = testSupport::freshDir();
    }
    std::unique_ptr<exiftoolDaemon> daemon;
    QString dir;
};

TEST_F(exiftoolReal, versionMatchesTheProgram)
{
    QStringList out;
    ASSERT_TRUE(daemon->run({"-ver"}, &out));
    ASSERT_EQ(out.size(), 1);
    EXPECT_EQ(out.first(), daemon->getVersion());
    EXPECT_TRUE(daemon->getVersion().contains(QLatin1Char('.')));
}

TEST_F(exiftoolReal, transferExifCopiesAndCorrects)
{
    LUMIDRA_REQUIRE_TESTDATA();
    const QString source = testSupport::testDataFile("exif_jpeg/Canon_40D.jpg");
    const QString target = makeJpeg(dir, "result.jpg");
    ASSERT_TRUE(daemon->transferExif(target, source, "True HDR", false, 240, false, false, false));
    EXPECT_EQ(tagOf(*daemon, target, "Model"), "Canon EOS 40D");
    EXPECT_EQ(tagOf(*daemon, target, "Software"), "Lumidra " LUMIDRA_VERSION " (Linux)");
    EXPECT_EQ(tagOf(*daemon, target, "Comment"),
              "HDR created and tone mapped with Lumidra " LUMIDRA_VERSION ": True HDR");
    EXPECT_EQ(tagOf(*daemon, target, "XResolution"), "240");
    EXPECT_TRUE(tagOf(*daemon, target, "ThumbnailImage").isEmpty());

    // copyOnly keeps the source's software tag.
    const QString copy = makeJpeg(dir, "copy.jpg");
    ASSERT_TRUE(daemon->transferExif(copy, source, QString(), false, 0, true, true, false));
    EXPECT_EQ(tagOf(*daemon, copy, "Software"), tagOf(*daemon, source, "Software"));
}

TEST_F(exiftoolReal, writeTagsStoresTheRecord)
{
    exifInfo_t exif;
    std::memset(&exif, 0, sizeof(exif));
    exif.exposureTime = 0.004f;
    exif.fNumber = 5.6f;
    exif.iso = 400;
    exif.focalLength = 35.0f;
    std::strcpy(exif.dateTime, "2017:05:01 12:00:10");
    std::strcpy(exif.make, "Canon");
    std::strcpy(exif.model, "Canon EOS 40D");

    const QString target = makeJpeg(dir, "-leading dash.jpg"); // never taken for an option
    ASSERT_TRUE(daemon->writeTags(target, &exif, true));
    EXPECT_EQ(tagOf(*daemon, target, "ExposureTime"), "1/250");
    EXPECT_EQ(tagOf(*daemon, target, "FNumber"), "5.6");
    EXPECT_EQ(tagOf(*daemon, target, "ISO"), "400");
    EXPECT_EQ(tagOf(*daemon, target, "FocalLength"), "35.0 mm");
    EXPECT_EQ(tagOf(*daemon, target, "DateTimeOriginal"), "2017:05:01 12:00:10");
    EXPECT_EQ(tagOf(*daemon, target, "Make"), "Canon");
    EXPECT_EQ(tagOf(*daemon, target, "Model"), "Canon EOS 40D");
    EXPECT_EQ(tagOf(*daemon, target, "Software"), "Lumidra " LUMIDRA_VERSION " (Linux)");
    EXPECT_EQ(tagOf(*daemon, target, "Comment"), "Image aligned with Lumidra " LUMIDRA_VERSION ".");

    // Not aligned: the empty comment removes it.
    ASSERT_TRUE(daemon->writeTags(target, &exif, false));
    EXPECT_TRUE(tagOf(*daemon, target, "Comment").isEmpty());
    const QStringList args = exiftoolDaemon::writeTagsArgs(target, &exif, false);
    EXPECT_TRUE(args.contains("-comment="));
    EXPECT_TRUE(args.contains("-ExposureTime=0.004"));
}

TEST_F(exiftoolReal, iccProfileWrittenAndReadBack)
{
    const QByteArray bytes = sRgbProfileBytes();
    const QString icc = dir + "/in.icc";
    ASSERT_TRUE(testSupport::writeFile(icc, bytes));

    const QString target = makeJpeg(dir, "with profile.jpg");
    ASSERT_TRUE(daemon->writeIccProfile(target, icc));
    const QString back = dir + "/back.icc";
    testSupport::writeFile(back, "stale"); // readIccProfile replaces an old file
    ASSERT_TRUE(daemon->readIccProfile(target, back));
    EXPECT_EQ(testSupport::readFile(back), bytes);
}

// The EXIF transfer with a profile in the same command: the given profile
// replaces the one the source carries; the EXIF comes along.
TEST_F(exiftoolReal, transferExifEmbedsTheGivenProfile)
{
    const QString source = dir + "/source.jpg";
    ASSERT_TRUE(testSupport::writeFile(source, jpegWithIccChunks({{1, 1, sRgbProfileBytes()}})));
    ASSERT_TRUE(daemon->run({"-overwrite_original", "-Model=Test Camera", source}, nullptr));
    cmsCIExyY white = {0.3127, 0.3290, 1.0};
    cmsCIExyYTRIPLE primaries = {{0.64, 0.33, 1.0}, {0.21, 0.71, 1.0}, {0.15, 0.06, 1.0}};
    cmsToneCurve *gamma = cmsBuildGamma(nullptr, 2.2);
    cmsToneCurve *curves[3] = {gamma, gamma, gamma};
    cmsHPROFILE other = cmsCreateRGBProfile(&white, &primaries, curves);
    cmsFreeToneCurve(gamma);
    cmsUInt32Number size = 0;
    cmsSaveProfileToMem(other, nullptr, &size);
    QByteArray otherBytes(int(size), 0);
    cmsSaveProfileToMem(other, otherBytes.data(), &size);
    cmsCloseProfile(other);
    ASSERT_NE(otherBytes, sRgbProfileBytes());
    const QString icc = dir + "/other.icc";
    ASSERT_TRUE(testSupport::writeFile(icc, otherBytes));

    const QString target = makeJpeg(dir, "result.jpg");
    ASSERT_TRUE(daemon->transferExif(target, source, "True HDR", false, 0, false, false, false, icc));
    EXPECT_EQ(tagOf(*daemon, target, "Model"), "Test Camera");
    QByteArray embedded;
    ASSERT_EQ(exiftoolDaemon::readJpegIccProfile(target, &embedded), exiftoolDaemon::jpegIccFound);
    EXPECT_EQ(embedded, otherBytes);
}

TEST_F(exiftoolReal, readCameraLensOnSampleFiles)
{
    LUMIDRA_REQUIRE_TESTDATA();
    struct row { const char *file; bool both; const char *camera; const char *lens; double focal; };
    const row rows[] = {
        {"exif_jpeg/Nikon_D70.jpg", true, "NIKON D70", "100.0mm f/2.8", 100.0},
        {"exif_jpeg/exiftool_Canon1DmkIII.jpg", true, "Canon EOS-1D Mark III",
         "Canon EF 16-35mm f/2.8L II USM", 35.0},
        {"exif_jpeg/Canon_40D.jpg", false, "Canon EOS 40D", "", 135.0}, // no lens: false, camera filled
    };
    for (const row &r : rows) {
        QString camera, lens;
        double focal = -1;
        EXPECT_EQ(daemon->readCameraLens(testSupport::testDataFile(r.file), camera, lens, focal), r.both)
            << r.file;
        EXPECT_EQ(camera, QString::fromUtf8(r.camera)) << r.file;
        EXPECT_EQ(lens, QString::fromUtf8(r.lens)) << r.file;
        EXPECT_DOUBLE_EQ(focal, r.focal) << r.file;
    }
}

TEST_F(exiftoolReal, eightThreadsGetTheirOwnAnswers)
{
    QList<QFuture<int>> runs;
    for (int t = 0; t < 8; ++t) {
        runs << QtConcurrent::run([this, t]() {
            int good = 0;
            for (int i = 0; i < 6; ++i) {
                const QString text = QStringLiteral("thread-%1-call-%2").arg(t).arg(i);
                QStringList out;
                if (daemon->run({"-echo", text}, &out) && out == QStringList{text})
                    ++good;
            }
            return good;
        });
    }
    for (QFuture<int> &f : runs) {
        while (!f.isFinished())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        EXPECT_EQ(f.result(), 6);
    }
}

TEST_F(exiftoolReal, stopEndsTheProcess)
{
    EXPECT_TRUE(daemon->stop(true));
    EXPECT_FALSE(daemon->stop(true)); // nothing left to stop
    QStringList out;
    EXPECT_FALSE(daemon->run({"-ver"}, &out));
}

// The start-up warm-up runs exiftool's slow first writing command on a tiny
// file of its own: it is answered, leaves nothing behind, and the next
// command gets its own answer.
TEST_F(exiftoolReal, warmUpLeavesNothingBehind)
{
    EXPECT_TRUE(daemon->warmUp(dir + "/~warmup"));
    EXPECT_TRUE(QDir(dir).entryList(QDir::Files | QDir::Hidden).isEmpty());
    QStringList out;
    ASSERT_TRUE(daemon->run({"-ver"}, &out));
    ASSERT_EQ(out.size(), 1);
    EXPECT_EQ(out.first(), daemon->getVersion());
}

// A daemon destroyed while its warm-up still waits for the lock (the
// start-up version query holds it until the event loop runs) stops the
// warm-up instead of deleting itself under it.
TEST(exiftoolDaemon, destroyedWhileTheWarmUpWaits)
{
    const QString dir = testSupport::freshDir();
    {
        exiftoolDaemon d(writeStandIn());
        ASSERT_TRUE(d.isRunning());
        d.startWarmUp(dir + "/~warmup");
    }
    EXPECT_TRUE(QDir(dir).entryList(QDir::Files | QDir::Hidden).isEmpty());
}
