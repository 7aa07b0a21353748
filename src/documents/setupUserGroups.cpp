#include "documents/setupUserGroups.h"

#include "app/debugLog.h"
#include "app/utils.h"
#include "documents/presetLibrary.h"
#include "documents/presetNames.h"
#include "widgets/styledMessageBox.h"
#include "widgets/widgetSupport.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QStandardItemModel>
#include <QVBoxLayout>

setupUserGroups::setupUserGroups(presetLibrary *library, const QString &userPresetFolder)
    : styledDialog(library, false, true, true), library(library), folder(userPresetFolder)
{
    scale = widgetSupport::uiScale();
    setWindowTitle(tr("Setup user preset groups"));
    if (titleLabel())
        titleLabel()->setText(windowTitle());
    setModal(true);
    setMinimumSize(int(300 * scale), int(300 * scale));
    setMaximumSize(int(500 * scale), int(500 * scale));

    auto *layout = new QVBoxLayout(this);
    auto *box = new QGroupBox(this);
    auto *grid = new QGridLayout(box);
    nameEdit = new QLineEdit(box);
    nameEdit->setMaxLength(PRESET_GROUP_NAME_MAX_LENGTH);
    create = new QPushButton(tr("Create"), box);
    list = new QListView(box);
    remove = new QPushButton(tr("Remove"), box);
    grid->addWidget(nameEdit, 0, 0);
    grid->addWidget(create, 0, 1);
    grid->addWidget(list, 1, 0);
    grid->addWidget(remove, 1, 1, Qt::AlignTop);
    layout->addWidget(box);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    auto *close = new QPushButton(tr("Close"), this);
    buttons->addWidget(close);
    layout->addLayout(buttons);
    close->setFocus();

    model = new QStandardItemModel(this);
    const QComboBox *combo = library->groupCombo();
    for (int i = 1; i < combo->count(); ++i)
        model->appendRow(newItem(combo->itemText(i)));
    model->sort(0, Qt::AscendingOrder);
    list->setModel(model);
    remove->setEnabled(model->rowCount() > 0);

    connect(close, &QPushButton::clicked, this, &QDialog::accept);
    connect(create, &QPushButton::clicked, this, &setupUserGroups::addGroup);
    connect(remove, &QPushButton::clicked, this, &setupUserGroups::removeGroup);
    connect(model, &QStandardItemModel::itemChanged, this, &setupUserGroups::renameGroup);
}

QStandardItem *setupUserGroups::newItem(const QString &name) const
{
    auto *item = new QStandardItem(name);
    item->setWhatsThis(name);
    item->setSizeHint(QSize(item->sizeHint().width(), int(20 * scale)));
    return item;
}

void setupUserGroups::addGroup()
{
    const QString name = nameEdit->text();
    if (!isValidPresetName(name, PRESET_GROUP_NAME_MAX_LENGTH)) {
        styledMessageBox::show(this, styledMessageBox::Error, tr("Bad group name."));
        return;
    }
    if (!QDir(folder).mkdir(name)) {
        styledMessageBox::show(this, styledMessageBox::Error, tr("Operation failed."));
        return;
    }
    model->appendRow(newItem(name));
    model->sort(0, Qt::AscendingOrder);
    remove->setEnabled(true);
    nameEdit->clear();
}

void setupUserGroups::renameGroup(QStandardItem *item)
{
    const QString oldName = item->whatsThis();
    const QString newName = item->text();
    // Putting the old name back, and storing the new one, come back here
    // with text and whatsThis equal, which ends the call.
    if (newName == oldName)
        return;
    if (!isValidPresetName(newName, PRESET_GROUP_NAME_MAX_LENGTH)) {
        styledMessageBox::show(this, styledMessageBox::Error, tr("Bad group name."));
        item->setText(oldName);
        return;
    }
    const QString oldPath = folder + "/" + oldName, newPath = folder + "/" + newName;
    if (QFileInfo::exists(newPath) || !QDir().rename(oldPath, newPath)) {
        styledMessageBox::show(this, styledMessageBox::Error, tr("Renaming failed."));
        item->setText(oldName);
        return;
    }
    const QStringList files = QDir(newPath).entryList(QDir::Files);
    for (const QString &f : files)
        library->updatePresetEntry(oldName, f, newName, newPath + "/" + f);
    library->renameRowsGroup(oldName, newName);
    item->setWhatsThis(newName);
}

void setupUserGroups::removeGroup()
{
    const QModelIndexList selected = list->selectionModel() ? list->selectionModel()->selectedIndexes()
                                                            : QModelIndexList();
    if (selected.size() != 1)
        return;
    QStandardItem *item = model->itemFromIndex(selected.first());
    const QString name = item->whatsThis();
    const QString groupPath = folder + "/" + name;
    const QStringList files = QDir(groupPath).entryList({"*.*"}, QDir::Files | QDir::Hidden);
    bool keepFolder = false;
    if (!files.isEmpty()) {
        const int answer = styledMessageBox::show(this, styledMessageBox::Confirmation,
                                                  tr("Do you want to delete presets belonging to the group?"),
                                                  styledMessageBox::Yes | styledMessageBox::No |
                                                      styledMessageBox::Cancel);
        if (answer != styledMessageBox::Yes && answer != styledMessageBox::No)
            return;
        for (const QString &f : files) {
            const QString path = groupPath + "/" + f;
            if (answer == styledMessageBox::Yes) {
                if (QFile::remove(path))
                    library->updatePresetEntry(name, f, QStringLiteral(".."), QString());
                else
                    keepFolder = true;
                continue;
            }
            const QString target = folder + "/" + f;
            if (!QFileInfo::exists(target) && QFile::rename(path, target)) {
                library->updatePresetEntry(name, f, QString(), target);
            } else {
                // A preset of that name is already at the top level: this one
                // stays in its folder rather than being lost.
                debugLog("%s: cannot move %s to the top level\n", "setupUserGroups::removeGroup", qPrintable(path));
                keepFolder = true;
            }
        }
    }
    if (keepFolder || !removeEmptyDir(groupPath)) {
        styledMessageBox::show(this, styledMessageBox::Error,
                               tr("Some presets could not be moved; the group was kept.") + "<br><br>" +
                                   QDir::toNativeSeparators(groupPath));
        return;
    }
    model->removeRow(item->row());
    remove->setEnabled(model->rowCount() > 0);
}
