#pragma once
// Independent work items spread over threads. Items 0 .. count-1 go to `workers` threads (the
// caller's among them), each taking the next item not yet taken, so a slow thread holds up no
// other. f(i, worker) must touch only item i's results and the work space of `worker`
// (0 .. workers-1); then which thread runs which item changes no result.
#include <algorithm>
#include <atomic>
#include <system_error>
#include <thread>
#include <vector>

// `requested` workers, or one per core when that is 0.
inline int worker_count(int requested) {
    return requested > 0 ? requested : std::max(1, int(std::thread::hardware_concurrency()));
}

// Typical use: run_items(n, workers, [&](int i, int worker) { result[i] = f(i, work[worker]); });
template <class F>
void run_items(int count, int workers, F&& f) {
    workers = std::min(workers, count);
    if (workers < 2) {
        for (int i = 0; i < count; ++i) f(i, 0);
        return;
    }
    std::atomic<int> next{0};
    auto work = [&](int worker) {
        for (int i; (i = next.fetch_add(1, std::memory_order_relaxed)) < count;) f(i, worker);
    };
    std::vector<std::thread> helpers;
    helpers.reserve(std::size_t(workers - 1));
    for (int w = 1; w < workers; ++w) {
        try {
            helpers.emplace_back(work, w);
        } catch (const std::system_error&) {
            break;  // no more threads to be had: the others take the items
        }
    }
    work(0);
    for (std::thread& t : helpers) t.join();
}
