#include "documents/presetLibrary.h"
#include "documents/settingsFile.h"
#include "documents/setupUserGroups.h"
#include "widgets/clickableLabel.h"
#include "widgets/presetItem.h"

#include "../imageio/writeFailure.h"
#include "../widgets/widgetTestSupport.h"
#include "presetTestProject.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStandardItemModel>
#include <QTest>
#include <gtest/gtest.h>

namespace
{
class fakeHost : public presetLibraryHost
{
public:
    int currentLayer() const override { return layer; }
    processingParams_t currentSettings() override { return current; }
    processingParams_t firstLayerSettings() override { return current; }
    lockedPanels_t lockedPanels() const override { return {}; }
    bool loadPreset(const QString &path) override
    {
        loaded << QFileInfo(path).fileName();
        return loadSucceeds;
    }
    void setAppliedPresetId(int id) override { appliedId = id; }
    void addHistory(const QString &text) override { history << text; }
    processingProject *project() override { return projectToShow; }

    int layer = 0;
    bool loadSucceeds = true;
    processingParams_t current;
    QStringList loaded;
    QStringList history;
    int appliedId = -1;
    processingProject *projectToShow = nullptr;
};

processingParams_t withGamma(double gamma)
{
    processingParams_t p;
    p.gamma = gamma;
    return p;
}

class presetLibraryTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        const QString root = testSupport::freshDir();
        builtIn = root + "/built-in presets";
        user = root + "/user/presets";
        QDir().mkpath(builtIn);
        QDir().mkpath(user + "/travel");
        QDir().mkpath(user + "/Black and white");
        for (const char *name : {"default", "none", "Vivid", "bright", "Zebra"})
            ASSERT_TRUE(saveSettingsFile(builtIn + "/" + name + ".lmsx", withGamma(1.1)));
        ASSERT_TRUE(testSupport::writeFile(builtIn + "/broken.lmsx", "not a settings file"));
        for (const char *name : {"user_1.lmsx", "alpha.lmsx", "travel/user_2.lmsx", "travel/Coast.lmsx",
                                 "Black and white/mono.lmsx"})
            ASSERT_TRUE(saveSettingsFile(user + "/" + name, withGamma(1.3)));
        host.current = withGamma(2.2);
        library.reset(new presetLibrary(&host, builtIn, user));
        library->resize(400, 600);
        library->scanPresets();
    }
    void TearDown() override { library.reset(); }

    QStringList names(bool visibleOnly = true) const
    {
        QStringList out;
        for (const presetItem *item : library->items())
            if (!visibleOnly || !item->isHidden())
                out << item->displayedName();
        return out;
    }
    presetItem *byName(const QString &name) const
    {
        for (presetItem *item : library->items())
            if (item->displayedName() == name)
                return item;
        return nullptr;
    }

    QString builtIn, user;
    fakeHost host;
    std::unique_ptr<presetLibrary> library;
};
} // namespace

TEST_F(presetLibraryTest, scanGivesIdsAndTheSortOrder)
{
    // The unreadable file gets no row; the last-used settings were created from the default.
    EXPECT_EQ(names(false), (QStringList{"default", "last used", "neutral", "alpha", "bright", "Coast", "mono",
                                         "user_1", "user_2", "Vivid", "Zebra"}));
    EXPECT_TRUE(QFileInfo::exists(user + "/___last.lmsx"));
    EXPECT_EQ(byName("default")->getId(), PRESET_ID_DEFAULT);
    EXPECT_EQ(byName("last used")->getId(), PRESET_ID_LAST_USED);
    EXPECT_TRUE(byName("last used")->isBuiltIn());
    // Built-in ids follow the folder listing sorted ignoring case.
    EXPECT_EQ(byName("bright")->getId(), PRESET_ID_BUILTIN_BASE + 0);
    EXPECT_EQ(byName("Zebra")->getId(), PRESET_ID_BUILTIN_BASE + 5);
    EXPECT_EQ(byName("Coast")->getGroupName(), QString("travel"));
    EXPECT_NEAR(byName("Vivid")->settings.gamma, 1.1, 1e-6);
    EXPECT_EQ(library->groupCombo()->count(), 3);
    EXPECT_EQ(library->groupCombo()->itemText(0), QString("Not grouped"));
    EXPECT_EQ(library->groupCombo()->itemText(1), QString("Black and white"));
}

