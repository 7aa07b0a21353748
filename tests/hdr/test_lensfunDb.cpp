#include "hdr/lensLookup.h"
#include "hdr/lensfunDb.h"

#include "testSupport.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <gtest/gtest.h>

namespace {

const char *systemXml = R"(<lensdatabase version="1">
    <mount>
        <name>Test M</name>
        <compat>Test Old</compat>
    </mount>
    <mount>
        <name>Test Old</name>
    </mount>
    <camera>
        <maker>Nikon Corporation</maker>
        <maker lang="de">Nikon Deutsch</maker>
        <model>Alpha &amp; Beta</model>
        <model lang="en">Translated</model>
        <mount>Test M</mount>
        <cropfactor>1.5</cropfactor>
    </camera>
    <camera>
        <maker>Odd</maker>
        <model>Nowhere 1</model>
        <mount>Unlisted Mount</mount>
    </camera>
    <lens>
        <maker>Testmaker</maker>
        <model>Test 10-20mm f/4</model>
        <mount>Test Old</mount>
        <cropfactor>1.0</cropfactor>
        <aspect-ratio>4:3</aspect-ratio>
        <focal min="10" max="20"/>
        <calibration>
            <distortion model="ptlens" focal="10" a="0.01" b="-0.02" c="0.03"/>
            <distortion model="ptlens" focal="20" a="0.03" b="-0.04" c="0.05"/>
            <distortion model="ptlens" focal="14" a="1" b="1" c="1"/>
            <tca model="linear" focal="10" kr="1.001" kb="0.999"/>
            <tca model="linear" focal="20" r="1.003" b="0.997"/>
            <vignetting model="pa" focal="10" aperture="4" distance="10" k1="-0.5" k2="0" k3="0"/>
        </calibration>
    </lens>
    <lens>
        <maker>Generic</maker>
        <model>Generic Fisheye</model>
        <mount>Test M</mount>
        <cropfactor>2.0</cropfactor>
        <aspect-ratio>1.5</aspect-ratio>
        <calibration>
            <distortion model="poly3" focal="8" k1="-0.1"/>
        </calibration>
    </lens>
    <lens>
        <maker>Testmaker</maker>
        <model>Test 50mm bare</model>
        <mount>Test M</mount>
    </lens>
</lensdatabase>
)";

const char *userXml = R"(<lensdatabase version="1">
    <lens>
        <maker>Usermaker</maker>
        <model>User 35mm</model>
        <mount>Test M</mount>
        <cropfactor>1.5</cropfactor>
        <calibration>
            <distortion model="poly5" focal="35" k1="0.1" k2="0.2"/>
            <tca model="poly3" focal="35" br="0.001" vr="1.002" bb="0.003" vb="0.998"/>
        </calibration>
    </lens>
</lensdatabase>
)";

struct fixtureDb {
    QString systemDir, userDir;
    fixtureDb()
    {
        const QString root = testSupport::freshDir();
        systemDir = root + "/system";
        userDir = root + "/user";
        QDir().mkpath(systemDir);
        QDir().mkpath(userDir);
        testSupport::writeFile(systemDir + "/slr-test.xml", systemXml);
        testSupport::writeFile(systemDir + "/broken.xml", "<lensdatabase><lens><maker>X</lens>");
        testSupport::writeFile(systemDir + "/notes.txt", "not a database");
        testSupport::writeFile(userDir + "/mine.xml", userXml);
    }
};

int countTag(const QString &folder, const QByteArray &tag)
{
    int n = 0;
    for (const QString &name : QDir(folder).entryList({"*.xml"}, QDir::Files)) {
        QFile f(folder + "/" + name);
        if (f.open(QIODevice::ReadOnly))
            n += f.readAll().count(tag);
    }
    return n;
}

} // namespace

