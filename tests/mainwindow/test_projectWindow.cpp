// Project files through the window: a loaded bracket saved and opened in a
// fresh window comes back with the same pictures, EVs, layers and settings;
// damaged files are refused without touching the open project; a save that
// is stopped keeps the previous file.

#include "documents/projectFile.h"
#include "documents/saveProjectOpts.h"
#include "documents/settingsFile.h"
#include "hdrdialogs/genHDR_denoise.h"
#include "hdrdialogs/genHDR_options.h"
#include "hdrdialogs/generateHDR.h"
#include "mainwindow/historyItem.h"
#include "mainwindow/mainWindow.h"
#include "project/processingProject.h"
#include "views/layerItem.h"
#include "views/layersTool.h"
#include "widgets/slider.h"
#include "testSupport.h"
#include "windowFixture.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QPushButton>
#include <QRadioButton>
#include <QDialog>
#include <QTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QListWidget>
#include <QSignalSpy>
#include <cmath>
#include <cstring>
#include <zlib.h>

namespace {

// Three gradient PNGs of one size, each brighter than the one before.
QStringList gradientBracket(const QString &dir, int w = 192, int h = 128)
{
    QStringList files;
    for (int i = 0; i < 3; ++i) {
        QImage image(w, h, QImage::Format_RGB32);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                image.setPixel(x, y, qRgb(std::min(255, 10 + x / 2 + 50 * i), std::min(255, 20 + y + 40 * i),
                                          std::min(255, 30 + (x + y) / 4 + 60 * i)));
        const QString path = dir + QString("/step_%1.png").arg(i);
        image.save(path);
        files << path;
    }
    return files;
}

bool waitForPhotos(mainWindow &w)
{
    return waitFor([&] { return !w.loadingInProgress && !w.anyLoadRunning(); });
}

bool hasMessage(const std::vector<shownMessage_t> &messages, const QString &part)
{
    for (const shownMessage_t &m : messages)
        if (m.text.contains(part))
            return true;
    return false;
}

// Saves the window's project under path without the options dialog.
bool saveProject(mainWindow &w, const QString &path, bool withHdr = false)
{
    QSignalSpy saved(&w, &mainWindow::projectSaved);
    w.saveProjectSlot(path, withHdr);
    if (!waitFor([&] { return saved.count() > 0; }))
        return false;
    return saved.first().first().toBool();
}

// Loads path; the result of the load, or false when none came.
bool loadProject(mainWindow &w, const QString &path)
{
    QSignalSpy loaded(&w, &mainWindow::projectLoaded);
    w.loadProjectSlot(path);
    if (!w.projectLoadRunning())
        return false;
    if (!waitFor([&] { return loaded.count() > 0; }))
        return false;
    return loaded.first().first().toBool();
}

const photoInfo_t *photoNamed(mainWindow &w, const QString &fileName)
{
    for (const photoInfo_t &p : w.project->photos)
        if (QFileInfo(p.filePath).fileName().startsWith(fileName))
            return &p;
    return nullptr;
}

class projectWindowTest : public mainWindowTest
{
protected:
    void SetUp() override
    {
        mainWindowTest::SetUp();
        dir = testSupport::freshDir("projectWindow");
        options->installer.userFolder = dir + "/user";
        QDir().mkpath(options->installer.userFolder);
        // The Generate HDR dialog that follows loaded photos is closed as it
        // opens: these tests are about the project file.
        QObject::connect(&hdrDialogCloser, &QTimer::timeout, [] {
            QWidget *modal = QApplication::activeModalWidget();
            if (modal && modal->inherits("generateHDR"))
                qobject_cast<QDialog *>(modal)->reject();
        });
        hdrDialogCloser.start(20);
    }
    void TearDown() override
    {
        hdrDialogCloser.stop();
        mainWindowTest::TearDown();
    }
    QTimer hdrDialogCloser;
    QString dir;
};

} // namespace

