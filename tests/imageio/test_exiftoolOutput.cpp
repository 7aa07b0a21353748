// The exiftool output parser: julianDay, the label rules on fixed lines, and
// real exiftool output of the bracket sample files.

#include "imageio/exiftoolOutput.h"

#include "imageio/exifReader.h"
#include "imageio/exiftoolDaemon.h"

#include "testSupport.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QThread>
#include <climits>
#include <cstring>
#include <gtest/gtest.h>

namespace {

PartialExif_t parsed(const QStringList &lines)
{
    PartialExif_t r;
    std::memset(&r, 0, sizeof(r));
    parseExiftoolOutput(lines, &r);
    return r;
}

} // namespace

TEST(exiftoolOutput, julianDay)
{
    struct row { int y, m, d, jd; };
    const row rows[] = {
        {2000, 1, 1, 2451546}, {2017, 5, 1, 2457875}, {1582, 10, 15, 2299162},
        {1582, 10, 4, 2299160}, {2017, 2, 28, 2457813}, {2017, 3, 1, 2457814},
    };
    for (const row &r : rows)
        EXPECT_EQ(julianDay(r.y, r.m, r.d), r.jd) << r.y << "-" << r.m << "-" << r.d;
    // Numbers from a damaged date never overflow (the result just wraps).
    julianDay(INT_MAX, INT_MAX, INT_MAX);
    julianDay(INT_MIN, INT_MIN, INT_MIN);
}

TEST(exiftoolOutput, labelRules)
{
    PartialExif_t r = parsed({"ISO                             : 400",
                              "Exposure Time                   : 1/250",
                              "Aperture Value                  : 5.6",
                              "Image Width                     : 640",
                              "Image Height                    : 427",
                              "Date/Time Original              : 2017:05:01 12:00:00",
                              "Bracket Mode                    : AEB",
                              "Bracket Shot Number             : 2",
                              "AEB Bracket Value               : +1.3",
                              "Aspect Ratio                    : 3:2",
                              "Comment                         : HDR created with Lumidra " LUMIDRA_VERSION});
    EXPECT_DOUBLE_EQ(r.iso, 400);
    EXPECT_STREQ(r.exposureTimeText, "1/250");
    EXPECT_DOUBLE_EQ(r.exposureTime, 0.004);
    EXPECT_DOUBLE_EQ(r.aperture, 5.6);
    EXPECT_EQ(r.imageWidth, 640);
    EXPECT_EQ(r.imageHeight, 427);
    EXPECT_TRUE(r.isAeb);
    EXPECT_EQ(r.bracketShotNumber, 2);
    EXPECT_DOUBLE_EQ(r.aebBracketValue, 1.3);
    EXPECT_STREQ(r.aspectRatio, "3:2");
    EXPECT_TRUE(r.madeByThisProgram);

    const PartialExif_t later = parsed({"Date/Time Original              : 2017:05:01 12:00:10"});
    EXPECT_EQ(later.timeStamp - r.timeStamp, 10);

    // Defaults, decimal and broken exposure times, no date.
    PartialExif_t d = parsed({"Exposure Time                   : 0.5"});
    EXPECT_DOUBLE_EQ(d.iso, 100.0);
    EXPECT_DOUBLE_EQ(d.aperture, 1.0);
    EXPECT_DOUBLE_EQ(d.exposureTime, 0.5);
    EXPECT_EQ(d.timeStamp, 0);
    EXPECT_FALSE(d.isAeb);
    d = parsed({"Exposure Time                   : 1/0"});
    EXPECT_EQ(d.exposureTime, 0.0);

    EXPECT_TRUE(parsed({"Release Mode                    : Exposure Bracketing"}).isAeb);
    EXPECT_TRUE(parsed({"Exposure Mode                   : Auto bracket"}).isAeb);
    EXPECT_FALSE(parsed({"Exposure Mode                   : Manual"}).isAeb);
    EXPECT_FALSE(parsed({"Comment                         : AppleMark."}).madeByThisProgram);

    // A value longer than the field is cut, never overflowing it.
    const PartialExif_t longText = parsed({"Aspect Ratio                    : " + QString(80, 'x')});
    EXPECT_EQ(std::strlen(longText.aspectRatio), 31u);
}

