#include "documents/presetLibrary.h"

#include "app/checkedSaveFile.h"
#include "app/debugLog.h"
#include "app/programOptionsSettings.h"
#include "app/sharedFlags.h"
#include "app/utils.h"
#include "documents/presetNames.h"
#include "documents/settingsFile.h"
#include "documents/setupUserGroups.h"
#include "project/processingProject.h"
#include "widgets/presetItem.h"
#include "widgets/styledMessageBox.h"

#include <QApplication>
#include <QButtonGroup>
#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QResizeEvent>
#include <QScrollArea>
#include <QStyle>
#include <QScrollBar>
#include <QThread>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>

namespace
{
QString baseNameOf(const QString &path)
{
    return QFileInfo(path).completeBaseName();
}

bool isLastUsedFile(const QString &path)
{
    return QFileInfo(path).fileName().toLower() == QLatin1String(PRESET_LAST_USED_FILE);
}

bool isNonePreset(const QString &path)
{
    return baseNameOf(path).toLower() == QLatin1String("none");
}

// Every user preset file (top level and one level of groups) as a relative
// name. Unlike the listing the rows are made from, this one is never cut
// short: a name it misses could be given to a new preset and overwrite a file.
QStringList allUserPresetFiles(const QString &folder)
{
    const QStringList filter{QStringLiteral("*.lmsx")};
    const QDir dir(folder);
    QStringList out = dir.entryList(filter, QDir::Files);
    for (const QString &sub : dir.entryList(QDir::Dirs | QDir::NoDotAndDotDot))
        for (const QString &f : QDir(dir.filePath(sub)).entryList(filter, QDir::Files))
            out << sub + "/" + f;
    return out;
}

// Copies a (small) settings file through the checked save, so that a full
// disk leaves no cut-off copy behind.
bool copySettingsFile(const QString &from, const QString &to)
{
    QFile source(from);
    if (!source.open(QIODevice::ReadOnly) || source.size() > SETTINGS_FILE_MAX_BYTES)
        return false;
    const QByteArray bytes = source.readAll();
    checkedSaveFile target(to);
    return target.open(QIODevice::WriteOnly) && target.write(bytes) == bytes.size() && target.commit();
}
} // namespace

presetLibrary::presetLibrary(presetLibraryHost *host, const QString &builtInFolder, const QString &userPresetFolder,
                             QWidget *parent)
    : QWidget(parent), host(host), builtInFolder(builtInFolder), userFolder(userPresetFolder)
{
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    auto *filterRow = new QHBoxLayout;
    filterGroup = new QButtonGroup(this);
    const struct
    {
        int id;
        const char *text;
        const char *icon;
        const char *tip;
    } buttons[] = {{0, QT_TR_NOOP("All"), nullptr, QT_TR_NOOP("All presets")},
                   {1, nullptr, ":/resources/home.png", QT_TR_NOOP("Built-in presets")},
                   {2, nullptr, ":/resources/user.png", QT_TR_NOOP("User presets")}};
    for (const auto &b : buttons) {
        auto *button = new QToolButton(this);
        button->setCheckable(true);
        if (b.text)
            button->setText(tr(b.text));
        if (b.icon)
            button->setIcon(makeColoredIcon(QLatin1String(b.icon)));
        button->setToolTip(tr(b.tip));
        filterGroup->addButton(button, b.id);
        filterRow->addWidget(button);
    }
    groups = new QComboBox(this);
    groups->hide();
    filterRow->addWidget(groups, 1);
    filterRow->addStretch();
    layout->addLayout(filterRow);

    scroll = new QScrollArea(this);
    scroll->setWidgetResizable(true);
    gridHolder = new QWidget;
    grid = new QGridLayout(gridHolder);
    grid->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    scroll->setWidget(gridHolder);
    layout->addWidget(scroll, 1);
    scroll->viewport()->installEventFilter(this);

    int option = 0;
    if (optionsInstance)
        option = std::clamp(optionsInstance->misc.presetFilterOption, 0, 2);
    filterGroup->button(option)->setChecked(true);
    connect(filterGroup, &QButtonGroup::idClicked, this, [this](int id) { filterPresets(id); });
    connect(groups, QOverload<int>::of(&QComboBox::activated), this, [this](int) { filterPresets(-1); });
}

