// The signal handler and its fixed, lock-free storage of what it must remove or erase.
#include "interrupt_cleanup.h"

#include <atomic>
#include <climits>
#include <csignal>
#include <cstring>
#include <mutex>

#include <unistd.h>

namespace {

constexpr int SLOTS = 8;  // the tool has at most two outputs
constexpr int SIGNALS[] = {SIGINT, SIGTERM, SIGHUP};

// Fixed storage and lock-free atomics: the handler may only read plain memory and call
// async-signal-safe functions.
char paths[SLOTS][PATH_MAX];
std::atomic<bool> inUse[SLOTS];
std::atomic<bool> progressShown{false};
std::atomic<bool> deferring{false};
std::atomic<int> pending{0};
std::once_flag installed;

// Cleans up and ends the process by `sig` with its default action.
void die(int sig) {
    for (int k = 0; k < SLOTS; k++) {
        if (inUse[k].load()) ::unlink(paths[k]);
    }
    if (progressShown.load()) {
        static const char erase[] = "\r\033[K";
        (void)!::write(STDERR_FILENO, erase, sizeof erase - 1);
    }
    ::signal(sig, SIG_DFL);
    // Inside the handler the signal is blocked and arrives when it returns; elsewhere at once.
    ::raise(sig);
}

void onSignal(int sig) {
    // Recorded before `deferring` is read: the section's end reads them in the other order, so
    // one of the two sees the signal.
    pending.store(sig);
    if (!deferring.load()) die(sig);
}

void install() {
    for (int sig : SIGNALS) {
        struct sigaction old;
        if (::sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) continue;
        struct sigaction sa {};
        sa.sa_handler = onSignal;
        sigemptyset(&sa.sa_mask);
        for (int other : SIGNALS) sigaddset(&sa.sa_mask, other);
        sa.sa_flags = SA_RESTART;
        ::sigaction(sig, &sa, nullptr);
    }
}

// The slot now holding `path`, or -1.
int registerTemporary(const std::string& path) {
    if (path.size() >= PATH_MAX) return -1;
    for (int k = 0; k < SLOTS; k++) {
        if (!inUse[k].load()) {
            std::memcpy(paths[k], path.c_str(), path.size() + 1);
            inUse[k].store(true);  // only now may the handler read the slot
            return k;
        }
    }
    return -1;
}

}  // namespace

int createTemporary(std::string* path, int* slot) {
    std::call_once(installed, install);
    deferring.store(true);
    const int fd = ::mkstemp(path->data());
    *slot = fd >= 0 ? registerTemporary(*path) : -1;
    deferring.store(false);
    if (const int sig = pending.load()) die(sig);
    return fd;
}

void unregisterTemporary(int slot) {
    if (slot >= 0 && slot < SLOTS) inUse[slot].store(false);
}

void setProgressLineShown(bool shown) {
    std::call_once(installed, install);
    progressShown.store(shown);
}