TEST_F(presetLibraryTest, filtersShowTheirRows)
{
    const struct
    {
        const char *name;
        int option;
        int groupIndex;
        QStringList visible;
        bool comboShown;
    } cases[] = {
        {"all", 0, 0, {"default", "last used", "neutral", "alpha", "bright", "Coast", "mono", "user_1", "user_2",
                       "Vivid", "Zebra"}, false},
        {"builtInWithLastUsed", 1, 0, {"default", "last used", "neutral", "bright", "Vivid", "Zebra"}, false},
        {"userNotGrouped", 2, 0, {"alpha", "user_1"}, true},
        {"userGroup", 2, 2, {"Coast", "user_2"}, true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        library->groupCombo()->setCurrentIndex(c.groupIndex);
        QTest::mouseClick(library->filterButtons()->button(c.option), Qt::LeftButton);
        EXPECT_EQ(names(), c.visible);
        EXPECT_EQ(!library->groupCombo()->isHidden(), c.comboShown);
    }
}

TEST_F(presetLibraryTest, userFilterWithoutGroupsHidesTheCombo)
{
    QDir(user + "/travel").removeRecursively();
    QDir(user + "/Black and white").removeRecursively();
    library->scanPresets();
    QTest::mouseClick(library->filterButtons()->button(2), Qt::LeftButton);
    EXPECT_EQ(library->groupCombo()->count(), 0);
    EXPECT_TRUE(library->groupCombo()->isHidden());
    EXPECT_EQ(names(), (QStringList{"alpha", "user_1"}));
}

TEST_F(presetLibraryTest, clickAppliesThePreset)
{
    QTest::mouseClick(byName("Vivid")->tile(), Qt::LeftButton);
    EXPECT_EQ(host.loaded, QStringList{"Vivid.lmsx"});
    EXPECT_EQ(host.history, QStringList{"Preset: Vivid"});
    EXPECT_EQ(host.appliedId, byName("Vivid")->getId());
    EXPECT_EQ(library->appliedPresetName(), QString("Vivid"));
    EXPECT_TRUE(byName("Vivid")->property("imageItemSelected").toBool());

    QTest::mouseClick(byName("neutral")->tile(), Qt::LeftButton);
    EXPECT_EQ(host.history.last(), QString("Preset: neutral"));
    EXPECT_FALSE(byName("Vivid")->property("imageItemSelected").toBool());

    // The default and the last-used entries write no history of their own.
    QTest::mouseClick(byName("default")->tile(), Qt::LeftButton);
    QTest::mouseClick(byName("last used")->tile(), Qt::LeftButton);
    EXPECT_EQ(host.history.size(), 2);
    EXPECT_EQ(library->appliedPresetName(), QString());
    EXPECT_EQ(host.loaded.last(), QString("___last.lmsx"));

    // On an upper layer the applied name of layer 0 stays.
    QTest::mouseClick(byName("Vivid")->tile(), Qt::LeftButton);
    host.layer = 3;
    QTest::mouseClick(byName("bright")->tile(), Qt::LeftButton);
    EXPECT_EQ(library->appliedPresetName(), QString("Vivid"));

    library->presetItemChanged(-2);
    EXPECT_EQ(host.appliedId, PP_NO_PRESET);

    // A preset that no longer loads is not marked as applied and leaves no
    // history step behind.
    host.layer = 0;
    host.loadSucceeds = false;
    const int historySteps = host.history.size();
    QTest::mouseClick(byName("Zebra")->tile(), Qt::LeftButton);
    EXPECT_EQ(host.loaded.last(), QString("Zebra.lmsx"));
    EXPECT_EQ(host.history.size(), historySteps);
    EXPECT_EQ(host.appliedId, PP_NO_PRESET);
    EXPECT_FALSE(byName("Zebra")->property("imageItemSelected").toBool());
    EXPECT_EQ(library->appliedPresetName(), QString());
}

TEST_F(presetLibraryTest, contextMenusByKindOfRow)
{
    auto texts = [](QMenu *menu) {
        QStringList t;
        for (QAction *a : menu->actions())
            t << (a->isSeparator() ? "-" : a->text() + (a->isEnabled() ? "" : " (off)"));
        return t;
    };
    EXPECT_EQ(texts(byName("alpha")->tile()->contextMenu()),
              (QStringList{"Rename", "Replace", "-", "Remove", "-", "Move to group...", "-", "Set as default"}));
    EXPECT_EQ(texts(byName("Vivid")->tile()->contextMenu()), QStringList{"Set as default"});
    EXPECT_EQ(texts(byName("last used")->tile()->contextMenu()), QStringList{"Set as default (off)"});
    EXPECT_EQ(texts(byName("default")->tile()->contextMenu()), QStringList{"Reset default"});

    QMenu *groups = byName("Coast")->tile()->groupsMenu();
    emit groups->aboutToShow();
    EXPECT_EQ(texts(groups), (QStringList{"Not grouped", "-", "Black and white", "travel (off)"}));
    groups = byName("alpha")->tile()->groupsMenu();
    emit groups->aboutToShow();
    EXPECT_EQ(texts(groups), (QStringList{"Not grouped (off)", "-", "Black and white", "travel"}));

    // Choosing a group moves the file.
    groups->actions().at(2)->trigger();
    EXPECT_TRUE(QFileInfo::exists(user + "/Black and white/alpha.lmsx"));
    EXPECT_EQ(byName("alpha")->getGroupName(), QString("Black and white"));
}

TEST_F(presetLibraryTest, addPicksTheFirstFreeNumberAndSavesTheCurrentSettings)
{
    ASSERT_TRUE(saveSettingsFile(user + "/travel/user_4.lmsx", withGamma(1.0)));
    library->scanPresets();
    int maxId = 0;
    for (const presetItem *item : library->items())
        if (!item->isBuiltIn())
            maxId = std::max(maxId, item->getId());
    library->addNewPresetSlot();
    presetItem *added = byName("user_3");
    ASSERT_NE(added, nullptr);
    EXPECT_EQ(added->getId(), maxId + 1);
    EXPECT_FALSE(added->nameEditor()->isHidden()) << "the new row waits for its name";
    processingParams_t onDisk;
    ASSERT_EQ(loadSettingsFile(user + "/user_3.lmsx", &onDisk), SETTINGS_LOADED);
    EXPECT_NEAR(onDisk.gamma, 2.2, 1e-6);
    EXPECT_EQ(host.appliedId, added->getId());

    // With a group chosen under the user filter, the preset goes into the group.
    library->groupCombo()->setCurrentIndex(2);
    QTest::mouseClick(library->filterButtons()->button(2), Qt::LeftButton);
    library->addNewPresetSlot();
    EXPECT_TRUE(QFileInfo::exists(user + "/travel/user_5.lmsx"));
}

// A new preset never takes the name of a file already there, also when the
// folder holds more files than the list shows.
TEST_F(presetLibraryTest, addNeverSavesOverAnExistingPreset)
{
    // Empty files that sort before user_1: the list of rows ends before it.
    for (int i = 0; i < 520; ++i)
        ASSERT_TRUE(testSupport::writeFile(QString("%1/b%2.lmsx").arg(user).arg(i, 3, 10, QChar('0')), ""));
    const QByteArray user1 = testSupport::readFile(user + "/user_1.lmsx");
    const QByteArray user2 = testSupport::readFile(user + "/travel/user_2.lmsx");
    library->scanPresets();
    library->addNewPresetSlot();
    EXPECT_NE(byName("user_3"), nullptr);
    EXPECT_TRUE(QFileInfo::exists(user + "/user_3.lmsx"));
    EXPECT_EQ(testSupport::readFile(user + "/user_1.lmsx"), user1);
    EXPECT_EQ(testSupport::readFile(user + "/travel/user_2.lmsx"), user2);

    // Renaming to a name beyond the list's end is refused as well.
    messageRecorder boxes;
    library->presetItemRename(byName("alpha")->getId(), "user_1");
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_TRUE(boxes.boxes[0].text.startsWith("File already exists: ")) << boxes.boxes[0].text.toStdString();
    EXPECT_TRUE(QFileInfo::exists(user + "/alpha.lmsx"));
}

TEST_F(presetLibraryTest, addRefusesAtTheLimit)
{
    for (int i = 0; i < PRESET_MAX_USER_PRESETS; ++i)
        ASSERT_TRUE(testSupport::writeFile(QString("%1/p%2.lmsx").arg(user).arg(i, 3, 10, QChar('0')),
                                           settingsToBytes(processingParams_t())));
    library->scanPresets();
    auto userRows = [this]() {
        int n = 0;
        for (const presetItem *item : library->items())
            n += item->isBuiltIn() ? 0 : 1;
        return n;
    };
    // The folder listing stops at 512 entries, the last-used file among them.
    ASSERT_EQ(userRows(), PRESET_MAX_USER_PRESETS - 1);
    messageRecorder boxes;
    library->addNewPresetSlot();
    EXPECT_TRUE(boxes.boxes.empty());
    EXPECT_EQ(userRows(), PRESET_MAX_USER_PRESETS);
    const int files = QDir(user).entryList({"*.lmsx"}, QDir::Files).size();
    library->addNewPresetSlot();
    EXPECT_EQ(boxes.texts(), QStringList{"Too many user presets."});
    EXPECT_EQ(userRows(), PRESET_MAX_USER_PRESETS);
    EXPECT_EQ(QDir(user).entryList({"*.lmsx"}, QDir::Files).size(), files);
}

TEST_F(presetLibraryTest, renameRefusesDuplicatesAndBadNames)
{
    presetItem *alpha = byName("alpha");
    const struct
    {
        const char *newName;
        const char *box;
    } refused[] = {
        {"Coast", "File already exists: %1."}, // in another group
        {"a/b", "Bad preset name."},
        {"..", "Bad preset name."},
        {".hidden", "Bad preset name."},
        {"what?", "Bad preset name."},
        {"tab\there", "Bad preset name."},
    };
    for (const auto &r : refused) {
        SCOPED_TRACE(r.newName);
        messageRecorder boxes;
        alpha->enterRenameMode();
        alpha->nameEditor()->setText(r.newName);
        QTest::keyClick(alpha->nameEditor(), Qt::Key_Return);
        ASSERT_EQ(boxes.boxes.size(), 1u);
        const QString expected = !QString(r.box).contains("%1") ? QString(r.box) :
            QString(r.box).arg(QDir::toNativeSeparators(QFileInfo(user + "/travel/Coast.lmsx").absoluteFilePath()));
        EXPECT_EQ(boxes.texts().first(), expected);
        EXPECT_TRUE(QFileInfo::exists(user + "/alpha.lmsx"));
        EXPECT_EQ(alpha->displayedName(), QString("alpha"));
        EXPECT_EQ(alpha->getEditedName(), QString("alpha"));
    }

    // An empty name restores the old one and emits nothing.
    QSignalSpy renamed(alpha, &presetItem::itemRenamed);
    alpha->enterRenameMode();
    alpha->nameEditor()->clear();
    QTest::keyClick(alpha->nameEditor(), Qt::Key_Return);
    EXPECT_EQ(renamed.count(), 0);
    EXPECT_EQ(alpha->getEditedName(), QString("alpha"));

    messageRecorder none;
    alpha->enterRenameMode();
    alpha->nameEditor()->setText("Harbour at dawn");
    QTest::keyClick(alpha->nameEditor(), Qt::Key_Return);
    EXPECT_TRUE(none.boxes.empty());
    EXPECT_TRUE(QFileInfo::exists(user + "/Harbour at dawn.lmsx"));
    EXPECT_FALSE(QFileInfo::exists(user + "/alpha.lmsx"));
    EXPECT_EQ(alpha->getFilePath(), user + "/Harbour at dawn.lmsx");
    EXPECT_EQ(alpha->displayedName(), QString("Harbour at dawn"));
}

TEST_F(presetLibraryTest, replaceWritesTheCurrentSettingsAndAFailedSaveKeepsTheOldPreset)
{
    const QString path = user + "/alpha.lmsx";
    const QByteArray old = testSupport::readFile(path);
    {
        messageRecorder boxes({styledMessageBox::No});
        library->presetItemReplace(byName("alpha")->getId());
        EXPECT_EQ(testSupport::readFile(path), old);
    }
    {
        // A full disk during the save: an error, the old preset stays whole.
        messageRecorder boxes({styledMessageBox::Yes});
        writeFailure::fileSizeLimit limit(200);
        library->presetItemReplace(byName("alpha")->getId());
        ASSERT_EQ(boxes.boxes.size(), 2u);
        EXPECT_EQ(boxes.boxes[1].text, "Cannot save settings.<br><br>" + path);
    }
    EXPECT_EQ(testSupport::readFile(path), old);
    EXPECT_EQ(QDir(user).entryList(QDir::Files | QDir::Hidden).size(), 3) << "no temporary file left";
    {
        messageRecorder boxes({styledMessageBox::Yes});
        library->presetItemReplace(byName("alpha")->getId());
        processingParams_t p;
        ASSERT_EQ(loadSettingsFile(path, &p), SETTINGS_LOADED);
        EXPECT_NEAR(p.gamma, 2.2, 1e-6);
        EXPECT_NEAR(byName("alpha")->settings.gamma, 2.2, 1e-6);
        EXPECT_EQ(host.appliedId, byName("alpha")->getId());
    }
    {
        // The last-used entry is replaced without a question and fails silently.
        messageRecorder boxes;
        writeFailure::fileSizeLimit limit(200);
        library->presetItemReplace(PRESET_ID_LAST_USED);
        EXPECT_TRUE(boxes.boxes.empty());
    }
}

TEST_F(presetLibraryTest, removeAsksAndDeletesFileAndRow)
{
    {
        messageRecorder boxes({styledMessageBox::No});
        library->presetItemRemove(byName("alpha")->getId());
        EXPECT_TRUE(QFileInfo::exists(user + "/alpha.lmsx"));
        EXPECT_NE(byName("alpha"), nullptr);
    }
    messageRecorder boxes({styledMessageBox::Yes});
    library->presetItemRemove(byName("alpha")->getId());
    EXPECT_EQ(boxes.texts(), QStringList{"Do you really want to remove the selected preset?<br><br>alpha"});
    EXPECT_FALSE(QFileInfo::exists(user + "/alpha.lmsx"));
    EXPECT_EQ(byName("alpha"), nullptr);
    // Built-in presets cannot be removed.
    library->presetItemRemove(byName("Vivid")->getId());
    EXPECT_TRUE(QFileInfo::exists(builtIn + "/Vivid.lmsx"));
}

TEST_F(presetLibraryTest, moveBetweenGroups)
{
    const QString sep = QString(QChar(PRESET_MOVE_SEPARATOR));
    presetItem *coast = byName("Coast");
    messageRecorder boxes;
    library->moveToUserGroup(QString::number(coast->getId()) + sep + "travel"); // own group: nothing
    EXPECT_TRUE(boxes.boxes.empty());
    library->moveToUserGroup(QString::number(coast->getId()) + sep);           // not grouped
    EXPECT_TRUE(QFileInfo::exists(user + "/Coast.lmsx"));
    EXPECT_EQ(coast->getGroupName(), QString());
    EXPECT_EQ(coast->getFilePath(), user + "/Coast.lmsx");

    // A file of the same name in the target: refused, nothing overwritten.
    ASSERT_TRUE(saveSettingsFile(user + "/travel/alpha.lmsx", withGamma(3.0)));
    library->moveToUserGroup(QString::number(byName("alpha")->getId()) + sep + "travel");
    EXPECT_EQ(boxes.texts(), QStringList{"Operation failed."});
    EXPECT_TRUE(QFileInfo::exists(user + "/alpha.lmsx"));
    library->moveToUserGroup(QString::number(byName("alpha")->getId()) + sep + "../../outside");
    library->moveToUserGroup("garbage");
    EXPECT_EQ(boxes.texts().size(), 3);
}

TEST_F(presetLibraryTest, groupsDialogCreatesRenamesAndRemovesSafely)
{
    setupUserGroups dialog(library.get(), user);
    QStandardItemModel *model = dialog.groupModel();
    ASSERT_EQ(model->rowCount(), 2);
    EXPECT_EQ(dialog.windowTitle(), QString("Setup user preset groups"));
    EXPECT_EQ(model->item(0)->text(), QString("Black and white"));
    EXPECT_TRUE(dialog.removeButton()->isEnabled());

    messageRecorder boxes;
    for (const char *bad : {"", "a/b", "..", "c:\\d"}) {
        dialog.nameEditor()->setText(bad);
        QTest::mouseClick(dialog.createButton(), Qt::LeftButton);
    }
    EXPECT_EQ(boxes.texts(), (QStringList{"Bad group name.", "Bad group name.", "Bad group name.", "Bad group name."}));
    dialog.nameEditor()->setText("Night");
    QTest::mouseClick(dialog.createButton(), Qt::LeftButton);
    EXPECT_TRUE(QFileInfo(user + "/Night").isDir());
    EXPECT_EQ(model->rowCount(), 3);

    // Renaming to a bad name is undone; a good name moves the folder and the rows.
    QStandardItem *travel = model->findItems("travel").first();
    travel->setText("../escape");
    EXPECT_EQ(travel->text(), QString("travel"));
    EXPECT_TRUE(QFileInfo(user + "/travel").isDir());
    travel->setText("Journeys");
    EXPECT_TRUE(QFileInfo(user + "/Journeys/Coast.lmsx").exists());
    EXPECT_EQ(byName("Coast")->getGroupName(), QString("Journeys"));
    EXPECT_EQ(byName("Coast")->getFilePath(), user + "/Journeys/Coast.lmsx");

    // Removing and keeping the presets: one of them clashes with a top-level
    // preset and must survive in its folder, which is then kept.
    ASSERT_TRUE(saveSettingsFile(user + "/Journeys/alpha.lmsx", withGamma(3.0)));
    const QModelIndex index = model->indexFromItem(model->findItems("Journeys").first());
    dialog.listView()->selectionModel()->select(index, QItemSelectionModel::ClearAndSelect);
    boxes.boxes.clear();
    boxes.answer(styledMessageBox::No);
    QTest::mouseClick(dialog.removeButton(), Qt::LeftButton);
    EXPECT_TRUE(QFileInfo::exists(user + "/Coast.lmsx"));
    EXPECT_TRUE(QFileInfo::exists(user + "/user_2.lmsx")) << "user_2 clashes with nothing: moved";
    EXPECT_EQ(byName("user_2")->getGroupName(), QString());
    EXPECT_TRUE(QFileInfo::exists(user + "/Journeys/alpha.lmsx")) << "the clashing preset is kept";
    EXPECT_EQ(boxes.boxes.back().kind, int(styledMessageBox::Error));
    EXPECT_EQ(model->rowCount(), 3) << "the group stays while it holds a preset";

    // Removing with its presets deletes files and rows.
    const QModelIndex mono = model->indexFromItem(model->findItems("Black and white").first());
    dialog.listView()->selectionModel()->select(mono, QItemSelectionModel::ClearAndSelect);
    boxes.answer(styledMessageBox::Yes);
    QTest::mouseClick(dialog.removeButton(), Qt::LeftButton);
    EXPECT_FALSE(QFileInfo::exists(user + "/Black and white"));
    EXPECT_EQ(byName("mono"), nullptr);
    EXPECT_EQ(model->rowCount(), 2);
}

// Two groups may hold presets of the same file name: the dialog changes the
// rows of its own group only.
TEST_F(presetLibraryTest, groupsDialogTouchesOnlyTheRowsOfItsGroup)
{
    ASSERT_TRUE(saveSettingsFile(user + "/travel/alpha.lmsx", withGamma(3.0)));
    ASSERT_TRUE(saveSettingsFile(user + "/Black and white/Coast.lmsx", withGamma(3.0)));
    library->scanPresets();
    auto rowOf = [this](const QString &path) -> presetItem * {
        for (presetItem *item : library->items())
            if (item->getFilePath() == path)
                return item;
        return nullptr;
    };
    ASSERT_NE(rowOf(user + "/alpha.lmsx"), nullptr);
    ASSERT_NE(rowOf(user + "/travel/alpha.lmsx"), nullptr);

    setupUserGroups dialog(library.get(), user);
    QStandardItemModel *model = dialog.groupModel();
    messageRecorder boxes;

    // Renaming "Black and white" moves its Coast, not the one in "travel".
    model->findItems("Black and white").first()->setText("Mono");
    ASSERT_NE(rowOf(user + "/Mono/Coast.lmsx"), nullptr);
    EXPECT_EQ(rowOf(user + "/Mono/Coast.lmsx")->getGroupName(), QString("Mono"));
    ASSERT_NE(rowOf(user + "/travel/Coast.lmsx"), nullptr);
    EXPECT_EQ(rowOf(user + "/travel/Coast.lmsx")->getGroupName(), QString("travel"));

    // Removing "travel" with its presets drops its alpha row; the top-level
    // alpha keeps its row and its file.
    const QModelIndex index = model->indexFromItem(model->findItems("travel").first());
    dialog.listView()->selectionModel()->select(index, QItemSelectionModel::ClearAndSelect);
    boxes.answer(styledMessageBox::Yes);
    QTest::mouseClick(dialog.removeButton(), Qt::LeftButton);
    EXPECT_FALSE(QFileInfo::exists(user + "/travel"));
    EXPECT_EQ(rowOf(user + "/travel/alpha.lmsx"), nullptr);
    EXPECT_EQ(rowOf(user + "/travel/Coast.lmsx"), nullptr);
    ASSERT_NE(rowOf(user + "/alpha.lmsx"), nullptr);
    EXPECT_TRUE(QFileInfo::exists(user + "/alpha.lmsx"));
    ASSERT_NE(rowOf(user + "/Mono/Coast.lmsx"), nullptr);
}

TEST_F(presetLibraryTest, thumbnailsRenderInTheBackgroundForEveryRow)
{
    // Without an image the rows get placeholders.
    library->invalidatePresets();
    for (const presetItem *item : library->items()) {
        EXPECT_FALSE(item->hasThumbnail());
        EXPECT_EQ(item->thumbnailSize(), QSize(PRESET_PLACEHOLDER_WIDTH, PRESET_PLACEHOLDER_HEIGHT));
    }

    presetTestProject fixture;
    ASSERT_TRUE(fixture.load());
    host.projectToShow = fixture.project.get();
    // Only the built-in rows are shown: they get their pictures first.
    QTest::mouseClick(library->filterButtons()->button(1), Qt::LeftButton);
    QSignalSpy done(library.get(), &presetLibrary::thumbnailsFinished);
    QSignalSpy installed(library.get(), &presetLibrary::thumbnailInstalled);
    library->invalidatePresets();
    ASSERT_TRUE(done.wait(20000));
    ASSERT_EQ(installed.count(), library->items().size());
    bool hiddenSeen = false;
    for (const QList<QVariant> &call : installed) {
        const bool hidden = library->itemById(call[0].toInt())->isHidden();
        EXPECT_FALSE(hiddenSeen && !hidden) << "a shown row after a hidden one";
        hiddenSeen = hiddenSeen || hidden;
    }
    EXPECT_TRUE(hiddenSeen);
    QTest::mouseClick(library->filterButtons()->button(0), Qt::LeftButton);
    const pyramidLevel_t &lv = fixture.project->hdrImage.levels[fixture.project->hdrImage.levelCount - 1];
    for (const presetItem *item : library->items()) {
        SCOPED_TRACE(item->displayedName().toStdString());
        EXPECT_TRUE(item->hasThumbnail());
        EXPECT_EQ(item->thumbnailSize(), QSize(lv.width, lv.height));
    }
    EXPECT_FALSE(library->thumbnailsRunning());

    // The tile shows the rendered picture, scaled to its size.
    presetItem *vivid = byName("Vivid");
    ASSERT_NE(vivid->shownImage(), nullptr);
    const QImage shownImage = *vivid->shownImage();
    library->show();
    QApplication::processEvents();
    const QImage tile = vivid->tile()->grab().toImage();
    ASSERT_GT(tile.width(), 10);
    const QPoint centre(tile.width() / 2, tile.height() / 2);
    const QRgb want = shownImage.pixel(shownImage.width() / 2, shownImage.height() / 2);
    const QRgb got = tile.pixel(centre);
    EXPECT_NEAR(qRed(got), qRed(want), 24);
    EXPECT_NEAR(qGreen(got), qGreen(want), 24);
    EXPECT_NEAR(qBlue(got), qBlue(want), 24);
    EXPECT_GT(qRed(want) + qGreen(want) + qBlue(want), 30) << "not a black picture";

    // Stopping a run at once waits for its thread; the abort flag is as before.
    library->invalidatePresets();
    EXPECT_TRUE(library->stopThumbWorker());
    EXPECT_FALSE(abortBackgroundFlag.load());
    EXPECT_FALSE(library->thumbnailsRunning());
    host.projectToShow = nullptr;
}

// A run starts with the rows the user sees: after scrolling to the end of
// the list those come before the rows at its top.
TEST_F(presetLibraryTest, thumbnailsOfTheRowsOnScreenComeFirst)
{
    QTest::mouseClick(library->filterButtons()->button(0), Qt::LeftButton);
    library->resize(400, 260);
    library->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(library.get()));
    QScrollArea *area = library->findChild<QScrollArea *>();
    ASSERT_NE(area, nullptr);
    ASSERT_GT(area->verticalScrollBar()->maximum(), 0) << "the list must be longer than the tab";
    area->verticalScrollBar()->setValue(area->verticalScrollBar()->maximum());
    QApplication::processEvents();

    const QList<int> order = library->thumbnailOrder();
    ASSERT_EQ(order.size(), library->items().size());
    EXPECT_EQ(QSet<int>(order.begin(), order.end()).size(), order.size()) << "every row once";
    const QRect onScreen(QPoint(0, area->verticalScrollBar()->value()), area->viewport()->size());
    int onScreenCount = 0;
    for (const presetItem *item : library->items())
        onScreenCount += !item->isHidden() && item->geometry().intersects(onScreen);
    ASSERT_GT(onScreenCount, 0);
    ASSERT_LT(onScreenCount, order.size());
    for (int i = 0; i < order.size(); ++i) {
        const presetItem *item = library->itemById(order[i]);
        EXPECT_EQ(item->geometry().intersects(onScreen), i < onScreenCount) << item->displayedName().toStdString();
    }
    EXPECT_EQ(order.first(), library->items()[library->items().size() - onScreenCount]->getId())
        << "in list order on screen";
}

