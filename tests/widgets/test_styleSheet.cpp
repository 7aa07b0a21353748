#include "app/programOptionsSettings.h"
#include "testSupport.h"
#include "widgets/styleSheet.h"

#include <QFile>
#include <QRegularExpression>
#include <QWidget>

namespace {

struct conversionCase_t {
    const char *name;
    const char *in;
    double scale;
    int skin;
    const char *out;
};

const conversionCase_t conversionCases[] = {
    {"font11At125", "font: 11px \"Segoe UI, Tahoma\";", 1.25, 0, "font: 14px \"Segoe UI, Tahoma\";"},
    {"font9At125", "font: 9px \"Segoe UI\";", 1.25, 0, "font: 11px \"Segoe UI\";"},
    {"font12At09", "font: bold 12px \"Segoe UI\";", 0.9, 0, "font: bold 11px \"Segoe UI\";"},
    {"font14At11", "font: 14px \"Segoe UI\";", 1.1, 0, "font: 15px \"Segoe UI\";"},
    // A scaled size is never scaled again (11 -> 12 must not turn into 13).
    {"noDoubleScaling", "a: 9px \"x\"; b: 11px \"x\";", 1.1, 0, "a: 10px \"x\"; b: 12px \"x\";"},
    {"borderNotScaled", "border: 11px solid #222222;", 1.25, 0, "border: 11px solid #222222;"},
    {"fontWithoutFamilyNotScaled", "font: bold 11px;", 1.25, 0, "font: bold 11px;"},
    {"handleWidth", "width: SLIDER_HANDLE_WIDTHpx;", 1.25, 0, "width: 23px;"},
    {"handleMargin", "margin: -SLIDER_HANDLE_MARGINpx -1px;", 1.25, 0, "margin: -7px -1px;"},
    {"toolButton", "width: TOOLBUTTON_SIZEpx;", 1.25, 0, "width: 30px;"},
    {"comboTokens", "COMBOBOX_ITEM_MAX_HEIGHTpx COMBOBOX_ITEM_ICON_WIDTHpx STRONG_FONT_SIZEpx", 1.2, 0,
     "16px 22px 16px"},
    {"darkKeepsColours", "color: #c0c0c0; border: #222222; image: url(:/resources/check.png);", 1.0, 0,
     "color: #c0c0c0; border: #222222; image: url(:/resources/check.png);"},
    {"brightTable", "color: #c0c0c0; background: #C8C8C8;", 1.0, 1, "color: #080808; background: #e8e8e8;"},
    {"brightGrey", "border: 1px solid #222222;", 1.0, 1, "border: 1px solid #737373;"},
    {"brightSelectorAndShortColour", "QTabWidget#mainTab { color: #fff; }", 1.0, 1,
     "QTabWidget#mainTab { color: #fff; }"},
    {"brightScanContinues", "#mainTab #a0a0a0", 1.0, 1, "#mainTab #808080"},
    {"brightImages", "url(down_arrow.png) url(down_arrow_disabled.png) url(check-selected.png) url(menu-right-arrow.png)",
     1.0, 1, "url(down_arrow2.png) url(down_arrow_disabled2.png) url(check-selected2.png) url(menu-right-arrow2.png)"},
};

void PrintTo(const conversionCase_t &c, std::ostream *os)
{
    *os << c.name;
}

class styleSheetConversion : public ::testing::TestWithParam<conversionCase_t>
{
};

} // namespace

TEST_P(styleSheetConversion, convertsForScaleAndSkin)
{
    const conversionCase_t &c = GetParam();
    EXPECT_EQ(buildStyleSheet(c.in, c.scale, c.skin).toStdString(), std::string(c.out));
}

INSTANTIATE_TEST_SUITE_P(table, styleSheetConversion, ::testing::ValuesIn(conversionCases),
                         [](const ::testing::TestParamInfo<conversionCase_t> &info) { return info.param.name; });

