#include "parallel.h"

#include <algorithm>
#include <system_error>

int worker_count(int requested) {
    const int cores = std::max(1, int(std::thread::hardware_concurrency()));
    return requested > 0 ? std::min(requested, cores) : cores;
}

worker_pool::worker_pool(int workers) : size_(std::max(workers, 1)) {}

worker_pool::~worker_pool() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    for (std::thread& t : helpers_) t.join();
}

void worker_pool::take_items(int worker) {
    for (int i; (i = next_.fetch_add(1, std::memory_order_relaxed)) < count_;)
        call_(fn_, i, worker);
}

void worker_pool::help(int worker, unsigned seen) {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait(lock, [&] { return stop_ || batch_ != seen; });
        if (stop_) return;
        seen = batch_;
        if (worker >= active_) continue;  // a batch of fewer items
        lock.unlock();
        take_items(worker);
        lock.lock();
        if (--busy_ == 0) done_.notify_one();
    }
}

void worker_pool::run(int count, item_fn call, void* fn) {
    int active = std::min(size_, count);
    // Helpers are started as a batch first needs them; a batch that finds no more to be had
    // runs on those there are.
    while (int(helpers_.size()) < active - 1) {
        try {
            helpers_.emplace_back(&worker_pool::help, this, int(helpers_.size()) + 1, batch_);
        } catch (const std::system_error&) {
            break;
        }
    }
    active = std::min(active, int(helpers_.size()) + 1);
    if (active < 2) {
        for (int i = 0; i < count; ++i) call(fn, i, 0);
        return;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        call_ = call, fn_ = fn, count_ = count, active_ = active, busy_ = active - 1;
        next_.store(0, std::memory_order_relaxed);
        ++batch_;
    }
    wake_.notify_all();
    take_items(0);
    std::unique_lock<std::mutex> lock(mutex_);
    done_.wait(lock, [&] { return busy_ == 0; });
}
