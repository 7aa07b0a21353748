#include "mainwindow/historyItem.h"

#include "widgets/styleSheet.h"

historyItem::historyItem(const QString &description, int layer, bool start, const processingParams_t &source,
                         QWidget *parent)
    : QLabel(rowText(description, layer), parent), descriptionText(description), layerIndex(layer), startingPoint(start)
{
    copyProcessingParams(&settings, &source);
    setState(STATE_CURRENT);
}

QString historyItem::rowText(const QString &description, int layer)
{
    const QString prefix = layer > 0 ? QStringLiteral("L%1:&nbsp;").arg(layer) : QString();
    return QStringLiteral("<html>&nbsp;") + prefix + description + QStringLiteral("&nbsp;</html>");
}

void historyItem::setState(int state)
{
    displayState = state;
    if (state == STATE_CURRENT)
        setStyleSheet(buildStyleSheet(QStringLiteral("QLabel { color: #f0f0f0; }")));
    else if (state == STATE_UNDONE)
        setStyleSheet(buildStyleSheet(
            QStringLiteral("QLabel { font: italic; color: #888888; } QLabel:hover { color: #f0f0f0; }")));
    else
        setStyleSheet(buildStyleSheet(QStringLiteral("QLabel:hover { color: #f0f0f0; }")));
}
