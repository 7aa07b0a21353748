// checkedSaveFile: a save cut short anywhere fails and keeps the old file;
// a complete save replaces it; no temporary file is ever left behind.

#include "app/checkedSaveFile.h"
#include "project/pyramid.h"

#include "../common/testSupport.h"
#include "../imageio/writeFailure.h"

#include <QDir>
#include <QImage>
#include <QImageWriter>
#include <QStringList>
#include <cstring>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <gtest/gtest.h>
#include <vector>

namespace {

// Bytes that do not compress, from a fixed seed.
QByteArray noise(int size, uint32_t seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i) {
        seed = seed * 1664525u + 1013904223u;
        bytes[i] = char(seed >> 24);
    }
    return bytes;
}

QStringList filesIn(const QString &dir)
{
    return QDir(dir).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
}

const QByteArray oldContent("the old file, which a failed save must keep\n");

// The new content goes out in these pieces (two big writes like the case
// QSaveFile reported as saved, and a small tail).
const int pieceSizes[] = {3000, 3000, 100};
const int totalSize = 6100;

} // namespace

TEST(checkedSaveFile, everyCutFailsAndKeepsTheOldFile)
{
    // File-size limits: nothing may be written, inside the first piece, at
    // each piece boundary and one byte short of the whole.
    const rlim_t cuts[] = {0, 1, 2999, 3000, 3001, 5000, 6000, 6001, totalSize - 1};
    const QByteArray content = noise(totalSize, 7);
    for (rlim_t cut : cuts) {
        SCOPED_TRACE(testing::Message() << "limit " << cut);
        const QString dir = testSupport::freshDir(QStringLiteral("cut%1").arg(qulonglong(cut)));
        const QString target = dir + "/target.bin";
        ASSERT_TRUE(testSupport::writeFile(target, oldContent));
        bool committed = true;
        QString reason;
        {
            writeFailure::fileSizeLimit limit(cut);
            checkedSaveFile file(target);
            ASSERT_TRUE(file.open());
            int at = 0;
            for (int piece : pieceSizes) {
                // Callers that ignore a write's result still get a failed commit.
                file.write(content.constData() + at, piece);
                at += piece;
            }
            committed = file.commit();
            reason = file.errorText();
        }
        EXPECT_FALSE(committed);
        EXPECT_FALSE(reason.isEmpty());
        EXPECT_EQ(testSupport::readFile(target), oldContent);
        EXPECT_EQ(filesIn(dir), QStringList {"target.bin"});
    }
}

TEST(checkedSaveFile, aShortWriteReportsFailureAtOnce)
{
    const QString dir = testSupport::freshDir();
    const QString target = dir + "/target.bin";
    ASSERT_TRUE(testSupport::writeFile(target, oldContent));
    writeFailure::fileSizeLimit limit(5000);
    checkedSaveFile file(target);
    ASSERT_TRUE(file.open());
    const QByteArray piece = noise(3000, 3);
    EXPECT_EQ(file.write(piece), 3000);
    EXPECT_EQ(file.write(piece), -1);
    EXPECT_EQ(file.write(piece), -1) << "a failed save stays failed";
    EXPECT_FALSE(file.commit());
    EXPECT_EQ(testSupport::readFile(target), oldContent);
    EXPECT_EQ(filesIn(dir), QStringList {"target.bin"});
}

TEST(checkedSaveFile, aCompleteSaveReplacesTheFile)
{
    const QByteArray content = noise(totalSize, 11);
    // Exactly at the limit and without one; into an existing file and a new one.
    const rlim_t limits[] = {rlim_t(totalSize), RLIM_INFINITY};
    for (rlim_t lim : limits) {
        for (bool existing : {true, false}) {
            SCOPED_TRACE(testing::Message() << "limit " << lim << " existing " << existing);
            const QString dir = testSupport::freshDir(QStringLiteral("full%1_%2").arg(qulonglong(lim)).arg(existing));
            const QString target = dir + "/target.bin";
            if (existing) {
                ASSERT_TRUE(testSupport::writeFile(target, oldContent));
            }
            writeFailure::fileSizeLimit limit(lim);
            checkedSaveFile file(target);
            ASSERT_TRUE(file.open());
            int at = 0;
            for (int piece : pieceSizes) {
                EXPECT_EQ(file.write(content.constData() + at, piece), piece);
                at += piece;
            }
            EXPECT_TRUE(file.commit()) << qPrintable(file.errorText());
            EXPECT_TRUE(file.errorText().isEmpty());
            EXPECT_EQ(testSupport::readFile(target), content);
            EXPECT_EQ(filesIn(dir), QStringList {"target.bin"});
        }
    }
}

