// Photos into the window and out: adding through the command line, a drop
// and the file dialog; the rows, their order, EV labels and "before" entries;
// the four EV sources on real brackets; removing; a new project; closing or
// starting anew while photos load; and the automatic run's exits.

#include "app/startParams.h"
#include "app/utils.h"
#include "hdrdialogs/EVselection.h"
#include "mainwindow/mainWindow.h"
#include "project/processingProject.h"
#include "testSupport.h"
#include "widgets/imageItem.h"
#include "widgets/myQComboBox.h"
#include "widgets/slider.h"
#include "windowFixture.h"

#include "hdrdialogs/rawLoadOptions.h"
#include "mainwindow/loadOptions.h"

#include <QCheckBox>
#include <QComboBox>
#include <QProcess>
#include <QStandardPaths>

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QTimer>
#include <QActionGroup>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QImage>
#include <QMenu>
#include <QPushButton>
#include <QVBoxLayout>
#include <cmath>

namespace {

QStringList bracket(const QString &folder)
{
    const QString dir = testSupport::testDataFile("brackets/" + folder);
    if (dir.isEmpty())
        return {};
    QStringList files;
    for (const QString &name : QDir(dir).entryList(QDir::Files, QDir::Name))
        files << dir + "/" + name;
    return files;
}

// Waits (processing events, no sleeping) until the addition has finished.
bool waitForLoading(mainWindow &w)
{
    QElapsedTimer timer;
    timer.start();
    while ((w.loadingInProgress || w.anyLoadRunning()) && timer.elapsed() < 120000)
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
    QCoreApplication::processEvents();
    return !w.loadingInProgress && !w.anyLoadRunning();
}

// Rows from top to bottom as the list shows them.
QList<imageItem *> rowsTopDown(mainWindow &w)
{
    QList<imageItem *> rows;
    QWidget *list = w.findChild<QWidget *>("photoList");
    auto *layout = qobject_cast<QVBoxLayout *>(list->layout());
    for (int i = 0; i < layout->count(); ++i)
        if (auto *row = qobject_cast<imageItem *>(layout->itemAt(i)->widget()))
            if (row->id() != mainWindow::HDR_ITEM_ID)
                rows << row;
    return rows;
}

double evOfFile(mainWindow &w, const QString &name)
{
    for (const photoInfo_t &p : w.project->photos)
        if (QFileInfo(p.filePath).fileName() == name)
            return p.ev;
    ADD_FAILURE() << "no photo " << name.toStdString();
    return NAN;
}

// Grey PNGs of one size, each brighter than the one before.
QStringList greySeries(int count, int side = 128)
{
    const QString dir = testSupport::freshDir("grey");
    QStringList files;
    for (int i = 0; i < count; ++i) {
        QImage image(side, side, QImage::Format_RGB32);
        image.fill(QColor(20 + 20 * i, 20 + 20 * i, 20 + 20 * i));
        const QString path = dir + QString("/grey_%1.png").arg(i);
        image.save(path);
        files << path;
    }
    return files;
}

// Accepts the load-option dialog an HDR image opens (a modal dialog of its
// own, not a message box) as soon as it runs.
class dialogAcceptor
{
public:
    dialogAcceptor()
    {
        QObject::connect(&timer, &QTimer::timeout, [this] {
            if (auto *d = qobject_cast<QDialog *>(QApplication::activeModalWidget())) {
                ++accepted;
                d->accept();
            }
        });
        timer.start(20);
    }
    QTimer timer;
    int accepted = 0;
};

// A run ended by an earlier test may leave a pending exit that makes the
// next nested event loop (a dialog's exec) return at once: a throwaway loop
// takes it.
void drainPendingExit()
{
    QEventLoop loop;
    QTimer::singleShot(0, &loop, &QEventLoop::quit);
    loop.exec();
}

bool hasMessage(const std::vector<shownMessage_t> &messages, const QString &part)
{
    for (const shownMessage_t &m : messages)
        if (m.text.contains(part))
            return true;
    return false;
}

} // namespace

