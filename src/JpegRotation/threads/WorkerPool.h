// Threads kept for the engine's parallel passes, shared by every engine in
// the process.
//
// Starting a thread, or waking one that sleeps, can cost milliseconds on a
// virtual machine whose other processor is halted: more than a pass of a
// camera photo's index takes. So the threads are made once, and a thread
// that has just finished a task keeps watching for the next one for a short
// while (kStayAwake) before it sleeps, and one that Prepare() woke for as
// long as it was told; a caller waiting for a task watches for kStayAwake
// before it sleeps. Only the
// parallel passes of one large file use the pool, so the watching costs a
// few milliseconds of processor time at most per file.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace plume {

class TWorkerPool {
  public:
    static constexpr std::chrono::microseconds kStayAwake{2000};

    // The pool of the process; its threads end when the program does.
    static TWorkerPool& Shared();

    TWorkerPool() = default;
    ~TWorkerPool();
    TWorkerPool(const TWorkerPool&) = delete;
    TWorkerPool& operator=(const TWorkerPool&) = delete;

    // One task given to Run: Wait() returns once it has run (at once for a
    // ticket that holds no task).
    class TTicket {
      public:
        TTicket() = default;
        void Wait();

      private:
        friend class TWorkerPool;
        explicit TTicket(std::shared_ptr<std::atomic<bool>> done) : done_(std::move(done)) {}
        std::shared_ptr<std::atomic<bool>> done_;
    };

    // Makes sure `count` threads are there, and wakes the idle ones for
    // tasks that are about to come, within `awake`. Threads that cannot be
    // started are left out without an error: Run reports it.
    void Prepare(int count, std::chrono::microseconds awake = kStayAwake);
    // Runs `task` on an idle thread, or on a new one when none is idle.
    // Throws std::system_error when no thread can be started. The task must
    // not throw.
    TTicket Run(std::function<void()> task);
    // Lets the idle threads sleep now: no task is due soon.
    void Rest();
    // Threads made so far, for the tests.
    int Size() const;

  private:
    struct TWorker {
        enum : int { kIdle, kTask, kStop };
        std::atomic<int> state{kIdle};
        std::atomic<std::int64_t> awakeUntil{0};  // steady clock, nanoseconds
        std::function<void()> task;
        std::shared_ptr<std::atomic<bool>> done;
        bool taken = false;  // a task was given and has not finished (under mutex_)
        std::thread thread;
    };
    void Loop(TWorker& worker);
    TWorker& Start();  // under mutex_

    mutable std::mutex mutex_;
    std::vector<std::unique_ptr<TWorker>> workers_;
};

}  // namespace plume