TEST_F(presetLibraryTest, setAndResetTheDefault)
{
    programOptionsSettings options;
    options.misc.defaultToneMappingSettings = builtIn + "/default.lmsx";
    optionsInstance = &options;

    const auto trigger = [](presetItem *item, const QString &text) {
        for (QAction *a : item->tile()->contextMenu()->actions())
            if (a->text() == text)
                a->trigger();
    };
    trigger(byName("Vivid"), "Set as default");
    EXPECT_EQ(options.misc.defaultToneMappingSettings, builtIn + "/Vivid.lmsx");
    EXPECT_EQ(host.loaded, QStringList{"Vivid.lmsx"});
    presetItem *entry = byName("default");
    EXPECT_EQ(entry->getFilePath(), builtIn + "/Vivid.lmsx");
    EXPECT_EQ(entry->tile()->toolTip(), builtIn + "/Vivid.lmsx");
    EXPECT_NEAR(entry->settings.gamma, 2.2, 1e-6); // the current layer after the load
    EXPECT_EQ(host.appliedId, PRESET_ID_DEFAULT);
    EXPECT_TRUE(entry->property("imageItemSelected").toBool());

    trigger(entry, "Reset default");
    EXPECT_EQ(options.misc.defaultToneMappingSettings, builtIn + "/default.lmsx");
    EXPECT_EQ(host.loaded.last(), QString("default.lmsx"));
    EXPECT_EQ(entry->getFilePath(), builtIn + "/default.lmsx");
    library.reset();
    optionsInstance = nullptr;
}
