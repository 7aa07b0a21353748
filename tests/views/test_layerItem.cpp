// One layer row on its own: thumbnail geometry, the opacity strip's pixels,
// the base row's restrictions, renaming (empty names and names longer than a
// project file holds) and the hover state with its opacity slider.

#include "app/programOptionsSettings.h"
#include "documents/projectFile.h"
#include "testSupport.h"
#include "views/layerItem.h"
#include "widgets/clickableLabel.h"
#include "widgets/slider.h"

#include <QApplication>
#include <QCheckBox>
#include <QPropertyAnimation>
#include <QDoubleSpinBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QSignalSpy>
#include <QTest>
#include <memory>

namespace {

// Types text key by key (QTest's key clicks take ASCII only).
void typeText(QWidget *w, const QString &text)
{
    for (const QChar ch : text) {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(ch));
        QApplication::sendEvent(w, &press);
        QKeyEvent release(QEvent::KeyRelease, Qt::Key_unknown, Qt::NoModifier, QString(ch));
        QApplication::sendEvent(w, &release);
    }
}

class layerItemTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        saved = optionsInstance;
        options.reset(new programOptionsSettings);
        options->devicePixelRatio = 1.0;
        optionsInstance = options.get();
    }
    void TearDown() override { optionsInstance = saved; }

    // Grey value of each column of the row's opacity strip.
    static std::vector<int> stripColumns(layerItem &row)
    {
        const QImage strip = row.opacityStrip()->pixmap(Qt::ReturnByValue).toImage();
        std::vector<int> v;
        for (int x = 0; x < strip.width(); ++x)
            v.push_back(qRed(strip.pixel(x, 1)));
        return v;
    }

    std::unique_ptr<programOptionsSettings> options;
    programOptionsSettings *saved = nullptr;
};

TEST_F(layerItemTest, ThumbnailFitsTheFrame)
{
    struct {
        int w, h, W, H, container;
    } cases[] = {
        {100, 100, 110, 110, 113}, // square: the height branch
        {148, 111, 110, 82, 110},  // landscape
        {60, 120, 55, 110, 113},   // portrait
        {1000, 3, 110, 0, -1},     // too flat: geometry kept
    };
    for (const auto &c : cases) {
        EXPECT_EQ(layerThumbnailSize(c.w, c.h), QSize(c.W, c.H)) << c.w << "x" << c.h;
        if (c.container < 0)
            continue;
        layerItem row(nullptr, nullptr, 1, QStringLiteral("Layer 1"), 0);
        row.setThumbnail(nullptr, c.w, c.h);
        EXPECT_EQ(row.thumbnail()->size(), QSize(c.W, c.H));
        EXPECT_EQ(row.opacityStrip()->size(), QSize(c.W, 3));
        EXPECT_EQ(row.nameContainer()->width(), c.container);
        EXPECT_FALSE(row.hasThumbnail());
    }
}

TEST_F(layerItemTest, OpacityStripShowsTheOpacity)
{
    layerItem row(nullptr, nullptr, 2, QStringLiteral("Layer 2"), 0);
    row.setThumbnail(nullptr, 100, 100); // strip 110 wide
    QSignalSpy changed(&row, qOverload<int>(&layerItem::opacityChanged));
    struct {
        double opacity;
        int filled;
    } cases[] = {{1.0, 110}, {0.1, 11}, {0.5, 55}};
    for (const auto &c : cases) {
        row.opacitySlider()->setValue(c.opacity);
        const std::vector<int> v = stripColumns(row);
        ASSERT_EQ(v.size(), 110u);
        for (int x = 0; x < 110; ++x)
            ASSERT_EQ(v[size_t(x)], x < c.filled ? 128 : 48) << c.opacity << " column " << x;
    }
    ASSERT_GE(changed.count(), 2);
    EXPECT_EQ(changed.last().at(0).toInt(), 2);
    EXPECT_EQ(layerOpacityColumns(104, 0.1), 11); // 10.4 > x for x = 0..10
}

TEST_F(layerItemTest, BaseRowHasNoMenuNoEnableBoxAndNoRenaming)
{
    layerItem base(nullptr, nullptr, 0, QStringLiteral("Base image"), 0);
    EXPECT_EQ(base.thumbnail()->contextMenu(), nullptr);
    EXPECT_EQ(base.enableBox(), nullptr);
    EXPECT_TRUE(base.nameField()->styleSheet().contains(QStringLiteral("bold")));
    base.show();
    base.enterRenameMode();
    EXPECT_TRUE(base.renameField()->isHidden());
    QTest::mouseClick(base.thumbnail(), Qt::RightButton);
    EXPECT_TRUE(base.thumbnail()->toolTip().isEmpty());

    layerItem layer(nullptr, nullptr, 4, QStringLiteral("Layer 4"), 0);
    ASSERT_NE(layer.thumbnail()->contextMenu(), nullptr);
    QStringList texts;
    for (QAction *a : layer.thumbnail()->contextMenu()->actions())
        texts << (a->isSeparator() ? QStringLiteral("-") : a->text());
    EXPECT_EQ(texts.join(QLatin1Char(' ')), QStringLiteral("Rename - Invert Copy Clear - Import Export - Remove"));
    EXPECT_EQ(layer.thumbnail()->toolTip(), QStringLiteral("Layer 4"));
    ASSERT_NE(layer.enableBox(), nullptr);
    EXPECT_TRUE(layer.enableBox()->isChecked());

    QSignalSpy selected(&layer, &layerItem::itemSelected);
    QSignalSpy removed(&layer, &layerItem::removeItem);
    QSignalSpy inverted(&layer, qOverload<int>(&layerItem::invertItem));
    QTest::mouseClick(layer.thumbnail(), Qt::LeftButton);
    layer.thumbnail()->removeAction()->trigger();
    layer.thumbnail()->invertAction()->trigger();
    ASSERT_EQ(selected.count(), 1);
    EXPECT_EQ(selected.at(0).at(0).toInt(), 4);
    ASSERT_EQ(removed.count(), 1);
    EXPECT_EQ(removed.at(0).at(0).toInt(), 4);
    EXPECT_EQ(inverted.count(), 1);
}

