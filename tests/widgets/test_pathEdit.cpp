#include "testSupport.h"
#include "widgetTestSupport.h"
#include "widgets/fileDialogs.h"
#include "widgets/pathEdit.h"

#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>

namespace {

const QString notValid = "Not a valid file name or file type.";
const QString createFolder = "The directory doesn't exist! Do you want to create it?";
const QString cannotCreate = "The directory cannot be created!";
const QString replaceFile = "File already exists. Do you want to replace it?";
const QString missingFile = "File does not exist.";

QString nat(const QString &p)
{
    return QDir::toNativeSeparators(p);
}

struct checkCase_t {
    const char *name;
    bool directoryMode;
    bool openMode;
    int kind;
    const char *path;          // relative to the case folder; "<missing>" = a folder that does not exist
    std::vector<int> answers;  // answers of the boxes, in order
    bool accepted;
    std::vector<const char *> boxes;
};

} // namespace

TEST(pathEdit, checksTable)
{
    const checkCase_t cases[] = {
        {"hdrKindRefusesJpeg", false, false, 2, "out.jpg", {}, false, {"Not a valid file name or file type."}},
        {"hdrKindAcceptsExrAnyCase", false, false, 2, "out.EXR", {}, true, {}},
        {"settingsKindRefusesTif", false, false, 1, "out.tif", {}, false, {"Not a valid file name or file type."}},
        {"anyKindAcceptsAnySuffix", false, false, 0, "out.abc", {}, true, {}},
        {"anyKindRefusesTrailingSeparator", false, false, 0, "sub/", {4}, false,
         {"The directory doesn't exist! Do you want to create it?", "Not a valid file name or file type."}},
        // Any kind: an existing folder is a name like any other (replace it?).
        {"anyKindExistingFolderAsked", false, false, 0, "existingDir", {4}, true,
         {"File already exists. Do you want to replace it?"}},
        {"overwriteDeclined", false, false, 2, "existing.exr", {8}, false,
         {"File already exists. Do you want to replace it?"}},
        {"overwriteAccepted", false, false, 2, "existing.exr", {4}, true,
         {"File already exists. Do you want to replace it?"}},
        {"overwriteBoxClosed", false, false, 2, "existing.exr", {0}, false,
         {"File already exists. Do you want to replace it?"}},
        {"openModeMissingFile", false, true, 1, "absent.lmsx", {}, false, {"File does not exist."}},
        {"openModeExistingFile", false, true, 1, "preset.lmsx", {}, true, {}},
        {"openModeMissingFolderSilently", false, true, 1, "<missing>/a.lmsx", {}, false, {}},
        {"createFolderDeclined", false, false, 2, "<missing>/a.exr", {8}, false,
         {"The directory doesn't exist! Do you want to create it?"}},
        // The missing folder is offered first, then the name is judged.
        {"missingFolderOfferedBeforeTheName", false, false, 2, "<missing>/a.jpg", {4}, false,
         {"The directory doesn't exist! Do you want to create it?", "Not a valid file name or file type."}},
        {"createFolderAccepted", false, false, 2, "<missing>/a.exr", {4}, true,
         {"The directory doesn't exist! Do you want to create it?"}},
        {"directoryModeExisting", true, false, 0, "existingDir", {}, true, {}},
        {"directoryModeCreates", true, false, 0, "<missing>/deeper", {4}, true,
         {"The directory doesn't exist! Do you want to create it?"}},
        {"directoryModeCannotCreate", true, false, 0, "existing.exr/below", {4}, false,
         {"The directory doesn't exist! Do you want to create it?", "The directory cannot be created!"}},
    };
    for (const checkCase_t &c : cases) {
        SCOPED_TRACE(c.name);
        const QString dir = testSupport::freshDir(c.name);
        QDir().mkpath(dir + "/existingDir");
        testSupport::writeFile(dir + "/existing.exr", "x");
        testSupport::writeFile(dir + "/preset.lmsx", "x");
        QString rel = c.path;
        rel.replace("<missing>", "missing");
        const QString full = dir + "/" + rel;

        std::deque<int> answers(c.answers.begin(), c.answers.end());
        messageRecorder recorder(answers);
        pathEdit edit(c.directoryMode, c.openMode, c.kind);
        QSignalSpy changed(&edit, &pathEdit::changed);
        EXPECT_EQ(edit.validatePath(full, false), c.accepted) << c.name;
        EXPECT_EQ(changed.count(), c.accepted ? 1 : 0) << c.name;
        EXPECT_EQ(edit.hasError(), !c.accepted) << c.name;
        QStringList expected;
        for (const char *b : c.boxes)
            expected << b;
        EXPECT_EQ(recorder.texts(), expected) << c.name;
        for (const recordedBox_t &b : recorder.boxes)
            EXPECT_EQ(b.buttons, b.kind == styledMessageBox::Confirmation ? 12 : 1) << c.name;
        if (c.accepted && QString(c.name).contains("Creat")) {
            EXPECT_TRUE(QFileInfo(c.directoryMode ? full : QFileInfo(full).absolutePath()).isDir()) << c.name;
        }
        if (QString(c.name) == "createFolderDeclined") {
            EXPECT_FALSE(QFileInfo::exists(dir + "/missing")) << c.name;
        }
        if (QString(c.name) == "missingFolderOfferedBeforeTheName") {
            EXPECT_TRUE(QFileInfo(dir + "/missing").isDir()) << c.name;
        }
    }
}

