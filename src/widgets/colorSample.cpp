#include "widgets/colorSample.h"

#include "widgets/styleSheet.h"

#include <QHBoxLayout>
#include <QLabel>
#include <cstdio>

colorSample::colorSample(bool isClickable, bool isDual) : QFrame(nullptr), clickable(isClickable), dual(isDual)
{
    setFrameStyle(QFrame::StyledPanel | QFrame::Plain);
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(1, 1, 1, 1);
    layout->setSpacing(0);
    primaryField = new QLabel(this);
    secondaryField = new QLabel(this);
    layout->addWidget(primaryField);
    layout->addWidget(secondaryField);
    if (clickable)
        setCursor(Qt::PointingHandCursor);
    secondaryField->setVisible(dual);
}

QString colorSample::fieldStyleSheet(const QColor &displayColor)
{
    char digits[8];
    std::snprintf(digits, sizeof digits, "%02hhx%02hhx%02hhx", static_cast<unsigned char>(displayColor.red()),
                  static_cast<unsigned char>(displayColor.green()), static_cast<unsigned char>(displayColor.blue()));
    // The disabled grey follows the skin; the colour itself is never converted.
    const QString disabled = colorLighten(QColor(0x38, 0x38, 0x38)).name().mid(1);
    return QStringLiteral("QLabel { background-color: #%1; } QLabel:disabled { background-color: #%2; };")
        .arg(QString::fromLatin1(digits), disabled);
}

QColor colorSample::transform(cmsHTRANSFORM t, const QColor &color) const
{
    // Without a display transform there is no colour management at all.
    if (!toDisplayTransform || !t)
        return color;
    const unsigned char in[3] = {static_cast<unsigned char>(color.red()), static_cast<unsigned char>(color.green()),
                                 static_cast<unsigned char>(color.blue())};
    unsigned char out[3] = {in[0], in[1], in[2]};
    cmsDoTransform(t, in, out, 1);
    QColor result(out[0], out[1], out[2]);
    result.setAlpha(color.alpha());
    return result;
}

QColor colorSample::colorTransformToDisplay(QColor color) const
{
    return transform(toDisplayTransform, color);
}

QColor colorSample::colorTransformFromDisplay(QColor color) const
{
    return transform(fromDisplayTransform, color);
}

void colorSample::setDisplayTransforms(cmsHTRANSFORM toDisplay, cmsHTRANSFORM fromDisplay)
{
    toDisplayTransform = toDisplay;
    fromDisplayTransform = fromDisplay;
}

void colorSample::setColor(bool fromDisplay, QColor first, QColor second)
{
    if (fromDisplay) {
        first = colorTransformFromDisplay(first);
        second = colorTransformFromDisplay(second);
    }
    const QColor firstShown = colorTransformToDisplay(first);
    const QColor secondShown = colorTransformToDisplay(second);
    primaryField->setStyleSheet(fieldStyleSheet(firstShown));
    secondaryField->setStyleSheet(fieldStyleSheet(secondShown));
    primary = first;
    secondary = second;
    primaryDisplay = firstShown;
    secondaryDisplay = secondShown;
}

void colorSample::mouseReleaseEvent(QMouseEvent *event)
{
    if (clickable)
        emit clicked();
    QFrame::mouseReleaseEvent(event);
}
