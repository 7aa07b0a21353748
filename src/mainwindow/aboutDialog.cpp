#include "mainwindow/aboutDialog.h"

#include "app/debugLog.h"
#include "app/programOptionsSettings.h"
#include "hdr/lensfunDb.h"
#include "hdrdialogs/rawLoadOptions.h"
#include "imageio/exiftoolDaemon.h"
#include "mainwindow/mainWindow.h"
#include "project/processingProject.h"
#include "widgets/styleSheet.h"
#include "widgets/styledMessageBox.h"
#include "widgets/widgetSupport.h"

#include <QCoreApplication>
#include <QFile>
#include <QHBoxLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QShortcut>
#include <QTextEdit>
#include <QVBoxLayout>

#include <OpenEXR/openexr_base.h>
#include <lcms2.h>

namespace {

const int ABOUT_WIDTH = 560;
const double LOGO_OPACITY = 0.85;
const char *const RELEASE_DATE = "12.2017";
const char *const INFO_STYLE = "QLabel { background-color: #505050; }";
const char *const CREDIT_LINK_STYLE = "color: #a8f0a8;";

struct credit_t {
    const char *name;
    const char *address;
    const char *remark; // translated
};

const credit_t CREDITS[] = {
    {"Qt", "https://www.qt.io/", QT_TRANSLATE_NOOP("about", "library, used under the LGPL")},
    {"Lensfun", "https://lensfun.github.io/", QT_TRANSLATE_NOOP("about", "lens database")},
    {"dcraw", "https://www.dechifro.org/dcraw/", QT_TRANSLATE_NOOP("about", "RAW decoder")},
    {"LibRaw", "https://www.libraw.org/", QT_TRANSLATE_NOOP("about", "RAW decoding library")},
    {"ExifTool", "https://exiftool.org/", QT_TRANSLATE_NOOP("about", "EXIF transfer")},
    {"Little CMS", "https://www.littlecms.com/", QT_TRANSLATE_NOOP("about", "color management library")},
    {"OpenEXR", "https://openexr.com/", QT_TRANSLATE_NOOP("about", "library")},
    {"FAST", "https://www.edwardrosten.com/work/fast.html", QT_TRANSLATE_NOOP("about", "corner detector")},
    {"zlib", "https://zlib.net/", QT_TRANSLATE_NOOP("about", "library")},
    {"Lumidra", "https://lumidra.org/", QT_TRANSLATE_NOOP("about", "icon set")},
};

struct translation_t {
    const char *language;
    const char *version;
    const char *translator;
};

const translation_t TRANSLATIONS[] = {
    {"Deutsch", "3.11", "Lumidra team"},
    {"English", "3.11", "Lumidra team"},
};

QString creditsText()
{
    QString text = "<html>" + about::tr("The program uses several third party products") + ":<br>";
    for (const credit_t &c : CREDITS)
        text += QString("&bull; <a style=\"%1\" href=\"%2\">%3</a> %4<br>")
                    .arg(CREDIT_LINK_STYLE, c.address, c.name, QCoreApplication::translate("about", c.remark));
    return text + "</html>";
}

QString translationsText()
{
    QString text = "<html>" + about::tr("Translations made by") + ":<br>";
    for (const translation_t &t : TRANSLATIONS)
        text += QString("&bull; <b>%1</b> (%2) - %3<br>").arg(t.language, t.version, t.translator);
    return text + "</html>";
}

QPixmap logoPixmap()
{
    const bool highResolution = widgetSupport::useHighResolutionImages();
    QPixmap logo(highResolution ? ":/resources/logo-about@2x.png" : ":/resources/logo-about.png");
    if (logo.isNull())
        return logo;
    logo.setDevicePixelRatio(highResolution ? widgetSupport::devicePixelRatio() : 1.0);
    QPixmap painted(logo.size());
    painted.setDevicePixelRatio(logo.devicePixelRatio());
    painted.fill(colorLighten(QColor(0x50, 0x50, 0x50)));
    QPainter p(&painted);
    p.setOpacity(LOGO_OPACITY);
    p.drawPixmap(0, 0, logo);
    return painted;
}

} // namespace

QString lcmsVersionText(int v)
{
    const int major = v / 1000;
    const int minor = (v % 1000) / 10;
    const int patch = v - 10 * (100 * major + minor);
    return QString("%1.%2.%3").arg(major).arg(minor).arg(patch);
}

QString openExrVersionText()
{
    int major = 0, minor = 0, patch = 0;
    const char *extra = nullptr;
    exr_get_library_version(&major, &minor, &patch, &extra);
    QString text = QString("%1.%2.%3").arg(major).arg(minor).arg(patch);
    if (extra && *extra)
        text += QString::fromLatin1(extra);
    return text;
}