presetLibrary::~presetLibrary()
{
    stopThumbWorker();
}

QString presetLibrary::builtInDefaultPath() const
{
    return builtInFolder + "/default.lmsx";
}

QString presetLibrary::defaultPresetPath() const
{
    if (optionsInstance && !optionsInstance->misc.defaultToneMappingSettings.isEmpty())
        return optionsInstance->misc.defaultToneMappingSettings;
    return builtInDefaultPath();
}

void presetLibrary::setColumns(int n)
{
    columns = std::max(1, n);
    filterPresets(-1);
}

void presetLibrary::ensureUserFolder() const
{
    if (!QDir(userFolder).exists())
        QDir().mkpath(userFolder);
}

void presetLibrary::errorBox(const QString &text)
{
    styledMessageBox::show(this, styledMessageBox::Error, text);
}

presetItem *presetLibrary::itemById(int id) const
{
    for (presetItem *item : presetList)
        if (item->getId() == id)
            return item;
    return nullptr;
}

void presetLibrary::connectRow(presetItem *item)
{
    connect(item, &presetItem::defaultRegenerateNeeded, this, &presetLibrary::regenerateDefaultPresetThumb);
    connect(item, &presetItem::itemSelected, this, [this](int id) { presetItemChanged(id); });
    connect(item, &presetItem::removeItem, this, &presetLibrary::presetItemRemove);
    connect(item, &presetItem::itemRenamed, this, &presetLibrary::presetItemRename);
    connect(item, &presetItem::itemReplaced, this, [this](int id) { presetItemReplace(id); });
    connect(item, &presetItem::moveToUserGroup, this, &presetLibrary::moveToUserGroup);
}

presetItem *presetLibrary::addRow(int id, bool builtIn, const QString &path, const QString &name,
                                  const QString &group)
{
    auto *item = new presetItem(gridHolder, id, builtIn, path, name, groups);
    item->setGroupName(group);
    presetList.append(item);
    connectRow(item);
    return item;
}