TEST(checkedSaveFile, withoutCommitNothingChanges)
{
    const QString dir = testSupport::freshDir();
    const QString target = dir + "/target.bin";
    ASSERT_TRUE(testSupport::writeFile(target, oldContent));
    {
        checkedSaveFile file(target);
        ASSERT_TRUE(file.open());
        EXPECT_EQ(file.write(noise(100, 5)), 100);
    }
    EXPECT_EQ(testSupport::readFile(target), oldContent);
    {
        checkedSaveFile file(target);
        ASSERT_TRUE(file.open());
        EXPECT_EQ(file.write(noise(100, 5)), 100);
        file.discard();
        EXPECT_FALSE(file.commit());
    }
    EXPECT_EQ(testSupport::readFile(target), oldContent);
    EXPECT_EQ(filesIn(dir), QStringList {"target.bin"});
}

TEST(checkedSaveFile, anUnwritableFolderFailsCleanly)
{
    const QString dir = writeFailure::readOnlyFolder(testSupport::freshDir());
    const QStringList before = filesIn(dir);
    checkedSaveFile file(dir + "/target.bin");
    EXPECT_FALSE(file.open());
    EXPECT_FALSE(file.errorText().isEmpty());
    EXPECT_EQ(file.write(QByteArray("x")), -1);
    EXPECT_FALSE(file.commit());
    EXPECT_EQ(filesIn(dir), before);
    checkedSaveFile missing(testSupport::freshDir() + "/no/such/folder/target.bin");
    EXPECT_FALSE(missing.open());
    EXPECT_FALSE(missing.errorText().isEmpty());
}