about::about(mainWindow *mainWin, processingProject *proj)
    : styledDialog(mainWin)
    , window(mainWin)
    , project(proj)
{
    setModal(true);
    const QString title = tr("About");
    titleLabel()->setText(title);
    setWindowTitle(title);
    const int width = widgetSupport::scaled(ABOUT_WIDTH);
    const QString infoStyle = buildStyleSheet(INFO_STYLE);

    auto *logo = new QLabel(this);
    logo->setObjectName("aboutLogo");
    logo->setPixmap(logoPixmap());
    logo->setAlignment(Qt::AlignCenter);

    auto *info = new QWidget(this);
    info->setObjectName("aboutInfo");
    auto *infoLayout = new QVBoxLayout(info);
    const int margin = widgetSupport::scaled(12);
    infoLayout->setContentsMargins(margin, margin, margin, margin);

    auto *versionLine = new QLabel(QString("<font size='5'><b>Lumidra %1</b></font><br>").arg(PROGRAM_VERSION) +
                                       tr("Release date") + ": " + RELEASE_DATE + " &nbsp; <i>(" + __DATE__ +
                                       ", " + __TIME__ + ")</i>",
                                   info);
    versionLine->setObjectName("aboutVersionLine");
    auto *credits = new QLabel(creditsText(), info);
    credits->setObjectName("aboutCredits");
    credits->setOpenExternalLinks(true);
    credits->setTextInteractionFlags(Qt::TextBrowserInteraction);
    auto *translations = new QLabel(translationsText(), info);
    translations->setObjectName("aboutTranslations");
    versionsLabel = new QLabel(info);
    versionsLabel->setObjectName("aboutVersions");
    versionsLabel->setWordWrap(true);
    versionsLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    for (QLabel *label : {logo, versionLine, credits, translations, versionsLabel})
        label->setStyleSheet(infoStyle);
    for (QLabel *label : {versionLine, credits, translations, versionsLabel})
        infoLayout->addWidget(label);
    info->setStyleSheet(buildStyleSheet("QWidget#aboutInfo { background-color: #505050; }"));
    for (QWidget *w : {static_cast<QWidget *>(logo), info}) {
        w->setFixedWidth(width);
        w->setSizePolicy(QSizePolicy::MinimumExpanding, QSizePolicy::Maximum);
    }

    licenseButton = new QPushButton(tr("Qt License (LGPL)"), this);
    qtButton = new QPushButton(tr("Qt"), this);
    closeButton = new QPushButton(tr("Close"), this);
    connect(licenseButton, &QPushButton::clicked, window, &mainWindow::showQtLicenseWindow);
    connect(qtButton, &QPushButton::clicked, this, &about::showAboutQt);
    connect(closeButton, &QPushButton::clicked, this, &QWidget::close);
    auto *buttons = new QHBoxLayout();
    buttons->addWidget(licenseButton);
    buttons->addWidget(qtButton);
    buttons->addStretch(1);
    buttons->addWidget(closeButton);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(margin, margin, margin, margin);
    layout->setSpacing(0);
    layout->addWidget(logo);
    layout->addWidget(info);
    layout->addSpacing(margin);
    layout->addLayout(buttons);
    closeButton->setDefault(true);
    closeButton->setFocus();

    // F1 switches logging on while the dialog is up.
    loggingShortcut = new QShortcut(QKeySequence("F1"), this);
    loggingShortcut->setObjectName("aboutLoggingShortcut");
    loggingShortcut->setContext(Qt::ApplicationShortcut);
    connect(loggingShortcut, &QShortcut::activated, this, &about::loggingKey);
}

QString about::versionsText() const
{
    return versionsLabel->text();
}

void about::loggingKey()
{
    if (isVisible())
        window->enableLogging();
}

QString about::buildVersionsText() const
{
    // The window's current project: a new project replaces the one this
    // dialog was made with.
    const processingProject *project = window->project;
    const QString exiftoolVersion = project && project->exiftool ? project->exiftool->getVersion() : QString("?");
    const QString lensVersion = project && project->lensDb ? project->lensDb->getVersion() : QString("?");
    const int lcms = cmsGetEncodedCMMversion();
    if (lcms != LCMS_VERSION)
        debugLog("about::buildVersionsText: Little CMS %d found, built against %d\n", lcms, LCMS_VERSION);
    return tr("Versions") + QString(":\nQt: %1, DCRAW: %2, LIBRAW: %3, Exiftool: %4,\nLensfun DB: %5, LCMS: %6, "
                                    "OpenEXR: %7")
                                .arg(QString::fromLatin1(qVersion()), rawLoadOptions::getDcrawVersion(),
                                     rawLoadOptions::getLibrawVersion(), exiftoolVersion, lensVersion,
                                     lcmsVersionText(lcms), openExrVersionText());
}

void about::showEvent(QShowEvent *event)
{
    const QString text = buildVersionsText();
    versionsLabel->setText(text);
    debugLog("%s\n", qPrintable(text));
    styledDialog::showEvent(event);
    centerOnScreen();
}

void about::showAboutQt()
{
    // Tests and the automatic run answer boxes through the hook; Qt's own box
    // cannot be answered, so it is named to the hook instead.
    if (const styledMessageBox::messageHook_t hook = styledMessageBox::messageHook()) {
        hook(styledMessageBox::Information, QString(), "About Qt", styledMessageBox::Ok);
        return;
    }
    QMessageBox::aboutQt(this, QString());
}

qtLicense::qtLicense(QWidget *parent)
    : styledDialog(parent)
{
    setModal(true);
    const QString title = tr("Qt License (LGPL)");
    titleLabel()->setText(title);
    setWindowTitle(title);

    textArea = new QTextEdit(this);
    textArea->setReadOnly(true);
    textArea->setMinimumSize(500, 350);
    QFile file(":/resources/qt_license.txt");
    if (file.open(QIODevice::ReadOnly | QIODevice::Text))
        textArea->setPlainText(QString::fromUtf8(file.readAll()));
    else
        debugLog("qtLicense::qtLicense: licence text not available\n");

    okButton = new QPushButton(tr("Ok"), this);
    connect(okButton, &QPushButton::clicked, this, &QWidget::close);
    auto *buttons = new QHBoxLayout();
    buttons->addStretch(1);
    buttons->addWidget(okButton);

    auto *layout = new QVBoxLayout(this);
    const int margin = widgetSupport::scaled(12);
    layout->setContentsMargins(margin, margin, margin, margin);
    layout->addWidget(textArea);
    layout->addLayout(buttons);
}
