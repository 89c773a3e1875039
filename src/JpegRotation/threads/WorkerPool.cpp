#include "JpegRotation/threads/WorkerPool.h"

#include <system_error>
#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace plume {
namespace {

// Prepare's call to an idle thread: watch for a task again.
constexpr int kWake = 3;

std::int64_t Now() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::int64_t AwakeDeadline(std::chrono::microseconds awake = TWorkerPool::kStayAwake) {
    return Now() + std::chrono::duration_cast<std::chrono::nanoseconds>(awake).count();
}

void Pause() {
#if defined(__x86_64__) || defined(__i386__)
    _mm_pause();
#else
    std::this_thread::yield();
#endif
}

// Watches `value` until it is no longer `unwanted`, busily until the
// deadline (steady clock, nanoseconds; it may be moved meanwhile) and then
// asleep. Returns the value seen.
template <class T>
T WatchWhile(const std::atomic<T>& value, T unwanted, const std::atomic<std::int64_t>& deadline) {
    for (unsigned spins = 0;; ++spins) {
        const T seen = value.load(std::memory_order_acquire);
        if (seen != unwanted) return seen;
        if ((spins & 63) == 63 && Now() >= deadline.load(std::memory_order_relaxed)) break;
        Pause();
    }
    value.wait(unwanted, std::memory_order_acquire);
    return value.load(std::memory_order_acquire);
}

}  // namespace

TWorkerPool& TWorkerPool::Shared() {
    static TWorkerPool pool;
    return pool;
}

TWorkerPool::~TWorkerPool() {
    for (auto& worker : workers_) {
        {
            const std::lock_guard lock(mutex_);
            worker->state.store(TWorker::kStop, std::memory_order_release);
        }
        worker->state.notify_one();
        worker->thread.join();
    }
}

void TWorkerPool::TTicket::Wait() {
    if (!done_) return;
    const std::atomic<std::int64_t> deadline{AwakeDeadline()};
    while (!WatchWhile(*done_, false, deadline)) {
    }
    done_.reset();
}

TWorkerPool::TWorker& TWorkerPool::Start() {
    auto worker = std::make_unique<TWorker>();
    worker->awakeUntil.store(AwakeDeadline(), std::memory_order_relaxed);
    TWorker& started = *worker;
    worker->thread = std::thread([this, &started] { Loop(started); });
    workers_.push_back(std::move(worker));
    return started;
}

void TWorkerPool::Prepare(int count, std::chrono::microseconds awake) {
    const std::lock_guard lock(mutex_);
    try {
        while (static_cast<int>(workers_.size()) < count) Start();
    } catch (const std::system_error&) {
        // Fewer threads: Run says so when one is wanted.
    }
    const std::int64_t deadline = AwakeDeadline(awake);
    for (auto& worker : workers_) {
        if (worker->taken) continue;
        worker->awakeUntil.store(deadline, std::memory_order_relaxed);
        int idle = TWorker::kIdle;
        if (worker->state.compare_exchange_strong(idle, kWake, std::memory_order_acq_rel))
            worker->state.notify_one();
    }
}

TWorkerPool::TTicket TWorkerPool::Run(std::function<void()> task) {
    auto done = std::make_shared<std::atomic<bool>>(false);
    const std::lock_guard lock(mutex_);
    TWorker* chosen = nullptr;
    for (auto& worker : workers_)
        if (!worker->taken) {
            chosen = worker.get();
            break;
        }
    if (chosen == nullptr) chosen = &Start();  // may throw std::system_error
    chosen->taken = true;
    chosen->task = std::move(task);
    chosen->done = done;
    chosen->state.store(TWorker::kTask, std::memory_order_release);
    chosen->state.notify_one();
    return TTicket(std::move(done));
}

void TWorkerPool::Rest() {
    const std::lock_guard lock(mutex_);
    for (auto& worker : workers_)
        if (!worker->taken) worker->awakeUntil.store(0, std::memory_order_relaxed);
}

int TWorkerPool::Size() const {
    const std::lock_guard lock(mutex_);
    return static_cast<int>(workers_.size());
}

void TWorkerPool::Loop(TWorker& worker) {
    for (;;) {
        int state = WatchWhile(worker.state, int{TWorker::kIdle}, worker.awakeUntil);
        if (state == TWorker::kStop) return;
        if (state == kWake) {
            // Back to watching, from the deadline Prepare set; a task or a
            // stop given meanwhile stays.
            worker.state.compare_exchange_strong(state, TWorker::kIdle, std::memory_order_acq_rel);
            continue;
        }
        std::function<void()> task = std::move(worker.task);
        std::shared_ptr<std::atomic<bool>> done = std::move(worker.done);
        task();
        worker.awakeUntil.store(AwakeDeadline(), std::memory_order_relaxed);
        {
            const std::lock_guard lock(mutex_);
            worker.taken = false;
            // A stop given meanwhile stays.
            int given = TWorker::kTask;
            worker.state.compare_exchange_strong(given, TWorker::kIdle, std::memory_order_acq_rel);
        }
        done->store(true, std::memory_order_release);
        done->notify_all();
    }
}

}  // namespace plume
