#include "widgets/clickableLabel.h"
#include "widgets/presetItem.h"

#include "widgetTestSupport.h"

#include <QLineEdit>
#include <QMenu>
#include <QSignalSpy>
#include <QTest>

TEST(presetItem, thumbnailSizeFollowsTheRowWidth)
{
    presetItem row(nullptr, 3, false, "/p/look.lmsx", "look");
    row.setFixedWidth(200);
    row.show();
    QApplication::processEvents();

    // Portrait: the tile is 180 high, the caption takes the row width less 20.
    QImage portrait(60, 90, QImage::Format_RGB32);
    portrait.fill(qRgb(200, 40, 20));
    row.setThumbnail(&portrait, 0, 0);
    EXPECT_TRUE(row.hasThumbnail());
    EXPECT_EQ(row.tile()->size(), QSize(120, 180));
    EXPECT_EQ(row.nameLabel()->width(), 180);
    // The tile shows the picture itself.
    const QImage shown = row.tile()->grab().toImage();
    EXPECT_EQ(QColor(shown.pixel(shown.width() / 2, shown.height() / 2)), QColor(200, 40, 20));

    // Landscape: 180 wide, the caption as wide as the tile.
    QImage landscape(300, 200, QImage::Format_RGB32);
    landscape.fill(Qt::gray);
    row.setThumbnail(&landscape, 0, 0);
    EXPECT_EQ(row.tile()->size(), QSize(180, 120));
    EXPECT_EQ(row.nameLabel()->width(), 180);

    // Without an image: a placeholder of the given size, no picture.
    row.setThumbnail(nullptr, 148, 111);
    EXPECT_FALSE(row.hasThumbnail());
    EXPECT_EQ(row.tile()->size(), QSize(180, 135));
    EXPECT_TRUE(row.tile()->pixmap(Qt::ReturnByValue).isNull());
}

TEST(presetItem, namesOfSpecialAndUserRows)
{
    const struct
    {
        const char *name;
        int id;
        bool builtIn;
        const char *path;
        bool bold;
        bool clickable;
    } cases[] = {
        {"lastUsed", PRESET_ID_LAST_USED, true, "/u/___last.lmsx", true, false},
        {"none", PRESET_ID_BUILTIN_BASE + 1, true, "/b/None.lmsx", true, false},
        {"builtIn", PRESET_ID_BUILTIN_BASE + 2, true, "/b/Vivid.lmsx", false, false},
        {"user", 4, false, "/u/mine.lmsx", false, true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        presetItem row(nullptr, c.id, c.builtIn, c.path, "x");
        EXPECT_EQ(row.nameLabel()->styleSheet().contains("bold"), c.bold);
        EXPECT_EQ(row.nameLabel()->styleSheet().contains("italic"), c.clickable);
        EXPECT_EQ(row.nameLabel()->findChild<userIcon *>() != nullptr, c.clickable);
        EXPECT_TRUE(row.isHidden());
    }
}

TEST(presetItem, clickingTheNameOfAUserPresetStartsRenaming)
{
    presetItem row(nullptr, 5, false, "/u/folder/mine.lmsx", "mine");
    row.show();
    QSignalSpy renamed(&row, &presetItem::itemRenamed);
    QTest::mouseClick(row.nameLabel(), Qt::LeftButton);
    ASSERT_FALSE(row.nameEditor()->isHidden());
    EXPECT_TRUE(row.nameLabel()->isHidden());
    row.nameEditor()->setText("yours");
    QTest::keyClick(row.nameEditor(), Qt::Key_Return);
    ASSERT_EQ(renamed.count(), 1);
    EXPECT_EQ(renamed[0][0].toInt(), 5);
    EXPECT_EQ(renamed[0][1].toString(), QString("yours"));
    EXPECT_FALSE(row.nameLabel()->isHidden());
    // The library applies the rename once the file is renamed.
    row.applyRename("yours");
    EXPECT_EQ(row.getFilePath(), QString("/u/folder/yours.lmsx"));
    EXPECT_EQ(row.displayedName(), QString("yours"));

    // A left click on the tile applies the preset, and opens no menu.
    QSignalSpy selected(&row, &presetItem::itemSelected);
    QTest::mouseClick(row.tile(), Qt::LeftButton);
    EXPECT_EQ(selected.count(), 1);
    EXPECT_FALSE(row.tile()->contextMenu()->isVisible());
}