void presetLibrary::scanPresets(bool createLastUsed)
{
    stopThumbWorker();
    for (presetItem *item : presetList)
        delete item;
    presetList.clear();

    // The last-used settings start as the default look.
    ensureUserFolder();
    const QString lastUsed = userFolder + "/" + PRESET_LAST_USED_FILE;
    if (createLastUsed && !QFileInfo::exists(lastUsed)) {
        if (!QFileInfo::exists(defaultPresetPath()) && optionsInstance)
            optionsInstance->misc.defaultToneMappingSettings = builtInDefaultPath();
        if (!copySettingsFile(defaultPresetPath(), lastUsed))
            debugLog("%s: cannot create %s\n", "presetLibrary::scanPresets", qPrintable(lastUsed));
    }

    debugLog("Loading presets (%s)...\n", "built-in");
    QStringList files = QDir(builtInFolder).entryList({"*.lmsx"}, QDir::Files | QDir::NoDotAndDotDot);
    std::sort(files.begin(), files.end(),
              [](const QString &a, const QString &b) { return a.compare(b, Qt::CaseInsensitive) < 0; });
    for (int i = 0; i < files.size(); ++i) {
        const QString path = builtInFolder + "/" + files[i];
        processingParams_t settings;
        if (loadSettingsFile(path, &settings) != SETTINGS_LOADED)
            continue;
        const QString base = baseNameOf(path).toLower();
        if (base == QLatin1String("default")) {
            // The default entry shows whichever preset is the default.
            const QString current = defaultPresetPath();
            processingParams_t defaults = settings;
            if (current != path)
                loadSettingsFile(current, &defaults);
            presetItem *item = addRow(PRESET_ID_DEFAULT, true, current, tr("default"), QString());
            item->setFilePath(current);
            item->settings = defaults;
            continue;
        }
        presetItem *item = addRow(PRESET_ID_BUILTIN_BASE + i, true, path,
                                  base == QLatin1String("none") ? tr("neutral") : baseNameOf(path), QString());
        item->settings = settings;
    }

    debugLog("Loading presets (%s)...\n", "user");
    QStringList user;
    listPresetFiles(user, false, userFolder);
    std::stable_sort(user.begin(), user.end(),
                     [](const QString &a, const QString &b) { return a.compare(b, Qt::CaseInsensitive) < 0; });
    for (int i = 0; i < user.size(); ++i) {
        const QString path = userFolder + "/" + user[i];
        processingParams_t settings;
        if (loadSettingsFile(path, &settings) != SETTINGS_LOADED)
            continue;
        const int slash = user[i].indexOf('/');
        const QString group = slash < 0 ? QString() : user[i].left(slash);
        if (!group.isEmpty())
            debugLog("Group: '%s'\n", qPrintable(group));
        presetItem *item;
        if (slash < 0 && isLastUsedFile(path))
            item = addRow(PRESET_ID_LAST_USED, true, path, tr("last used"), QString());
        else
            item = addRow(i, false, path, baseNameOf(path), group);
        item->settings = settings;
    }
    loadUserGroups();
    if (optionsInstance) {
        const int index = groups->findText(optionsInstance->misc.presetFilterUserGroup);
        if (index > 0)
            groups->setCurrentIndex(index);
    }
    filterPresets(-1);
}

bool presetLibrary::lessThan(const presetItem *a, const presetItem *b)
{
    if (a->getId() == PRESET_ID_DEFAULT)
        return b->getId() != PRESET_ID_DEFAULT;
    if (b->getId() == PRESET_ID_DEFAULT)
        return false;
    const bool aLast = isLastUsedFile(a->getFilePath()), bLast = isLastUsedFile(b->getFilePath());
    if (aLast != bLast)
        return aLast;
    const bool aNone = isNonePreset(a->getFilePath()), bNone = isNonePreset(b->getFilePath());
    if (aNone != bNone)
        return aNone;
    return QFileInfo(a->getFilePath()).fileName().compare(QFileInfo(b->getFilePath()).fileName(),
                                                          Qt::CaseInsensitive) < 0;
}

void presetLibrary::loadUserGroups()
{
    const QString current = groups->currentText();
    groups->clear();
    QStringList folders = QDir(userFolder).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    if (folders.size() > PRESET_MAX_USER_PRESETS)
        folders = folders.mid(0, PRESET_MAX_USER_PRESETS);
    std::sort(folders.begin(), folders.end(),
              [](const QString &a, const QString &b) { return a.compare(b, Qt::CaseInsensitive) < 0; });
    if (!folders.isEmpty())
        groups->addItem(tr("Not grouped"));
    for (const QString &f : folders)
        groups->addItem(f, f);
    const int index = groups->findText(current);
    if (index > 0)
        groups->setCurrentIndex(index);
}

void presetLibrary::storeFilterChoice() const
{
    if (!optionsInstance)
        return;
    optionsInstance->misc.presetFilterOption = filterGroup->checkedId();
    optionsInstance->misc.presetFilterUserGroup = groups->currentIndex() > 0 ? groups->currentText() : QString();
}

