// mainWindow: moving through the photo list with the arrow keys and the
// sampled colour in the status bar.

#include "mainwindow/mainWindow.h"

#include "project/processingProject.h"
#include "widgets/imageItem.h"
#include "widgets/myQTabWidget.h"
#include "widgets/myScrollArea.h"

#include <QLabel>
#include <QVBoxLayout>

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