TEST(lensfunDb, loadsRecordsOfSystemAndUserFiles)
{
    fixtureDb f;
    lensfunDb db(f.systemDir, f.userDir);
    EXPECT_EQ(db.getVersion(), "?");
    EXPECT_EQ(db.systemFileNames(), QStringList({"broken.xml", "slr-test.xml"}));
    ASSERT_TRUE(db.load());
    // The malformed file contributes nothing.
    ASSERT_EQ(db.cameraCount(), 2);
    ASSERT_EQ(db.lensCount(), 4);
    ASSERT_EQ(db.mounts().size(), 2);

    const lensfunCamera cam = db.cameraAt(0);
    EXPECT_EQ(cam.maker, "Nikon Corporation");
    EXPECT_EQ(cam.normalizedMaker, "Nikon");
    EXPECT_EQ(cam.model, "Alpha and Beta");
    EXPECT_EQ(cam.mount, "Test M");
    EXPECT_DOUBLE_EQ(cam.cropFactor, 1.5);
    EXPECT_EQ(cam.fileIndex, 1);
    EXPECT_FALSE(cam.compact);
    EXPECT_DOUBLE_EQ(db.cameraAt(1).cropFactor, 1.0);

    const lensfunLens lens = db.lensAt(0);
    EXPECT_EQ(lens.model, "Test 10-20mm f/4");
    EXPECT_EQ(lens.mounts, QStringList({"Test Old"}));
    EXPECT_DOUBLE_EQ(lens.focalMin, 10);
    EXPECT_DOUBLE_EQ(lens.focalMax, 20);
    EXPECT_DOUBLE_EQ(lens.apertureMax, 100);
    const lensfunLens user = db.lensAt(3);
    EXPECT_TRUE(user.userDatabase);
    EXPECT_EQ(user.fileIndex, 0);
    EXPECT_EQ(db.lensAt(99).fileIndex, -1);

    EXPECT_EQ(db.listNames("first"), QStringList({"first", "Test Old"}));

    lensfunDb empty(f.userDir + "/none", QString());
    EXPECT_FALSE(empty.load());
}

TEST(lensfunDb, findMountUsesCompatibleMounts)
{
    fixtureDb f;
    lensfunDb db(f.systemDir, f.userDir);
    ASSERT_TRUE(db.load());
    const lensfunCamera cam = db.cameraAt(0), odd = db.cameraAt(1);
    EXPECT_TRUE(db.findMount(cam, db.lensAt(0)));  // "Test Old" is compatible with "Test M"
    EXPECT_TRUE(db.findMount(cam, db.lensAt(1)));  // same mount
    EXPECT_FALSE(db.findMount(odd, db.lensAt(0))); // mount without a record
    lensfunLens own = db.lensAt(0);
    own.mounts << "Unlisted Mount";
    EXPECT_TRUE(db.findMount(odd, own));
}

TEST(lensfunDb, getCalibDataInterpolatesBetweenFocalLengths)
{
    fixtureDb f;
    lensfunDb db(f.systemDir, f.userDir);
    ASSERT_TRUE(db.load());
    const lensfunCamera cam = db.cameraAt(0);

    struct testCase {
        double focal, a, kr;
    } cases[] = {
        {10, 0.01, 1.001},
        {15, 0.02, 1.002},  // halfway between 10 and 20
        {17.5, 0.025, 1.0025},
        {5, 0.01, 1.001},   // below every pair: the first entry
        {30, 0.01, 1.001},  // above: still the first entry, not the nearest
    };
    for (const testCase &tc : cases) {
        lensCalibData c;
        double lo = 0, hi = 0;
        ASSERT_TRUE(db.getCalibData(c, lo, hi, cam, db.lensAt(0), tc.focal));
        EXPECT_TRUE(c.lens.enabled);
        EXPECT_EQ(c.lens.model, LENS_DIST_PTLENS);
        EXPECT_EQ(c.lens.ptlens_list.size(), 3);
        EXPECT_NEAR(c.lens.ptlens.a, tc.a, 1e-12) << tc.focal;
        EXPECT_TRUE(c.tca.enabled);
        EXPECT_EQ(c.tca.model, LENS_TCA_LINEAR);
        EXPECT_NEAR(c.tca.linear.kr, tc.kr, 1e-12) << tc.focal;
        // Neutral coefficients for the lists without entries.
        EXPECT_EQ(c.tca.poly3.vr, 1);
        EXPECT_EQ(c.lens.poly3.k1, 0);
        EXPECT_DOUBLE_EQ(lo, 10);
        EXPECT_DOUBLE_EQ(hi, 20);
        EXPECT_NEAR(c.lens.aspectRatio, 4.0 / 3.0, 1e-12);
        EXPECT_NEAR(c.cropFactorRatio, 1.0 / 1.5, 1e-12);
    }
    // "r" and "b" stand in for "kr" and "kb".
    lensCalibData c;
    double lo = 0, hi = 0;
    ASSERT_TRUE(db.getCalibData(c, lo, hi, cam, db.lensAt(0), 20));
    EXPECT_NEAR(c.tca.linear.kb, 0.997, 1e-12);

    // Generic lens: crop-factor ratio 1; decimal aspect ratio reads as 1 / 1.
    ASSERT_TRUE(db.getCalibData(c, lo, hi, cam, db.lensAt(1), 8));
    EXPECT_DOUBLE_EQ(c.cropFactorRatio, 1.0);
    EXPECT_DOUBLE_EQ(c.lens.aspectRatio, 1.0);
    EXPECT_EQ(c.lens.model, LENS_DIST_POLY3);
    EXPECT_FALSE(c.tca.enabled);

    // A lens without calibration, and unknown records, give false.
    EXPECT_FALSE(db.getCalibData(c, lo, hi, cam, db.lensAt(2), 50));
    EXPECT_FALSE(db.getCalibData(c, lo, hi, cam, lensfunLens(), 50));
    EXPECT_FALSE(db.getCalibData(c, lo, hi, lensfunCamera(), db.lensAt(0), 50));

    // A lens of the user database is re-read from the user folder.
    ASSERT_TRUE(db.getCalibData(c, lo, hi, cam, db.lensAt(3), 35));
    EXPECT_EQ(c.lens.model, LENS_DIST_POLY5);
    EXPECT_DOUBLE_EQ(c.lens.poly5.k2, 0.2);
    EXPECT_EQ(c.tca.model, LENS_TCA_POLY3);
    EXPECT_DOUBLE_EQ(c.tca.poly3.vb, 0.998);
    EXPECT_DOUBLE_EQ(c.lens.aspectRatio, 1.5);
}

