// The colour swatch with real Little CMS transforms between the program's
// stock profiles.

#include "project/processingProject.h"
#include "widgets/colorSample.h"

#include "testSupport.h"

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QSignalSpy>
#include <QTest>
#include <lcms2.h>

namespace {

// A working-space -> display transform and its inverse between two stock
// profiles, made as the project makes its own.
struct transformPair {
    cmsHPROFILE working = nullptr;
    cmsHPROFILE display = nullptr;
    cmsHTRANSFORM toDisplay = nullptr;
    cmsHTRANSFORM fromDisplay = nullptr;

    transformPair(const char *workingFile, const char *displayFile)
    {
        working = open(workingFile);
        display = open(displayFile);
        if (!working || !display)
            return;
        toDisplay = cmsCreateTransform(working, TYPE_RGB_8, display, TYPE_RGB_8, INTENT_RELATIVE_COLORIMETRIC,
                                       cmsFLAGS_NOCACHE);
        fromDisplay = cmsCreateTransform(display, TYPE_RGB_8, working, TYPE_RGB_8, INTENT_RELATIVE_COLORIMETRIC,
                                         cmsFLAGS_NOCACHE);
    }
    ~transformPair()
    {
        for (cmsHTRANSFORM t : {toDisplay, fromDisplay})
            if (t)
                cmsDeleteTransform(t);
        for (cmsHPROFILE p : {working, display})
            if (p)
                cmsCloseProfile(p);
    }
    bool valid() const { return toDisplay && fromDisplay; }
    static cmsHPROFILE open(const char *file)
    {
        const QString path = processingProject::stockProfilePath(QString::fromLatin1(file));
        return cmsOpenProfileFromFile(QFile::encodeName(path).constData(), "r");
    }
    QColor run(cmsHTRANSFORM t, const QColor &c) const
    {
        const unsigned char in[3] = {uchar(c.red()), uchar(c.green()), uchar(c.blue())};
        unsigned char out[3] = {};
        cmsDoTransform(t, in, out, 1);
        return QColor(out[0], out[1], out[2]);
    }
};

QColor shownColor(colorSample &swatch, int field)
{
    swatch.resize(60, 24);
    const QImage img = swatch.grab().toImage();
    const int x = field == 0 ? (swatch.isDual() ? 15 : 30) : 45;
    return QColor(img.pixel(x, 12));
}

} // namespace

TEST(colorSample, withoutColourManagementColoursPassUnchanged)
{
    colorSample swatch(false, false);
    EXPECT_EQ(swatch.primaryColor(), QColor(Qt::black));
    const QColor c(12, 200, 77, 128);
    EXPECT_EQ(swatch.colorTransformToDisplay(c), c);
    EXPECT_EQ(swatch.colorTransformFromDisplay(c), c);
    swatch.setColor(true, c, QColor(1, 2, 3));
    EXPECT_EQ(swatch.primaryColor(), c);
    EXPECT_EQ(swatch.primaryDisplayColor(), c);
    EXPECT_EQ(swatch.secondaryColor(), QColor(1, 2, 3));
    EXPECT_EQ(shownColor(swatch, 0), QColor(12, 200, 77));
}

TEST(colorSample, styleSheetAlwaysHasSixHexDigits)
{
    EXPECT_EQ(colorSample::fieldStyleSheet(QColor(0, 0, 0)),
              "QLabel { background-color: #000000; } QLabel:disabled { background-color: #383838; };");
    EXPECT_TRUE(colorSample::fieldStyleSheet(QColor(10, 171, 255)).startsWith("QLabel { background-color: #0aabff; }"));
}

TEST(colorSample, equalProfilesShowTheSameColour)
{
    transformPair same("sRGB.icm", "sRGB.icm");
    ASSERT_TRUE(same.valid());
    colorSample plain(false, false), managed(false, false);
    managed.setDisplayTransforms(same.toDisplay, same.fromDisplay);
    const QColor colours[] = {QColor(0, 0, 0), QColor(255, 255, 255), QColor(200, 100, 50), QColor(17, 240, 130)};
    for (const QColor &c : colours) {
        plain.setColor(false, c, c);
        managed.setColor(false, c, c);
        const QColor a = managed.primaryDisplayColor();
        EXPECT_LE(std::abs(a.red() - c.red()) + std::abs(a.green() - c.green()) + std::abs(a.blue() - c.blue()), 1)
            << c.name().toStdString();
        EXPECT_EQ(managed.primaryColor(), c);
    }
}

TEST(colorSample, otherDisplayProfileShowsTheTransformedColour)
{
    transformPair pair("sRGB.icm", "WideGamutRGB.icc");
    ASSERT_TRUE(pair.valid());
    colorSample swatch(false, true);
    swatch.setDisplayTransforms(pair.toDisplay, pair.fromDisplay);
    const QColor working(200, 60, 40), second(30, 160, 220);
    swatch.setColor(false, working, second);
    const QColor expected = pair.run(pair.toDisplay, working);
    ASSERT_NE(expected, working); // the profiles really differ
    EXPECT_EQ(swatch.primaryColor(), working);
    EXPECT_EQ(swatch.primaryDisplayColor(), expected);
    EXPECT_EQ(swatch.secondaryDisplayColor(), pair.run(pair.toDisplay, second));
    EXPECT_EQ(shownColor(swatch, 0), expected);
    EXPECT_EQ(shownColor(swatch, 1), swatch.secondaryDisplayColor());

    // A colour picked on screen is taken back into the working space first.
    swatch.setColor(true, expected, expected);
    const QColor back = pair.run(pair.fromDisplay, expected);
    EXPECT_EQ(swatch.primaryColor(), back);
    EXPECT_LE(std::abs(back.red() - working.red()), 2);
    EXPECT_EQ(swatch.primaryDisplayColor(), pair.run(pair.toDisplay, back));
    // Alpha survives the conversion.
    EXPECT_EQ(swatch.colorTransformToDisplay(QColor(200, 60, 40, 90)).alpha(), 90);
}

TEST(colorSample, singleSwatchHidesItsSecondColourAndDisabledIsDark)
{
    colorSample single(false, false);
    single.setColor(false, QColor(250, 0, 0), QColor(0, 0, 250));
    EXPECT_EQ(single.secondaryColor(), QColor(0, 0, 250));
    single.resize(60, 24);
    const QImage img = single.grab().toImage();
    EXPECT_EQ(QColor(img.pixel(45, 12)), QColor(250, 0, 0)); // the primary fills the swatch
    single.setEnabled(false);
    EXPECT_EQ(shownColor(single, 0), QColor(0x38, 0x38, 0x38));
}

TEST(colorSample, onlyAClickableSwatchReportsClicks)
{
    for (bool clickable : {true, false}) {
        colorSample swatch(clickable, false);
        swatch.resize(60, 24);
        swatch.show();
        QSignalSpy spy(&swatch, &colorSample::clicked);
        QTest::mouseClick(&swatch, Qt::LeftButton, Qt::NoModifier, QPoint(2, 2));
        // A click on the colour field reaches the swatch as well, with any button.
        QWidget *field = swatch.childAt(30, 12);
        ASSERT_NE(field, nullptr);
        QTest::mouseClick(field, Qt::RightButton, Qt::NoModifier, QPoint(3, 3));
        EXPECT_EQ(spy.count(), clickable ? 2 : 0);
        EXPECT_EQ(swatch.cursor().shape(), clickable ? Qt::PointingHandCursor : Qt::ArrowCursor);
    }
}