void presetLibrary::filterPresets(int option)
{
    gridHolder->setUpdatesEnabled(false);
    if (option < 0 || option > 2)
        option = filterGroup->checkedId();
    else if (filterGroup->button(option) && !filterGroup->button(option)->isChecked())
        filterGroup->button(option)->setChecked(true);
    groups->setVisible(option == 2 && groups->count() > 0);
    scroll->ensureVisible(0, 0, 50, 50);

    while (grid->count() > 0)
        delete grid->takeAt(0);
    std::stable_sort(presetList.begin(), presetList.end(), &presetLibrary::lessThan);
    const bool groupChosen = groups->count() > 0 && groups->currentIndex() > 0;
    int k = 0;
    for (presetItem *item : presetList) {
        bool visible;
        if (item->isBuiltIn())
            visible = option == 0 || option == 1;
        else if (option == 0)
            visible = true;
        else if (option == 2)
            visible = groupChosen ? item->getGroupName() == groups->currentText() : item->getGroupName().isEmpty();
        else
            visible = false;
        if (visible) {
            grid->addWidget(item, k / columns, k % columns);
            ++k;
        }
        item->setVisible(visible);
    }
    fitRowsToColumns();
    gridHolder->setUpdatesEnabled(true);
    storeFilterChoice();
}

void presetLibrary::fitRowsToColumns()
{
    const QMargins m = grid->contentsMargins();
    const int spacing = std::max(0, grid->horizontalSpacing());
    const int available = scroll->viewport()->width() - m.left() - m.right() - spacing * (columns - 1);
    const int rowWidth = std::max(PRESET_PLACEHOLDER_WIDTH / 2, available / columns);
    for (presetItem *item : presetList)
        if (item->width() != rowWidth || item->minimumWidth() != rowWidth)
            item->setFixedWidth(rowWidth);
}

bool presetLibrary::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == scroll->viewport() && event->type() == QEvent::Resize)
        fitRowsToColumns();
    return QWidget::eventFilter(watched, event);
}

void presetLibrary::goToUserPresetFiles()
{
    ensureUserFolder();
    QDesktopServices::openUrl(QUrl::fromLocalFile(userFolder));
}

void presetLibrary::showSetupUserGroups()
{
    ensureUserFolder();
    // The dialog may delete rows: no thumbnail run may use them meanwhile.
    const bool wasRunning = stopThumbWorker();
    setupUserGroups dialog(this, userFolder);
    dialog.exec();
    loadUserGroups();
    filterPresets(-1);
    if (wasRunning)
        invalidatePresets(true, false);
}

void presetLibrary::scrollTo(presetItem *item, int xMargin, int yMargin)
{
    if (item && !item->isHidden())
        scroll->ensureWidgetVisible(item, xMargin, yMargin);
}

QStringList presetLibrary::userPresetBaseNames() const
{
    QStringList names;
    for (const QString &f : allUserPresetFiles(userFolder))
        names << baseNameOf(f);
    return names;
}

void presetLibrary::presetItemChanged(int id, bool dontLoad)
{
    if (host->currentLayer() == 0)
        appliedName.clear();
    presetItem *selected = nullptr;
    for (presetItem *item : presetList) {
        bool isSelected = item->getId() == id;
        if (id == -1)
            isSelected = item->isDefault();
        if (id == -2)
            isSelected = false;
        if (isSelected && !isLastUsedFile(item->getFilePath()) && host->currentLayer() == 0)
            appliedName = item->displayedName();
        if (item->property("imageItemSelected").toBool() != isSelected || isSelected) {
            item->setProperty("imageItemSelected", isSelected);
            QResizeEvent event(item->size(), item->size());
            QApplication::sendEvent(item, &event);
            item->style()->unpolish(item);
            item->style()->polish(item);
        }
        if (isSelected)
            selected = item;
    }
    if (!selected) {
        host->setAppliedPresetId(PP_NO_PRESET);
        return;
    }
    host->setAppliedPresetId(id == -1 ? PRESET_ID_DEFAULT : id);
    if (dontLoad)
        return;
    if (!host->loadPreset(selected->getFilePath())) {
        // The file went missing or was spoilt since the scan: the layer keeps
        // its settings, so no preset is marked as applied and no history
        // step claims one (the host told the user).
        presetItemChanged(-2, true);
        return;
    }
    if (selected->getId() != PRESET_ID_DEFAULT && selected->getId() != PRESET_ID_LAST_USED) {
        const QString base = baseNameOf(selected->getFilePath());
        host->addHistory(tr("Preset") + ": " + (base.toLower() == QLatin1String("none") ? tr("neutral") : base));
    }
}