TEST(lensfunDb, normalizeCameraMakerTable)
{
    const std::pair<const char *, const char *> cases[] = {
        {"Casio Computer Co.,Ltd.", "Casio"},     {"Eastman Kodak Company", "Kodak"},
        {"Minolta Co., Ltd.", "Konica Minolta"},  {"Ricoh Imaging Company, Ltd.", "Ricoh"},
        {"Nikon Corporation", "Nikon"},           {"Samsung Techwin Co.", "Samsung"},
        {"Asahi Optical Co.,Ltd", "Pentax"},      {"OLYMPUS CORPORATION", "Olympus"},
        {"SEIKO EPSON CORP.", "Seiko Epson"},     {"NIKON CORPORATION", "NIKON CORPORATION"},
        {"Canon", "Canon"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(normalizeCameraMaker(c.first), QString(c.second)) << c.first;
}

TEST(lensLookup, scores)
{
    // Maker followed by the four database words: 4/5 + 1 + 0.5.
    EXPECT_DOUBLE_EQ(cameraMatchScore("Canon", "EOS 5D Mark III", "Canon EOS 5D Mark III"), 2.3);
    EXPECT_DOUBLE_EQ(cameraMatchScore("Nikon", "Nikon D70", "NIKON D70"), 2.5);
    EXPECT_DOUBLE_EQ(cameraMatchScore("X", "Nikon D70s", "NIKON D70"), 0.5);
    // Empty names match nothing, whatever the maker.
    EXPECT_EQ(cameraMatchScore("Canon", "Canon EOS 40D", ""), 0.0);
    EXPECT_EQ(cameraMatchScore("Canon", "", "Canon EOS 40D"), 0.0);
    EXPECT_EQ(cameraMatchScore("", "   ", "  "), 0.0);
    EXPECT_EQ(lensMatchScore("Canon", "", "Canon"), 0.0);
    EXPECT_EQ(lensMatchScore("Canon", "Canon EF 50mm", ""), 0.0);
    // Same focal range adds 1.
    EXPECT_DOUBLE_EQ(lensMatchScore("x", "Canon EF 24-105mm f/4L", "EF24-105mm f/4L IS USM"),
                     1.0 / 4 + 1.0);
    EXPECT_DOUBLE_EQ(lensMatchScore("x", "A 50mm f/1.8", "A 50mm f/1.8"), 1.0 + 1.0);
    EXPECT_TRUE(equalsIgnoreCase("Generic", "GENERIC"));
}

TEST(lensLookup, aLensOfAnotherApertureRangeLosesToTheRightOne)
{
    const struct {
        const char *name;
        const char *aperture;
    } apertures[] = {
        {"EF-S18-55mm f/3.5-5.6 IS", "3.5-5.6"}, {"Canon EF 24-105mm f/4L", "4"},
        {"A 50mm F/1.8", "1.8"},                  {"XF18-55mmF2.8-4 R LM OIS", ""},
        {"Nikkor 18-55", ""},                      {"", ""},
    };
    for (const auto &a : apertures)
        EXPECT_EQ(apertureRangeOf(a.name), QString(a.aperture)) << a.name;
    // The metadata name of a Canon kit lens shares more words with the
    // database's f/4-5.6 model (written the same way) than with its own
    // entry; the aperture range tells them apart.
    const QString exif = "EF-S18-55mm f/3.5-5.6 IS";
    const double wrong = lensMatchScore(exif, "EF-S18-55mm f/4-5.6 IS STM", exif);
    const double right = lensMatchScore(exif, "Canon EF-S 18-55mm f/3.5-5.6 IS", exif);
    EXPECT_DOUBLE_EQ(wrong, 2.0 / 4 + 1.0 - 1.0);
    EXPECT_DOUBLE_EQ(right, 0.0 + 1.0);
    EXPECT_GT(right, wrong);
}

TEST(lensLookup, parseFocalRange)
{
    struct testCase {
        const char *text;
        int start, min, max;
    } cases[] = {
        {"EF 24-105mm f/4L", 0, 24, 105},
        {"50mm f/1.8", 0, 50, 50},
        {"Nikkor 18-55 f/3.5", 0, 0, 0}, // no "mm": nothing read
        {"Zoom 7", 7, 7, 7},             // the minimum keeps its value, the maximum takes it
        {"mm at the start", 0, 0, 0},
        {"", 0, 0, 0},
    };
    for (const testCase &tc : cases) {
        int lo = tc.start, hi = -1;
        parseFocalRange(tc.text, lo, hi);
        EXPECT_EQ(lo, tc.min) << tc.text;
        EXPECT_EQ(hi, tc.max) << tc.text;
    }
}

TEST(lensLookup, findsCameraAndLensInFixture)
{
    fixtureDb f;
    lensfunDb db(f.systemDir, f.userDir);
    ASSERT_TRUE(db.load());
    int best = -1, full = -1;
    EXPECT_TRUE(findCameraByExif(db, "Alpha and Beta", best, full));
    EXPECT_EQ(best, 0);
    best = -1;
    EXPECT_TRUE(findCameraByExif(db, "", best, full));
    EXPECT_EQ(best, -1);

    int lens = -1;
    QList<int> generic;
    findLensesForCamera(db, db.cameraAt(0), "Test 10-20mm", 15, lens, generic);
    EXPECT_EQ(lens, 0);
    EXPECT_EQ(generic, QList<int>({1}));
    lens = -1;
    generic.clear();
    findLensesForCamera(db, db.cameraAt(0), "", 15, lens, generic);
    EXPECT_EQ(lens, -1);
}

// The real database of the system: every file loads, and the cameras and
// lenses of real photos are found.
TEST(lensfunDb, debianDatabaseLoadsCompletely)
{
    const QString folder = LENSFUN_SYSTEM_FOLDER;
    if (!QDir(folder).exists())
        GTEST_SKIP() << "lensfun data not installed";
    lensfunDb db(folder, testSupport::freshDir() + LENSFUN_USER_SUBFOLDER);
    ASSERT_TRUE(db.load());
    EXPECT_GE(db.systemFileNames().size(), 50);
    // Every record of every file arrived: no file failed to parse.
    EXPECT_EQ(db.cameraCount(), countTag(folder, "<camera>"));
    EXPECT_EQ(db.lensCount(), countTag(folder, "<lens>"));
    EXPECT_EQ(db.mounts().size(), countTag(folder, "<mount>\n"));
}

TEST(lensfunDb, versionFromTheDataTimestamp)
{
    const struct {
        const char *name;
        const char *stamp; // null: no file
        const char *version;
    } cases[] = {
        {"packaged data", "1645386247\n", "2022-02-20"},
        {"no file", nullptr, "?"},
        {"not a number", "yesterday", "?"},
        {"negative", "-5", "?"},
        {"far future", "99999999999999", "?"},
    };
    for (const auto &c : cases) {
        const QString folder = testSupport::freshDir(c.name);
        if (c.stamp) {
            ASSERT_TRUE(testSupport::writeFile(folder + "/timestamp.txt", c.stamp));
        }
        EXPECT_EQ(lensfunDb::databaseVersion(folder), c.version) << c.name;
    }
    if (QFile::exists(QString(LENSFUN_SYSTEM_FOLDER) + "/timestamp.txt")) {
        EXPECT_NE(lensfunDb(LENSFUN_SYSTEM_FOLDER, QString()).getVersion(), "?");
    }
}

TEST(lensLookup, kitLensOfTheInstalledDatabaseKeepsItsApertureRange)
{
    if (!QDir(LENSFUN_SYSTEM_FOLDER).exists())
        GTEST_SKIP() << "lensfun data not installed";
    lensfunDb db(LENSFUN_SYSTEM_FOLDER, QString());
    ASSERT_TRUE(db.load());
    int best = -1, full = -1;
    ASSERT_TRUE(findCameraByExif(db, "Canon EOS 550D", best, full));
    ASSERT_GE(best, 0);
    int lens = -1;
    QList<int> generic;
    findLensesForCamera(db, db.cameraAt(best), "EF-S18-55mm f/3.5-5.6 IS", 18.0, lens, generic);
    ASSERT_GE(lens, 0);
    EXPECT_EQ(apertureRangeOf(db.lensAt(lens).model), "3.5-5.6") << qPrintable(db.lensAt(lens).model);
}

TEST(lensLookup, camerasAndLensesOfRealPhotos)
{
    LUMIDRA_REQUIRE_TESTDATA();
    if (!QDir(LENSFUN_SYSTEM_FOLDER).exists())
        GTEST_SKIP() << "lensfun data not installed";
    lensfunDb db(LENSFUN_SYSTEM_FOLDER, QString());
    ASSERT_TRUE(db.load());

    struct testCase {
        const char *file;
        const char *camera; // expected database model
        const char *lens;   // expected database lens model, or null
    } cases[] = {
        {"exif_jpeg/Canon_40D.jpg", "Canon EOS 40D", nullptr},
        {"exif_jpeg/Nikon_D70.jpg", "Nikon D70", nullptr},
        {"exif_jpeg/exiftool_NikonD70.jpg", "Nikon D70", nullptr},
        {"exif_jpeg/exiftool_Canon.jpg", "Canon EOS DIGITAL REBEL", nullptr},
        {"exif_jpeg/exiftool_Canon1DmkIII.jpg", "Canon EOS-1D Mark III",
         // The word score looks at the first four words only, so it cannot tell the
         // marks of this lens apart; the first of them in the file wins.
         "Canon EF 16-35mm f/2.8L USM"},
        {"exif_jpeg/exiftool_OlympusE1.jpg", "E-1", nullptr},
        {"exif_jpeg/exiftool_Pentax.jpg", "Pentax K10D", nullptr},
        {"exif_jpeg/exiftool_Sony.jpg", "DSC-F828", nullptr},
        {"exif_jpeg/sony-alpha-6000.jpg", "ILCE-6000", "E PZ 16-50mm f/3.5-5.6 OSS"},
        {"exif_jpeg/canon_hdr_YES.jpg", "Canon PowerShot SX60 HS", nullptr},
    };
    for (const testCase &tc : cases) {
        const QString path = testSupport::testDataFile(tc.file);
        ASSERT_FALSE(path.isEmpty()) << tc.file;
        QProcess exiftool;
        exiftool.start("exiftool", {"-s3", "-f", "-Model", "-LensModel", "-FocalLength#", path});
        ASSERT_TRUE(exiftool.waitForFinished(30000));
        const QStringList lines =
            QString::fromUtf8(exiftool.readAllStandardOutput()).split('\n');
        ASSERT_GE(lines.size(), 3) << tc.file;
        const QString model = lines.at(0).trimmed();
        const QString lensName = lines.at(1).trimmed() == "-" ? QString() : lines.at(1).trimmed();
        const double focal = lines.at(2).toDouble();

        int best = -1, full = -1;
        ASSERT_TRUE(findCameraByExif(db, model, best, full));
        ASSERT_GE(best, 0) << tc.file;
        const lensfunCamera cam = db.cameraAt(best);
        EXPECT_EQ(cam.model.toStdString(), tc.camera) << tc.file << " metadata " << qPrintable(model);
        EXPECT_GE(full, 0);
        if (!tc.lens)
            continue;
        int lens = -1;
        QList<int> generic;
        findLensesForCamera(db, cam, lensName, focal, lens, generic);
        ASSERT_GE(lens, 0) << tc.file;
        EXPECT_EQ(db.lensAt(lens).model.toStdString(), tc.lens) << tc.file;
        EXPECT_FALSE(generic.isEmpty());
        lensCalibData calib;
        double lo = 0, hi = 0;
        EXPECT_TRUE(db.getCalibData(calib, lo, hi, cam, db.lensAt(lens), focal)) << tc.file;
        EXPECT_LE(lo, hi);
    }
}