TEST(photoLoadPlan, threadCountByImageSizeCoresAndFileSize)
{
    const QList<qint64> small5{1000, 1000, 1000, 1000, 1000};
    QList<qint64> twelve;
    for (int i = 0; i < 12; ++i)
        twelve << 8000000;
    struct row_t {
        int w, h, cores, ideal;
        QList<qint64> sizes;
        int expected;
    } rows[] = {
        {6000, 4000, 0, 16, {30000000, 30000000}, 2},      // 24 MP: 2
        {3464, 2309, 0, 16, twelve, 5},                     // 8 MP: 5
        {3464, 2309, 3, 16, twelve, 3},                     // core limit 3
        {3300, 3300, 0, 16, small5, 5},                     // 10.89 MP counts as 10
        {4000, 4000, 0, 16, small5, 3},                     // 16 MP: 3
        {3464, 2309, 0, 16, {1000, 40000000, 1000}, 2},     // a 40 MB file forces 2
        {3464, 2309, 1, 16, twelve, 1},                     // one core
        {3464, 2309, 0, 2, twelve, 2},                      // two ideal threads
        {640, 427, 0, 16, {1000}, 1},                       // one photo
    };
    for (const row_t &r : rows)
        EXPECT_EQ(loadThreadCount(r.w, r.h, r.cores, r.ideal, r.sizes), r.expected) << r.w << "x" << r.h;

    // Free memory lets large photos load on more threads (each further
    // loader needs 2 x 6 bytes a pixel, 1 GiB stays free); the core limit
    // and a file of more than 30 MB still hold them back.
    const qint64 GiB = qint64(1) << 30;
    const qint64 perLoader24 = qint64(6000) * 4000 * 12; // 288 MB
    struct memoryRow_t {
        int w, h, cores;
        QList<qint64> sizes;
        qint64 memory;
        int expected;
    } memoryRows[] = {
        {6000, 4000, 0, small5, GiB, 2},                       // nothing to spare
        {6000, 4000, 0, small5, GiB + perLoader24, 3},
        {6000, 4000, 0, small5, GiB + 3 * perLoader24, 5},
        {6000, 4000, 0, small5, 64 * GiB, 5},
        {6000, 4000, 4, small5, 64 * GiB, 4},                  // core limit
        {6000, 4000, 0, {1000, 40000000, 1000}, 64 * GiB, 2},  // a 40 MB file
        {4000, 4000, 0, small5, GiB + 2 * qint64(4000) * 4000 * 12, 4},
    };
    for (const memoryRow_t &r : memoryRows)
        EXPECT_EQ(loadThreadCount(r.w, r.h, r.cores, 16, r.sizes, r.memory), r.expected)
            << r.w << "x" << r.h << " memory " << r.memory;
}

TEST(photoLoadPlan, exiftoolReplyFillsMissingValues)
{
    const partialExifReply_t r =
        parsePartialExifReply({"ISO                             : 400", "Exposure Time                   : 1/250",
                               "Aperture Value                  : 5.6"});
    EXPECT_TRUE(r.answered);
    EXPECT_EQ(r.iso, 400);
    EXPECT_DOUBLE_EQ(r.exposureTime, 0.004);
    EXPECT_FLOAT_EQ(float(r.fNumber), 5.6f);
    const partialExifReply_t partial = parsePartialExifReply({"Exposure Time : 0.5"});
    EXPECT_EQ(partial.iso, 100) << "a value the reply lacks counts as ISO 100";
    EXPECT_DOUBLE_EQ(partial.fNumber, 1.0);
    EXPECT_DOUBLE_EQ(partial.exposureTime, 0.5);
    EXPECT_FALSE(parsePartialExifReply({}).answered);
}

TEST_F(mainWindowTest, commandLineBracketIsListedByExifEv)
{
    const QStringList room = bracket("room_7exp");
    if (room.isEmpty())
        GTEST_SKIP() << "shared test data folder not found; real-file test skipped";
    startParams.inputPhoto = room;
    int hdrDialogs = 0;
    generateHDR::setExecHook([&hdrDialogs](generateHDR *) {
        ++hdrDialogs;
        return 0;
    });
    mainWindow w;
    w.show();
    QCoreApplication::processEvents(); // the queued start-up opening
    ASSERT_TRUE(waitForLoading(w));
    ASSERT_EQ(w.project->photos.size(), 7);
    ASSERT_EQ(w.imageItems.size(), 7);
    EXPECT_EQ(w.includedCount, 7);
    EXPECT_TRUE(w.project->evFromExif);
    EXPECT_TRUE(w.evSelection->exifButton->isChecked());

    // exiftool: 2 s, 0.5, 1/8, 1/30, 1/125, 1/1000, 1/4000 at f/4.5, ISO 200;
    // EVs relative to the middle photo (1/30 s).
    const double expected[7] = {std::log2(60.0), std::log2(15.0), std::log2(30.0 / 8), 0.0,
                                std::log2(30.0 / 125), std::log2(30.0 / 1000), std::log2(30.0 / 4000)};
    for (int i = 0; i < 7; ++i)
        EXPECT_NEAR(evOfFile(w, QString("stack_room_exp_%1.jpg").arg(i)), expected[i], 0.02) << i;

    // Highest EV on top; the "before" menu lists it first with Ctrl+1.
    const QList<imageItem *> rows = rowsTopDown(w);
    ASSERT_EQ(rows.size(), 7);
    for (int i = 0; i < 7; ++i) {
        EXPECT_EQ(rows[i]->displayName(), QString("stack_room_exp_%1.jpg").arg(i));
        EXPECT_NEAR(rows[i]->evSlider->value(), expected[i], 0.02);
    }
    EXPECT_EQ(rows[0]->exposureText(), "2.0 s");
    EXPECT_EQ(rows[6]->exposureText(), "1/4000 s");
    EXPECT_TRUE(rows[0]->thumbnail->toolTip().contains("<b>ISO: </b>200"));
    EXPECT_FALSE(rows[0]->shownThumbnail().isNull()) << "every row shows its thumbnail";
    const QList<QAction *> entries = w.beforeMenu->actions();
    ASSERT_EQ(entries.size(), 7);
    EXPECT_EQ(entries[0]->text(), "5.91 EV: stack_room_exp_0.jpg");
    EXPECT_EQ(entries[0]->shortcut().toString(QKeySequence::PortableText), "Ctrl+1");
    EXPECT_EQ(entries[6]->text(), "-7.06 EV: stack_room_exp_6.jpg");
    EXPECT_EQ(entries[6]->shortcut().toString(QKeySequence::PortableText), "Ctrl+7");
    EXPECT_FALSE(w.hdrItem->isVisible());
    // The photo started first is selected and shown.
    EXPECT_TRUE(w.findImageItem(w.photoToDisplay)->property("imageItemSelected").toBool());
    EXPECT_FALSE(w.shownImageCaption.isEmpty());
    EXPECT_TRUE(messages.empty()) << messages.front().text.toStdString();
    EXPECT_EQ(hdrDialogs, 1) << "the bracket goes on to HDR generation";
}

