#include "app/utils.h"

#include "app/programOptionsSettings.h"

#include <QThread>
#include <algorithm>

int idealThreadCount(bool batch)
{
    int n = std::min(std::max(QThread::idealThreadCount(), 1), 64);
    if (optionsInstance) {
        const int limit = batch ? optionsInstance->performance.coreCountBatch
                                : optionsInstance->performance.coreCount;
        if (limit >= 1)
            n = std::min(n, limit);
    }
    return n;
}
