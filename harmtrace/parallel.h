#pragma once
// Independent work items spread over threads. The threads are started once, by the first batch
// that needs them, and then take every batch of the run; a pool starts no more of them than its
// size or a batch's items. Items 0 .. count-1 go to the workers (the caller's thread among them),
// each taking the next item not yet taken, so a slow thread holds up no other. f(i, worker) must
// touch only item i's results and the work space of `worker` (0 .. size()-1); then which thread
// runs which item changes no result.
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

// `requested` threads, or one per core when that is 0; never more than there are cores.
int worker_count(int requested);

class worker_pool {
  public:
    // Typical use: worker_pool pool(worker_count(opt.threads));
    explicit worker_pool(int workers);
    worker_pool(const worker_pool&) = delete;
    worker_pool& operator=(const worker_pool&) = delete;
    ~worker_pool();

    int size() const { return size_; }

    // Runs f(i, worker) for i = 0 .. count-1 and returns when all are done.
    // Typical use: pool.run_items(n, [&](int i, int worker) { result[i] = f(i, work[worker]); });
    template <class F>
    void run_items(int count, F&& f) {
        run(
            count, [](void* fn, int i, int worker) { (*static_cast<F*>(fn))(i, worker); }, &f);
    }

  private:
    using item_fn = void (*)(void* fn, int i, int worker);
    void run(int count, item_fn call, void* fn);
    void take_items(int worker);
    void help(int worker, unsigned seen);

    int size_;
    std::vector<std::thread> helpers_;  // workers 1 .. helpers_.size()
    std::mutex mutex_;
    std::condition_variable wake_, done_;
    unsigned batch_ = 0;  // counts the batches handed out
    bool stop_ = false;
    // The batch being run.
    item_fn call_ = nullptr;
    void* fn_ = nullptr;
    int count_ = 0;
    int active_ = 0;  // workers that take part
    int busy_ = 0;    // helpers among them not yet done
    std::atomic<int> next_{0};
};