TEST_F(mainWindowTest, evSourcesOnAnAebBracket)
{
    const QStringList airport = bracket("airport_moving_people_3exp");
    if (airport.isEmpty())
        GTEST_SKIP() << "shared test data folder not found; real-file test skipped";
    mainWindow w;
    w.addDroppedImages(airport);
    ASSERT_TRUE(waitForLoading(w));
    ASSERT_EQ(w.project->photos.size(), 3);
    // 1/25, 1/100, 1/6 s at f/5.6, ISO 100: 0, -2, +2.58 (EXIF);
    // ExposureCompensation 0, -2, +2 (AEB).
    EXPECT_TRUE(w.evSelection->exifButton->isChecked());
    EXPECT_NEAR(evOfFile(w, "IMG_0959.JPG"), 0.0, 0.02);
    EXPECT_NEAR(evOfFile(w, "IMG_0960.JPG"), -2.0, 0.02);
    EXPECT_NEAR(evOfFile(w, "IMG_0961.JPG"), std::log2(25.0 / 6), 0.02);

    w.evSelection->exifAEBbutton->click();
    EXPECT_NEAR(evOfFile(w, "IMG_0959.JPG"), 0.0, 0.01);
    EXPECT_NEAR(evOfFile(w, "IMG_0960.JPG"), -2.0, 0.01);
    EXPECT_NEAR(evOfFile(w, "IMG_0961.JPG"), 2.0, 0.01);
    EXPECT_EQ(w.beforeMenu->actions().first()->text(), "2.00 EV: IMG_0961.JPG");

    // Automatic estimation keeps the order of the exposures.
    w.evSelection->autoButton->click();
    EXPECT_LT(evOfFile(w, "IMG_0960.JPG"), evOfFile(w, "IMG_0959.JPG"));
    EXPECT_LT(evOfFile(w, "IMG_0959.JPG"), evOfFile(w, "IMG_0961.JPG"));
    EXPECT_NEAR(evOfFile(w, "IMG_0959.JPG") - evOfFile(w, "IMG_0960.JPG"), 2.0, 0.75);

    // Manual step 2.00 (entry 9): brightest +2, middle 0, darkest -2.
    w.evSelection->manualCombo->setCurrentIndex(9);
    EXPECT_DOUBLE_EQ(evOfFile(w, "IMG_0961.JPG"), 2.0);
    EXPECT_DOUBLE_EQ(evOfFile(w, "IMG_0959.JPG"), 0.0);
    EXPECT_DOUBLE_EQ(evOfFile(w, "IMG_0960.JPG"), -2.0);
    for (imageItem *row : w.imageItems)
        EXPECT_DOUBLE_EQ(row->evSlider->value(), row->record().id >= 0 ? evOfFile(w, row->displayName()) : 0);

    // A slider moved by hand: the sources are released and the order follows.
    imageItem *dark = nullptr;
    for (imageItem *row : w.imageItems)
        if (row->displayName() == "IMG_0960.JPG")
            dark = row;
    ASSERT_NE(dark, nullptr);
    dark->evSlider->setValue(3.0);
    EXPECT_EQ(w.evSelection->manualCombo->currentIndex(), 0);
    EXPECT_FALSE(w.evSelection->exifButton->isChecked() || w.evSelection->exifAEBbutton->isChecked() ||
                 w.evSelection->autoButton->isChecked());
    EXPECT_EQ(rowsTopDown(w).first(), dark);
    EXPECT_TRUE(w.beforeMenu->actions().first()->text().endsWith("EV: IMG_0960.JPG"));
}

