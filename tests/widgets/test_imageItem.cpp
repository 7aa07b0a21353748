// The photo-list row: exposure text, EXIF tooltip, the include box crossing
// the thumbnail out, the selection bar, and the row's own thumbnail copy.

#include "project/photoInfo.h"
#include "testSupport.h"
#include "widgets/imageItem.h"
#include "widgets/slider.h"

#include <QAction>
#include <QResizeEvent>
#include <QSignalSpy>
#include <QApplication>
#include <cstring>

namespace {

photoInfo_t samplePhoto(int id, QImage *thumb)
{
    photoInfo_t p;
    p.id = id;
    p.filePath = "/photos/bracket/IMG_0001.JPG";
    std::strcpy(p.exif.make, "Canon");
    std::strcpy(p.exif.model, "EOS 550D");
    std::strcpy(p.exif.dateTime, "2015:08:21 09:11:58");
    p.exif.exposureTime = 0.004f;
    p.exif.exposureNumerator = 10;
    p.exif.exposureDenominator = 2500;
    p.exif.iso = 200;
    p.exif.fNumber = 4.5f;
    p.exif.exposureBias = -2.0f;
    p.exif.focalLength = 18;
    p.exif.focalLength35 = 29;
    p.ev = 1.25;
    p.thumbnail = thumb;
    return p;
}

QImage greyImage(int w, int h)
{
    QImage image(w, h, QImage::Format_RGB888);
    image.fill(QColor(128, 128, 128));
    return image;
}

} // namespace

TEST(imageItemExposureText, fractionsAndDecimals)
{
    struct row_t {
        double t;
        int n, d;
        const char *text;
    } rows[] = {
        {0.004, 10, 2500, "1/250 s"},
        {0.6667, 2, 3, "0.67 s"},   // 1/1 lies outside t +- 5 %
        {0.99, 99, 100, "1/1 s"},   // 1/1 within 5 % of 0.99
        {1.0, 1, 1, "1.0 s"},       // n = d: decimal
        {30.0, 30, 1, "30.0 s"},
        {0.0005, 0, 0, "0.00050 s"},
        {0.005, 0, 0, "0.0050 s"},
        {0.05, 0, 0, "0.050 s"},
        {0.5, 0, 0, "0.50 s"},
        {0.004, 1, 300, "0.0040 s"}, // 1/300 more than 5 % from 0.004
    };
    for (const row_t &r : rows)
        EXPECT_EQ(formatExposureTime(r.t, r.n, r.d), QString(r.text)) << r.t << " " << r.n << "/" << r.d;
}

TEST(imageItemRow, ordinaryPhotoShowsFactsSliderAndTooltip)
{
    QImage thumb = greyImage(160, 100);
    const photoInfo_t p = samplePhoto(7, &thumb);
    imageItem row(0, &p);
    EXPECT_TRUE(row.property("imageItem").toBool());
    ASSERT_NE(row.includeBox, nullptr);
    EXPECT_TRUE(row.includeBox->isChecked());
    EXPECT_EQ(row.includeBox->text(), "IMG_0001.JPG");
    EXPECT_EQ(row.includeBox->toolTip(), p.filePath);
    ASSERT_NE(row.evSlider, nullptr);
    EXPECT_EQ(row.evSlider->decimals(), 2);
    EXPECT_EQ(row.nameLabel, nullptr);
    QStringList facts;
    for (QLabel *l : row.exifLabels) {
        EXPECT_TRUE(l->property("exifLabel").toBool());
        facts << l->text();
    }
    EXPECT_EQ(facts, (QStringList{"1/250 s", "ISO 200", "F 4.5", "-2.00"}));
    const QString tip = row.thumbnail->toolTip();
    EXPECT_TRUE(tip.startsWith("<b><font size='4'><i>IMG_0001.JPG</i></font></b><br>")) << tip.toStdString();
    for (const char *part : {"<b>Camera: </b>Canon EOS 550D<br>", "<b>Exposure time: </b>1/250 s<br>",
                             "<b>ISO: </b>200<br>", "<b>F-number: </b>4.5<br>", "<b>AEB EV: </b>-2.00<br>",
                             "<b>Timestamp: </b>2015:08:21 09:11:58<br>",
                             "<b>Focal length: </b>18 mm (35mm equivalent: 29 mm)<br>"})
        EXPECT_TRUE(tip.contains(part)) << part;
    EXPECT_TRUE(tip.contains("<b>Light source: </b>")) << "last line";
    EXPECT_FALSE(tip.endsWith("<br>"));
    // 80 logical pixels wide, height in proportion.
    EXPECT_EQ(row.thumbnail->width(), 80);
    EXPECT_EQ(row.thumbnail->height(), 50);
    EXPECT_EQ(row.beforeAction->property("id").toInt(), 7);
    EXPECT_TRUE(row.beforeAction->isCheckable());
}

TEST(imageItemRow, keepsItsOwnThumbnailAndNoProjectBuffers)
{
    auto *thumb = new QImage(greyImage(160, 100));
    photoInfo_t p = samplePhoto(3, thumb);
    uint16_t fakePreview[3] = {};
    p.preview = fakePreview;
    imageItem row(0, &p);
    // The project frees its buffers; the row must not depend on them.
    delete thumb;
    p.thumbnail = nullptr;
    EXPECT_EQ(row.record().thumbnail, nullptr);
    EXPECT_EQ(row.record().preview, nullptr);
    row.includeBox->setChecked(false); // redraws from the row's own copy
    EXPECT_FALSE(row.shownThumbnail().isNull());
}

