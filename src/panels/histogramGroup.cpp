#include "panels/histogramGroup.h"

#include "app/debugLog.h"
#include "panels/histogramTool.h"
#include "panels/panelSupport.h"
#include "project/processingProject.h"

#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QVBoxLayout>

#include <algorithm>

namespace {

enum { POINTS_GROUP = 1, CLIP_GROUP = 2 };

// cum[trunc(point * (count - 1))] with the index kept inside the table.
double cumulativeAt(const double *cum, int count, double point)
{
    const int i = std::clamp(int(point * (count - 1)), 0, count - 1);
    return cum[i];
}

} // namespace

levelsClipIndices_t levelsClipSearch(const double *cum, int count, double b, double w)
{
    levelsClipIndices_t r;
    r.black = 0;
    for (int i = 0; i < count; ++i) {
        if (cum[i] >= b) {
            r.black = i;
            break;
        }
    }
    r.white = 0;
    for (int n = count - 1; n >= 0; --n) {
        if (100.0 - w >= cum[n]) {
            r.white = n;
            break;
        }
    }
    if (r.black >= r.white) {
        if (r.black > 0)
            r.black = std::max(r.white - 1, 0);
        else if (r.white == 0)
            r.white = 1;
    }
    return r;
}

histogramGroup::histogramGroup(processingProject *project, const QString &title)
    : toolBox(title, false, false), project(project), scale(uiScale())
{
    auto *layout = new QVBoxLayout(body());
    layout->setContentsMargins(0, 0, 0, 0);
    levels = new histogramTool;
    under = new QCheckBox(this);
    over = new QCheckBox(this);
    for (QCheckBox *box : {under, over}) {
        box->setFocusPolicy(Qt::NoFocus);
        box->setFixedWidth(int(19 * scale));
        box->hide();
    }
    under->setToolTip(tr("Mark underexposed areas"));
    over->setToolTip(tr("Mark overexposed areas"));
    layout->addWidget(levels);
    connectSignals(true);
}

void histogramGroup::connectSignals(bool connect)
{
    if (!connect) {
        levels->disconnect(this);
        under->disconnect(this);
        over->disconnect(this);
        return;
    }
    QObject::connect(under, &QCheckBox::clicked, this, &histogramGroup::toggleMarkOverUnderSlot);
    QObject::connect(over, &QCheckBox::clicked, this, &histogramGroup::toggleMarkOverUnderSlot);
    QObject::connect(levels, &histogramTool::pointsChanged, this, &histogramGroup::clipPointsChanged);
    QObject::connect(levels, &histogramTool::clipPercentageChanged, this,
                     &histogramGroup::clipPercentageChangedSlot);
    QObject::connect(levels, &histogramTool::clipPercentageChanged, this, &histogramGroup::storeHistory);
    QObject::connect(levels, &histogramTool::lockChanged, this, &histogramGroup::lockChange);
    QObject::connect(levels, &histogramTool::pointsMoved, this, qOverload<>(&histogramGroup::update));
    QObject::connect(levels, &histogramTool::pointsMoved, this, &histogramGroup::storeHistory);
    QObject::connect(levels, &histogramTool::lockChangedHistory, this, &histogramGroup::storeHistory);
    if (liveToneMapping())
        QObject::connect(levels, &histogramTool::pointsMovedLive, this, qOverload<>(&histogramGroup::update));
}

void histogramGroup::resizeEvent(QResizeEvent *event)
{
    toolBox::resizeEvent(event);
    under->move(int(8 * scale), int(25 * scale));
    over->move(int(width() - 23 * scale), int(25 * scale));
}

void histogramGroup::enterEvent(QEvent *event)
{
    toolBox::enterEvent(event);
    if (isEnabled()) {
        under->show();
        over->show();
    }
}

void histogramGroup::leaveEvent(QEvent *event)
{
    toolBox::leaveEvent(event);
    const bool keep = under->isChecked() || over->isChecked();
    under->setVisible(keep);
    over->setVisible(keep);
}

void histogramGroup::showRecord(const processingParams_t &params)
{
    const QSignalBlocker blockEditor(levels);
    const QSignalBlocker blockBlack(levels->blackClipSpinBox());
    const QSignalBlocker blockWhite(levels->whiteClipSpinBox());
    if (levels->isLocked() != params.autoClipping)
        levels->lockClicked(false, true);
    levels->blackClipSpinBox()->setValue(params.blackPoint);
    levels->whiteClipSpinBox()->setValue(params.whitePoint);
    levels->clipTooltip(params.blackPoint, params.whitePoint);
    levels->setClipPoints(false, params.blackPointValue, params.whitePointValue);
}

void histogramGroup::toggleMarkOverUnderSlot()
{
    emit toggleMarkOverUnder(under->isChecked(), over->isChecked());
}

