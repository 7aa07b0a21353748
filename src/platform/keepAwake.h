#ifndef KEEPAWAKE_H
#define KEEPAWAKE_H

// Keeping the computer awake while a batch runs. The Linux stand-in only
// logs the request: the desktop's own power settings stay in charge.

// Asks to keep the system awake (true) or lets it sleep again (false).
void keepSystemAwake(bool on);

#endif // KEEPAWAKE_H
