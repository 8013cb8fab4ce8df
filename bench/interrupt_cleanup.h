// What a run must undo when SIGINT, SIGTERM or SIGHUP ends it: named temporary files to remove and
// a progress line to erase. The handler does only that, then lets the signal end the process as it
// would have (the shell still sees "killed by SIGINT").
#pragma once

#include <functional>
#include <string>

// Removes `path` if a signal ends the process before unregisterTemporary(slot). Returns the slot,
// or -1 when every slot is taken (the file is then simply not removed). Installs the handler on
// first use; a signal the process ignores stays ignored.
int registerTemporary(const std::string& path);
void unregisterTemporary(int slot);

// While set, the handler erases the current line of standard error before the process ends.
void setProgressLineShown(bool shown);

// Runs `step` with SIGINT, SIGTERM and SIGHUP deferred, whichever thread they reach, so that a
// step that must not be cut in two (create the temporary, register it) runs whole; a signal that
// came meanwhile takes effect at the end. Not nested.
void runWithInterruptsDeferred(const std::function<void()>& step);