TEST(exiftoolOutput, otherFileTypesAreNotAsked)
{
    PartialExif_t r;
    std::memset(&r, 0, sizeof(r));
    EXPECT_FALSE(exifFromExiftoolOutput(nullptr, "/photos/picture.png", &r));
    EXPECT_STREQ(r.fileName, "picture.png");
}

TEST(exiftoolOutput, realBracketFiles)
{
    LUMIDRA_REQUIRE_TESTDATA();
    if (exiftoolDaemon::findExecutable().isEmpty())
        GTEST_SKIP() << "exiftool not installed";
    exiftoolDaemon daemon;
    struct row {
        const char *file;
        double exposure, aperture, iso, aeb;
        bool isAeb;
        const char *dateTime;
        int width, height;
    };
    const row rows[] = {
        {"brackets/airport_moving_people_3exp/IMG_0960.JPG", 0.01, 5.7, 100, -2, true,
         "2011:12:13 03:09:10", 900, 600},
        {"brackets/airport_moving_people_3exp/IMG_0961.JPG", 1.0 / 6, 5.7, 100, 2, true,
         "2011:12:13 03:09:10", 900, 600},
        {"brackets/room_7exp/stack_room_exp_0.jpg", 2.0, 4.8, 200, 0, false,
         "2015:08:21 09:11:58", 640, 427},
        {"brackets/room_7exp/stack_room_exp_6.jpg", 1.0 / 4000, 4.8, 200, 0, false,
         "2015:08:21 09:13:39", 640, 427},
        {"brackets/sony_aeb_night_5exp/DSC08199.JPG", 1.0 / 30, 1.0, 4000, 0, true,
         "2019:02:09 00:31:50", 200, 113},
        {"brackets/canal_aeb_misaligned_3exp/IMG_4210.jpg", 1.0 / 320, 5.7, 100, 0, true,
         "2012:07:19 05:16:25", 720, 1080},
    };
    for (const row &r : rows) {
        PartialExif_t e;
        std::memset(&e, 0, sizeof(e));
        ASSERT_TRUE(exifFromExiftoolOutput(&daemon, testSupport::testDataFile(r.file), &e)) << r.file;
        EXPECT_NEAR(e.exposureTime, r.exposure, 1e-9) << r.file;
        EXPECT_DOUBLE_EQ(e.aperture, r.aperture) << r.file;
        EXPECT_DOUBLE_EQ(e.iso, r.iso) << r.file;
        EXPECT_DOUBLE_EQ(e.aebBracketValue, r.aeb) << r.file;
        EXPECT_EQ(e.isAeb, r.isAeb) << r.file;
        EXPECT_STREQ(e.dateTimeOriginal, r.dateTime) << r.file;
        EXPECT_EQ(e.imageWidth, r.width) << r.file;
        EXPECT_EQ(e.imageHeight, r.height) << r.file;
        EXPECT_STREQ(e.fileName, QFileInfo(r.file).fileName().toUtf8().constData());
    }
    // Time stamps: the room bracket spans 1 min 41 s.
    PartialExif_t a, b;
    std::memset(&a, 0, sizeof(a));
    std::memset(&b, 0, sizeof(b));
    ASSERT_TRUE(exifFromExiftoolOutput(&daemon, testSupport::testDataFile("brackets/room_7exp/stack_room_exp_0.jpg"), &a));
    ASSERT_TRUE(exifFromExiftoolOutput(&daemon, testSupport::testDataFile("brackets/room_7exp/stack_room_exp_6.jpg"), &b));
    EXPECT_EQ(b.timeStamp - a.timeStamp, 101);
}

TEST(exiftoolOutput, readExifOfFileUsesTheBuiltInReader)
{
    LUMIDRA_REQUIRE_TESTDATA();
    exifInfo_t info;
    std::memset(&info, 0, sizeof(info));
    ASSERT_TRUE(readExifOfFile(testSupport::testDataFile("exif_jpeg/Canon_40D.jpg"), &info));
    EXPECT_STREQ(info.model, "Canon EOS 40D");
    exifFreeStripTables(&info);
    std::memset(&info, 0, sizeof(info));
    EXPECT_FALSE(readExifOfFile(testSupport::scratchDir() + "/missing.jpg", &info));
}