TEST(imageItemRow, uncheckingCrossesOutAndReportsTheState)
{
    QImage thumb = greyImage(160, 100);
    const photoInfo_t p = samplePhoto(5, &thumb);
    imageItem row(0, &p);
    QSignalSpy spy(&row, &imageItem::itemStateChanged);
    const QImage before = row.shownThumbnail().toImage();
    row.includeBox->setChecked(false);
    ASSERT_EQ(spy.count(), 1);
    EXPECT_EQ(spy[0][0].toInt(), 5);
    EXPECT_EQ(spy[0][1].toInt(), 0);
    const QImage crossed = row.shownThumbnail().toImage();
    // The diagonal is red now, a corner far from both lines is unchanged.
    const QColor centre = crossed.pixelColor(crossed.width() / 2, crossed.height() / 2);
    EXPECT_GT(centre.red(), centre.green() + 40);
    EXPECT_EQ(crossed.pixelColor(crossed.width() / 2, 1), before.pixelColor(before.width() / 2, 1));
    row.includeBox->setChecked(true);
    ASSERT_EQ(spy.count(), 2);
    EXPECT_EQ(spy[1][1].toInt(), 2);
    EXPECT_EQ(row.shownThumbnail().toImage().pixelColor(crossed.width() / 2, crossed.height() / 2),
              before.pixelColor(before.width() / 2, before.height() / 2));
}

TEST(imageItemRow, selectionBarOnlyForTheSelectedRow)
{
    QImage thumb = greyImage(160, 100);
    const photoInfo_t p = samplePhoto(1, &thumb);
    imageItem row(0, &p);
    row.resize(700, 60);
    QResizeEvent resize(QSize(700, 60), QSize(600, 60));
    QApplication::sendEvent(&row, &resize);
    EXPECT_TRUE(row.styleSheet().isEmpty()) << "unselected rows keep their style";
    row.setProperty("imageItemSelected", true);
    QApplication::sendEvent(&row, &resize);
    EXPECT_TRUE(row.styleSheet().contains("x1: 0, y1: 0, x2: 1, y2: 0")) << row.styleSheet().toStdString();
    EXPECT_TRUE(row.styleSheet().contains("stop: 0.01 #189243, stop: 0.011 #505050"));
    row.mirrored = true;
    QApplication::sendEvent(&row, &resize);
    EXPECT_TRUE(row.styleSheet().contains("x1: 1, y1: 0, x2: 0, y2: 0"));
}

TEST(imageItemRow, hdrEntryAndDeghostingRows)
{
    photoInfo_t p;
    p.id = imageItem::HDR_ITEM_ID;
    p.filePath = "/out/merged.hdr";
    imageItemMarks_t hdr;
    hdr.hdrEntry = true;
    imageItem hdrRow(0, &p, nullptr, hdr);
    EXPECT_EQ(hdrRow.includeBox, nullptr);
    EXPECT_EQ(hdrRow.evSlider, nullptr);
    EXPECT_EQ(hdrRow.thumbnail->toolTip(), "HDR");
    hdr.hdrUpToDate = false;
    imageItem stale(0, &p, nullptr, hdr);
    ASSERT_NE(stale.nameLabel, nullptr);
    EXPECT_EQ(stale.nameLabel->text(), "Parameters were changed, HDR image is not up-to-date");
    EXPECT_FALSE(stale.nameLabel->isVisibleTo(&stale));
    QSignalSpy notice(&stale, &imageItem::hdrParamsChangedClicked);
    emit stale.nameLabel->clicked();
    EXPECT_EQ(notice.count(), 1);

    // Deghosting list: a name label, an EV caption and a colour mark; a
    // release anywhere on the row selects it.
    p.id = 4;
    p.filePath = "/photos/a.jpg-lmpx";
    p.ev = -1.5;
    imageItem ghostRow(1, &p);
    ASSERT_NE(ghostRow.nameLabel, nullptr);
    EXPECT_EQ(ghostRow.nameLabel->text(), "a.jpg");
    EXPECT_NE(ghostRow.colorMark, nullptr);
    ASSERT_EQ(ghostRow.exifLabels.size(), 1);
    EXPECT_EQ(ghostRow.exifLabels.first()->text(), "EV -1.50");
    QSignalSpy selected(&ghostRow, &imageItem::itemSelected);
    QMouseEvent release(QEvent::MouseButtonRelease, QPointF(2, 2), Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(&ghostRow, &release);
    ASSERT_EQ(selected.count(), 1);
    EXPECT_EQ(selected[0][0].toInt(), 4);
    imageItemMarks_t eraser;
    eraser.eraserMarker = true;
    imageItem marked(1, &p, nullptr, eraser);
    EXPECT_EQ(marked.colorMark, nullptr);
    EXPECT_TRUE(marked.thumbnail->toolTip().isEmpty()) << "no EXIF tooltip with an icon marker";
}
