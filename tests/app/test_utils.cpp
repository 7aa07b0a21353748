#include "app/programOptionsSettings.h"
#include "app/utils.h"
#include "testSupport.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QThread>

TEST(fileTypeOf, byExtension)
{
    const struct {
        const char *name;
        int type;
    } cases[] = {
        {"a.jpg", FILETYPE_JPEG}, {"a.JPEG", FILETYPE_JPEG}, {"a.tif", FILETYPE_TIFF}, {"a.Tiff", FILETYPE_TIFF},
        {"a.bmp", FILETYPE_BMP},  {"a.png", FILETYPE_PNG},   {"a.fit", FILETYPE_FITS}, {"a.fts", FILETYPE_FITS},
        {"a.fits", FILETYPE_FITS}, {"a.HDR", FILETYPE_HDR},  {"a.exr", FILETYPE_EXR},  {"a.NEF", FILETYPE_RAW},
        {"a.cr2", FILETYPE_RAW},  {"a.rwl", FILETYPE_RAW},   {"a.3fr", FILETYPE_RAW},  {"a.dng", FILETYPE_RAW},
        {"a.webp", FILETYPE_UNKNOWN}, {"noext", FILETYPE_UNKNOWN}, {"a.lmpx", FILETYPE_UNKNOWN},
        {"a.x-lmpx", FILETYPE_PROJECT}, {"a.0-LMPX", FILETYPE_PROJECT}, {"dir.jpg/file", FILETYPE_UNKNOWN},
        {"C:\\photos\\a.raf", FILETYPE_RAW},
    };
    for (const auto &c : cases)
        EXPECT_EQ(int(fileTypeOf(c.name)), c.type) << c.name;
    // All 23 RAW extensions.
    for (const char *e : {"crw", "cr2", "nef", "nrw", "raf", "orf", "srf", "sr2", "arw", "srw", "pef", "mrw",
                          "mdc", "dcr", "dcs", "kdc", "raw", "dng", "x3f", "3fr", "erf", "rw2", "rwl"})
        EXPECT_EQ(int(fileTypeOf(QString("x.") + e)), FILETYPE_RAW) << e;
}

TEST(pathHelpers, namesAndParts)
{
    EXPECT_EQ(splitPathParts("a.b.tif"), "a.b");
    EXPECT_EQ(splitPathParts("/x/noext"), "noext");
    EXPECT_EQ(splitPathParts("C:\\x\\IMG_1.CR2"), "IMG_1");
    EXPECT_EQ(fileNameOf("C:\\x/y\\z.jpg"), "z.jpg");
    EXPECT_EQ(fileSuffixOf("/a.b/c"), "");
    EXPECT_EQ(fileSuffixOf("c.tar.gz"), "gz");
    EXPECT_EQ(nativeAbsolutePath(""), "");
    EXPECT_EQ(nativeAbsolutePath("/a/b/../c"), "/a/c");
}