TEST_F(projectWindowTest, savedBracketWithLayersComesBackInAFreshWindow)
{
    const QStringList files = gradientBracket(dir);
    const QString target = dir + "/trip.lmpx";
    std::vector<double> evs;
    std::vector<std::vector<uint16_t>> previews;
    {
        mainWindow w;
        ASSERT_TRUE(w.addImages(files));
        ASSERT_TRUE(waitForPhotos(w));
        ASSERT_EQ(w.project->photos.size(), 3);
        processingProject &p = *w.project;
        // Layers 1 and 3 in use, 2 not: they come back as 1 and 2.
        for (int l : {1, 3}) {
            p.layerExists[l] = 1;
            p.layerEnabled[l] = 1;
            ASSERT_TRUE(p.layerMasks[l].makePyramid(p.width, p.height, 1, 1, 1, true));
            auto *m = static_cast<uint8_t *>(p.layerMasks[l].levels[0].data);
            for (int i = 0; i < p.width * p.height; ++i)
                m[i] = uint8_t((i * l) % 251);
            p.layerSettings[l].opacity = 0.25 * l;
            p.layerSettings[l].saturation = 0.1 * l;
        }
        // Layer 1 has no row (its name as a load would leave it), layer 3
        // was renamed in its row.
        w.projectLayerNames[1] = "sky 1";
        w.layersToolWidget->row(3)->setLabelText("sky 3");
        w.layersToolWidget->row(3)->show();
        p.layerSettings[0].gamma = 1.37;
        // HDR options unlike the defaults, as the Generate HDR dialog holds them.
        generateHDR *d = w.generateHdrDialog();
        d->alignAutoCheck->setChecked(false);
        d->lensAutoCheck->setChecked(true);
        d->panoramaCheck->setChecked(true);
        d->options->setMethod(hdrMethodSmartMerge);
        d->options->smartMerge->strength->setValue(3);
        d->options->selectivity->buttons.last()->setChecked(true);
        d->options->setGhostRemoval(true);
        d->options->denoise->setSettings({true, 7, 4});
        for (const QString &f : files) {
            const photoInfo_t *photo = photoNamed(w, QFileInfo(f).fileName());
            ASSERT_NE(photo, nullptr);
            evs.push_back(photo->ev);
            previews.emplace_back(photo->preview, photo->preview + size_t(p.previewWidth) * p.previewHeight * 3);
        }
        ASSERT_TRUE(saveProject(w, target));
        EXPECT_EQ(w.currentProjectPath, target);
    }

    mainWindow fresh;
    ASSERT_TRUE(loadProject(fresh, target));
    processingProject &p = *fresh.project;
    ASSERT_EQ(p.photos.size(), 3);
    for (int i = 0; i < files.size(); ++i) {
        const photoInfo_t *photo = photoNamed(fresh, QFileInfo(files[i]).fileName());
        ASSERT_NE(photo, nullptr) << files[i].toStdString();
        EXPECT_NEAR(photo->ev, evs[size_t(i)], 1e-9);
        // The stored pixels keep their top 10 bits: the same picture.
        int worst = 0;
        for (size_t k = 0; k < previews[size_t(i)].size(); ++k)
            worst = std::max(worst, std::abs(int(photo->preview[k]) - int(previews[size_t(i)][k])));
        EXPECT_LE(worst, 64) << files[i].toStdString();
    }
    EXPECT_EQ(fresh.projectLayerCount, 3);
    EXPECT_TRUE(p.layerExists[1] && p.layerExists[2]);
    EXPECT_FALSE(p.layerExists[3]);
    EXPECT_EQ(fresh.projectLayerNames[1], "sky 1");
    EXPECT_EQ(fresh.projectLayerNames[2], "sky 3");
    // The layers tool shows the two layers under their names, the base current.
    layersTool *tool = fresh.layersToolWidget;
    ASSERT_NE(tool, nullptr);
    EXPECT_EQ(tool->row(1)->getLabelText(), "sky 1");
    EXPECT_EQ(tool->row(2)->getLabelText(), "sky 3");
    EXPECT_EQ(tool->rowAction(2)->text(), "sky 3");
    EXPECT_TRUE(tool->row(1)->isVisibleTo(tool) && tool->row(2)->isVisibleTo(tool));
    EXPECT_FALSE(tool->row(3)->isVisibleTo(tool));
    EXPECT_NEAR(tool->row(2)->opacitySlider()->value(), 0.75, 0.01);
    EXPECT_EQ(p.currentLayer, 0);
    // The Generate HDR dialog holds the saved options.
    ASSERT_NE(fresh.hdrDialog, nullptr);
    generateHDR *d = fresh.hdrDialog;
    EXPECT_FALSE(d->alignAutoCheck->isChecked());
    EXPECT_TRUE(d->lensAutoCheck->isChecked());
    EXPECT_TRUE(d->panoramaCheck->isChecked());
    EXPECT_EQ(d->options->method(), int(hdrMethodSmartMerge));
    EXPECT_EQ(int(d->options->smartMerge->strength->value()), 3);
    EXPECT_EQ(d->options->selectivity->getSelectivity(), d->options->selectivity->buttons.size() - 1);
    EXPECT_TRUE(d->options->ghostRemoval());
    EXPECT_FALSE(d->options->saveHdrCheck->isChecked());
    EXPECT_TRUE(d->options->denoise->isChecked());
    EXPECT_EQ(int(d->options->denoise->strengthSlider()->value()), 7);
    EXPECT_EQ(int(d->options->denoise->softnessSlider()->value()), 4);
    EXPECT_NEAR(p.layerSettings[1].opacity, 0.25, 1e-6);
    EXPECT_NEAR(p.layerSettings[2].opacity, 0.75, 1e-6);
    EXPECT_NEAR(p.layerSettings[2].saturation, 0.3, 0.01);
    EXPECT_NEAR(p.layerSettings[0].gamma, 1.37, 0.01);
    const auto *m = static_cast<const uint8_t *>(p.layerMasks[2].levels[0].data);
    ASSERT_NE(m, nullptr);
    bool same = true;
    for (int i = 0; i < p.width * p.height && same; ++i)
        same = m[i] == uint8_t((i * 3) % 251);
    EXPECT_TRUE(same);
    EXPECT_EQ(fresh.currentProjectPath, target);
}

