#include "widgets/styleSheet.h"

#include "widgets/widgetSupport.h"

#include <QFile>
#include <QHash>
#include <algorithm>
#include <cmath>
#include <utility>

namespace {

int roundHalfUp(double x)
{
    return static_cast<int>(x + 0.5);
}

// Dark colour -> Bright colour; every other colour goes through colorLighten.
const QHash<QString, QString> &brightColorTable()
{
    static const QHash<QString, QString> table = {
        {"#c8c8c8", "#e8e8e8"}, {"#c0c0c0", "#080808"}, {"#686868", "#787878"}, {"#b1b1b1", "#111111"},
        {"#707070", "#808080"}, {"#888888", "#585858"}, {"#f0f0f0", "#080808"}, {"#a0a0a0", "#808080"},
        {"#98d098", "#105018"}, {"#92c292", "#105018"}, {"#a8a8a8", "#282828"}, {"#606060", "#505050"},
        {"#a8f0a8", "#288028"}, {"#504040", "#c0a0a0"}, {"#d4d4d4", "#101010"}, {"#c08080", "#e09090"},
        {"#c080c0", "#e090e0"}, {"#446c50", "#b2dbb5"}, {"#40634c", "#add9b2"}, {"#9090d0", "#255070"},
        {"#b06060", "#823030"}, {"#60a060", "#306525"}, {"#b0b060", "#a07015"}, {"#588058", "#588058"},
    };
    return table;
}

const std::pair<const char *, const char *> brightImageNames[] = {
    {"check.png", "check2.png"},
    {"check-disabled.png", "check-disabled2.png"},
    {"check-selected.png", "check-selected2.png"},
    {"menu-right-arrow.png", "menu-right-arrow2.png"},
    {"menu-right-arrow-disabled.png", "menu-right-arrow-disabled2.png"},
    {"menu-right-arrow-selected.png", "menu-right-arrow-selected2.png"},
    {"down_arrow.png", "down_arrow2.png"},
    {"down_arrow_disabled.png", "down_arrow_disabled2.png"},
    {"down_arrow_hover.png", "down_arrow_hover2.png"},
    {"up_arrow.png", "up_arrow2.png"},
    {"up_arrow_disabled.png", "up_arrow_disabled2.png"},
    {"left_arrow.png", "left_arrow2.png"},
    {"left_arrow_disabled.png", "left_arrow_disabled2.png"},
    {"right_arrow.png", "right_arrow2.png"},
    {"right_arrow_disabled.png", "right_arrow_disabled2.png"},
};

void brightenColors(QString &text)
{
    const QHash<QString, QString> &table = brightColorTable();
    int pos = text.indexOf('#');
    while (pos >= 0) {
        const QString candidate = text.mid(pos, 7);
        if (candidate.size() == 7) {
            const QColor c(candidate);
            const QString canonical = c.isValid() ? c.name() : QString();
            // Only six-digit colours qualify: selectors such as "#mainTab" and
            // three-digit colours are left alone.
            if (!canonical.isEmpty() && canonical.compare(candidate, Qt::CaseInsensitive) == 0) {
                const auto it = table.constFind(canonical);
                const QString replacement = it != table.constEnd() ? *it : colorLighten(c, 1).name();
                text.replace(pos, 7, replacement);
            }
        }
        pos = text.indexOf('#', pos + 1);
    }
}

} // namespace

QString buildStyleSheet(const QString &sheet, double s, int skin)
{
    QString text = sheet;

    // Font sizes of fonts with a family ("11px \"Segoe UI, Tahoma\""): first
    // to markers, so that a scaled size is never scaled again.
    static const struct {
        const char *size;
        const char *marker;
        int px;
    } fonts[] = {{"9px \"", "Apx \"", 9}, {"11px \"", "Bpx \"", 11}, {"12px \"", "Cpx \"", 12}, {"14px \"", "Dpx \"", 14}};
    for (const auto &f : fonts)
        text.replace(QLatin1String(f.size), QLatin1String(f.marker));
    for (const auto &f : fonts)
        text.replace(QLatin1String(f.marker), QString::number(roundHalfUp(f.px * s)) + "px \"");

    const std::pair<const char *, double> tokens[] = {
        {"SLIDER_HANDLE_MARGIN", 6},      {"SLIDER_HANDLE_WIDTH", 19}, {"TOOLBUTTON_SIZE", 24},
        {"COMBOBOX_ITEM_MAX_HEIGHT", 14}, {"STRONG_FONT_SIZE", 14},    {"COMBOBOX_ITEM_ICON_WIDTH", 19},
    };
    for (const auto &t : tokens)
        text.replace(QLatin1String(t.first), QString::number(static_cast<int>(t.second * s)));

    if (skin == 1) {
        brightenColors(text);
        for (const auto &img : brightImageNames)
            text.replace(QLatin1String(img.first), QLatin1String(img.second));
    }
    return text;
}

QString buildStyleSheet(const QString &sheet)
{
    return buildStyleSheet(sheet, widgetSupport::uiScale(), widgetSupport::activeSkin());
}

QColor colorLighten(const QColor &color, int skin)
{
    if (skin != 1)
        return color;
    if (color.hsvSaturationF() < 0.05) {
        const QColor l = color.lighter(200);
        return QColor::fromRgbF(std::pow(l.redF(), 0.6), std::pow(l.greenF(), 0.6), std::pow(l.blueF(), 0.6));
    }
    const double hue = std::max(0.0, color.hsvHueF());
    return QColor::fromHsvF(std::min(1.0, 0.9 * hue), std::min(1.0, 0.5 * color.hsvSaturationF()),
                            std::min(1.0, 1.7 * color.valueF()), 1.0);
}

QColor colorLighten(const QColor &color)
{
    return colorLighten(color, widgetSupport::activeSkin());
}

QString readStyleSheetTemplate(const QString &programFolder)
{
    initWidgetResources();
    QFile local(programFolder + "/style1.css");
    QFile builtIn(":/resources/style1.css");
    QFile &file = (!programFolder.isEmpty() && local.exists()) ? local : builtIn;
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    QByteArray bytes = file.readAll();
    const int nul = bytes.indexOf('\0');
    if (nul >= 0)
        bytes.truncate(nul);
    return QString::fromUtf8(bytes);
}
