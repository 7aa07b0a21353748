#ifndef HISTORYITEM_H
#define HISTORYITEM_H

// One row of the History tab: the description of a change and a full copy of
// the settings of the layer it changed, taken when the row was made, with the
// layer's mask-undo counter that goes with it. GUI thread only.

#include "project/processingParams.h"

#include <QLabel>
#include <QString>

class historyItem : public QLabel
{
    Q_OBJECT

public:
    // Display states of setState.
    static const int STATE_CURRENT = 0;
    static const int STATE_UNDONE = 1;   // after the current row
    static const int STATE_BEFORE = -1;  // before the current row

    historyItem(const QString &description, int layer, bool startingPoint, const processingParams_t &settings,
                QWidget *parent = nullptr);

    // "<html>&nbsp;" + "L4:&nbsp;" (layers 1..9 only) + description + "&nbsp;</html>"
    static QString rowText(const QString &description, int layer);

    void setState(int state);
    int state() const { return displayState; }
    int layer() const { return layerIndex; }
    bool isStartingPoint() const { return startingPoint; }
    const QString &description() const { return descriptionText; }
    // An emptied row is a placeholder that the next addition removes.
    // The row's own switch (layer mode), whatever the tab around it shows.
    bool rowEnabled() const { return !testAttribute(Qt::WA_ForceDisabled); }
    bool isPlaceholder() const { return QLabel::text().isEmpty(); }

    processingParams_t settings;
    int maskUndoIndex = 0; // 0 = the mask as it was before any recorded change

private:
    QString descriptionText;
    int displayState = STATE_CURRENT;
    int layerIndex = 0;
    bool startingPoint = false;
};

#endif // HISTORYITEM_H