TEST_F(projectWindowTest, damagedFilesAreRefusedAndTheOpenProjectStays)
{
    const QStringList files = gradientBracket(dir);
    const QString good = dir + "/good.lmpx";
    mainWindow w;
    ASSERT_TRUE(w.addImages(files));
    ASSERT_TRUE(waitForPhotos(w));
    ASSERT_TRUE(saveProject(w, good));
    const QByteArray bytes = testSupport::readFile(good);
    ASSERT_GT(bytes.size(), PROJECT_FILE_PAYLOAD_OFFSET + 64);

    QByteArray badVersion = bytes;
    badVersion[16] = char(0x7f);
    badVersion[17] = char(0x7f);
    struct caseRow {
        const char *name;
        QByteArray content;
        const char *message;
    };
    const caseRow rows[] = {
        {"empty", QByteArray(), "damaged"},
        {"short", bytes.left(200), "damaged"},
        {"header only", bytes.left(int(PROJECT_FILE_PAYLOAD_OFFSET)), "damaged"},
        {"cut in the photos", bytes.left(int(PROJECT_FILE_PAYLOAD_OFFSET) + (bytes.size() - 65536) / 3), "damaged"},
        {"last byte missing", bytes.left(bytes.size() - 1), "damaged"},
        {"zero header", QByteArray(29192, '\0') + bytes.mid(29192), ""},
    };
    const QString before = w.project->photos.first().filePath;
    for (const caseRow &row : rows) {
        SCOPED_TRACE(row.name);
        const QString path = dir + "/bad.lmpx";
        ASSERT_TRUE(testSupport::writeFile(path, row.content));
        messages.clear();
        messageAnswer = styledMessageBox::Yes;
        EXPECT_FALSE(loadProject(w, path));
        ASSERT_FALSE(messages.empty());
        EXPECT_EQ(messages.back().kind, styledMessageBox::Error);
        if (*row.message) {
            EXPECT_TRUE(hasMessage(messages, row.message)) << messages.back().text.toStdString();
        }
        // Refused before the question: the open project is untouched.
        EXPECT_FALSE(hasMessage(messages, "Close current project?"));
        ASSERT_EQ(w.project->photos.size(), 3);
        EXPECT_EQ(w.project->photos.first().filePath, before);
    }
    messages.clear();
    EXPECT_FALSE(loadProject(w, dir + "/missing.lmpx"));
    EXPECT_TRUE(hasMessage(messages, "Cannot access file"));

    // "No" to closing the open project keeps it.
    messages.clear();
    messageAnswer = styledMessageBox::No;
    EXPECT_FALSE(loadProject(w, good));
    EXPECT_TRUE(hasMessage(messages, "Close current project?"));
    EXPECT_EQ(w.project->photos.first().filePath, before);
}