TEST(styleSheet, colorLightenRules)
{
    // Dark skin: unchanged.
    EXPECT_EQ(colorLighten(QColor("#28b253"), 0), QColor("#28b253"));
    // Grey: lighter(200), then each component to the power 0.6.
    EXPECT_EQ(colorLighten(QColor("#222222"), 1).name(), QString("#737373"));
    // Saturated: value x 1.7, saturation x 0.5, hue x 0.9 (each capped at 1).
    const QColor in("#28b253");
    const QColor out = colorLighten(in, 1);
    EXPECT_NEAR(out.valueF(), std::min(1.0, in.valueF() * 1.7), 0.01);
    EXPECT_NEAR(out.hsvSaturationF(), in.hsvSaturationF() * 0.5, 0.01);
    EXPECT_NEAR(out.hsvHueF(), in.hsvHueF() * 0.9, 0.01);
    // Unlisted sheet colours go through the same rule.
    EXPECT_EQ(buildStyleSheet("#28b253", 1.0, 1), out.name());
}

TEST(styleSheet, followsSettingsRecord)
{
    const QString fragment = "QLabel { color: #f0f0f0; }";
    ASSERT_EQ(optionsInstance, nullptr);
    EXPECT_EQ(buildStyleSheet(fragment), fragment);  // no record: Dark skin, scale 1
    programOptionsSettings options;
    options.activeSkin = 1;
    optionsInstance = &options;
    const QString bright = buildStyleSheet(fragment);
    const QColor defaultLabel = colorLighten(QColor(64, 64, 64));
    optionsInstance = nullptr;
    EXPECT_EQ(bright, QString("QLabel { color: #080808; }"));
    EXPECT_NE(defaultLabel, QColor(64, 64, 64));

    programOptionsSettings scaled;
    scaled.activeScale = 0;  // logical DPI / 96
    scaled.logicalDpiX = 120;
    optionsInstance = &scaled;
    const QString big = buildStyleSheet("font: 11px \"Segoe UI\"; width: TOOLBUTTON_SIZEpx;");
    optionsInstance = nullptr;
    EXPECT_EQ(big, QString("font: 14px \"Segoe UI\"; width: 30px;"));
}

namespace {
QStringList parseWarnings;
void collectWarnings(QtMsgType, const QMessageLogContext &, const QString &msg)
{
    parseWarnings << msg;
}
} // namespace

TEST(styleSheet, builtInSheetParsesAndItsImagesExistInBothSkins)
{
    const QString sheet = readStyleSheetTemplate(QString());
    ASSERT_GT(sheet.size(), 1000);
    EXPECT_TRUE(sheet.contains("SLIDER_HANDLE_WIDTHpx"));
    for (int skin : {0, 1}) {
        const QString built = buildStyleSheet(sheet, 1.25, skin);
        EXPECT_FALSE(built.contains("SLIDER_HANDLE")) << skin;
        const QRegularExpression url("url\\((:/resources/[^)]+)\\)");
        auto it = url.globalMatch(built);
        int images = 0;
        while (it.hasNext()) {
            const QString path = it.next().captured(1);
            EXPECT_TRUE(QFile::exists(path)) << path.toStdString() << " skin " << skin;
            ++images;
        }
        EXPECT_GT(images, 20);

        parseWarnings.clear();
        QtMessageHandler old = qInstallMessageHandler(collectWarnings);
        {
            QWidget w;
            w.setStyleSheet(built);
            w.ensurePolished();
        }
        qInstallMessageHandler(old);
        for (const QString &m : parseWarnings)
            EXPECT_FALSE(m.contains("parse", Qt::CaseInsensitive)) << m.toStdString();
    }
}

TEST(styleSheet, programFolderSheetWinsAndIsCutAtNul)
{
    const QString dir = testSupport::freshDir();
    QByteArray bytes("QWidget { color: #c0c0c0; }");
    bytes.append('\0');
    bytes.append("garbage after the end");
    ASSERT_TRUE(testSupport::writeFile(dir + "/style1.css", bytes));
    EXPECT_EQ(readStyleSheetTemplate(dir), QString("QWidget { color: #c0c0c0; }"));
    // Without a file beside the program the built-in sheet is used.
    EXPECT_TRUE(readStyleSheetTemplate(testSupport::freshDir("empty")).contains("windowFrame"));
}
