// mainWindow: moving through the presets and the photo list with the arrow
// keys, jumping to a preset by its first letter, one filter panel open at a
// time, and the sampled colour in the status bar.

#include "mainwindow/mainWindow.h"

#include "documents/presetLibrary.h"
#include "panels/toolBox.h"
#include "project/processingProject.h"
#include "widgets/imageItem.h"
#include "widgets/presetItem.h"
#include "widgets/myQTabWidget.h"
#include "widgets/myScrollArea.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>

namespace {

// Keys typed in the presets list: arrows move to the neighbouring visible
// preset, a letter jumps to the first preset of that initial.
class presetKeyFilter : public QObject
{
public:
    explicit presetKeyFilter(mainWindow *window)
        : QObject(window), w(window)
    {
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() != QEvent::KeyPress)
            return QObject::eventFilter(watched, event);
        auto *key = static_cast<QKeyEvent *>(event);
        if (key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))
            return false;
        // Keys typed while a preset is being renamed stay in its name.
        if (qobject_cast<QLineEdit *>(QApplication::focusWidget()))
            return false;
        switch (key->key()) {
        case Qt::Key_Up:
        case Qt::Key_Left:
            w->switchPresetUp();
            return true;
        case Qt::Key_Down:
        case Qt::Key_Right:
            w->switchPresetDown();
            return true;
        default:
            break;
        }
        const QString text = key->text();
        if (text.size() == 1 && text.at(0).isLetterOrNumber()) {
            w->goToPreset(text.at(0));
            return true;
        }
        return false;
    }

private:
    mainWindow *w;
};

} // namespace

QString sampleValuesText(bool inImage, double r, double g, double b)
{
    // Per mille, truncated, shown as a percentage with one decimal.
    const int pr = int(r * 1000), pg = int(g * 1000), pb = int(b * 1000);
    const auto inRange = [](int v) { return v >= 0 && v <= 1000; };
    // Values far outside the range would not fit an int: test them first.
    const auto finite = [](double v) { return v > -1e6 && v < 1e6; };
    if (!inImage || !finite(r) || !finite(g) || !finite(b) || !inRange(pr) || !inRange(pg) || !inRange(pb))
        return QStringLiteral("[R:000.0%, G:000.0%, B:000.0%]  ");
    return QString::asprintf("[R:%05.1lf%%, G:%05.1lf%%, B:%05.1lf%%]  ", pr / 10.0, pg / 10.0, pb / 10.0);
}

void mainWindow::connectKeyboardNavigation()
{
    if (auto *photoArea = findChild<myScrollArea *>(QStringLiteral("photoListArea"))) {
        connect(photoArea, &myScrollArea::keyUp, this, &mainWindow::switchUp);
        connect(photoArea, &myScrollArea::keyLeft, this, &mainWindow::switchUp);
        connect(photoArea, &myScrollArea::keyDown, this, &mainWindow::switchDown);
        connect(photoArea, &myScrollArea::keyRight, this, &mainWindow::switchDown);
    }
}

void mainWindow::connectPresetKeys()
{
    if (!presets)
        return;
    auto *filter = new presetKeyFilter(this);
    if (auto *area = presets->findChild<QScrollArea *>())
        area->installEventFilter(filter);
}

// The presets list answers keys only where a preset would be applied to a
// picture: on the "Tone mapping" tab with the "Presets" tab shown and an
// HDR image ready.
bool mainWindow::presetKeysActive() const
{
    return presets && rightTab && rightTab->currentIndex() == 1 && leftTab && leftTab->currentIndex() == 0
           && hasImageToToneMap();
}

void mainWindow::switchPresetBy(int direction)
{
    if (!presetKeysActive())
        return;
    const QList<presetItem *> &rows = presets->items();
    int selected = -1;
    for (int i = 0; i < rows.size(); ++i)
        if (rows[i]->property("imageItemSelected").toBool()) {
            selected = i;
            break;
        }
    if (selected < 0)
        return;
    for (int i = selected + direction; i >= 0 && i < rows.size(); i += direction) {
        presetItem *row = rows[i];
        if (row->isHidden())
            continue;
        if (auto *area = presets->findChild<QScrollArea *>())
            area->ensureWidgetVisible(row, 0, 0);
        presets->presetItemChanged(row->getId(), false);
        return;
    }
}

