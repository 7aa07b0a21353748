#include "widgets/savePreprocessedDialog.h"

#include "app/programOptionsSettings.h"
#include "app/utils.h"
#include "widgets/pathEdit.h"
#include "widgets/saveDialogs.h"
#include "widgets/slider.h"
#include "widgets/styledMessageBox.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QShowEvent>
#include <QSpinBox>
#include <QVBoxLayout>

#include <algorithm>

namespace {

savePreprocessedDialog::execHook_t &hookInstance()
{
    static savePreprocessedDialog::execHook_t hook;
    return hook;
}

} // namespace

void savePreprocessedDialog::setExecHook(execHook_t hook)
{
    hookInstance() = std::move(hook);
}

int savePreprocessedDialog::run()
{
    if (const execHook_t &hook = hookInstance())
        return hook(this);
    return exec();
}

savePreprocessedDialog::savePreprocessedDialog(QWidget *parent, processingProject *project_, const QString &folder)
    : styledDialog(parent), project(project_)
{
    setModal(true);
    const QString title = tr("Save preprocessed input photos");
    setWindowTitle(title);
    if (titleLabel())
        titleLabel()->setText(title);

    auto *column = new QVBoxLayout(this);
    auto *heading = new QLabel(title, this);
    heading->setStyleSheet("QLabel { font: bold; }");
    column->addWidget(heading);
    column->addSpacing(10);

    auto *grid = new QGridLayout;
    grid->addWidget(new QLabel(tr("Save to") + ":", this), 0, 0);
    folderEdit = new pathEdit(true, true, pathEdit::AnyFile);
    folderEdit->setParent(this);
    folderEdit->lineEdit()->setText(QDir::toNativeSeparators(folder));
    folderEdit->setStartFolder(folder);
    grid->addWidget(folderEdit, 0, 1);

    grid->addWidget(new QLabel(tr("Save as") + ":", this), 1, 0);
    auto *row = new QHBoxLayout;
    suffixButton = new QRadioButton(tr("Suffix"), this);
    prefixButton = new QRadioButton(tr("Prefix"), this);
    text = new QLineEdit(this);
    text->setMaxLength(32);
    formatBox = new QComboBox(this);
    formatBox->addItems({QStringLiteral("JPEG"), QStringLiteral("TIFF"), QStringLiteral("PNG")});
    row->addWidget(suffixButton);
    row->addWidget(prefixButton);
    row->addWidget(text, 1);
    row->addWidget(formatBox);
    grid->addLayout(row, 1, 1);
    column->addLayout(grid);
    column->addSpacing(10);

    jpegPanel = new saveOptsJpeg(this);
    tiffPanel = new saveOptsTiff(this);
    // The metadata is always carried over here, in the photo's own colours.
    for (QWidget *w : {static_cast<QWidget *>(jpegPanel->transferExif), static_cast<QWidget *>(jpegPanel->gps),
                       static_cast<QWidget *>(jpegPanel->srgb), static_cast<QWidget *>(tiffPanel->transferExif),
                       static_cast<QWidget *>(tiffPanel->gps), static_cast<QWidget *>(tiffPanel->srgb)})
        w->hide();
    column->addWidget(jpegPanel);
    column->addWidget(tiffPanel);
    column->addStretch();

    auto *buttons = new QHBoxLayout;
    auto *save = new QPushButton(tr("Save"), this);
    auto *cancel = new QPushButton(tr("Cancel"), this);
    save->setStyleSheet("QPushButton { font: bold; }");
    save->setDefault(true);
    buttons->addStretch();
    buttons->addWidget(save);
    buttons->addWidget(cancel);
    column->addLayout(buttons);
    connect(save, &QPushButton::clicked, this, &savePreprocessedDialog::doAccept);
    connect(cancel, &QPushButton::clicked, this, [this] { done(0); });

    if (optionsInstance) {
        const auto &s = optionsInstance->savePreprocessed;
        text->setText(s.prefixSuffix);
        (s.prefix ? prefixButton : suffixButton)->setChecked(true);
        formatBox->setCurrentIndex(std::clamp(s.format, 0, 2));
    } else {
        suffixButton->setChecked(true);
    }
    connect(formatBox, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &savePreprocessedDialog::typeChanged);
    typeChanged(formatBox->currentIndex());
    save->setFocus();
}

QString savePreprocessedDialog::folder() const
{
    return folderEdit->path();
}

void savePreprocessedDialog::typeChanged(int t)
{
    setUpdatesEnabled(false);
    jpegPanel->hide();
    tiffPanel->hide();
    if (t == 0)
        jpegPanel->show();
    else if (t == 1)
        tiffPanel->show();
    setUpdatesEnabled(true);
    if (isVisible())
        adjustSize();
}

void savePreprocessedDialog::doAccept()
{
    const QString dir = folder();
    if (dir.isEmpty() || !dirExists(dir)) {
        styledMessageBox::show(this, styledMessageBox::Error, tr("Error! The specified directory does not exist!"));
        return;
    }
    if (text->text().isEmpty()) {
        // Proposed once; the user confirms it with a second click.
        text->setText(QStringLiteral("_aligned"));
        suffixButton->setChecked(true);
        return;
    }
    if (optionsInstance) {
        auto &p = optionsInstance->savePreprocessed;
        p.prefixSuffix = text->text();
        p.prefix = prefixButton->isChecked();
        p.format = formatBox->currentIndex();
        auto &s = optionsInstance->savingResult;
        if (p.format == 0) {
            s.jpegQuality = int(jpegPanel->quality->value());
        } else if (p.format == 1) {
            s.tiffBitDepth = tiffPanel->bitDepth->currentIndex() + 1;
            s.tiffCompression = tiffPanel->compression->currentIndex();
        }
    }
    done(1);
}

void savePreprocessedDialog::showEvent(QShowEvent *event)
{
    styledDialog::showEvent(event);
    if (!event->spontaneous()) {
        adjustSize();
        if (!shownOnce)
            centerOnScreen();
        shownOnce = true;
    }
}