TEST_F(projectWindowTest, aStoppedOrFailedSaveKeepsThePreviousFile)
{
    const QStringList files = gradientBracket(dir);
    const QString target = dir + "/kept.lmpx";
    mainWindow w;
    ASSERT_TRUE(w.addImages(files));
    ASSERT_TRUE(waitForPhotos(w));
    ASSERT_TRUE(saveProject(w, target));
    const QByteArray old = testSupport::readFile(target);

    // Break pressed at once: the worker stops before the header is written.
    QSignalSpy saved(&w, &mainWindow::projectSaved);
    w.saveProjectSlot(target, false);
    ASSERT_TRUE(w.projectSaveRunning());
    w.requestBreak();
    ASSERT_TRUE(waitFor([&] { return saved.count() > 0; }));
    EXPECT_FALSE(saved.first().first().toBool());
    EXPECT_TRUE(hasMessage(messages, "Failed to save project."));
    EXPECT_EQ(testSupport::readFile(target), old);
    EXPECT_EQ(QDir(dir).entryList({"kept.lmpx*"}, QDir::Files | QDir::Hidden).size(), 1);

    // A folder that does not exist.
    messages.clear();
    EXPECT_FALSE(saveProject(w, dir + "/no such folder/p.lmpx"));
    EXPECT_TRUE(hasMessage(messages, "Failed to save project."));
}

TEST_F(projectWindowTest, commandsAskForTheFileThroughTheDialogs)
{
    const QStringList files = gradientBracket(dir);
    mainWindow w;
    // Cancelled dialogs do nothing and no command is a stand-in any more.
    dialogAnswer.clear();
    w.loadProjectAct->trigger();
    EXPECT_FALSE(w.projectLoadRunning());
    EXPECT_FALSE(w.lastPendingCommand().contains("Project"));

    ASSERT_TRUE(w.addImages(files));
    ASSERT_TRUE(waitForPhotos(w));
    // Save through the menu: the name gets its suffix, the options dialog
    // (accepted as it opens) embeds the photos.
    dialogAnswer = QStringList{dir + "/menu"};
    QTimer accept;
    QObject::connect(&accept, &QTimer::timeout, [] {
        QWidget *modal = QApplication::activeModalWidget();
        if (modal && modal->inherits("saveProjectOpts"))
            qobject_cast<QDialog *>(modal)->accept();
    });
    accept.start(20);
    QSignalSpy saved(&w, &mainWindow::projectSaved);
    w.saveProjectAct->trigger();
    ASSERT_TRUE(waitFor([&] { return saved.count() > 0; }));
    EXPECT_TRUE(saved.first().first().toBool());
    EXPECT_TRUE(QFileInfo::exists(dir + "/menu.lmpx"));
    EXPECT_FALSE(w.lastPendingCommand().contains("Project"));

    // Loading through a drop asks before closing the open project.
    messageAnswer = styledMessageBox::Yes;
    QSignalSpy loaded(&w, &mainWindow::projectLoaded);
    w.addDroppedImages({dir + "/menu.lmpx"});
    ASSERT_TRUE(waitFor([&] { return loaded.count() > 0; }));
    EXPECT_TRUE(loaded.first().first().toBool());
    EXPECT_TRUE(hasMessage(messages, "Close current project?"));
    EXPECT_EQ(w.project->photos.size(), 3);
}