void presetLibrary::regenerateDefaultPresetThumb(int fromId)
{
    presetItem *source = fromId == -1 ? nullptr : itemById(fromId);
    const QString sourcePath = source ? source->getFilePath() : builtInDefaultPath();
    if (optionsInstance)
        optionsInstance->misc.defaultToneMappingSettings = sourcePath;
    if (fromId == -1)
        host->loadPreset(builtInDefaultPath());
    else
        presetItemChanged(fromId, false);
    presetItem *entry = itemById(PRESET_ID_DEFAULT);
    if (!entry)
        return;
    entry->settings = host->currentSettings();
    entry->setFilePath(sourcePath);
    renderSingle(entry);
    presetItemChanged(PRESET_ID_DEFAULT, true);
    scrollTo(entry, 50, 50);
}

void presetLibrary::followDefault(const QString &oldPath, const QString &newPath)
{
    if (!optionsInstance || optionsInstance->misc.defaultToneMappingSettings != oldPath)
        return;
    // The default look was this preset: it follows the file, or falls back to
    // the built-in default when the file is gone.
    const QString target = newPath.isEmpty() ? builtInDefaultPath() : newPath;
    optionsInstance->misc.defaultToneMappingSettings = target;
    debugLog("%s: default settings now %s\n", "presetLibrary", qPrintable(target));
    presetItem *entry = itemById(PRESET_ID_DEFAULT);
    if (!entry)
        return;
    entry->setFilePath(target);
    if (newPath.isEmpty()) {
        processingParams_t settings;
        if (loadSettingsFile(target, &settings) == SETTINGS_LOADED) {
            entry->settings = settings;
            renderSingle(entry);
        }
    }
}

void presetLibrary::deleteRow(presetItem *item)
{
    presetList.removeOne(item);
    grid->removeWidget(item);
    item->hide();
    item->deleteLater();
}

void presetLibrary::presetItemRemove(int id)
{
    presetItem *item = itemById(id);
    if (!item || item->isBuiltIn())
        return;
    const int answer = styledMessageBox::show(
        this, styledMessageBox::Confirmation,
        tr("Do you really want to remove the selected preset?") + "<br><br>" + baseNameOf(item->getFilePath()),
        styledMessageBox::Yes | styledMessageBox::No);
    if (answer != styledMessageBox::Yes)
        return;
    debugLog("Removing user preset: %s\n", qPrintable(item->getFilePath()));
    if (!QFile::remove(item->getFilePath()))
        return;
    const bool wasRunning = stopThumbWorker();
    if (item->property("imageItemSelected").toBool()) {
        // The layer keeps its settings but no longer has a preset: result
        // names made from the preset name ("%P") drop it.
        if (host->currentLayer() == 0)
            appliedName.clear();
        host->setAppliedPresetId(PP_NO_PRESET);
    }
    const int position = presetList.indexOf(item);
    const QString removedPath = item->getFilePath();
    deleteRow(item);
    followDefault(removedPath, QString());
    filterPresets(-1);
    if (position > 0 && position - 1 < presetList.size())
        scrollTo(presetList[position - 1], 0, 50);
    if (wasRunning)
        invalidatePresets(true, false);
}

