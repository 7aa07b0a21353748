#include "app/sharedFlags.h"

std::atomic<bool> breakFlag{false};
std::atomic<bool> hdrBreakFlag{false};
std::atomic<bool> abortBackgroundFlag{false};
std::atomic<bool> toneMappingRunning{false};
std::atomic<bool> imageBusyFlag{false};
std::atomic<uint64_t> progressCounter{0};
QMutex toneMappingMutex;
