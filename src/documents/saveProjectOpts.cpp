// The save-project options dialog.

#include "documents/saveProjectOpts.h"

#include "app/programOptionsSettings.h"
#include "widgets/widgetSupport.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QShowEvent>
#include <QVBoxLayout>

saveProjectOpts::saveProjectOpts(QWidget *parent) : styledDialog(parent)
{
    setModal(true);
    setWindowTitle(tr("Save project"));
    if (titleLabel())
        titleLabel()->setText(windowTitle());
    setMinimumWidth(int(300 * widgetSupport::uiScale()));

    auto *layout = new QVBoxLayout(this);
    auto *row = new QHBoxLayout;
    auto *group = new QGroupBox(tr("Embed into the project file"));
    auto *groupLayout = new QVBoxLayout(group);
    inputsBox = new QCheckBox(tr("Input images"));
    hdrBox = new QCheckBox(tr("Generated HDR image"));
    groupLayout->addWidget(inputsBox);
    groupLayout->addWidget(hdrBox);
    row->addWidget(group);
    layout->addLayout(row);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    saveButton = new QPushButton(tr("Save"));
    cancelButton = new QPushButton(tr("Cancel"));
    buttons->addWidget(saveButton);
    buttons->addWidget(cancelButton);
    layout->addLayout(buttons);

    inputsBox->setChecked(optionsInstance->misc.saveInputsInProject);
    hdrBox->setChecked(optionsInstance->misc.saveHdrDataInProject);

    connect(inputsBox, &QCheckBox::clicked, this, &saveProjectOpts::checkValid);
    connect(hdrBox, &QCheckBox::clicked, this, &saveProjectOpts::checkValid);
    connect(saveButton, &QPushButton::clicked, this, &saveProjectOpts::acceptSlot);
    connect(cancelButton, &QPushButton::clicked, this, &saveProjectOpts::reject);

    checkValid();
    saveButton->setFocus();
    adjustSize();
}

void saveProjectOpts::checkValid()
{
    saveButton->setEnabled(inputsBox->isChecked() || hdrBox->isChecked());
}

void saveProjectOpts::showEvent(QShowEvent *event)
{
    if (!event->spontaneous())
        checkValid();
    styledDialog::showEvent(event);
}

void saveProjectOpts::acceptSlot()
{
    if (hdrBox->isEnabled())
        optionsInstance->misc.saveHdrDataInProject = hdrBox->isChecked();
    if (inputsBox->isEnabled())
        optionsInstance->misc.saveInputsInProject = inputsBox->isChecked();
    accept();
}