// The options dialog decides what goes in: photos left out and the HDR image
// embedded give a project of the HDR image whose photos are black; it opens
// with the HDR image as the result, and saving it again offers neither box
// (its photos have no pixels) and keeps the HDR image.
TEST_F(projectWindowTest, optionsDialogChoicesAreHonouredAndTheHdrImageComesBack)
{
    const QStringList files = gradientBracket(dir);
    const QString target = dir + "/hdr.lmpx";
    std::vector<float> hdr;
    struct boxes_t {
        bool seen = false, inputsEnabled = true, hdrEnabled = true, hdrChecked = false;
    } asked;
    // Answers the options dialog: photos off, HDR image on (where enabled).
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&] {
        auto *modal = qobject_cast<saveProjectOpts *>(QApplication::activeModalWidget());
        if (!modal)
            return;
        asked = {true, modal->inputsBox->isEnabled(), modal->hdrBox->isEnabled(), modal->hdrBox->isChecked()};
        if (modal->inputsBox->isEnabled())
            modal->inputsBox->setChecked(false);
        if (modal->hdrBox->isEnabled())
            modal->hdrBox->setChecked(true);
        modal->checkValid();
        modal->saveButton->click();
    });
    answer.start(20);
    {
        mainWindow w;
        ASSERT_TRUE(w.addImages(files));
        ASSERT_TRUE(waitForPhotos(w));
        processingProject &p = *w.project;
        if (!p.hdrImage.levels[0].data) {
            ASSERT_TRUE(p.allocatePyramids());
        }
        auto *px = static_cast<float *>(p.hdrImage.levels[0].data);
        for (int i = 0; i < p.width * p.height * 3; ++i)
            px[i] = 0.001f * float(i % 5000) + 0.25f;
        hdr.assign(px, px + size_t(p.width) * p.height * 3);
        p.hdrState.resultValid = true;
        p.hdrState.hdrPresent = true;
        p.hdrState.hdrMedian = 0.31;
        p.hdrState.lcCorrection = 1.7;

        dialogAnswer = QStringList{target};
        QSignalSpy saved(&w, &mainWindow::projectSaved);
        w.saveProjectSlot();
        ASSERT_TRUE(waitFor([&] { return saved.count() > 0; }));
        ASSERT_TRUE(saved.first().first().toBool());
        EXPECT_TRUE(asked.seen && asked.inputsEnabled && asked.hdrEnabled);
    }
    projectHeader_t raw;
    projectFileHeader_t h;
    ASSERT_EQ(readProjectFileHeader(target, raw, h), projectHeaderResult_t::ok);
    EXPECT_FALSE(h.inputsEmbedded());
    EXPECT_NE(h.hdrOffset, 0);
    EXPECT_DOUBLE_EQ(h.hdrPreprocess[0], 0.31);

    mainWindow fresh;
    ASSERT_TRUE(loadProject(fresh, target));
    processingProject &p = *fresh.project;
    ASSERT_EQ(p.photos.size(), 3);
    EXPECT_TRUE(p.hdrState.resultValid);
    EXPECT_DOUBLE_EQ(p.hdrState.hdrMedian, 0.31);
    EXPECT_DOUBLE_EQ(p.hdrState.lcCorrection, 1.7);
    const auto *px = static_cast<const float *>(p.hdrImage.levels[0].data);
    ASSERT_NE(px, nullptr);
    EXPECT_TRUE(std::equal(hdr.begin(), hdr.end(), px));
    const uint16_t *preview = p.photos.first().preview;
    ASSERT_NE(preview, nullptr);
    EXPECT_EQ(std::count(preview, preview + size_t(p.previewWidth) * p.previewHeight * 3, uint16_t(0)),
              long(p.previewWidth) * p.previewHeight * 3);

    // Saved again: both boxes disabled, the HDR image embedded once more.
    asked = boxes_t();
    const QString again = dir + "/again.lmpx";
    dialogAnswer = QStringList{again};
    QSignalSpy saved(&fresh, &mainWindow::projectSaved);
    fresh.saveProjectSlot();
    ASSERT_TRUE(waitFor([&] { return saved.count() > 0; }));
    ASSERT_TRUE(saved.first().first().toBool());
    EXPECT_TRUE(asked.seen);
    EXPECT_FALSE(asked.inputsEnabled);
    EXPECT_FALSE(asked.hdrEnabled);
    EXPECT_TRUE(asked.hdrChecked);
    ASSERT_EQ(readProjectFileHeader(again, raw, h), projectHeaderResult_t::ok);
    EXPECT_FALSE(h.inputsEmbedded());
    EXPECT_NE(h.hdrOffset, 0);
}

