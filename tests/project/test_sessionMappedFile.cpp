// Photo files written through a memory map: what is written through the map
// is what the file holds, a failed load leaves no file, and a folder that
// cannot take the file (or a file-size limit, a full disk as far as the
// program can tell) gives no map, so the caller writes the ordinary way.

#include "project/photoInfo.h"
#include "project/sessionMappedFile.h"

#include "testSupport.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryFile>
#include <csignal>
#include <sys/resource.h>

namespace {

QStringList filesIn(const QString &dir)
{
    return QDir(dir).entryList(QDir::Files | QDir::Hidden);
}

} // namespace

TEST(sessionMappedFile, writtenThroughTheMapAndKeptOrRemoved)
{
    const QString dir = testSupport::freshDir() + "/";
    for (const bool keep : {true, false}) {
        SCOPED_TRACE(keep ? "kept" : "removed");
        photoInfo_t photo;
        const qint64 bytes = 3 * 4096 + 6; // not a whole number of pages
        uchar *map = sessionMappedFile::begin(dir, photo, 0, bytes);
        ASSERT_TRUE(map);
        ASSERT_TRUE(photo.tempFiles[0]);
        EXPECT_EQ(photo.tempFiles[0]->size(), bytes);
        for (qint64 i = 0; i < bytes; ++i)
            map[i] = uchar(i * 7 + 3);
        const QString name = photo.tempFiles[0]->fileName();
        sessionMappedFile::end(photo, 0, map, keep);
        if (!keep) {
            EXPECT_FALSE(photo.tempFiles[0]);
            EXPECT_FALSE(QFile::exists(name));
            continue;
        }
        ASSERT_TRUE(photo.tempFiles[0]);
        ASSERT_TRUE(photo.tempFiles[0]->seek(0));
        const QByteArray back = photo.tempFiles[0]->readAll();
        ASSERT_EQ(back.size(), bytes);
        bool same = true;
        for (qint64 i = 0; i < bytes && same; ++i)
            same = uchar(back[int(i)]) == uchar(i * 7 + 3);
        EXPECT_TRUE(same);
        delete photo.tempFiles[0];
        photo.tempFiles[0] = nullptr;
        EXPECT_FALSE(QFile::exists(name));
    }
    EXPECT_TRUE(filesIn(dir).isEmpty());
}

TEST(sessionMappedFile, noMapWhereTheFileCannotBeMade)
{
    const QString dir = testSupport::freshDir();
    ASSERT_TRUE(testSupport::writeFile(dir + "/plain", "x"));
    QTemporaryFile used(dir + "/usedXXXXXX");
    ASSERT_TRUE(used.open());

    // A file-size limit below the file's size, with the signal it raises ignored.
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    void (*previous)(int) = std::signal(SIGXFSZ, SIG_IGN);

    struct {
        const char *what;
        QString folder;
        int slot;
        qint64 bytes;
        bool limited;
    } cases[] = {
        {"a folder below a plain file (even root cannot)", dir + "/plain/sub/", 0, 4096, false},
        {"the slot already holds a file", dir + "/", 0, 4096, false},
        {"no such slot", dir + "/", PHOTO_TEMP_SLOTS, 4096, false},
        {"nothing to write", dir + "/", 1, 0, false},
        {"the file-size limit", dir + "/", 1, int64_t(64) << 20, true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        photoInfo_t photo;
        if (QString(c.what).startsWith("the slot"))
            photo.tempFiles[0] = &used;
        QTemporaryFile *before = c.slot < PHOTO_TEMP_SLOTS ? photo.tempFiles[c.slot] : nullptr;
        if (c.limited) {
            rlimit small = old;
            small.rlim_cur = 1 << 20;
            setrlimit(RLIMIT_FSIZE, &small);
        }
        uchar *map = sessionMappedFile::begin(c.folder, photo, c.slot, c.bytes);
        if (c.limited)
            setrlimit(RLIMIT_FSIZE, &old);
        EXPECT_FALSE(map);
        if (c.slot < PHOTO_TEMP_SLOTS) {
            EXPECT_EQ(photo.tempFiles[c.slot], before);
        }
        photo.tempFiles[0] = nullptr;
    }
    std::signal(SIGXFSZ, previous);
    // Nothing is left but the plain file the test made (the open temporary
    // file may have no name in the folder until one is asked for).
    used.close();
    EXPECT_EQ(filesIn(dir).filter(QRegularExpression("^(?!plain$|used)")), QStringList());
}

TEST(sessionMappedFile, rowsWrittenAtTheirOffsetsAndWriteErrorsReported)
{
    const QString dir = testSupport::freshDir();
    ASSERT_TRUE(testSupport::writeFile(dir + "/plain", "x"));
    photoInfo_t unusable;
    EXPECT_FALSE(sessionMappedFile::create(dir + "/plain/sub/", unusable, 0)); // below a plain file
    EXPECT_FALSE(unusable.tempFiles[0]);

    // Batches written out of order land at their offsets; the file is exactly their extent.
    photoInfo_t photo;
    ASSERT_TRUE(sessionMappedFile::create(dir + "/", photo, 0));
    EXPECT_FALSE(sessionMappedFile::create(dir + "/", photo, 0)); // the slot is taken
    const int rowBytes = 4096 + 6, rows = 5;
    QByteArray expected(rowBytes * rows, '\0');
    for (int i = 0; i < expected.size(); ++i)
        expected[i] = char(i * 13 + 1);
    for (const int first : {2, 0, 4, 1, 3})
        ASSERT_TRUE(sessionMappedFile::writeAt(photo, 0, qint64(first) * rowBytes, expected.constData() + first * rowBytes,
                                               rowBytes));
    ASSERT_TRUE(photo.tempFiles[0]->seek(0));
    EXPECT_TRUE(photo.tempFiles[0]->readAll() == expected);

    // Past a file-size limit (a full disk as far as the program can tell) the write fails.
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    void (*previous)(int) = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = old;
    small.rlim_cur = 1 << 16;
    setrlimit(RLIMIT_FSIZE, &small);
    const bool written = sessionMappedFile::writeAt(photo, 0, 1 << 20, expected.constData(), rowBytes);
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, previous);
    EXPECT_FALSE(written);
    EXPECT_FALSE(sessionMappedFile::writeAt(photo, 1, 0, expected.constData(), 1)); // empty slot

    const QString name = photo.tempFiles[0]->fileName();
    sessionMappedFile::end(photo, 0, nullptr, false);
    EXPECT_FALSE(photo.tempFiles[0]);
    EXPECT_FALSE(QFile::exists(name));
}
