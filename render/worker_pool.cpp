// The workers start on first use and are added to when a call asks for more; a call that asks for
// fewer leaves the rest asleep. They are never joined: asleep, they end with the process.
#include "worker_pool.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

namespace {

struct Pool {
    std::mutex callTurn;  // one call at a time
    std::mutex m;
    std::condition_variable wake;  // a new call
    std::condition_variable done;  // the last worker of a call has finished
    int workers = 0;
    const std::function<void(int)>* body = nullptr;
    int units = 0;
    std::atomic<int> next{0};
    unsigned long call = 0;  // counts calls, so that a worker takes part in each once
    int taking = 0;          // workers 0 to taking - 1 take part in this call
    int busy = 0;            // of those, the ones not yet finished
};

// Never destroyed, so that no exit handler waits for a worker or frees what one is waiting on.
Pool& pool() {
    static Pool* p = new Pool;
    return *p;
}

void takeUnits(Pool& p) {
    for (int u = p.next.fetch_add(1); u < p.units; u = p.next.fetch_add(1)) (*p.body)(u);
}

void work(Pool& p, int index) {
    unsigned long seen = 0;
    std::unique_lock<std::mutex> lock(p.m);
    for (;;) {
        p.wake.wait(lock, [&] { return p.call != seen && index < p.taking; });
        seen = p.call;
        lock.unlock();
        takeUnits(p);
        lock.lock();
        if (--p.busy == 0) p.done.notify_one();
    }
}

}  // namespace

void runOnWorkers(int threads, int units, const std::function<void(int)>& body) {
    if (threads <= 1 || units <= 1) {
        for (int u = 0; u < units; u++) body(u);
        return;
    }
    Pool& p = pool();
    std::lock_guard<std::mutex> turn(p.callTurn);
    std::unique_lock<std::mutex> lock(p.m);
    // A worker the system will not start leaves its share to the others.
    try {
        for (; p.workers < threads - 1; p.workers++) {
            std::thread(work, std::ref(p), p.workers).detach();
        }
    } catch (const std::system_error&) {
    }
    const int helpers = std::min(threads - 1, p.workers);
    p.body = &body;
    p.units = units;
    p.next = 0;
    p.taking = helpers;
    p.busy = helpers;
    p.call++;
    lock.unlock();
    p.wake.notify_all();
    takeUnits(p);
    lock.lock();
    p.done.wait(lock, [&] { return p.busy == 0; });
}