TEST(pathEdit, emptyPathIsAnErrorAndDontCheckAcceptsAnything)
{
    messageRecorder recorder;
    pathEdit edit(false, true, 2);
    EXPECT_TRUE(edit.hasError());  // an empty editor starts marked
    QSignalSpy changed(&edit, &pathEdit::changed);
    EXPECT_FALSE(edit.validatePath(QString(), false));
    EXPECT_TRUE(edit.lineEdit()->text().isEmpty());
    EXPECT_TRUE(edit.hasError());
    EXPECT_TRUE(edit.validatePath("/no/such/place/x.jpg", true));
    EXPECT_EQ(changed.count(), 1);
    EXPECT_FALSE(edit.hasError());
    EXPECT_EQ(edit.lineEdit()->text(), nat("/no/such/place/x.jpg"));
    EXPECT_TRUE(recorder.boxes.empty());
}

TEST(pathEdit, relativeNameBecomesAbsolute)
{
    messageRecorder recorder;
    const QString dir = testSupport::freshDir();
    const QString old = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(dir));
    pathEdit edit(false, false, 0);
    EXPECT_TRUE(edit.validatePath("result.tif", false));
    EXPECT_EQ(edit.lineEdit()->text(), nat(QFileInfo(dir + "/result.tif").absoluteFilePath()));
    EXPECT_EQ(edit.validPath(), nat(QFileInfo(dir + "/result.tif").absoluteFilePath()));
    QDir::setCurrent(old);
}

TEST(pathEdit, validPathIsEmptyWhenTheCheckFails)
{
    messageRecorder recorder;
    const QString dir = testSupport::freshDir();
    pathEdit edit(false, false, 2);
    edit.lineEdit()->setText(dir + "/x.png");
    EXPECT_EQ(edit.validPath(), QString());
    edit.lineEdit()->setText(dir + "/x.hdr");
    EXPECT_EQ(edit.validPath(), nat(dir + "/x.hdr"));
    EXPECT_EQ(edit.path(), nat(dir + "/x.hdr"));
}

TEST(pathEdit, typedPathReportsOneChangeAndRejectedNone)
{
    messageRecorder recorder;
    const QString dir = testSupport::freshDir();
    pathEdit edit(false, false, 2);
    edit.show();
    QSignalSpy changed(&edit, &pathEdit::changed);
    QTest::keyClicks(edit.lineEdit(), dir + "/typed.exr");
    QTest::keyClick(edit.lineEdit(), Qt::Key_Return);
    EXPECT_EQ(changed.count(), 1);
    // Leaving the field again without typing checks nothing and reports nothing.
    emit edit.lineEdit()->editingFinished();
    EXPECT_EQ(changed.count(), 1);

    edit.lineEdit()->clear();
    QTest::keyClicks(edit.lineEdit(), dir + "/typed.jpg");
    QTest::keyClick(edit.lineEdit(), Qt::Key_Return);
    EXPECT_EQ(changed.count(), 1);
    EXPECT_TRUE(edit.hasError());
    EXPECT_EQ(recorder.texts(), QStringList{notValid});
}

TEST(pathEdit, aBoxThatStealsFocusDoesNotOpenAnother)
{
    const QString dir = testSupport::freshDir();
    pathEdit edit(false, false, 2);
    edit.show();
    int boxes = 0;
    styledMessageBox::setMessageHook([&](int, const QString &, const QString &, int) {
        ++boxes;
        // The focus loss a real box causes ends the editing once more.
        edit.lineEdit()->setModified(true);
        emit edit.lineEdit()->editingFinished();
        return 4;
    });
    QSignalSpy changed(&edit, &pathEdit::changed);
    QTest::keyClicks(edit.lineEdit(), dir + "/new/out.exr");
    QTest::keyClick(edit.lineEdit(), Qt::Key_Return);
    styledMessageBox::setMessageHook({});
    EXPECT_EQ(boxes, 1);
    EXPECT_EQ(changed.count(), 1);
    EXPECT_TRUE(QFileInfo(dir + "/new").isDir());
}

TEST(pathEdit, browseChecksTheChosenPath)
{
    messageRecorder recorder({4});
    const QString dir = testSupport::freshDir();
    int dialogKind = -1;
    QString filter, start;
    fileDialogs::setHook([&](const fileDialogs::request_t &request) {
        dialogKind = int(request.kind);
        start = request.start;
        filter = request.filter;
        return QStringList{dir + "/chosen/folder"};
    });
    pathEdit edit(true, false, 0);
    edit.setStartFolder(dir);
    QSignalSpy changed(&edit, &pathEdit::changed);
    QMetaObject::invokeMethod(&edit, "browse", Q_ARG(bool, false));
    fileDialogs::setHook({});
    EXPECT_EQ(dialogKind, int(fileDialogs::dialogKind_t::folder));
    EXPECT_EQ(start, dir);
    EXPECT_EQ(changed.count(), 1);
    EXPECT_EQ(edit.path(), nat(dir + "/chosen/folder"));
    EXPECT_EQ(recorder.texts(), QStringList{createFolder});

    pathEdit hdr(false, false, 2);
    fileDialogs::setHook([&](const fileDialogs::request_t &request) {
        dialogKind = int(request.kind);
        filter = request.filter;
        return QStringList();  // cancelled
    });
    QSignalSpy hdrChanged(&hdr, &pathEdit::changed);
    QMetaObject::invokeMethod(&hdr, "browse", Q_ARG(bool, false));
    fileDialogs::setHook({});
    EXPECT_EQ(dialogKind, int(fileDialogs::dialogKind_t::saveFile));
    EXPECT_EQ(filter, QString("OpenEXR (*.exr);;Radiance RGBE (*.hdr);;32-bit TIFF (*.tif)"));
    EXPECT_EQ(hdrChanged.count(), 0);
}