namespace {

// A version-1 project file written field by field as that version laid it
// out (a 9,744-byte header, 32 photo slots, no lens-correction byte), its
// runs compressed with zlib's ordinary compress(): 32 tiny photos of one
// flat colour each, a ghost mask naming every photo, layer 1 with a mask,
// and the settings of layers 0 and 1.
struct versionOneProject_t {
    static constexpr int W = 128, H = 128, PHOTOS = 32; // the smallest photos the program takes
    static uint16_t sample(int photo, int channel) { return uint16_t((1000 + photo * 1900 + channel * 350) & 0xFFC0); }
    static double ev(int photo) { return photo * 0.25 - 4; }
    static uint8_t maskValue(int i) { return uint8_t((i * 5) % 256); }
    static uint8_t ghostLabel(int i) { return uint8_t(i % (PHOTOS + 1)); } // 0 = none, else photo slot + 1

    static QByteArray build(const QByteArray &baseSettings, const QByteArray &layerSettings)
    {
        QByteArray file(65536, '\0');
        auto put = [&](int at, int n, uint64_t v) {
            for (int i = 0; i < n; ++i, v >>= 8)
                file[at + i] = char(v & 0xff);
        };
        auto putDouble = [&](int at, double d) {
            uint64_t bits;
            memcpy(&bits, &d, 8);
            put(at, 8, bits);
        };
        // A run: blocks of at most 1,000,000 bytes, each an 8-byte length and
        // one zlib stream.
        auto appendRun = [&](const std::vector<uint8_t> &bytes) {
            const int64_t at = file.size();
            for (size_t start = 0; start < bytes.size(); start += 1000000) {
                const size_t n = std::min<size_t>(1000000, bytes.size() - start);
                std::vector<uint8_t> packed(compressBound(uLong(n)));
                uLongf length = uLongf(packed.size());
                EXPECT_EQ(compress(packed.data(), &length, bytes.data() + start, uLong(n)), Z_OK);
                QByteArray block(8, '\0');
                for (int i = 0; i < 8; ++i)
                    block[i] = char((uint64_t(length) >> (8 * i)) & 0xff);
                file += block;
                file += QByteArray(reinterpret_cast<const char *>(packed.data()), int(length));
            }
            return at;
        };
        auto appendRaw = [&](const QByteArray &bytes) {
            const int64_t at = file.size();
            QByteArray length(8, '\0');
            for (int i = 0; i < 8; ++i)
                length[i] = char((uint64_t(bytes.size()) >> (8 * i)) & 0xff);
            file += length + bytes;
            return at;
        };

        memcpy(file.data(), "Lumidra 3 project", 17);
        put(32, 4, 1);       // version
        put(36, 4, 9744);    // header size
        put(40, 4, 1000000); // block size
        put(44, 4, W);
        put(48, 4, H);
        put(52, 4, W); // ghost mask: the photos are embedded
        put(56, 4, H);
        put(60, 4, 2);
        for (int p = 0; p < PHOTOS; ++p) {
            const QByteArray name = QByteArray("v1_") + QByteArray::number(p) + ".jpg";
            memcpy(file.data() + 64 + 256 * p, name.constData(), size_t(name.size()));
            std::vector<uint8_t> px(size_t(W) * H * 6);
            for (size_t i = 0; i < px.size(); i += 2) {
                const uint16_t v = sample(p, int((i / 2) % 3));
                px[i] = uint8_t(v & 0xff);
                px[i + 1] = uint8_t(v >> 8);
            }
            put(8520 + 8 * p, 8, uint64_t(appendRun(px)));
            putDouble(8776 + 8 * p, ev(p));
        }
        std::vector<uint8_t> ghost(size_t(W) * H);
        for (size_t i = 0; i < ghost.size(); ++i)
            ghost[i] = ghostLabel(int(i));
        put(9600, 8, uint64_t(appendRun(ghost)));
        put(9432, 8, uint64_t(appendRaw(baseSettings)));
        std::vector<uint8_t> mask(size_t(W) * H);
        for (size_t i = 0; i < mask.size(); ++i)
            mask[i] = maskValue(int(i));
        put(9032 + 8, 8, uint64_t(appendRun(mask)));
        memcpy(file.data() + 9112 + 32, "old sky", 7);
        put(9432 + 8, 8, uint64_t(appendRaw(layerSettings)));
        putDouble(9512, 1.0);
        putDouble(9512 + 8, 0.4);
        // EV source, alignment, method (Smart Merge), selectivity, Smart
        // Merge value, ghost removal, the constant 1.
        const uint8_t options[7] = {1, 1, 1, 2, 5, 1, 1};
        memcpy(file.data() + 9592, options, 7);
        // Noise filter on, strength, softness, panorama.
        const uint8_t noise[4] = {1, 6, 3, 1};
        memcpy(file.data() + 9608, noise, 4);
        return file;
    }
};

} // namespace

