// What a run must undo when SIGINT, SIGTERM or SIGHUP ends it: named temporary files to remove and
// a progress line to erase. The handler does only that, then lets the signal end the process as it
// would have (the shell still sees "killed by SIGINT").
#pragma once

#include <string>

// Makes a file from the mkstemp template *path (its Xs replaced in place) that is removed if a
// signal ends the process before unregisterTemporary(*slot). SIGINT, SIGTERM and SIGHUP wait
// meanwhile, whichever thread they reach, so that no file is made without its registration.
// Returns the descriptor, or -1 with errno set; *slot is -1 when every slot is taken (the file is
// then simply not removed). Installs the handler on first use; a signal the process ignores stays
// ignored.
int createTemporary(std::string* path, int* slot);
void unregisterTemporary(int slot);

// While set, the handler erases the current line of standard error before the process ends.
void setProgressLineShown(bool shown);