TEST_F(layerItemTest, RenamingKeepsTheOldNameWhenEmptyAndFitsTheProjectFile)
{
    layerItem row(nullptr, nullptr, 1, QStringLiteral("Layer 1"), 0);
    row.show();
    QSignalSpy renamed(&row, &layerItem::itemRenamed);

    row.nameField()->clicked();
    EXPECT_FALSE(row.renameField()->isHidden());
    EXPECT_TRUE(row.nameField()->isHidden());
    row.renameField()->clear();
    emit row.renameField()->editingFinished();
    EXPECT_EQ(row.getLabelText(), QStringLiteral("Layer 1"));
    EXPECT_EQ(row.renameField()->text(), QStringLiteral("Layer 1"));
    EXPECT_EQ(renamed.count(), 0);
    EXPECT_TRUE(row.renameField()->isHidden());

    // Typed text stops where the project file's 31-byte field ends: 31 ASCII
    // characters, or 15 two-byte characters.
    struct {
        QString typed, kept;
    } cases[] = {
        {QString(40, QLatin1Char('a')), QString(31, QLatin1Char('a'))},
        {QString(20, QChar(0x00e9)), QString(15, QChar(0x00e9))},
    };
    for (const auto &c : cases) {
        row.enterRenameMode();
        row.renameField()->clear();
        typeText(row.renameField(), c.typed);
        EXPECT_EQ(row.renameField()->text(), c.kept);
        emit row.renameField()->editingFinished();
        EXPECT_EQ(row.getLabelText(), c.kept);
        EXPECT_LE(row.getLabelText().toUtf8().size(), layerNameMaxBytes());
    }
    ASSERT_EQ(renamed.count(), 2);
    EXPECT_EQ(layerNameMaxBytes(), PROJECT_FILE_LAYER_NAME_BYTES - 1); // the project file's field
    EXPECT_EQ(renamed.at(0).at(0).toInt(), 1);
}

TEST_F(layerItemTest, HoverShowsTheSliderAndFadesTheThumbnail)
{
    layerItem row(nullptr, nullptr, 3, QStringLiteral("Layer 3"), 0);
    row.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&row));
    QEvent enter(QEvent::Enter);
    QApplication::sendEvent(&row, &enter);
    EXPECT_TRUE(row.isHovered());
    EXPECT_TRUE(row.opacitySlider()->isVisible());
    EXPECT_FALSE(row.opacityStrip()->isVisible());
    EXPECT_TRUE(row.hoverStrip()->isVisible());
    EXPECT_EQ(row.fadeAnimation()->direction(), QAbstractAnimation::Forward);
    EXPECT_EQ(row.fadeAnimation()->endValue().toDouble(), 0.2);
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(&row, &leave);
    EXPECT_FALSE(row.opacitySlider()->isVisible());
    EXPECT_TRUE(row.opacityStrip()->isVisible());
    EXPECT_EQ(row.fadeAnimation()->direction(), QAbstractAnimation::Backward);

    layerItem base(nullptr, nullptr, 0, QStringLiteral("Base image"), 0);
    base.show();
    QApplication::sendEvent(&base, &enter);
    EXPECT_FALSE(base.opacitySlider()->isVisible());
}

TEST_F(layerItemTest, ExportNames)
{
    const QString dir = testSupport::freshDir();
    EXPECT_EQ(layerMaskExportProposal(dir, QStringLiteral("Sky")), dir + QStringLiteral("/Sky"));
    EXPECT_EQ(layerMaskExportProposal(dir + QStringLiteral("/gone"), QStringLiteral("Sky")), QStringLiteral("Sky"));
    EXPECT_EQ(layerMaskExportName(QStringLiteral("/a/b.PNG")), QStringLiteral("/a/b.PNG"));
    EXPECT_EQ(layerMaskExportName(QStringLiteral("/a/b")), QStringLiteral("/a/b.png"));
    EXPECT_EQ(layerMaskExportName(QStringLiteral("/a/b.tif")), QStringLiteral("/a/b.tif.png"));
}

} // namespace