// A version-1 project opened as the command line or a drop opens it: its 32
// photos with their pixels and EVs, the ghost mask with the photos' new
// labels, layer 1 with its name, opacity and mask, the settings of both
// layers, the HDR options (lens correction off: version 1 had none), and a
// history that starts with one START row per restored layer.
TEST_F(projectWindowTest, aVersionOneProjectOpensUpgraded)
{
    using v1 = versionOneProject_t;
    processingParams_t base, layer;
    base.gamma = 1.3;
    layer.saturation = 0.7;
    const QString path = dir + "/old.lmpx";
    ASSERT_TRUE(testSupport::writeFile(path, v1::build(settingsToBytes(base), settingsToBytes(layer))));

    mainWindow w;
    // Lens correction on before: the version-1 project turns it off.
    w.generateHdrDialog()->lensAutoCheck->setChecked(true);
    ASSERT_TRUE(loadProject(w, path)) << (messages.empty() ? std::string() : messages.back().text.toStdString());
    processingProject &p = *w.project;
    ASSERT_EQ(p.photos.size(), v1::PHOTOS);
    EXPECT_EQ(p.width, v1::W);
    EXPECT_EQ(p.height, v1::H);
    std::vector<int> newIds;
    for (int slot = 0; slot < v1::PHOTOS; ++slot) {
        SCOPED_TRACE(slot);
        const photoInfo_t *photo = photoNamed(w, QString("v1_%1.jpg-").arg(slot));
        ASSERT_NE(photo, nullptr);
        newIds.push_back(photo->id);
        EXPECT_EQ(photo->projectPhotoIndex, slot);
        EXPECT_DOUBLE_EQ(photo->ev, v1::ev(slot));
        ASSERT_NE(photo->preview, nullptr);
        const size_t last = (size_t(p.previewWidth) * p.previewHeight - 1) * 3;
        for (int c = 0; c < 3; ++c) {
            EXPECT_EQ(photo->preview[c], v1::sample(slot, c));
            EXPECT_EQ(photo->preview[last + size_t(c)], v1::sample(slot, c));
        }
    }
    // Ghost labels were the slots' (slot + 1); now they are the new ids'.
    ASSERT_EQ(p.previewWidth, v1::W);
    const auto *ghost = static_cast<const uint8_t *>(p.ghostLabelMask.levels[0].data);
    ASSERT_NE(ghost, nullptr);
    for (int i = 0; i < v1::W * v1::H; ++i) {
        const int stored = v1::ghostLabel(i);
        ASSERT_EQ(int(ghost[i]), stored == 0 ? 0 : newIds[size_t(stored - 1)] % 100 + 1) << i;
    }

    EXPECT_EQ(w.projectLayerCount, 2);
    ASSERT_TRUE(p.layerExists[1]);
    EXPECT_EQ(w.projectLayerNames[1], "old sky");
    EXPECT_EQ(w.layersToolWidget->row(1)->getLabelText(), "old sky");
    EXPECT_NEAR(p.layerSettings[1].opacity, 0.4, 1e-9);
    EXPECT_NEAR(p.layerSettings[1].saturation, 0.7, 1e-6);
    EXPECT_NEAR(p.layerSettings[0].gamma, 1.3, 1e-6);
    const auto *mask = static_cast<const uint8_t *>(p.layerMasks[1].levels[0].data);
    ASSERT_NE(mask, nullptr);
    for (int i = 0; i < v1::W * v1::H; ++i)
        ASSERT_EQ(mask[i], v1::maskValue(i)) << i;

    generateHDR *d = w.generateHdrDialog();
    EXPECT_FALSE(d->lensAutoCheck->isChecked());
    EXPECT_FALSE(p.hdrState.lensCorrected);
    EXPECT_TRUE(d->alignAutoCheck->isChecked());
    EXPECT_TRUE(d->panoramaCheck->isChecked());
    EXPECT_EQ(d->options->method(), int(hdrMethodSmartMerge));
    EXPECT_EQ(d->options->selectivity->getSelectivity(), 2);
    EXPECT_EQ(int(d->options->smartMerge->strength->value()), 5);
    EXPECT_TRUE(d->options->ghostRemoval());
    EXPECT_TRUE(d->options->denoise->isChecked());
    EXPECT_EQ(int(d->options->denoise->strengthSlider()->value()), 6);
    EXPECT_EQ(int(d->options->denoise->softnessSlider()->value()), 3);

    // One START row per restored layer, in layer order, each holding the
    // settings the layer was restored with.
    ASSERT_EQ(w.historyList->count(), 2);
    for (int row = 0; row < 2; ++row) {
        historyItem *item = w.historyRow(row);
        ASSERT_NE(item, nullptr);
        EXPECT_TRUE(item->isStartingPoint());
        EXPECT_EQ(item->description(), "START");
        EXPECT_EQ(item->layer(), row);
    }
    EXPECT_NEAR(w.historyRow(0)->settings.gamma, 1.3, 1e-6);
    EXPECT_NEAR(w.historyRow(1)->settings.saturation, 0.7, 1e-6);
    EXPECT_EQ(w.currentProjectPath, path);
}