TEST_F(mainWindowTest, fileDialogAddsPhotosWithoutExifInAutoMode)
{
    QStringList asked;
    fileDialogs::setHook([&](const fileDialogs::request_t &r) {
        asked << r.title << r.filter;
        return greySeries(3);
    });
    mainWindow w;
    w.addAct->setEnabled(true);
    w.addAct->trigger();
    ASSERT_TRUE(waitForLoading(w));
    ASSERT_EQ(asked.size(), 2);
    EXPECT_EQ(asked[0], "Add images");
    EXPECT_TRUE(asked[1].startsWith("All supported formats (*.jpg *.jpeg *.tif *.tiff *.exr *.hdr"));
    EXPECT_TRUE(asked[1].endsWith(";;Adobe Digital Negative (*.dng);;All files (*.*)"));
    ASSERT_EQ(w.project->photos.size(), 3);
    EXPECT_TRUE(w.evSelection->autoButton->isChecked());
    EXPECT_FALSE(w.evSelection->exifButton->isEnabled());
    EXPECT_TRUE(hasMessage(messages, "No complete EXIF data found in input photos."));
    EXPECT_EQ(options->openSaveDialogs.openSavePhoto_LastDir, QFileInfo(w.project->photos[0].filePath).absolutePath());
}

TEST_F(mainWindowTest, shortcutsUpToNinePhotosAndHdrEntry)
{
    for (int count : {9, 10}) {
        SCOPED_TRACE(count);
        mainWindow w;
        ASSERT_TRUE(w.addImages(greySeries(count)));
        ASSERT_TRUE(waitForLoading(w));
        const QList<QAction *> entries = w.beforeMenu->actions();
        ASSERT_EQ(entries.size(), count);
        if (count == 9) {
            EXPECT_EQ(entries.first()->shortcut().toString(QKeySequence::PortableText), "Ctrl+1");
            EXPECT_EQ(entries.last()->shortcut().toString(QKeySequence::PortableText), "Ctrl+9");
        } else {
            for (QAction *a : entries)
                EXPECT_TRUE(a->shortcut().isEmpty());
        }
        // Once an HDR image exists its entry follows a separator with Ctrl+0.
        w.project->hdrState.hdrPresent = true;
        w.setEvLabels(false);
        const QList<QAction *> withHdr = w.beforeMenu->actions();
        ASSERT_EQ(withHdr.size(), count + 2);
        EXPECT_TRUE(withHdr[count]->isSeparator());
        EXPECT_EQ(withHdr.last()->text(), "HDR");
        EXPECT_EQ(withHdr.last()->shortcut().toString(QKeySequence::PortableText), "Ctrl+0");
        EXPECT_TRUE(w.hdrItem->isVisibleTo(&w));
        w.project->hdrState.hdrPresent = false;
        w.setEvLabels(false);
    }
}

TEST_F(mainWindowTest, refusedAdditionsSayWhy)
{
    const QStringList room = bracket("room_7exp");
    const QStringList airport = bracket("airport_moving_people_3exp");
    const QString hdr = testSupport::testDataFile("radiance/mpi_atrium_3.hdr");
    if (room.isEmpty() || airport.isEmpty() || hdr.isEmpty())
        GTEST_SKIP() << "shared test data folder not found; real-file test skipped";
    dialogAcceptor acceptor;
    mainWindow w;
    // Photos of different sizes.
    EXPECT_FALSE(w.addImages({room[0], airport[0]}));
    EXPECT_TRUE(hasMessage(messages, "Wrong image dimensions. All photos must be the same size."));
    EXPECT_TRUE(w.imageItems.isEmpty());
    EXPECT_FALSE(w.loadingInProgress);

    // A file that is not a photo.
    messages.clear();
    const QString bogus = testSupport::freshDir("bogus") + "/broken.jpg";
    testSupport::writeFile(bogus, "not a JPEG at all");
    EXPECT_FALSE(w.addImages({bogus}));
    EXPECT_TRUE(hasMessage(messages, "Failed to load: " + bogus + "."));

    // The reader's reason reaches the person, not only the debug log.
    const QString tiled = testSupport::testDataFile("tiff/quad-tile.tif");
    if (!tiled.isEmpty()) {
        messages.clear();
        EXPECT_FALSE(w.addImages({tiled}));
        EXPECT_TRUE(hasMessage(messages, "Failed to load: " + tiled + "."));
        EXPECT_TRUE(hasMessage(messages, "unsupported TIFF format (tiled"));
    }

    // An HDR image cannot join photos.
    messages.clear();
    ASSERT_TRUE(w.addImages({room[0], room[1]}));
    ASSERT_TRUE(waitForLoading(w));
    EXPECT_FALSE(w.addImages({hdr}));
    EXPECT_TRUE(hasMessage(messages, "Cannot load the HDR image right now."));
    EXPECT_EQ(w.imageItems.size(), 2);
}

TEST_F(mainWindowTest, hdrImageGoesStraightToToneMapping)
{
    const QString hdr = testSupport::testDataFile("radiance/mpi_atrium_3.hdr");
    if (hdr.isEmpty())
        GTEST_SKIP() << "shared test data folder not found; real-file test skipped";
    dialogAcceptor acceptor;
    mainWindow w;
    ASSERT_TRUE(w.addImages({hdr}));
    EXPECT_EQ(acceptor.accepted, 1) << "the HDR load options were asked";
    ASSERT_TRUE(waitForLoading(w));
    ASSERT_EQ(w.project->photos.size(), 1);
    EXPECT_TRUE(w.project->photos[0].isFloat);
    EXPECT_NE(w.lastPendingCommand(), "mainWindow::showGenerateHDR");
    // The "before" entry shows the file name alone; no EXIF warning.
    ASSERT_EQ(w.beforeMenu->actions().size(), 1);
    EXPECT_EQ(w.beforeMenu->actions()[0]->text(), "mpi_atrium_3.hdr");
    EXPECT_FALSE(hasMessage(messages, "No complete EXIF"));
}

