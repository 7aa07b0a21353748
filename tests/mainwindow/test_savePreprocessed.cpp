// Saving the preprocessed input photos: the dialog's checks and the names it
// leads to, every photo written as it is in the session (not the result),
// the result left untouched, the metadata of each photo's own source file,
// and failed writes reported with nothing left under the names.

#include "../imageio/writeFailure.h"
#include "project/processingProject.h"
#include "widgets/pathEdit.h"
#include "widgets/saveDialogs.h"
#include "widgets/savePreprocessedDialog.h"
#include "widgets/slider.h"
#include "windowFixture.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QImage>
#include <QImageReader>
#include <QLineEdit>
#include <QProcess>
#include <QRadioButton>
#include <QSignalSpy>
#include <QStandardPaths>
#include <tiffio.h>

namespace {

bool loadPhotos(mainWindow &w, const QStringList &files)
{
    w.addImages(files);
    return waitFor([&] { return !w.loadingInProgress && !w.anyLoadRunning(); })
           && w.project->photos.size() == files.size();
}

// Three flat-ish photos of different brightness with a bright square each.
QStringList greyPhotos(const QString &dir)
{
    QStringList files;
    for (int i = 0; i < 3; ++i) {
        QImage image(192, 128, QImage::Format_RGB32);
        image.fill(QColor(40 + 60 * i, 30 + 60 * i, 20 + 60 * i));
        for (int y = 20 + 10 * i; y < 50 + 10 * i; ++y)
            for (int x = 30; x < 60; ++x)
                image.setPixel(x, y, qRgb(250, 240, 230));
        const QString path = dir + QString("/grey_%1.png").arg(i);
        image.save(path);
        files << path;
    }
    return files;
}

struct answer_t {
    QString folder;
    QString text;
    bool prefix = false;
    int format = 0;
    int tiffBits = 1;
};

// Answers the dialog as a person would: fills it in, presses "Save" (twice
// when the first press only proposed a text).
void answerWith(const answer_t &a)
{
    savePreprocessedDialog::setExecHook([a](savePreprocessedDialog *d) {
        d->folderEdit->lineEdit()->setText(a.folder);
        d->text->setText(a.text);
        (a.prefix ? d->prefixButton : d->suffixButton)->setChecked(true);
        d->formatBox->setCurrentIndex(a.format);
        d->tiffPanel->bitDepth->setCurrentIndex(a.tiffBits - 1);
        d->doAccept();
        if (d->result() != 1)
            d->doAccept();
        return d->result();
    });
}

bool saveAndWait(mainWindow &w)
{
    QSignalSpy ended(&w, &mainWindow::preprocessedSaveEnded);
    w.savePreprocessedSlot();
    if (!waitFor([&] { return !ended.isEmpty(); }))
        return false;
    return ended.first().at(0).toBool();
}

QString exiftoolTag(const QString &file, const QString &tag)
{
    QProcess p;
    p.start("exiftool", {"-s3", "-" + tag, file});
    if (!p.waitForFinished(30000))
        return QString();
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

class savePreprocessedTest : public mainWindowTest
{
protected:
    void SetUp() override
    {
        mainWindowTest::SetUp();
        options->optionsOnLoad.enabled = false;
    }
    void TearDown() override
    {
        savePreprocessedDialog::setExecHook(nullptr);
        mainWindowTest::TearDown();
    }
};

} // namespace

TEST_F(savePreprocessedTest, dialogChecksTheFolderAndProposesATextOnce)
{
    mainWindow w;
    const QString dir = testSupport::freshDir("dlg");
    options->savePreprocessed.prefixSuffix = "mine";
    options->savePreprocessed.prefix = true;
    options->savePreprocessed.format = 1;
    savePreprocessedDialog d(&w, w.project, dir);
    EXPECT_EQ(d.windowTitle(), "Save preprocessed input photos");
    EXPECT_EQ(d.text->text(), "mine");
    EXPECT_TRUE(d.prefixButton->isChecked());
    EXPECT_EQ(d.formatBox->currentIndex(), 1);
    EXPECT_EQ(d.text->maxLength(), 32);
    // The panel follows the format; PNG has none.
    for (int t : {0, 1, 2}) {
        d.formatBox->setCurrentIndex(t);
        EXPECT_EQ(!d.jpegPanel->isHidden(), t == 0);
        EXPECT_EQ(!d.tiffPanel->isHidden(), t == 1);
    }
    EXPECT_TRUE(d.jpegPanel->transferExif->isHidden());
    EXPECT_TRUE(d.tiffPanel->srgb->isHidden());

    // A folder that does not exist: an error, the dialog stays.
    d.folderEdit->lineEdit()->setText(dir + "/missing");
    d.doAccept();
    EXPECT_EQ(d.result(), 0);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "Error! The specified directory does not exist!");

