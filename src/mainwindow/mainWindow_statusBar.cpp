// mainWindow: the four tool bars, the status bar widgets and the progress
// display that polls the shared progress counter.

#include "mainwindow/mainWindow.h"
#include "mainwindow/myProgressBar.h"

#include "app/debugLog.h"
#include "app/sharedFlags.h"
#include "app/startParams.h"
#include "app/utils.h"
#include "project/processingProject.h"
#include "widgets/zoomWidget.h"

#include <QAction>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStatusBar>
#include <QStyle>
#include <QStyleOptionProgressBar>
#include <QTimer>
#include <QToolBar>
#include <cmath>

QSize myProgressBar::sizeHint() const
{
    QStyleOptionProgressBar opt;
    initStyleOption(&opt);
    const QFontMetrics fm = fontMetrics();
    const int chunk = std::max(9, style()->pixelMetric(QStyle::PM_ProgressBarChunkWidth, &opt, this));
    QSize size(chunk * 7 + fm.horizontalAdvance(QLatin1Char('0')) * 4, fm.height() + 8);
    if (orientation() == Qt::Vertical)
        size = size.transposed();
    size = style()->sizeFromContents(QStyle::CT_ProgressBar, &opt, size, this);
    size.setWidth(5000);
    return size;
}

int progressPercent(uint64_t counter, uint64_t maximum)
{
    if (maximum == 0)
        maximum = 1;
    // In 128 bits: counter * 100 cannot overflow for any 64-bit count.
    const unsigned __int128 value = static_cast<unsigned __int128>(counter) * 100 / maximum;
    return int(std::min<unsigned __int128>(value, 100));
}

QString imageSizeText(int width, int height)
{
    const double megapixels = double(int64_t(width) * int64_t(height)) / 1000000.0;
    return QString("%1x%2 [%3 MPix]").arg(width).arg(height).arg(megapixels, 0, 'f', 1);
}

void mainWindow::createToolBars()
{
    auto make = [this](const QString &title, const char *name) {
        QToolBar *bar = addToolBar(title);
        bar->setObjectName(name);
        return bar;
    };
    fileToolBar = make(tr("File"), "fileToolBar");
    fileToolBar->addActions({newAct, addAct, removeAct});
    fileToolBar->addSeparator();
    fileToolBar->addAction(generateHdrAct);
    fileToolBar->addSeparator();
    fileToolBar->addActions({saveAct, saveAsAct, externalEditorAct, copyAct});
    fileToolBar->addSeparator();
    fileToolBar->addAction(batchAct);

    viewToolBar = make(tr("View"), "viewToolBar");
    viewToolBar->addActions({splitAct, beforeAct, resultAct});

    settingsToolBar = make(tr("Tone mapping settings"), "settingsToolBar");
    settingsToolBar->addActions({undoAct, redoAct, defaultSettingsAct});

    miscToolBar = make(tr("Miscellaneous"), "miscToolBar");
    miscToolBar->addAction(layersAct);
}

void mainWindow::createStatusWidgets()
{
    QStatusBar *bar = statusBar();
    auto spacer = [&] { bar->addWidget(new QLabel("  ", bar), 0); };

    zoom = new zoomWidget(" " + tr("Zoom") + ":", true);
    zoom->setObjectName("zoomWidget");
    bar->addWidget(zoom, 0);
    spacer();

    auto *profiles = new QWidget(bar);
    auto *profilesLayout = new QHBoxLayout(profiles);
    profilesLayout->setContentsMargins(0, 0, 0, 0);
    profilesLayout->setSpacing(1);
    auto makeProfileButton = [&](const char *icon, const char *name) {
        auto *b = new QPushButton(QString(), profiles);
        b->setObjectName(name);
        b->setIcon(makeColoredIcon(icon));
        b->setFixedWidth(int(std::lround(24 * uiScale)));
        b->setFocusPolicy(Qt::NoFocus);
        profilesLayout->addWidget(b);
        return b;
    };
    photoProfileButton = makeProfileButton(":/resources/cm_photo.png", "photoProfileButton");
    monitorProfileButton = makeProfileButton(":/resources/cm_monitor.png", "monitorProfileButton");
    bar->addWidget(profiles, 0);
    spacer();

    sampleLabel = new QLabel("[R:000%, G:000%, B:000%]  ", bar);
    sampleLabel->setObjectName("sampleLabel");
    bar->addWidget(sampleLabel, 0);
    dimensionsCaption = new QLabel(tr("Dimensions") + ":", bar);
    bar->addWidget(dimensionsCaption, 0);
    dimensionsLabel = new QLabel("0x0", bar);
    dimensionsLabel->setObjectName("dimensionsLabel");
    bar->addWidget(dimensionsLabel, 0);
    spacer();

    panoramaMark = new QLabel(bar);
    const int markSize = int(15.6 * uiScale);
    panoramaMark->setPixmap(makeColoredIcon(":/resources/panorama.png").pixmap(markSize, markSize));
    panoramaMark->setScaledContents(true);
    panoramaMark->setFixedSize(markSize, markSize);
    panoramaMark->setEnabled(false);
    panoramaMark->setToolTip(tr("Panorama mode"));
    panoramaMark->hide();
    bar->addWidget(panoramaMark, 0);
    spacer();

    progressBar = new myProgressBar(bar);
    progressBar->setObjectName("progressBar");
    progressBar->setMaximum(100);
    progressBar->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Maximum);
    progressBar->setMinimumWidth(int(50 * uiScale));
    progressBar->hide();
    bar->addWidget(progressBar, 0);

    breakButton = new QPushButton(tr("Break"), bar);
    breakButton->setObjectName("breakButton");
    breakButton->setFocusPolicy(Qt::NoFocus);
    breakButton->hide();
    bar->addWidget(breakButton, 0);
    connect(breakButton, &QPushButton::clicked, this, &mainWindow::requestBreak);

    bar->setFixedHeight(int(27 * uiScale));

    progressTimer = new QTimer(this);
    progressTimer->setInterval(250);
    connect(progressTimer, &QTimer::timeout, this, &mainWindow::updateProgress);
}

void mainWindow::startProgress(uint64_t max, bool useBreak)
{
    progressBar->setValue(0);
    progressBar->show();
    const bool batch = project && project->batchRunning;
    breakButton->setVisible(useBreak && !batch && !startParams.autoProcess);
    progressCounter = 0;
    progressMax = max == 0 ? 1 : max;
    progressBar->setTextVisible(true);
    progressTimer->start();
}

void mainWindow::updateProgress()
{
    progressBar->setValue(progressPercent(progressCounter.load(std::memory_order_relaxed), progressMax));
}

void mainWindow::finishProgress()
{
    progressTimer->stop();
    progressBar->hide();
    breakButton->hide();
    breakButton->setEnabled(true);
    breakFlag = false;
    progressBar->setValue(0);
    progressBar->setTextVisible(false);
    progressCounter = 0;
}

void mainWindow::requestBreak()
{
    debugLog("%s\n", "mainWindow::requestBreak");
    breakFlag = true;
    breakButton->setEnabled(false);
}

void mainWindow::showImageSize()
{
    dimensionsLabel->setText(project ? imageSizeText(project->width, project->height) : QString("0x0"));
}