void presetLibrary::presetItemRename(int id, const QString &newName)
{
    presetItem *item = itemById(id);
    if (!item || item->isBuiltIn())
        return;
    const QString oldPath = item->getFilePath();
    const QString oldName = baseNameOf(oldPath);
    if (!isValidPresetName(newName, PRESET_NAME_MAX_LENGTH)) {
        errorBox(tr("Bad preset name."));
        item->applyRename(oldName);
        return;
    }
    const QString newPath = QFileInfo(oldPath).path() + "/" + newName + ".lmsx";
    if (QFileInfo(newPath).absoluteFilePath() == QFileInfo(oldPath).absoluteFilePath())
        return;
    for (const QString &f : allUserPresetFiles(userFolder)) {
        if (baseNameOf(f) == newName) {
            errorBox(tr("File already exists: %1.")
                         .arg(QDir::toNativeSeparators(QFileInfo(userFolder + "/" + f).absoluteFilePath())));
            item->applyRename(oldName);
            return;
        }
    }
    if (!QFile::rename(oldPath, newPath)) {
        errorBox(tr("Failed to rename the preset."));
        item->applyRename(oldName);
        return;
    }
    debugLog("Renaming user preset: %s, new name: %s\n", qPrintable(oldPath), qPrintable(newName));
    item->applyRename(newName);
    followDefault(oldPath, item->getFilePath());
    if (item->property("imageItemSelected").toBool() && host->currentLayer() == 0) {
        appliedName = item->displayedName();
        // The applied preset keeps its id; the host takes the new name over
        // (result names made from the preset name follow the rename).
        host->setAppliedPresetId(item->getId());
    }
    filterPresets(-1);
    QApplication::processEvents();
    scrollTo(item, 0, 50);
}

void presetLibrary::presetItemReplace(int id, bool switchToPreset)
{
    presetItem *item = itemById(id);
    if (!item || (item->isBuiltIn() && id != PRESET_ID_LAST_USED))
        return;
    if (id != PRESET_ID_LAST_USED) {
        const int answer = styledMessageBox::show(
            this, styledMessageBox::Confirmation,
            tr("Do you really want to replace the selected preset with current settings?") + "<br><br>" +
                baseNameOf(item->getFilePath()),
            styledMessageBox::Yes | styledMessageBox::No);
        if (answer != styledMessageBox::Yes)
            return;
    }
    debugLog("Replacing user preset: %s\n", qPrintable(item->getFilePath()));
    const processingParams_t current = host->currentSettings();
    if (!saveSettingsFile(item->getFilePath(), current)) {
        if (id != PRESET_ID_LAST_USED)
            errorBox(tr("Cannot save settings.") + "<br><br>" + item->getFilePath());
        return;
    }
    item->settings = current;
    renderSingle(item);
    if (switchToPreset) {
        presetItemChanged(id, true);
        scrollTo(item, 50, 50);
    }
}

void presetLibrary::addNewPresetSlot()
{
    debugLog("Adding new user preset\n");
    const bool wasRunning = stopThumbWorker();
    int userCount = 0, maxId = 0;
    for (const presetItem *item : presetList)
        if (!item->isBuiltIn()) {
            ++userCount;
            maxId = std::max(maxId, item->getId());
        }
    if (userCount >= PRESET_MAX_USER_PRESETS) {
        errorBox(tr("Too many user presets."));
        if (wasRunning)
            invalidatePresets(true, false);
        return;
    }
    const int id = userCount == 0 ? 1 : maxId + 1;
    ensureUserFolder();
    const QStringList taken = userPresetBaseNames();
    const bool grouped = filterGroup->checkedId() == 2 && groups->currentIndex() > 0;
    const QString group = grouped ? groups->currentText() : QString();
    const QString folder = userFolder + "/" + (grouped ? group + "/" : QString());
    // The first free number; past the last one the count goes on rather than
    // save over a preset that has the name.
    int n = 1;
    while (taken.contains(QStringLiteral("user_%1").arg(n)) ||
           QFileInfo::exists(folder + QStringLiteral("user_%1.lmsx").arg(n)))
        ++n;
    const QString name = QStringLiteral("user_%1").arg(n);
    const QString path = folder + name + ".lmsx";

    const processingParams_t current = host->currentSettings();
    if (!saveSettingsFile(path, current)) {
        errorBox(tr("Cannot write file: %1. You may not have the required permissions.")
                     .arg(QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath())));
        if (wasRunning)
            invalidatePresets(true, false);
        return;
    }
    presetItem *item = addRow(id, false, path, name, group);
    item->settings = current;
    presetItemChanged(id, true);
    renderSingle(item);
    if (filterGroup->checkedId() == 1) {
        filterGroup->button(2)->setChecked(true);
        if (groups->count() > 0)
            groups->setCurrentIndex(0);
    }
    filterPresets(-1);
    scrollTo(item, 0, 50);
    item->enterRenameMode();
    if (wasRunning)
        invalidatePresets(true, false);
}