    // An empty text is replaced by "_aligned" as a suffix; the second press accepts.
    d.folderEdit->lineEdit()->setText(dir);
    d.text->clear();
    d.doAccept();
    EXPECT_EQ(d.result(), 0);
    EXPECT_EQ(d.text->text(), "_aligned");
    EXPECT_TRUE(d.suffixButton->isChecked());
    d.formatBox->setCurrentIndex(1);
    d.tiffPanel->bitDepth->setCurrentIndex(1);
    d.tiffPanel->compression->setCurrentIndex(2);
    d.doAccept();
    EXPECT_EQ(d.result(), 1);
    EXPECT_EQ(options->savePreprocessed.prefixSuffix, "_aligned");
    EXPECT_FALSE(options->savePreprocessed.prefix);
    EXPECT_EQ(options->savePreprocessed.format, 1);
    EXPECT_EQ(options->savingResult.tiffBitDepth, 2);
    EXPECT_EQ(options->savingResult.tiffCompression, 2);
    EXPECT_EQ(messages.size(), 1u);
}

TEST_F(savePreprocessedTest, photosAreWrittenAsTheyAreUnderFreeNamesAndTheResultStays)
{
    mainWindow w;
    const QString photos = testSupport::freshDir("sources");
    const QStringList files = greyPhotos(photos);
    ASSERT_TRUE(loadPhotos(w, files));
    const int width = w.project->width, height = w.project->height;
    ASSERT_EQ(QSize(width, height), QSize(192, 128));

    // A result in the project (as tone mapping leaves it): it must survive.
    if (w.project->outputImage.levelCount == 0 || !w.project->outputImage.levels[0].data) {
        ASSERT_TRUE(w.project->outputImage.makePyramid(width, height, 1, 2, 3, true));
    }
    auto *result = static_cast<uint16_t *>(w.project->outputImage.levels[0].data);
    for (size_t i = 0; i < size_t(width) * height * 3; ++i)
        result[i] = uint16_t(i * 7);

    const QString out = testSupport::freshDir("out");
    // The proposed folder is the first photo's one.
    QString proposed;
    savePreprocessedDialog::setExecHook([&](savePreprocessedDialog *d) {
        proposed = d->folder();
        return 0;
    });
    w.savePreprocessedSlot();
    EXPECT_EQ(QDir::fromNativeSeparators(proposed), photos);

    struct {
        answer_t answer;
        const char *firstName;   // for grey_0
    } cases[] = {
        {{out, "pp", false, 2, 1}, "grey_0_pp.png"},
        {{out, "pp", false, 2, 1}, "grey_0_pp_1.png"},   // taken: a counter
        {{out, "pp", true, 1, 2}, "pp_grey_0.tif"},
        {{out, "a/../b", false, 0, 1}, "grey_0_a_.._b.jpg"},   // stays in the folder
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.firstName);
        answerWith(c.answer);
        ASSERT_TRUE(saveAndWait(w));
        ASSERT_EQ(w.lastPreprocessedFiles.size(), 3);
        // Named after the project's first photo (shown here as grey_0).
        const QString firstBase = QFileInfo(w.project->photos[0].filePath).completeBaseName();
        EXPECT_EQ(QFileInfo(w.lastPreprocessedFiles[0]).fileName().replace(firstBase, "grey_0"), c.firstName);
        EXPECT_EQ(QFileInfo(w.lastPreprocessedFiles[0]).absolutePath(), out);
        for (int i = 0; i < 3; ++i) {
            // File i is photo i of the project (its own order).
            const QString name = w.lastPreprocessedFiles[i];
            const int k = int(files.indexOf(w.project->photos[i].filePath));
            ASSERT_GE(k, 0);
            EXPECT_TRUE(QFileInfo(name).fileName().contains(QString("grey_%1").arg(k)));
            if (c.answer.format == 1) {
                TIFF *tif = TIFFOpen(QFile::encodeName(name).constData(), "r");
                ASSERT_NE(tif, nullptr);
                uint32_t tw = 0, th = 0;
                uint16_t bits = 0;
                TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &tw);
                TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &th);
                TIFFGetField(tif, TIFFTAG_BITSPERSAMPLE, &bits);
                EXPECT_EQ(QSize(int(tw), int(th)), QSize(width, height));
                EXPECT_EQ(bits, 16);
                TIFFClose(tif);
                continue;
            }
            const QImage written(name);
            const QImage source(files[k]);
            ASSERT_EQ(written.size(), source.size());
            // Each file is its own photo (flat area and bright square).
            const int tolerance = c.answer.format == 2 ? 1 : 4;
            for (const QPoint p : {QPoint(5, 5), QPoint(150, 100), QPoint(40, 35 + 10 * k)})
                EXPECT_NEAR(qGreen(written.pixel(p)), qGreen(source.pixel(p)), tolerance) << i;
        }
    }
    for (size_t i = 0; i < size_t(width) * height * 3; i += 997)
        ASSERT_EQ(result[i], uint16_t(i * 7)) << "the result was overwritten";
    EXPECT_EQ(QDir(out).entryList(QDir::Files).size(), 12);
    EXPECT_EQ(w.lastPreprocessedFolder, QDir::toNativeSeparators(out));
    EXPECT_TRUE(w.interfaceEnabled());
    // Only metadata warnings may come (no exiftool here), never an error.
    for (const shownMessage_t &m : messages)
        EXPECT_NE(m.kind, int(styledMessageBox::Error)) << qPrintable(m.text);
}