TEST_F(mainWindowTest, removingPhotosAndNewProject)
{
    mainWindow w;
    ASSERT_TRUE(w.addImages(greySeries(4)));
    ASSERT_TRUE(waitForLoading(w));
    ASSERT_EQ(w.imageItems.size(), 4);

    // Nothing selected: an error, nothing removed.
    for (imageItem *row : w.imageItems)
        row->setProperty("imageItemSelected", false);
    messages.clear();
    w.removeImages();
    EXPECT_TRUE(hasMessage(messages, "Choose an image to be removed."));
    EXPECT_EQ(w.imageItems.size(), 4);

    // An excluded photo removed: the included count stays.
    imageItem *excluded = w.imageItems[1];
    excluded->includeBox->setChecked(false);
    EXPECT_EQ(w.includedCount, 3);
    EXPECT_EQ(w.project->photos[w.project->getImageInfoIdx(excluded->id())].included, 0);
    w.imageItemChanged(excluded->id());
    const int removedId = excluded->id();
    messageAnswer = styledMessageBox::No;
    w.removeImages();
    EXPECT_EQ(w.imageItems.size(), 4) << "answered No";
    messageAnswer = styledMessageBox::Yes;
    w.removeImages();
    EXPECT_EQ(w.imageItems.size(), 3);
    EXPECT_EQ(w.project->photos.size(), 3);
    EXPECT_EQ(w.project->getImageInfoIdx(removedId), -1);
    EXPECT_EQ(w.includedCount, 3);
    EXPECT_EQ(w.beforeMenu->actions().size(), 3);

    // A new project, confirmed: everything goes.
    w.newAct->setEnabled(true);
    w.newAct->trigger();
    EXPECT_TRUE(w.imageItems.isEmpty());
    EXPECT_TRUE(w.project->photos.isEmpty());
    EXPECT_TRUE(w.beforeMenu->actions().isEmpty());
    EXPECT_EQ(w.includedCount, 0);
    EXPECT_EQ(w.evSelection->manualCombo->currentIndex(), 0);
    EXPECT_FALSE(w.evSelection->exifButton->isChecked() || w.evSelection->autoButton->isChecked());

    // The last photo removed ends in a new project without a question.
    ASSERT_TRUE(w.addImages(greySeries(1)));
    ASSERT_TRUE(waitForLoading(w));
    w.imageItemChanged(w.imageItems[0]->id());
    w.removeImages();
    EXPECT_TRUE(w.project->photos.isEmpty());
    EXPECT_TRUE(w.imageItems.isEmpty());
}

TEST_F(mainWindowTest, pluginModeRefusesListEditing)
{
    startParams.plugin = true;
    mainWindow w;
    for (auto call : {+[](mainWindow &m) { m.addImages(); }, +[](mainWindow &m) { m.removeImages(); }}) {
        messages.clear();
        call(w);
        EXPECT_TRUE(hasMessage(messages, "This function is unavailable when working in plug-in mode."));
    }
    w.addDroppedImages(greySeries(2));
    EXPECT_FALSE(w.loadingInProgress) << "drops are ignored in plug-in mode";
    EXPECT_TRUE(w.imageItems.isEmpty());
}

TEST_F(mainWindowTest, closingOrStartingAnewDuringALoadStopsCleanly)
{
    const QStringList room = bracket("room_7exp");
    if (room.isEmpty())
        GTEST_SKIP() << "shared test data folder not found; real-file test skipped";
    {
        mainWindow w;
        w.show();
        ASSERT_TRUE(w.addImages(room));
        EXPECT_TRUE(w.anyLoadRunning());
        ASSERT_TRUE(w.close()) << "nothing loaded yet: no question";
        EXPECT_FALSE(w.anyLoadRunning());
        EXPECT_FALSE(w.loadingInProgress);
    }
    mainWindow w;
    ASSERT_TRUE(w.addImages(room));
    w.newProject(true);
    EXPECT_FALSE(w.anyLoadRunning());
    EXPECT_TRUE(w.project->photos.isEmpty());
    EXPECT_TRUE(w.imageItems.isEmpty());
    EXPECT_FALSE(hasMessage(messages, "Failed to load")) << "stopped photos are not failures";
    // The window loads again afterwards.
    ASSERT_TRUE(w.addImages(room.mid(0, 2)));
    ASSERT_TRUE(waitForLoading(w));
    EXPECT_EQ(w.imageItems.size(), 2);
}