void presetLibrary::moveToUserGroup(const QString &request)
{
    const int separator = request.indexOf(QChar(PRESET_MOVE_SEPARATOR));
    bool ok = separator > 0;
    const int id = ok ? request.left(separator).toInt(&ok) : 0;
    const QString group = separator >= 0 ? request.mid(separator + 1) : QString();
    debugLog("%s: id=%d, name=%s\n", "presetLibrary::moveToUserGroup", id, qPrintable(group));
    presetItem *item = ok ? itemById(id) : nullptr;
    auto fail = [this]() {
        debugLog("Operation failed\n");
        errorBox(tr("Operation failed."));
    };
    if (!item || item->isBuiltIn() || (!group.isEmpty() && !isValidPresetName(group, PRESET_GROUP_NAME_MAX_LENGTH)))
        return fail();
    if (item->getGroupName() == group)
        return;
    const QString target = group.isEmpty() ? userFolder : userFolder + "/" + group;
    if (!QDir(target).exists())
        return fail();
    const QString newPath = target + "/" + QFileInfo(item->getFilePath()).fileName();
    debugLog("Moving preset: '%s' to '%s'\n", qPrintable(item->getFilePath()), qPrintable(newPath));
    // Never over another preset of the same file name.
    if (QFileInfo::exists(newPath) || !QFile::rename(item->getFilePath(), newPath))
        return fail();
    const QString oldPath = item->getFilePath();
    item->setGroupName(group);
    item->setFilePath(newPath);
    followDefault(oldPath, newPath);
    filterPresets(-1);
}

void presetLibrary::updatePresetEntry(const QString &oldGroup, const QString &fileName, const QString &newGroup,
                                      const QString &newPath)
{
    for (presetItem *item : presetList) {
        if (item->isBuiltIn() || item->getGroupName() != oldGroup ||
            QFileInfo(item->getFilePath()).fileName() != fileName)
            continue;
        const QString oldPath = item->getFilePath();
        if (newGroup == QLatin1String("..")) {
            deleteRow(item);
            followDefault(oldPath, QString());
        } else {
            item->setGroupName(newGroup);
            item->setFilePath(newPath);
            followDefault(oldPath, newPath);
        }
        return;
    }
}

void presetLibrary::renameRowsGroup(const QString &oldGroup, const QString &newGroup)
{
    for (presetItem *item : presetList)
        if (!item->isBuiltIn() && item->getGroupName() == oldGroup)
            item->setGroupName(newGroup);
}

bool presetLibrary::stopThumbWorker()
{
    if (!thumbThread)
        return false;
    const bool before = abortBackgroundFlag.exchange(true);
    // The worker checks the flag after every preset, and the tone-mapping
    // tasks every row: the thread ends soon, so it is waited for, never killed.
    thumbThread->quit();
    thumbThread->wait();
    delete thumbWorker;
    delete thumbThread;
    thumbWorker = nullptr;
    thumbThread = nullptr;
    ++runGeneration; // images still queued from that run are dropped
    abortBackgroundFlag = before;
    return true;
}