// A project whose photo is an HDR file holds its picture only in the HDR
// image: the options dialog offers no way to leave it out (the box is
// checked and disabled, its stored choice untouched), and the picture comes
// back when the project is opened again.
TEST_F(projectWindowTest, aProjectOfAnHdrFileAlwaysKeepsItsHdrImage)
{
    const QString target = dir + "/scene.lmpx";
    const int w = 160, h = 128;
    auto pixel = [](int x, int y, float *rgb) {
        rgb[0] = 0.01f * float(x) + 0.1f;
        rgb[1] = 0.02f * float(y) + 0.05f;
        rgb[2] = 0.5f;
    };
    options->misc.saveHdrDataInProject = false;
    struct boxes_t {
        bool seen = false, hdrEnabled = true, hdrChecked = false;
    } asked;
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&] {
        auto *modal = qobject_cast<saveProjectOpts *>(QApplication::activeModalWidget());
        if (!modal)
            return;
        asked = {true, modal->hdrBox->isEnabled(), modal->hdrBox->isChecked()};
        modal->saveButton->click();
    });
    answer.start(20);
    {
        mainWindow win;
        ASSERT_TRUE(plantHdrScene(win, w, h, pixel));
        dialogAnswer = QStringList{target};
        QSignalSpy saved(&win, &mainWindow::projectSaved);
        win.saveProjectSlot();
        ASSERT_TRUE(waitFor([&] { return saved.count() > 0; }));
        ASSERT_TRUE(saved.first().first().toBool());
    }
    EXPECT_TRUE(asked.seen);
    EXPECT_FALSE(asked.hdrEnabled);
    EXPECT_TRUE(asked.hdrChecked);
    EXPECT_FALSE(options->misc.saveHdrDataInProject);

    mainWindow fresh;
    ASSERT_TRUE(loadProject(fresh, target));
    const auto *px = static_cast<const float *>(fresh.project->hdrImage.levels[0].data);
    ASSERT_NE(px, nullptr);
    EXPECT_TRUE(fresh.project->hdrState.resultValid);
    for (int y = 0; y < h; y += 7)
        for (int x = 0; x < w; x += 5) {
            float rgb[3];
            pixel(x, y, rgb);
            for (int c = 0; c < 3; ++c)
                ASSERT_EQ(px[(size_t(y) * w + x) * 3 + size_t(c)], rgb[c]) << x << "," << y;
        }
}
