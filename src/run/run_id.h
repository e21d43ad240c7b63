// run_id.h - the identity of a run: a random UUID (version 4) made when
// the run starts. A run's files keep it wherever they are copied (the
// station, its archive, a results database), so a run counts once.
#ifndef ZORVANTIK_RUN_ID_H
#define ZORVANTIK_RUN_ID_H

#include <string>

// "xxxxxxxx-xxxx-4xxx-Yxxx-xxxxxxxxxxxx", lowercase hex, Y one of 8 9 a b.
std::string makeRunId();

// True when text has that shape (any version nibble, any variant).
bool isRunId(const std::string &text);

#endif // ZORVANTIK_RUN_ID_H