void presetLibrary::installThumbnail(int id, const QImage &image)
{
    if (presetItem *item = itemById(id)) {
        item->setThumbnail(&image, image.width(), image.height());
        emit thumbnailInstalled(id);
    }
}

void presetLibrary::renderSingle(presetItem *item)
{
    processingProject *project = host->project();
    if (!project || project->photos.isEmpty())
        return;
    // A background run would hold the renderer for all its rows: it is
    // stopped, and started again afterwards.
    const bool wasRunning = stopThumbWorker();
    const QImage image =
        presetThumbWorker::renderThumbnail(project, item->settings, host->lockedPanels(), host->firstLayerSettings());
    if (!image.isNull())
        item->setThumbnail(&image, image.width(), image.height());
    if (wasRunning)
        invalidatePresets(true, false);
}

QList<int> presetLibrary::thumbnailOrder() const
{
    const QRect onScreen(QPoint(scroll->horizontalScrollBar()->value(), scroll->verticalScrollBar()->value()),
                         scroll->viewport()->size());
    const bool laidOut = gridHolder->isVisible();
    auto pass = [&](const presetItem *item) {
        if (item->isHidden())
            return 2;
        return laidOut && item->geometry().intersects(onScreen) ? 0 : 1;
    };
    QList<int> order;
    for (int p = 0; p < 3; ++p)
        for (const presetItem *item : presetList)
            if (pass(item) == p)
                order.append(item->getId());
    return order;
}

void presetLibrary::invalidatePresets(bool getThumbs, bool onlyIfMissing)
{
    stopThumbWorker();
    debugLog("invalidatePresets\n");
    if (onlyIfMissing && std::all_of(presetList.begin(), presetList.end(),
                                     [](const presetItem *item) { return item->hasThumbnail(); }))
        return;
    processingProject *project = host->project();
    const bool haveImage = project && !project->photos.isEmpty() && project->hdrImage.levelCount > 0;
    if (getThumbs && haveImage && !abortBackgroundFlag.load()) {
        // Everything the run needs is copied here, on the GUI thread: first
        // the rows on screen in the scroll area, then the other rows the
        // filter shows, then the hidden ones, each in list order.
        presetThumbJob_t job;
        for (int id : thumbnailOrder())
            job.items.append({id, itemById(id)->settings});
        job.lockedPanels = host->lockedPanels();
        job.firstLayer = host->firstLayerSettings();

        const int generation = ++runGeneration;
        thumbThread = new QThread;
        thumbWorker = new presetThumbWorker(project, std::move(job));
        thumbWorker->moveToThread(thumbThread);
        connect(thumbThread, &QThread::started, thumbWorker, [w = thumbWorker]() { w->generateThumbs(); });
        connect(thumbWorker, &presetThumbWorker::finishedSingle, this, [this, generation](int id, const QImage &image) {
            if (generation == runGeneration)
                installThumbnail(id, image);
        });
        connect(thumbWorker, &presetThumbWorker::finished, this, [this, generation]() {
            if (generation != runGeneration || !thumbThread)
                return;
            thumbThread->quit();
            thumbThread->wait();
            delete thumbWorker;
            delete thumbThread;
            thumbWorker = nullptr;
            thumbThread = nullptr;
            debugLog("invalidatePresets - done (thd)\n");
            emit thumbnailsFinished();
        });
        thumbThread->start(QThread::InheritPriority);
        return;
    }
    int w = PRESET_PLACEHOLDER_WIDTH, h = PRESET_PLACEHOLDER_HEIGHT;
    if (project && !project->photos.isEmpty() && project->hdrImage.levelCount > 0) {
        w = project->hdrImage.levels[project->hdrImage.levelCount - 1].width;
        h = project->hdrImage.levels[project->hdrImage.levelCount - 1].height;
    }
    for (presetItem *item : presetList)
        item->setThumbnail(nullptr, w, h);
    update();
    debugLog("invalidatePresets - done (not thd), %dx%d\n", w, h);
}
