// The three HDR writers (Radiance, OpenEXR, float TIFF) save the same checked
// way: a cut save keeps the old file and leaves nothing beside it, a replaced
// file keeps its permissions, a read-only one is refused with a reason, and a
// temporary file left by a killed save goes with the next save.

#include "hdr/hdrTiffWriter.h"
#include "imageio/openEXR.h"
#include "imageio/radianceRGBE.h"

#include "../imageio/writeFailure.h"
#include "testSupport.h"

#include <QDir>
#include <QFile>
#include <functional>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using writer_t = std::function<bool(const QString &, const std::vector<float> &, QString *)>;

struct writerCase {
    const char *suffix;
    writer_t save;
};

const int W = 48, H = 32;

const writerCase writers[] = {
    {"hdr", [](const QString &p, const std::vector<float> &v, QString *why) {
         return imageSaver::saveRadianceRGBE(p, W, H, v.data(), false, 0, 1, false, why);
     }},
    {"exr", [](const QString &p, const std::vector<float> &v, QString *why) {
         return imageSaver::saveOpenEXR(p, W, H, v.data(), false, 0, 1, false, why);
     }},
    {"tif", [](const QString &p, const std::vector<float> &v, QString *why) {
         return saveHdrTiff(p, W, H, v.data(), false, 0, 1, false, nullptr, false, why);
     }},
};

std::vector<float> image()
{
    std::vector<float> v(size_t(W) * H * 3);
    for (size_t i = 0; i < v.size(); ++i)
        v[i] = float((i * 7919) % 1009) / 37.0f;
    return v;
}

QStringList filesIn(const QString &dir)
{
    return QDir(dir).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
}

mode_t modeOf(const QString &path)
{
    struct stat st {};
    ::stat(QFile::encodeName(path).constData(), &st);
    return st.st_mode & 07777;
}

} // namespace

TEST(hdrWriters, everyWriterSavesTheCheckedWay)
{
    const std::vector<float> v = image();
    pid_t child = fork();
    if (child == 0)
        _exit(0);
    int status = 0;
    waitpid(child, &status, 0);   // an ended process: its temporary files are leftovers

    for (const writerCase &c : writers) {
        SCOPED_TRACE(c.suffix);
        const QString dir = testSupport::freshDir(c.suffix);
        const QString name = QStringLiteral("out.") + c.suffix;
        const QString path = dir + "/" + name;
        QString why;

        // A save cut short keeps the old file and leaves nothing else.
        ASSERT_TRUE(testSupport::writeFile(path, "old"));
        ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0600), 0);
        {
            writeFailure::fileSizeLimit limit(1500);
            EXPECT_FALSE(c.save(path, v, &why));
        }
        EXPECT_FALSE(why.isEmpty());
        EXPECT_EQ(testSupport::readFile(path), QByteArray("old"));
        EXPECT_EQ(filesIn(dir), QStringList {name});

        // A killed save's temporary file goes; the 0600 file stays 0600.
        const QString leftover = QStringLiteral(".%1.%2_1.tmp").arg(name).arg(qint64(child));
        ASSERT_TRUE(testSupport::writeFile(dir + "/" + leftover, "half"));
        EXPECT_TRUE(c.save(path, v, &why)) << qPrintable(why);
        EXPECT_EQ(filesIn(dir), QStringList {name});
        EXPECT_EQ(modeOf(path), mode_t(0600));
        const QByteArray saved = testSupport::readFile(path);
        EXPECT_GT(saved.size(), 100);

        // Read-only: refused with the reason, the file untouched.
        ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0444), 0);
        why.clear();
        EXPECT_FALSE(c.save(path, v, &why));
        EXPECT_TRUE(why.contains("read-only")) << qPrintable(why);
        EXPECT_EQ(testSupport::readFile(path), saved);

        // A folder nobody may write in.
        const QString ro = writeFailure::readOnlyFolder(testSupport::freshDir(QStringLiteral("ro_") + c.suffix));
        EXPECT_FALSE(c.save(ro + "/" + name, v, &why));
        EXPECT_FALSE(QFile::exists(ro + "/" + name));
    }
}