TEST(pathHelpers, completeDirPath)
{
    const QString cwd = QDir::currentPath();
    const struct {
        const char *in;
        QString expected;
    } cases[] = {
        {"/photos/a.jpg", "/photos"},
        {"/photos/set", "/photos/set"},
        {"/photos/set/", "/photos/set"},
        {"/photos/v1.2", "/photos"}, // a folder with a dot is taken for a file
        {"\\photos\\x\\..\\a.jpg", "/photos"},
        {"rel/a.jpg", cwd + "/rel"},
        {"D:/photos/a.jpg", cwd + "/D:/photos"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(completeDirPath(c.in), c.expected) << c.in;
}

TEST(pathHelpers, foldersAndRemoval)
{
    const QString root = testSupport::freshDir();
    EXPECT_FALSE(dirExists(""));
    EXPECT_TRUE(dirExists(root));
    EXPECT_FALSE(makeDir(root + "/a/b")) << "no parents";
    EXPECT_TRUE(makeDir(root + "/a"));
    EXPECT_TRUE(makeDir(root + "/a"));
    EXPECT_TRUE(makeDir(root + "/a/b"));
    ASSERT_TRUE(testSupport::writeFile(root + "/a/b/.hidden", "x"));
    ASSERT_TRUE(testSupport::writeFile(root + "/a/f.txt", "x"));
    EXPECT_FALSE(removeEmptyDir(root + "/a"));
    EXPECT_TRUE(fileExists(root + "/a/f.txt"));
    EXPECT_FALSE(fileExists(root + "/a"));

    // A link to a folder outside must not be followed.
    const QString outside = testSupport::freshDir("outside");
    ASSERT_TRUE(testSupport::writeFile(outside + "/keep.txt", "x"));
    ASSERT_TRUE(QFile::link(outside, root + "/a/link"));

    EXPECT_TRUE(removeDirRecursive(root + "/a"));
    EXPECT_TRUE(dirExists(root + "/a/b")) << "folders stay";
    EXPECT_FALSE(QFileInfo::exists(root + "/a/b/.hidden"));
    EXPECT_FALSE(QFileInfo::exists(root + "/a/f.txt"));
    EXPECT_TRUE(QFileInfo::exists(outside + "/keep.txt"));
    EXPECT_TRUE(removeDirRecursive(root + "/missing"));
    EXPECT_TRUE(removeEmptyDir(root + "/a/b"));
}

TEST(systemHelpers, dirWritableNeverTouchesUserFiles)
{
    const QString dir = testSupport::freshDir();
    ASSERT_TRUE(testSupport::writeFile(dir + "/rw_test", "precious"));
    EXPECT_TRUE(isDirWritable(dir));
    EXPECT_EQ(testSupport::readFile(dir + "/rw_test"), "precious");
    EXPECT_EQ(QDir(dir).entryList(QDir::Files | QDir::Hidden).size(), 1) << "no probe left behind";
    EXPECT_FALSE(isDirWritable(dir + "/missing"));
    EXPECT_FALSE(isDirWritable(""));
}

TEST(systemHelpers, freeDiskSpace)
{
    EXPECT_EQ(freeDiskSpaceMB(testSupport::scratchDir() + "/no/such/dir"), -1.0);
    EXPECT_EQ(freeDiskSpaceMB(""), -1.0);
    EXPECT_GT(freeDiskSpaceMB(testSupport::scratchDir()), 0.0);
}

TEST(systemHelpers, idealThreadCountFollowsSettings)
{
    const int ideal = std::min(QThread::idealThreadCount(), 64);
    optionsInstance = nullptr;
    EXPECT_EQ(idealThreadCount(false), ideal);
    programOptionsSettings o;
    o.performance.coreCount = 1;
    o.performance.coreCountBatch = 1000;
    optionsInstance = &o;
    EXPECT_EQ(idealThreadCount(false), 1);
    EXPECT_EQ(idealThreadCount(true), ideal);
    optionsInstance = nullptr;
}

// A worker thread uses the limits the main thread last published; it never
// reads the settings record, which the GUI may be changing meanwhile.
TEST(systemHelpers, idealThreadCountOnAWorkerUsesThePublishedLimits)
{
    const int ideal = std::min(QThread::idealThreadCount(), 64);
    programOptionsSettings o;
    o.performance.coreCount = 1;
    o.performance.coreCountBatch = 0;
    optionsInstance = &o;
    ASSERT_EQ(idealThreadCount(false), 1); // main thread: read and published
    o.performance.coreCount = 0;           // changed, not yet published
    o.performance.coreCountBatch = 1;
    int onWorker = -1, onWorkerBatch = -1;
    QThread *worker = QThread::create([&] {
        onWorker = idealThreadCount(false);
        onWorkerBatch = idealThreadCount(true);
    });
    worker->start();
    ASSERT_TRUE(worker->wait(60000));
    delete worker;
    EXPECT_EQ(onWorker, 1);
    EXPECT_EQ(onWorkerBatch, ideal);
    publishThreadLimits(0, 0);
    optionsInstance = nullptr;
    EXPECT_EQ(idealThreadCount(false), ideal);
}

TEST(presetFiles, listsTopLevelOrOneLevelDeep)
{
    const QString dir = testSupport::freshDir();
    QDir().mkpath(dir + "/groupB");
    QDir().mkpath(dir + "/groupA/deeper");
    for (const char *f : {"b.lmsx", "A.LMSX", "notes.txt", "groupB/x.lmsx", "groupA/y.lmsx", "groupA/deeper/z.lmsx"})
        ASSERT_TRUE(testSupport::writeFile(dir + "/" + f, "<x/>"));
    QStringList list{"stale"};
    listPresetFiles(list, true, dir);
    EXPECT_EQ(list, (QStringList{"A.LMSX", "b.lmsx"}));
    list = QStringList{"kept"};
    listPresetFiles(list, false, dir);
    EXPECT_EQ(list, (QStringList{"A.LMSX", "b.lmsx", "groupA/y.lmsx", "groupB/x.lmsx", "kept"}));
    list.clear();
    listPresetFiles(list, true, dir + "/missing");
    EXPECT_TRUE(list.isEmpty());
}

TEST(presetFiles, cutAt512)
{
    const QString dir = testSupport::freshDir();
    for (int i = 0; i < 600; ++i)
        ASSERT_TRUE(testSupport::writeFile(QString("%1/p%2.lmsx").arg(dir).arg(i, 3, 10, QChar('0')), ""));
    QStringList list;
    listPresetFiles(list, true, dir);
    EXPECT_EQ(list.size(), 512);
    EXPECT_TRUE(std::is_sorted(list.begin(), list.end()));
}

struct joinCase_t {
    const char *name;
    QStringList paths;
    const char *middle;
    const char *pattern;
    bool keepP;
    bool whole;
    QString expected;
};

class joinFileNames : public ::testing::TestWithParam<joinCase_t>
{
};

TEST_P(joinFileNames, builds)
{
    const joinCase_t &c = GetParam();
    EXPECT_EQ(joinFileNamesShort(c.paths, c.middle, c.pattern, c.keepP, c.whole), c.expected);
}

static const QStringList IMG3{"/p/IMG_0103.CR2", "/p/IMG_0101.CR2", "C:\\p\\IMG_0102.CR2"};
static const QString LONG_A(40, 'a');
static const QString LONG_B(40, 'b');

INSTANTIATE_TEST_SUITE_P(
    cases, joinFileNames,
    ::testing::Values(
        joinCase_t{"defaultPattern", IMG3, "", "%C%L_Lumidra%P", false, true, "IMG_0101_2_3_Lumidra"},
        joinCase_t{"keepPreset", IMG3, "", "%C%L_Lumidra%P", true, true, "IMG_0101_2_3_Lumidra%P"},
        joinCase_t{"upToL", IMG3, "", "%C%L_Lumidra%P", false, false, "IMG_0101_2_3"},
        joinCase_t{"noLKeepsPattern", IMG3, "", "%F_x", false, false, "IMG_0101_IMG_0102_IMG_0103_x"},
        joinCase_t{"allNamesAndCount", {"b.jpg", "a.jpg"}, "", "%F_%N", false, true, "a_b_002"},
        joinCase_t{"noCommonPart", {"b.jpg", "a.jpg"}, "", "%C%L", false, true, "a_b"},
        joinCase_t{"singlePhoto", {"/x/shot.tif"}, "", "%C%L_Lumidra_%N", false, true, "shot_Lumidra_001"},
        joinCase_t{"extensionOfFirstAsGiven", {"b.TIF", "a.jpg"}, "", "%C%L.%E", false, true, "a_b.TIF"},
        joinCase_t{"emptyFirstRest", {"IMG.jpg", "IMG_2.jpg"}, "", "%C%L", false, true, "IMG__2"},
        joinCase_t{"middlePhoto", IMG3, "/p/IMG_0102.CR2", "%C%L_%0", false, true, "IMG_0101_2_3_IMG_0102"},
        joinCase_t{"noMiddlePhoto", IMG3, "", "%C%L_%0", false, true, "IMG_0101_2_3"},
        joinCase_t{"tooLong", {LONG_A + ".jpg", LONG_B + ".jpg"}, "", "%C%L", false, true,
                   LONG_A + "_" + LONG_B.left(23) + "_and_more"},
        joinCase_t{"longSingleIsKept", {LONG_A + LONG_B + ".jpg"}, "", "%C%L", false, true,
                   LONG_A + LONG_B},
        joinCase_t{"noPhotos", {}, "", "%C%L", false, true, ""}),
    [](const ::testing::TestParamInfo<joinCase_t> &info) { return std::string(info.param.name); });

TEST(joinFileNames, defaultVariant)
{
    EXPECT_EQ(joinFileNamesShortDefault(IMG3, "", "%C%L_Lumidra%P"), "IMG_0101_2_3_Lumidra");
}

TEST(icons, tintScalesChannelsAndKeepsAlpha)
{
    const QString file = testSupport::freshDir() + "/icon.png";
    QImage img(3, 1, QImage::Format_ARGB32);
    img.setPixel(0, 0, qRgba(10, 20, 5, 255));
    img.setPixel(1, 0, qRgba(200, 200, 200, 255));
    img.setPixel(2, 0, qRgba(0, 0, 0, 100));
    ASSERT_TRUE(img.save(file));
    optionsInstance = nullptr; // dark skin, ratio 1
    const QIcon icon = makeColoredIcon(file);
    ASSERT_FALSE(icon.isNull());
    const QImage normal = icon.pixmap(3, 1, QIcon::Normal).toImage().convertToFormat(QImage::Format_ARGB32);
    // 128 x (v x 12) / 128 = 12 v, limited to 255.
    EXPECT_EQ(normal.pixel(0, 0), qRgba(120, 240, 60, 255));
    EXPECT_EQ(normal.pixel(1, 0), qRgba(255, 255, 255, 255));
    EXPECT_EQ(qAlpha(normal.pixel(2, 0)), 100);
    const QImage disabled = icon.pixmap(3, 1, QIcon::Disabled).toImage().convertToFormat(QImage::Format_ARGB32);
    EXPECT_EQ(disabled.pixel(0, 0), qRgba(70, 140, 35, 255));
    EXPECT_TRUE(makeColoredIcon(testSupport::scratchDir() + "/missing.png").isNull());
}
