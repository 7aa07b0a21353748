#include "app/programOptionsSettings.h"

programOptionsSettings *optionsInstance = nullptr;

programOptionsSettings::programOptionsSettings() {}
void programOptionsSettings::readSettings(bool) {}
void programOptionsSettings::writeSettings() {}
void programOptionsSettings::validate() {}
double programOptionsSettings::uiScale() const { return 1.0; }
void resetAllSettings() {}