TEST_F(mainWindowTest, exitQuestionOnlyWithPhotosAndNotInTheAutomaticRun)
{
    mainWindow w;
    w.show();
    ASSERT_TRUE(w.addImages(greySeries(2)));
    ASSERT_TRUE(waitForLoading(w));
    messages.clear();
    messageAnswer = styledMessageBox::No;
    EXPECT_FALSE(w.close());
    EXPECT_TRUE(w.isVisible());
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "Do you really want to exit?");
    w.resultSaved = true;
    messages.clear();
    EXPECT_TRUE(w.close()) << "a saved result asks nothing";
    EXPECT_TRUE(messages.empty());

    startParams.autoProcess = true;
    mainWindow automatic;
    automatic.show();
    ASSERT_TRUE(automatic.addImages(greySeries(2)));
    ASSERT_TRUE(waitForLoading(automatic));
    messages.clear();
    EXPECT_TRUE(automatic.close());
    EXPECT_FALSE(hasMessage(messages, "Do you really want to exit?"));
}

TEST_F(mainWindowTest, lastUsedSettingsAreKeptExceptInTheAutomaticRun)
{
    for (bool automatic : {false, true}) {
        SCOPED_TRACE(automatic);
        const QString user = testSupport::freshDir(automatic ? "userAuto" : "user");
        options->installer.userFolder = user;
        startParams = startParams_t();
        startParams.autoProcess = automatic;
        mainWindow w;
        w.show();
        ASSERT_TRUE(w.close());
        EXPECT_EQ(QFileInfo::exists(user + "/presets/___last.lmsx"), !automatic);
    }
}

TEST_F(mainWindowTest, unattendedRunsEndWithAnExitCode)
{
    const QString dir = testSupport::freshDir("unattended");
    const QString unknown = dir + "/notes.txt";
    testSupport::writeFile(unknown, "hello");
    const QString broken = dir + "/broken.jpg";
    testSupport::writeFile(broken, "not a JPEG");
    struct row_t {
        bool automatic, plugin;
        QString input;
        int code;
    } rows[] = {
        {true, false, unknown, 2},  // unknown first input
        {true, false, broken, 2},   // a photo that does not load
        {false, true, broken, 2},   // plug-in mode: the host gets an answer
        {false, false, unknown, 0}, // a person is there: the window stays
    };
    for (const row_t &r : rows) {
        SCOPED_TRACE(r.input.toStdString());
        startParams = startParams_t();
        startParams.autoProcess = r.automatic;
        startParams.plugin = r.plugin;
        startParams.pluginSrcDir = dir;
        startParams.inputPhoto = QStringList{r.input};
        messages.clear();
        mainWindow w;
        w.show();
        QCoreApplication::processEvents();
        EXPECT_EQ(w.requestedExitCode, r.code);
        EXPECT_EQ(w.isVisible(), r.code == 0);
        if (r.plugin) {
            EXPECT_EQ(testSupport::readFile(dir + "/Lumidra3_pluginCallback"), QByteArray("\"\""));
        }
    }
}

// The import options: asked before photos are added when the person wants
// them, per the first file's type; Cancel adds nothing, Ok stores the choice.
TEST_F(mainWindowTest, importOptionsAskedByTheFirstFileType)
{
    drainPendingExit();
    const QString tiff = testSupport::testDataFile("tiff/kodim02-lzw.tif");
    const QString exr = testSupport::testDataFile("openexr/comp_zip.exr");
    options->optionsOnLoad.enabled = true;
    options->optionsOnLoad.resize = 2;
    options->optionsOnLoad.autoRotation = true;

    struct seen_t {
        int shown = 0;
        QStringList items;
        bool comboEnabled = true;
        int code = 0;
    } seen;
    // answer: 0 cancel, else pick that code, untick rotation and accept.
    int answer = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        // Found among the visible windows: another test's window may still
        // be the active modal one.
        loadOptions *d = nullptr;
        for (QWidget *top : QApplication::topLevelWidgets())
            if (auto *o = qobject_cast<loadOptions *>(top); o && o->isVisible())
                d = o;
        if (auto *other = qobject_cast<QDialog *>(QApplication::activeModalWidget()); other && !d) {
            other->accept(); // the HDR load options
            return;
        }
        if (!d)
            return;
        ++seen.shown;
        seen.items.clear();
        for (int i = 0; i < d->resizeCombo()->count(); ++i)
            seen.items << d->resizeCombo()->itemText(i);
        seen.comboEnabled = d->resizeCombo()->isEnabled();
        seen.code = d->resizeCode();
        if (answer == 0) {
            d->cancelButton()->click();
            return;
        }
        d->resizeCombo()->setCurrentIndex(d->resizeCombo()->findData(answer));
        d->rotateBox()->setChecked(false);
        d->okButton()->click();
    });
    timer.start(20);

    mainWindow w;
    const QStringList grey = greySeries(2, 256);
    answer = 0;
    EXPECT_FALSE(w.addImages(grey));
    EXPECT_EQ(seen.shown, 1);
    EXPECT_EQ(seen.items, QStringList({"Disabled (full resolution)", "50%", "33%", "25%", "20%"}));
    EXPECT_EQ(seen.code, 2) << "the stored choice is preselected";
    EXPECT_TRUE(w.imageItems.isEmpty());
    EXPECT_FALSE(w.loadingInProgress);

    // Ok with 50%: the photos are decoded at half size.
    answer = 2;
    ASSERT_TRUE(w.addImages(grey));
    ASSERT_TRUE(waitForLoading(w));
    EXPECT_EQ(seen.shown, 2);
    EXPECT_EQ(options->optionsOnLoad.resize, 2);
    EXPECT_FALSE(options->optionsOnLoad.autoRotation);
    EXPECT_EQ(w.project->width, 128);
    EXPECT_EQ(w.imageItems.size(), 2);
    w.newProject(true);

    if (!tiff.isEmpty()) {
        // TIFF: full resolution only; the stored resize stays as it was.
        answer = 3;
        options->optionsOnLoad.resize = 4;
        ASSERT_TRUE(w.addImages({tiff}));
        ASSERT_TRUE(waitForLoading(w));
        EXPECT_EQ(seen.shown, 3);
        EXPECT_FALSE(seen.comboEnabled);
        EXPECT_EQ(seen.code, 1);
        EXPECT_EQ(options->optionsOnLoad.resize, 4);
        w.newProject(true);
    }
    if (!exr.isEmpty()) {
        // OpenEXR: no import options at all.
        const int before = seen.shown;
        ASSERT_TRUE(w.addImages({exr}));
        ASSERT_TRUE(waitForLoading(w));
        EXPECT_EQ(seen.shown, before);
        w.newProject(true);
    }
    // Switched off, or in the automatic run: never asked.
    const int before = seen.shown;
    startParams.autoProcess = true;
    ASSERT_TRUE(w.addImages(grey));
    ASSERT_TRUE(waitForLoading(w));
    EXPECT_EQ(seen.shown, before);
}