TEST_F(savePreprocessedTest, failedWritesAreReportedAndLeaveNoFiles)
{
    mainWindow w;
    ASSERT_TRUE(loadPhotos(w, greyPhotos(testSupport::freshDir("sources"))));
    messages.clear();   // the loader's note on the missing EXIF
    const QString locked = writeFailure::readOnlyFolder(testSupport::freshDir("locked") + "/locked");
    answerWith({locked, "pp", false, 0, 1});
    EXPECT_FALSE(saveAndWait(w));
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].kind, int(styledMessageBox::Error));
    EXPECT_TRUE(messages[0].text.startsWith("Cannot write file: ")) << qPrintable(messages[0].text);
    EXPECT_TRUE(messages[0].text.endsWith(". You may not have the required permissions."));
    EXPECT_TRUE(w.interfaceEnabled());

    // A full disk: no file stays under any of the names.
    const QString full = testSupport::freshDir("full");
    for (int format : {0, 1, 2}) {
        SCOPED_TRACE(format);
        messages.clear();
        answerWith({full, "pp", false, format, 2});
        {
            writeFailure::fileSizeLimit limit(64);
            EXPECT_FALSE(saveAndWait(w));
        }
        for (const shownMessage_t &m : messages)
            EXPECT_TRUE(m.text.startsWith("Cannot write file: ")) << qPrintable(m.text);
        EXPECT_EQ(messages.size(), 1u);
        EXPECT_TRUE(QDir(full).entryList(QDir::Files | QDir::Hidden | QDir::System).isEmpty());
    }
}

TEST_F(savePreprocessedTest, everyPhotoCarriesItsOwnSourceExif)
{
    const QString dir = testSupport::testDataFile("brackets/room_7exp");
    if (dir.isEmpty() || QStandardPaths::findExecutable("exiftool").isEmpty())
        GTEST_SKIP() << "sample photos (../shared/testdata) or exiftool missing";
    QStringList files;
    for (const QString &name : QDir(dir).entryList(QDir::Files, QDir::Name).mid(2, 2))
        files << dir + "/" + name;
    mainWindow w;
    ASSERT_TRUE(loadPhotos(w, files));
    const QString out = testSupport::freshDir("exif");
    for (int format : {0, 1}) {
        SCOPED_TRACE(format);
        answerWith({out, "aligned", false, format, 2});
        ASSERT_TRUE(saveAndWait(w));
        ASSERT_EQ(w.lastPreprocessedFiles.size(), files.size());
        for (int i = 0; i < files.size(); ++i) {
            // Photo i of the project (in its own order) gives file i its
            // name and its metadata.
            const QString &saved = w.lastPreprocessedFiles[i];
            const QString source = w.project->photos[i].filePath;
            EXPECT_TRUE(QFileInfo(saved).fileName().startsWith(QFileInfo(source).completeBaseName() + "_aligned"));
            for (const char *tag : {"Model", "ExposureTime", "FNumber", "DateTimeOriginal"})
                EXPECT_EQ(exiftoolTag(saved, tag), exiftoolTag(source, tag)) << tag << " of " << i;
            if (format == 0) {
                EXPECT_TRUE(exiftoolTag(saved, "Comment").startsWith("Image aligned with")) << i;
            }
            EXPECT_EQ(exiftoolTag(saved, "XResolution"), QString::number(options->savingResult.dpi));
        }
    }
    for (const shownMessage_t &m : messages)
        ADD_FAILURE() << "unexpected message: " << qPrintable(m.text);
}