void histogramGroup::clipPercentageChangedSlot(double b, double w)
{
    QObject *s = sender();
    if (deferWhileToneMapping(CLIP_GROUP, false, s)) {
        deferredClip = true;
        deferredBlack = b;
        deferredWhite = w;
        return;
    }
    applyClipPercentages(b, w, s);
}

void histogramGroup::applyClipPercentages(double b, double w, QObject *s)
{
    processingParams_t *p = panelSupport::currentRecord(project);
    p->blackPoint = p->clippedBelow = b;
    p->whitePoint = p->clippedAbove = w;
    levels->clipTooltip(b, w);
    const double *cum = p->cumulative[0];
    if (!cum) {
        debugLog("histogramGroup::clipPercentageChangedSlot: no cumulative histogram\n");
        return;
    }
    const levelsClipIndices_t idx = levelsClipSearch(cum, PP_HISTOGRAM_SIZE, b, w);
    const double last = PP_HISTOGRAM_SIZE - 1;
    if (!p->autoClipping && b < CLIP_EPSILON && w < CLIP_EPSILON) {
        p->blackPointValue = 0.0;
        p->whitePointValue = 1.0;
    } else {
        if (b >= CLIP_EPSILON)
            p->blackPointValue = idx.black / last;
        if (w >= CLIP_EPSILON)
            p->whitePointValue = idx.white / last;
        if (b < CLIP_EPSILON || w < CLIP_EPSILON) {
            debugLog("disableAutoClipping\n");
            emit project->disableAutoClipping();
        }
    }
    p->clippedBelow = cumulativeAt(cum, PP_HISTOGRAM_SIZE, p->blackPointValue);
    p->clippedAbove = 100.0 - cumulativeAt(cum, PP_HISTOGRAM_SIZE, p->whitePointValue);
    levels->setClipPoints(true, p->blackPointValue, p->whitePointValue);
    emit histogramPointsMoved(s);
    emit histogramPointsMovedWithData(levels->blackPoint(), levels->whitePoint());
}

void histogramGroup::clipPointsChanged()
{
    emit histogramPointsMovedWithData(levels->blackPoint(), levels->whitePoint());
}

void histogramGroup::lockChange(bool set)
{
    processingParams_t *p = panelSupport::currentRecord(project);
    p->autoClipping = set;
    if (p->blackPoint < CLIP_EPSILON)
        p->clippedBelow = CLIP_EPSILON;
    if (p->whitePoint < CLIP_EPSILON)
        p->clippedAbove = CLIP_EPSILON;
    if (set) {
        p->blackPoint = p->clippedBelow;
        p->whitePoint = p->clippedAbove;
        levels->clipTooltip(p->blackPoint, p->whitePoint);
    }
}

void histogramGroup::update(bool init)
{
    QObject *s = sender();
    if (deferWhileToneMapping(POINTS_GROUP, init, s)) {
        // A later marker drag supersedes a typed clip change held back before it.
        if (!init)
            deferredClip = false;
        return;
    }
    applyPoints(init, s);
}

void histogramGroup::applyPoints(bool init, QObject *s)
{
    processingParams_t *p = panelSupport::currentRecord(project);
    if (init)
        levels->setClipPoints(false, p->blackPointValue, p->whitePointValue);
    p->blackPointValue = levels->blackPoint();
    p->whitePointValue = levels->whitePoint();
    if (init)
        return;
    if (const double *cum = p->cumulative[0]) {
        p->clippedBelow = cumulativeAt(cum, PP_HISTOGRAM_SIZE, p->blackPointValue);
        p->clippedAbove = 100.0 - cumulativeAt(cum, PP_HISTOGRAM_SIZE, p->whitePointValue);
    }
    p->blackPoint = p->clippedBelow;
    p->whitePoint = p->clippedAbove;
    levels->clipTooltip(p->blackPoint, p->whitePoint);
    {
        const QSignalBlocker blockBlack(levels->blackClipSpinBox());
        const QSignalBlocker blockWhite(levels->whiteClipSpinBox());
        levels->blackClipSpinBox()->setValue(p->clippedBelow);
        levels->whiteClipSpinBox()->setValue(p->clippedAbove);
    }
    emit histogramPointsMoved(s);
    emit histogramPointsMovedWithData(levels->blackPoint(), levels->whitePoint());
}

void histogramGroup::applyDeferredChange(unsigned groups, bool announce, QObject *s)
{
    if (!announce) {
        applyPoints(true, s);
    } else if (deferredClip) {
        applyClipPercentages(deferredBlack, deferredWhite, s);
    } else if (groups & POINTS_GROUP) {
        applyPoints(false, s);
    }
    deferredClip = false;
}

void histogramGroup::storeHistory()
{
    QString text;
    if (sender() == levels)
        text = QString("%1").arg(tr("Histogram, black && white point").replace("&&", "&"));
    emit newToHistory(text);
}