TEST(photoEvMode, interactiveAndBatchChoices)
{
    using M = evModeDecision_t;
    struct evCase {
        bool exif, aeb, batch;
        batchEvChoice_t choice;
        int photos;
        bool automatic;
        M::mode_t mode;
        int manualIndex;
        const char *log; // part of the batch log line; "" for none
        bool warning;
    };
    const evCase cases[] = {
        // Interactive: EXIF, else AEB, else Auto with the warning (not in the automatic run).
        {true, true, false, {}, 3, false, M::exif, 0, "", false},
        {false, true, false, {}, 3, false, M::exifAEB, 0, "", false},
        {false, false, false, {}, 3, false, M::automatic, 0, "", true},
        {false, false, false, {}, 3, true, M::automatic, 0, "", false},
        // Batch task with its own choice.
        {true, true, true, {5, false, false, 0}, 3, false, M::manual, 5, "EV: Manual", false},
        {true, true, true, {0, true, false, 0}, 3, false, M::automatic, 0, "EV: Auto", false},
        {true, true, true, {0, false, false, 0}, 3, false, M::exif, 0, "EV: EXIF", false},
        {false, true, true, {0, false, false, 0}, 3, false, M::manual, 0, "EV from EXIF is not available. Using defaults...", false},
        {false, true, true, {0, false, true, 0}, 3, false, M::exifAEB, 0, "EV: EXIF AEB", false},
        {true, false, true, {0, false, true, 0}, 3, false, M::exif, 0, "EV from EXIF-AEB is not available. Calculating from EXIF...", false},
        {false, false, true, {0, false, true, 0}, 3, false, M::manual, 0, "EV from EXIF-AEB is not available. Using defaults...", false},
        // A batch task of one photo follows the interactive rule; the
        // warning goes to the log only for the True HDR method.
        {false, false, true, {4, false, false, 0}, 1, false, M::automatic, 0, "No complete EXIF data", true},
        {false, false, true, {0, false, false, 1}, 1, false, M::automatic, 0, "", false},
    };
    int i = 0;
    for (const evCase &c : cases) {
        SCOPED_TRACE(i++);
        const evModeDecision_t d = chooseEvMode(c.exif, c.aeb, c.batch, c.choice, c.photos, c.automatic);
        EXPECT_EQ(d.mode, c.mode);
        EXPECT_EQ(d.manualIndex, c.manualIndex);
        EXPECT_EQ(d.noExifWarning, c.warning);
        if (*c.log) {
            EXPECT_TRUE(d.logLine.contains(c.log)) << d.logLine.toStdString();
        } else {
            EXPECT_TRUE(d.logLine.isEmpty()) << d.logLine.toStdString();
        }
        if (d.logLine.contains("not available")) {
            EXPECT_TRUE(d.logLine.startsWith("<font color=#b0b060>"));
        } else if (d.logLine.startsWith("<font color=#c0c0c0>")) {
            EXPECT_TRUE(d.logLine.contains("EV: "));
        }
    }
}

