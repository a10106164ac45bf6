#pragma once
// Work items 0 .. count-1 shared by up to two threads, interleaved so that
// neighbouring items (of similar cost) go to different threads. f(i, worker)
// must touch only item i's results and worker's own work space.
#include <system_error>
#include <thread>

template <class F>
void run_items(int count, int threads, F&& f) {
    if (threads < 2 || count < 2) {
        for (int i = 0; i < count; ++i) f(i, 0);
        return;
    }
    std::thread helper;
    try {
        helper = std::thread([&] {
            for (int i = 1; i < count; i += 2) f(i, 1);
        });
    } catch (const std::system_error&) {
        // No second thread to be had: the same items, one after the other.
        for (int i = 1; i < count; i += 2) f(i, 1);
    }
    for (int i = 0; i < count; i += 2) f(i, 0);
    if (helper.joinable()) helper.join();
}
