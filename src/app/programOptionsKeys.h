#ifndef PROGRAMOPTIONSKEYS_H
#define PROGRAMOPTIONSKEYS_H

// The one table of stored settings: each key with its field, type, default,
// valid range and whether it is written. readSettings, validate and
// writeSettings are driven by it, and the tests iterate over it.

#include <QString>
#include <QVariant>
#include <QVector>
#include <vector>

class programOptionsSettings;

struct settingsKey_t {
    enum valueType_t { Bool, Int, Double, String };

    const char *key;                  // "Group/Key" in the settings store
    valueType_t type;
    void *(*field)(programOptionsSettings &); // address of the field, of type `type`
    QVariant (*defaultValue)(const programOptionsSettings &);
    bool allOnly;                     // read only by readSettings(true)
    bool written;                     // stored by writeSettings

    // Range of an Int key: a value outside lo..hi (or not in `allowed` when
    // that is not empty) becomes `replacement`. RANGE_IDEAL_THREADS as hi or
    // replacement stands for the record's idealThreads.
    bool ranged = false;
    int lo = 0;
    int hi = 0;
    int replacement = 0;
    QVector<int> allowed;

    static const int RANGE_IDEAL_THREADS = -1000;

    // Range and replacement resolved for one record.
    int resolvedHi(const programOptionsSettings &o) const;
    int resolvedReplacement(const programOptionsSettings &o) const;
    bool inRange(const programOptionsSettings &o, int value) const;

    QVariant get(programOptionsSettings &o) const;
    void set(programOptionsSettings &o, const QVariant &value) const;
};

// Every key in reading order (the common keys first, then the keys read only
// at construction). "CurrentVersion", the legacy "SavingResult/Suffix" and
// "SavingResult/AddPresetNameSuffix" are handled apart and are not listed.
const std::vector<settingsKey_t> &programOptionsKeys();

// The entry of one key, or nullptr.
const settingsKey_t *findProgramOptionsKey(const QString &key);

#endif // PROGRAMOPTIONSKEYS_H