void mainWindow::switchPresetUp()
{
    switchPresetBy(-1);
}

void mainWindow::switchPresetDown()
{
    switchPresetBy(1);
}

void mainWindow::goToPreset(QChar ch)
{
    if (!presetKeysActive())
        return;
    const QList<presetItem *> &rows = presets->items();
    const QChar wanted = ch.toLower();
    // The first three rows (default, last used, the neutral preset) are never
    // jump targets.
    for (int i = 3; i < rows.size(); ++i) {
        presetItem *row = rows[i];
        if (row->isHidden())
            continue;
        const QString name = row->displayedName();
        if (name.isEmpty() || name.at(0).toLower() != wanted)
            continue;
        if (auto *area = presets->findChild<QScrollArea *>(); area && area->widget()) {
            // The row's top at the top of the view.
            const int top = row->mapTo(area->widget(), QPoint(0, 0)).y();
            area->verticalScrollBar()->setValue(top);
        }
        presets->presetItemChanged(row->getId(), false);
        return;
    }
}

void mainWindow::connectPanelGroups()
{
    for (toolBox *panel : toneMappingPanels())
        if (panel)
            connect(panel, &toolBox::toggled, this, &mainWindow::rightTab_2_groupToggle);
    for (toolBox *panel : postProcessingPanels())
        if (panel)
            connect(panel, &toolBox::toggled, this, &mainWindow::rightTab_3_groupToggle);
}

// isOpen: whether the panel was open when its header was clicked.
void mainWindow::showPanelGroup(QWidget *page, toolBox *panel, bool isOpen)
{
    setUpdatesEnabled(false);
    panel->setOpened(!isOpen);
    setUpdatesEnabled(true);
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    if (auto *area = qobject_cast<QScrollArea *>(page))
        area->ensureWidgetVisible(panel, 0, 50);
}

void mainWindow::rightTab_2_groupToggle(toolBox *obj, bool isOpen)
{
    if (obj)
        showPanelGroup(toneMappingPage, obj, isOpen);
}

void mainWindow::rightTab_3_groupToggle(toolBox *obj, bool isOpen)
{
    if (!obj)
        return;
    // One filter panel open at a time.
    for (toolBox *other : postProcessingPanels())
        if (other && other != obj && other->isOpened())
            other->setClosedQuietly();
    showPanelGroup(postProcessingPage, obj, isOpen);
}

void mainWindow::switchPhotoBy(int direction)
{
    if (!rightTab || rightTab->currentIndex() != 0 || !imageLayout)
        return;
    int selected = -1;
    for (int i = 0; i < imageLayout->count(); ++i) {
        QWidget *w = imageLayout->itemAt(i)->widget();
        if (w && w->property("imageItemSelected").toBool()) {
            selected = i;
            break;
        }
    }
    if (selected < 0)
        return;
    const int next = selected + direction;
    if (next < 0 || next >= imageLayout->count())
        return;
    auto *row = qobject_cast<imageItem *>(imageLayout->itemAt(next)->widget());
    if (!row || row->isHidden())
        return;
    if (auto *photoArea = findChild<myScrollArea *>(QStringLiteral("photoListArea")))
        photoArea->ensureWidgetVisible(row);
    imageItemChanged(row->id());
}

void mainWindow::switchUp()
{
    switchPhotoBy(-1);
}

void mainWindow::switchDown()
{
    switchPhotoBy(1);
}

void mainWindow::showSampleValues(bool inImg, rgbDouble_t rgb, rgbDouble_t rgbHdr)
{
    Q_UNUSED(rgbHdr);
    if (sampleLabel)
        sampleLabel->setText(sampleValuesText(inImg, rgb.r, rgb.g, rgb.b));
}
