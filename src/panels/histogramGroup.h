#ifndef HISTOGRAMGROUP_H
#define HISTOGRAMGROUP_H

// The levels panel ("Histogram, black & white point"): hosts the levels
// editor and keeps the current layer's black and white points in step with
// it. The user drags the markers or types the share of pixels to clip at each
// end; the panel converts between the two through the layer's cumulative
// histogram. Two small check boxes float over the editor and switch the
// marking of under- and overexposed areas in the main view.

#include "panels/toolBox.h"

class QCheckBox;
class histogramTool;
class processingProject;
struct processingParams_t;

// The clip search: the black index is the first level whose cumulative share
// reaches b percent, the white index the last level (searching down) whose
// share is at most 100 - w percent; when they meet or cross, black is put one
// step below white (0 and 1 when both are 0). cumulative holds `count`
// non-decreasing percentages.
struct levelsClipIndices_t {
    int black = 0;
    int white = 0;
};
levelsClipIndices_t levelsClipSearch(const double *cumulative, int count, double b, double w);

class histogramGroup : public toolBox
{
    Q_OBJECT

public:
    histogramGroup(processingProject *project, const QString &title);

    void connectSignals(bool connect);
    // Shows a record's values in the controls with their signals blocked (a
    // loaded settings file, another layer); update(true) then writes them back.
    void showRecord(const processingParams_t &params);
    histogramTool *editor() const { return levels; }
    QCheckBox *underexposureMark() const { return under; }
    QCheckBox *overexposureMark() const { return over; }

    // Below this a clip percentage counts as "no clipping".
    static constexpr double CLIP_EPSILON = 0.0001;

signals:
    void histogramPointsMoved(QObject *s);
    void histogramPointsMovedWithData(double b, double w);
    void toggleMarkOverUnder(bool en1, bool en2);
    void newToHistory(QString txt);

public slots:
    void update(bool init);
    void update() { update(false); }
    void lockChange(bool set);
    void clipPercentageChangedSlot(double b, double w);
    void clipPointsChanged();
    void toggleMarkOverUnderSlot();
    void storeHistory();

protected:
    void enterEvent(QEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void applyDeferredChange(unsigned groups, bool announce, QObject *sender) override;

private:
    void applyClipPercentages(double b, double w, QObject *s);
    void applyPoints(bool init, QObject *s);

    histogramTool *levels;
    QCheckBox *under;
    QCheckBox *over;
    processingProject *project;
    double scale;
    // A typed clip change held back during a tone-mapping pass.
    bool deferredClip = false;
    double deferredBlack = 0.0;
    double deferredWhite = 0.0;
};

#endif // HISTOGRAMGROUP_H
