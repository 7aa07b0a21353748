// A worker that reads the settings record on its own thread: the settings-read
// check must report both reads.
bool fixtureWorkerFlag() { return optionsInstance->misc.saveInputsInProject; }
int fixtureWorkerCount() { return optionsInstance ? 1 : 0; }