// A batch run sets the task's EV source and logs it instead of asking.
TEST_F(mainWindowTest, batchTaskEvSourceGoesToTheBatchLog)
{
    const QStringList airport = bracket("airport_moving_people_3exp");
    if (airport.isEmpty())
        GTEST_SKIP() << "shared test data folder not found; real-file test skipped";
    mainWindow w;
    QStringList log;
    QObject::connect(&w, &mainWindow::batchLogMessage, [&](const QString &html) { log << html; });
    w.project->batchRunning = true;
    w.batchEv.manualEVoption = 9; // step 2.00
    ASSERT_TRUE(w.addImages(airport));
    ASSERT_TRUE(waitForLoading(w));
    w.project->batchRunning = false;
    EXPECT_TRUE(log.contains("<font color=#c0c0c0>EV: Manual</font>")) << log.join("|").toStdString();
    EXPECT_EQ(w.evSelection->manualCombo->currentIndex(), 9);
    EXPECT_DOUBLE_EQ(evOfFile(w, "IMG_0961.JPG"), 2.0);
    EXPECT_DOUBLE_EQ(evOfFile(w, "IMG_0960.JPG"), -2.0);
    EXPECT_FALSE(hasMessage(messages, "EXIF"));
}

// A bracket frame whose EXIF offset was left at 0 takes the maker notes'
// bracket value (exiftool's "AEB Bracket Value"), so EXIF AEB stays usable.
TEST_F(mainWindowTest, aebSummaryFillsAMissingBracketOffset)
{
    const QStringList airport = bracket("airport_moving_people_3exp");
    if (airport.isEmpty())
        GTEST_SKIP() << "shared test data folder not found; real-file test skipped";
    if (QStandardPaths::findExecutable("exiftool").isEmpty())
        GTEST_SKIP() << "exiftool not installed";
    const QString dir = testSupport::freshDir("aeb");
    QStringList copies;
    for (const QString &f : airport) {
        const QString copy = dir + "/" + QFileInfo(f).fileName();
        ASSERT_TRUE(QFile::copy(f, copy));
        QFile::setPermissions(copy, QFile::ReadOwner | QFile::WriteOwner);
        copies << copy;
    }
    // The -2 frame loses its EXIF exposure compensation; the maker notes keep -2.
    QProcess exiftool;
    exiftool.start("exiftool", {"-q", "-overwrite_original", "-ExifIFD:ExposureCompensation=0",
                                "-XMP-exif:ExposureCompensation=0", copies[1]});
    ASSERT_TRUE(exiftool.waitForFinished(60000));
    ASSERT_EQ(exiftool.exitCode(), 0) << exiftool.readAllStandardError().toStdString();

    mainWindow w;
    ASSERT_TRUE(w.addImages(copies));
    ASSERT_TRUE(waitForLoading(w));
    ASSERT_EQ(w.project->photos.size(), 3);
    for (const photoInfo_t &p : w.project->photos) {
        if (QFileInfo(p.filePath).fileName() == "IMG_0960.JPG") {
            EXPECT_DOUBLE_EQ(p.exifBias, -2.0);
        }
    }
    EXPECT_TRUE(w.evSelection->exifAEBbutton->isEnabled());
    w.evSelection->exifAEBbutton->click();
    EXPECT_NEAR(evOfFile(w, "IMG_0960.JPG"), -2.0, 0.01);
    EXPECT_NEAR(evOfFile(w, "IMG_0961.JPG"), 2.0, 0.01);
}

// A RAW photo opens the RAW options before it loads (not in the automatic
// run); Cancel adds nothing, Ok loads it with the dialog's switches.
TEST_F(mainWindowTest, rawPhotoAsksForItsOptions)
{
    drainPendingExit();
    const QString dng = testSupport::testDataFile("raw/colorchart.dng");
    if (dng.isEmpty())
        GTEST_SKIP() << "shared test data folder not found; real-file test skipped";
    int shown = 0;
    bool cancel = true;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        rawLoadOptions *d = nullptr;
        for (QWidget *top : QApplication::topLevelWidgets())
            if (auto *o = qobject_cast<rawLoadOptions *>(top); o && o->isVisible())
                d = o;
        // While its preview decodes the dialog takes no input.
        if (!d || !d->isEnabled())
            return;
        ++shown;
        EXPECT_EQ(d->currentFilePath(), dng);
        if (cancel)
            d->reject();
        else
            d->okButton()->click();
    });
    timer.start(20);
    mainWindow w;
    EXPECT_FALSE(w.addImages({dng}));
    EXPECT_EQ(shown, 1);
    EXPECT_TRUE(w.imageItems.isEmpty());
    EXPECT_FALSE(w.loadingInProgress);

    cancel = false;
    ASSERT_TRUE(w.addImages({dng}));
    ASSERT_TRUE(waitForLoading(w));
    EXPECT_EQ(shown, 2);
    ASSERT_EQ(w.project->photos.size(), 1);
    EXPECT_EQ(w.project->photos[0].rawArguments.last(), dng);
    w.newProject(true);

    startParams.autoProcess = true;
    ASSERT_TRUE(w.addImages({dng}));
    ASSERT_TRUE(waitForLoading(w));
    EXPECT_EQ(shown, 2);
    EXPECT_EQ(w.imageItems.size(), 1);
}