TEST(checkedSaveFile, imageWritersSaveThroughIt)
{
    QImage image(64, 48, QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            image.setPixel(x, y, qRgb(x * 4, y * 5, (x ^ y) * 3));
    const QList<QByteArray> supported = QImageWriter::supportedImageFormats();
    // PNG and BMP write straight through; TIFF (when its plug-in is there) seeks back.
    for (const char *format : {"png", "bmp", "tif"}) {
        if (!supported.contains(format))
            continue;
        SCOPED_TRACE(format);
        const QString dir = testSupport::freshDir(QString::fromLatin1(format));
        const QString target = dir + "/image." + format;
        ASSERT_TRUE(testSupport::writeFile(target, oldContent));
        {
            checkedSaveFile file(target);
            ASSERT_TRUE(file.open());
            ASSERT_TRUE(image.save(&file, format));
            ASSERT_TRUE(file.commit()) << qPrintable(file.errorText());
        }
        QImage back(target);
        ASSERT_FALSE(back.isNull());
        EXPECT_EQ(back.convertToFormat(QImage::Format_RGB32), image);
        EXPECT_EQ(filesIn(dir), QStringList {QStringLiteral("image.") + format});
    }
}

// The undo files of masks go through it: a mask save cut short by a full
// disk fails and the mask saved before survives.
TEST(checkedSaveFile, aCutMaskSaveKeepsTheOldMaskFile)
{
    const int w = 200, h = 150;
    pyramid oldMask, newMask;
    ASSERT_TRUE(oldMask.makePyramid(w, h, 1, 1, 1, true));
    ASSERT_TRUE(newMask.makePyramid(w, h, 1, 1, 1, true));
    static_cast<uint8_t *>(oldMask.levels[0].data)[5] = 200;
    const QByteArray bytes = noise(w * h, 13);
    std::memcpy(newMask.levels[0].data, bytes.constData(), size_t(w * h));

    const QString dir = testSupport::freshDir();
    const QString path = dir + "/mask.undo";
    ASSERT_TRUE(oldMask.writeMaskFile(path));
    const QByteArray saved = testSupport::readFile(path);
    ASSERT_LT(saved.size(), 2000);
    {
        writeFailure::fileSizeLimit limit(10000); // the noise mask needs about 30 kB
        EXPECT_FALSE(newMask.writeMaskFile(path));
        // BMP: its writer does not stop at a failed write, the file still must.
        EXPECT_FALSE(newMask.saveImage(dir + "/mask.bmp"));
    }
    EXPECT_EQ(testSupport::readFile(path), saved);
    EXPECT_EQ(filesIn(dir), QStringList {"mask.undo"});
    pyramid back;
    ASSERT_TRUE(back.makePyramid(w, h, 1, 1, 1, true));
    ASSERT_TRUE(back.readMaskFile(path));
    EXPECT_EQ(std::memcmp(back.levels[0].data, oldMask.levels[0].data, size_t(w * h)), 0);

    // Without the limit the new mask replaces it.
    ASSERT_TRUE(newMask.writeMaskFile(path));
    ASSERT_TRUE(back.readMaskFile(path));
    EXPECT_EQ(std::memcmp(back.levels[0].data, bytes.constData(), size_t(w * h)), 0);
    EXPECT_EQ(filesIn(dir), QStringList {"mask.undo"});
}

namespace {

// The pid of a process that has ended (and was reaped), for leftover names.
qint64 endedProcessId()
{
    const pid_t child = fork();
    if (child == 0)
        _exit(0);
    int status = 0;
    waitpid(child, &status, 0);
    return qint64(child);
}

mode_t modeOf(const QString &path)
{
    struct stat st {};
    ::stat(QFile::encodeName(path).constData(), &st);
    return st.st_mode & 07777;
}

bool saveBytes(checkedSaveFile &file, const QByteArray &bytes)
{
    return file.open() && file.write(bytes) == bytes.size() && file.commit();
}

} // namespace

// A save killed midway leaves its temporary file; the next save of the same
// target removes it, but not one of a process that still runs, nor files of
// other targets.
TEST(checkedSaveFile, theNextSaveRemovesLeftoversOfEndedSaves)
{
    const QString dir = testSupport::freshDir();
    const QString target = dir + "/out.hdr";
    const qint64 dead = endedProcessId();
    const QString live = QString::number(qint64(getppid()));
    const QStringList leftovers {QStringLiteral(".out.hdr.%1_1.tmp").arg(dead),
                                 QStringLiteral("out.hdr~.%1_3.tmp").arg(dead)};
    const QStringList kept {QStringLiteral(".out.hdr.%1_2.tmp").arg(live), QStringLiteral(".other.hdr.%1_1.tmp").arg(dead),
                            QStringLiteral("out.hdr~")};
    for (const QString &name : leftovers + kept)
        ASSERT_TRUE(testSupport::writeFile(dir + "/" + name, "half"));
    checkedSaveFile file(target);
    ASSERT_TRUE(saveBytes(file, "new")) << qPrintable(file.errorText());
    QStringList expected = kept;
    expected << "out.hdr";
    expected.sort();
    EXPECT_EQ(filesIn(dir), expected);
}

// The replaced file keeps its permissions; a read-only one is replaced only
// when the caller says so (and stays read-only).
TEST(checkedSaveFile, permissionsAndReadOnlyTargets)
{
    const QString dir = testSupport::freshDir();
    const QString target = dir + "/result.tif";
    struct modeCase {
        mode_t mode;
        bool readOnly;
    };
    const modeCase cases[] = {{0600, false}, {0640, false}, {0755, false}, {0444, true}, {0400, true}};
    for (const modeCase &c : cases) {
        SCOPED_TRACE(testing::Message() << std::oct << c.mode);
        ASSERT_TRUE(testSupport::writeFile(target, oldContent));
        ASSERT_EQ(::chmod(QFile::encodeName(target).constData(), c.mode), 0);
        EXPECT_EQ(checkedSaveFile::targetIsReadOnly(target), c.readOnly);
        {
            checkedSaveFile file(target);
            EXPECT_EQ(saveBytes(file, "new"), !c.readOnly);
            EXPECT_EQ(file.readOnlyTarget(), c.readOnly);
            if (c.readOnly) {
                EXPECT_TRUE(file.errorText().contains("read-only")) << qPrintable(file.errorText());
            }
        }
        EXPECT_EQ(testSupport::readFile(target), c.readOnly ? oldContent : QByteArray("new"));
        if (c.readOnly) {
            checkedSaveFile file(target);
            file.setReplaceReadOnly(true);
            EXPECT_TRUE(saveBytes(file, "new")) << qPrintable(file.errorText());
            EXPECT_EQ(testSupport::readFile(target), QByteArray("new"));
        }
        EXPECT_EQ(modeOf(target), c.mode);
        EXPECT_EQ(filesIn(dir), QStringList {"result.tif"});
        ::chmod(QFile::encodeName(target).constData(), 0600);
    }
    EXPECT_FALSE(checkedSaveFile::targetIsReadOnly(dir + "/missing.tif"));
}

// A library writing by path or descriptor: commit renames what it wrote;
// without commit the target stays as it was.
TEST(checkedSaveFile, aLibraryWritesThroughThePathOrDescriptor)
{
    const QString dir = testSupport::freshDir();
    const QString target = dir + "/lib.bin";
    ASSERT_TRUE(testSupport::writeFile(target, oldContent));
    {
        checkedSaveFile file(target);
        ASSERT_TRUE(file.openForLibrary());
        ASSERT_FALSE(file.temporaryPath().isEmpty());
        EXPECT_NE(file.temporaryPath(), target);
        ASSERT_EQ(::write(file.descriptor(), "abc", 3), 3);
        // Written by name as OpenEXR does (a second descriptor).
        FILE *f = fopen(QFile::encodeName(file.temporaryPath()).constData(), "r+b");
        ASSERT_TRUE(f);
        fseek(f, 3, SEEK_SET);
        fputs("def", f);
        fclose(f);
        EXPECT_TRUE(file.commit()) << qPrintable(file.errorText());
    }
    EXPECT_EQ(testSupport::readFile(target), QByteArray("abcdef"));
    {
        checkedSaveFile file(target);
        ASSERT_TRUE(file.openForLibrary());
        ASSERT_EQ(::write(file.descriptor(), "xyz", 3), 3);
    }
    EXPECT_EQ(testSupport::readFile(target), QByteArray("abcdef"));
    EXPECT_EQ(filesIn(dir), QStringList {"lib.bin"});
}
