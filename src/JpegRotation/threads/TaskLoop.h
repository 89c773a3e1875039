// Independent tasks shared by threads of the pool and the caller: each
// thread takes the next task not taken, in order, until none is left. The
// caller's thread hears after each task it finishes, and once more when all
// are done, so that it can report progress; the callbacks of a pass stay on
// its thread, and what they report does not depend on which thread took which
// task.
#pragma once

#include <atomic>
#include <cstddef>
#include <exception>
#include <mutex>
#include <system_error>
#include <vector>

#include "JpegRotation/threads/WorkerPool.h"

namespace plume {

// Runs task(i) for every i below count on up to `threads` threads, this one
// included; afterEach() runs on this thread after each task it ran, and
// after every thread has stopped. A task that throws ends the loop: the first
// exception is thrown here once every thread has stopped.
template <class TTask, class TAfterEach>
void RunTasks(std::size_t count, int threads, TTask&& task, TAfterEach&& afterEach) {
    std::atomic<std::size_t> next{0};
    std::mutex mutex;
    std::exception_ptr failure;
    const auto take = [&](bool caller) {
        try {
            for (std::size_t i; (i = next.fetch_add(1)) < count;) {
                task(i);
                if (caller) afterEach();
            }
        } catch (...) {
            next = count;
            const std::lock_guard lock(mutex);
            if (!failure) failure = std::current_exception();
        }
    };
    std::vector<TWorkerPool::TTicket> helpers;
    helpers.reserve(threads > 1 ? static_cast<std::size_t>(threads) : 1);
    for (int t = 1; t < threads && static_cast<std::size_t>(t) < count; ++t) {
        try {
            helpers.push_back(TWorkerPool::Shared().Run([&take] { take(false); }));
        } catch (const std::system_error&) {
            break;  // fewer threads: the ones there take the rest
        }
    }
    take(true);
    for (TWorkerPool::TTicket& helper : helpers) helper.Wait();
    if (failure) std::rethrow_exception(failure);
    afterEach();
}

}  // namespace plume
